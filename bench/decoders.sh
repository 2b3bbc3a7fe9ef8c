#!/usr/bin/env bash
# The stub's liblzma built every way worth weighing (small or unrolled
# decoder, -Os or -O2, with or without LTO), each linked into a Stub32.exe of
# its own, and timed as 32-bit code on the native 32-bit Wine against
# Debian's i386 `xz -dc` of the same stream (bench/i386-xz.sh), so that the
# build can be chosen by the stub's size and the speed of the code that ships.
#
#   bench/decoders.sh [MiB]       default 64
#
# For each build:
#   - the size of Stub32.exe linked with it, and its room under 48 KiB;
#   - the decoder alone: DecodeTimer.c against the library under Wine, one
#     lzma_code call over the whole stream into a block already touched, CPU
#     time, best of ROUNDS, against the i386 xz's best CPU time (user + system)
#     in the same rounds;
#   - the launcher's whole run on a package of the same program, the median
#     of ROUNDS against (direct start + i386 xz -dc) taken in the same round,
#     by CPU time (user + system: what the work costs, whatever else the
#     machine runs) and by wall time (what a user waits, on a quiet machine).
# Rounds alternate every build with the references, so a machine whose speed
# drifts moves them all alike. The table goes to DECODERS_WORK/report.md.
#
# The program and its stream are bench/startup.sh's (BENCH_WORK, default
# build/bench-startup): run `STUB=dist/Stub32.exe bash bench/startup.sh MiB`
# first. Environment: DECODERS_WORK (default build/decoders: the builds, kept
# between runs), DECODERS (names to measure, default all), ROUNDS (default 5).
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
mib=${1:-64}
bench=${BENCH_WORK:-$root/build/bench-startup}
work=${DECODERS_WORK:-$root/build/decoders}
rounds=${ROUNDS:-5}
pkgtool=${PKGTOOL:-$root/dist/pkgtool}
fail() { echo "decoders: $*" >&2; exit 1; }
say() { echo "decoders: $*" >&2; }

program=$bench/setup-$mib.exe
stream=$bench/stream-$mib.lzma
[[ -f $program && -f $stream ]] \
  || fail "no $program or $stream: run STUB=dist/Stub32.exe bash bench/startup.sh $mib first"
[[ -x $pkgtool ]] || fail "no pkgtool $pkgtool (run make dist)"
mkdir -p "$work"
work=$(cd "$work" && pwd)

# name | decoder and liblzma CFLAGS (cmake/liblzma-mingw.sh's recipe) | the
# stub's own optimisation (STUB_OPTIMIZATION). Without LTO neither the library
# nor the stub is compiled for it.
common="-ffunction-sections -fdata-sections -fno-asynchronous-unwind-tables -fno-ident"
builds=(
  "small-Os-lto|small -Os -flto -ffat-lto-objects $common|-Os;-flto"
  "small-O2-lto|small -O2 -flto -ffat-lto-objects $common|-Os;-flto"
  "small-Os|small -Os $common|-Os"
  "small-O2|small -O2 $common|-Os"
  "unrolled-Os-lto|unrolled -Os -flto -ffat-lto-objects $common|-Os;-flto"
  "unrolled-O2-lto|unrolled -O2 -flto -ffat-lto-objects $common|-Os;-flto"
  "unrolled-Os|unrolled -Os $common|-Os"
  "unrolled-O2|unrolled -O2 $common|-Os"
)
shipped=$(sed -n 's/^recipe="\(.*\)"$/\1/p' "$root/cmake/liblzma-mingw.sh")

names=()
declare -A recipeOf size
for entry in "${builds[@]}"; do
  IFS='|' read -r name recipe optimisation <<<"$entry"
  [[ -z ${DECODERS:-} || " $DECODERS " == *" $name "* ]] || continue
  names+=("$name")
  recipeOf[$name]=$recipe
  tree=$work/$name
  if [[ ! -f $tree/Stub32.exe || $(cat "$tree/recipe" 2>/dev/null) != "$recipe|$optimisation" ]]; then
    say "building $name (liblzma $recipe; stub $optimisation)"
    rm -rf "$tree"
    cmake -S "$root" -B "$tree" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchain-i686-mingw.cmake" \
      -DLIBLZMA_MINGW_PREFIX="$work/liblzma-$name" -DLIBLZMA_RECIPE="$recipe" \
      -DSTUB_OPTIMIZATION="$optimisation" >"$work/$name.log" 2>&1 || { tail -n 20 "$work/$name.log" >&2; fail "$name: configure failed"; }
    cmake --build "$tree" -j"${JOBS:-2}" --target Stub32 >>"$work/$name.log" 2>&1 \
      || { tail -n 20 "$work/$name.log" >&2; fail "$name: build failed"; }
    echo "$recipe|$optimisation" >"$tree/recipe"
  fi
  size[$name]=$(stat -c %s "$tree/Stub32.exe")
  # A package of the program around this stub, and the decoder alone.
  if [[ ! -f $tree/package-$mib.exe || $program -nt $tree/package-$mib.exe ]]; then
    say "packing the $mib MiB program around $name's stub"
    "$pkgtool" build -q -o "$tree/package-$mib.exe" --stub "$tree/Stub32.exe" --x86 "$program"
  fi
  i686-w64-mingw32-gcc -O2 -DLZMA_API_STATIC -I"$work/liblzma-$name/include" "$root/bench/DecodeTimer.c" \
    "$work/liblzma-$name/lib/liblzma.a" -o "$tree/DecodeTimer.exe"
