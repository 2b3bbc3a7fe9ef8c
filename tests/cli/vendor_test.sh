#!/usr/bin/env bash
# pkgtool and the vendor's package: icon and version information read back by
# icoutils, a signed package that osslsigncode verifies, recipe files (round
# trip to identical bytes, overrides, relative paths), refusals of bad input,
# --version and the installed layout.
#   usage: vendor_test.sh PATH/TO/pkgtool
set -u

DATA=$(realpath "$(dirname "$0")/data")
source "$(dirname "$0")/harness.sh" "$1"

# --- inputs ------------------------------------------------------------------
"$PKGTOOL" make-test-stub --pe stub.exe || { echo "cannot make a test stub" >&2; exit 2; }
"$PKGTOOL" make-test-stub plain.exe || exit 2  # no PE sections at all
cp "$DATA/app.ico" "$DATA/oversize.ico" .
{ for i in $(seq 1 2000); do echo "x86 setup program line $i"; done; head -c 8000 /dev/urandom; } > data32.bin
{ for i in $(seq 1 2500); do echo "x64 setup program row $i"; done; head -c 9000 /dev/urandom; } > data64.bin
"$PKGTOOL" make-test-program x86 prog32.bin data32.bin || exit 2
"$PKGTOOL" make-test-program x64 prog64.bin data64.bin || exit 2
echo "not an icon at all" > notanicon.ico
VERSION_ARGS=(--version-info "ProductName=MyApp" --version-info "CompanyName=Example Ltd"
  --version-info "FileDescription=MyApp Setup" --version-info "FileVersion=1.2.3"
  --version-info "ProductVersion=1.2.3.4" --version-info "LegalCopyright=© 2026 Example Ltd"
  --version-info "OriginalFilename=MyAppSetup.exe" --version-info "Comments=built by CI")

check "build with icon and version" "$PKGTOOL" build -q -o app.exe --stub stub.exe --x86 prog32.bin \
  --x64 prog64.bin --windows 7,8,8.1,10,11 --win10 1809.. --expires 2099-01-01 --level 5 \
  --elevation silent-runas --detached --icon app.ico "${VERSION_ARGS[@]}"
check "verify app.exe" "$PKGTOOL" verify -q app.exe

# --- an independent reader: icoutils ---------------------------------------------
wrestool -l app.exe > wrestool.txt 2>&1 || fail "wrestool -l app.exe: $(cat wrestool.txt)"
for expected in "--type=3 --name=1 " "--type=3 --name=2 " "--type=3 --name=3 " \
    "--type=14 --name=1 " "--type=16 --name=1 --language=1033" "--type=24 --name=1 "; do
  checks=$((checks + 1))
  grep -qF -- "$expected" wrestool.txt || fail "wrestool -l lacks '$expected': $(cat wrestool.txt)"
done
checks=$((checks + 1))
wrestool -x --type=14 app.exe > extracted.ico 2> /dev/null
icotool -l extracted.ico > icotool.txt 2>&1 || fail "icotool cannot read the extracted icon"
[[ "$(icotool -l app.ico)" == "$(cat icotool.txt)" ]] || fail "extracted icon differs: $(cat icotool.txt)"
checks=$((checks + 1))
wrestool -x --raw --type=16 app.exe | iconv -f UTF-16LE -t UTF-8 2> /dev/null | tr -d '\0' > version.txt
grep -qF "Example Ltd" version.txt && grep -qF "040904b0" version.txt ||
  fail "the version resource lacks its strings"

# --- inspect -----------------------------------------------------------------------
"$PKGTOOL" inspect app.exe > inspect.txt || fail "inspect app.exe"
while IFS= read -r expected; do
  [[ -z "$expected" ]] && continue
  checks=$((checks + 1))
  grep -qF -- "$expected" inspect.txt || fail "inspect lacks '$expected'"
done <<'EOF'
Icon                  3 images: 16x16 32-bit, 32x32 32-bit, 256x256 32-bit
Version information   language 0x0409, code page 1200
  file version        1.2.3.0
  product version     1.2.3.4
  ProductName         "MyApp"
  LegalCopyright      "© 2026 Example Ltd"
Integrity             sound
EOF
"$PKGTOOL" inspect --json app.exe > inspect.json || fail "inspect --json app.exe"
checks=$((checks + 1))
[[ "$(jq -c '[.resources.icons[].width, .resources.versionInfo.fileVersion, .resources.versionInfo.strings.CompanyName]' inspect.json)" == '[16,32,256,"1.2.3.0","Example Ltd"]' ]] ||
  fail "inspect --json resources: $(jq -c .resources inspect.json)"

