#!/usr/bin/env bash
# Builds the libFuzzer target over the launcher's main sequence and runs it.
#
#   tools/fuzz.sh short            the regression inputs and the seeds, then a
#                                  bounded fuzz run (for make test)
#   tools/fuzz.sh long [SECONDS]   a long run on all cores, 600 s by default
#                                  (for make fuzz)
#
# Environment: BUILD_DIR (default build/fuzz), JOBS (default 2),
# SHORT_SECONDS (default 60), SHORT_RUNS (default 300000).
# Exits nonzero when an input crashes or breaks an outcome check; the input is
# then in $BUILD_DIR/fuzz-artifacts/ and belongs in tests/fuzz/regressions/
# once the fault is mended.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."

mode=${1:-short}
BUILD_DIR=${BUILD_DIR:-build/fuzz}
JOBS=${JOBS:-2}
SANITIZE="-fsanitize=fuzzer-no-link,address,undefined -fno-sanitize-recover=undefined -fno-omit-frame-pointer"

case "$mode" in
  short) ;;
  long) seconds=${2:-600} ;;
  *) echo "usage: $0 short | long [SECONDS]" >&2; exit 2 ;;
esac

# A configure that failed halfway leaves a cache without build files.
if [[ ! -f "$BUILD_DIR/CMakeCache.txt" || ! -f "$BUILD_DIR/Makefile" ]]; then
  cmake -S . -B "$BUILD_DIR" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
    -DSTUB_FUZZ=ON -DCMAKE_CXX_FLAGS="$SANITIZE"
fi
cmake --build "$BUILD_DIR" -j"$JOBS" --target launcher_fuzzer fuzz_seeds
cmake --build "$BUILD_DIR" --target fuzz_corpus

fuzzer="$BUILD_DIR/tests/fuzz/launcher_fuzzer"
seeds="$BUILD_DIR/tests/fuzz/seed-corpus"
corpus="$BUILD_DIR/tests/fuzz/corpus"
artifacts="$BUILD_DIR/fuzz-artifacts"
mkdir -p "$corpus" "$artifacts"

# Leaks count as crashes, except for the blocks a fatal path leaves to the
# end of the process, as the real launcher does.
# The sanitizers name functions only through llvm-symbolizer, and the leak
# suppressions match function names: without it every report is anonymous
# and no suppression applies.
if [[ -z ${ASAN_SYMBOLIZER_PATH:-} ]]; then
  ASAN_SYMBOLIZER_PATH=$(command -v llvm-symbolizer || command -v llvm-symbolizer-14 || true)
  [[ -n $ASAN_SYMBOLIZER_PATH ]] || { echo "$0: llvm-symbolizer not found (make deps installs llvm-14)" >&2; exit 1; }
  export ASAN_SYMBOLIZER_PATH
fi
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1}
export LSAN_OPTIONS=${LSAN_OPTIONS:-suppressions=$PWD/tools/lsan-fatal-paths.supp:print_suppressions=0}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}

# libFuzzer's own per-input leak check rescans the heap after every input
# that ends in a box, which costs nearly all the speed; the regression and
# seed runs above check every input for leaks instead.
common=(-rss_limit_mb=2048 -timeout=10 -detect_leaks=0 -print_final_stats=1
        -artifact_prefix="$artifacts/")

report() {
  local log=$1 status=$2
  local runs
  # A single process prints its final stats; fork mode only its progress
  # lines ("#N: cov: ...").
  runs=$(grep -ho 'stat::number_of_executed_units: *[0-9]*' "$log" | awk '{s += $2} END {print s + 0}' || true)
  if [[ ${runs:-0} == 0 ]]; then
    runs=$(grep -o '^#[0-9]*' "$log" | tail -n 1 | tr -d '#' || true)
  fi
  echo "fuzz: $runs executions"
  if [[ $status -ne 0 ]]; then
    echo "fuzz: FAILED (exit $status); crashing inputs:" >&2
    ls -l "$artifacts" >&2
    grep -h -m5 -E 'ERROR: |launcher outcome violated|SUMMARY' "$log" >&2 || true
    return 1
  fi
  echo "fuzz: no crash"
}

case "$mode" in
  short)
    ctest --test-dir "$BUILD_DIR" -R '^fuzz\.' --output-on-failure
    # Every generated seed once, leaks checked after each.
    "$fuzzer" -runs=0 "$seeds" >"$BUILD_DIR/fuzz-seeds.log" 2>&1 \
      || { tail -n 40 "$BUILD_DIR/fuzz-seeds.log" >&2; echo "fuzz: a seed failed" >&2; exit 1; }
    log="$BUILD_DIR/fuzz-short.log"
    status=0
    "$fuzzer" "${common[@]}" -max_total_time="${SHORT_SECONDS:-60}" -runs="${SHORT_RUNS:-300000}" \
      "$corpus" "$seeds" tests/fuzz/seeds >"$log" 2>&1 || status=$?
    report "$log" "$status"
    ;;
  long)
    log="$BUILD_DIR/fuzz-long.log"
    status=0
    # fork mode shares one corpus between the workers and stops at the first
    # crash.
    "$fuzzer" "${common[@]}" -fork="$JOBS" -max_total_time="$seconds" \
      "$corpus" "$seeds" tests/fuzz/seeds >"$log" 2>&1 || status=$?
    report "$log" "$status"
    ;;
esac
