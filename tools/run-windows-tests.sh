#!/usr/bin/env bash
# Cross-builds the Windows program and its tests with MinGW-w64 (the windows preset) and runs
# the tests under a headless Wine (Xvfb, a Wine prefix inside the build folder). The Wine tests
# talk to native peers on pseudo-terminals, built here in the native build folder (the default
# preset's). When they pass, CPack packs the program into a .zip in the Windows build folder's
# packages/.
#   BUILD_DIR=dir         Windows build folder (default: build-windows)
#   NATIVE_BUILD_DIR=dir  native build folder for the peers (default: build)
#   CTEST_ARGS="..."      extra ctest arguments (for example -L wine)
# The folders' defaults are in the repository; relative ones are taken from where this runs.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="$(realpath -m -- "${BUILD_DIR:-$root/build-windows}")"
native="$(realpath -m -- "${NATIVE_BUILD_DIR:-$root/build}")"
cd "$root"
tools/install-deps.sh build windows

# Configured again (keeping its cache and build type) so that helpers added since are known.
if [ -f "$native/CMakeCache.txt" ]; then
    cmake -S . -B "$native" >/dev/null
else
    cmake --preset default -B "$native" -DOSTREVAN_TESTS=OFF >/dev/null
fi
cmake --build "$native" -j "$(nproc)" --target pty-peer ostrevan-sim test-image

cmake --preset windows -B "$build" -DOSTREVAN_NATIVE_BUILD="$native" >/dev/null
cmake --build "$build" -j "$(nproc)"

# shellcheck source=tools/wine-env.sh
source tools/wine-env.sh "$build"
trap wine_env_stop EXIT
wine_env_start
# shellcheck disable=SC2086
ctest --test-dir "$build" --output-on-failure -j "$(nproc)" ${CTEST_ARGS:-}
cpack --config "$build/CPackConfig.cmake"
