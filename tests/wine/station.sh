#!/usr/bin/env bash
# The station's console program under Wine: two simulated devices on COM3 and COM4 updated
# side by side by one ostrevan-station.exe, with the report. Exit status 0, both flashes equal
# to the image, and two report lines read by a JSON parser.
#   station.sh WINDOWS_BUILD NATIVE_BUILD   (inside tools/wine-env.sh's environment)
set -euo pipefail
build="$(cd "$1" && pwd)"
native="$(cd "${2:?native build folder (OSTREVAN_NATIVE_BUILD)}" && pwd)"
: "${WINEPREFIX:?run under tools/wine-env.sh (tools/run-windows-tests.sh does)}"
sim="$native/sim/program/ostrevan-sim"
testImage="$native/tools/test-image"
program="$build/platform/win32/ostrevan-station.exe"
for file in "$sim" "$testImage" "$program"; do
    [ -f "$file" ] || { echo "missing $file" >&2; exit 1; }
done
export LC_ALL=C

work="$(mktemp -d)"
pids=()
cleanup() {
    for pid in "${pids[@]}"; do
        kill "$pid" 2>/dev/null || true
    done
    wait 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT

fail() {
    echo "FAIL: $*" >&2
    for log in station.out sim3.err sim4.err; do
        [ -f "$work/$log" ] && { echo "--- $log"; tail -n 30 "$work/$log"; } >&2
    done
    exit 1
}

"$testImage" make --kind union --size 0x4000 --seed 12 --image "$work/image.bin" \
    --expect "$work/expect"
for port in 3 4; do
    rm -f "$build/wine-com$port"
    "$sim" --link "$build/wine-com$port" --rate 115200 --dump "$work/flash$port.bin" \
        2>"$work/sim$port.err" &
    pids+=($!)
done
for _ in $(seq 50); do
    [ -L "$build/wine-com3" ] && [ -L "$build/wine-com4" ] && break
    sleep 0.1
done

status=0
timeout 120 wine "$program" --report "Z:$work/report.jsonl" "Z:$work/image.bin" COM3 COM4 \
    </dev/null >"$work/station.out" 2>&1 || status=$?
kill -TERM "${pids[@]}"
wait "${pids[@]}" || true
pids=()

[ "$status" = 0 ] || fail "exit status $status"
for port in 3 4; do
    "$testImage" check --expect "$work/expect" --dump "$work/flash$port.bin" >/dev/null ||
        fail "COM$port: the flash does not hold the image"
done
python3 - "$work/report.jsonl" <<'PY' || fail "the report: $(cat "$work/report.jsonl")"
import json, sys
lines = [json.loads(line) for line in open(sys.argv[1], "rb")]
assert sorted(line["port"] for line in lines) == ["COM3", "COM4"], lines
for line in lines:
    assert line["outcome"] == "updated" and line["status"] == 0 and line["reason"] is None, line
    assert line["loader_version"] == "$SFLD V2.05" and line["bytes"] > 0, line
    assert line["started"][-6] in "+-", line
PY
echo "ostrevan-station.exe under Wine: COM3 and COM4 updated side by side, report of 2 lines"
