#!/usr/bin/env bash
# Installs what is missing, builds everything and runs every test, in one of the configurations
# of CMakePresets.json (`cmake --list-presets`).
#   PRESET=name       default (RelWithDebInfo, the default), asan (Debug with ASan+UBSan),
#                     tsan (Release with TSan)
#   BUILD_TYPE=type   another build type than the preset's: Debug, Release, RelWithDebInfo
#                     or MinSizeRel
#   BUILD_DIR=dir     build folder (default: the preset's, build or build-<preset> in the
#                     repository; a relative one is taken from where this runs)
#   CTEST_ARGS="..."  extra ctest arguments (for example -L engine)
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
preset="${PRESET:-default}"
folder="build"
[ "$preset" = default ] || folder="build-$preset"
build="$(realpath -m -- "${BUILD_DIR:-$root/$folder}")"
cd "$root"
tools/install-deps.sh build test
cmake --preset "$preset" -B "$build" ${BUILD_TYPE:+"-DCMAKE_BUILD_TYPE=$BUILD_TYPE"} >/dev/null
cmake --build "$build" -j "$(nproc)"
# shellcheck disable=SC2086
ctest --test-dir "$build" --output-on-failure -j "$(nproc)" ${CTEST_ARGS:-}
