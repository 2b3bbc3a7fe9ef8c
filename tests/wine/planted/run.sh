#!/usr/bin/env bash
# Planted-DLL test: DLLs of our own, named like system DLLs that are not always
# taken from the system folder, lie beside a package in its downloads folder,
# with Wine told to prefer native DLLs. The package is run to the start of its
# setup program; none of the planted DLLs may be loaded on the way. The setup
# program is large enough (random data appended) for unpacking to outlast the
# progress window's delay, so the window is made too: its calls are traced,
# and whatever user32 loads for it must come from the system folder as well.
#
# First a control program that loads mpr.dll by plain name runs in the same
# folder and must load the planted one: that shows the test can see planting.
#
#   tests/wine/planted/run.sh [STUB.exe]
#
# The stub defaults to dist/Stub32.exe, run by the Wine that
# tools/wine32-tier.sh finds or makes (native system, native private or
# emulated), or to build/win64/Stub64.exe where 32-bit programs cannot run
# at all; the planted DLLs, the control and the setup program are built for
# the stub's own machine type.
#
# Environment:
#   PLANTED_PREFIX_TEMPLATE  a pristine Wine prefix, made once and copied for
#                            every run (default build/wine-planted-prefix-<wow64|x86_64>)
#   KEEP=1                   keep the work folder
# Exits 0 when the control was caught and the launcher loaded nothing planted,
# 77 when there is no stub or no Wine to test with, 1 otherwise; prints what
# happened either way.
set -euo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
root=$(cd "$here/../../.." && pwd)

fail() {
  echo "planted: FAIL: $*" >&2
  exit 1
}

tier=$(bash "$root/tools/wine32-tier.sh" "${WINE32_DIR:-$root/build/wine32}") \
  || fail "the 32-bit Wine tier does not work (see above)"
eval "$tier"

stub=${1:-${STUB:-}}
if [[ -z $stub ]]; then
  if [[ $WINE32_TIER != none ]]; then stub=$root/dist/Stub32.exe; else stub=$root/build/win64/Stub64.exe; fi
fi
# Nothing to test without a stub or Wine: exit 77, which ctest can count as
# skipped (SKIP_RETURN_CODE 77).
skip() {
  echo "planted: SKIP: $*" >&2
  exit 77
}
[[ -f $stub ]] || skip "no launcher stub at $stub (make dist, or make stub64 where 32-bit programs cannot run)"
wine64=${WINE64:-/usr/lib/wine/wine64}
wineserver=${WINESERVER:-/usr/lib/wine/wineserver}
[[ -x $wine64 ]] || skip "no wine64"
stub=$(cd "$(dirname "$stub")" && pwd)/$(basename "$stub")

# The machine type in the stub's PE header decides everything else.
pe=$(od -An -t u4 -j 60 -N 4 "$stub" | tr -d ' ')
machine=$(od -An -t x2 -j $((pe + 4)) -N 2 "$stub" | tr -d ' ')
# Each program is started by the loader of its own width, so that the log
# shows the program's loads and not those of a loader starting another.
case $machine in
  014c)
    arch=i686
    [[ $WINE32_TIER != none ]] || skip "$stub is a 32-bit program, which cannot run here: $WINE32_WHY"
    wine=$WINE32
    ;;
  8664) arch=x86_64; wine=$wine64 ;;
  *) fail "$stub is not an x86 or x64 Windows program (machine $machine)" ;;
esac
echo "planted: stub $stub ($arch, 32-bit Wine: ${WINE32_TIER/-/ })"

work=$(mktemp -d "${TMPDIR:-/tmp}/planted.XXXXXX")
export WINEPREFIX=$work/prefix WINEDEBUG=-all
cleanup() {
  "$wineserver" -k >/dev/null 2>&1 || true
  if [[ ${KEEP:-0} == 1 ]]; then echo "planted: kept $work"; else rm -rf "$work"; fi
}
trap cleanup EXIT

# --- the pieces ---------------------------------------------------------------
planted_names=(mpr uxtheme dwmapi userenv comctl32)
cc=$arch-w64-mingw32-gcc
$cc -O2 -Wall -shared -o "$work/PlantedDll.dll" "$here/PlantedDll.c"
$cc -O2 -Wall -mwindows -municode -o "$work/LoadsByPlainName.exe" "$here/LoadsByPlainName.c"
$cc -O2 -Wall -mwindows -municode -o "$work/PlantedSetup.exe" "$here/PlantedSetup.c"
# The package writer as the host build made it, with what it links: a list
# of sources here would fall behind whatever the writer comes to use.
host=${HOST_BUILD:-$root/build/host}
for lib in authoring stubmemory stubcore; do
  [[ -f $host/lib$lib.a ]] || fail "no $host/lib$lib.a: build the host tree first (make dist)"
