#!/usr/bin/env bash
# The unit tests under AddressSanitizer and UndefinedBehaviorSanitizer (g++).
#
#   tools/asan-tests.sh [gtest filter]
#
# Environment: BUILD_DIR (default build/asan), JOBS (default 2).
# Any sanitizer report fails the run.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."

BUILD_DIR=${BUILD_DIR:-build/asan}
JOBS=${JOBS:-2}

# A configure that failed halfway leaves a cache without build files.
if [[ ! -f "$BUILD_DIR/CMakeCache.txt" || ! -f "$BUILD_DIR/Makefile" ]]; then
  cmake -S . -B "$BUILD_DIR" -DCMAKE_BUILD_TYPE=Debug \
    -DCMAKE_C_COMPILER=gcc -DCMAKE_CXX_COMPILER=g++ -DSTUB_SANITIZE=ON
fi
cmake --build "$BUILD_DIR" -j"$JOBS" --target unit_tests

# Leaks are checked, except for the few blocks a fatal path leaves to the end
# of the real process (the tests stand in for that end with an exception).
# The sanitizers name functions only through llvm-symbolizer, and the leak
# suppressions match function names: without it every report is anonymous
# and no suppression applies.
if [[ -z ${ASAN_SYMBOLIZER_PATH:-} ]]; then
  ASAN_SYMBOLIZER_PATH=$(command -v llvm-symbolizer || command -v llvm-symbolizer-14 || true)
  [[ -n $ASAN_SYMBOLIZER_PATH ]] || { echo "$0: llvm-symbolizer not found (make deps installs llvm-14)" >&2; exit 1; }
  export ASAN_SYMBOLIZER_PATH
fi
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:halt_on_error=1:detect_stack_use_after_return=1:strict_string_checks=1}
export LSAN_OPTIONS=${LSAN_OPTIONS:-suppressions=$PWD/tools/lsan-fatal-paths.supp:print_suppressions=0}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}

filter=${1:-*}
"$BUILD_DIR/tests/unit_tests" --gtest_filter="$filter" --gtest_brief=1
