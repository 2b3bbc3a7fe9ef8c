#!/usr/bin/env bash
# Authenticode and the build: what inspect and verify say about the package's
# and each setup program's signature (osslsigncode's, with a throwaway
# certificate; one altered after signing; unsigned), the build's warning and
# --require-signed-programs, and --sign-command on copies of the setup
# programs and on the package, from the command line and from a recipe.
#   usage: signing_test.sh PATH/TO/pkgtool[.exe]
# For pkgtool.exe under Wine, the sign command is a batch file that hands
# back the file osslsigncode signed beforehand on Linux (Wine's cmd cannot
# run osslsigncode with arguments), so both tools must make the same bytes.
set -u

source "$(dirname "$0")/harness.sh" "$1"
if ! command -v osslsigncode > /dev/null || ! command -v openssl > /dev/null; then
  echo "SKIP: osslsigncode or openssl missing (make deps installs them)" >&2
  exit 77
fi
mkdir -p tmp presigned
# Not for Wine, which keeps its server's socket below TMPDIR: a server
# started before it changed would outlive the run.
[[ $SYSTEM == posix ]] && export TMPDIR=$WORK/tmp
# Where the tool under test keeps its temporary files.
TEMP_ROOT=$WORK/tmp
[[ $SYSTEM == windows ]] && TEMP_ROOT=$WINE_HOME/prefix/drive_c
winpath() { printf 'Z:%s' "${1//\//\\}"; }

# --- inputs --------------------------------------------------------------------------
"$PKGTOOL" make-test-stub --pe stub.exe || exit 2
head -c 30000 /dev/urandom > data.bin
"$PKGTOOL" make-test-program x86 prog32.exe data.bin || exit 2
"$PKGTOOL" make-test-program x64 prog64.exe data.bin || exit 2
cp prog32.exe prog32.orig
for who in main other; do
  openssl req -x509 -newkey rsa:2048 -nodes -keyout $who-key.pem -out $who-cert.pem -days 2 \
    -subj "/CN=$([[ $who == main ]] && echo 'Throwaway test signer' || echo 'Other signer')" > /dev/null 2>&1 ||
    { echo "openssl cannot make a certificate" >&2; exit 2; }
done
# A fixed signing time: the same input then gets the same signed bytes.
ossl() {  # ossl IN OUT [WHO [DIGEST]]
  osslsigncode sign -certs "$WORK/${3:-main}-cert.pem" -key "$WORK/${3:-main}-key.pem" -h "${4:-sha256}" \
    -time 1767225600 -in "$1" -out "$2" > /dev/null || { echo "osslsigncode cannot sign $1" >&2; exit 2; }
}
ossl prog32.exe signed32.exe
ossl prog64.exe signed64.exe
ossl prog32.exe sha1-32.exe main sha1
ossl prog64.exe other64.exe other
cp signed32.exe altered32.exe
printf 'X' | dd of=altered32.exe bs=1 seek=2000 conv=notrunc 2> /dev/null

# --- what inspect and verify tell of each program -------------------------------------
# program | x86 or x64 | the line verify prints for it | .digestMatches in inspect --json
while IFS='|' read -r program slot expected matches; do
  [[ -z "$program" ]] && continue
  checks=$((checks + 1))
  "$PKGTOOL" build -q -o "pkg-$program" --stub stub.exe --$slot "$program" 2> /dev/null ||
    { fail "build with $program"; continue; }
  "$PKGTOOL" verify "pkg-$program" > verify.txt
  grep -qxF "  $slot setup program: $expected" verify.txt || fail "verify pkg-$program: $(cat verify.txt)"
  checks=$((checks + 1))
  "$PKGTOOL" inspect "pkg-$program" | grep -qF -- "; $expected" || fail "inspect pkg-$program lacks '$expected'"
  checks=$((checks + 1))
  [[ $("$PKGTOOL" inspect --json "pkg-$program" | jq -c ".header.$slot.signature.digestMatches") == "$matches" ]] ||
    fail "inspect --json pkg-$program: digestMatches is not $matches"
