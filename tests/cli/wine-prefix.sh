#!/usr/bin/env bash
# Makes a 64-bit Wine prefix for the pkgtool.exe tests at DIR (anything
# there before is replaced), with the 64-bit Wine WINE64.
#   tests/cli/wine-prefix.sh DIR [WINE64]
# CTest makes it once per run (the fixture in tools/CMakeLists.txt); each
# suite works in a copy of its own.
set -euo pipefail
dir=${1:?usage: wine-prefix.sh DIR [WINE64]}
wine64=${2:-/usr/lib/wine/wine64}
[[ -x $wine64 ]] || { echo "wine-prefix: no 64-bit Wine at $wine64 (make deps installs wine64)" >&2; exit 2; }
rm -rf "$dir"
mkdir -p "$(dirname "$dir")"
export WINEPREFIX=$dir WINEARCH=win64 WINEDEBUG=-all
export WINEDLLOVERRIDES='mscoree,mshtml=;winemenubuilder.exe=d'
unset DISPLAY WAYLAND_DISPLAY
"$wine64" wineboot -i > /dev/null 2>&1 || { echo "wine-prefix: wineboot failed in $dir" >&2; exit 2; }
"$(dirname "$wine64")/wineserver" -w
[[ -f $dir/system.reg ]] || { echo "wine-prefix: $dir has no registry after wineboot" >&2; exit 2; }
