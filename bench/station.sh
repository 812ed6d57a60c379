#!/usr/bin/env bash
# A station's figures: COUNT simulated devices (default 16) at RATE baud (default 115200), each
# with a 256 KiB image, updated by one ostrevan-station process; then the same devices updated
# by COUNT separate ostrevan-update processes side by side. Prints each device's programming
# rate against its line-rate limit and the CPU time of the station and of the separate
# programs. A benchmark: it prints figures and fails only when an update fails.
#
#   bench/station.sh BUILD_DIR [COUNT] [RATE]
set -uo pipefail
source "$(dirname "$0")/../tests/system/lib/upload_run.sh"
upload_init "${1:?build folder}" || exit 1
count="${2:-16}"
rate="${3:-115200}"
STATION_BIN="$UPLOAD_BUILD/platform/posix/ostrevan-station"
[ -x "$STATION_BIN" ] || { echo "missing program: $STATION_BIN" >&2; exit 1; }
base="$UPLOAD_WORK"
status=0

# "SECONDS BYTES" of the programming in one device's transcript.
programming_window() {
    local saved="$UPLOAD_WORK"
    UPLOAD_WORK="$1"
    upload_programming_window
    UPLOAD_WORK="$saved"
}

# One line a device: its programming rate against the line, and whether its flash is the image.
device_line() {  # label, device folder
    local seconds bytes flash=differs
    read -r seconds bytes <<<"$(programming_window "$2")"
    "$IMAGE_BIN" check --expect "$2/image.union.expect" --dump "$2/flash.bin" >/dev/null &&
        flash=equal
    [ "$flash" = equal ] || status=1
    awk -v n="$1" -v s="${seconds:-0}" -v b="${bytes:-0}" -v f="$flash" -v rate="$rate" 'BEGIN {
        share = s > 0 ? 100 * (b / (rate / 10)) / s : 0
        printf "%-9s %6.1fs %5dK %7.1f%%  flash %s\n", n, s, b / 1024, share, f
    }'
}

# --- one station for every device
sims=()
ports=()
for n in $(seq "$count"); do
    dir="$base/station/$n"
    mkdir -p "$dir"
    UPLOAD_WORK="$dir"
    upload_image union 0x40000 "$((n + 40))" >/dev/null || exit 1
    "$SIM_BIN" --link "$dir/port" --start greeting --rate "$rate" --dump "$dir/flash.bin" \
        --transcript "$dir/transcript" 2>"$dir/sim.err" &
    sims+=($!)
    ports+=("$dir/port")
done
UPLOAD_WORK="$base"
for n in $(seq "$count"); do
    for _ in $(seq 100); do
        [ -L "$base/station/$n/port" ] && break
        sleep 0.05
    done
done
# The images differ only in their seed; the station writes one image to every device, so each
# device's expectation is the first one's.
for n in $(seq 2 "$count"); do
    cp "$base/station/1/image.union.expect" "$base/station/$n/image.union.expect"
done
start="$(upload_now)"
(
    "$STATION_BIN" --report "$base/station.jsonl" "$base/station/1/image.union" "${ports[@]}" \
        </dev/null >"$base/station.out" 2>&1
    rc=$?
    times >"$base/station.times"
    exit $rc
)
station_rc=$?
station_wall="$(upload_since "$start")"
for pid in "${sims[@]}"; do
    kill -TERM "$pid" 2>/dev/null
done
wait "${sims[@]}" 2>/dev/null
[ "$station_rc" = 0 ] || { status=1; tail -n 5 "$base/station.out"; }
station_cpu="$(awk 'NR == 2 {
    n = split($1 " " $2, t, " "); s = 0
    for (i = 1; i <= n; i++) { split(t[i], p, "m"); s += p[1] * 60 + p[2] }
    printf "%.2f", s }' "$base/station.times")"

echo "One station, $count devices at $rate baud (exit status $station_rc):"
printf '%-9s %7s %6s %8s\n' device programming "" "of line"
for n in $(seq "$count"); do
    device_line "$n" "$base/station/$n"
done

# --- the same devices, a separate update program each
results="$base/separate"
start="$(upload_now)"
upload_side_by_side "$count" 0 0x40000 "$results" --rate "$rate"
separate_wall="$(upload_since "$start")"
echo
echo "$count separate update programs:"
separate_cpu=0
for n in $(seq "$count"); do
    IFS='|' read -r outcome _ _ cpu flash _ seconds bytes <"$results/$n" ||
        { echo "device $n: no result"; status=1; continue; }
    [ "$outcome" = complete ] && [ "$flash" = equal ] || status=1
    awk -v n="$n" -v s="$seconds" -v b="$bytes" -v f="$flash" -v rate="$rate" 'BEGIN {
        share = s > 0 ? 100 * (b / (rate / 10)) / s : 0
        printf "%-9s %6.1fs %5dK %7.1f%%  flash %s\n", n, s, b / 1024, share, f
    }'
    separate_cpu="$(awk -v a="$separate_cpu" -v b="$cpu" 'BEGIN { print a + b }')"
done

echo
awk -v c="$station_cpu" -v w="$station_wall" -v n="$count" 'BEGIN {
    printf "station:            %d devices in %5.1f s, CPU %6.2f s, %5.2f%% of one core\n", n, w, c, 100 * c / w
}'
awk -v c="$separate_cpu" -v w="$separate_wall" -v n="$count" 'BEGIN {
    printf "separate programs:  %d devices in %5.1f s, CPU %6.2f s, %5.2f%% of one core\n", n, w, c, 100 * c / w
}'
exit $status
