#!/usr/bin/env bash
# Builds a static, decode-only liblzma for a MinGW-w64 target from Debian's own
# source of xz-utils, so that the stub links the same library version the host
# tools use, with nothing fetched from outside the Debian archive.
#
#   cmake/liblzma-mingw.sh PREFIX [HOST]
#
# PREFIX receives include/lzma.h and lib/liblzma.a. HOST is the target triplet
# (default i686-w64-mingw32). Does nothing when PREFIX already holds the
# library. Needs root only when the source package must still be fetched: it
# then adds deb-src entries mirroring the configured Debian archive and runs
# apt-get update once.
set -euo pipefail

prefix=${1:?usage: liblzma-mingw.sh PREFIX [HOST]}
host=${2:-i686-w64-mingw32}

# The flags below decide the stub's size and unpacking speed. They are
# recorded beside the library, so that changing them rebuilds it.
# --enable-small: the decoder's bit-tree loops are not unrolled (about 9 KiB
# of code less, for a slower decode; bench/README.md has the figures).
# -Os and LTO: the stub links liblzma and its own code as one unit, so the
# parts of the filter-chain machinery a raw LZMA1 decoder never reaches fall
# away. Fat objects keep the library usable without the LTO plugin.
recipe="small -Os -flto -ffat-lto-objects -ffunction-sections -fdata-sections -fno-asynchronous-unwind-tables -fno-ident"
cflags=${recipe#small }

if [[ -f "$prefix/lib/liblzma.a" && -f "$prefix/include/lzma.h" &&
      "$(cat "$prefix/recipe" 2>/dev/null)" == "$recipe" ]]; then
  exit 0
fi

say() { printf 'liblzma-mingw: %s\n' "$*" >&2; }
die() { say "$*"; exit 1; }

# The same compiler variant as the stub (see cmake/toolchain-*.cmake): LTO
# joins the two, so they must agree.
suffix=
command -v "$host-gcc-win32" >/dev/null && suffix=-win32
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

sources_ready() {
  local out
  out=$(apt-cache showsrc xz-utils 2>/dev/null || true)
  [[ $out == *"Package: xz-utils"* ]]
}

add_source_entries() {
  local list=/etc/apt/sources.list.d/stub-build-src.sources
  [[ $(id -u) -eq 0 ]] || die "source entries for xz-utils are missing; run as root (make deps) once"
  say "adding deb-src entries for the configured Debian archive ($list)"
  : >"$list.tmp"
  # deb822 files: repeat every stanza that offers binary packages with
  # Types: deb-src, keeping its URIs, suites, components and keys.
  local f
  for f in /etc/apt/sources.list.d/*.sources; do
    [[ -e "$f" && "$f" != "$list" ]] || continue
    awk '
      function flush() {
        if (stanza != "" && binary && !enabled_no && debian) print stanza "\n"
        stanza = ""; binary = 0; enabled_no = 0; debian = 0
      }
      /^[[:space:]]*$/ { flush(); next }
      /^#/ { next }
      /^Types:/ {
        if ($0 ~ /[[:space:]]deb([[:space:]]|$)/) binary = 1
        stanza = stanza (stanza == "" ? "" : "\n") "Types: deb-src"
        next
      }
      /^Enabled:[[:space:]]*(no|false)/ { enabled_no = 1 }
      /^URIs:.*debian\.org/ { debian = 1 }
      /^Signed-By:.*debian-archive-keyring/ { debian = 1 }
      { stanza = stanza (stanza == "" ? "" : "\n") $0 }
      END { flush() }
    ' "$f" >>"$list.tmp"
  done
  # One-line format: every "deb URI suite comp..." line of the Debian archive.
  for f in /etc/apt/sources.list /etc/apt/sources.list.d/*.list; do
    [[ -e "$f" ]] || continue
    awk '/^[[:space:]]*deb[[:space:]].*debian\.org/ { sub(/deb/, "deb-src"); print }' "$f" \
      >>"$work/oneline.list"
  done
  if [[ -s "$work/oneline.list" ]]; then
    cp "$work/oneline.list" /etc/apt/sources.list.d/stub-build-src.list
  fi
  if [[ -s "$list.tmp" ]]; then
    mv "$list.tmp" "$list"
  else
    rm -f "$list.tmp"
  fi
  [[ -s "$list" || -s /etc/apt/sources.list.d/stub-build-src.list ]] \
    || die "no Debian archive found in the apt sources"
  apt-get update -qq
}

if ! sources_ready; then
  add_source_entries
  sources_ready || die "apt still offers no source for xz-utils"
fi

say "fetching Debian source of xz-utils${installed:+ $installed}"
(
  cd "$work"
  # Prefer exactly the installed version; fall back to the archive's newest.
  if [[ -n "$installed" ]] && apt-get source -qq -o APT::Sandbox::User=root "xz-utils=$installed" >/dev/null 2>&1; then
    :
  else
    apt-get source -qq -o APT::Sandbox::User=root xz-utils >/dev/null
  fi
)
src=$(find "$work" -mindepth 1 -maxdepth 1 -type d -name 'xz-utils-*' | head -n 1)
[[ -n "$src" && -x "$src/configure" ]] || die "unpacked source has no configure script"

# Raw LZMA1 decoding is all the stub needs.
wanted=(--host="$host" --prefix="$prefix"
  --disable-shared --enable-static --enable-small
  --disable-encoders --enable-decoders=lzma1
  --disable-xz --disable-xzdec --disable-lzmadec --disable-lzmainfo
  --disable-lzma-links --disable-scripts --disable-doc --disable-nls
  --disable-threads --disable-lzip-decoder --disable-microlzma)
help=$("$src/configure" --help)
args=()
for a in "${wanted[@]}"; do
  opt=${a%%=*}
  case $opt in
    --host|--prefix) args+=("$a"); continue ;;
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
printf '%s\n' "$recipe" >"$prefix/recipe"
rm -rf "$work"
say "installed into $prefix"