done
[[ ${#names[@]} -gt 0 ]] || fail "DECODERS names no build (${builds[*]%%|*})"

tier=$(bash "$root/tools/wine32-tier.sh" "${WINE32_DIR:-$root/build/wine32}") \
  || fail "the 32-bit Wine tier does not work (see above)"
eval "$tier"
case $WINE32_TIER in
  native-*) ;;
  *) fail "the builds are timed as 32-bit code running natively; here the 32-bit Wine is ${WINE32_TIER/-/ } ($WINE32_WHY)" ;;
esac
xz32=$(bash "$root/bench/i386-xz.sh" "${XZ32_DIR:-$root/build/i386-xz}") || fail "no i386 xz to compare with"

export WINEPREFIX=$work/prefix-wow64 WINEARCH=win64 WINELOADER=$WINE64 WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
unset DISPLAY WAYLAND_DISPLAY
if [[ ! -f $WINEPREFIX/system.reg ]]; then
  say "creating the Wine prefix (once)"
  "$WINE64" wineboot -i >/dev/null 2>&1
  "$WINESERVER" -w
fi
"$WINESERVER" -p 2>/dev/null || true
trap '"$WINESERVER" -k >/dev/null 2>&1 || true' EXIT
"$WINE64" cmd /c exit >/dev/null 2>&1 || true

# Appends "ROUND NAME-wall SECONDS" and "ROUND NAME-cpu SECONDS" for one run.
timed() {  # <round> <name> <command>...
  local round=$1 name=$2 out
  shift 2
  out=$(/usr/bin/time -f 'took %e %U %S' "$@" 2>&1 >/dev/null | tail -n 1)
  [[ $out == took* ]] || fail "$* failed: $out"
  awk -v r="$round" -v n="$name" '{ printf "%s %s-wall %s\n%s %s-cpu %.2f\n", r, n, $2, r, n, $3 + $4 }' \
    <<<"$out" >>"$times"
}

times=$work/times-$mib.txt  # lines: round what seconds
: >"$times"
load=$(cut -d' ' -f1 /proc/loadavg)
say "timing ${#names[@]} builds, $rounds rounds (load average $load)"
timed 0 warm-up "$WINE64" "$program"
for ((r = 1; r <= rounds; r++)); do
  for name in "${names[@]}"; do
    # Two decodes per process: the better one has no first touch of memory.
    echo "$r alone-$name $("$WINE32" "$work/$name/DecodeTimer.exe" "Z:$stream" 2 | tr -d '\r')" >>"$times"
  done
  timed "$r" direct "$WINE64" "$program"
  timed "$r" xz32 "$xz32" -dc "$stream"
  for name in "${names[@]}"; do
    timed "$r" "launch-$name" "$WINE32" "$work/$name/package-$mib.exe"
  done
done
loadAfter=$(cut -d' ' -f1 /proc/loadavg)

report=$work/report.md
{
  echo "| liblzma build | Stub32.exe | Room under 48 KiB | Decoder alone, CPU | Against i386 xz, CPU | Launcher run, CPU | Overhead against direct start + i386 xz, CPU | Launcher run, wall | Overhead, wall |"
  echo "|---|---|---|---|---|---|---|---|---|"
  for name in "${names[@]}"; do
    mark=
    [[ ${recipeOf[$name]} == "$shipped" ]] && mark=" (shipped)"
    awk -v name="$name$mark" -v size="${size[$name]}" -v want="$name" '
      { t[$1, $2] = $3; if ($1 > n) n = $1 }
      function best(what,   r, b) { b = -1; for (r = 1; r <= n; r++) if (b < 0 || t[r, what] < b) b = t[r, what]; return b }
      function median(a, k,   i, j, x) {
        for (i = 2; i <= k; i++) { x = a[i]; for (j = i - 1; j >= 1 && a[j] > x; j--) a[j + 1] = a[j]; a[j + 1] = x }
        return k % 2 ? a[(k + 1) / 2] : (a[k / 2] + a[k / 2 + 1]) / 2
      }
      function launch(kind) {
        for (r = 1; r <= n; r++) l[r] = t[r, "launch-" want "-" kind]
        return median(l, n)
      }
      function overhead(kind) {
        for (r = 1; r <= n; r++) q[r] = t[r, "launch-" want "-" kind] / (t[r, "direct-" kind] + t[r, "xz32-" kind])
        return median(q, n)
      }
      END {
        alone = best("alone-" want); ref = best("xz32-cpu")
        printf "| %s | %d bytes | %d bytes | %.2f s | %.3f | %.2f s | **%.3f** | %.3f s | %.3f |\n",
          name, size, 49152 - size, alone, alone / ref, launch("cpu"), overhead("cpu"), launch("wall"), overhead("wall")
      }' "$times"
  done
  awk '
    { t[$1, $2] = $3; if ($1 > n) n = $1 }
    END {
      b = -1; for (r = 1; r <= n; r++) if (b < 0 || t[r, "xz32-cpu"] < b) b = t[r, "xz32-cpu"]
      for (r = 1; r <= n; r++) { dc += t[r, "direct-cpu"]; xc += t[r, "xz32-cpu"]; dw += t[r, "direct-wall"]; xw += t[r, "xz32-wall"] }
      printf "| i386 xz -dc (reference; direct start + xz, means) | | | %.2f s | 1 | %.2f s + %.2f s | | %.3f s + %.3f s | |\n",
        b, dc / n, xc / n, dw / n, xw / n
    }' "$times"
  echo
  echo "$mib MiB program ($(stat -c %s "$stream") bytes of stream), $rounds rounds; 32-bit Wine: ${WINE32_TIER/-/ };" \
    "i386 xz: $("$xz32" --version | head -n 1); load average $load at the start, $loadAfter at the end."
} >"$report"
cat "$report"
