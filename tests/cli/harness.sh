# What the pkgtool command-line tests share: the tool under test, a scratch
# folder that is removed at exit (and the current folder), and counted checks.
#   source harness.sh PATH/TO/pkgtool
PKGTOOL=$(realpath "$1")
WORK=$(mktemp -d)
trap 'rm -rf "$WORK"' EXIT
cd "$WORK" || exit 2

failures=0
checks=0
fail() {
  echo "FAIL: $*" >&2
  failures=$((failures + 1))
}
check() {  # check DESCRIPTION COMMAND...: the command must succeed
  checks=$((checks + 1))
  local what=$1
  shift
  "$@" || fail "$what"
}
