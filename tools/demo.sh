#!/usr/bin/env bash
# The launcher at work: builds a sample package around the stand-in setup
# programs (x86 and x64), starts it under Wine in a fresh prefix with a couple
# of arguments, and shows what the setup program received.
#
#   tools/demo.sh [STUB64] [PKGTOOL] [SETUPPROG_DIR]
#
# The package is built around dist/Stub32.exe, the launcher that ships, and
# Stub32.exe runs it through the 32-bit Wine tools/wine32-tier.sh chooses:
# the installed one (native system), Debian's i386 Wine from build/wine32 run
# natively (native private), or that Wine under qemu where the kernel runs no
# 32-bit code (emulated). Only where none works does the launch use the same
# package built around the test-only 64-bit stub (STUB64, default
# build/win64/Stub64.exe), with the x64 setup program in its only slot, since
# that stub takes every Windows for 32-bit. The last line names what ran.
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
stub32=${STUB32_EXE:-$root/dist/Stub32.exe}
stub64=${1:-$root/build/win64/Stub64.exe}
pkgtool=${2:-$root/dist/pkgtool}
progs=${3:-$root/build/setupprog}
[[ -f $progs/SetupProg-x64.exe ]] || progs=$root/build/host/tests/wine/setupprog
x86=$progs/SetupProg-x86.exe
x64=$progs/SetupProg-x64.exe

fail() { echo "demo: $*" >&2; exit 1; }
[[ -f $stub32 ]] || fail "no $stub32 (run make dist)"
[[ -f $x86 && -f $x64 ]] || fail "no stand-in setup programs in $progs (run make setupprog)"

tier=$(bash "$root/tools/wine32-tier.sh" "${WINE32_DIR:-$root/build/wine32}") \
  || fail "the 32-bit Wine tier does not work (see above)"
eval "$tier"
wine64=${WINE64:-$(command -v wine64 || echo /usr/lib/wine/wine64)}
wineserver=${WINESERVER:-$(command -v wineserver || echo /usr/lib/wine/wineserver)}
[[ -x $wine64 ]] || fail "Wine is not installed (run make deps)"

# Writes a package: writer OUT STUB X86|- X64|- [any]. "any" lets a program
# into a slot that does not take its kind (the 64-bit test stub runs its x86
# slot on 64-bit Windows only).
writer() {
  local out=$1 stub=$2 a=$3 b=$4 any=${5:-}
  if [[ -x $pkgtool ]]; then
    local args=(build -q -o "$out" --stub "$stub")
    [[ $a == - ]] || args+=(--x86 "$a")
    [[ $b == - ]] || args+=(--x64 "$b")
    [[ $any != any ]] || args+=(--allow-any-program)
    "$pkgtool" "${args[@]}" --unsupported-message "This sample package does not run on %USER%."
  else
    local sample=$root/build/host/tests/wine/samplepackage
    [[ -x $sample ]] || fail "neither $pkgtool nor $sample (run make dist)"
    "$sample" "$out" "$stub" "$a" "$b" >/dev/null
  fi
}

work=$(mktemp -d "${TMPDIR:-/tmp}/stub-demo.XXXXXX")
export WINEPREFIX=$work/prefix WINEARCH=win64 WINELOADER=$wine64 WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
unset DISPLAY WAYLAND_DISPLAY
cleanup() { "$wineserver" -k >/dev/null 2>&1 || true; rm -rf "$work"; }
trap cleanup EXIT

mkdir -p "$work/out"
sample=$work/out/SampleSetup.exe
writer "$sample" "$stub32" "$x86" "$x64"
echo "Sample package SampleSetup.exe: $(stat -c %s "$sample") bytes"
echo "  launcher $(basename "$stub32")         $(stat -c %s "$stub32") bytes"
echo "  x86 setup program           $(stat -c %s "$x86") bytes"
echo "  x64 setup program           $(stat -c %s "$x64") bytes"

