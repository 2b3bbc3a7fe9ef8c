#!/usr/bin/env bash
# The CMake package as a vendor meets it: `make install-files` into a staging
# folder, then a project that finds it, builds its setup program with
# MinGW-w64 and its package with setup_launcher_add_package, signed when
# osslsigncode is at hand; the package is made again when the program
# changes, and not when nothing did.
#   usage: run.sh PATH/TO/pkgtool
# Installs dist/pkgtool and dist/Stub32.exe when `make dist` made them, else
# the given pkgtool with a test stub.
set -u
ROOT=$(realpath "$(dirname "$0")/../..")
SAMPLE=$ROOT/tests/cmake-sample
source "$ROOT/tests/cli/harness.sh" "$1"
command -v i686-w64-mingw32-gcc > /dev/null || { echo "SKIP: no MinGW-w64 (make deps installs it)" >&2; exit 77; }

tool=$TOOL stub=$ROOT/dist/Stub32.exe
[[ -x $ROOT/dist/pkgtool ]] && tool=$ROOT/dist/pkgtool
if [[ ! -f $stub ]]; then
  "$TOOL" make-test-stub --pe stub.exe || exit 2
  stub=$WORK/stub.exe
fi
make -C "$ROOT" --no-print-directory -s install-files DESTDIR="$WORK/stage" PREFIX=/opt/setup-launcher \
  INSTALL_PKGTOOL="$tool" INSTALL_STUB="$stub" > install.log 2>&1 || { cat install.log >&2; exit 2; }
prefix=$WORK/stage/opt/setup-launcher
for file in bin/pkgtool share/setup-launcher/Stub32.exe lib/cmake/SetupLauncher/SetupLauncherConfig.cmake \
    lib/cmake/SetupLauncher/SetupLauncherConfigVersion.cmake; do
  check "installed $file" test -f "$prefix/$file"
done

"$TOOL" make-test-program x64 setup64.exe || exit 2
sign=
if command -v osslsigncode > /dev/null && command -v openssl > /dev/null; then
  openssl req -x509 -newkey rsa:2048 -nodes -keyout key.pem -out cert.pem -days 2 -subj '/CN=Sample Vendor' \
    > /dev/null 2>&1 || exit 2
  sign="osslsigncode sign -certs '$WORK/cert.pem' -key '$WORK/key.pem' -h sha256 -in {in} -out {out}"
else
  echo "SKIP: osslsigncode or openssl missing; the sample is not signed" >&2
fi
# The MinGW toolchain confines find_package to its root: SetupLauncher_DIR
# names the package, as a cross-compiling vendor gives it.
cmake -S "$SAMPLE" -B build -DCMAKE_TOOLCHAIN_FILE="$ROOT/cmake/toolchain-i686-mingw.cmake" \
  -DSetupLauncher_DIR="$prefix/lib/cmake/SetupLauncher" -DSAMPLE_X64="$WORK/setup64.exe" \
  -DSAMPLE_SIGN_COMMAND="$sign" > configure.log 2>&1 || { cat configure.log >&2; exit 1; }
check "the package is built" cmake --build build > build.log 2>&1
package=build/packages/SampleSetup.exe
check "pkgtool verify" "$prefix/bin/pkgtool" verify -q "$package"
"$prefix/bin/pkgtool" extract -q "$package" --x86 x86.exe --x64 x64.exe
# The program inside is the built one, or its signed copy: the same bytes
# but for the headers' checksum and signature entry, and the signature
# appended (whose digest inspect checks).
same_program() {  # same_program INSIDE BUILT
  [[ -z $sign ]] && { cmp -s "$1" "$2"; return; }
  local size
  size=$(stat -c %s "$2")
  cmp -s -i 512 -n $((size - 512)) "$1" "$2" &&
    "$prefix/bin/pkgtool" inspect --json "$package" | jq -e '[.header.x86, .header.x64][].signature.digestMatches' > /dev/null
}
check "the x86 program is the target's" same_program x86.exe build/sample-setup32.exe
check "the x64 program is the file" same_program x64.exe setup64.exe
if [[ -n $sign ]]; then
  checks=$((checks + 1))
  "$prefix/bin/pkgtool" verify "$package" | grep -qF '  package: signed by "Sample Vendor" (SHA-256 digest matches)' ||
    fail "the package is not signed: $("$prefix/bin/pkgtool" verify "$package")"
  check "the x86 program is signed" grep -qF 'x86 setup program: signed by "Sample Vendor"' \
    <("$prefix/bin/pkgtool" verify "$package")
fi

# Nothing changed: nothing is made again. A changed program: a new package.
stamp=$(stat -c %.9Y "$package")
cmake --build build > rebuild.log 2>&1
check "nothing made again" test "$(stat -c %.9Y "$package")" = "$stamp"
cmake -S "$SAMPLE" -B build -DCMAKE_C_FLAGS=-DSAMPLE_EXIT_CODE=3 > /dev/null 2>&1
cmake --build build > rebuild.log 2>&1
check "a changed program makes a new package" test "$(stat -c %.9Y "$package")" != "$stamp"
"$prefix/bin/pkgtool" extract -q "$package" --x86 x86-new.exe
check "with the program as built now" same_program x86-new.exe build/sample-setup32.exe
check "which differs from the first" bash -c "! cmp -s x86-new.exe x86.exe"

echo "$checks checks, $failures failures"
[[ $failures -eq 0 ]]
