#!/usr/bin/env bash
# ostrevan-update as a terminal tool: its exit status for each way a run ends, its usage text,
# --help, --version and --list, the ports it waits for, retries or refuses (the holder of a
# busy one named, one this user may not open explained), Ctrl-C in the middle of an upload,
# /log keeping the ERROR lines of a failed upload, and /report's JSON line for how each run
# ended. The slow cases run side by side.
set -uo pipefail
source "$(dirname "$0")/lib/upload_run.sh"
build="${1:?build folder}"
upload_init "$build" || exit 1
top="$UPLOAD_WORK"
results="$top/results"
mkdir -p "$results"

failures=0
check() {  # name, then a condition to evaluate
    local name="$1"
    shift
    if eval "$@"; then
        echo "ok   $name"
    else
        echo "FAIL $name: $*" >&2
        failures=$((failures + 1))
    fi
}

# --- the command line and ports that are refused at once ---
run() {  # the program's status in $rc, its output in $top/out and $top/err
    timeout 20 "$UPDATE_BIN" "$@" </dev/null >"$top/out" 2>"$top/err"
    rc=$?
}
"$IMAGE_BIN" make --kind union --size 0x4000 --image "$top/fw.bin" --expect "$top/fw.expect"
run
check "no arguments: usage on standard error, status 2" \
    '[ $rc = 2 ] && grep -q "^Usage: ostrevan-update" "$top/err" && [ ! -s "$top/out" ]'
run /port 3
check "/port 3 alone: says what is missing, status 2" \
    '[ $rc = 2 ] && grep -q "no image given" "$top/err"'
run --frobnicate /port 3 /file x
check "unknown option: status 2" '[ $rc = 2 ] && grep -q "unknown option --frobnicate" "$top/err"'
run --help
check "--help: usage on standard output, status 0" \
    '[ $rc = 0 ] && grep -q "^Exit status: 0 the flash was updated" "$top/out"'
run --version
check "--version: status 0" '[ $rc = 0 ] && grep -qx "ostrevan-update [0-9.]*" "$top/out"'
for port in /dev/null "$top/fw.bin" "$top"; do
    run /port "$port" /file "$top/fw.bin"
    check "/port $port: not a serial port, status 3" \
        '[ $rc = 3 ] && grep -q "^Error: .* is not a serial port$" "$top/out"'
done
run /port "$top/port" /file "$top/missing.bin"
check "missing image: status 4" '[ $rc = 4 ]'
run --list
check "--list: the ports there are, status 0" '[ $rc = 0 ] && [ -s "$top/out" ] && [ ! -s "$top/err" ]'

# 0 when report.jsonl holds one line, read by a JSON parser, with this outcome and status, and
# a reason unless the device was updated.
report_is() {  # outcome, status
    python3 - "$1" "$2" <<'PY'
import json, sys
lines = [json.loads(line) for line in open("report.jsonl")]
outcome, status = sys.argv[1], int(sys.argv[2])
sys.exit(not (len(lines) == 1 and lines[0]["outcome"] == outcome and
              lines[0]["status"] == status and
              (lines[0]["reason"] is None) == (outcome == "updated")))
PY
}

# --- runs against a device, side by side ---
# Each case runs in its own folder from a copy of the run library's state.
case_missing_port_then_relative() {  # the port appears later; named relative to the folder
    upload_init "$build" && upload_image union 0x4000 5 || return 1
    cd "$UPLOAD_WORK" || return 1
    "$UPDATE_BIN" /port ./port /file "$UPLOAD_IMAGE" --report report.jsonl </dev/null >out 2>err &
    local pid=$!
    sleep 1.5
    "$SIM_BIN" --link "$UPLOAD_WORK/port" --rate 115200 --dump flash.bin 2>sim.err &
    local sim=$!
    wait "$pid"
    echo "rc=$?" >>out
    kill "$sim"
    wait "$sim"
    grep -qx "Waiting for $UPLOAD_WORK/port..." out && grep -qx "rc=0" out &&
        grep -qx "Uploading Complete." out && upload_flash_check >/dev/null &&
        report_is updated 0
}

# Also the output to a file: each status once, the progress by tens, in a few dozen lines
# for an upload that takes some fifty ticks.
case_busy_then_free() {  # another program holds the port for 2 s
    upload_init "$build" && upload_image union 0x20000 6 || return 1
    cd "$UPLOAD_WORK" || return 1
    "$SIM_BIN" --link "$UPLOAD_WORK/port" --rate 115200 --dump flash.bin 2>sim.err &
    local sim=$!
    for _ in $(seq 100); do [ -L port ] && break; sleep 0.02; done
    flock -x "$UPLOAD_WORK/port" sleep 2 &
    local holder=$!
    sleep 0.3
    "$UPDATE_BIN" /port "$UPLOAD_WORK/port" /file "$UPLOAD_IMAGE" </dev/null >out 2>err
    echo "rc=$?" >>out
    kill "$sim"
    wait "$sim"
    grep -qxF "$UPLOAD_WORK/port is Locked by Another Device! (held by flock (pid $holder))" out &&
        grep -qx "rc=0" out &&
        grep -qx "Uploading Complete." out && upload_flash_check >/dev/null &&
        [ "$(wc -l <out)" -le 41 ] && [ "$(grep -c "^FLASH Programming" out)" -ge 8 ] &&
        ! grep -qE "^( *[0-9]+%)?$" out
}

