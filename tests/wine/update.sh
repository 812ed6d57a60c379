#!/usr/bin/env bash
# The Windows program under Wine against ostrevan-sim, in the flows Wine allows: the greeting,
# a device change when the device re-appears (at once, or after 3 s), a device plugged in 2 s
# after the program started (greeted once it is there, not before), the upload to the end,
# the window closes and the process ends with status 0, and the simulated flash holds the
# image. Also a device that runs its loader already, which no device change announces, and an
# upload fast enough to end between two of the dialog's ticks. Each keeps its log with /log,
# appended as on POSIX, and its report line with /report, read by a JSON parser. Then /check on a usable and on a damaged image: the report in a
# message box, exit status 0 and 4, and not a byte to the device waiting on the port. And a
# recovery: the device in its primary loader's boot mode, reached with /target 4 through COM3.
# Last, --list: the ports in a message box.
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
answer="$build/platform/win32/answer-box.exe"
for file in "$sim" "$testImage" "$program" "$poster" "$watcher" "$answer"; do
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


# name | simulator switches | image kind and size | device change posted | program's options
flows=(
    "re-appears at once|--reappear-ms 100|srec 8192|yes|"
    "re-appears after 3 s|--reappear-ms 3000|srec 8192|yes|"
    "plugged in 2 s after the start|--plug-after-s 2|srec 8192|yes|"
    "already in its loader|--start loader|srec 8192|no|"
    "fast upload|--rate off --erase-ms 1 --program-ms 0|srec 4096|yes|"
    "recovery in the primary loader's boot mode|--start pfl --pfl-variant A|union 4096|no|/target 4"
)

run_flow() {
    local name="$1" switches="$2" image="$3" post="$4" options="$5"
    rm -f "$work"/status "$work"/sim.err "$work"/transcript "$work"/flash.bin "$work"/report.jsonl
    echo "an earlier run" >"$work/update.log"
    read -r kind size <<<"$image"
    "$testImage" make --kind "$kind" --size "$size" --seed 9 --image "$work/image.s19" \
        --expect "$work/expect"

    rm -f "$link"
    local start=greeting
    if [[ "$switches" =~ --start\ ([a-z]+) ]]; then
        start="${BASH_REMATCH[1]}"
        switches="${switches/--start $start/}"
    fi
    # A device plugged in after the program started: until then COM3 names nothing.
    local plugAfter=""
    if [[ "$switches" =~ --plug-after-s\ ([0-9]+) ]]; then
        plugAfter="${BASH_REMATCH[1]}"
        switches="${switches/--plug-after-s $plugAfter/}"
    fi
    local first
    plug() {
        # shellcheck disable=SC2086
        "$sim" --link "$link" --start "$start" --dump "$work/flash.bin" \
            --transcript "$work/transcript" $switches 2>"$work/sim.err" &
        simPid=$!
        wait_for '[ -L "$link" ]' 50
        first="$(readlink "$link")"
    }
    [ -n "$plugAfter" ] || plug

    # shellcheck disable=SC2086
    wine "$program" /port 3 /file "Z:$work/image.s19" /log "Z:$work/update.log" \
        /report "Z:$work/report.jsonl" $options &
    programPid=$!
    wine "$watcher" >"$work/status" 2>"$work/window" &
    watcherPid=$!
    if [ -n "$plugAfter" ]; then
        sleep "$plugAfter"
        plug
    fi

    if [ "$post" = yes ]; then
        # The greeting makes the device re-appear on a new pseudo-terminal; Windows would then
        # tell the dialog through WM_DEVICECHANGE, which Wine never sends.
        wait_for '[ "$(readlink "$link" 2>/dev/null)" != "$first" ] && [ -L "$link" ]' 300
        wait_for 'grep -qx "Ready to Upload." "$work/status"' 300
        wine "$poster" || fail "$name: no dialog to tell of the device change"
    fi

    if [ -n "${SCREENSHOT:-}" ] && [ "$name" = "re-appears at once" ]; then
        wait_for 'grep -Eq "^FLASH Programming [3-9][0-9]%" "$work/status"' 1200
        read -r _ left top width height < <(grep '^window ' "$work/window")
        import -window root "$work/root.png"
        convert "$work/root.png" -crop "${width}x${height}+${left}+${top}" +repage "$SCREENSHOT"
    fi

    # The dialog closes itself once the upload has completed; nobody closes it here.
    wait_for '! kill -0 "$programPid" 2>/dev/null' 1800
    local status=0
    wait "$programPid" || status=$?
    programPid=""
    wait "$watcherPid" || fail "$name: the status watcher never saw the dialog"
    watcherPid=""

    # Status 0 is given only once the dialog has shown "Uploading Complete.", which it shows
    # too briefly for the watcher to be sure to see it.
    [ "$status" = 0 ] || fail "$name: exit status $status"
    grep -qx "Upload Starting..." "$work/status" || fail "$name: the upload did not start"

    kill -TERM "$simPid"
    wait "$simPid" || fail "$name: ostrevan-sim did not end cleanly"
    simPid=""
    if [ "$start" = loader ]; then
        # Greeted before it could be known to run its loader, the loader sees the greeting.
        ! grep "violation:" "$work/sim.err" | grep -qv "before the connect sequence" ||
            fail "$name: the device saw bytes it would not accept"
    else
        grep -q "violations: 0" "$work/sim.err" || fail "$name: the device saw bytes it would not accept"
    fi
    "$testImage" check --expect "$work/expect" --dump "$work/flash.bin" ||
        fail "$name: the flash does not hold the image"
    [ "$(head -n 1 "$work/update.log")" = "an earlier run" ] &&
        grep -qE "^[0-9-]{10} [0-9:.]{12} ----------- Image Info -----------$" "$work/update.log" &&
        grep -qE "^[0-9-]{10} [0-9:.]{12} FLASH Type: " "$work/update.log" ||
        fail "$name: /log did not append the update's log"
    python3 - "$work/report.jsonl" "$([ -n "$options" ] && echo 4 || echo 8)" <<'PY' ||
import json, sys
lines = [json.loads(line) for line in open(sys.argv[1], "rb")]
assert len(lines) == 1 and lines[0]["port"] == "COM3" and lines[0]["target"] == int(sys.argv[2])
assert lines[0]["outcome"] == "updated" and lines[0]["status"] == 0 and lines[0]["bytes"] > 0
PY
        fail "$name: /report: $(cat "$work/report.jsonl" 2>/dev/null)"
    echo "Windows program under Wine, $name: upload complete, flash equals the image, log and" \
        "report kept"
}

