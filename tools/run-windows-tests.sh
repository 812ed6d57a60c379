#!/usr/bin/env bash
# Cross-builds the Windows program and its tests with MinGW-w64 and runs the tests under a
# headless Wine (Xvfb, a Wine prefix inside the build folder).
#   BUILD_DIR=dir     build folder (default: build-windows)
#   CTEST_ARGS="..."  extra ctest arguments (for example -L system)
set -euo pipefail
cd "$(dirname "$0")/.."
build="${BUILD_DIR:-build-windows}"
cmake -S . -B "$build" -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake \
    -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" -j "$(nproc)"

# shellcheck source=tools/wine-env.sh
source tools/wine-env.sh "$build"
trap wine_env_stop EXIT
wine_env_start
# shellcheck disable=SC2086
ctest --test-dir "$build" --output-on-failure -j "$(nproc)" ${CTEST_ARGS:-}
