#!/usr/bin/env bash
# The Windows program under Wine against ostrevan-sim: the greeting, a device change when the
# device re-appears, the upload to the end, the window closes and the process ends, and the
# simulated flash holds the image.
#   update.sh WINDOWS_BUILD NATIVE_BUILD   (inside tools/wine-env.sh's environment)
# With SCREENSHOT=FILE.png it also saves a picture of the dialog while it programs (needs
# ImageMagick's import and convert).
set -euo pipefail
build="$(cd "$1" && pwd)"
native="$(cd "${2:?native build folder (OSTREVAN_NATIVE_BUILD)}" && pwd)"
: "${WINEPREFIX:?run under tools/wine-env.sh (tools/run-windows-tests.sh does)}"
sim="$native/sim/program/ostrevan-sim"
testImage="$native/tools/test-image"
program="$build/platform/win32/ostrevan-update.exe"
poster="$build/platform/win32/post-device-change.exe"
watcher="$build/platform/win32/dialog-status.exe"
for file in "$sim" "$testImage" "$program" "$poster" "$watcher"; do
    [ -f "$file" ] || { echo "missing $file" >&2; exit 1; }
done
export LC_ALL=C

work="$(mktemp -d)"
link="$build/wine-com3"  # the prefix's COM3
simPid=""
programPid=""
watcherPid=""
cleanup() {
    for pid in "$watcherPid" "$programPid" "$simPid"; do
        [ -n "$pid" ] && kill "$pid" 2>/dev/null || true
    done
    wait 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT

fail() {
    echo "FAIL: $*" >&2
    for log in status sim.err transcript; do
        [ -f "$work/$log" ] && { echo "--- $log"; tail -n 40 "$work/$log"; } >&2
    done
    exit 1
}

wait_for() {
    local tries="$2"
    for _ in $(seq "$tries"); do
        eval "$1" && return 0
        sleep 0.1
    done
    fail "timed out: $1"
}

"$testImage" make --kind srec --size 8192 --seed 9 --image "$work/image.s19" \
    --expect "$work/expect"

rm -f "$link"
"$sim" --link "$link" --start greeting --dump "$work/flash.bin" \
    --transcript "$work/transcript" 2>"$work/sim.err" &
simPid=$!
wait_for '[ -L "$link" ]' 50
first="$(readlink "$link")"

wine "$program" /port 3 /file "Z:$work/image.s19" &
programPid=$!
wine "$watcher" >"$work/status" 2>"$work/window" &
watcherPid=$!

# The greeting makes the device re-appear on a new pseudo-terminal; Windows would then tell
# the dialog through WM_DEVICECHANGE, which Wine never sends.
wait_for '[ "$(readlink "$link" 2>/dev/null)" != "$first" ] && [ -L "$link" ]' 300
wait_for 'grep -qx "Ready to Upload." "$work/status"' 300
wine "$poster" || fail "no dialog to tell of the device change"

if [ -n "${SCREENSHOT:-}" ]; then
    wait_for 'grep -Eq "^FLASH Programming [3-9][0-9]%" "$work/status"' 1200
    read -r _ left top width height < <(grep '^window ' "$work/window")
    import -window root "$work/root.png"
    convert "$work/root.png" -crop "${width}x${height}+${left}+${top}" +repage "$SCREENSHOT"
fi

# The dialog closes itself once the upload has completed; nobody closes it here.
wait_for '! kill -0 "$programPid" 2>/dev/null' 1800
wait "$programPid" || true
programPid=""
wait "$watcherPid" || fail "the status watcher never saw the dialog"
watcherPid=""

grep -qx "Upload Starting..." "$work/status" || fail "the upload did not start"
grep -Eq "^FLASH Programming [0-9]+%$" "$work/status" || fail "no programming progress shown"

kill -TERM "$simPid"
wait "$simPid" || fail "ostrevan-sim did not end cleanly"
simPid=""
grep -q "violations: 0" "$work/sim.err" || fail "the device saw bytes it would not accept"
"$testImage" check --expect "$work/expect" --dump "$work/flash.bin" ||
    fail "the flash does not hold the image"
echo "Windows program under Wine: upload complete, flash equals the image"
