#!/usr/bin/env bash
# The real program against the simulated device with damaged image files: each is refused at
# start-up with exit status 4 and the reason on the output, and the device never hears a byte
# from the host. A union whose tail is fill or a tag has no flash loader: a boot target is told
# so, not that the file is damaged. Files whose odd tail the update never writes are not
# damaged: /check names the tail, the update's log names it alike, and the flash holds the
# written sections.
set -uo pipefail
source "$(dirname "$0")/lib/upload_run.sh"
build="${1:?build folder}"
upload_init "$build" || exit 1
top="$UPLOAD_WORK"

failures=0
for damage in cut-main flipped-main srec-no-end missing no-loader-fill no-loader-tag; do
    UPLOAD_ARGS=""
    UPLOAD_SIM_START=""
    case "$damage" in
        srec-no-end) upload_image srec 0x2000 5 && upload_damage "$damage" ;;
        no-loader-*)
            upload_image union 0x8000 5 "${damage#no-loader-}" &&
                UPLOAD_ARGS="/target 4" && UPLOAD_SIM_START=pfl &&
                UPLOAD_DAMAGE="this image carries no flash loader; target 4 needs one, or /loader FILE"
            ;;
        *) upload_image union 0x8000 5 && upload_damage "$damage" ;;
    esac || exit 1
    upload_run 20 --rate 115200 || exit 1
    echo "$damage: exit status $RUN_RC in ${RUN_WALL}s"
    problem=""
    [ "$RUN_RC" = 4 ] || problem="exit status $RUN_RC, not 4"
    grep -qF "$UPLOAD_DAMAGE" "$UPLOAD_WORK/update.out" ||
        problem="${problem:-the output does not say \"$UPLOAD_DAMAGE\"}"
    upload_host_silent || problem="${problem:-the device heard the host}"
    if [ -n "$problem" ]; then
        echo "FAIL ($damage): $problem" >&2
        sed 's/^/  update: /' "$UPLOAD_WORK/update.out" "$UPLOAD_WORK/update.err" >&2
        sed 's/^/  transcript: /' "$UPLOAD_WORK/transcript" | head -n 5 >&2
        failures=$((failures + 1))
    fi
done
UPLOAD_ARGS=""
UPLOAD_SIM_START=""

# KIND TAIL: a union with TAIL in place of its secondary loader, or the primary loader alone
# with fill past the main section's place.
accepted() {
    upload_init "$build" && upload_image "$1" 0x4000 6 "$2" || return 1
    local work="$UPLOAD_WORK" rc=0
    "$UPDATE_BIN" /file "$UPLOAD_IMAGE" /check >"$work/check.out" 2>&1 || rc=$?
    cat "$work/check.out"
    [ "$rc" = 0 ] || { echo "/check: exit status $rc"; return 1; }
    grep "is not written$" "$work/check.out" >"$work/notes" || { echo "/check names no tail"; return 1; }
    UPLOAD_ARGS="/log $work/update.log" upload_run 60 --rate 115200 || return 1
    echo "update: $RUN_OUTCOME, exit status $RUN_RC in ${RUN_WALL}s"
    [ "$RUN_OUTCOME" = complete ] && [ "$RUN_RC" = 0 ] || { cat "$work/update.out"; return 1; }
    grep -qFf "$work/notes" "$work/update.log" || { echo "the log names no tail"; return 1; }
    # The file is read once for the update, and its report logged once.
    [ "$(grep -c -- "----------- Image Info -----------" "$work/update.log")" = 1 ] ||
        { echo "the image report is not in the log once"; return 1; }
    upload_flash_check && upload_sim_clean
}
results="$top/accepted"
mkdir -p "$results"
tails=("union fill" "union crc" "union tag" "union mixed-fill" "union bad-sfl" "union cut-sfl"
    "loader fill")
for entry in "${tails[@]}"; do
    name="${entry// /-}"
    # shellcheck disable=SC2086
    (accepted $entry >"$results/$name.log" 2>&1 && touch "$results/$name.ok") &
    sleep 0.3
done
wait
for entry in "${tails[@]}"; do
    name="${entry// /-}"
    if [ -f "$results/$name.ok" ]; then
        echo "$entry: accepted, named by /check and the log, written byte for byte"
    else
        echo "FAIL ($entry): not accepted as it should be" >&2
        sed 's/^/  /' "$results/$name.log" >&2
        failures=$((failures + 1))
    fi
done
[ "$failures" = 0 ] && echo "damaged images refused, odd tails accepted"
exit $((failures != 0))
