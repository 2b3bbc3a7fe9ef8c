#!/usr/bin/env bash
# pkgtool.exe and what only Windows has, under 64-bit Wine: file names beyond
# the ANSI code page (Japanese, emoji) in every file argument and in a
# recipe, UNC and \\?\ paths, long paths, text on a console, an output that
# another program holds open, and a package it made launching.
#   usage: windows_test.sh PKGTOOL.exe HOLDOPEN.exe [STUB32.exe SETUPPROG_DIR [STUB64.exe]]
# WINE32_DIR: the 32-bit Wine tier (tools/wine32-tier.sh) for the launch.
set -u

DATA=$(realpath "$(dirname "$0")/data")
ROOT=$(realpath "$(dirname "$0")/../..")
HOLDOPEN=$(realpath "$2")
STUB32=${3:+$(realpath -m "$3")}
SETUPPROG=${4:+$(realpath -m "$4")}
STUB64=${5:+$(realpath -m "$5")}
source "$(dirname "$0")/harness.sh" "$1"
[[ $SYSTEM == windows ]] || { echo "windows_test.sh tests pkgtool.exe" >&2; exit 2; }
# Wine's console writes to the terminal in this locale's encoding.
export LC_ALL=C.UTF-8

# --- inputs, named in Japanese and with emoji --------------------------------
mkdir -p 素材 出力 "プロジェクト 🎁"
"$PKGTOOL" make-test-stub --pe 素材/スタブ.exe || exit 2
head -c 20000 /dev/urandom > data.bin
"$PKGTOOL" make-test-program x86 "素材/セットアップ32 📦.exe" data.bin || exit 2
"$PKGTOOL" make-test-program x64 "素材/セットアップ64 🚀.exe" data.bin || exit 2
cp "$DATA/app.ico" 素材/アイコン.ico
printf 'このパッケージは %%USER%% では動きません。\n' > 素材/メッセージ.txt
head -c 3000 /dev/urandom > 素材/末尾.bin
# The same files under plain names, for the package they must give.
cp 素材/スタブ.exe stub.exe
cp "素材/セットアップ32 📦.exe" prog32.exe
cp "素材/セットアップ64 🚀.exe" prog64.exe
cp 素材/アイコン.ico app.ico
cp 素材/メッセージ.txt message.txt
cp 素材/末尾.bin trailing.bin
OPTIONS=(--version-info "ProductName=アプリ" --version-info "LegalCopyright=© 2026 株式会社" --expires 2099-01-01)

# --- every file argument, and a recipe, named beyond the ANSI code page -------
check "build from plain names" "$PKGTOOL" build -q -o plain.exe --stub stub.exe --x86 prog32.exe \
  --x64 prog64.exe --icon app.ico --unsupported-message-file message.txt --trailing-data trailing.bin \
  "${OPTIONS[@]}"
check "build from Japanese and emoji names" "$PKGTOOL" build -q -o "出力/パッケージ 📦.exe" \
  --stub 素材/スタブ.exe --x86 "素材/セットアップ32 📦.exe" --x64 "素材/セットアップ64 🚀.exe" \
  --icon 素材/アイコン.ico --unsupported-message-file 素材/メッセージ.txt --trailing-data 素材/末尾.bin \
  "${OPTIONS[@]}"
check "the same bytes" cmp plain.exe "出力/パッケージ 📦.exe"
"$PKGTOOL" inspect --recipe plain.exe 2> /dev/null |
  jq '.stub = "../素材/スタブ.exe" | .x86 = "../素材/セットアップ32 📦.exe" | .x64 = "../素材/セットアップ64 🚀.exe"
      | .icon = "../素材/アイコン.ico" | .trailingData = "../素材/末尾.bin" | .output = "レシピから 📦.exe"' \
  > "プロジェクト 🎁/レシピ.json"
check "build from a recipe with such names" "$PKGTOOL" build -q --recipe "プロジェクト 🎁/レシピ.json"
check "beside the recipe, the same bytes" cmp plain.exe "プロジェクト 🎁/レシピから 📦.exe"
check "extract with default names" "$PKGTOOL" extract -q "出力/パッケージ 📦.exe"
check "x86 default name" cmp "パッケージ 📦.x86.exe" prog32.exe
check "x64 default name" cmp "パッケージ 📦.x64.exe" prog64.exe
# Redirected output is the UTF-8 itself.
"$PKGTOOL" verify "出力/パッケージ 📦.exe" > verify.txt
check "verify names the package in UTF-8" grep -qxF "出力/パッケージ 📦.exe: sound; x86 setup program 21536 bytes; x64 setup program 21536 bytes" verify.txt
"$PKGTOOL" inspect "出力/パッケージ 📦.exe" > inspect.txt
check "inspect shows the strings in UTF-8" grep -qF '  LegalCopyright      "© 2026 株式会社"' inspect.txt
"$PKGTOOL" build -q -o out.exe --stub stub.exe --x86 "素材/ない 📦.exe" 2> stderr.txt
check "an error names the file" grep -qxF "pkgtool: --x86: 素材/ない 📦.exe: No such file or directory" stderr.txt