done <<'EOF'
prog32.exe|x86|not signed|null
signed32.exe|x86|signed by "Throwaway test signer" (SHA-256 digest matches)|true
sha1-32.exe|x86|signed by "Throwaway test signer" (SHA-1 digest matches)|true
other64.exe|x64|signed by "Other signer" (SHA-256 digest matches)|true
altered32.exe|x86|signed by "Throwaway test signer" (digest does not match: the program changed after it was signed)|false
EOF

# A signed package says which setup programs Windows would judge otherwise.
"$PKGTOOL" build -q -o mixed.exe --stub stub.exe --x86 prog32.exe --x64 other64.exe 2> /dev/null
ossl mixed.exe mixed-signed.exe
"$PKGTOOL" inspect mixed-signed.exe > inspect.txt
for expected in "Signature             Authenticode, " "                      SHA-256 digest matches" \
    "                      the x86 setup program is not signed: Windows 11's Smart App Control" \
    "                      the x64 setup program is signed by \"Other signer\", not by the package's signer"; do
  checks=$((checks + 1))
  grep -qF -- "$expected" inspect.txt || fail "inspect mixed-signed.exe lacks '$expected': $(cat inspect.txt)"
done
check "verify names the package's signature" grep -qxF '  package: signed by "Throwaway test signer" (SHA-256 digest matches)' \
  <("$PKGTOOL" verify mixed-signed.exe)

# --- the signing build -----------------------------------------------------------------
# The package each signing build below must give: osslsigncode's signature of
# the package built from the signed programs.
"$PKGTOOL" build -q -o inner-signed.exe --stub stub.exe --x86 signed32.exe --x64 signed64.exe
ossl inner-signed.exe expected.exe
if [[ $SYSTEM == windows ]]; then
  cp signed32.exe presigned/prog32.exe
  cp signed64.exe presigned/prog64.exe
  for name in signed.exe inplace.exe recipe.exe; do cp expected.exe "presigned/$name"; done
  printf '@copy /y "%s\\%%~nx1" %%2 > nul\r\n' "$(winpath "$WORK/presigned")" > sign.cmd
  printf '@copy /y "%s\\%%~nx1" %%1 > nul\r\n' "$(winpath "$WORK/presigned")" > inplace.cmd
  printf '@echo signing %%~nx1\r\n@echo the key is not there 1>&2\r\n@exit /b 7\r\n' > fail.cmd
  SIGN="$(winpath "$WORK/sign.cmd") {in} {out}"
  SIGN_IN_PLACE="$(winpath "$WORK/inplace.cmd") {file}"
  FAIL="$(winpath "$WORK/fail.cmd") {file}"
  UNSIGNED="copy /y {in} {out}"
else
  SIGN="osslsigncode sign -certs '$WORK/main-cert.pem' -key '$WORK/main-key.pem' -h sha256 -time 1767225600 -in {in} -out {out}"
  printf '#!/bin/sh\n%s -in "$1" -out "$1.signed" > /dev/null && mv "$1.signed" "$1"\n' "${SIGN% -in*}" > inplace.sh
  printf '#!/bin/sh\necho "signing $(basename "$1")"\necho "the key is not there" >&2\nexit 7\n' > fail.sh
  chmod +x inplace.sh fail.sh
  SIGN_IN_PLACE="'$WORK/inplace.sh' {file}"
  FAIL="'$WORK/fail.sh' {file}"
  UNSIGNED="cp {in} {out}"
fi
no_scratch() { [[ -z $(find "$TEMP_ROOT" -name 'pkgtool-sign-*' 2> /dev/null) ]]; }

check "build --sign-command" "$PKGTOOL" build -q -o signed.exe --stub stub.exe --x86 prog32.exe --x64 prog64.exe \
  --sign-command "$SIGN"
check "the package and its setup programs signed as osslsigncode signs them" cmp signed.exe expected.exe
ossl_verify() { osslsigncode verify -CAfile main-cert.pem -in "$1" > /dev/null 2>&1; }
check "osslsigncode verifies the package" ossl_verify signed.exe
check "the vendor's program is unchanged" cmp prog32.exe prog32.orig
check "no temporary files left" no_scratch
check "build --sign-command with {file}" "$PKGTOOL" build -q -o inplace.exe --stub stub.exe --x86 prog32.exe \
  --x64 prog64.exe --sign-command "$SIGN_IN_PLACE"
