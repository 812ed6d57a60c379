#!/usr/bin/env bash
# Builds the libFuzzer programs with clang (the fuzz preset) and runs each for a bounded time
# from its seed corpus under tests/fuzz/corpus/<name without fuzz_>.
#   FUZZ_SECONDS=n   time per program (default 30)
#   BUILD_DIR=dir    build folder (default: build-fuzz in the repository; a relative one is
#                    taken from where this runs)
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
seconds="${FUZZ_SECONDS:-30}"
build="$(realpath -m -- "${BUILD_DIR:-$root/build-fuzz}")"
cd "$root"
tools/install-deps.sh build fuzz
cmake --preset fuzz -B "$build" >/dev/null
targets=()
for source in tests/fuzz/*.cpp; do
  targets+=("$(basename "$source" .cpp)")
done
cmake --build "$build" -j "$(nproc)" --target "${targets[@]}"
# The programs run side by side, each on a core of its own where there are enough; each one's
# report is shown once all have ended.
pids=()
for target in "${targets[@]}"; do
  seeds="tests/fuzz/corpus/${target#fuzz_}"
  work="$build/fuzz-work/${target}"
  mkdir -p "$work"
  # new inputs go to the work folder, so the committed seeds stay as they are
  "$build/tests/fuzz/$target" -max_total_time="$seconds" -print_final_stats=1 "$work" "$seeds" \
    >"$build/fuzz-work/$target.log" 2>&1 &
  pids+=($!)
done
status=0
for i in "${!targets[@]}"; do
  wait "${pids[$i]}" || status=1
  echo "== ${targets[$i]} for ${seconds}s =="
  cat "$build/fuzz-work/${targets[$i]}.log"
done
exit "$status"