case_ctrl_c_mid_upload() {
    upload_init "$build" && upload_image union 0x10000 7 || return 1
    cd "$UPLOAD_WORK" || return 1
    "$SIM_BIN" --link "$UPLOAD_WORK/port" --rate 19200 2>sim.err &
    local sim=$!
    for _ in $(seq 100); do [ -L port ] && break; sleep 0.02; done
    "$UPDATE_BIN" /port "$UPLOAD_WORK/port" /file "$UPLOAD_IMAGE" /report report.jsonl \
        </dev/null >out 2>err &
    local pid=$!
    for _ in $(seq 300); do grep -q "^FLASH Programming" out && break; sleep 0.05; done
    kill -INT "$pid"
    wait "$pid"
    echo "rc=$?" >>out
    kill "$sim"
    wait "$sim"
    grep -qx "rc=5" out &&
        [ "$(grep -v '^rc=' out | tail -n 1)" = "Update stopped: the device may need the update again." ] &&
        report_is stopped 5
}

case_log_of_a_failed_upload() {
    upload_init "$build" && upload_image union 0x8000 8 || return 1
    cd "$UPLOAD_WORK" || return 1
    "$SIM_BIN" --link "$UPLOAD_WORK/port" --rate 115200 --error-record 9 \
        --error-code PROGRAM_FAIL 2>sim.err &
    local sim=$!
    for _ in $(seq 100); do [ -L port ] && break; sleep 0.02; done
    echo "an earlier run" >update.log
    "$UPDATE_BIN" /port "$UPLOAD_WORK/port" /file "$UPLOAD_IMAGE" /log update.log \
        /report report.jsonl </dev/null >out 2>err
    echo "rc=$?" >>out
    kill "$sim"
    wait "$sim"
    grep -qx "rc=1" out && [ "$(head -n 1 update.log)" = "an earlier run" ] &&
        grep -qE "^[0-9-]{10} [0-9:.]{12} ERROR: " update.log &&
        grep -q "^Error: Upload Failed.  Please try again." out && grep -q "^ERROR: " out &&
        report_is failed 1
}

# A user who may not open the port: a uid of nobody's, the node given a group it is not in.
# Refused at once when the port is first opened; the device's re-appeared node, denied only
# until its permissions are set, is waited for.
as_user() { setpriv --reuid=4242 --regid=4242 --clear-groups "$@"; }
case_denied_at_once() {
    upload_init "$build" && upload_image union 0x4000 9 || return 1
    cd "$UPLOAD_WORK" && chmod 755 . && chmod 644 "$UPLOAD_IMAGE" || return 1
    "$SIM_BIN" --link "$UPLOAD_WORK/port" --node-mode 0660 --node-group dialout 2>sim.err &
    local sim=$!
    for _ in $(seq 100); do [ -L port ] && break; sleep 0.02; done
    local start=$SECONDS
    as_user "$UPDATE_BIN" /port "$UPLOAD_WORK/port" /file "$UPLOAD_IMAGE" </dev/null >out 2>err
    echo "rc=$?" >>out
    local took=$((SECONDS - start))
    kill "$sim"
    wait "$sim"
    grep -qx "rc=3" out && [ "$took" -le 1 ] && grep -q "received 0 bytes," sim.err &&
        grep -qF "permission denied; the port belongs to the group dialout. Add yourself to the group dialout: sudo usermod -aG dialout \$USER, then log in again" out
}
reappeared_node_denied() {  # for MS ms; then the status and what the output must hold
    upload_init "$build" && upload_image union 0x4000 10 || return 1
    cd "$UPLOAD_WORK" && chmod 755 . && chmod 644 "$UPLOAD_IMAGE" || return 1
    "$SIM_BIN" --link "$UPLOAD_WORK/port" --rate 115200 --dump flash.bin --node-mode 0666 \
        --node-late-ms "$1" 2>sim.err &
    local sim=$!
    for _ in $(seq 100); do [ -L port ] && break; sleep 0.02; done
    as_user "$UPDATE_BIN" /port "$UPLOAD_WORK/port" /file "$UPLOAD_IMAGE" </dev/null >out 2>err
    echo "rc=$?" >>out
    kill "$sim"
    wait "$sim"
    grep -qx "rc=$2" out && grep -qF "$3" out
}
case_reappeared_node_denied_for_a_moment() {
    reappeared_node_denied 300 0 "Uploading Complete." && upload_flash_check >/dev/null
}
case_reappeared_node_denied_for_long() {  # given up 2 s after the device came back
    reappeared_node_denied 4000 3 "permission denied; only its owner root may open it"
}

slow_cases=(case_missing_port_then_relative case_busy_then_free case_ctrl_c_mid_upload
    case_log_of_a_failed_upload)
# Becoming another user takes root.
if [ "$(id -u)" = 0 ]; then
    slow_cases+=(case_denied_at_once case_reappeared_node_denied_for_a_moment
        case_reappeared_node_denied_for_long)
else
    echo "skip the unprivileged user's cases: they need root to become that user"
fi
for name in "${slow_cases[@]}"; do
    ( "$name" >"$results/$name.log" 2>&1 && touch "$results/$name.ok" ) &
done
wait
for name in "${slow_cases[@]}"; do
    check "$name" '[ -f "$results/$name.ok" ]'
done
[ "$failures" = 0 ] && echo "terminal tool passed"
exit $((failures != 0))
