#!/usr/bin/env bash
# The ways a device really meets the program, side by side: present at the start or plugged in
# after it, re-appearing as its loader after 0.1 to 8 s; another device coming and going before
# the greeting, between the greeting and the re-appearance, and during the upload; an upload
# fast enough to end between two ticks; a device already running its loader. Every run ends
# with "Uploading Complete.", exit status 0 and the flash holding the image. The runs share the
# machine's pseudo-terminals, so each also sees the others' devices come and go.
set -uo pipefail
source "$(dirname "$0")/lib/upload_run.sh"
build="${1:?build folder}"
upload_init "$build" || exit 1
results="$UPLOAD_WORK/results"
mkdir -p "$results"

# name | attach after (s, empty: present at start) | simulator switches | disturbance
cases=(
    "present, back after 0.1 s||--reappear-ms 100|"
    "present, back after 0.7 s||--reappear-ms 700|"
    "present, back after 1.5 s||--reappear-ms 1500|"
    "present, back after 3 s||--reappear-ms 3000|"
    "present, back after 8 s||--reappear-ms 8000|"
    "attached, back after 0.1 s|1.5|--reappear-ms 100|"
    "attached, back after 0.7 s|1.5|--reappear-ms 700|"
    "attached, back after 1.5 s|1.5|--reappear-ms 1500|"
    "attached, back after 3 s|1.5|--reappear-ms 3000|"
    "attached, back after 8 s|1.5|--reappear-ms 8000|"
    "another device before the greeting|2|--reappear-ms 700|before"
    "another device while it re-appears||--reappear-ms 4000|between"
    "another device during the upload||--reappear-ms 700|during"
    "fast upload, no line throttle||--reappear-ms 300 --rate off --erase-ms 1 --program-ms 0|"
    "device already in its loader||--start-loader|"
)

run_case() {
    local index="$1" name="$2" attach="$3" switches="$4" disturb="$5"
    # Each run has a folder, a port and a device of its own.
    upload_init "$build" || return 1
    # A fast upload is one that can end between two of the program's ticks.
    if [[ "$switches" == *"--rate off"* ]]; then
        upload_image srec 0x1000 "$((index + 3))" || return 1
    else
        upload_image union 0x6000 "$((index + 3))" || return 1
    fi
    local rate="--rate 115200"
    [[ "$switches" == *"--rate"* ]] && rate=""
    if [[ "$switches" == *"--start-loader"* ]]; then
        switches="${switches/--start-loader/}"
        export UPLOAD_SIM_START=loader
    fi
    export UPLOAD_ATTACH_S="$attach"
    case "$disturb" in
        before) ( sleep 0.5; upload_disturb; sleep 0.5; upload_disturb ) & ;;
        between) ( sleep 2.3; upload_disturb; sleep 0.5; upload_disturb ) & ;;
        during) export UPLOAD_ON_PROGRAM=upload_disturb ;;
    esac
    # shellcheck disable=SC2086
    upload_run 60 $rate $switches || return 1
    local flash=differs clean=no
    upload_flash_check >/dev/null && flash=equal
    if [ "${UPLOAD_SIM_START:-}" = loader ]; then
        # Greeted before it could be known to run its loader, the loader sees the greeting's
        # text: that and nothing else.
        ! grep "violation:" "$UPLOAD_WORK/sim.err" | grep -qv "before the connect sequence" &&
            grep -q "unerased programs 0;" "$UPLOAD_WORK/sim.err" && clean=yes
    else
        upload_sim_clean && clean=yes
    fi
    printf '%s|%s|%s|%s|%s|%s\n' "$name" "$RUN_OUTCOME" "$RUN_RC" "$RUN_WALL" "$flash" "$clean" \
        >"$results/$index"
    if [ "$RUN_OUTCOME" != complete ] || [ "$RUN_RC" != 0 ] || [ "$flash" != equal ] ||
        [ "$clean" != yes ]; then
        {
            echo "--- $name"
            sed 's/^/  update: /' "$UPLOAD_WORK/update.out"
            sed 's/^/  sim: /' "$UPLOAD_WORK/sim.err" | tail -n 6
        } >"$results/$index.detail"
    fi
}

# CASES=REGEX runs only the cases whose names match.
selected=()
for i in "${!cases[@]}"; do
    [[ "${cases[$i]%%|*}" =~ ${CASES:-.} ]] && selected+=("$i")
done
pids=()
for i in "${selected[@]}"; do
    IFS='|' read -r name attach switches disturb <<<"${cases[$i]}"
    ( run_case "$i" "$name" "$attach" "$switches" "$disturb" ) &
    pids+=($!)
    sleep 0.2
done
for pid in "${pids[@]}"; do
    wait "$pid"
done

failures=0
printf '%-40s %-10s %4s %7s  %-7s %s\n' case outcome exit wall flash clean
for i in "${selected[@]}"; do
    IFS='|' read -r name _ <<<"${cases[$i]}"
    if [ ! -f "$results/$i" ]; then
        echo "FAIL: $name: the run did not report" >&2
        failures=$((failures + 1))
        continue
    fi
    IFS='|' read -r name outcome rc wall flash clean <"$results/$i"
    printf '%-40s %-10s %4s %6ss  %-7s %s\n' "$name" "$outcome" "$rc" "$wall" "$flash" "$clean"
    if [ -f "$results/$i.detail" ]; then
        cat "$results/$i.detail" >&2
        failures=$((failures + 1))
    fi
done
[ "$failures" = 0 ] && echo "device flows passed"
exit $((failures != 0))
