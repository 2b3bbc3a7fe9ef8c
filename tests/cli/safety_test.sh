#!/usr/bin/env bash
# pkgtool and the mistakes people make: it never writes over an input or
# anything but a regular file, refuses packages that could not work, names
# the source of every error, exits with the documented code, knows a file
# that is no package, and helps on the command line (help, suggestions,
# examples, man page and completion that cover every option).
#   usage: safety_test.sh PATH/TO/pkgtool
set -u

SOURCE_DIR=$(realpath "$(dirname "$0")/../..")
source "$(dirname "$0")/harness.sh" "$1"

# --- inputs ------------------------------------------------------------------
"$PKGTOOL" make-test-stub stub.exe || exit 2
"$PKGTOOL" make-test-stub --pe pestub.exe || exit 2
head -c 20000 /dev/urandom > data.bin
"$PKGTOOL" make-test-program x86 prog32.bin data.bin || exit 2
"$PKGTOOL" make-test-program x64 prog64.bin data.bin || exit 2
"$PKGTOOL" make-test-program arm64 progarm.bin data.bin || exit 2
cp "$SOURCE_DIR/tests/cli/data/app.ico" app.ico
echo "Too late." > msg.txt
head -c 3000 /dev/urandom > trailing.bin
echo "root:x:0:0:root:/root:/bin/bash" > notprog.txt
ln prog64.bin link64.bin
ln -s prog32.bin sym32.bin
mkfifo fifo.exe
mkdir folder.exe
"$PKGTOOL" build -q -o pk.exe --stub stub.exe --x86 prog32.bin --x64 prog64.bin || exit 2
ln -s pk.exe pklink.exe
cp pk.exe damaged.exe
printf '\xff' | dd of=damaged.exe bs=1 seek=700 conv=notrunc status=none
printf '{"x86": "prog32.bin", "stub": "stub.exe"}' > setup.json
printf '{"output": "self.json", "x86": "prog32.bin", "stub": "stub.exe"}' > self.json
printf '{"x86": "nowhere.bin", "stub": "stub.exe"}' > missing.json
printf '{"x86": "prog32.bin", "stub": "stub.exe", "expires": "2026-02-30"}' > baddate.json
printf '{"x86": "prog32.bin", "stub": "stub.exe", "windows": ["7", "win12"]}' > badwin.json
printf '{"x86": "prog64.bin", "stub": "stub.exe"}' > misfit.json
printf '{\n  "x86": "prog32.bin",\n  "level": ,\n  "stub": "stub.exe"\n}\n' > broken.json
inputs=(stub.exe pestub.exe prog32.bin prog64.bin app.ico msg.txt trailing.bin pk.exe damaged.exe
        setup.json self.json)
sha256sum "${inputs[@]}" > inputs.sha256

