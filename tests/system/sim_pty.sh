#!/usr/bin/env bash
# ostrevan-sim on a pseudo-terminal: greeting, re-appearance under the same link, a host
# that closes and reopens its port, one section erased and programmed, the flash dump.
set -euo pipefail
build="${1:?build folder}"
sim="$build/sim/program/ostrevan-sim"
work="$(mktemp -d)"
link="$work/port"
pid=""
cleanup() {
    [ -n "$pid" ] && kill "$pid" 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT
export LC_ALL=C

fail() {
    echo "FAIL: $*" >&2
    [ -f "$work/err" ] && cat "$work/err" >&2
    exit 1
}

# Reads count bytes from a descriptor and prints them as hexadecimal pairs.
read_hex() {
    timeout 3 dd bs=1 count="$2" <&"$1" 2>/dev/null | od -An -tx1 | tr -s ' \n' ' ' |
        sed 's/^ //;s/ $//'
}

expect_hex() {
    local fd="$1" want="$2" got
    got="$(read_hex "$fd" "$(wc -w <<<"$want")")"
    [ "$got" = "$want" ] || fail "expected '$want', got '$got'"
}

wait_for() {
    for _ in $(seq 100); do
        eval "$1" && return 0
        sleep 0.05
    done
    fail "timed out: $1"
}

# Read whole first: grep -q leaves at the first match, and the rest of the text would then
# end the simulator with SIGPIPE, which pipefail reports as a failure.
help="$("$sim" --help)"
grep -q -- "--unplug-after" <<<"$help" || fail "--help does not list the switches"
if "$sim" --link "$link" --bogus 2>/dev/null; then fail "an unknown switch was taken"; fi

"$sim" --link "$link" --start greeting --reappear-ms 50 --dump "$work/flash.bin" \
    --transcript "$work/transcript" 2>"$work/err" &
pid=$!
wait_for '[ -L "$link" ]'
first="$(readlink "$link")"

# Greeting; the host closes its port in between and opens it again.
exec 3<>"$link"
printf 'SA-28\r\n' >&3
IFS= read -r -t 3 -u 3 line || fail "no answer to SA-28"
[[ "$line" == SA-77* ]] || fail "answer to SA-28: $line"
exec 3<&-
exec 3<>"$link"
printf 'KV2-8\r\n' >&3
IFS= read -r -t 3 -u 3 line || fail "no answer to KV2-8"
[[ "$line" == KV2-8* ]] || fail "answer to KV2-8: $line"

# The device re-appears: the link names a new pseudo-terminal and the old one hangs up.
wait_for '[ "$(readlink "$link")" != "$first" ]'
set +e
read -r -t 3 -N 1 -u 3 _
rc=$?
set -e
[ "$rc" -eq 1 ] || fail "the old port did not hang up (read status $rc)"
exec 3<&-

# The flash loader on the new port.
exec 4<>"$link"
printf '\x55\xAA' >&4
expect_hex 4 "77 aa"
printf '\x90' >&4
IFS= read -r -t 3 -u 4 line || fail "no version line"
[ "$line" = $'$SFLD V2.05\r' ] || fail "version line: $line"
exec 4<&-
exec 4<>"$link"
printf '\x55' >&4
expect_hex 4 "55"
printf '\x6A' >&4
expect_hex 4 "55 77"
# Erase 0x10000000 to 0x10000004: the 16 KiB bottom sector.
printf '\x55' >&4
expect_hex 4 "77"
printf '\x5B\x00\x04\x10\x00\x00\x00\x10\x00\x00\x04\x00\x04\x5D' >&4
expect_hex 4 "55 8e 6a 01 8f 55"
# DE AD BE EF at 0x10000000, then the end record.
printf '\x55' >&4
expect_hex 4 "77"
printf '\x5B\x00\x04\x10\x00\x00\x00\xDE\xAD\xBE\xEF\x70\x42\x5D' >&4
expect_hex 4 "55 55"
printf '\x55' >&4
expect_hex 4 "77"
printf '\x5B\x00\x00\x00\x00\x5D' >&4
expect_hex 4 "55"
exec 4<&-

# SIGUSR1 writes the flash while the device runs on.
kill -USR1 "$pid"
wait_for '[ -s "$work/flash.bin" ]'
[ "$(od -An -tx1 -N 4 "$work/flash.bin" | tr -s ' ' | sed 's/^ //')" = "de ad be ef" ] ||
    fail "dump on SIGUSR1"
rm "$work/flash.bin"
kill -0 "$pid" || fail "SIGUSR1 ended the device"

kill -TERM "$pid"
wait "$pid" || fail "ostrevan-sim did not end cleanly on SIGTERM"
pid=""
[ ! -e "$link" ] || fail "the link outlived the device"
[ "$(stat -c %s "$work/flash.bin")" -eq 2097152 ] || fail "dump size"
[ "$(od -An -tx1 -N 6 "$work/flash.bin" | tr -s ' ' | sed 's/^ //')" = "de ad be ef ff ff" ] ||
    fail "dump contents: $(od -An -tx1 -N 6 "$work/flash.bin")"
grep -q "violations: 0" "$work/err" || fail "violations logged"
grep -q "host  > 55 AA" "$work/transcript" || fail "transcript: $(cat "$work/transcript")"
# Unplugged after two bytes: the answer to them still arrives, then the port and its link go.
"$sim" --link "$link" --start loader --unplug-after 2 2>"$work/err" &
pid=$!
wait_for '[ -L "$link" ]'
exec 5<>"$link"
printf '\x55\xAA' >&5
expect_hex 5 "77 aa"
wait_for '[ ! -e "$link" ]'
exec 5<&-
kill -INT "$pid"
wait "$pid" || fail "ostrevan-sim did not end cleanly on SIGINT"
pid=""
# The speed the host sets on its side is the speed its bytes travel at: the ROM monitor at
# 19200 baud loses what comes at 57600.
"$sim" --link "$link" --start rom 2>"$work/err" &
pid=$!
wait_for '[ -L "$link" ]'
exec 5<>"$link"
stty -F "$link" 57600
printf '\r\n' >&5
[ -z "$(timeout 1 dd bs=1 count=1 <&5 2>/dev/null | od -An -tx1)" ] || fail "answer at 57600"
stty -F "$link" 19200
printf '\r\n' >&5
expect_hex 5 "3e"
printf 'T\r' >&5
expect_hex 5 "54 3a 74 65 73 74 3e"
exec 5<&-
kill -TERM "$pid"
wait "$pid" || fail "ostrevan-sim did not end cleanly"
pid=""
grep -q "violations: 2" "$work/err" || fail "bytes at the wrong speed not caught"
grep -q "sent at 57600 baud while the device runs at 19200 baud" "$work/err" ||
    fail "violation text"
echo "ostrevan-sim system test passed"
