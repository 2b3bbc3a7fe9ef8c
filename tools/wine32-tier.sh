#!/usr/bin/env bash
# Finds or makes a Wine that runs 32-bit Windows programs, so that the shipped
# Stub32.exe itself can be tested, and prints how to use it as shell
# assignments:
#
#   WINE32_TIER=native|emulated|none
#   WINE64=...        64-bit loader: prefixes, winecfg, reg
#   WINE32=...        32-bit loader: 32-bit programs, started directly
#   WINESERVER=...
#   WINE32_CPUS="max coreduo"   (emulated) processor models, the first with
#                     PCLMULQDQ and SSE4.1, the second without either
#   WINE32_WHY=...    (none) the reason
#
#   tools/wine32-tier.sh [DIR]     DIR defaults to build/wine32
#
# Where the kernel runs 32-bit code and a 32-bit Wine is installed, that Wine
# is used. Otherwise Wine's i386 half runs under qemu's user-mode emulator,
# from a private folder, with no change to the machine: no foreign
# architecture in dpkg, no binfmt_misc entry.
#
# The private folder (made once, rebuilt when its stamp is missing or stale):
#   - the i386 packages wine32, libwine, libc6, libgcc-s1 of the installed
#     Wine's version, fetched through a private apt setup and unpacked;
#   - usr/lib/wine/wine: a wrapper that runs the real i386 loader under
#     qemu-i386-static with this folder as its root (-L) and keeps argv[0]
#     (-0), so Wine starts 32-bit children through the wrapper too;
#   - usr/lib/wine/wine64: a copy of the installed one (Wine 8 looks for the
#     32-bit loader only beside the running wine64), whose library folder is a
#     link to the installed one;
#   - the builtin zlib1.dll that libwine's install script would make;
#   - etc/ld.so.preload naming a small library that makes MAP_FIXED_NOREPLACE
#     behave under qemu as it does under the kernel (tools/wine32/noreplace.c).
#     Only emulated processes read this file: qemu's -L puts it at /etc.
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
dir=${1:-$root/build/wine32}
mkdir -p "$dir"
dir=$(cd "$dir" && pwd)

say() { printf 'wine32-tier: %s\n' "$*" >&2; }
none() {
  printf 'WINE32_TIER=none\nWINE32_WHY=%q\n' "$*"
  exit 0
}

sys64=$(command -v wine64 || true)
[[ -n $sys64 ]] || sys64=/usr/lib/wine/wine64
sysserver=$(command -v wineserver || true)
[[ -n $sysserver ]] || sysserver=/usr/lib/wine/wineserver
[[ -x $sys64 && -x $sysserver ]] || none "Wine (wine64, wineserver) is not installed"
sys64=$(realpath "$sys64")

# A 116-byte i386 Linux program: exits with 4, plus 1 when the processor has
# PCLMULQDQ and 2 when it has SSE4.1. Whether the kernel runs it is the
# question; the answer also tells what a qemu processor model offers.
probe=$dir/cpuid-probe
if [[ ! -s $probe ]]; then
  printf '%b' '\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00\x01\x00\x00\x00' \
    '\x54\x80\x04\x08\x34\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x34\x00\x20\x00\x01\x00\x00\x00' \
    '\x00\x00\x00\x00\x01\x00\x00\x00\x00\x00\x00\x00\x00\x80\x04\x08\x00\x80\x04\x08\x74\x00\x00\x00' \
    '\x74\x00\x00\x00\x05\x00\x00\x00\x00\x10\x00\x00' \
    '\xb8\x01\x00\x00\x00\x0f\xa2\x89\xcb\xd1\xeb\x83\xe3\x01\xc1\xe9\x12\x83\xe1\x02\x09\xcb\x83\xcb\x04' \
    '\xb8\x01\x00\x00\x00\xcd\x80' >"$probe.new"
  chmod +x "$probe.new"
  mv "$probe.new" "$probe"