# --- the console shows the text, whatever its code page (437 under Wine) --------
# The emoji stay out: Wine's console shows characters beyond U+FFFF as U+FFFD.
if command -v script > /dev/null; then
  cp plain.exe "セットアップ©.exe"
  script -qec "'$PKGTOOL' verify 'セットアップ©.exe'" /dev/null > tty.txt
  checks=$((checks + 1))
  terminal_text tty.txt | grep -qF "セットアップ©.exe: sound" ||
    fail "the console does not show the name: $(terminal_text tty.txt | head -3)"
  script -qec "'$PKGTOOL' inspect plain.exe" /dev/null > tty.txt
  checks=$((checks + 1))
  terminal_text tty.txt | grep -qF '"© 2026 株式会社"' ||
    fail "the console does not show the version strings: $(terminal_text tty.txt | grep Legal)"
else
  echo "SKIP: the console: no script command here" >&2
fi

# --- UNC paths: \\server\share through Wine's mapping of UNC names -------------
mkdir -p share/project/assets "$WINE_HOME/prefix/dosdevices/unc/buildserver"
ln -s "$WORK/share" "$WINE_HOME/prefix/dosdevices/unc/buildserver/builds"
cp stub.exe prog32.exe share/
cp app.ico share/project/assets/
printf '{"stub": "../stub.exe", "x86": "../prog32.exe", "icon": "assets/app.ico", "output": "out/Setup.exe"}' \
  > share/project/setup.json
check "build with UNC paths" "$PKGTOOL" build -q -o '\\buildserver\builds\unc.exe' \
  --stub '\\buildserver\builds\stub.exe' --x86 '\\buildserver\builds\prog32.exe'
check "it lies on the share" "$PKGTOOL" verify -q share/unc.exe
check "a recipe on a share, its paths from its folder" "$PKGTOOL" build -q \
  --recipe '\\buildserver\builds\project\setup.json'
check "its output in a new folder beside it" "$PKGTOOL" verify -q share/project/out/Setup.exe
check "\\\\?\\UNC\\ paths" "$PKGTOOL" build -q -o '\\?\UNC\buildserver\builds\long-unc.exe' \
  --stub '\\?\UNC\buildserver\builds\stub.exe' --x86 '\\?\UNC\buildserver\builds\prog32.exe'
check "the same package" cmp share/long-unc.exe share/unc.exe
here="Z:${WORK//\//\\}"
check "a recipe by its \\\\?\\ path, its .. resolved" "$PKGTOOL" build -q \
  --recipe "\\\\?\\$here\\share\\project\\setup.json" -o "\\\\?\\$here\\share\\project\\..\\q.exe"
check "the package is there" "$PKGTOOL" verify -q share/q.exe
"$PKGTOOL" build -q -o '\\buildserver\builds\prog32.exe' --stub stub.exe --x86 share/prog32.exe 2> stderr.txt
check "an input on a share is still an input" grep -qF "is the same file as --x86" stderr.txt
"$PKGTOOL" inspect '\\nowhere\builds\x.exe' 2> stderr.txt
check "an unknown server is a missing file" grep -qxF 'pkgtool: \\nowhere\builds\x.exe: No such file or directory' stderr.txt

# --- a path beyond MAX_PATH reaches the system in its \\?\ form ---------------
# (Wine would take it either way; its trace shows which form it got.)
deep=$(printf 'a-folder-with-a-rather-long-name-%02d/' $(seq 1 9))
mkdir -p "$deep"
WINEPREFIX=$WINE_HOME/prefix WINEDEBUG=-all "$PKGTOOL_WINE" reg add 'HKCU\Software\Wine\Debug' /v RelayInclude /t REG_SZ \
  /d 'KERNEL32.CreateFileW;kernelbase.CreateFileW;KERNEL32.MoveFileExW;kernelbase.MoveFileExW' /f \
  > /dev/null 2>&1
PKGTOOL_WINEDEBUG=-all,+relay "$PKGTOOL" build -q -o "$WORK/${deep}long.exe" --stub stub.exe --x86 prog32.exe \
  2> relay.txt
