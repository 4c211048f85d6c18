#!/usr/bin/env bash
# Builds everything and runs every test: the normal build, then the
# sanitizer builds (ASan+UBSan for all tests, TSan for the threaded ones).
# All of it runs under one virtual X server, so the user interface's tests
# run on xcb with Mesa's software renderer.
# KESTRELON_QUICK=1 runs the normal build only.
set -euo pipefail
cd "$(dirname "$0")/.."

if [ -z "${KESTRELON_UNDER_XVFB:-}" ]; then
  bash scripts/setup.sh
  export KESTRELON_UNDER_XVFB=1
  exec xvfb-run -a -s "-screen 0 1280x1024x24" bash "$0" "$@"
fi
export QT_QPA_PLATFORM=xcb LIBGL_ALWAYS_SOFTWARE=1

JOBS=$(nproc)
run_build() { # dir, extra cmake args...
  local dir=$1; shift
  cmake -S . -B "$dir" -G Ninja -DKESTRELON_UI=ON "$@" >/dev/null
  cmake --build "$dir" -j "$JOBS"
}

run_build build
ctest --test-dir build -j "$JOBS" --output-on-failure

if [ "${KESTRELON_QUICK:-0}" != "1" ]; then
  run_build build-asan -DKESTRELON_SANITIZE=address -DKESTRELON_BENCH=OFF
  ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
    LSAN_OPTIONS="suppressions=$PWD/scripts/lsan.supp:print_suppressions=0" \
    ctest --test-dir build-asan -j "$JOBS" --output-on-failure
  run_build build-tsan -DKESTRELON_SANITIZE=thread -DKESTRELON_BENCH=OFF
  TSAN_OPTIONS="halt_on_error=1 suppressions=$PWD/scripts/tsan.supp" \
    ctest --test-dir build-tsan -j "$JOBS" -L threads --output-on-failure --no-tests=ignore
fi
