#!/usr/bin/env bash
# End-to-end runs of the launcher under Wine: real packages, real files, the
# boxes read back from Wine's relay log and the starts from the stand-in setup
# program's report.
#
# Usage: tests/wine/e2e.sh STUB.exe PKGTOOL SETUPPROG_DIR
#
# This host's kernel runs 64-bit code only, so the suite drives the 64-bit
# build of the same launcher sources under wine64. That build is a native
# 64-bit process, so Windows looks 32-bit to it (no WOW64): it picks the x86
# program, and a 64-bit-only package is refused.
set -uo pipefail

stub=${1:?stub}
pkgtool=${2:?pkgtool}
progs=${3:?setup program folder}
wine=/usr/lib/wine/wine64
wineserver=/usr/lib/wine/wineserver64

work=$(mktemp -d /tmp/stub-e2e.XXXXXX)
export WINEPREFIX=$work/prefix WINEARCH=win64 WINEDLLOVERRIDES="mscoree,mshtml=d"
trap '$wineserver -k >/dev/null 2>&1; rm -rf "$work"' EXIT

passed=0
failed=0
check() {  # check NAME CONDITION-RESULT DETAIL
  if [[ $2 == 0 ]]; then passed=$((passed + 1)); echo "ok   $1"
  else failed=$((failed + 1)); echo "FAIL $1: $3"; fi
}

echo "preparing a Wine prefix..."
WINEDEBUG=-all $wine wineboot -i >/dev/null 2>&1
WINEDEBUG=-all $wine reg add 'HKCU\Software\Wine\Debug' /v RelayInclude /t REG_SZ \
  /d 'user32.MessageBoxW;kernel32.CreateProcessW;shell32.ShellExecuteExW' /f >/dev/null 2>&1
$wineserver -w

pkgdir=$work/Downloads
mkdir -p "$pkgdir"
winpath() { echo "Z:${1//\//\\}"; }
msg_damaged="An error occurred while trying to read the setup package.  It has most likely been damaged."
msg_truncated="The setup package has been truncated.  You most likely have an incomplete download."
msg_copy="An error occurred while trying to create a temporary copy of the setup package."
msg_exec="The temporary copy of the setup package could not be executed."

build() {  # build NAME [pkgtool build options...]
  local name=$1; shift
  "$pkgtool" build -q -o "$pkgdir/$name" --stub "$stub" "$@"
}

# run PACKAGE [ARGS...]: sets $rc, $relay (log), $report (setup program's report)
run() {
  local package=$1; shift
  relay=$work/relay.log
  report=$work/report.txt
  rm -f "$report"
  (cd "$pkgdir" && SETUPPROG_REPORT="$(winpath "$report")" WINEDEBUG=-all,+relay \
     $wine "$package" "$@" >/dev/null 2>"$relay")
  rc=$?
  $wineserver -w
}

boxes() { grep -c 'Call user32.MessageBoxW' "$relay"; }
box_has() {  # box_has TEXT-PREFIX CAPTION
  grep 'Call user32.MessageBoxW' "$relay" | grep -F "L\"$1" | grep -F "L\"${2//\\/\\\\}\",00000010)" >/dev/null
}
report_has() { grep -F -x -- "$1" "$report" >/dev/null 2>&1; }
set_version() { WINEDEBUG=-all $wine winecfg -v "$1" >/dev/null 2>&1; $wineserver -w; }
set_registry() {  # set_registry NAME VALUE (both registry views)
  for view in 32 64; do
    WINEDEBUG=-all $wine reg add 'HKLM\Software\Microsoft\Windows NT\CurrentVersion' /v "$1" \
      /t REG_SZ /d "$2" /f /reg:$view >/dev/null 2>&1
  done
  $wineserver -w
}

x86=$progs/SetupProg-x86tag.exe
x64=$progs/SetupProg-x64.exe
temp=$(WINEDEBUG=-all $wine cmd /c echo %TEMP% 2>/dev/null | tr -d '\r')
tempunix=$(WINEDEBUG=-all $wine winepath -u "$temp" 2>/dev/null | tr -d '\r')
set_version win10
set_registry CurrentBuild 19045
set_registry DisplayVersion 22H2

