#!/usr/bin/env bash
# Installs the Debian packages named on the command line that are missing.
#
#   tools/deps.sh PKG...
#
# A ready machine pays one dpkg-query. Otherwise apt runs as root, and what
# decides success is whether the packages are installed afterwards: Debian's
# archive sometimes fails one index ("Mirror sync in progress?") that has
# nothing to do with these packages, and apt-get update then exits 100 although
# everything needed is there. Failures are retried a few times with a pause; a
# package that still cannot be installed is named, with apt's own words.
set -euo pipefail

say() { printf 'deps: %s\n' "$*" >&2; }

# One dpkg-query for all: a ready machine should not wait on this.
missing() {
  local ok
  ok=$(dpkg-query -W -f='${Package} ${Status}\n' "$@" 2>/dev/null | awk '/ install ok installed$/ { print $1 }' || true)
  local p
  for p in "$@"; do
    grep -qxF -- "${p%%:*}" <<<"$ok" || printf '%s\n' "$p"
  done
}

mapfile -t todo < <(missing "$@")
[[ ${#todo[@]} -eq 0 ]] && exit 0
if [[ $(id -u) -ne 0 ]]; then
  say "missing packages: ${todo[*]} (run make deps as root)"
  exit 1
fi

log=$(mktemp)
trap 'rm -f "$log"' EXIT
export DEBIAN_FRONTEND=noninteractive
apt=(apt-get -q -o DPkg::Lock::Timeout=300)
tries=3
for attempt in $(seq 1 $tries); do
  say "installing (try $attempt of $tries): ${todo[*]}"
  # Its exit status speaks for every index; only the packages matter here.
  "${apt[@]}" update >"$log" 2>&1 || grep -E '^(E|W):' "$log" | head -n 3 | sed 's/^/deps: apt-get update: /' >&2 || true
  if ! "${apt[@]}" install -y --no-install-recommends "${todo[@]}" >>"$log" 2>&1; then
    # One package that cannot be had must not keep the others out.
    for p in "${todo[@]}"; do
      "${apt[@]}" install -y --no-install-recommends "$p" >>"$log" 2>&1 || true
    done
  fi
  mapfile -t todo < <(missing "${todo[@]}")
  [[ ${#todo[@]} -eq 0 ]] && exit 0
  [[ $attempt -lt $tries ]] && sleep $((attempt * 5))
done

say "could not install: ${todo[*]}"
grep -E '^(E|W):|not installable|has no installation candidate|Unable to' "$log" | sort -u | head -n 12 | sed 's/^/deps:   /' >&2 || true
exit 1
