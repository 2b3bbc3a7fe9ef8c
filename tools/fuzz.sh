#!/usr/bin/env bash
# Builds the libFuzzer targets and runs them: the launcher's main sequence
# (launcher), what pkgtool inspect and verify do with a package (package),
# the launcher's settings resource read by the stub and by pkgtool
# (settings), and pkgtool's reading of a PE image (pe).
#
#   tools/fuzz.sh short            every target's regression inputs and seeds,
#                                  then a bounded fuzz run of each (make test)
#   tools/fuzz.sh long [SECONDS]   a long run of one target on all cores,
#                                  600 s by default; FUZZ_TARGET=all runs
#                                  each target in turn for SECONDS (make fuzz)
#
# Environment: BUILD_DIR (default build/fuzz), JOBS (default 2),
# FUZZ_TARGET (long runs: launcher, the default, package, settings, pe or
# all), SHORT_SECONDS (default 60), SHORT_RUNS (default 300000),
# PACKAGE_SHORT_SECONDS (default 20, also for settings and pe),
# SETTINGS_MAX_LEN (default 8192: the settings target's largest input).
# Each run adds its executions to a total kept beside the target's corpus
# (<corpus>.executions), which goes when the corpus goes.
# Exits nonzero when an input crashes or breaks an outcome check; the input is
# then in $BUILD_DIR/fuzz-artifacts/ and belongs in tests/fuzz/regressions/
# (the package target's in tests/fuzz/regressions/package/) once the fault is
# mended.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."

mode=${1:-short}
BUILD_DIR=${BUILD_DIR:-build/fuzz}
JOBS=${JOBS:-2}
# Sibling calls stay calls, so that every frame shows in a sanitizer's stack:
# the leak suppressions name the functions that allocate, and a tail call
# from them into malloc would hide them.
SANITIZE="-fsanitize=fuzzer-no-link,address,undefined -fno-sanitize-recover=undefined -fno-omit-frame-pointer -fno-optimize-sibling-calls"

case "$mode" in
  short) ;;
  long) seconds=${2:-600} ;;
  *) echo "usage: $0 short | long [SECONDS]" >&2; exit 2 ;;
esac
target=${FUZZ_TARGET:-launcher}
case "$target" in
  launcher | package | settings | pe | all) ;;
  *) echo "FUZZ_TARGET: '$target' is none of launcher, package, settings, pe, all" >&2; exit 2 ;;
esac

# A configure that failed halfway leaves a cache without build files; one
# made with other flags is configured again.
if [[ ! -f "$BUILD_DIR/CMakeCache.txt" || ! -f "$BUILD_DIR/Makefile" ]] ||
   ! grep -qsxF "CMAKE_CXX_FLAGS:STRING=$SANITIZE" "$BUILD_DIR/CMakeCache.txt"; then
  cmake -S . -B "$BUILD_DIR" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
    -DSTUB_FUZZ=ON -DCMAKE_CXX_FLAGS="$SANITIZE"
fi
cmake --build "$BUILD_DIR" -j"$JOBS" --target launcher_fuzzer package_fuzzer settings_fuzzer pe_fuzzer fuzz_seeds
cmake --build "$BUILD_DIR" --target fuzz_corpus

artifacts="$BUILD_DIR/fuzz-artifacts"
mkdir -p "$artifacts"

