#!/usr/bin/env bash
# ostrevan-update against ostrevan-sim: the greeting statuses, a device that takes its time to
# re-appear, and Ctrl-C while it is awaited: the program says the device may need the update
# again and ends with the stopped status.
set -euo pipefail
build="${1:?build folder}"
sim="$build/sim/program/ostrevan-sim"
updater="$build/platform/posix/ostrevan-update"
image_tool="$build/tools/test-image"
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

"$image_tool" make --kind union --size 0x8000 --image "$work/fw.bin" --expect "$work/fw.expect"
"$sim" --link "$link" --start greeting --reappear-ms 60000 --transcript "$work/transcript" \
    2>"$work/sim-err" &
simPid=$!
wait_for '[ -L "$link" ]'
first="$(readlink "$link")"

"$updater" /port "$link" /file "$work/fw.bin" >"$work/out" 2>"$work/err" </dev/null &
updaterPid=$!
wait_for 'grep -qs "Ready to Upload." "$work/out"'

# The device is away, re-appearing much later: nothing may start meanwhile.
sleep 1.5
[ "$(readlink "$link")" = "$first" ] || fail "the device re-appeared early"
kill -0 "$updaterPid" || fail "the updater ended by itself"

kill -INT "$updaterPid"
status=0
wait "$updaterPid" || status=$?
updaterPid=""
# Stopped by the user: the documented status 5, not success.
[ "$status" -eq 5 ] || fail "the updater did not end as stopped on Ctrl-C (status $status)"
expected=$'Initializing...\nPort Open.\nFound Ostrevan.\nReady to Upload.\nUpdate stopped: the device may need the update again.'
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
