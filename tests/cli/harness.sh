# What the pkgtool command-line tests share: the tool under test, a scratch
# folder that is removed at exit (and the current folder), and counted checks.
#   source harness.sh PATH/TO/pkgtool
#   source harness.sh PATH/TO/pkgtool.exe    the Windows build, under 64-bit Wine
#
# For pkgtool.exe, $PKGTOOL is a wrapper that runs it under Wine and gives it
# every absolute Unix path among its arguments as a Windows path (Z: is /);
# relative paths need nothing, Windows takes forward slashes. Its prefix is a
# copy of PKGTOOL_WINE_PREFIX when that names one (made once per test run,
# tests/cli/wine-prefix.sh), else made here; either way this run's own.
TOOL=$(realpath "$1")
WORK=$(mktemp -d)
SYSTEM=posix
PKGTOOL=$TOOL
cleanup() {
  if [[ $SYSTEM == windows ]]; then
    # The server started below lives in the TMPDIR of that moment; a suite
    # may have changed it since, and a server left running would hold the
    # test runner's output open for ever.
    WINEPREFIX=$WINE_HOME/prefix "$WINESERVER" -k > /dev/null 2>&1
    TMPDIR=$WINE_TMPDIR WINEPREFIX=$WINE_HOME/prefix "$WINESERVER" -k > /dev/null 2>&1
    rm -rf "$WINE_HOME"
  fi
  rm -rf "$WORK"
}
trap cleanup EXIT

# Writes to $1 a wrapper that runs the Windows program $2 under Wine.
wine_wrapper() {
  cat > "$1" <<EOF
#!/usr/bin/env bash
export WINEPREFIX='$WINE_HOME/prefix' WINEARCH=win64 WINEDEBUG=\${PKGTOOL_WINEDEBUG:--all}
export WINEDLLOVERRIDES='mscoree,mshtml=;winemenubuilder.exe=d'
unset DISPLAY WAYLAND_DISPLAY
args=()
package=
for a in "\$@"; do
  # After "--" the words are the package's arguments (/S, /temp), never paths.
  if [[ -z \$package && \$a == -- ]]; then
    package=1
  elif [[ -z \$package && \$a == /*/* ]]; then
    a="Z:\${a//\//\\\\}"
  fi
  args+=("\$a")
done
exec '$PKGTOOL_WINE' '$2' "\${args[@]}"
EOF
  chmod +x "$1"
}

if [[ $TOOL == *.exe ]]; then
  SYSTEM=windows
  PKGTOOL_WINE=${PKGTOOL_WINE:-/usr/lib/wine/wine64}
  WINESERVER=$(dirname "$PKGTOOL_WINE")/wineserver
  [[ -x $PKGTOOL_WINE ]] || { echo "no 64-bit Wine at $PKGTOOL_WINE (make deps installs wine64)" >&2; exit 2; }
  [[ -f $TOOL ]] || { echo "SKIP: no $TOOL (make dist builds it)" >&2; exit 77; }
  WINE_HOME=$(mktemp -d)
  if [[ -n ${PKGTOOL_WINE_PREFIX:-} && -f $PKGTOOL_WINE_PREFIX/system.reg ]]; then
    cp -a "$PKGTOOL_WINE_PREFIX" "$WINE_HOME/prefix"
  else
    bash "$(dirname "${BASH_SOURCE[0]}")/wine-prefix.sh" "$WINE_HOME/prefix" "$PKGTOOL_WINE" || exit 2
  fi
  # One server for the whole run, rather than one per command.
  WINE_TMPDIR=${TMPDIR:-/tmp}
  WINEPREFIX=$WINE_HOME/prefix "$WINESERVER" -p
  PKGTOOL=$WINE_HOME/pkgtool
  wine_wrapper "$PKGTOOL" "$TOOL"
fi
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

# wine_server stop|start: ends or starts again the run's one Wine server
# (pkgtool.exe only). Wine's server opens the files its programs name, so a
# run in a mount namespace of its own needs a server started inside it.
wine_server() {
  [[ $SYSTEM == windows ]] || return 0
  if [[ $1 == stop ]]; then
    WINEPREFIX=$WINE_HOME/prefix "$WINESERVER" -k > /dev/null 2>&1
    WINEPREFIX=$WINE_HOME/prefix "$WINESERVER" -w
  else
    WINEPREFIX=$WINE_HOME/prefix "$WINESERVER" -w
    WINEPREFIX=$WINE_HOME/prefix "$WINESERVER" -p
  fi
}

# Puts a copy of the tool under test into DIR as DIR/pkgtool (for pkgtool.exe
# the program goes beside its wrapper), for the tests of what it finds beside
# itself.
install_pkgtool() {
  mkdir -p "$1"
  if [[ $SYSTEM == windows ]]; then
    cp "$TOOL" "$1/pkgtool.exe"
    wine_wrapper "$1/pkgtool" "$(realpath "$1")/pkgtool.exe"
  else
    cp "$TOOL" "$1/pkgtool"
  fi
}

# TEXT with its paths as the tool under test shows paths it made itself: on
# Windows with backslashes, and an absolute path on drive Z:.
shown() {
  if [[ $SYSTEM == windows ]]; then
    sed -e 's#/#\\#g' -e 's#\(^\|[ (]\)\\#\1Z:\\#g' <<<"$1"
  else
    printf '%s\n' "$1"
  fi
}

# Whether the table row NAME runs on this system. A name that ends in
# "[posix: WHY]" or "[windows: WHY]" runs only there; elsewhere the row is
# reported as skipped, with WHY.
row_here() {
  [[ $1 =~ \[(posix|windows):\ *([^]]*)\]$ ]] || return 0
  [[ ${BASH_REMATCH[1]} == "$SYSTEM" ]] && return 0
  echo "SKIP: ${1%% \[*} on $SYSTEM: ${BASH_REMATCH[2]}" >&2
  return 1
}

# Refusals, one row a line on stdin: "name|arguments (shell words)|fragment".
# Each command must end with exit code 2 and one line on stderr holding the
# fragment, and leave neither out.exe nor a temporary file of it behind.
# Blank lines and lines starting with # are passed over.
refusal_rows() {
  local name args fragment rc
  while IFS='|' read -r name args fragment; do
    [[ -z "$name" || "$name" == \#* ]] && continue
    row_here "$name" || continue
    checks=$((checks + 1))
    rm -f out.exe out.exe.tmp-*
    eval "set -- $args"
    "$PKGTOOL" "$@" > stdout.txt 2> stderr.txt
    rc=$?
    [[ $rc -eq 2 ]] || fail "$name: exit code $rc, expected 2"
    grep -qF -- "$fragment" stderr.txt || fail "$name: message lacks '$fragment': $(cat stderr.txt)"
    [[ $(wc -l < stderr.txt) -eq 1 ]] || fail "$name: message is not one line: $(cat stderr.txt)"
    [[ ! -e out.exe ]] || fail "$name: out.exe was written"
    if compgen -G 'out.exe.tmp-*' > /dev/null; then fail "$name: a temporary file was left behind"; fi
  done
}

# What a terminal showed, as lines: Wine's console draws with escape
# sequences (the cursor hidden and shown, a gap skipped), read here as the
# text they draw.
terminal_text() {
  sed -e 's/\x1b\[?25[lh]//g' -e 's/\x1b\[K\x1b\[1C/ /g' -e 's/\x1b\[[0-9;]*[A-Za-z]//g' "$1" |
    tr '\r' '\n'
}
