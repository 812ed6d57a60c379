#!/usr/bin/env bash
# A production line's figures: COUNT programs (default 8) side by side, one a simulated
# device throttled to RATE baud (default 115200), each with a 256 KiB image, started 0.4 s
# apart. Prints each one's programming rate against its line-rate limit and the programs'
# total CPU time. A benchmark: it prints figures and fails only when an upload fails.
#
#   bench/several_devices.sh BUILD_DIR [COUNT] [RATE]
set -uo pipefail
source "$(dirname "$0")/../tests/system/lib/upload_run.sh"
upload_init "${1:?build folder}" || exit 1
count="${2:-8}"
rate="${3:-115200}"
results="$UPLOAD_WORK/results"

start="$(upload_now)"
upload_side_by_side "$count" 0.4 0x40000 "$results" --rate "$rate"
wall="$(upload_since "$start")"

status=0
printf '%-7s %-9s %7s %13s %8s %7s\n' device outcome wall programming "of line" CPU
total_cpu=0
for n in $(seq "$count"); do
    IFS='|' read -r outcome rc run_wall cpu flash _ seconds bytes <"$results/$n" ||
        { echo "device $n: no result"; status=1; continue; }
    [ "$outcome" = complete ] && [ "$flash" = equal ] || status=1
    awk -v n="$n" -v o="$outcome" -v w="$run_wall" -v s="$seconds" -v b="$bytes" -v c="$cpu" \
        -v rate="$rate" 'BEGIN {
            share = s > 0 ? 100 * (b / (rate / 10)) / s : 0
            printf "%-7d %-9s %6.1fs %6.1fs %5dK %7.1f%% %6.2fs\n", n, o, w, s, b / 1024, share, c
        }'
    total_cpu="$(awk -v a="$total_cpu" -v b="$cpu" 'BEGIN { print a + b }')"
done
awk -v c="$total_cpu" -v w="$wall" -v n="$count" 'BEGIN {
    printf "%d programs in %.1f s: CPU %.2f s in all, %.2f%% of one core\n", n, w, c, 100 * c / w
}'
exit $status
