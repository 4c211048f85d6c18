#!/usr/bin/env bash
# Builds everything and runs every test: the normal build, then the
# sanitizer builds (ASan+UBSan for all tests, TSan for the threaded ones).
# KESTRELON_QUICK=1 runs the normal build only.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh

JOBS=$(nproc)
run_build() { # dir, extra cmake args...
  local dir=$1; shift
  cmake -S . -B "$dir" -G Ninja -DKESTRELON_UI=ON "$@" >/dev/null
  cmake --build "$dir" -j "$JOBS"
}

run_build build
ctest --test-dir build -j "$JOBS" --output-on-failure

if [ "${KESTRELON_QUICK:-0}" != "1" ]; then
  run_build build-asan -DKESTRELON_SANITIZE=address -DKESTRELON_BENCH=OFF -DKESTRELON_UI=OFF
  ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
    ctest --test-dir build-asan -j "$JOBS" --output-on-failure
  run_build build-tsan -DKESTRELON_SANITIZE=thread -DKESTRELON_BENCH=OFF -DKESTRELON_UI=OFF
  TSAN_OPTIONS=halt_on_error=1 ctest --test-dir build-tsan -j "$JOBS" -L threads --output-on-failure --no-tests=ignore
fi
