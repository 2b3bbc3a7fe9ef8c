#!/usr/bin/env bash
# The largest setup program a package can hold, launched end to end under
# Wine once: its wall time and the launcher's peak memory growth.
#
#   bench/largest.sh [MiB]      default 2047 (0x7FF00000 bytes; the cap is 0x7FFE0000)
#
# The program is the stand-in of startup.sh followed by text-like data only,
# packed at LZMA level 1 with the usual 4 MiB dictionary, so that packing it
# takes a minute or two rather than an hour. It needs about 3 times the
# program's size in free disk space (program, package, the launcher's copy).
# Environment as for startup.sh (STUB, PKGTOOL, BENCH_WORK).
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
stub=$(realpath "${STUB:-$root/build/win64/Stub64.exe}")
pkgtool=$(realpath "${PKGTOOL:-$root/dist/pkgtool}")
work=${BENCH_WORK:-$root/build/bench-startup}
mib=${1:-2047}

fail() { echo "largest: $*" >&2; exit 1; }
[[ -f $stub ]] || fail "no stub $stub (run make stub64)"
[[ -x $pkgtool ]] || fail "no pkgtool $pkgtool (run make dist)"
wine64=$(command -v wine64 || echo /usr/lib/wine/wine64)
wineserver=$(command -v wineserver || echo /usr/lib/wine/wineserver)

mkdir -p "$work"
work=$(cd "$work" && pwd)
# QuickSetup is a 64-bit program and goes into the x86 slot, the one slot the
# 64-bit test stub starts: hence --allow-any-program on the builds below.
quick=$work/QuickSetup.exe
[[ -f $quick ]] || x86_64-w64-mingw32-gcc -Os -nostdlib -mwindows -Wl,--entry=QuickSetupEntry \
  "$root/bench/QuickSetup.c" -lkernel32 -o "$quick"
generator=$work/MakeSetupProgram
[[ -x $generator ]] || g++ -O2 -std=c++17 "$root/bench/MakeSetupProgram.cpp" -o "$generator"

export WINEPREFIX=$work/prefix WINEARCH=win64 WINELOADER=$wine64 WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
unset DISPLAY WAYLAND_DISPLAY
if [[ ! -f $WINEPREFIX/system.reg ]]; then
  "$wine64" wineboot -i >/dev/null 2>&1
  "$wineserver" -w
fi

program=$work/largest-$mib.exe
package=$work/largest-package-$mib.exe
if [[ ! -f $program ]]; then
  echo "generating a $mib MiB setup program" >&2
  "$generator" "$quick" "$program" "$mib" 100
fi
if [[ ! -f $package || $program -nt $package || $stub -nt $package ]]; then
  echo "packing it at level 1" >&2
  "$pkgtool" build -q --level 1 -o "$package" --stub "$stub" --x86 "$program" --allow-any-program
fi
size=$(stat -c %s "$program")
packed=$(stat -c %s "$package")
dict=$("$pkgtool" inspect --json "$package" | jq -r '.header.lzma.dictionarySize')

"$wineserver" -p 2>/dev/null || true
trap '"$wineserver" -k >/dev/null 2>&1 || true' EXIT
"$wine64" cmd /c exit >/dev/null 2>&1 || true
# Wine's own footprint: the same stub on a package of the stand-in alone.
base=$work/package-base.exe
[[ -f $base && $base -nt $stub ]] || "$pkgtool" build -q -o "$base" --stub "$stub" --x86 "$quick" --allow-any-program
basePeak=$(/usr/bin/time -f %M "$wine64" "$base" 2>&1 >/dev/null | tail -n 1)

start=$(date +%s.%N)
peak=$(/usr/bin/time -f %M "$wine64" "$package" 2>&1 >/dev/null | tail -n 1)
end=$(date +%s.%N)
leftovers=$(find "$WINEPREFIX/drive_c" -path '*Temp*' -type f -size +1M 2>/dev/null | wc -l)
[[ $leftovers -eq 0 ]] || fail "the launcher left $leftovers large files in the temporary folder"
awk -v mib="$mib" -v size="$size" -v packed="$packed" -v t="$(awk -v s="$start" -v e="$end" 'BEGIN { print e - s }')" \
    -v peak="$peak" -v base="$basePeak" -v dict="$dict" 'BEGIN {
  growth = (peak - base) / 1024
  printf "| %d MiB (%d bytes, %.1f MiB packed) | %.1f s | %.1f s per GiB | %.1f MiB | window + 4 MiB = %.1f MiB | %s |\n",
    mib, size, packed / 1048576, t, t / (size / 1073741824), growth, dict / 1048576 + 4,
    growth <= dict / 1048576 + 4 ? "yes" : "no"
}'
