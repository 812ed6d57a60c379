#!/usr/bin/env bash
# Checks that the C++ sources pass clang-format and clang-tidy, using the compile commands of
# an existing build (configured here with the default preset if there is none).
#   BUILD_DIR=dir   build folder (default: build in the repository; a relative one is taken
#                   from where this runs)
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="$(realpath -m -- "${BUILD_DIR:-$root/build}")"
cd "$root"
tools/install-deps.sh build test lint
mapfile -t files < <(git ls-files '*.h' '*.cpp')
clang-format --dry-run -Werror "${files[@]}"
[ -f "$build/compile_commands.json" ] || cmake --preset default -B "$build" >/dev/null
# The Windows sources and their tests are not in a native build's compile commands.
mapfile -t sources < <(git ls-files '*.cpp' | grep -Ev '(^|/)win32/')
# One file a clang-tidy, as many at once as there are cores; findings go to standard output,
# the counts of the system headers' hidden warnings to standard error. The compile commands
# may be gcc's, with warning options clang does not know.
printf '%s\0' "${sources[@]}" |
    xargs -0 -n 1 -P "$(nproc)" clang-tidy -p "$build" --quiet \
        --extra-arg=-Wno-unknown-warning-option 2>/dev/null ||
    { echo "lint: clang-tidy findings above" >&2; exit 1; }
echo "lint: clean"
