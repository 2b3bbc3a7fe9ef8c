#!/usr/bin/env bash
# The 32-bit Wine tier's choice, on this machine: tools/wine32-tier.sh is run
# on a folder of its own, made from the Wine packages build/wine32 already
# fetched, and must
#   - choose the tier the kernel allows (native where an i386 program runs,
#     emulated where not), and emulated when WINE32_EMULATE=1 asks for it;
#   - hand over a 32-bit loader that runs the tier's way (under qemu or not)
#     and lies beside the 64-bit one, since Wine starts its own 32-bit
#     programs through the `wine` beside the running wine64; and still the
#     native one after an emulated run;
#   - hand over a 32-bit loader that starts;
#   - stop with an error, naming the tier, when that loader does not start.
#
#   tests/wine/tier_test.sh [WINE32_DIR]   default build/wine32 (made by make wine32-tier)
#
# Exits 0 when every check holds, 77 when there is nothing to test with (no
# Wine, no fetched packages, a system 32-bit Wine that leaves the private
# folder unused), 1 otherwise.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
made=$(realpath -m "${1:-$root/build/wine32}")
skip() { echo "tier_test: SKIP: $*" >&2; exit 77; }
ls "$made"/debs/wine32_*_i386.deb >/dev/null 2>&1 || skip "no fetched Wine packages in $made/debs (run make wine32-tier)"

# Beside the real folder, so that its packages can be hard-linked (a
# temporary folder may lie on another file system, as in a fresh root).
scratch=$(mktemp -d "$(dirname "$made")/tier-test.XXXXXX")
trap 'rm -rf "$scratch"' EXIT
checks=0 failures=0
check() {  # check DESCRIPTION COMMAND...: the command must succeed
  checks=$((checks + 1))
  local what=$1
  shift
  "$@" || { echo "tier_test: FAIL: $what" >&2; failures=$((failures + 1)); }
}

# A folder of its own, from the packages already fetched: the real one is
# never touched.
dir=$scratch/wine32
mkdir -p "$dir"
cp -al "$made/debs" "$dir/debs" 2>/dev/null || { rm -rf "$dir/debs"; cp -a "$made/debs" "$dir/debs"; }
tier() { env -u WINE32_EMULATE "$@" bash "$root/tools/wine32-tier.sh" "$dir" 2>"$scratch/tier.err"; }

# The kernel's answer, asked the way the tier asks it.
kernel=emulated status=0
"$made/cpuid-probe" 2>/dev/null || status=$?
[[ $status -ge 4 && $status -le 7 ]] && kernel=native
out=$(tier) || { cat "$scratch/tier.err" >&2; echo "tier_test: FAIL: the tier could not be set up" >&2; exit 1; }
eval "$out"
[[ $WINE32_TIER != native-system ]] || skip "a 32-bit Wine is installed; the private folder is not the tier here"
[[ $WINE32_TIER != none ]] || skip "no 32-bit Wine can be had here: $WINE32_WHY"

expect() {  # <what> <tier> <under qemu: yes|no>
  check "$1: tier $2 (got $WINE32_TIER)" test "$WINE32_TIER" == "$2"
  check "$1: the 32-bit loader is the wine beside wine64" test "$WINE32" == "$(dirname "$WINE64")/wine"
  local qemu=no
  grep -q qemu-i386 "$WINE32" && qemu=yes
  check "$1: the 32-bit loader under qemu: $3 (got $qemu)" test "$qemu" == "$3"
  check "$1: the 32-bit loader starts" bash -c '[[ $("$0" --version) == wine-* ]]' "$WINE32"
  check "$1: the message names the tier" grep -q "^wine32-tier: ${2/-/ }: " "$scratch/tier.err"
}
if [[ $kernel == native ]]; then
  expect "kernel runs 32-bit code" native-private no
  if command -v qemu-i386-static >/dev/null; then
    check "the processor models come with a loader under qemu" test -n "${WINE32_QEMU:-}"
    eval "$(tier WINE32_EMULATE=1)"
    expect "WINE32_EMULATE=1" emulated yes
    check "WINE32_EMULATE=1: the reason says so" grep -q "WINE32_EMULATE=1" <<<"$WINE32_WHY"
    eval "$(tier)"
    expect "back to native" native-private no
  fi
  broken=native-private
else
  expect "kernel runs no 32-bit code" emulated yes
  check "the reason says the kernel runs no 32-bit code" grep -q "runs no 32-bit code" <<<"$WINE32_WHY"
  broken=emulated
fi
loader=$WINE32

# A loader that does not start: the tier stops, and says which.
rm "$loader"
printf '#!/bin/sh\necho "cannot start" >&2\nexit 1\n' >"$loader"
chmod +x "$loader"
status=0
tier >/dev/null || status=$?
check "a loader that does not start fails the run (exit $status)" test "$status" -ne 0
check "and the message names the tier" grep -q "^wine32-tier: ${broken/-/ }: .*does not start" "$scratch/tier.err"
echo "tier_test: $((checks - failures)) of $checks checks held (kernel: $kernel)"
[[ $failures -eq 0 ]]