launch=$sample
loader=${WINE32:-}
tiername=${WINE32_TIER/-/ }
ran="$(basename "$stub32") (32-bit, $tiername)"
summary="$(basename "$stub32"), the launcher that ships, ran on the $tiername 32-bit Wine: $WINE32_WHY."
echo
case $WINE32_TIER in
  native-system | native-private)
    echo "Launching with $(basename "$stub32"), the launcher that ships, on the $tiername 32-bit Wine,"
    echo "with no emulation: $WINE32_WHY."
    ;;
  emulated)
    echo "Launching with $(basename "$stub32"), the launcher that ships, on the emulated 32-bit Wine:"
    echo "$WINE32_WHY, so Wine's 32-bit half runs under qemu's user-mode emulation."
    ;;
  *)
    [[ -f $stub64 ]] || fail "Wine cannot run 32-bit programs here ($WINE32_WHY) and there is no $stub64 (run make stub64)"
    launch=$work/out/SampleSetup64.exe
    loader=$wine64
    ran="$(basename "$stub64") (the 64-bit test build)"
    summary="$(basename "$stub64"), the 64-bit test build, ran: Wine cannot run 32-bit programs here ($WINE32_WHY)."
    writer "$launch" "$stub64" "$x64" - any
    echo "Wine cannot run 32-bit programs on this machine ($WINE32_WHY): launching with"
    echo "$(basename "$stub64"), the same package built around the test-only 64-bit stub ($(stat -c %s "$launch") bytes)."
    ;;
esac

echo
echo "Preparing a fresh Wine prefix (this takes a little while)..."
"$wine64" wineboot -i >/dev/null 2>&1
"$wine64" reg add 'HKCU\Software\Wine\Debug' /v RelayInclude /t REG_SZ \
  /d 'user32.MessageBoxW;kernel32.CreateProcessW;kernelbase.CreateProcessW;shell32.ShellExecuteExW' /f >/dev/null 2>&1
mkdir -p "$WINEPREFIX/drive_c/Downloads" "$WINEPREFIX/drive_c/My Folder"
cp "$launch" "$WINEPREFIX/drive_c/Downloads/SampleSetup.exe"

echo
echo "Running: C:\\Downloads\\SampleSetup.exe /silent /temp \"C:\\My Folder\""
set +e
SETUPPROG_REPORT='C:\setupprog-report.txt' WINEDEBUG=-all,+relay \
  "$loader" 'C:\Downloads\SampleSetup.exe' /silent /temp 'C:\My Folder' >/dev/null 2>"$work/relay.log"
code=$?
set -e
"$wineserver" -w

echo "Launcher: $ran, exit code $code"
boxes=$(grep -a 'Call user32.MessageBoxW' "$work/relay.log" | sed -e 's/^[^"]*L"//' -e 's/",.*//' || true)
[[ -z $boxes ]] || echo "Error box: $boxes"
start=$(grep -a -o -E 'Call (KERNEL32|kernelbase)\.CreateProcessW|Call shell32\.ShellExecuteExW' "$work/relay.log" | head -n 1 || true)
case $start in
  *CreateProcessW) echo "Started directly (CreateProcessW): Wine runs programs with administrator rights" ;;
  *ShellExecuteExW) echo "Started through the shell (ShellExecuteExW)" ;;
esac
report=$WINEPREFIX/drive_c/setupprog-report.txt
if [[ -f $report ]]; then
  echo
  echo "What the setup program received:"
  grep -v -x -E 'start|end' "$report" | sed 's/^/  /'
  # The copy is where the setup program found itself: as an administrator
  # (Wine's case) in a private folder of its own inside C:\My Folder.
  module=$(sed -n 's/^module=//p' "$report" | tr -d '\r')
  folder=${module%\\*}
  unix() { local p=${1#[Cc]:\\}; echo "$WINEPREFIX/drive_c/${p//\\//}"; }
  if [[ -e $(unix "$module") ]]; then
    echo "The temporary copy $module is still there."
  else
    echo "The temporary copy $module was deleted after the setup program ended."
  fi
  if [[ $folder != 'C:\My Folder' ]]; then
    if [[ -e $(unix "$folder") ]]; then
      echo "Its private folder $folder is still there."
    else
      echo "Its private folder $folder was removed with it."
    fi
  fi
else
  echo "The setup program did not run."
  echo "$summary"
  exit 1
fi
echo
echo "$summary"
