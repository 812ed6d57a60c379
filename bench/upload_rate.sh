#!/usr/bin/env bash
# Upload rate and CPU use of the real program against the simulated device, throttled to
# 19200 and to 115200 baud, with a 256 KiB image. Prints, per rate, the upload's wall time,
# the programming phase against its line-rate limit (the bytes the host put on the wire
# while programming, at ten bits a character) and the program's CPU time against the wall
# time. A benchmark: it prints figures and fails only when the upload itself fails.
#
#   bench/upload_rate.sh BUILD_DIR [RATE...]
set -uo pipefail
source "$(dirname "$0")/../tests/system/lib/upload_run.sh"
upload_init "${1:?build folder}" || exit 1
shift
rates=("$@")
[ "${#rates[@]}" -gt 0 ] || rates=(19200 115200)
upload_image union 0x40000 11 || exit 1

# Where the rest of a record cycle goes: from the loader's acknowledgement of a record to the
# host's lead byte of the next (the loader's programming time, its second OK and the host's
# turnaround), averaged over the records.
turnaround() {
    awk '
        $2 == "device<" && $3 == "55" { answered = $1 + 0; next }
        $2 == "host" && $4 == "55" && NF == 5 && answered > 0 { sum += $1 - answered; n++ }
        { answered = 0 }
        END { if (n) printf "%.1f %d\n", 1000 * sum / n, n }' "$UPLOAD_WORK/transcript"
}

status=0
for rate in "${rates[@]}"; do
    upload_run 900 --rate "$rate" || exit 1
    if [ "$RUN_OUTCOME" != complete ] || ! upload_flash_check >/dev/null; then
        echo "$rate baud: the upload did not complete ($RUN_OUTCOME)"
        status=1
        continue
    fi
    read -r seconds bytes <<<"$(upload_programming_window)"
    read -r turn records <<<"$(turnaround)"
    awk -v rate="$rate" -v wall="$RUN_WALL" -v cpu="$RUN_CPU" -v s="$seconds" -v b="$bytes" \
        -v turn="$turn" -v records="$records" \
        -v total="$(grep -o 'received [0-9]*' "$UPLOAD_WORK/sim.err" | awk '{ print $2 }')" '
        BEGIN {
            cps = rate / 10
            printf "%6d baud: upload %.1f s for %d bytes from the host (line limit %.1f s)\n",
                rate, wall, total, total / cps
            printf "             programming %.1f s for %d bytes (line limit %.1f s): %.1f%% of the line rate\n",
                s, b, b / cps, 100 * (b / cps) / s
            printf "             acknowledgement to next record: %.1f ms (%d records)\n", turn, records
            printf "             CPU %.2f s = %.2f%% of the wall time\n", cpu, 100 * cpu / wall
        }'
done
exit $status
