#!/usr/bin/env bash
# A recovery's time against the line: the real program recovers the simulated device through
# primary flash loader A and through the mask-ROM monitor (both run at 19200 baud, the only
# speed these connections have), with a 256 KiB main firmware and the image's own 2 KiB flash
# loader. The simulator follows the speed the host sets. Prints, per connection, the loader
# stage (from the connection's answer to the loader loaded) and the whole recovery, each
# against the line's limit: the host's bytes at ten bits a character. A benchmark: it prints
# figures and fails only when a recovery itself fails.
#
#   bench/recovery_rate.sh BUILD_DIR [SIZE]
set -uo pipefail
source "$(dirname "$0")/../tests/system/lib/upload_run.sh"
upload_init "${1:?build folder}" || exit 1
size="${2:-0x40000}"
upload_image union "$size" 13 || exit 1
baud=19200

# Seconds in the simulator's transcript from the first line matching $1 to the next one
# matching $2.
stage_seconds() {
    awk -v from="$1" -v to="$2" '
        !started && $0 ~ from { started = 1; first = $1 + 0; next }
        started && $0 ~ to { printf "%.3f\n", $1 - first; exit }' "$UPLOAD_WORK/transcript"
}

status=0
# name | sim's boot mode | target | the loader's bytes on the wire for its 2048 bytes (a
# primary loader: one framed record with its lead byte; the monitor: "P %08X %08X\r" a word) |
# the transcript's lines where the loader stage starts and ends (the record to 0x00201000 and
# its answer; the first "P" and the "G")
for row in "primary flash loader A|pfl --pfl-variant A|4|$((2048 + 10))|5B 04 02 00 20 10 00|device< 55" \
    "mask-ROM monitor|rom|1|$((2048 / 4 * 20))|host  > 50 |host  > 47 "; do
    IFS='|' read -r name mode target loaderWire from to <<<"$row"
    UPLOAD_SIM_START="${mode%% *}"
    read -r -a simOptions <<<"${mode#"$UPLOAD_SIM_START"}"
    UPLOAD_ARGS="/target $target"
    upload_run 1800 "${simOptions[@]}" --rate auto || exit 1
    if [ "$RUN_OUTCOME" != complete ] || ! upload_flash_check >/dev/null; then
        echo "$name: the recovery did not complete ($RUN_OUTCOME)"
        status=1
        continue
    fi
    awk -v name="$name" -v baud="$baud" -v wall="$RUN_WALL" -v lw="$loaderWire" \
        -v ls="$(stage_seconds "$from" "$to")" \
        -v total="$(grep -o 'received [0-9]*' "$UPLOAD_WORK/sim.err" | awk '{ print $2 }')" '
        BEGIN {
            cps = baud / 10
            printf "%s at %d baud:\n", name, baud
            printf "  loader stage %.2f s for %d bytes on the wire (line limit %.2f s): %.0f%% of the line rate\n",
                ls, lw, lw / cps, 100 * (lw / cps) / ls
            printf "  whole recovery %.1f s for %d bytes from the host (line limit %.1f s): %.0f%% of the line rate\n",
                wall, total, total / cps, 100 * (total / cps) / wall
        }'
done
exit $status