# --- Integrity -------------------------------------------------------------
build Setup.exe --x86 "$x86" --x64 "$x64"
pkg=$(winpath "$pkgdir/Setup.exe")
run Setup.exe /s "D:\\My Folder"
check "sound package starts the setup program" $(( rc != 0 || $(boxes) != 0 )) "rc=$rc boxes=$(boxes)"
report_has "commandline=\"${temp}\\Setup.exe\" \"$pkg\" /s \"D:\\My Folder\""
check "setup program gets the quoted package path and the arguments" $? "$(cat "$report" 2>&1)"
report_has "currentdirectory=$(winpath "$pkgdir")"
check "current folder is the package folder" $? "$(grep currentdirectory= "$report" 2>&1)"
report_has "arch=x86"
check "the program for this Windows width was unpacked" $? "$(grep arch= "$report" 2>&1)"
[[ ! -e "$tempunix/Setup.exe" ]]
check "the copy is deleted after the setup program ends" $? "$tempunix/Setup.exe remains"

cp "$pkgdir/Setup.exe" "$pkgdir/Damaged.exe"
printf '\xff' | dd of="$pkgdir/Damaged.exe" bs=1 seek=$(( $(stat -c %s "$stub") + 100 )) conv=notrunc status=none
run Damaged.exe
box_has "$msg_damaged" "$(winpath "$pkgdir/Damaged.exe")"
check "damaged package: one damaged box, path caption, error icon" $(( $? != 0 || $(boxes) != 1 || rc != 0 )) "rc=$rc boxes=$(boxes)"

head -c $(( $(stat -c %s "$pkgdir/Setup.exe") - 10 )) "$pkgdir/Setup.exe" > "$pkgdir/Short.exe"
run Short.exe
box_has "$msg_truncated" "$(winpath "$pkgdir/Short.exe")"
check "truncated package: one truncated box, exit code 0" $(( $? != 0 || $(boxes) != 1 || rc != 0 )) "rc=$rc boxes=$(boxes)"

cp "$stub" "$pkgdir/Bare.exe"
run Bare.exe
box_has "$msg_damaged" "$(winpath "$pkgdir/Bare.exe")"
check "bare stub: one damaged box" $(( $? != 0 || $(boxes) != 1 || rc != 0 )) "rc=$rc boxes=$(boxes)"

# --- Gates -----------------------------------------------------------------
build Expired.exe --x86 "$x86" --expires 2001-01-01 --expired-message "This package expired."
run Expired.exe
box_has "This package expired." "$(winpath "$pkgdir/Expired.exe")"
check "expired package refused with its own text" $(( $? != 0 || $(boxes) != 1 )) "boxes=$(boxes)"

build Only64.exe --x64 "$x64" --wrong-width-message "Needs 64-bit Windows."
run Only64.exe
box_has "Needs 64-bit Windows." "$(winpath "$pkgdir/Only64.exe")"
check "64-bit-only package refused where Windows looks 32-bit" $? "$(grep MessageBoxW "$relay" | head -2)"

build Modern.exe --x86 "$x86" --windows 10,11 --win10 ..21H2 --win11 ..22H2 \
  --unsupported-message "Not on %USER%."
for v in "win7:Windows 7" "win81:Windows 8.1"; do
  set_version "${v%%:*}"
  run Modern.exe
  box_has "Not on ${v#*:}." "$(winpath "$pkgdir/Modern.exe")"
  check "refusal names ${v#*:}" $? "$(grep MessageBoxW "$relay" | head -2)"
done
set_version win10
set_registry CurrentBuild 19045
set_registry DisplayVersion 22H2
run Modern.exe
box_has "Not on Windows 10 22H2 (2022 Update)." "$(winpath "$pkgdir/Modern.exe")"
check "Windows 10 release above the bound refused by name" $? "$(grep MessageBoxW "$relay" | head -2)"
set_registry CurrentBuild 22631
set_registry DisplayVersion 23H2
run Modern.exe
box_has "Not on Windows 11 23H2 (2023 Update)." "$(winpath "$pkgdir/Modern.exe")"
check "Windows 11 release above the bound refused by name" $? "$(grep MessageBoxW "$relay" | head -2)"
set_registry CurrentBuild 22621
set_registry DisplayVersion 22H2
run Modern.exe
check "Windows 11 release within the bounds runs" $(( $(boxes) != 0 )) "$(grep MessageBoxW "$relay" | head -2)"
set_version win10
set_registry CurrentBuild 19045
set_registry DisplayVersion 22H2

