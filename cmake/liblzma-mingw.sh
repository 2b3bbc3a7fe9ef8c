#!/usr/bin/env bash
# Builds a static liblzma for a MinGW-w64 target from Debian's own source of
# xz-utils, so that the Windows programs link the same library version the
# host tools use, with nothing fetched from outside the Debian archive.
#
#   cmake/liblzma-mingw.sh PREFIX [HOST [FOR]]
#
# FOR is "stub" (the default: decode-only, small, for the launcher) or
# "pkgtool" (the whole library with the encoder, for pkgtool.exe: the same
# version as the host's liblzma packs the same bytes).
# PREFIX receives include/lzma.h and lib/liblzma.a (for pkgtool also
# share/COPYING, the library's licence notice). HOST is the target triplet
# (default i686-w64-mingw32). Does nothing when PREFIX already holds the
# library. The source comes from the machine's Debian archive through
# tools/debian-fetch.sh, which changes nothing in the machine's apt setup.
set -euo pipefail

prefix=${1:?usage: liblzma-mingw.sh PREFIX [HOST [stub|pkgtool]]}
host=${2:-i686-w64-mingw32}
for=${3:-stub}

# The flags below decide the stub's size and unpacking speed. They are
# recorded beside the library, so that changing them rebuilds it.
# --enable-small: the decoder's bit-tree loops are not unrolled. -O2 for the
# library alone: the decoder's inner loop is the launcher's running time.
# Measured as 32-bit code on the native 32-bit Wine against Debian's i386 xz
# (bench/decoders.sh; the table is in bench/README.md), the small decoder at
# -O2 decodes as quickly as the unrolled one at -O2, at 12 KiB less stub;
# -Os costs 5 to 14 % of the decoding time. The stub's own code stays -Os
# (cmake/Stub32.cmake), and LTO keeps each function's level.
# LTO: the stub links liblzma and its own code as one unit, so the parts of
# the filter-chain machinery a raw LZMA1 decoder never reaches fall away
# (1.5 KiB, no cost in speed). Fat objects keep the library usable without
# the LTO plugin.
recipe="small -O2 -flto -ffat-lto-objects -ffunction-sections -fdata-sections -fno-asynchronous-unwind-tables -fno-ident"
# LIBLZMA_RECIPE builds another variant of the stub's library to measure
# (bench/decoders.sh): the first word "small" or "unrolled" (the decoder's
# loops as they are), the rest the CFLAGS.
[[ -z ${LIBLZMA_RECIPE:-} ]] || recipe=$LIBLZMA_RECIPE
# pkgtool.exe: speed, not size (the encoder's time is the build's), as
# Debian builds the host's library; the threads variant pkgtool.exe is built
# with (cmake/toolchain-x86_64-mingw-posix.cmake). No LTO, no small code.
recipe_pkgtool="pkgtool -O2 -ffunction-sections -fdata-sections"
case $for in
  stub) ;;
  pkgtool) recipe=$recipe_pkgtool ;;
  *) echo "liblzma-mingw: FOR is stub or pkgtool, not $for" >&2; exit 2 ;;
esac
decoder=${recipe%% *}
cflags=${recipe#"$decoder" }
case $decoder in
  small) smallness=--enable-small ;;
  unrolled) smallness=--disable-small ;;
  pkgtool) smallness= ;;
  *) echo "liblzma-mingw: recipe \"$recipe\" starts with neither small nor unrolled" >&2; exit 1 ;;
esac

if [[ -f "$prefix/lib/liblzma.a" && -f "$prefix/include/lzma.h" &&
      "$(cat "$prefix/recipe" 2>/dev/null)" == "$recipe" ]]; then
  exit 0
fi

say() { printf 'liblzma-mingw: %s\n' "$*" >&2; }
die() { say "$*"; exit 1; }

# The same compiler variant as the stub (see cmake/toolchain-*.cmake): LTO
# joins the two, so they must agree. pkgtool.exe's is the posix one.
suffix=
command -v "$host-gcc-win32" >/dev/null && suffix=-win32
if [[ $for == pkgtool ]]; then suffix=-posix; fi
for tool in gcc gcc-ar gcc-ranlib; do
  command -v "$host-$tool$suffix" >/dev/null || die "$host-$tool$suffix not found (make deps installs it)"