# --- signing -------------------------------------------------------------------------
if command -v osslsigncode > /dev/null && command -v openssl > /dev/null; then
  openssl req -x509 -newkey rsa:2048 -nodes -keyout key.pem -out cert.pem -days 2 \
    -subj '/CN=Throwaway test signer' > /dev/null 2>&1 || fail "openssl cannot make a certificate"
  check "osslsigncode sign" osslsigncode sign -certs cert.pem -key key.pem -n MyApp -in app.exe \
    -out signed.exe > /dev/null
  checks=$((checks + 1))
  osslsigncode verify -CAfile cert.pem -in signed.exe > osslverify.txt 2>&1 ||
    fail "osslsigncode verify: $(tail -5 osslverify.txt)"
  check "pkgtool verify signed.exe" "$PKGTOOL" verify -q signed.exe
  checks=$((checks + 1))
  wrestool -l signed.exe | grep -qF -- "--type=14 --name=1 " || fail "signed package lost its icon"
  # The signature is shown as one, not as trailing data, and the recipe of the
  # signed package builds the package as it was before signing.
  "$PKGTOOL" inspect signed.exe > inspect-signed.txt
  # The signer pads the file to a multiple of eight before the signature.
  at=$(( ($(stat -c %s app.exe) + 7) / 8 * 8 ))
  for expected in "Trailing data         0 bytes" \
      "Signature             Authenticode, $(( $(stat -c %s signed.exe) - at )) bytes at offset $at" \
      'signed by "Throwaway test signer"'; do
    checks=$((checks + 1))
    grep -qF -- "$expected" inspect-signed.txt || fail "inspect signed.exe lacks '$expected': $(cat inspect-signed.txt)"
  done
  checks=$((checks + 1))
  "$PKGTOOL" inspect --recipe signed.exe > signed.json 2> warnings.txt
  [[ ! -s warnings.txt ]] || fail "inspect --recipe signed.exe warns: $(cat warnings.txt)"
  checks=$((checks + 1))
  jq -e 'has("trailingData") | not' signed.json > /dev/null || fail "the signed package's recipe asks for trailing data"
  jq '.x86 = "prog32.bin" | .x64 = "prog64.bin" | .icon = "app.ico" | .stub = "stub.exe" | .output = "unsigned.exe"' \
    signed.json > unsigned.json
  check "build from the signed package's recipe" "$PKGTOOL" build -q --recipe unsigned.json
  check "it is the package before signing" cmp unsigned.exe app.exe
else
  echo "SKIP: osslsigncode or openssl missing; signing not tested" >&2
fi

# --- recipe round trip: same programs and icon, same bytes -------------------------
"$PKGTOOL" inspect --recipe app.exe > written.json 2> warnings.txt || fail "inspect --recipe"
check "inspect --recipe warns of nothing" test ! -s warnings.txt
checks=$((checks + 1))
[[ "$(jq -c '[.x86, .icon, .lzma.level, .elevation, .detached, .versionInfo.FileVersion]' written.json)" == \
   '["<x86 setup program>","<icon file>",5,"silent-runas",true,"1.2.3"]' ]] || fail "recipe: $(cat written.json)"
mkdir -p project/assets elsewhere
cp prog32.bin prog64.bin project/
cp app.ico project/assets/
jq '.x86 = "prog32.bin" | .x64 = "prog64.bin" | .icon = "assets/app.ico" | .stub = "../stub.exe" | .output = "rebuilt.exe"' \
  written.json > project/recipe.json
(cd elsewhere && "$PKGTOOL" build -q --recipe ../project/recipe.json) || fail "build --recipe"
check "recipe output lands beside the recipe" test -f project/rebuilt.exe
check "round trip gives identical bytes" cmp project/rebuilt.exe app.exe
# The command line wins, key by key for the version information.
check "build --recipe with overrides" "$PKGTOOL" build -q --recipe project/recipe.json -o override.exe \
  --expires never --version-info FileVersion=2.0
"$PKGTOOL" inspect override.exe > override.txt
for expected in "Expires               never" "  file version        2.0.0.0" '  ProductName         "MyApp"'; do
  checks=$((checks + 1))
  grep -qF -- "$expected" override.txt || fail "override: lacks '$expected'"
done
echo "Expired, says the command line." > expired.txt
check "the command line's message file wins over the recipe's text" "$PKGTOOL" build -q \
  --recipe project/recipe.json -o msg.exe --expired-message-file expired.txt
