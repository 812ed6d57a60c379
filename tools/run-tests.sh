#!/usr/bin/env bash
# Installs what is missing, builds everything and runs every test.
#   OSTREVAN_SANITIZE=address|thread  build with ASan+UBSan or TSan
#   BUILD_TYPE=type                   Debug, Release, RelWithDebInfo (the default) or MinSizeRel
#   BUILD_DIR=dir                     build folder (default: build, or build-<sanitizer>, in the
#                                     repository; a relative one is taken from where this runs)
#   CTEST_ARGS="..."                  extra ctest arguments (for example -L engine)
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
sanitize="${OSTREVAN_SANITIZE:-}"
build="${BUILD_DIR:-$root/build${sanitize:+-$sanitize}}"
"$root/tools/install-deps.sh" build test
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE="${BUILD_TYPE:-RelWithDebInfo}" \
    -DOSTREVAN_WERROR=ON -DOSTREVAN_TESTS=ON -DOSTREVAN_SANITIZE="$sanitize" >/dev/null
cmake --build "$build" -j "$(nproc)"
# shellcheck disable=SC2086
ctest --test-dir "$build" --output-on-failure -j "$(nproc)" ${CTEST_ARGS:-}