# IMAGE STATUS LINE: /check on IMAGE while a device waits on the port.
check_image() {
    local image="$1" want="$2" line="$3"
    rm -f "$work"/sim.err "$work"/transcript "$link"
    "$sim" --link "$link" --start greeting --transcript "$work/transcript" 2>"$work/sim.err" &
    simPid=$!
    wait_for '[ -L "$link" ]' 50
    wine "$program" /port 3 /file "Z:$image" /check &
    programPid=$!
    wine "$answer" "KV3/4 Application Update" 30000 >"$work/box" || fail "/check: no box"
    local status=0
    wait "$programPid" || status=$?
    programPid=""
    kill -TERM "$simPid"
    wait "$simPid" || true
    simPid=""
    [ "$status" = "$want" ] || fail "/check: exit status $status, not $want"
    grep -qF "$line" "$work/box" || fail "/check: the box does not say \"$line\""
    grep -q "received 0 bytes," "$work/sim.err" && ! grep -q "host  >" "$work/transcript" ||
        fail "/check: the device heard the host"
    echo "Windows program under Wine, /check: exit status $status, the box says \"$line\""
}

for entry in "${flows[@]}"; do
    IFS='|' read -r name switches image post options <<<"$entry"
    run_flow "$name" "$switches" "$image" "$post" "$options"
done

"$testImage" make --kind union --size 0x4000 --tail bad-sfl --image "$work/tail.bin" \
    --expect "$work/expect"
check_image "$work/tail.bin" 0 "Image section 2 fails its checksum"
grep -q "^Image usable: 2 sections" "$work/box" || fail "/check: no verdict in the box"
head -c $((0x5000)) "$work/tail.bin" >"$work/cut.bin"
check_image "$work/cut.bin" 4 "Image refused: Image section 1 is cut short"

# --list: the ports the system knows in a message box, the prefix's COM3 among them.
wine "$program" --list &
programPid=$!
wine "$answer" "KV3/4 Application Update" 30000 >"$work/box" || fail "--list: no box"
status=0
wait "$programPid" || status=$?
programPid=""
[ "$status" = 0 ] && grep -qx "COM3.*" "$work/box" || fail "--list: status $status, box: $(cat "$work/box")"
echo "Windows program under Wine, --list: exit status 0, the box lists COM3"
