#!/usr/bin/env bash
# Builds a sample package around the stand-in setup program and launches it
# under Wine, then shows what the setup program received.
#
# This machine's kernel runs 64-bit code only, so the launch uses the 64-bit
# build of the same launcher sources; dist/Stub32.exe is the one that ships.
set -euo pipefail
stub=${1:?stub}
pkgtool=${2:?pkgtool}
progs=${3:?setup program folder}
wine=/usr/lib/wine/wine64

work=$(mktemp -d /tmp/stub-demo.XXXXXX)
export WINEPREFIX=$work/prefix WINEARCH=win64 WINEDLLOVERRIDES="mscoree,mshtml=d" WINEDEBUG=-all
trap '/usr/lib/wine/wineserver64 -k >/dev/null 2>&1 || true; rm -rf "$work"' EXIT
mkdir -p "$work/Downloads"

echo "== Building a sample package"
"$pkgtool" build -o "$work/Downloads/SampleSetup.exe" --stub "$stub" \
  --x86 "$progs/SetupProg-x86tag.exe" --x64 "$progs/SetupProg-x64.exe" \
  --windows 7,8,8.1,10,11 --unsupported-message "This program does not run on %USER%."
"$pkgtool" inspect "$work/Downloads/SampleSetup.exe" | sed -n '1,40p'

echo
echo "== Launching it under Wine: SampleSetup.exe /silent \"C:\\My Folder\""
$wine wineboot -i >/dev/null 2>&1
(cd "$work/Downloads" && SETUPPROG_REPORT='Z:'"${work//\//\\}"'\report.txt' \
  $wine SampleSetup.exe /silent "C:\\My Folder" >/dev/null 2>&1)
/usr/lib/wine/wineserver64 -w
echo
echo "== What the setup program received"
grep -v -x -E 'start|end' "$work/report.txt" | sed 's/^/  /'
echo
echo "dist/Stub32.exe, the shipped launcher: $(stat -c %s dist/Stub32.exe) bytes"
