#!/usr/bin/env bash
# Debian's i386 xz, the reference of the same width for the 32-bit stub's
# decoder: fetched privately (tools/debian-fetch.sh, nothing installed), run
# natively by its own package's dynamic loader. Prints the path of a command
# that runs it, or, where the kernel runs no 32-bit code, says so on stderr
# and exits 1.
#
#   bench/i386-xz.sh [DIR]        DIR defaults to build/i386-xz
#
# The packages are the archive's current xz-utils, liblzma5 and libc6 for
# i386 (on Debian 12 the same upstream xz as the host's); the folder is made
# once and again when this script changes. The report names the version.
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
dir=${1:-$root/build/i386-xz}
mkdir -p "$dir"
dir=$(cd "$dir" && pwd)

say() { printf 'i386-xz: %s\n' "$*" >&2; }

key=$(sha256sum "${BASH_SOURCE[0]}" | cut -d' ' -f1)
tree=$dir/root
if [[ $(cat "$dir/stamp" 2>/dev/null) != "$key" ]]; then
  say "fetching Debian's i386 xz-utils into $dir (once)"
  rm -rf "$dir/stamp" "$dir/debs" "$tree" "$tree.new"
  APT_STATE=$dir/apt bash "$root/tools/debian-fetch.sh" debs "$dir/debs" i386 xz-utils liblzma5 libc6
  for deb in "$dir"/debs/*.deb; do dpkg-deb -x "$deb" "$tree.new"; done
  mv "$tree.new" "$tree"
  cat >"$dir/xz" <<EOF
#!/bin/sh
exec $tree/lib/ld-linux.so.2 --library-path $tree/lib/i386-linux-gnu:$tree/usr/lib/i386-linux-gnu $tree/usr/bin/xz "\$@"
EOF
  chmod +x "$dir/xz"
  echo "$key" >"$dir/stamp"
fi

if ! out=$("$dir/xz" --version 2>&1) || [[ $out != xz* ]]; then
  say "the i386 xz in $tree does not run here: the kernel runs no 32-bit code (${out:-no output})"
  exit 1
fi
echo "$dir/xz"
