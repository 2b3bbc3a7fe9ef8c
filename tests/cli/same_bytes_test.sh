#!/usr/bin/env bash
# pkgtool on Linux and pkgtool.exe on Windows (under 64-bit Wine) are the same
# tool: the same options or recipe give byte-identical packages, and the
# same package gives the same inspect, verify, simulate and matrix output,
# JSON and text, and the same refusals with the same exit codes.
#   usage: same_bytes_test.sh PATH/TO/pkgtool PATH/TO/pkgtool.exe [STUB32.exe]
set -u

LINUX=$(realpath "$1")
DATA=$(realpath "$(dirname "$0")/data")
STUB32=${3:+$(realpath "$3")}
source "$(dirname "$0")/harness.sh" "$2"
[[ $SYSTEM == windows ]] || { echo "same_bytes_test.sh compares with pkgtool.exe" >&2; exit 2; }

# --- inputs: programs large enough for the encoder's window to matter --------
"$LINUX" make-test-stub stub.exe || exit 2
{ for i in $(seq 1 60000); do echo "x86 setup program line $i: $((i * 7919 % 10007))"; done
  head -c $((1 << 20)) /dev/urandom; } > data32.bin
{ for i in $(seq 1 40000); do echo "x64 setup program row $i"; done; head -c 300000 /dev/urandom; } > data64.bin
"$LINUX" make-test-program x86 prog32.bin data32.bin || exit 2
"$LINUX" make-test-program x64 prog64.bin data64.bin || exit 2
cp "$DATA/app.ico" .
head -c 7000 /dev/urandom > trailing.bin
printf 'このパッケージは 64 ビットの Windows では動きません。\n' > message-ja.txt
[[ -n $STUB32 ]] && cp "$STUB32" Stub32.exe

# --- the same package from the same options ------------------------------------
# name | build options (shell words)
while IFS='|' read -r name args; do
  [[ -z "$name" || "$name" == \#* ]] && continue
  if [[ $args == *Stub32.exe* && ! -f Stub32.exe ]]; then
    echo "SKIP: $name: no Stub32.exe given" >&2
    continue
  fi
  checks=$((checks + 1))
  eval "set -- $args"
  "$LINUX" build -q -o "linux-$name.exe" "$@" || { fail "$name: pkgtool failed"; continue; }
  "$PKGTOOL" build -q -o "windows-$name.exe" "$@" || { fail "$name: pkgtool.exe failed"; continue; }
  cmp -s "linux-$name.exe" "windows-$name.exe" || fail "$name: the packages differ"
done <<'EOF'
both|--stub stub.exe --x86 prog32.bin --x64 prog64.bin
level-0-small-dictionary|--stub stub.exe --x86 prog32.bin --level 0 --dict 64K
level-9-lc-lp-pb|--stub stub.exe --x64 prog64.bin --level 9 --dict 8M --lc 1 --lp 3 --pb 4
every-field|--stub stub.exe --x86 prog32.bin --x64 prog64.bin --windows 7,8.1,10,11,other --win10 1809..22H2 --win11 22H2.. --expires 2099-03-01 --elevation silent-runas --detached --expired-message "Zu spät – © 2026" --wrong-width-message-file message-ja.txt --unsupported-message "Nicht auf %USER%." --trailing-data trailing.bin
barred-from-64-bit|--stub stub.exe --x86 prog32.bin --no-64bit-windows --elevation always-noadmin --level 3
real-stub-resources|--stub Stub32.exe --x86 prog32.bin --x64 prog64.bin --icon app.ico --version-info ProductName=MyApp --version-info "LegalCopyright=© 2026 Example GmbH" --version-info FileVersion=2.4.1 --version-language 0x0407
EOF

# --- the same package from the same recipe ---------------------------------------
mkdir -p project/programs
cp prog32.bin prog64.bin project/programs/
"$LINUX" inspect --recipe linux-every-field.exe 2> /dev/null |
  jq '.stub = "../stub.exe" | .x86 = "programs/prog32.bin" | .x64 = "programs/prog64.bin"
      | .trailingData = "../trailing.bin"' > project/recipe.json
check "pkgtool builds the recipe" "$LINUX" build -q --recipe project/recipe.json -o linux-recipe.exe
check "pkgtool.exe builds the recipe" "$PKGTOOL" build -q --recipe project/recipe.json -o windows-recipe.exe
check "the same bytes from the recipe" cmp -s linux-recipe.exe windows-recipe.exe
check "as the package the recipe came from" cmp -s linux-recipe.exe linux-every-field.exe

# --- the same answers about every package ------------------------------------------
# Standard output byte for byte (no CR before LF on Windows), and the exit code.
compare() {  # compare WHAT ARGS...
  local what=$1 rc_linux rc_windows
  shift
  checks=$((checks + 1))
  "$LINUX" "$@" > linux.out 2> /dev/null
  rc_linux=$?
  "$PKGTOOL" "$@" > windows.out 2> /dev/null
  rc_windows=$?
  [[ $rc_linux -eq $rc_windows ]] || fail "$what: exit $rc_linux on Linux, $rc_windows on Windows"
  cmp -s linux.out windows.out ||
    fail "$what: the output differs: $(diff linux.out windows.out | head -5)"
}
for package in linux-*.exe; do
  compare "inspect --json $package" inspect --json "$package"
  compare "inspect --recipe $package" inspect --recipe "$package"
  compare "inspect $package" inspect "$package"
  compare "verify $package" verify "$package"
  compare "simulate --json $package" simulate --json "$package" --windows "10 22H2" --date 2026-06-01
  compare "simulate --json (x86, elevated, arguments) $package" simulate --json "$package" \
    --windows 7 --arch x86 --admin --date 2026-06-01 -- /S /temp 'D:\My Temp'
  compare "matrix --json $package" matrix --json "$package" --date 2026-06-01
done
compare "simulate of an expired package" simulate linux-every-field.exe --date 2099-03-01
compare "help build" help build

# --- the same refusals, word for word ---------------------------------------------------
# name | arguments (shell words)
while IFS='|' read -r name args; do
  [[ -z "$name" ]] && continue
  checks=$((checks + 1))
  eval "set -- $args"
  "$LINUX" "$@" > /dev/null 2> linux.err
  rc_linux=$?
  "$PKGTOOL" "$@" > /dev/null 2> windows.err
  rc_windows=$?
  [[ $rc_linux -eq $rc_windows && $rc_linux -ne 0 ]] ||
    fail "$name: exit $rc_linux on Linux, $rc_windows on Windows"
  cmp -s linux.err windows.err || fail "$name: $(cat linux.err) | $(cat windows.err)"
done <<'EOF'
unknown Windows|build -o out.exe --stub stub.exe --x86 prog32.bin --windows 7,win12
program in the wrong slot|build -o out.exe --stub stub.exe --x86 prog64.bin
missing program|build -o out.exe --stub stub.exe --x86 nowhere.bin
expired|build -o out.exe --stub stub.exe --x86 prog32.bin --expires 2020-01-01
unsigned program required|build -o out.exe --stub stub.exe --x86 prog32.bin --require-signed-programs
sign command of neither form|build -o out.exe --stub stub.exe --x86 prog32.bin --sign-command "sign {in}"
not a package|inspect prog32.bin
damaged recipe|build --recipe data32.bin -o out.exe
unknown command|bild
EOF

echo "$checks checks, $failures failures"
[[ $failures -eq 0 ]]
