#!/usr/bin/env bash
# The Win32 serial device under Wine on a pseudo-terminal line: the prefix's COM4 is linked to
# pty-peer, which echoes what the device writes.
#   serial_line.sh WINDOWS_BUILD NATIVE_BUILD   (inside tools/wine-env.sh's environment)
set -euo pipefail
build="$(cd "$1" && pwd)"
native="${2:?native build folder (OSTREVAN_NATIVE_BUILD)}"
peer="$native/tools/pty-peer"
: "${WINEPREFIX:?run under tools/wine-env.sh (tools/run-windows-tests.sh does)}"
[ -x "$peer" ] || { echo "missing $peer" >&2; exit 1; }

link="$build/wine-com4"
rm -f "$link"
"$peer" "$link" >/dev/null &
peerPid=$!
trap 'kill "$peerPid" 2>/dev/null || true; wait "$peerPid" 2>/dev/null || true' EXIT
for _ in $(seq 100); do
    [ -L "$link" ] && break
    sleep 0.05
done
[ -L "$link" ] || { echo "pty-peer did not publish $link" >&2; exit 1; }

OSTREVAN_PEER_PORT=COM4 wine "$build/tests/test_win32_line.exe"