check "in place, the same package" cmp inplace.exe expected.exe
"$PKGTOOL" extract -q signed.exe --x86 extracted32.exe
check "the setup program inside is the signed copy" cmp extracted32.exe signed32.exe

# The recipe keeps the template; the recipe of a signed package stands in for it.
jq -n --arg sign "$SIGN" '{output: "recipe.exe", stub: "stub.exe", x86: "prog32.exe", x64: "prog64.exe",
  requireSignedPrograms: true, signCommand: $sign}' > setup.json
check "build from a recipe with signCommand" "$PKGTOOL" build -q --recipe setup.json
check "the same package from the recipe" cmp recipe.exe expected.exe
"$PKGTOOL" inspect --recipe signed.exe > back.json 2> /dev/null
checks=$((checks + 1))
[[ $(jq -c '[.requireSignedPrograms, .signCommand]' back.json) == '[true,"<sign command>"]' ]] ||
  fail "inspect --recipe of the signed package: $(jq -c '[.requireSignedPrograms, .signCommand]' back.json)"

# --- refusals: no package, no temporary files --------------------------------------------
# name | build options (shell words) | exit code | fragment of the message
jq '.x86 = "prog32.exe" | .signCommand = "<sign command>"' back.json > placeholder.json
jq -n '{x86: "prog32.exe", requireSignedPrograms: true}' > require.json
while IFS='|' read -r name args rc_expected fragment; do
  [[ -z "$name" ]] && continue
  checks=$((checks + 1))
  rm -f out.exe
  eval "set -- $args"
  "$PKGTOOL" build -o out.exe --stub stub.exe "$@" > /dev/null 2> stderr.txt
  rc=$?
  [[ $rc -eq $rc_expected ]] || fail "$name: exit $rc, expected $rc_expected: $(cat stderr.txt)"
  grep -qF -- "$fragment" stderr.txt || fail "$name: message lacks '$fragment': $(cat stderr.txt)"
  if [[ $rc_expected -eq 0 ]]; then
    [[ -f out.exe ]] || fail "$name: no package"
  else
    [[ ! -e out.exe ]] || fail "$name: wrote out.exe"
  fi
  no_scratch || fail "$name: temporary files left"
done <<'EOF'
unsigned warns|--x86 prog32.exe|0|warning: the x86 setup program (prog32.exe) is not signed: Windows 11's Smart App Control and application-control policies (AppLocker, WDAC) judge every program started from a temporary folder by its own signature
altered warns|--x86 altered32.exe|0|warning: the x86 setup program (altered32.exe) is signed by "Throwaway test signer" (digest does not match
require: unsigned|--x86 signed32.exe --x64 prog64.exe --require-signed-programs|1|--x64: the x64 setup program (prog64.exe) is not signed; --require-signed-programs takes only
require: altered|--x86 altered32.exe --require-signed-programs|1|the program changed after it was signed); --require-signed-programs
require: from the recipe|--recipe require.json|1|require.json: requireSignedPrograms takes only signed setup programs
failing command|--x86 prog32.exe --sign-command "$FAIL"|7|--sign-command: signing the x86 setup program failed with exit code 7. Its output:
its last lines|--x86 prog32.exe --sign-command "$FAIL"|7|  the key is not there
a command that does not sign|--x86 prog32.exe --sign-command "$UNSIGNED"|1|--sign-command: after signing, the x86 setup program is not signed.
neither form|--x86 prog32.exe --sign-command "signtool sign {in}"|2|--sign-command: 'signtool sign {in}' needs {in} and {out}
the recipe's placeholder|--recipe placeholder.json|2|signCommand: '<sign command>' stands for the command that signed the package
EOF
check "signed programs need no warning" test -z "$("$PKGTOOL" build -q -o quiet.exe --stub stub.exe --x86 signed32.exe 2>&1)"

echo "$checks checks, $failures failures"
[[ $failures -eq 0 ]]