# --- Temporary copy and start ----------------------------------------------
run Setup.exe /TEMP
report_has "module=$(winpath "$pkgdir/Setup2.exe")"
check "/TEMP alone: Setup2.exe beside the package" $? "$(grep module= "$report" 2>&1)"

mkdir -p "$work/My Temp"
run Setup.exe /temp "$(winpath "$work/My Temp")"
report_has "module=$(winpath "$work/My Temp")\\Setup.exe"
check "/temp with a folder holding spaces" $? "$(grep module= "$report" 2>&1)"

mkdir -p "$work/A" "$work/B"
echo keep > "$work/B/Setup.exe"
echo keep > "$work/B/Setup2.exe"
run Setup.exe /temp "$(winpath "$work/A")" /temp "$(winpath "$work/B")"
report_has "module=$(winpath "$work/B")\\Setup3.exe"
check "repeated /temp: the last wins; taken names numbered" $? "$(grep module= "$report" 2>&1)"
[[ $(cat "$work/B/Setup.exe") == keep && $(cat "$work/B/Setup2.exe") == keep && ! -e "$work/B/Setup3.exe" ]]
check "taken names left untouched, own copy deleted" $? "$(ls "$work/B")"

run Setup.exe /temp "$(winpath "$work/missing")"
box_has "$msg_copy" "$pkg"
check "missing folder: cannot-create-copy box" $(( $? != 0 || rc != 0 )) "$(grep MessageBoxW "$relay" | head -2)"

head -c 4000 /dev/urandom > "$work/notaprogram.bin"
mkdir -p "$work/C"
build Junk.exe --x86 "$work/notaprogram.bin"
run Junk.exe /temp "$(winpath "$work/C")"
box_has "$msg_exec" "$(winpath "$pkgdir/Junk.exe")"
check "payload that is not a program: cannot-execute box" $? "$(grep MessageBoxW "$relay" | head -2)"
[[ -e "$work/C/Junk.exe" ]]
check "the copy stays after a failed start" $? "$(ls "$work/C")"

(export SETUPPROG_EXIT=7; run Setup.exe; [[ $rc == 0 ]])
check "setup program's exit code 7 leaves the launcher at 0" $? "rc=$rc"

set_version winxp64
run Setup.exe /s
grep -q 'Call KERNEL32.CreateProcessW' "$relay" && ! grep -q 'noadmin' "$report"
check "Windows XP: direct start without /noadmin" $? "$(grep -E 'CreateProcessW|ShellExecute' "$relay" | head -2)"

# --- Signing -----------------------------------------------------------------
# A signature is appended behind the package: the file grows, which the size
# test allows, and the checksummed span is untouched.
if command -v osslsigncode >/dev/null && command -v openssl >/dev/null; then
  openssl req -x509 -newkey rsa:2048 -nodes -keyout "$work/key.pem" -out "$work/cert.pem" \
    -days 2 -subj "/CN=Throwaway test signer" >/dev/null 2>&1
  osslsigncode sign -certs "$work/cert.pem" -key "$work/key.pem" \
    -in "$pkgdir/Setup.exe" -out "$pkgdir/Signed.exe" >/dev/null 2>&1
  "$pkgtool" verify -q "$pkgdir/Signed.exe"
  check "signed package still verifies" $? "pkgtool verify failed"
  run Signed.exe /s
  report_has "module=${temp}\\Signed.exe"
  check "signed package launches" $(( $? != 0 || $(boxes) != 0 )) "$(grep MessageBoxW "$relay" | head -2)"
fi

echo
echo "$passed passed, $failed failed"
[[ $failed == 0 ]]
