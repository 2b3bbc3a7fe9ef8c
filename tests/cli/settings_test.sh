#!/usr/bin/env bash
# The vendor's launcher settings through pkgtool: deployment mode and the
# launcher's texts in other languages are built into the stub's resources,
# refused where they cannot work, shown by inspect, simulate and matrix, and
# written back by inspect --recipe; a package without them carries the
# digest of its data and its programs' execution levels alone.
#   usage: settings_test.sh PATH/TO/pkgtool
set -u
source "$(dirname "$0")/harness.sh" "$1"

"$PKGTOOL" make-test-stub --pe stub.exe || exit 2
"$PKGTOOL" make-test-program x86 prog32.bin || exit 2
"$PKGTOOL" make-test-program x64 prog64.bin || exit 2
base=(--stub stub.exe --x86 prog32.bin --x64 prog64.bin --windows 10,11 -q)
"$PKGTOOL" build -o plain.exe "${base[@]}" || exit 2
"$PKGTOOL" build -o deploy.exe "${base[@]}" --pass-exit-code --launcher-languages all \
  --launcher-text de.expired="Abgelaufen." --launcher-text de-AT.damaged="Kaputt." \
  --launcher-text zh-TW.damaged="安裝套件已損毀。" || exit 2
"$PKGTOOL" build -o german.exe "${base[@]}" --launcher-languages de,ja || exit 2
# A flipped byte in the last bytes of the packed data: damaged, the settings intact.
damage() {
  cp "$1" "$2"
  printf '\xff' | dd of="$2" bs=1 seek=$(($(stat -c %s "$2") - 200)) conv=notrunc status=none
}
damage deploy.exe deploy-damaged.exe
damage german.exe german-damaged.exe
"$PKGTOOL" build -o all.exe "${base[@]}" --launcher-languages all || exit 2
damage all.exe all-damaged.exe
# A flipped byte inside the settings resource itself.
cp deploy.exe settings-damaged.exe
at=$(grep -obUaP 'LSET' settings-damaged.exe | head -n 1 | cut -d: -f1)
printf '\x02' | dd of=settings-damaged.exe bs=1 seek=$((at + 20)) conv=notrunc status=none

# A byte of the package data changed and the checksum made to match again:
# only the digest in the stub's settings can tell.
python3 - plain.exe swapped.exe <<'PY'
import struct, sys, zlib
data = bytearray(open(sys.argv[1], 'rb').read())
offset, length = struct.unpack_from('<II', data, 128)
data[offset + length - 10] ^= 0x20
struct.pack_into('<I', data, 136, zlib.crc32(bytes(data[offset:offset + length])))
open(sys.argv[2], 'wb').write(data)
PY

printf '{"launcherLanguages": ["de", "klingon"]}' > bad.json
printf '{"messages": {"expired": "cut\\u0000short"}}' > zero-char.json  # not nul.json: Windows reads NUL.* as the device
printf 'setup\xe2\x80\xaetxt.exe' > bidi.txt

# --- refusals ------------------------------------------------------------------------
# name | arguments | fragment of the one-line message (exit 2)
while IFS='|' read -r name args fragment; do
  [[ -z "$name" ]] && continue
  checks=$((checks + 1))
  eval "set -- $args"
  "$PKGTOOL" build -o out.exe "${base[@]}" "$@" 2> stderr.txt
  rc=$?
  [[ $rc -eq 2 ]] || fail "$name: exit code $rc, expected 2: $(cat stderr.txt)"
  grep -qF -- "$fragment" stderr.txt || fail "$name: message lacks '$fragment': $(cat stderr.txt)"
  [[ ! -e out.exe ]] || fail "$name: wrote out.exe"
done <<'ROWS'
detached deployment|--pass-exit-code --detached|--pass-exit-code: a detached package (--detached) is not waited for
unknown language|--launcher-languages de,xx|--launcher-languages: 'xx' is not a language pkgtool has
unknown text|--launcher-text de.bogus=x|--launcher-text: 'bogus' is not a text
malformed text|--launcher-text de:expired|is not LANGUAGE.TEXT=WORDING
recipe field named|--recipe bad.json|bad.json: launcherLanguages: 'klingon' is not a language
NUL from a recipe|--recipe zero-char.json|zero-char.json: messages.expired: the text holds U+0000
bidi override in a file|--expired-message-file bidi.txt|bidi.txt: the text holds U+202E
ROWS