checks=$((checks + 1))
"$PKGTOOL" inspect msg.exe | grep -qF '"Expired, says the command line."' || fail "message override"
jq '.icon = "<icon file>"' project/recipe.json > project/placeholder.json
printf '{"x86": "prog32.bin", "colour": "red"}' > project/unknown.json
printf '{"x86": "prog32.bin", "lzma": {"level": "six"}}' > project/badtype.json
printf '{"x86": "prog32.bin", "lzma": {"level": 12}}' > project/badlevel.json
printf '{"x86": ' > project/broken.json
printf '{"x86": "prog32.bin", "versionInfo": {"Product": "x"}}' > project/badkey.json

# --- refusals: one line naming the problem, exit 2, nothing left behind ------------
refusal_rows <<'EOF'
not-an-icon|build -o out.exe --stub stub.exe --x86 prog32.bin --icon notanicon.ico|notanicon.ico: not an icon file
icon-missing|build -o out.exe --stub stub.exe --x86 prog32.bin --icon nowhere.ico|nowhere.ico: No such file
icon-oversize|build -o out.exe --stub stub.exe --x86 prog32.bin --icon oversize.ico|oversize.ico: image 2 is 300x300 pixels; icons are at most 256x256
version-text|build -o out.exe --stub stub.exe --x86 prog32.bin --version-info FileVersion=1.2.3-beta|--version-info: FileVersion: '1.2.3-beta' is not a version of 1 to 4 dotted numbers
version-five-parts|build -o out.exe --stub stub.exe --x86 prog32.bin --version-info ProductVersion=1.2.3.4.5|--version-info: ProductVersion
version-over-65535|build -o out.exe --stub stub.exe --x86 prog32.bin --version-info FileVersion=1.65536|--version-info: FileVersion: '1.65536'
unknown-key|build -o out.exe --stub stub.exe --x86 prog32.bin --version-info Vendor=Me|--version-info: unknown key 'Vendor'
not-key-value|build -o out.exe --stub stub.exe --x86 prog32.bin --version-info ProductName|--version-info: 'ProductName' is not KEY=VALUE
key-twice|build -o out.exe --stub stub.exe --x86 prog32.bin --version-info Comments=a --version-info Comments=b|Comments is given twice
bad-language|build -o out.exe --stub stub.exe --x86 prog32.bin --version-info Comments=a --version-language german|--version-language: 'german'
stub-without-resources|build -o out.exe --stub plain.exe --x86 prog32.bin --icon app.ico|plain.exe: cannot take the icon or version information
recipe-missing|build --recipe nowhere.json|nowhere.json: No such file
recipe-not-json|build --recipe project/broken.json -o out.exe|project/broken.json:1:9: not a JSON recipe
recipe-unknown-field|build --recipe project/unknown.json -o out.exe|project/unknown.json: colour: unknown field
recipe-wrong-type|build --recipe project/badtype.json -o out.exe --stub stub.exe|project/badtype.json: lzma.level: must be a number
recipe-bad-level|build --recipe project/badlevel.json -o out.exe --stub stub.exe|project/badlevel.json: lzma.level:
recipe-bad-key|build --recipe project/badkey.json -o out.exe --stub stub.exe|project/badkey.json: versionInfo: unknown key 'Product'
recipe-placeholder|build --recipe project/placeholder.json -o out.exe|project/placeholder.json: icon: '<icon file>' stands for a file
recipe-no-output|build --recipe project/unknown.json|colour
no-output|build --stub stub.exe --x86 prog32.bin|give -o FILE
EOF

# --- --version, and the installed layout ------------------------------------------------
checks=$((checks + 1))
"$PKGTOOL" --version | grep -qE '^pkgtool [0-9]+\.[0-9]+' || fail "--version: $("$PKGTOOL" --version 2>&1)"
mkdir -p prefix/share/setup-launcher
install_pkgtool prefix/bin
cp stub.exe prefix/share/setup-launcher/Stub32.exe
check "installed pkgtool finds its stub" prefix/bin/pkgtool build -q -o installed.exe --x86 prog32.bin
checks=$((checks + 1))
rm prefix/share/setup-launcher/Stub32.exe
prefix/bin/pkgtool build -q -o none.exe --x86 prog32.bin 2> stderr.txt
grep -qF "$(shown share/setup-launcher/Stub32.exe)" stderr.txt || fail "no stub: $(cat stderr.txt)"

echo "$checks checks, $failures failures"
[[ $failures -eq 0 ]]
