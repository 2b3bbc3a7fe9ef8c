#!/usr/bin/env bash
# End-to-end runs of the launcher under Wine: the wine_tests suite
# (tests/wine/*Test.cpp), through CTest, against the stub given.
#
#   tests/wine/e2e.sh STUB.exe [PKGTOOL] [SETUPPROG_DIR]
#
# STUB may be Stub32.exe or, where Wine cannot run 32-bit programs, the
# test-only Stub64.exe; the suite reads which one it is from the file and
# skips, by name and with the reason, what that stub or this Wine cannot show.
# The suite writes its packages itself and builds its own setup programs, so
# PKGTOOL and SETUPPROG_DIR are accepted but not needed. The host build
# (HOST_BUILD, default build/host) must be configured and built.
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
stub=$(realpath "${1:?usage: e2e.sh STUB.exe [PKGTOOL] [SETUPPROG_DIR]}")
build=${HOST_BUILD:-$root/build/host}
[[ -f $build/CMakeCache.txt ]] || { echo "e2e: no host build in $build (run make dist)" >&2; exit 1; }

# Configure again: a tree configured before the Wine tests existed lacks them.
cmake "$build" >/dev/null
cmake --build "$build" -j"${JOBS:-2}" --target wine_tests >/dev/null
STUB32_EXE=$stub STUB64_EXE=$stub \
  ctest --test-dir "$build" -L wine --output-on-failure -j"${JOBS:-2}"