# --- what the tools show -----------------------------------------------------------------
# name | command (shell words) | exit | fragment of the output
while IFS='|' read -r name args rc_expected fragment; do
  [[ -z "$name" ]] && continue
  checks=$((checks + 1))
  eval "set -- $args"
  "$PKGTOOL" "$@" > out.txt 2>&1
  rc=$?
  [[ $rc -eq $rc_expected ]] || fail "$name: exit code $rc, expected $rc_expected: $(cat out.txt)"
  grep -qF -- "$fragment" out.txt || fail "$name: output lacks '$fragment': $(cat out.txt)"
done <<'ROWS'
no vendor settings, the digest alone|inspect --json plain.exe|0|"languages": []
no settings in text|inspect plain.exe|0|Deployment mode       no: exit code 0
digest shown|inspect plain.exe|0|(matches the package data)
digest in JSON|inspect --json plain.exe|0|"matches": true
levels shown|inspect plain.exe|0|x64 program asks    no level stated
swapped data: digest differs|inspect swapped.exe|1|(does NOT match the package data)
swapped data not sound|verify swapped.exe|1|file size, checksum and digest: An error occurred while trying to read
simulate swapped data elevated|simulate swapped.exe --admin|0|Box           An error occurred while trying to read
simulate swapped data without rights|simulate swapped.exe|0|Outcome       starts
deployment shown|inspect deploy.exe|0|Deployment mode       yes
languages shown|inspect deploy.exe|0|de-DE (6), fr-FR (5)
extra language shown|inspect deploy.exe|0|de-AT (1)
simulate deployment silent|simulate deploy-damaged.exe -- /s|0|Box           none: deployment mode, and the run is silent
simulate deployment code|simulate deploy-damaged.exe -- /s|0|Exit code     1620 (deployment mode)
simulate deployment with box|simulate deploy-damaged.exe|0|Exit code     1620 (deployment mode)
simulate start passes code|simulate deploy.exe|0|Exit code     the setup program's own (deployment mode)
simulate without settings|simulate plain.exe|0|Exit code     0
simulate German user|simulate german-damaged.exe --language de-DE|0|Box           Beim Lesen des Installationspakets
simulate Austrian user|simulate german-damaged.exe --language de-AT|0|Box           Beim Lesen des Installationspakets
simulate Austrian override|simulate deploy-damaged.exe --language de-AT|0|Box           Kaputt.
simulate French user of German|simulate german-damaged.exe --language fr-FR|0|Box           An error occurred while trying to read
simulate Japanese user|simulate german-damaged.exe --language ja|0|Box           セットアップ パッケージの読み取り中に
simulate Hong Kong user|simulate deploy-damaged.exe --language zh-HK|0|Box           安裝套件已損毀。
simulate Taiwan user, no Simplified|simulate all-damaged.exe --language zh-TW|0|Box           An error occurred while trying to read
simulate Singapore user|simulate deploy-damaged.exe --language zh-SG|0|Box           读取安装包时出错。
simulate Catalan user's fallback|simulate deploy-damaged.exe --language ca-ES,es-ES|0|Box           Se produjo un error al leer
simulate fallback named|simulate deploy-damaged.exe --language ca-ES,es-ES|0|user's language ca-ES, then es-ES
simulate unknown language|simulate plain.exe --language xx|2|--language: 'xx' is not a language tag
matrix deployment codes|matrix deploy.exe --date 2026-06-01 -- /s|0|refused: Windows 95 (exit 1633, no box)
matrix without settings|matrix plain.exe --date 2026-06-01 -- /s|0|refused: Windows 95
verify broken settings|verify settings-damaged.exe|1|launcher settings
ROWS
grep -q "(exit" <("$PKGTOOL" matrix plain.exe --date 2026-06-01) && fail "a package without settings shows exit codes"

# --- the recipe builds the same bytes ----------------------------------------------------------
checks=$((checks + 1))
"$PKGTOOL" inspect --recipe deploy.exe > deploy.json 2> /dev/null || fail "inspect --recipe failed"
sed -i 's/"<[^"]*>"/"prog32.bin"/' deploy.json
jq '.stub = "stub.exe" | .x86 = "prog32.bin" | .x64 = "prog64.bin" | .output = "again.exe"' deploy.json > again.json
"$PKGTOOL" build -q --recipe again.json || fail "the recipe did not build: $(cat again.json)"
cmp -s deploy.exe again.exe || fail "the recipe gives other bytes: $(jq -c '{passExitCode, launcherLanguages, launcherTexts}' again.json)"

echo "$checks checks, $failures failures"
[[ $failures -eq 0 ]]