done
g++ -std=c++20 -O1 -I"$root" -o "$work/make_planted_package" "$here/MakePackage.cpp" \
  -Wl,--start-group "$host/libauthoring.a" "$host/libstubmemory.a" "$host/libstubcore.a" \
  -Wl,--end-group -llzma -pthread

# --- a fresh prefix -----------------------------------------------------------
# Making a prefix takes a while (its 32-bit half is filled by 32-bit
# programs, a minute or more where they are emulated), so a pristine one is
# made once and each run gets its own copy. With a 32-bit Wine the prefix is a 64-bit Windows with
# WoW64, for the 32-bit and the 64-bit stub alike.
kind=x86_64
[[ $WINE32_TIER == none ]] || kind=wow64
template=${PLANTED_PREFIX_TEMPLATE:-$root/build/wine-planted-prefix-$kind}
if [[ ! -f $template/system.reg ]]; then
  echo "planted: making the prefix template $template (once; this takes a while)"
  mkdir -p "$(dirname "$template")"
  rm -rf "$template.new"
  # Without mono and gecko: nothing here needs them, and their installers
  # would ask.
  WINEPREFIX=$template.new WINEARCH=win64 WINEDLLOVERRIDES="mscoree,mshtml=" \
    timeout 1800 "$wine64" wineboot -i >/dev/null 2>&1 || fail "wineboot could not make a prefix"
  WINEPREFIX=$template.new "$wineserver" -w
  mv "$template.new" "$template"
fi
cp -a "$template" "$WINEPREFIX"
# +relay traces only the progress window's creation.
WINEDEBUG=-all "$wine" reg add 'HKCU\Software\Wine\Debug' /v RelayInclude /t REG_SZ \
  /d 'user32.CreateWindowExW' /f >/dev/null 2>&1 || fail "cannot set the relay filter"
"$wineserver" -w

downloads=$WINEPREFIX/drive_c/Downloads
mkdir -p "$downloads"
for name in "${planted_names[@]}"; do
  cp "$work/PlantedDll.dll" "$downloads/$name.dll"
done
overrides="mscoree,mshtml=;$(IFS=,; echo "${planted_names[*]}")=n,b"

markers() { find "$downloads" -name '*.loaded' -printf '%f\n' | sort | tr '\n' ' '; }

# Started from the downloads folder, so that the current folder is the
# package's too, as after a double-click there.
run_in_downloads() {  # <windows path of the program> <log>
  local status=0
  (cd "$downloads" && WINEDLLOVERRIDES="$overrides" WINEDEBUG=+loaddll${WINEDEBUG_EXTRA:+,$WINEDEBUG_EXTRA} \
    timeout 300 "$wine" "$1" >"$2" 2>&1) || status=$?
  "$wineserver" -w
  return $status
}

# --- control: a program that does load by plain name is caught ------------------
cp "$work/LoadsByPlainName.exe" "$downloads/"
run_in_downloads 'C:\Downloads\LoadsByPlainName.exe' "$work/control.log" || true
caught=$(markers)
echo "planted: the control loaded: ${caught:-nothing}"
[[ $caught == *mpr.dll.loaded* ]] \
  || fail "the control program did not load the planted mpr.dll; this test cannot see planting"
rm -f "$downloads"/*.loaded "$downloads/LoadsByPlainName.exe"

# --- the launcher ---------------------------------------------------------------
"$work/make_planted_package" "$stub" "$work/PlantedSetup.exe" "$downloads/Setup.exe" 48
WINEDEBUG_EXTRA=+relay run_in_downloads 'C:\Downloads\Setup.exe' "$work/launcher.log" || true

# The setup program proves the launcher went all the way: the package path on
# a drive letter (the mpr.dll lookup), the unpacking, the copy and the start.
if [[ ! -f $downloads/Setup.exe.started ]]; then
  grep -E 'err:|Loaded' "$work/launcher.log" | tail -n 30 >&2 || true
  fail "the setup program was not started, so the run proves nothing"
fi
echo "planted: the setup program was started"
grep -q 'CreateWindowExW' "$work/launcher.log" \
  || fail "the launcher made no progress window, so the run does not cover it"
echo "planted: the progress window was made"
grep -q -i 'Loaded L"C:\\\\windows\\\\system32\\\\mpr.dll"' "$work/launcher.log" \
  && echo "planted: mpr.dll came from the system folder"

loaded=$(markers)
from_downloads=$(grep -i 'Loaded L"C:\\\\Downloads\\\\' "$work/launcher.log" \
  | grep -iv 'Downloads\\\\Setup.exe"' || true)
if [[ -n $loaded || -n $from_downloads ]]; then
  echo "planted: markers: ${loaded:-none}" >&2
  [[ -z $from_downloads ]] || echo "$from_downloads" >&2
  fail "the launcher loaded a DLL planted beside the package"
fi
echo "planted: PASS: nothing planted was loaded (${planted_names[*]})"
