#!/usr/bin/env bash
# Builds everything and runs every test: the normal build, then the
# sanitizer builds (ASan+UBSan for all tests, TSan for the threaded ones).
# All of it runs under one virtual X server, so the user interface's tests
# run on xcb with Mesa's software renderer.
# KESTRELON_QUICK=1 runs the normal build only; KESTRELON_BENCH=ON builds the
# benchmarks too. Each phase prints its time.
set -euo pipefail
cd "$(dirname "$0")/.."

if [ -z "${KESTRELON_UNDER_XVFB:-}" ]; then
  bash scripts/setup.sh
  export KESTRELON_UNDER_XVFB=1
  exec xvfb-run -a -s "-screen 0 1280x1024x24" bash "$0" "$@"
fi
export QT_QPA_PLATFORM=xcb LIBGL_ALWAYS_SOFTWARE=1

JOBS=$(nproc)
START=$SECONDS
TIMES=()
phase() { # name, command...
  local name=$1 t0=$SECONDS
  shift
  echo "== $name"
  "$@"
  TIMES+=("$(printf '%-28s %5d s' "$name" $((SECONDS - t0)))")
  echo "== $name: $((SECONDS - t0)) s"
}
summary() {
  echo "== Phase times (${JOBS} jobs):"
  printf '   %s\n' "${TIMES[@]}"
  echo "   total                        $((SECONDS - START)) s"
}
trap summary EXIT

# Line tables (-g1) are all a failing test's stack needs; full debug
# information would double the compile time.
configure() { # dir, optimisation, extra cmake args...
  local dir=$1 opt=$2
  shift 2
  cmake -S . -B "$dir" -G Ninja -DKESTRELON_UI=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    "-DCMAKE_CXX_FLAGS_RELWITHDEBINFO=$opt -g1 -DNDEBUG" "$@" >/dev/null
}

# The test files themselves compile with less optimisation: they drive the
# code under test and compute little; in the sanitizer builds the user
# interface's library too.
phase "normal: configure" configure build -O2 -DKESTRELON_BENCH="${KESTRELON_BENCH:-OFF}" \
  -DKESTRELON_TEST_OPTIMIZATION=-O1
phase "normal: build" cmake --build build -j "$JOBS"
phase "normal: tests" ctest --test-dir build -j "$JOBS" --output-on-failure

# The libFuzzer targets, built with clang and run once over their corpora
# (the corpora also run as tests in every build).
fuzz_configure() {
  CC=clang CXX=clang++ configure build-fuzz -O1 -DKESTRELON_FUZZ=ON -DKESTRELON_UI=OFF \
    -DKESTRELON_BENCH=OFF -DKESTRELON_ONLY_TESTED=ON
}
fuzz_corpora() {
  local f n
  for f in build-fuzz/bin/fuzz_*Fuzz; do
    n=$(basename "$f" Fuzz)
    n=${n#fuzz_}
    if ! "$f" -runs=0 "tests/fuzz/corpus/$n" >"build-fuzz/$n.log" 2>&1; then
      cat "build-fuzz/$n.log"
      echo "fuzzer $n failed on its corpus"
      return 1
    fi
  done
}

if [ "${KESTRELON_QUICK:-0}" != "1" ]; then
  phase "fuzz: configure" fuzz_configure
  phase "fuzz: build" cmake --build build-fuzz --target fuzzers -j "$JOBS"
  phase "fuzz: corpora" fuzz_corpora
  # The sanitizer builds make only what their tests use. The leak checker's
  # tracer now and then crashes while Mesa's threads end, so a failed test of
  # the ASan build is run up to twice more; every failure stays in the log.
  phase "asan+ubsan: configure" configure build-asan -O1 -DKESTRELON_SANITIZE=address \
    -DKESTRELON_BENCH=OFF -DKESTRELON_ONLY_TESTED=ON -DKESTRELON_TEST_OPTIMIZATION=-O0 -DKESTRELON_UI_OPTIMIZATION=-O0
  phase "asan+ubsan: build" cmake --build build-asan -j "$JOBS"
  phase "asan+ubsan: tests" env ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
    LSAN_OPTIONS="suppressions=$PWD/scripts/lsan.supp:print_suppressions=0" \
    ctest --test-dir build-asan -j "$JOBS" --output-on-failure --repeat until-pass:3
  phase "tsan: configure" configure build-tsan -O1 -DKESTRELON_SANITIZE=thread \
    -DKESTRELON_BENCH=OFF -DKESTRELON_ONLY_TESTED=ON -DKESTRELON_TEST_OPTIMIZATION=-O0 -DKESTRELON_UI_OPTIMIZATION=-O0
  phase "tsan: build" cmake --build build-tsan -j "$JOBS"
  phase "tsan: tests" env TSAN_OPTIONS="halt_on_error=1 suppressions=$PWD/scripts/tsan.supp" \
    ctest --test-dir build-tsan -j "$JOBS" -L threads --output-on-failure --no-tests=ignore
fi
