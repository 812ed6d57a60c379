#!/usr/bin/env bash
# Builds everything and runs every test.
#   OSTREVAN_SANITIZE=address|thread  build with ASan+UBSan or TSan
#   BUILD_DIR=dir                     build folder (default: build, or build-<sanitizer>)
#   CTEST_ARGS="..."                  extra ctest arguments (for example -L engine)
set -euo pipefail
cd "$(dirname "$0")/.."
sanitize="${OSTREVAN_SANITIZE:-}"
build="${BUILD_DIR:-build${sanitize:+-$sanitize}}"
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DOSTREVAN_SANITIZE="$sanitize" >/dev/null
cmake --build "$build" -j "$(nproc)"
# shellcheck disable=SC2086
ctest --test-dir "$build" --output-on-failure -j "$(nproc)" ${CTEST_ARGS:-}