fi
features() {  # [qemu cpu model]: prints the probe's exit code
  local status=0
  if [[ $# -eq 0 ]]; then "$probe" 2>/dev/null || status=$?; else
    qemu-i386-static -cpu "$1" "$probe" 2>/dev/null || status=$?
  fi
  echo "$status"
}

native=$(features)
if [[ $native -ge 4 && $native -le 7 ]]; then
  for loader in /usr/lib/wine/wine /usr/lib32/wine/wine /opt/wine-stable/bin/wine; do
    [[ -x $loader ]] || continue
    if [[ $("$loader" --version 2>/dev/null) == wine-* ]]; then
      printf 'WINE32_TIER=native\nWINE64=%q\nWINE32=%q\nWINESERVER=%q\n' "$sys64" "$loader" "$sysserver"
      exit 0
    fi
  done
  say "the kernel runs 32-bit code, but no 32-bit Wine is installed: emulating it"
fi

qemu=$(command -v qemu-i386-static || true)
[[ -n $qemu ]] || none "the kernel does not run 32-bit code and qemu-user-static is not installed"

# The processor models: qemu's default offers both instructions; Core Duo
# neither (and, unlike the other older models, runs without warnings).
cpus="max coreduo"
[[ $(features max) == 7 && $(features coreduo) == 4 ]] \
  || none "qemu's processor models do not offer what they should (max: $(features max), coreduo: $(features coreduo))"

version=$(dpkg-query -W -f='${Version}' wine64 2>/dev/null || true)
[[ -n $version ]] || none "the installed wine64's version is unknown to dpkg"
# The stamp names everything the folder was made from; anything else in it
# means the folder is incomplete or stale.
key="wine $version; $(sha256sum "${BASH_SOURCE[0]}" "$root/tools/wine32/noreplace.c" "$sys64" | awk '{ printf "%s ", $1 }')"
tree=$dir/root

if [[ $(cat "$dir/stamp" 2>/dev/null) != "$key" ]]; then
  start=$SECONDS
  say "preparing the emulated 32-bit Wine in $tree (once)"
  rm -f "$dir/stamp"
  rm -rf "$tree" "$tree.new"
  debs=$dir/debs
  # apt names the files after the version without its epoch.
  if [[ ! -f $debs/wine32_${version#*:}_i386.deb ]]; then
    rm -rf "$debs"
    mkdir -p "$debs"
    APT_STATE=$dir/apt bash "$root/tools/debian-fetch.sh" debs "$debs" i386 \
      "wine32=$version" "libwine=$version" libc6 libgcc-s1 \
      || none "could not fetch Wine's i386 packages (wine32 $version)"
  fi
  for deb in "$debs"/*.deb; do dpkg-deb -x "$deb" "$tree.new"; done

  bin=$tree.new/usr/lib/wine
  [[ -x $bin/wine ]] || none "the wine32 package has no usr/lib/wine/wine"
  mv "$bin/wine" "$bin/wine-i386"
  cat >"$bin/wine" <<EOF
#!/bin/sh
exec $qemu -L $tree -0 $tree/usr/lib/wine/wine $tree/usr/lib/wine/wine-i386 "\$@"
EOF
  chmod +x "$bin/wine"
  cp -p "$sys64" "$bin/wine64"
  ln -sfn "$(realpath "$sysserver")" "$bin/wineserver"
  lib64=$(dirname "$(dirname "$sys64")")/x86_64-linux-gnu/wine
  [[ -d $lib64 ]] || lib64=/usr/lib/x86_64-linux-gnu/wine
  mkdir -p "$tree.new/usr/lib/x86_64-linux-gnu"
  ln -sfn "$lib64" "$tree.new/usr/lib/x86_64-linux-gnu/wine"

  # What libwine's install script does: MinGW's zlib1.dll, marked as a Wine
  # builtin in the space behind its DOS header.
  zlib=$(ls /usr/i686-w64-mingw32/lib/zlib1.dll 2>/dev/null || true)
  [[ -n $zlib ]] || none "MinGW's zlib1.dll (libz-mingw-w64) is missing; 32-bit user32.dll needs it"
  out=$tree.new/usr/lib/i386-linux-gnu/wine/i386-windows/zlib1.dll
  { head -c 64 "$zlib"; printf 'Wine builtin DLL'; head -c 16 /dev/zero; tail -c +97 "$zlib"; } >"$out"

  cc=
  for candidate in i686-linux-gnu-gcc "gcc -m32" "clang --target=i686-linux-gnu"; do
    if $candidate -O2 -fPIC -fno-stack-protector -nostdlib -shared -Wl,-soname,noreplace.so \
      -o "$tree.new/lib/noreplace.so" "$root/tools/wine32/noreplace.c" 2>/dev/null; then
      cc=$candidate
      break
    fi
  done
  [[ -n $cc ]] || none "no compiler builds 32-bit code here (i686-linux-gnu-gcc, gcc -m32)"
  echo /lib/noreplace.so >"$tree.new/etc/ld.so.preload"

  mv "$tree.new" "$tree"
  # The wrapper names the final folder, so the loader is tried only now.
  [[ $("$tree/usr/lib/wine/wine" --version 2>/dev/null) == wine-* ]] \
    || none "the emulated 32-bit Wine loader does not start"
  echo "$key" >"$dir/stamp"
  say "ready in $((SECONDS - start)) s"
fi

printf 'WINE32_TIER=emulated\nWINE64=%q\nWINE32=%q\nWINESERVER=%q\nWINE32_CPUS=%q\n' \
  "$tree/usr/lib/wine/wine64" "$tree/usr/lib/wine/wine" "$tree/usr/lib/wine/wineserver" "$cpus"
