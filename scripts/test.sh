#!/usr/bin/env bash
# Installs what is missing, then builds and tests the tree twice: a normal build and one under
# AddressSanitizer + UndefinedBehaviorSanitizer. Fuzz targets run when clang is there.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
cd "$root"
bash scripts/setup-debian.sh
jobs="$(nproc)"
export QT_QPA_PLATFORM=offscreen
export ASAN_OPTIONS="detect_leaks=1:abort_on_error=1:${ASAN_OPTIONS:-}"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1:${UBSAN_OPTIONS:-}"

run_build() {
  local dir="$1"; shift
  cmake -S . -B "$dir" -G Ninja "$@" >/dev/null
  cmake --build "$dir" -j "$jobs"
  ctest --test-dir "$dir" --output-on-failure -j "$jobs" --timeout 300
}

run_build build -DCMAKE_BUILD_TYPE=RelWithDebInfo
run_build build-asan -DCMAKE_BUILD_TYPE=Debug -DSELLMETER_SANITIZE=ON -DSELLMETER_BENCH=OFF
if command -v clang++ >/dev/null && [ -d tests/fuzz ]; then
  run_build build-fuzz -DCMAKE_BUILD_TYPE=Debug -DSELLMETER_FUZZ=ON \
    -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++
fi
