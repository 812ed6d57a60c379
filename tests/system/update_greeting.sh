#!/usr/bin/env bash
# ostrevan-update against ostrevan-sim: the greeting statuses, the device's re-appearance
# taken without an image to upload (the image, checked at start-up, is gone by then), and a
# clean end on Ctrl-C.
set -euo pipefail
build="${1:?build folder}"
sim="$build/sim/program/ostrevan-sim"
updater="$build/platform/posix/ostrevan-update"
work="$(mktemp -d)"
link="$work/port"
simPid=""
updaterPid=""
cleanup() {
    [ -n "$updaterPid" ] && kill -KILL "$updaterPid" 2>/dev/null || true
    [ -n "$simPid" ] && kill "$simPid" 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT
export LC_ALL=C

fail() {
    echo "FAIL: $*" >&2
    for f in out err sim-err transcript; do
        [ -f "$work/$f" ] && { echo "--- $f" >&2; cat "$work/$f" >&2; }
    done
    exit 1
}

wait_for() {
    for _ in $(seq 200); do
        eval "$1" && return 0
        sleep 0.05
    done
    fail "timed out: $1"
}

"$sim" --link "$link" --start greeting --transcript "$work/transcript" 2>"$work/sim-err" &
simPid=$!
wait_for '[ -L "$link" ]'
first="$(readlink "$link")"

"$build/tools/test-image" make --kind srec --size 0x1000 --image "$work/image.srec" \
    --expect "$work/image.expect" || fail "no test image"
"$updater" /port "$link" /file "$work/image.srec" >"$work/out" 2>"$work/err" </dev/null &
updaterPid=$!
wait_for 'grep -qs "Ready to Upload." "$work/out"'
rm "$work/image.srec"

# The device re-appears as its flash loader. With no image to load nothing starts; the
# pause lets the updater's device-change handler (with its 600 ms wait) run meanwhile.
wait_for '[ "$(readlink "$link")" != "$first" ]'
sleep 1.5
kill -0 "$updaterPid" || fail "the updater ended by itself"

kill -INT "$updaterPid"
status=0
wait "$updaterPid" || status=$?
updaterPid=""
# Stopped by the user: the documented status 5, not success.
[ "$status" -eq 5 ] || fail "the updater did not end as stopped on Ctrl-C (status $status)"
expected=$'Initializing...\nPort Open.\nFound Ostrevan.\nReady to Upload.'
[ "$(cat "$work/out")" = "$expected" ] || fail "statuses: $(cat "$work/out")"
[ ! -s "$work/err" ] || fail "error output"

kill -TERM "$simPid"
wait "$simPid" || fail "ostrevan-sim did not end cleanly"
simPid=""
[ "$(grep -c '|SA-28..|' "$work/transcript")" -eq 1 ] || fail "SA-28 not sent once"
[ "$(grep -c '|KV2-8..|' "$work/transcript")" -eq 1 ] || fail "KV2-8 not sent once"
grep -q "device< .*|SA-77" "$work/transcript" || fail "the device did not answer"
grep -q "violations: 0" "$work/sim-err" || fail "the device logged violations"
echo "update greeting system test passed"
