#!/usr/bin/env bash
# pkgtool end to end: builds real packages on a stand-in stub and checks what
# inspect, verify, extract, simulate and matrix say about them, and that bad
# input is refused cleanly.
#   usage: pkgtool_test.sh PATH/TO/pkgtool
set -u

source "$(dirname "$0")/harness.sh" "$1"

# --- inputs ----------------------------------------------------------------
"$PKGTOOL" make-test-stub stub.exe || { echo "cannot make a test stub" >&2; exit 2; }
# Distinct, partly compressible programs of the kind each slot takes, so x86
# and x64 cannot be confused.
{ for i in $(seq 1 3000); do echo "x86 setup program line $i"; done; head -c 20000 /dev/urandom; } > data32.bin
{ for i in $(seq 1 4000); do echo "x64 setup program row $i"; done; head -c 30000 /dev/urandom; } > data64.bin
"$PKGTOOL" make-test-program x86 prog32.bin data32.bin || exit 2
"$PKGTOOL" make-test-program x64 prog64.bin data64.bin || exit 2
head -c 5000 /dev/urandom > trailing.bin
printf 'Nicht unterst\xc3\xbctzt: %%USER%%\n' > unsupported.txt
printf 'bad \xc3\x28 text' > bad-utf8.txt
echo "just some text, not an executable" > notstub.bin
truncate -s $((0x7FFE0001)) huge-program.bin          # sparse: one byte over the limit
truncate -s $((0x7FFFFFFF - 300)) huge-trailing.bin   # sparse: fits alone, not with the stub
: > empty.bin
head -c 65536 /dev/zero | tr '\0' 'x' > long-message.txt
"$PKGTOOL" build -q -o used-stub.exe --stub stub.exe --x86 prog32.bin || fail "build used-stub.exe"

# --- refusals: one line naming the problem, exit 2, nothing left behind ----
# name | arguments (shell words) | fragment of the message
refusal_rows <<'EOF'
not-mz-stub|build -o out.exe --stub notstub.bin --x86 prog32.bin|notstub.bin: not a launcher stub
stub-already-packaged|build -o out.exe --stub used-stub.exe --x86 prog32.bin|bytes 128..151 are not zero
missing-stub|build -o out.exe --stub nowhere.exe --x86 prog32.bin|nowhere.exe: No such file
missing-program|build -o out.exe --stub stub.exe --x86 nowhere.bin|nowhere.bin: No such file
empty-program|build -o out.exe --stub stub.exe --x86 empty.bin|empty.bin: the setup program is empty
no-program|build -o out.exe --stub stub.exe|give --x86 FILE, --x64 FILE or both
payload-over-limit|build -o out.exe --stub stub.exe --x64 huge-program.bin|huge-program.bin: the setup program is 2147352577 bytes; at most 2147352576
package-over-2gib|build -o out.exe --stub stub.exe --x86 prog32.bin --trailing-data huge-trailing.bin|below 2 GiB
unknown-windows|build -o out.exe --stub stub.exe --x86 prog32.bin --windows 7,vista,win12|unknown Windows name 'win12'
unknown-release|build -o out.exe --stub stub.exe --x86 prog32.bin --win10 1809..23H2|unknown Windows 10 release '23H2'
build-number-as-release|build -o out.exe --stub stub.exe --x86 prog32.bin --win11 22000..|not a release code
range-min-above-max|build -o out.exe --stub stub.exe --x86 prog32.bin --win10 22H2..1809|minimum 2210 is above the maximum 1809
win11-min-above-max|build -o out.exe --stub stub.exe --x86 prog32.bin --win11 24H2..21H2|minimum 2410 is above the maximum 2110
range-without-dots|build -o out.exe --stub stub.exe --x86 prog32.bin --win10 1809|not a range
impossible-date|build -o out.exe --stub stub.exe --x86 prog32.bin --expires 2026-02-30|'2026-02-30' is not a day of the calendar
not-a-leap-year|build -o out.exe --stub stub.exe --x86 prog32.bin --expires 2100-02-29|not a day of the calendar
malformed-date|build -o out.exe --stub stub.exe --x86 prog32.bin --expires 1.7.2026|not a date of the form YYYY-MM-DD
unknown-elevation|build -o out.exe --stub stub.exe --x86 prog32.bin --elevation sometimes|unknown mode 'sometimes'
barred-with-x64|build -o out.exe --stub stub.exe --x86 prog32.bin --x64 prog64.bin --no-64bit-windows|cannot be combined with --x64
dictionary-too-small|build -o out.exe --stub stub.exe --x86 prog32.bin --dict 2K|outside 4K..1536M
dictionary-unit|build -o out.exe --stub stub.exe --x86 prog32.bin --dict 4X|unknown unit
lc-plus-lp|build -o out.exe --stub stub.exe --x86 prog32.bin --lc 3 --lp 2|must not exceed 4
level-out-of-range|build -o out.exe --stub stub.exe --x86 prog32.bin --level 10|--level
message-not-utf8|build -o out.exe --stub stub.exe --x86 prog32.bin --expired-message-file bad-utf8.txt|bad-utf8.txt: not valid UTF-8
message-too-long|build -o out.exe --stub stub.exe --x86 prog32.bin --unsupported-message-file long-message.txt|long-message.txt: the message has 65536 UTF-16 units
message-text-and-file|build -o out.exe --stub stub.exe --x86 prog32.bin --expired-message a --expired-message-file unsupported.txt|excludes
unknown-option|build -o out.exe --stub stub.exe --x86 prog32.bin --colour red|--colour
inspect-missing|inspect nowhere.exe|nowhere.exe: No such file
simulate-unknown-windows|simulate used-stub.exe --windows "10 29H2"|unknown Windows '10 29H2'
simulate-x64-on-98|simulate used-stub.exe --windows 98 --arch x64|has no 64-bit edition
simulate-bad-arch|simulate used-stub.exe --arch arm32|none of x86, x64 and arm64
simulate-arm64-on-7|simulate used-stub.exe --windows 7 --arch arm64|has no Arm64 edition
simulate-arm64-on-1703|simulate used-stub.exe --windows "10 1703" --arch arm64|has no Arm64 edition
simulate-bad-date|simulate used-stub.exe --date 2026-13-01|--date: '2026-13-01' is not a day of the calendar
simulate-quoted-argument|simulate used-stub.exe -- 'say "hi"'|double quotes
extract-absent-x64|extract used-stub.exe --x64 out.exe|no x64 setup program
EOF