# --- refusals: exit code, one line naming the source, nothing written ------------
# A device: Linux's /dev/full, Windows' NUL.
device=/dev/full
[[ $SYSTEM == windows ]] && device=NUL
unwritable=
[[ -d /sys ]] && ! (: > /sys/.pkgtool-probe) 2> /dev/null && unwritable=/sys
# name | exit | arguments (shell words) | fragment of the message
while IFS='|' read -r name rc_expected args fragment; do
  [[ -z "$name" || "$name" == \#* ]] && continue
  row_here "$name" || continue
  if [[ $args == *UNWRITABLE* ]]; then
    [[ -n $unwritable ]] || { echo "SKIP: $name: no unwritable folder here" >&2; continue; }
    args=${args//UNWRITABLE/$unwritable}
    fragment=${fragment//UNWRITABLE\/out.exe/$(shown "$unwritable/out.exe")}
    fragment=${fragment//UNWRITABLE/$(shown "$unwritable")}
  fi
  args=${args//DEVICE/$device}
  fragment=${fragment//DEVICE/$device}
  checks=$((checks + 1))
  rm -f out.exe out.exe.tmp-* one.exe other.exe
  eval "set -- $args"
  "$PKGTOOL" "$@" > stdout.txt 2> stderr.txt
  rc=$?
  [[ $rc -eq $rc_expected ]] || fail "$name: exit code $rc, expected $rc_expected: $(cat stderr.txt)"
  grep -qF -- "$fragment" stderr.txt || fail "$name: message lacks '$fragment': $(cat stderr.txt)"
  [[ $(wc -l < stderr.txt) -eq 1 ]] || fail "$name: message is not one line: $(cat stderr.txt)"
  [[ ! -e out.exe && ! -e one.exe && ! -e other.exe ]] || fail "$name: an output was written"
  compgen -G '*.tmp-*' > /dev/null && fail "$name: a temporary file was left behind"
done <<'EOF'
# Outputs that are inputs, by name or by link
out-is-x86|2|build -o prog32.bin --stub stub.exe --x86 prog32.bin|-o: prog32.bin is the same file as --x86;
out-is-hard-link-of-x64|2|build -o link64.bin --stub stub.exe --x86 prog32.bin --x64 prog64.bin|-o: link64.bin is the same file as --x64 (prog64.bin)
out-is-symlink-to-x86|2|build -o sym32.bin --stub stub.exe --x86 prog32.bin|-o: sym32.bin is the same file as --x86 (prog32.bin)
out-is-stub|2|build -o stub.exe --stub stub.exe --x86 prog32.bin|-o: stub.exe is the same file as --stub
out-is-icon|2|build -o app.ico --stub pestub.exe --x86 prog32.bin --icon app.ico|-o: app.ico is the same file as --icon
out-is-message-file|2|build -o msg.txt --stub stub.exe --x86 prog32.bin --expired-message-file msg.txt|-o: msg.txt is the same file as --expired-message-file
out-is-trailing-data|2|build -o trailing.bin --stub stub.exe --x86 prog32.bin --trailing-data trailing.bin|-o: trailing.bin is the same file as --trailing-data
out-is-recipe|2|build --recipe setup.json -o setup.json|-o: setup.json is the same file as --recipe
recipe-output-is-recipe|2|build --recipe self.json|self.json: output: self.json is the same file as --recipe
extract-over-package|2|extract pk.exe --x86 pk.exe --x64 other.exe|--x86: pk.exe is the same file as the package
extract-over-link-to-package|2|extract pk.exe --x64 pklink.exe|--x64: pklink.exe is the same file as the package (pk.exe)
extract-both-into-one|2|extract pk.exe --x86 one.exe --x64 one.exe|one.exe is the same file as --x
# Outputs that are not regular files, and folders that cannot take one
out-is-device|2|build -o DEVICE --stub stub.exe --x86 prog32.bin|-o: DEVICE is a device, not a regular file
out-is-fifo [posix: Windows has no FIFOs; Wine shows one as a pipe]|2|build -o fifo.exe --stub stub.exe --x86 prog32.bin|-o: fifo.exe is a FIFO, not a regular file
out-is-pipe [windows: only Windows calls it a pipe]|2|build -o fifo.exe --stub stub.exe --x86 prog32.bin|-o: fifo.exe is a pipe, not a regular file
out-is-folder|2|build -o folder.exe --stub stub.exe --x86 prog32.bin|-o: folder.exe is a folder
out-in-missing-folder|2|build -o nowhere/out.exe --stub stub.exe --x86 prog32.bin|-o: nowhere/out.exe: the folder nowhere does not exist
out-in-unwritable-folder|3|build -o UNWRITABLE/out.exe --stub stub.exe --x86 prog32.bin|-o: UNWRITABLE/out.exe: cannot write in UNWRITABLE
extract-into-missing-folder|2|extract pk.exe --x86 nowhere/x86.exe|--x86: nowhere/x86.exe: the folder nowhere does not exist
# Setup programs Windows cannot start from their slot, and dates that have passed
text-as-x86|1|build -o out.exe --stub stub.exe --x86 notprog.txt|--x86: notprog.txt: not a Windows program (it does not begin with MZ) given as --x86
x64-as-x86|1|build -o out.exe --stub stub.exe --x86 prog64.bin|--x86: prog64.bin: a PE32+ image for AMD64 given as --x86; the x86 slot takes a PE32 image for i386
x86-as-x64|1|build -o out.exe --stub stub.exe --x64 prog32.bin|--x64: prog32.bin: a PE32 image for i386 given as --x64; the x64 slot takes a PE32+ image for AMD64
arm64-as-x64|1|build -o out.exe --stub stub.exe --x64 progarm.bin|--x64: progarm.bin: a PE32+ image for ARM64 given as --x64; the x64 slot takes a PE32+ image for AMD64; the launcher has no slot for Arm64 programs
arm64-as-x86|1|build -o out.exe --stub stub.exe --x86 progarm.bin|--x86: progarm.bin: a PE32+ image for ARM64 given as --x86; the x86 slot takes a PE32 image for i386; the launcher has no slot for Arm64 programs
recipe-x64-as-x86|1|build --recipe misfit.json -o out.exe|misfit.json: x86: prog64.bin: a PE32+ image for AMD64 given as x86
expired|1|build -o out.exe --stub stub.exe --x86 prog32.bin --expires 2020-01-01|--expires: 2020-01-01 has passed
# Every error names its source
missing-x86|2|build -o out.exe --stub stub.exe --x86 nowhere.bin|--x86: nowhere.bin: No such file or directory
missing-icon|2|build -o out.exe --stub pestub.exe --x86 prog32.bin --icon nowhere.ico|--icon: nowhere.ico: No such file or directory
missing-message-file|2|build -o out.exe --stub stub.exe --x86 prog32.bin --unsupported-message-file nowhere.txt|--unsupported-message-file: nowhere.txt: No such file
missing-trailing-data|2|build -o out.exe --stub stub.exe --x86 prog32.bin --trailing-data nowhere.bin|--trailing-data: nowhere.bin: No such file
recipe-missing-x86|2|build --recipe missing.json -o out.exe|missing.json: x86: nowhere.bin: No such file or directory
recipe-bad-date|2|build --recipe baddate.json -o out.exe|baddate.json: expires: '2026-02-30' is not a day of the calendar
recipe-bad-windows|2|build --recipe badwin.json -o out.exe|badwin.json: windows: unknown Windows name 'win12'
recipe-not-json|2|build --recipe broken.json -o out.exe|broken.json:3:12: not a JSON recipe: syntax error
# A command line that helps
unknown-command|2|bild|unknown command 'bild'; did you mean build?
unknown-help-topic|2|help inspct|unknown command 'inspct'; did you mean inspect?
unknown-option|2|build --x68 prog32.bin -o out.exe|build: unknown option '--x68'; did you mean --x86?
unknown-option-of-inspect|2|inspect --jsn pk.exe|inspect: unknown option '--jsn'; did you mean --json?
unknown-top-option|2|--verison|unknown option '--verison'; did you mean --version?
no-command|2||give a command
# Not sound and not a package: exit 1, one line
extract-damaged|1|extract damaged.exe --x86 out.exe|damaged.exe: file size and checksum:
verify-program|1|verify prog32.bin|prog32.bin: not a setup package: a PE32 image for i386 without package data
verify-text|1|verify notprog.txt|notprog.txt: not a setup package: not a Windows program (it does not begin with MZ)
inspect-stub-alone|1|inspect pestub.exe|pestub.exe: not a setup package: a PE32 image for i386 without package data
inspect-json-of-program|1|inspect --json prog64.bin|prog64.bin: not a setup package: a PE32+ image for AMD64 without package data
inspect-recipe-of-program|1|inspect --recipe prog32.bin|not a setup package
simulate-program|1|simulate prog32.bin --windows 10|prog32.bin: not a setup package
extract-program|1|extract prog32.bin --x86 out.exe|prog32.bin: not a setup package
EOF

checks=$((checks + 1))
sha256sum --quiet -c inputs.sha256 || fail "an input changed"
checks=$((checks + 1))
[[ -c /dev/full && -p fifo.exe && -d folder.exe ]] || fail "a device, FIFO or folder was replaced"

# A full disk is the system's failure (exit 3), and leaves nothing behind. A
# small file system needs a mount namespace of our own; skipped without one.
head -c $((1 << 20)) /dev/urandom > mib.bin
"$PKGTOOL" make-test-program x86 mib.exe mib.bin
mkdir -p tiny
if unshare -rm true 2> /dev/null; then
  checks=$((checks + 1))
  wine_server stop
  unshare -rm bash -c 'mount -t tmpfs -o size=256k none tiny &&
    "$0" build -o tiny/out.exe --stub stub.exe --x86 mib.exe --level 0 2> stderr.txt
    echo $? > rc.txt; ls -A tiny > left.txt' "$PKGTOOL"
  wine_server start
  [[ $(cat rc.txt) == 3 ]] || fail "a full disk: exit $(cat rc.txt): $(cat stderr.txt)"
  grep -qF "No space left on device" stderr.txt || fail "a full disk: $(cat stderr.txt)"
  [[ ! -s left.txt ]] || fail "a full disk left $(cat left.txt) behind"
else
  echo "SKIP: a full disk: no mount namespace here" >&2
fi

# The stub beside pkgtool is an input too, when no --stub names another.
install_pkgtool bin && cp stub.exe bin/Stub32.exe
checks=$((checks + 1))
bin/pkgtool build -o bin/Stub32.exe --x86 prog32.bin 2> stderr.txt
[[ $? -eq 2 ]] && grep -qF "bin/Stub32.exe is the same file as the stub" stderr.txt ||
  fail "the default stub as output: $(cat stderr.txt)"
cmp -s bin/Stub32.exe stub.exe || fail "the default stub was replaced"

# --- what stays allowed ----------------------------------------------------------
check "replacing an existing regular file" "$PKGTOOL" build -q -o pk.exe --stub stub.exe --x86 prog32.bin
check "the override takes any program" "$PKGTOOL" build -q -o misfit.exe --stub stub.exe \
  --x86 prog64.bin --x64 notprog.txt --allow-any-program
check "the override takes an Arm64 program" "$PKGTOOL" build -q -o armfit.exe --stub stub.exe \
  --x86 prog32.bin --x64 progarm.bin --allow-any-program
check "the override takes a date that has passed" "$PKGTOOL" build -q -o expired.exe \
  --stub stub.exe --x86 prog32.bin --expires 2020-01-01 --allow-expired
# The recipe of such a package says so, and builds it again.
checks=$((checks + 1))
"$PKGTOOL" inspect --recipe misfit.exe 2> /dev/null |
  jq '.x86 = "prog64.bin" | .x64 = "notprog.txt" | .stub = "stub.exe" | .output = "misfit-again.exe"' \
  > misfit-recipe.json
[[ $(jq .allowAnyProgram misfit-recipe.json) == true ]] || fail "the recipe of a misfit lacks allowAnyProgram"
check "a misfit rebuilt from its recipe" "$PKGTOOL" build -q --recipe misfit-recipe.json
check "to the same bytes" cmp misfit-again.exe misfit.exe
printf '{"output": "out/sub/Setup.exe", "x86": "prog32.bin", "stub": "stub.exe"}' > nested.json
check "a recipe's output folder is created" "$PKGTOOL" build -q --recipe nested.json
check "the package is in it" "$PKGTOOL" verify -q out/sub/Setup.exe

# --- each program's machine, in inspect and simulate -------------------------------
"$PKGTOOL" build -q -o both.exe --stub stub.exe --x86 prog32.bin --x64 prog64.bin
"$PKGTOOL" inspect both.exe > inspect.txt
"$PKGTOOL" simulate misfit.exe --windows 10 --arch x86 > misfit.txt
"$PKGTOOL" simulate both.exe --windows 10 --arch x64 > sim.txt
"$PKGTOOL" inspect misfit.exe > inspect-misfit.txt
"$PKGTOOL" inspect armfit.exe > inspect-arm.txt
"$PKGTOOL" inspect --json armfit.exe | jq -r '.header.x64.machine' > inspect-arm-json.txt
# file | a line it must hold
while IFS='|' read -r file expected; do
  [[ -z "$file" ]] && continue
  checks=$((checks + 1))
  grep -qF -- "$expected" "$file" || fail "$file lacks '$expected': $(cat "$file")"
done <<'EOF'
inspect.txt|x86 setup program     21536 bytes, packed
inspect.txt|; a PE32 image for i386
inspect.txt|; a PE32+ image for AMD64; built for x64
inspect.txt|; a PE32 image for i386; built for x86
inspect-arm.txt|; a PE32+ image for ARM64 (the x64 slot takes a PE32+ image for AMD64); built for arm64
inspect-arm-json.txt|arm64
inspect-misfit.txt|; a PE32+ image for AMD64 (the x86 slot takes a PE32 image for i386)
sim.txt|Program       a PE32+ image for AMD64
misfit.txt|Program       a PE32+ image for AMD64; the x86 slot takes a PE32 image for i386
EOF

# --- help, examples, version ----------------------------------------------------------
checks=$((checks + 1))
"$PKGTOOL" help > help.txt || fail "help exits nonzero"
grep -q "^  build  " help.txt || fail "help does not list build"
checks=$((checks + 1))
[[ "$("$PKGTOOL" help build)" == "$("$PKGTOOL" build --help)" ]] || fail "help build differs from build --help"
for command in build inspect verify extract simulate matrix; do
  checks=$((checks + 1))
  "$PKGTOOL" help "$command" > help.txt || fail "help $command exits nonzero"
  grep -q "^Examples:" help.txt && grep -q "^  pkgtool $command " help.txt ||
    fail "help $command gives no examples"
  grep -q "^Exit codes: .*3 the system failed" help.txt || fail "help $command lacks the exit codes"
done
checks=$((checks + 1))
"$PKGTOOL" -V | grep -qE '^liblzma [0-9]+\.[0-9]+\.[0-9]+' || fail "-V does not name liblzma: $("$PKGTOOL" -V)"

# --- the man page and the completion know every option ------------------------------
man_text=$(sed 's/\\-/-/g' "$SOURCE_DIR/tools/pkgtool/pkgtool.1")
source "$SOURCE_DIR/tools/pkgtool/pkgtool.bash"
complete_words() {  # what completing the last word offers
  COMP_WORDS=("$@")
  COMP_CWORD=$(($# - 1))
  COMPREPLY=()
  _pkgtool
  echo " ${COMPREPLY[*]} "
}
for command in build inspect verify extract simulate matrix; do
  options=$("$PKGTOOL" help "$command" | grep -E '^  +-' | grep -oE -- '--[a-z0-9-]+' | sort -u)
  checks=$((checks + 1))
  [[ -n $options ]] || fail "help $command lists no options"
  offered=$(complete_words pkgtool "$command" -)
  for option in $options; do
    [[ $man_text == *"$option"* ]] || fail "the man page lacks $command $option"
    [[ $offered == *" $option "* ]] || fail "completion lacks $command $option"
  done
done
checks=$((checks + 1))
[[ $(complete_words pkgtool bu) == " build " ]] || fail "completion of a command: $(complete_words pkgtool bu)"
checks=$((checks + 1))
[[ $(complete_words pkgtool build --elevation silent) == " silent-runas " ]] ||
  fail "completion of a value: $(complete_words pkgtool build --elevation silent)"
if command -v man > /dev/null; then
  checks=$((checks + 1))
  MANWIDTH=80 man --warnings -E UTF-8 -l "$SOURCE_DIR/tools/pkgtool/pkgtool.1" 2> man-warnings.txt > /dev/null
  [[ -s man-warnings.txt ]] && fail "the man page has warnings: $(cat man-warnings.txt)"
fi

echo "$checks checks, $failures failures"
[[ $failures -eq 0 ]]