# The paths of one target: fuzzer, generated seeds, kept corpus, committed
# seeds (a folder that may be absent).
select_target() {
  local dir="$BUILD_DIR/tests/fuzz"
  case "$1" in
    launcher)
      fuzzer="$dir/launcher_fuzzer" seeds="$dir/seed-corpus" corpus="$dir/corpus"
      committed=tests/fuzz/seeds ;;
    package | settings | pe)
      fuzzer="$dir/${1}_fuzzer" seeds="$dir/$1-seed-corpus"
      corpus="$dir/$1-corpus" committed=tests/fuzz/$1-seeds ;;
  esac
  # The settings resource of a real stub is a few kilobytes.
  limits=()
  [[ $1 == settings ]] && limits=(-max_len="${SETTINGS_MAX_LEN:-8192}")
  total_file="$corpus.executions"
  # A total without its corpus (or a corpus made afresh) counts from zero.
  if [[ ! -d $corpus ]]; then
    rm -f "$total_file"
    mkdir -p "$corpus"
  fi
  inputs=("$corpus" "$seeds")
  [[ -d $committed ]] && inputs+=("$committed")
  return 0
}

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
  local runs total stats progress
  # fork mode counts every worker's executions in its progress lines
  # ("#N: cov: ...") and copies in the final stats of some workers, which
  # must not be counted again; a single process prints its final stats.
  progress=$(grep -E '^#[0-9]+: cov: ' "$log" | tail -n 1 || true)
  if [[ -n $progress ]]; then
    runs=$(sed -E 's/^#([0-9]+):.*/\1/' <<<"$progress")
  else
    runs=$(grep -ho 'stat::number_of_executed_units: *[0-9]*' "$log" | awk '{s += $2} END {print s + 0}' || true)
    if [[ ${runs:-0} == 0 ]]; then
      runs=$(grep -o '^#[0-9]*' "$log" | tail -n 1 | tr -d '#' || true)
    fi
    progress=$(grep -E '^#[0-9]+.*cov: ' "$log" | tail -n 1 || true)
  fi
  echo "fuzz: $runs executions"
  total=$(( $(cat "$total_file" 2>/dev/null || echo 0) + ${runs:-0} ))
  echo "$total" >"$total_file"
  # The last progress line: coverage and corpus as the run left them.
  stats=$(sed -E 's/.*cov: ([0-9]+).*corp: ([0-9]+).*/coverage \1, corpus \2 inputs/' <<<"$progress")
  echo "fuzz: $target: $runs executions added, $total in total on $corpus${stats:+ ($stats)}"
  if [[ $status -ne 0 ]]; then
    echo "fuzz: FAILED (exit $status); crashing inputs:" >&2
    ls -l "$artifacts" >&2
    grep -h -m5 -E 'ERROR: |outcome violated|above the ceiling|SUMMARY' "$log" >&2 || true
    return 1
  fi
  echo "fuzz: no crash"
}

short_run() {
  local seconds=$1 log status=0
  select_target "$target"
  # Every generated seed once, leaks checked after each.
  "$fuzzer" -runs=0 "$seeds" >"$BUILD_DIR/fuzz-seeds-$target.log" 2>&1 \
    || { tail -n 40 "$BUILD_DIR/fuzz-seeds-$target.log" >&2; echo "fuzz: a $target seed failed" >&2; exit 1; }
  log="$BUILD_DIR/fuzz-short$([[ $target == launcher ]] || echo "-$target").log"
  "$fuzzer" "${common[@]}" "${limits[@]}" -max_total_time="$seconds" -runs="${SHORT_RUNS:-300000}" \
    "${inputs[@]}" >"$log" 2>&1 || status=$?
  report "$log" "$status"
}

case "$mode" in
  short)
    ctest --test-dir "$BUILD_DIR" -R '^fuzz\.' --output-on-failure
    target=launcher short_run "${SHORT_SECONDS:-60}"
    for target in package settings pe; do
      short_run "${PACKAGE_SHORT_SECONDS:-20}"
    done
    ;;
  long)
    targets=("$target")
    [[ $target == all ]] && targets=(launcher package settings pe)
    for target in "${targets[@]}"; do
      select_target "$target"
      log="$BUILD_DIR/fuzz-long$([[ $target == launcher ]] || echo "-$target").log"
      status=0
      # fork mode shares one corpus between the workers and stops at the
      # first crash.
      "$fuzzer" "${common[@]}" "${limits[@]}" -fork="$JOBS" -max_total_time="$seconds" \
        "${inputs[@]}" >"$log" 2>&1 || status=$?
      report "$log" "$status"
    done
    ;;
esac