# A failed build leaves an existing target exactly as it was.
checks=$((checks + 1))
echo "precious" > keep.exe
"$PKGTOOL" build -o keep.exe --stub notstub.bin --x86 prog32.bin 2> /dev/null
[[ "$(cat keep.exe)" == "precious" ]] || fail "a failed build changed its target"

# --- round trip --------------------------------------------------------------
check "build full package" "$PKGTOOL" build -q -o full.exe --stub stub.exe --x86 prog32.bin \
  --x64 prog64.bin --windows 7,8.1,10,11,other --win10 1809..22H2 --win11 22H2.. \
  --expires 2099-03-01 --elevation silent-runas --expired-message "Too late." \
  --wrong-width-message "Wrong width." --unsupported-message-file unsupported.txt \
  --trailing-data trailing.bin --level 9 --dict 1M
check "verify full.exe" "$PKGTOOL" verify -q full.exe
size32=$(stat -c %s prog32.bin)
size64=$(stat -c %s prog64.bin)
"$PKGTOOL" inspect full.exe > inspect.txt || fail "inspect full.exe"
while IFS= read -r expected; do
  [[ -z "$expected" ]] && continue
  expected=${expected//SIZE32/$size32}
  expected=${expected//SIZE64/$size64}
  checks=$((checks + 1))
  grep -qF -- "$expected" inspect.txt || fail "inspect lacks '$expected'"
done <<'EOF'
package offset      512
Windows               7, 8.1, 10, 11, other
Windows 10 releases   1809 (October 2018 Update) .. 2210 = 22H2 (2022 Update)
Windows 11 releases   2209 = 22H2 (2022 Update) .. 9999 (open-ended: later releases too)
Elevation             1 silent-runas
Expires               2099-03-01 (refused from that day on)
LZMA                  properties 0x5D (lc 3, lp 0, pb 2), dictionary 1 MiB
x86 setup program     SIZE32 bytes, packed
x64 setup program     SIZE64 bytes, packed
  expired             "Too late."
  wrong width         "Wrong width."
  unsupported Windows "Nicht unterstützt: %USER%"
Trailing data         5000 bytes
Integrity             sound
EOF
"$PKGTOOL" inspect --json full.exe > inspect.json || fail "inspect --json full.exe"
for expected in '"sound": true' '"detached": false' '"win10": {' '"max": 2210' '"text": "Too late."'; do
  checks=$((checks + 1))
  grep -qF -- "$expected" inspect.json || fail "inspect --json lacks $expected"
done
check "extract full.exe" "$PKGTOOL" extract -q full.exe --x86 out32.bin --x64 out64.bin
check "x86 round trip" cmp -s out32.bin prog32.bin
check "x64 round trip" cmp -s out64.bin prog64.bin
check "trailing data kept" cmp -s <(tail -c 5000 full.exe) trailing.bin
(mkdir -p ex && cd ex && "$PKGTOOL" extract -q ../full.exe) || fail "extract with default names"
check "default x86 name" cmp -s ex/full.x86.exe prog32.bin
check "default x64 name" cmp -s ex/full.x64.exe prog64.bin
# A run that fails on one target writes none: no complete x86 program is left
# behind when the x64 one cannot be written.
"$PKGTOOL" extract -q full.exe --x86 ok.exe --x64 missing-dir/x64.exe 2> stderr.txt
[[ $? -eq 2 ]] || fail "extract to a missing folder does not exit 2"
checks=$((checks + 1))
[[ ! -e ok.exe ]] || fail "a failed extract left ok.exe behind"
compgen -G 'ok.exe.tmp-*' > /dev/null && fail "a failed extract left a temporary file behind"

# Same inputs, same bytes, whatever the thread timing.
check "rebuild" "$PKGTOOL" build -q -o again.exe --stub stub.exe --x86 prog32.bin \
  --x64 prog64.bin --windows 7,8.1,10,11,other --win10 1809..22H2 --win11 22H2.. \
  --expires 2099-03-01 --elevation silent-runas --expired-message "Too late." \
  --wrong-width-message "Wrong width." --unsupported-message-file unsupported.txt \
  --trailing-data trailing.bin --level 9 --dict 1M
check "deterministic" cmp -s full.exe again.exe

# The stub beside the executable is the default.
install_pkgtool bin && cp stub.exe bin/Stub32.exe
check "default stub" bin/pkgtool build -q -o bydefault.exe --x86 prog32.bin
check "default stub used" cmp -s <(head -c 128 bydefault.exe) <(head -c 128 stub.exe)
rm bin/Stub32.exe
checks=$((checks + 1))
bin/pkgtool build -q -o bydefault.exe --x86 prog32.bin 2> stderr.txt && fail "built without a stub"
grep -qF "$(shown bin/Stub32.exe) does not exist" stderr.txt || fail "missing default stub not named: $(cat stderr.txt)"

# --- damage: verify prints the launcher's own verdict ------------------------
damaged_text="It has most likely been damaged."
truncated_text="The setup package has been truncated."
flip() {  # flip FILE OFFSET
  local byte
  byte=$(od -An -tu1 -j "$2" -N1 "$1" | tr -d ' ')
  printf "$(printf '\\%03o' $(((byte ^ 0xFF) & 0xFF)))" | dd of="$1" bs=1 seek="$2" conv=notrunc status=none
}
size=$(stat -c %s full.exe)
# name | how to damage | expected exit | expected text
while IFS='|' read -r name damage rc_expected text; do
  [[ -z "$name" ]] && continue
  checks=$((checks + 1))
  cp full.exe damaged.exe
  eval "$damage"
  "$PKGTOOL" verify damaged.exe > stdout.txt 2> stderr.txt
  rc=$?
  [[ $rc -eq $rc_expected ]] || fail "$name: verify exit $rc, expected $rc_expected"
  if [[ -n "$text" ]]; then
    grep -qF -- "$text" stderr.txt || fail "$name: verify said: $(cat stderr.txt)"
  fi
done <<EOF
header byte|flip damaged.exe 520|1|$damaged_text
x86 payload byte|flip damaged.exe 700|1|$damaged_text
message byte|flip damaged.exe $((size - 5010))|1|$damaged_text
locator crc|flip damaged.exe 136|1|$damaged_text
no locator|dd if=/dev/zero of=damaged.exe bs=1 seek=128 count=4 conv=notrunc status=none|1|$damaged_text
trailing byte|flip damaged.exe $((size - 10))|0|
cut short|truncate -s $((size - 1)) damaged.exe|1|$truncated_text
cut inside the span|truncate -s 4000 damaged.exe|1|$truncated_text
grown|head -c 100 /dev/urandom >> damaged.exe|0|
EOF
cp full.exe damaged.exe && flip damaged.exe 700
checks=$((checks + 1))
"$PKGTOOL" inspect damaged.exe > inspect.txt
[[ $? -eq 1 ]] || fail "inspect of a damaged package exits 0"
grep -qF "Integrity             fails at file size and checksum: An error occurred" inspect.txt ||
  fail "inspect does not report the damage: $(grep Integrity inspect.txt)"
checks=$((checks + 1))
"$PKGTOOL" extract damaged.exe --x86 out.exe 2> stderr.txt && fail "extract of a damaged package succeeded"
[[ ! -e out.exe ]] || fail "extract of a damaged package wrote a file"

# --- simulate: the launcher's own sequence ----------------------------------
# name | build arguments | simulate arguments | a line the outcome must hold
while IFS='|' read -r name build_args sim_args expected; do
  [[ -z "$name" || "$name" == \#* ]] && continue
  row_here "$name" || continue
  checks=$((checks + 1))
  eval "set -- $build_args"
  "$PKGTOOL" build -q -o sim.exe --stub stub.exe --unsupported-message "Not on %USER%." \
    --expired-message "Expired." --wrong-width-message "Wrong width." "$@" ||
    { fail "$name: build failed"; continue; }
  eval "set -- $sim_args"
  "$PKGTOOL" simulate sim.exe --date 2026-06-01 --path 'C:\Downloads\Setup.exe' "$@" > sim.txt 2>&1 ||
    { fail "$name: simulate failed: $(cat sim.txt)"; continue; }
  expected=${expected//SIZE64/$size64}
  grep -qF -- "$expected" sim.txt || fail "$name: expected '$expected' in:
$(cat sim.txt)"
done <<'EOF'
both, 11 x64|--x86 prog32.bin --x64 prog64.bin|--windows "11 24H2" --arch x64|Outcome       starts the x64 setup program
both, 11 x64 shell|--x86 prog32.bin --x64 prog64.bin|--windows "11 24H2" --arch x64|Parameters    "C:\Downloads\Setup.exe" /noadmin
both, 11 x64 temp copy|--x86 prog32.bin --x64 prog64.bin|--windows "11 24H2"|Copy          C:\Users\User\AppData\Local\Temp\Setup.exe (SIZE64 bytes)
both, x86 Windows|--x86 prog32.bin --x64 prog64.bin|--windows 7 --arch x86|Outcome       starts the x86 setup program
both, /32 on x64|--x86 prog32.bin --x64 prog64.bin|--windows 10 --arch x64 -- /32|Outcome       starts the x86 setup program
elevated is direct|--x86 prog32.bin --x64 prog64.bin|--windows "10 1809" --admin|Start         directly
xp is direct|--x86 prog32.bin|--windows xp --arch x86|Command line  "C:\Users\User\AppData\Local\Temp\Setup.exe" "C:\Downloads\Setup.exe"
silent runas elevates first|--x86 prog32.bin --elevation silent-runas|--windows 10 -- /S|Elevation     the start would raise the setup program's rights
installer detection elevates first|--x86 prog32.bin|--windows 10|Elevation     the start would raise the setup program's rights
64-bit program, no installer detection|--x64 prog64.bin|--windows 10|Start         through the shell, verb "open"
silent always-noadmin|--x64 prog64.bin --elevation always-noadmin|--windows 10 -- /silent|Parameters    "C:\Downloads\Setup.exe" /silent /noadmin
argument with space|--x86 prog32.bin|--windows 10 --admin -- /temp 'D:\My Temp'|Copy          D:\My Temp\000102030405060708090a0b0c0d0e0f\Setup.exe
elevated copy's folder|--x86 prog32.bin|--windows 10 --admin|Its folder    new, with a random name at every run; only Administrators and SYSTEM can write to it (O:BAD:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA))
temp beside package|--x64 prog64.bin|--windows 10 -- /temp|Copy          C:\Downloads\Setup2.exe
detached|--x64 prog64.bin --detached|--windows 10|Afterwards    returns at once (detached); the copy stays
waits and deletes|--x86 prog32.bin|--windows 10|Afterwards    waits for it, then deletes the copy
expired on the day|--x86 prog32.bin --expires 2026-06-01 --allow-expired|--windows 10|Box           Expired.
runs the day before|--x86 prog32.bin --expires 2026-06-02 --allow-expired|--windows 10|Outcome       starts the x86 setup program
x64 only on x86|--x64 prog64.bin|--windows 10 --arch x86|Box           Wrong width.
both, 10 arm64|--x86 prog32.bin --x64 prog64.bin|--windows "10 22H2" --arch arm64|Outcome       starts the x86 setup program
both, 11 arm64|--x86 prog32.bin --x64 prog64.bin|--windows "11 24H2" --arch arm64|Outcome       starts the x64 setup program
both, 11 arm64 emulated|--x86 prog32.bin --x64 prog64.bin|--windows "11 24H2" --arch arm64|Program       a PE32+ image for AMD64; Windows runs it emulated
both, /32 on 11 arm64|--x86 prog32.bin --x64 prog64.bin|--windows 11 --arch arm64 -- /32|Outcome       starts the x86 setup program
x64 only on 10 arm64|--x64 prog64.bin|--windows "10 1709" --arch arm64|Box           Wrong width.
x64 only on 11 arm64|--x64 prog64.bin|--windows "11 21H2" --arch arm64|Outcome       starts the x64 setup program
barred on 11 arm64|--x86 prog32.bin --no-64bit-windows|--windows 11 --arch arm64|Outcome       refused (wrong width)
barred on x64|--x86 prog32.bin --no-64bit-windows|--windows 10 --arch x64|Outcome       refused (wrong width)
version not allowed|--x86 prog32.bin --windows 7,11|--windows "10 22H2"|Box           Not on Windows 10.
release below minimum|--x86 prog32.bin --win10 1903..|--windows "10 1809"|Box           Not on Windows 10 1809 (October 2018 Update).
release above maximum|--x86 prog32.bin --win11 ..23H2|--windows "11 24H2"|Box           Not on Windows 11 24H2 (2024 Update).
build above the list|--x86 prog32.bin --win11 ..25H2|--windows "11 26300 26H1"|Box           Not on Windows 11 26H1.
open-ended admits it|--x86 prog32.bin --win11 21H2..|--windows "11 26300 26H1"|Outcome       starts the x86 setup program
2000 needs SP4|--x86 prog32.bin --windows 2000,xp|--windows "2000 sp3" --arch x86|Box           Not on Windows 2000 Service Pack 3.
2000 with 98 allowed|--x86 prog32.bin --windows 98,2000|--windows "2000 sp3" --arch x86|Outcome       starts the x86 setup program
caption is the path|--x86 prog32.bin --windows 7|--windows 8|Caption       C:\Downloads\Setup.exe
EOF

# Matrix: every known Windows on both widths.
check "build matrix package" "$PKGTOOL" build -q -o matrix.exe --stub stub.exe --x86 prog32.bin \
  --windows xp,7,10 --win10 2004.. --unsupported-message "No: %USER%"
"$PKGTOOL" matrix matrix.exe --date 2026-06-01 > matrix.txt || fail "matrix"
checks=$((checks + 1))
[[ $(grep -c '^Windows' matrix.txt) -eq 34 ]] || fail "matrix has $(grep -c '^Windows' matrix.txt) rows, expected 33 + title"
while IFS='|' read -r row expected; do
  [[ -z "$row" ]] && continue
  checks=$((checks + 1))
  grep -F -- "$row" matrix.txt | grep -qF -- "$expected" || fail "matrix row '$row' lacks '$expected'"
done <<'EOF'
Windows 95 (4.0) |refused: Windows 95
Windows 98 (4.10) |refused: Windows 98
Windows 2000 SP4 (5.0) |refused: Windows 2000
Windows XP |x86, direct
Windows 7 (6.1) |x86, shell open /noadmin
Windows 8.1 (6.3) |refused: Windows 8.1
Windows 10 1909 |refused: Windows 10 1909 (November 2019 Update)
Windows 10 2004 |x86, shell open /noadmin
Windows 10 22H2 |x86, shell open /noadmin
Windows 11 24H2 |refused: Windows 11
EOF
"$PKGTOOL" matrix matrix.exe --date 2026-06-01 --json > matrix.json || fail "matrix --json"
checks=$((checks + 1))
grep -qF '"summary": "refused: Windows 10 1909 (November 2019 Update)"' matrix.json ||
  fail "matrix --json lacks the 1909 refusal"
# With both programs: Arm64 Windows 10 takes the x86 one, Windows 11 the x64
# one; no Arm64 Windows before 10 1709.
check "build matrix package with both" "$PKGTOOL" build -q -o both.exe --stub stub.exe \
  --x86 prog32.bin --x64 prog64.bin
"$PKGTOOL" matrix both.exe --date 2026-06-01 --json > both.json || fail "matrix --json of both"
"$PKGTOOL" matrix both.exe --date 2026-06-01 > both.txt || fail "matrix of both"
while IFS='|' read -r windows program; do
  [[ -z "$windows" ]] && continue
  checks=$((checks + 1))
  found=$(jq -r --arg w "$windows" '.[] | select(.windows == $w) | .arm64 | if . == null then "-" else .program end' both.json)
  [[ $found == "$program" ]] || fail "matrix --json: Arm64 Windows $windows gives '$found', expected '$program'"
done <<'EOF'
7|-
10 1703|-
10 1709|x86
10 22H2|x86
11 21H2|x64
11 25H2|x64
EOF
checks=$((checks + 1))
grep -qE '^Windows +32-bit Windows +64-bit Windows +Arm64 Windows$' both.txt ||
  fail "matrix lacks the Arm64 column: $(head -1 both.txt)"
checks=$((checks + 1))
grep -qE '^Windows 10 22H2 .*x64, shell open /noadmin +x86, shell open /noadmin$' both.txt ||
  fail "matrix row of Windows 10 22H2 lacks the x86 program on Arm64: $(grep '^Windows 10 22H2' both.txt)"

# --- progress: a bar on a terminal, plain lines elsewhere, none with --quiet --
head -c $((6 << 20)) /dev/urandom > bigdata.bin
"$PKGTOOL" make-test-program x86 big.bin bigdata.bin || fail "make a large program"
if command -v script > /dev/null; then
  # name | extra options | whether the bar shows
  while IFS='|' read -r name options shows; do
    [[ -z "$name" ]] && continue
    checks=$((checks + 1))
    script -qec "'$PKGTOOL' build -o big.exe --stub stub.exe --x86 big.bin $options" /dev/null > tty.txt
    if [[ $shows == yes ]]; then
      terminal_text tty.txt |
        grep -qE '^compressing \[#*\.*\] [0-9]+% \([0-9.]+ of 6\.0 MiB\), [0-9.]+ MiB/s, [0-9]+ s left' ||
        fail "$name: no bar with rate and time left on a terminal: $(terminal_text tty.txt | head -3)"
    else
      terminal_text tty.txt | grep -q "compressing" && fail "$name: progress shown"
    fi
  done <<'EOF2'
terminal||yes
quiet|--quiet|no
EOF2
fi
# Elsewhere a plain line every few seconds (PKGTOOL_PROGRESS_SECONDS=0: at
# every step), so that a CI log shows life; none with -q. Work that ends
# before the first line is due prints nothing.
checks=$((checks + 1))
"$PKGTOOL" build -o small.exe --stub stub.exe --x86 prog32.bin 2>&1 > /dev/null | grep -v "^pkgtool: warning: .* is not signed" > stderr.txt
[[ -s stderr.txt ]] && fail "progress shown for short work: $(cat stderr.txt)"
# command | the line it must print
while IFS='|' read -r args expected; do
  [[ -z "$args" ]] && continue
  checks=$((checks + 1))
  eval "set -- $args"
  PKGTOOL_PROGRESS_SECONDS=0 "$PKGTOOL" "$@" 2> stderr.txt > /dev/null
  grep -qE -- "$expected" stderr.txt || fail "$args: no progress line '$expected': $(head -3 stderr.txt)"
  PKGTOOL_PROGRESS_SECONDS=0 "$PKGTOOL" "$@" -q 2> stderr.txt > /dev/null
  grep -q "^pkgtool: [a-z]*: [0-9]*%" stderr.txt && fail "$args -q: progress shown: $(head -3 stderr.txt)"
done <<'EOF'
build -o big.exe --stub stub.exe --x86 big.bin|^pkgtool: compressing: [0-9]+% \([0-9.]+ of 6\.0 MiB\)
verify full.exe|^pkgtool: checking: 100% \(
extract full.exe --x86 p32.exe|^pkgtool: checking: 100% \(
inspect --recipe full.exe|^pkgtool: recompressing: 100% \(
simulate full.exe --windows 10|^pkgtool: checking: 100% \(
matrix full.exe|^pkgtool: simulating: 100% \(72 of 72 runs\), [0-9.]+ runs/s$
EOF

# --- help tells what the commands are ---------------------------------------
checks=$((checks + 1))
"$PKGTOOL" --help > help.txt || fail "--help exits nonzero"
for command in build inspect verify extract simulate matrix; do
  grep -q "^  $command" help.txt || fail "--help does not list $command"
done
grep -q "make-test-stub" help.txt && fail "--help lists the hidden test command"
checks=$((checks + 1))
"$PKGTOOL" build --help | grep -qF -- "--win10" || fail "build --help lacks --win10"

echo "$checks checks, $failures failures"
[[ $failures -eq 0 ]]