check "a package in a deep folder" "$PKGTOOL" verify -q "${deep}long.exe"
long="\\\\?\\$here\\${deep//\//\\}long.exe"
traced=${long//\\/\\\\}  # as Wine's trace shows it: each backslash doubled, cut after 300
checks=$((checks + 1))
grep -a 'MoveFileExW' relay.txt | grep -qF "L\"${traced:0:250}" ||
  fail "$long did not reach MoveFileExW: $(grep -a MoveFileExW relay.txt | head -2)"

# --- an output another program holds open --------------------------------------
wine_wrapper holdopen "$HOLDOPEN"
cp plain.exe held.exe
./holdopen held.exe held.flag &
holder=$!
for _ in $(seq 1 100); do [[ -e held.flag ]] && break; sleep 0.1; done
checks=$((checks + 1))
if [[ -e held.flag ]]; then
  "$PKGTOOL" build -q -o held.exe --stub stub.exe --x86 prog32.exe 2> stderr.txt
  rc=$?
  [[ $rc -eq 3 ]] || fail "a held output: exit $rc, expected 3"
  grep -qxF "pkgtool: held.exe: another program has the file open or is running it, so Windows cannot replace it; it was left as it was (close that program and try again)" stderr.txt ||
    fail "a held output: $(cat stderr.txt)"
  cmp -s held.exe plain.exe || fail "a held output was changed"
  compgen -G 'held.exe.tmp-*' > /dev/null && fail "a held output: a temporary file was left behind"
else
  fail "holdopen.exe did not take hold of held.exe"
fi
rm -f held.flag
wait "$holder"
check "replaced once let go" "$PKGTOOL" build -q -o held.exe --stub stub.exe --x86 prog32.exe
check "with the new package" cmp -s held.exe share/unc.exe

# --- a package pkgtool.exe made launches under Wine --------------------------------
# The shipped Stub32.exe through the 32-bit Wine tier, as tools/demo.sh runs it;
# where this machine has none, the test-only Stub64.exe in the 64-bit prefix.
if [[ ! -f $STUB32 || ! -f $SETUPPROG/SetupProg-x64.exe ]]; then
  echo "SKIP: the launch: no Stub32.exe or stand-in setup programs given (make dist setupprog)" >&2
else
  # Its variables as TIER_WINE32_TIER, TIER_WINE64, ...: this run's own stay.
  eval "$(bash "$ROOT/tools/wine32-tier.sh" "${WINE32_DIR:-$ROOT/build/wine32}" | sed 's/^/TIER_/')"
  launcher=
  if [[ ${TIER_WINE32_TIER:-none} != none ]]; then
    export WINEPREFIX=$WINE_HOME/wow64 WINEARCH=win64 WINEDEBUG=-all
    export WINEDLLOVERRIDES='mscoree,mshtml=;winemenubuilder.exe=d'
    timeout 1800 "$TIER_WINE64" wineboot -i > /dev/null 2>&1 || fail "wineboot could not make a WoW64 prefix"
    "$PKGTOOL" build -q -o launch.exe --stub "$STUB32" --x86 "$SETUPPROG/SetupProg-x86.exe" \
      --x64 "$SETUPPROG/SetupProg-x64.exe"
    launcher="Stub32.exe (32-bit Wine, $TIER_WINE32_TIER)"
    loader=$TIER_WINE32
  elif [[ -f $STUB64 ]]; then
    export WINEPREFIX=$WINE_HOME/prefix
    # That stub takes the x86 slot on 64-bit Windows (as tools/demo.sh builds it).
    "$PKGTOOL" build -q -o launch.exe --stub "$STUB64" --x86 "$SETUPPROG/SetupProg-x64.exe" \
      --allow-any-program
    launcher="Stub64.exe (no 32-bit Wine here: ${TIER_WINE32_WHY:-})"
    loader=$PKGTOOL_WINE
  else
    echo "SKIP: the launch: no 32-bit Wine here (${TIER_WINE32_WHY:-}) and no Stub64.exe given" >&2
  fi
  if [[ -n $launcher ]]; then
    mkdir -p "$WINEPREFIX/drive_c/Downloads"
    cp launch.exe "$WINEPREFIX/drive_c/Downloads/Setup.exe"
    SETUPPROG_REPORT='C:\report.txt' "$loader" 'C:\Downloads\Setup.exe' /silent > /dev/null 2>&1
    rc=$?
    "${TIER_WINESERVER:-$WINESERVER}" -w 2> /dev/null || true
    checks=$((checks + 1))
    report=$WINEPREFIX/drive_c/report.txt
    if [[ $rc -ne 0 || ! -f $report ]]; then
      fail "the package made by pkgtool.exe did not start its setup program on $launcher (exit $rc)"
    else
      grep -qx 'arch=x64' "$report" && grep -qx 'arg=/silent' "$report" ||
        fail "the setup program received: $(cat "$report")"
      echo "the package made by pkgtool.exe ran its x64 setup program on $launcher" >&2
    fi
    [[ $WINEPREFIX == */wow64 ]] && "$TIER_WINESERVER" -k > /dev/null 2>&1
  fi
fi

echo "$checks checks, $failures failures"
[[ $failures -eq 0 ]]