done
command -v dpkg-source >/dev/null || die "dpkg-source not found (make deps installs dpkg-dev)"

rm -rf "$prefix"
mkdir -p "$prefix"
prefix=$(cd "$prefix" && pwd)
work="$prefix.work"
rm -rf "$work"
mkdir -p "$work"

# The source version must match the installed liblzma, so the stub and the
# host tools decode with the same code.
# (liblzma5 may be installed for several architectures: one line is enough.)
installed=$(dpkg-query -W -f='${source:Version}\n' liblzma5 2>/dev/null | head -n 1 || true)

# Through a private apt configuration: the machine's apt setup stays as it is,
# and an archive index that has nothing to do with xz-utils cannot stop this.
fetch=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)/tools/debian-fetch.sh
say "fetching Debian source of xz-utils${installed:+ $installed}"
# Prefer exactly the installed version; fall back to the archive's newest.
if [[ -z "$installed" ]] || ! bash "$fetch" source "$work" "xz-utils=$installed" 2>"$work/fetch.err"; then
  [[ -n "$installed" ]] && say "version $installed not offered; taking the archive's newest"
  bash "$fetch" source "$work" xz-utils
fi
src=$(find "$work" -mindepth 1 -maxdepth 1 -type d -name 'xz-utils-*' | head -n 1)
[[ -n "$src" && -x "$src/configure" ]] || die "unpacked source has no configure script"

# Raw LZMA1 decoding is all the stub needs.
wanted=(--host="$host" --prefix="$prefix"
  --disable-shared --enable-static "$smallness"
  --disable-encoders --enable-decoders=lzma1
  --disable-xz --disable-xzdec --disable-lzmadec --disable-lzmainfo
  --disable-lzma-links --disable-scripts --disable-doc --disable-nls
  --disable-threads --disable-lzip-decoder --disable-microlzma)
# pkgtool encodes and decodes, two streams at a time on two threads: the
# whole library with Windows' own threads (no extra DLL).
if [[ $for == pkgtool ]]; then
  wanted=(--host="$host" --prefix="$prefix"
    --disable-shared --enable-static --enable-threads=vista
    --disable-xz --disable-xzdec --disable-lzmadec --disable-lzmainfo
    --disable-lzma-links --disable-scripts --disable-doc --disable-nls)
fi
help=$("$src/configure" --help)
args=()
for a in "${wanted[@]}"; do
  opt=${a%%=*}
  case $opt in
    --host|--prefix|--enable-threads) args+=("$a"); continue ;;
  esac
  name=${opt#--enable-}
  name=${name#--disable-}
  # Keep only the switches this version's configure knows.
  if grep -q -- "-$name\b" <<<"$help"; then
    args+=("$a")
  else
    say "configure does not know $opt; skipped"
  fi
done

say "configuring for $host"
(
  cd "$src"
  # The archive needs the LTO plugin's symbol index: gcc-ar writes it.
  CC="$host-gcc$suffix" CFLAGS="$cflags" AR="$host-gcc-ar$suffix" RANLIB="$host-gcc-ranlib$suffix" \
    ./configure "${args[@]}" >"$work/configure.log" 2>&1 \
    || { tail -n 30 "$work/configure.log" >&2; exit 1; }
  make -j"$(nproc)" -C src/liblzma >"$work/make.log" 2>&1 \
    || { tail -n 30 "$work/make.log" >&2; exit 1; }
  make -C src/liblzma install >"$work/install.log" 2>&1 \
    || { tail -n 30 "$work/install.log" >&2; exit 1; }
)
[[ -f "$prefix/lib/liblzma.a" ]] || die "build finished without lib/liblzma.a"
if [[ $for == pkgtool ]]; then
  mkdir -p "$prefix/share"
  cp "$src/COPYING" "$prefix/share/COPYING"
fi
printf '%s\n' "$recipe" >"$prefix/recipe"
rm -rf "$work"
say "installed into $prefix"
