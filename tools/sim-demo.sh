#!/usr/bin/env bash
# A demonstration without hardware: builds the simulated device, starts it on a
# pseudo-terminal and, given an image, runs the updater against it.
#
#   tools/sim-demo.sh [IMAGE] [-- ostrevan-sim switches...]
#
# The device starts in its application (the greeting), re-appears as its flash loader after
# the handshake, and prints its counters and violation log when it ends. The dialogue goes to
# transcript.txt and the final flash contents to flash.bin in the demo folder.
#   BUILD_DIR=dir    build folder (default: build in the repository)
# It stays in the folder it is started in, so relative paths (the image's, the switches') mean
# what they say there. Given an image, it ends with the updater's exit status.
set -euo pipefail

image=""
if [ $# -gt 0 ] && [ "$1" != "--" ]; then
    image="$1"
    shift
fi
[ "${1:-}" = "--" ] && shift

root="$(cd "$(dirname "$0")/.." && pwd)"
build="${BUILD_DIR:-$root/build}"
"$root/tools/install-deps.sh" build
# The tests are configured only where GoogleTest is installed; the demonstration needs none.
tests=OFF
dpkg-query -W -f='${Status}' libgmock-dev 2>/dev/null | grep -q " installed" && tests=ON
cmake -S "$root" --preset default -B "$build" -DOSTREVAN_TESTS="$tests" >/dev/null
cmake --build "$build" -j "$(nproc)" --target ostrevan-sim
updater="$build/platform/posix/ostrevan-update"
if [ -n "$image" ]; then
    cmake --build "$build" -j "$(nproc)" --target ostrevan-update
fi

demo="$(mktemp -d /tmp/ostrevan-demo.XXXXXX)"
link="$demo/port"
"$build/sim/program/ostrevan-sim" --link "$link" --dump "$demo/flash.bin" \
    --transcript "$demo/transcript.txt" "$@" &
sim=$!
stop() {
    kill -TERM "$sim" 2>/dev/null && wait "$sim" || true
    echo "Demo folder: $demo (transcript.txt, flash.bin)"
}
trap stop EXIT

for _ in $(seq 100); do
    [ -L "$link" ] && break
    sleep 0.05
done
[ -L "$link" ] || { echo "ostrevan-sim did not start" >&2; exit 1; }

if [ -n "$image" ]; then
    "$updater" /port "$link" /file "$image"
else
    echo "Simulated device at $link; Ctrl-C ends it."
    wait "$sim"
fi
