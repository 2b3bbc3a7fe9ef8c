#!/usr/bin/env bash
# The newcomer's path, checked: bootstraps a clean Debian 12 root, clones the
# committed tree into it and runs the README's two commands there, as root,
# with nothing installed by hand. Not part of make test (it takes long and
# changes mounts); run it whenever install steps change.
#
#   tools/fresh-machine.sh [--broken-entry] [--keep] [COMMAND...]
#
# COMMANDs default to "make demo" and "make test", each run in the same root
# in turn. --broken-entry adds an archive entry for a suite that the archive
# does not have, so that the root's apt-get update fails (exit 100) the way a
# misbehaving mirror makes it fail. --keep leaves the root in place.
#
# The archive entries are the host's Debian ones (updates and security
# included). The bootstrapped base is cached (build/fresh/base.tar); every
# check unpacks it anew. Summary lines ("fresh-check: ...") go to standard
# output and to build/fresh/summary.txt. Needs root.
set -euo pipefail

root_dir=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
work=${FRESH_DIR:-$root_dir/build/fresh}
broken=0
keep=0
cmds=()
while [[ $# -gt 0 ]]; do
  case $1 in
    --broken-entry) broken=1 ;;
    --keep) keep=1 ;;
    -h|--help) sed -n '2,18p' "$0"; exit 0 ;;
    -*) echo "fresh-machine: unknown option $1" >&2; exit 2 ;;
    *) cmds+=("$1") ;;
  esac
  shift
done
[[ ${#cmds[@]} -gt 0 ]] || cmds=("make demo" "make test")
[[ $(id -u) -eq 0 ]] || { echo "fresh-machine: needs root (debootstrap, chroot, mounts)" >&2; exit 1; }

say() { printf 'fresh-check: %s\n' "$*" | tee -a "$work/summary.txt"; }
bash "$root_dir/tools/deps.sh" debootstrap git
mkdir -p "$work"

# The host's Debian archive entries, one line each.
mirror=
entries=()
while read -r uri suite _; do
  entries+=("deb $uri $suite main")
  [[ $suite == bookworm && -z $mirror ]] && mirror=$uri
done < <(APT_STATE=$work/apt bash -c '
  source <(sed -n "/^debian_suites() {/,/^}/p" "$1"); debian_suites | sort -u' _ "$root_dir/tools/debian-fetch.sh")
[[ -n $mirror ]] || { echo "fresh-machine: the host names no bookworm suite of the Debian archive" >&2; exit 1; }

base=$work/base.tar
if [[ ! -s $base ]]; then
  echo "fresh-machine: bootstrapping Debian 12 from $mirror (once; cached in $base)"
  rm -rf "$work/base"
  start=$SECONDS
  # make is the one thing a newcomer brings: the README's commands are make targets.
  debootstrap --include=make bookworm "$work/base" "$mirror" >"$work/debootstrap.log" 2>&1 \
    || { tail -n 20 "$work/debootstrap.log" >&2; exit 1; }
  tar -C "$work/base" -cf "$base.tmp" . && mv "$base.tmp" "$base"
  rm -rf "$work/base"
  echo "fresh-machine: bootstrapped in $((SECONDS - start)) s"
fi

chroot_dir=$work/root
mounts=()
cleanup() {
  local m
  for ((i = ${#mounts[@]} - 1; i >= 0; i--)); do umount -R -l "${mounts[i]}" 2>/dev/null || true; done
  # Processes a command left behind (a wine server) would hold the mounts.
  if [[ -d $chroot_dir/proc ]]; then
    for p in /proc/[0-9]*; do
      [[ $(readlink "$p/root" 2>/dev/null) == "$chroot_dir" ]] && kill -9 "${p#/proc/}" 2>/dev/null || true
    done
  fi
  [[ $keep -eq 1 ]] || rm -rf --one-file-system "$chroot_dir"
}
trap cleanup EXIT

rm -rf --one-file-system "$chroot_dir"
mkdir -p "$chroot_dir"
tar -C "$chroot_dir" -xf "$base"
{
  printf '%s\n' "${entries[@]}"
  [[ $broken -eq 0 ]] || echo "deb $mirror bookworm-no-such-suite main"
} >"$chroot_dir/etc/apt/sources.list"
cp /etc/resolv.conf "$chroot_dir/etc/resolv.conf"
for m in proc sys dev; do
  mount --rbind "/$m" "$chroot_dir/$m"
  mount --make-rslave "$chroot_dir/$m"
  mounts+=("$chroot_dir/$m")
done
mount -t tmpfs tmpfs "$chroot_dir/tmp"
mounts+=("$chroot_dir/tmp")

# The committed tree, as a newcomer's clone gets it.
git clone -q --no-local "$root_dir" "$chroot_dir/root/project"
commit=$(git -C "$chroot_dir/root/project" log -1 --format='%h %s')

: >"$work/summary.txt"
if ((broken)); then suffix=-broken; what='with a broken archive entry'; else suffix=; what='normal archive entries'; fi
say "root $(date -u +%FT%TZ), commit $commit, $what"
status=0
for cmd in "${cmds[@]}"; do
  log=$work/$(tr -c 'a-z0-9\n' '-' <<<"$cmd" | head -c 40)$suffix.log
  start=$SECONDS
  rc=0
  env -i HOME=/root TERM=dumb PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin LANG=C.UTF-8 \
    chroot "$chroot_dir" /bin/bash -c "cd /root/project && $cmd" >"$log" 2>&1 || rc=$?
  say "$cmd: exit $rc in $((SECONDS - start)) s (log: $log)"
  [[ $rc -eq 0 ]] || { status=1; tail -n 15 "$log" | sed 's/^/  | /'; }
  grep -E '^[0-9]+% tests passed|tests passed, [0-9]+ tests failed|passed, [0-9]+ failed|^demo: ' "$log" \
    | tail -n 6 | sed 's/^/  /' | tee -a "$work/summary.txt" || true
done
exit $status
