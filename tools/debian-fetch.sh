#!/usr/bin/env bash
# Fetches Debian packages or sources through a private apt configuration, so
# that the build never changes the machine's apt setup and never depends on an
# index it does not need: the machine's own `apt-get update` may fail on, say,
# the security suite's i386 index while everything this needs is there.
#
#   tools/debian-fetch.sh debs   DEST ARCH PKG[=VERSION]...  .deb files into DEST
#   tools/debian-fetch.sh source DEST SRCPKG[=VERSION]       unpacked source in DEST
#
# The archive entries (URIs, suites, keys) are the machine's own Debian ones.
# The private state lives in APT_STATE (default build/apt/ARCH or
# build/apt/source). A failed index download is retried a few times; success
# is judged by whether the wanted packages can be found afterwards, not by
# apt-get update's exit status.
set -euo pipefail

say() { printf 'debian-fetch: %s\n' "$*" >&2; }
die() { say "$*"; exit 1; }

usage="usage: debian-fetch.sh debs DEST ARCH PKG[=VERSION]... | source DEST SRCPKG[=VERSION]"
mode=${1:?$usage}
dest=${2:?$usage}
shift 2
case $mode in
  debs) arch=${1:?$usage}; shift; [[ $# -gt 0 ]] || die "$usage" ;;
  source) arch=source; [[ $# -eq 1 ]] || die "$usage" ;;
  *) die "$usage" ;;
esac

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
state=${APT_STATE:-$root/build/apt/$arch}
mkdir -p "$state/lists/partial" "$state/cache/archives/partial" "$state/parts" "$dest"
state=$(cd "$state" && pwd)
dest=$(cd "$dest" && pwd)

# Prints "URI SUITE KEYRING" for every suite of the Debian archive that the
# machine's apt sources name, in both the one-line and the deb822 format.
debian_suites() {
  local f
  for f in /etc/apt/sources.list /etc/apt/sources.list.d/*.list; do
    [[ -e $f ]] || continue
    awk '
      /^[[:space:]]*deb[[:space:]]/ {
        key = "-"; i = 2
        if ($2 ~ /^\[/) {
          for (; i <= NF; i++) {
            if ($i ~ /signed-by=/) { key = $i; sub(/.*signed-by=/, "", key); sub(/\].*/, "", key) }
            if ($i ~ /\]$/) { i++; break }
          }
        }
        if ($i ~ /debian\.org|\/debian(-security)?\/?$/) print $i, $(i + 1), key
      }' "$f"
  done
  for f in /etc/apt/sources.list.d/*.sources; do
    [[ -e $f ]] || continue
    awk '
      function flush(   n, u, s, a, b) {
        if (binary && enabled && uris != "") {
          n = split(uris, a, " "); split(suites, b, " ")
          for (u = 1; u <= n; u++) if (a[u] ~ /debian\.org|\/debian(-security)?\/?$/)
            for (s in b) print a[u], b[s], (key == "" ? "-" : key)
        }
        binary = 0; enabled = 1; uris = ""; suites = ""; key = ""
      }
      BEGIN { enabled = 1 }
      /^[[:space:]]*$/ { flush(); next }
      /^#/ { next }
      /^Types:/ { if ($0 ~ /[[:space:]]deb([[:space:]]|$)/) binary = 1 }
      /^Enabled:[[:space:]]*(no|false)/ { enabled = 0 }
      /^URIs:/ { sub(/^URIs:[[:space:]]*/, ""); uris = $0 }
      /^Suites:/ { sub(/^Suites:[[:space:]]*/, ""); suites = $0 }
      /^Signed-By:/ { sub(/^Signed-By:[[:space:]]*/, ""); key = $0 }
      END { flush() }' "$f"
  done
}

entries=$(debian_suites | sort -u)
[[ -n $entries ]] || die "the machine's apt sources name no Debian archive"
{
  while read -r uri suite key; do
    opts=()
    [[ $arch != source ]] && opts+=("arch=$arch")
    [[ $key != - ]] && opts+=("signed-by=$key")
    type=deb
    [[ $arch == source ]] && type=deb-src
    printf '%s %s %s %s main\n' "$type" "${opts[*]:+[${opts[*]}]}" "$uri" "$suite"
  done <<<"$entries"
} >"$state/sources.list"

apt_opts=(
  -o "Dir::State::Lists=$state/lists"
  -o "Dir::Cache=$state/cache"
  -o "Dir::Cache::pkgcache=" -o "Dir::Cache::srcpkgcache="
  -o "Dir::Etc::SourceList=$state/sources.list"
  -o "Dir::Etc::SourceParts=$state/parts"
  -o "Acquire::Languages=none"
  -o "APT::Sandbox::User=root"
  -o "Acquire::Retries=3"
  -q
)
[[ $arch != source ]] && apt_opts+=(-o "APT::Architectures::=$arch")

# Whether every wanted package (at the wanted version) is known to the
# private indexes.
known() {
  local want name version out
  for want in "$@"; do
    name=${want%%=*}
    version=
    [[ $want == *=* ]] && version=${want#*=}
    if [[ $arch == source ]]; then
      out=$(apt-cache "${apt_opts[@]}" showsrc "$name" 2>/dev/null | awk '/^Version:/ { print $2 }')
    else
      out=$(apt-cache "${apt_opts[@]}" show "$name:$arch" 2>/dev/null | awk '/^Version:/ { print $2 }')
    fi
    [[ -n $out ]] || return 1
    [[ -z $version ]] || grep -qxF -- "$version" <<<"$out" || return 1
  done
}

if ! known "$@"; then
  for attempt in 1 2 3 4; do
    # Its exit status only says that some index failed; what counts is
    # whether the wanted packages are known afterwards.
    apt-get "${apt_opts[@]}" update >"$state/update.log" 2>&1 || true
    known "$@" && break
    [[ $attempt -lt 4 ]] || {
      grep -E '^(E|W):' "$state/update.log" | head -n 5 >&2 || true
      die "not in the archive's $arch indexes (after 4 tries): $*"
    }
    say "the archive did not offer all of: $* (try $attempt); again in $((attempt * 5)) s"
    sleep $((attempt * 5))
  done
fi

cd "$dest"
case $mode in
  debs)
    wants=()
    for want in "$@"; do
      if [[ $want == *=* ]]; then wants+=("${want%%=*}:$arch=${want#*=}"); else wants+=("$want:$arch"); fi
    done
    for attempt in 1 2 3; do
      apt-get "${apt_opts[@]}" download "${wants[@]}" >"$state/download.log" 2>&1 && break
      [[ $attempt -lt 3 ]] || { tail -n 5 "$state/download.log" >&2; die "download failed: ${wants[*]}"; }
      sleep $((attempt * 5))
    done
    ;;
  source)
    command -v dpkg-source >/dev/null || die "dpkg-source not found (make deps installs dpkg-dev)"
    for attempt in 1 2 3; do
      apt-get "${apt_opts[@]}" source "$1" >"$state/download.log" 2>&1 && break
      [[ $attempt -lt 3 ]] || { tail -n 5 "$state/download.log" >&2; die "source download failed: $1"; }
      sleep $((attempt * 5))
    done
    ;;
esac
