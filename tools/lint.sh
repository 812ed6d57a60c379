#!/usr/bin/env bash
# Checks that the C++ sources pass clang-format and clang-tidy (needs a configured build/).
set -euo pipefail
cd "$(dirname "$0")/.."
mapfile -t files < <(git ls-files '*.h' '*.cpp')
clang-format --dry-run -Werror "${files[@]}"
build="${BUILD_DIR:-build}"
[ -f "$build/compile_commands.json" ] || cmake -S . -B "$build" >/dev/null
mapfile -t sources < <(git ls-files '*.cpp' | grep -v '^platform/win32/')
clang-tidy -p "$build" --quiet "${sources[@]}" 2>/dev/null
echo "lint: clean"
