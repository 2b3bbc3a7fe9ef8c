#!/usr/bin/env bash
# Finds or makes a Wine that runs 32-bit Windows programs, so that the shipped
# Stub32.exe itself can be tested, and prints how to use it as shell
# assignments:
#
#   WINE32_TIER=native-system|native-private|emulated|none
#                     (shown as "native system", "native private", "emulated")
#   WINE32_WHY=...    why this tier, in words true of this machine
#   WINE64=...        64-bit loader: prefixes, winecfg, reg
#   WINE32=...        32-bit loader: 32-bit programs, started directly
#   WINESERVER=...
#   WINE32_QEMU=...   a 32-bit loader that runs under qemu's user-mode
#                     emulator, on the processor model named by QEMU_CPU: the
#                     same as WINE32 when emulated; beside a native tier where
#                     qemu-user-static is installed
#   WINE32_CPUS="max coreduo"   the models for WINE32_QEMU, the first with
#                     PCLMULQDQ and SSE4.1, the second without either
#   WINE32_CPUS_WHY=...  why there is no WINE32_QEMU, when there is none
#
#   tools/wine32-tier.sh [DIR]     DIR defaults to build/wine32
#
# The tiers, in the order of choice:
#   native system    the kernel runs 32-bit code and a 32-bit Wine is
#                    installed: that Wine;
#   native private   the kernel runs 32-bit code and no 32-bit Wine is
#                    installed: Debian's i386 Wine from the private folder
#                    below, run by the folder's own i386 dynamic loader;
#   emulated         the kernel runs no 32-bit code: the same folder's Wine
#                    under qemu's user-mode emulator.
# A tier whose Wine does not start ends this script with an error; it never
# falls through to the next one. WINE32_EMULATE=1 acts as if the kernel ran no
# 32-bit code, so that the emulated tier can be tested on a machine that would
# run natively.
#
# The private folder (made once, rebuilt when its stamp is missing or stale)
# changes nothing on the machine: no foreign architecture in dpkg, no
# binfmt_misc entry, no file outside DIR. It holds:
#   - the i386 packages wine32, libwine, libc6, libgcc-s1 of the installed
#     Wine's version, fetched through a private apt setup and unpacked;
#   - two loader folders, one per way of running the i386 loader, each with
#     the loader (wine-i386), a copy of the installed wine64 (Wine 8 looks for
#     the 32-bit loader only beside the running wine64, and starts its own
#     32-bit programs through it) whose library folder is a link to the
#     installed one, and `wine`, which runs the i386 loader:
#       usr/lib/wine       natively, with a copy of the folder's ld-linux.so.2
#                          and its libraries. The copy lies beside the loader
#                          because Wine takes its own folder from
#                          /proc/self/exe, which is the dynamic loader here;
#       usr/lib/wine-qemu  under qemu-i386-static with the folder as its root
#                          (-L), keeping argv[0] (-0);
#     so both tiers can use the folder at once;
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
  say "none: $*"
  printf 'WINE32_TIER=none\nWINE32_WHY=%q\n' "$*"
  exit 0
}
# The tier's Wine was made but does not start, or emulation was asked for and
# cannot be had: the run stops here rather than test something else.
broken() {
  say "$*"
  exit 1
}
# The tier cannot be made on this machine (nothing to fetch, no emulator):
# without a 32-bit Wine the tests take the 64-bit stub and say why.
cannot() {
  [[ ${WINE32_EMULATE:-0} == 1 ]] && broken "$tier: $why, but $*"
  none "$why, but $*"
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
# Prints a loader's --version when it starts; fails with its error otherwise.
starts() {
  local out err=$dir/loader.$$.err status=0
  out=$("$@" --version 2>"$err") || status=$?
  [[ $status -ne 0 || $out == wine-* ]] || status=1
  [[ $status -eq 0 ]] && echo "$out" || say "$* --version: no Wine version, exit $status: $(tail -n 3 "$err" | tr '\n' ' ')"
  rm -f "$err"
  return "$status"
}

native=$(features)
kernel32=no
[[ $native -ge 4 && $native -le 7 ]] && kernel32=yes

tier=
why=
if [[ $kernel32 == yes && ${WINE32_EMULATE:-0} == 1 ]]; then
  tier=emulated
  why="WINE32_EMULATE=1 asks for emulation (this kernel does run 32-bit code)"
elif [[ $kernel32 == yes ]]; then
  for loader in /usr/lib/wine/wine /usr/lib32/wine/wine /opt/wine-stable/bin/wine; do
    [[ -x $loader ]] || continue
    sysversion=$(starts "$loader") \
      || broken "native system: the kernel runs 32-bit code, but the installed 32-bit Wine $loader does not start"
    tier=native-system
    why="the kernel runs 32-bit code and a 32-bit Wine is installed ($loader, $sysversion)"
    break
  done
  if [[ -z $tier ]]; then
    tier=native-private
    why="the kernel runs 32-bit code and no 32-bit Wine is installed: Debian's i386 Wine runs from $dir without emulation"
  fi
else
  tier=emulated
  why="the kernel runs no 32-bit code (an i386 program does not start: exit $native)"
fi

# qemu runs the emulated tier, and beside a native tier the cases that choose
# a processor model. Core Duo has neither PCLMULQDQ nor SSE4.1 and, unlike the
# other older models, runs without warnings.
qemu=$(command -v qemu-i386-static || true)
cpus="max coreduo"
cpusWhy=
if [[ -z $qemu ]]; then
  cpusWhy="qemu-user-static is not installed"
elif [[ $(features max) != 7 || $(features coreduo) != 4 ]]; then
  cpusWhy="qemu's processor models do not offer what they should (max: $(features max), coreduo: $(features coreduo))"
fi
[[ $tier == emulated && -n $cpusWhy ]] && cannot "$cpusWhy"

# The private folder is needed by every tier but the system's, and by that one
# only for the processor models.
tree=$dir/root
bin=$tree/usr/lib/wine qbin=$tree/usr/lib/wine-qemu
if [[ $tier != native-system || -z $cpusWhy ]]; then
  version=$(dpkg-query -W -f='${Version}' wine64 2>/dev/null || true)
  # The stamp names everything the folder was made from, and the folder itself
  # (the wrappers name it); anything else in it means the folder is
  # incomplete, stale or moved.
  key="wine $version; qemu ${qemu:-none}; $tree; $(sha256sum "${BASH_SOURCE[0]}" "$root/tools/wine32/noreplace.c" "$sys64" | awk '{ printf "%s ", $1 }')"
  missing=
  [[ -n $version ]] || missing="the installed wine64's version is unknown to dpkg"
  if [[ -z $missing && $(cat "$dir/stamp" 2>/dev/null) != "$key" ]]; then
    start=$SECONDS
    say "preparing Debian's i386 Wine in $tree (once)"
    rm -f "$dir/stamp"
    rm -rf "$tree" "$tree.new"
    debs=$dir/debs
    # apt names the files after the version without its epoch.
    if [[ ! -f $debs/wine32_${version#*:}_i386.deb ]]; then
      rm -rf "$debs"
      mkdir -p "$debs"
      APT_STATE=$dir/apt bash "$root/tools/debian-fetch.sh" debs "$debs" i386 \
        "wine32=$version" "libwine=$version" libc6 libgcc-s1 \
        || missing="could not fetch Wine's i386 packages (wine32 $version)"
    fi
  fi
  if [[ -z $missing && $(cat "$dir/stamp" 2>/dev/null) != "$key" ]]; then
    for deb in "$dir"/debs/*.deb; do dpkg-deb -x "$deb" "$tree.new"; done
    new=$tree.new/usr/lib/wine
    [[ -x $new/wine ]] || broken "the wine32 package has no usr/lib/wine/wine"
    mv "$new/wine" "$new/wine-i386"
    # The wrappers name the final folder.
    cp -p "$(realpath "$tree.new/lib/ld-linux.so.2")" "$new/ld-linux.so.2"
    cat >"$new/wine" <<EOF
#!/bin/sh
exec $bin/ld-linux.so.2 --library-path $tree/lib/i386-linux-gnu:$tree/usr/lib/i386-linux-gnu --argv0 $bin/wine $bin/wine-i386 "\$@"
EOF
    chmod +x "$new/wine"
    cp -p "$sys64" "$new/wine64"
    ln -sfn "$(realpath "$sysserver")" "$new/wineserver"
    lib64=$(dirname "$(dirname "$sys64")")/x86_64-linux-gnu/wine
    [[ -d $lib64 ]] || lib64=/usr/lib/x86_64-linux-gnu/wine
    mkdir -p "$tree.new/usr/lib/x86_64-linux-gnu"
    ln -sfn "$lib64" "$tree.new/usr/lib/x86_64-linux-gnu/wine"

    # What libwine's install script does: MinGW's zlib1.dll, marked as a Wine
    # builtin in the space behind its DOS header.
    zlib=$(ls /usr/i686-w64-mingw32/lib/zlib1.dll 2>/dev/null || true)
    [[ -n $zlib ]] || broken "MinGW's zlib1.dll (libz-mingw-w64) is missing; 32-bit user32.dll needs it"
    out=$tree.new/usr/lib/i386-linux-gnu/wine/i386-windows/zlib1.dll
    { head -c 64 "$zlib"; printf 'Wine builtin DLL'; head -c 16 /dev/zero; tail -c +97 "$zlib"; } >"$out"

    if [[ -n $qemu ]]; then
      cc=
      for candidate in i686-linux-gnu-gcc "gcc -m32" "clang --target=i686-linux-gnu"; do
        if $candidate -O2 -fPIC -fno-stack-protector -nostdlib -shared -Wl,-soname,noreplace.so \
          -o "$tree.new/lib/noreplace.so" "$root/tools/wine32/noreplace.c" 2>/dev/null; then
          cc=$candidate
          break
        fi
      done
      if [[ -n $cc ]]; then
        echo /lib/noreplace.so >"$tree.new/etc/ld.so.preload"
        qnew=$tree.new/usr/lib/wine-qemu
        mkdir -p "$qnew"
        ln "$new/wine-i386" "$new/wine64" "$qnew/"
        cp -P "$new/wineserver" "$qnew/"
        cat >"$qnew/wine" <<EOF
#!/bin/sh
exec $qemu -L $tree -0 $qbin/wine $qbin/wine-i386 "\$@"
EOF
        chmod +x "$qnew/wine"
      else
        echo "no compiler builds 32-bit code here (i686-linux-gnu-gcc, gcc -m32)" >"$tree.new/no-qemu"
      fi
    fi
    mv "$tree.new" "$tree"
    echo "$key" >"$dir/stamp"
    say "ready in $((SECONDS - start)) s"
  fi
  if [[ -n $missing ]]; then
    [[ $tier == native-system ]] || cannot "$missing"
    cpusWhy=$missing
  fi
fi
if [[ $tier != native-system && -z $cpusWhy && ! -x $qbin/wine ]]; then
  cpusWhy=$(cat "$tree/no-qemu" 2>/dev/null || echo "the emulated loader was not made")
fi
[[ $tier == emulated && -n $cpusWhy ]] && cannot "$cpusWhy"

name=${tier/-/ }
case $tier in
  native-system) wine64=$sys64 wine32=$loader server=$sysserver ;;
  native-private) wine64=$bin/wine64 wine32=$bin/wine server=$bin/wineserver ;;
  emulated) wine64=$qbin/wine64 wine32=$qbin/wine server=$qbin/wineserver ;;
esac
if [[ $tier != native-system ]]; then
  starts "$wine32" >/dev/null || broken "$name: $why, but its 32-bit Wine loader $wine32 does not start"
fi
qemuLoader=
if [[ -z $cpusWhy ]]; then
  qemuLoader=$qbin/wine
  # Beside a native tier, the emulated loader only serves the processor
  # models; one that does not start leaves those cases to skip, saying why.
  if [[ $tier != emulated ]] && ! QEMU_CPU=max starts "$qemuLoader" >/dev/null; then
    cpusWhy="the emulated loader $qemuLoader does not start"
    qemuLoader=
  fi
fi
say "$name: $why"
printf 'WINE32_TIER=%q\nWINE32_WHY=%q\nWINE64=%q\nWINE32=%q\nWINESERVER=%q\n' \
  "$tier" "$why" "$wine64" "$wine32" "$server"
if [[ -n $qemuLoader ]]; then
  printf 'WINE32_QEMU=%q\nWINE32_CPUS=%q\n' "$qemuLoader" "$cpus"
else
  printf 'WINE32_CPUS_WHY=%q\n' "$cpusWhy"
fi
