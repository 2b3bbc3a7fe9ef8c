#!/usr/bin/env bash
# End-to-end runs of the launcher under Wine: the wine_tests suite
# (tests/wine/*Test.cpp), through CTest, then a report of which stub every
# case ran on and why the others were skipped.
#
#   tests/wine/e2e.sh [STUB32.exe] [STUB64.exe]
#
# STUB32 (default dist/Stub32.exe) is the launcher that ships; it runs
# wherever Wine can run 32-bit programs, through the tier tools/wine32-tier.sh
# chooses: the installed 32-bit Wine (native system), Debian's i386 Wine from
# build/wine32 run natively (native private), or that Wine under qemu
# (emulated; WINE32_EMULATE=1 asks for it on a kernel that runs 32-bit code).
# Only where none works does the suite fall back to STUB64 (default
# build/win64/Stub64.exe), the test-only 64-bit build of the same sources.
# The host build (HOST_BUILD, default build/host) must be configured and built.
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
stub32=$(realpath -m "${1:-$root/dist/Stub32.exe}")
stub64=$(realpath -m "${2:-$root/build/win64/Stub64.exe}")
build=${HOST_BUILD:-$root/build/host}
[[ -f $build/CMakeCache.txt ]] || { echo "e2e: no host build in $build (run make dist)" >&2; exit 1; }

unset WINE32_TIER WINE32_WHY WINE64 WINE32 WINESERVER WINE32_QEMU WINE32_CPUS WINE32_CPUS_WHY
tier=$(bash "$root/tools/wine32-tier.sh" "${WINE32_DIR:-$root/build/wine32}") \
  || { echo "e2e: the 32-bit Wine tier does not work (see above)" >&2; exit 1; }
eval "$tier"
export WINE32_TIER WINE32_WHY WINE64 WINE32 WINESERVER WINE32_QEMU WINE32_CPUS WINE32_CPUS_WHY
[[ $WINE32_TIER != none ]] || echo "e2e: 32-bit programs cannot run here ($WINE32_WHY); testing $stub64" >&2

# Configure again: a tree configured before the Wine tests existed lacks them.
cmake "$build" >/dev/null
cmake --build "$build" -j"${JOBS:-2}" --target wine_tests >/dev/null
status=0
STUB32_EXE=$stub32 STUB64_EXE=$stub64 \
  ctest --test-dir "$build" -L wine --output-on-failure -j"${JOBS:-2}" || status=$?

report=${WINE_TESTS_WORKDIR:-$(cmake -L -N "$build" 2>/dev/null | sed -n "s/^WINE_TESTS_WORKDIR:PATH=//p")}/report.txt
if [[ -f $report ]]; then
  echo
  echo "Wine cases by outcome and stub (32-bit Wine: ${WINE32_TIER/-/ }, because $WINE32_WHY):"
  sort -k1,1 -k2,2 "$report" | sed 's/^/  /'
  echo "  -- $(grep -c '^passed' "$report" || true) passed, $(grep -c '^FAILED' "$report" || true) failed," \
    "$(grep -c '^skipped' "$report" || true) skipped"
fi
exit $status
