#!/usr/bin/env bash
# The main job, start to end: builds the program, the simulated device and the image tool,
# makes a 256 KiB image-union file (or takes the image given), starts the simulated device on a
# pseudo-terminal and runs
#     ostrevan-update /port <its port> /file <image>
# until the window closes. Then it checks the device's flash against the image.
#
#   tools/demo.sh [IMAGE]        IMAGE: an image file of your own (then the flash is not checked)
#   BAUD=115200 tools/demo.sh    a faster line (default 115200; 19200 is the device's real rate)
#   BUILD_DIR=dir                build folder (default: build in the repository)
# It stays in the folder it is started in, so relative paths mean what they say there. It ends
# with the updater's exit status.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${BUILD_DIR:-$root/build}"
image="${1:-}"
"$root/tools/install-deps.sh" build
# The tests are configured only where GoogleTest is installed; the demonstration needs none.
tests=OFF
dpkg-query -W -f='${Status}' libgmock-dev 2>/dev/null | grep -q " installed" && tests=ON
cmake -S "$root" --preset default -B "$build" -DOSTREVAN_TESTS="$tests" >/dev/null
cmake --build "$build" -j "$(nproc)" --target ostrevan-update ostrevan-sim test-image

work="$(mktemp -d "${TMPDIR:-/tmp}/ostrevan-demo.XXXXXX")"
sim_pid=""
cleanup() {
    [ -n "$sim_pid" ] && kill "$sim_pid" 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT

if [ -z "$image" ]; then
    image="$work/firmware.bin"
    "$build/tools/test-image" make --kind union --size 0x40000 --seed 1 --image "$image" \
        --expect "$work/firmware.expect"
fi

link="$work/port"
"$build/sim/program/ostrevan-sim" --link "$link" --start greeting --rate "${BAUD:-115200}" \
    --dump "$work/flash.bin" 2>"$work/sim.err" &
sim_pid=$!
for _ in $(seq 200); do
    [ -L "$link" ] && break
    sleep 0.02
done

echo "ostrevan-update /port $link /file $image"
"$build/platform/posix/ostrevan-update" /port "$link" /file "$image"

kill -TERM "$sim_pid"
wait "$sim_pid" || true
sim_pid=""
echo
grep "ostrevan-sim: received" "$work/sim.err" || true
if [ -f "$work/firmware.expect" ]; then
    "$build/tools/test-image" check --expect "$work/firmware.expect" --dump "$work/flash.bin"
fi
