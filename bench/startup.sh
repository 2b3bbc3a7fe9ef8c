#!/usr/bin/env bash
# The launcher's whole run under Wine, from its start until the setup program
# has started and ended, against the two things it cannot avoid: starting the
# already-unpacked program directly under Wine, and `xz -dc` of the very same
# LZMA stream on the host. For the 32-bit stub the decoder of the same width
# counts: Debian's i386 `xz -dc`, run natively (bench/i386-xz.sh), beside the
# host's 64-bit one. Also its peak memory (against the decoder's window
# + 4 MiB: the launcher streams the program to disk), and how its time grows
# with the size of the setup program.
#
#   bench/startup.sh [MiB ...]          default: 64
#   bench/startup.sh 64 256 1024        the scale run
#
# The setup program is a tiny real program that ends at once (QuickSetup.c)
# followed by generated data, half text-like and half random, in 1 MiB blocks
# (MakeSetupProgram.cpp). Windows maps only the program's own sections, so the
# data cost the launcher everything (read, checksum, unpack, write) and the
# started program only its file size.
#
# Environment: STUB (default build/win64/Stub64.exe, the 64-bit build of the
# same sources; STUB=dist/Stub32.exe times the shipped stub, through the
# 32-bit Wine tools/wine32-tier.sh chooses: natively where the kernel runs
# 32-bit code; where it is emulated by qemu, only the memory figure compares
# with the others, and the report says so),
# PKGTOOL (dist/pkgtool), BENCH_WORK (build/bench-startup, where the generated
# programs and packages are kept between runs), RUNS (timed runs per command,
# default 5; 3 above 256 MiB), LZMA_PREFIX (the liblzma the decoder timer is
# built against; default the one the stub's build links).
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
stub=$(realpath "${STUB:-$root/build/win64/Stub64.exe}")
pkgtool=$(realpath "${PKGTOOL:-$root/dist/pkgtool}")
work=${BENCH_WORK:-$root/build/bench-startup}
sizes=("$@")
[[ ${#sizes[@]} -gt 0 ]] || sizes=(64)

fail() { echo "startup: $*" >&2; exit 1; }
[[ -f $stub ]] || fail "no stub $stub (run make stub64)"
[[ -x $pkgtool ]] || fail "no pkgtool $pkgtool (run make dist)"
for tool in x86_64-w64-mingw32-gcc g++ jq xz awk /usr/bin/time; do
  command -v "$tool" >/dev/null || fail "$tool not found (run make deps)"
done
wine64=$(command -v wine64 || echo /usr/lib/wine/wine64)
wineserver=$(command -v wineserver || echo /usr/lib/wine/wineserver)
[[ -x $wine64 ]] || fail "Wine is not installed (run make deps)"

mkdir -p "$work"
work=$(cd "$work" && pwd)

# The stub's machine type decides how its packages are started: a 32-bit stub
# by Wine's 32-bit loader in a 64-bit prefix with WoW64, as on 64-bit Windows.
pe=$(od -An -t u4 -j 60 -N 4 "$stub" | tr -d ' ')
machine=$(od -An -t x2 -j $((pe + 4)) -N 2 "$stub" | tr -d ' ')
launcher=$wine64
prefix=$work/prefix
stubKind="64-bit stand-in"
tag=  # packages of the two stubs are kept apart
xz32=
xz32Why="the 64-bit stand-in's reference is the host's xz"
emulated=no
if [[ $machine == 014c ]]; then
  tier=$(bash "$root/tools/wine32-tier.sh" "${WINE32_DIR:-$root/build/wine32}") \
    || fail "the 32-bit Wine tier does not work (see above)"
  eval "$tier"
  [[ $WINE32_TIER != none ]] || fail "$stub is a 32-bit program, which Wine cannot run here: $WINE32_WHY"
  wine64=$WINE64 wineserver=$WINESERVER launcher=$WINE32 prefix=$work/prefix-wow64 tag=-32
  stubKind="32-bit, ${WINE32_TIER/-/ } Wine"
  if [[ $WINE32_TIER == emulated ]]; then
    emulated=yes
    # One processor model for every run: the emulated one with the carry-less
    # multiplication the checksum uses on current processors.
    export QEMU_CPU=max
  fi
  xz32=$(bash "$root/bench/i386-xz.sh" "${XZ32_DIR:-$root/build/i386-xz}") || xz32=
  xz32Why="the kernel runs no 32-bit code"
fi

# The stand-in program and the generator, rebuilt when their sources change.
# QuickSetup is a 64-bit program and goes into the x86 slot, the one slot the
# 64-bit test stub starts (it takes every Windows for 32-bit): hence
# --allow-any-program on every build below.
quick=$work/QuickSetup.exe
if [[ ! -f $quick || $root/bench/QuickSetup.c -nt $quick ]]; then
  x86_64-w64-mingw32-gcc -Os -nostdlib -mwindows -Wl,--entry=QuickSetupEntry \
    "$root/bench/QuickSetup.c" -lkernel32 -o "$quick"
fi
# The decoder alone, built against the liblzma the stub links, for the stub's
# own machine and started like it.
# (The 32-bit timer holds the packed stream and the whole program at once: it
# needs the 4 GiB a large-address-aware program gets on 64-bit Windows.)
timerFlags=()
if [[ $machine == 014c ]]; then
  lzmaArch=i686 timerCc=i686-w64-mingw32-gcc timerLoader=$launcher lzmaDefault=$root/build/win32/liblzma-i686
  timerFlags=(-Wl,--large-address-aware)
else
  lzmaArch=x86_64 timerCc=x86_64-w64-mingw32-gcc timerLoader=$wine64 lzmaDefault=$root/build/win64/liblzma-x86_64
fi
lzmaPrefix=${LZMA_PREFIX:-$(find "$(dirname "$stub")" -maxdepth 1 -type d -name "liblzma-$lzmaArch" | head -n 1)}
[[ -n $lzmaPrefix ]] || lzmaPrefix=$lzmaDefault
timer=$work/DecodeTimer-$lzmaArch.exe
if [[ -f $lzmaPrefix/lib/liblzma.a ]] && command -v "$timerCc" >/dev/null; then
  "$timerCc" -O2 -DLZMA_API_STATIC -I"$lzmaPrefix/include" "$root/bench/DecodeTimer.c" \
    "$lzmaPrefix/lib/liblzma.a" "${timerFlags[@]}" -o "$timer"
else
  rm -f "$timer"
fi
generator=$work/MakeSetupProgram
if [[ ! -x $generator || $root/bench/MakeSetupProgram.cpp -nt $generator ]]; then
  g++ -O2 -std=c++17 "$root/bench/MakeSetupProgram.cpp" -o "$generator"
fi

export WINEPREFIX=$prefix WINEARCH=win64 WINELOADER=$wine64 WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
unset DISPLAY WAYLAND_DISPLAY
if [[ ! -f $WINEPREFIX/system.reg ]]; then
  echo "creating the Wine prefix (once)" >&2
  "$wine64" wineboot -i >/dev/null 2>&1
  "$wineserver" -w
fi
# A persistent server: no run pays for starting it.
"$wineserver" -p 2>/dev/null || true  # one may be running already
trap '"$wineserver" -k >/dev/null 2>&1 || true' EXIT
"$wine64" cmd /c exit >/dev/null 2>&1 || true

# Wall seconds of one run of a command, its output discarded; fails with it.
wall() {
  local start end
  start=$(date +%s.%N)
  "$@" >/dev/null 2>&1 || fail "$* failed"
  end=$(date +%s.%N)
  awk -v s="$start" -v e="$end" 'BEGIN { printf "%.4f\n", e - s }'
}

declare -A launchMean
report=$work/report.md
{
  echo "| Setup program | Packed | Launcher run | Direct start | xz -dc, 64-bit | xz -dc, i386 | Overhead against 64-bit xz | Overhead against i386 xz | Stub's decoder alone (CPU) | Peak memory growth | Budget | Within | Load average |"
  echo "|---|---|---|---|---|---|---|---|---|---|---|---|---|"
} >"$report"

# Peak resident memory of a run, in KiB (the stub's process; the setup program
# is tiny).
peak() { /usr/bin/time -f %M "$launcher" "$1" 2>&1 >/dev/null | tail -n 1; }

# The Wine process's own footprint: the launcher on a package whose program is
# the stand-in alone.
base=$work/package-base$tag.exe
if [[ ! -f $base || $stub -nt $base ]]; then
  "$pkgtool" build -q -o "$base" --stub "$stub" --x86 "$quick" --allow-any-program
fi
basePeak=$(for i in 1 2 3; do peak "$base"; done | sort -n | head -n 1)

for mib in "${sizes[@]}"; do
  [[ $mib =~ ^[0-9]+$ && $mib -ge 1 ]] || fail "size $mib: whole MiB, at least 1"
  program=$work/setup-$mib.exe
  package=$work/package-$mib$tag.exe
  stream=$work/stream-$mib.lzma
  if [[ ! -f $program || $generator -nt $program || $quick -nt $program ]]; then
    echo "generating a $mib MiB setup program" >&2
    "$generator" "$quick" "$program" "$mib" 50
  fi
  if [[ ! -f $package || $program -nt $package || $stub -nt $package ]]; then
    echo "packing it (LZMA preset 6; about a minute per 64 MiB)" >&2
    "$pkgtool" build -q -o "$package" --stub "$stub" --x86 "$program" --allow-any-program
    rm -f "$stream"
  fi
  info=$("$pkgtool" inspect --json "$package")
  offset=$(jq -r '.header.x86.offset' <<<"$info")
  packed=$(jq -r '.header.x86.packedSize' <<<"$info")
  unpacked=$(jq -r '.header.x86.unpackedSize' <<<"$info")
  props=$(jq -r '.header.lzma.properties' <<<"$info")
  dict=$(jq -r '.header.lzma.dictionarySize' <<<"$info")
  if [[ ! -f $stream ]]; then
    # The package's own stream in the .lzma form xz reads: properties,
    # dictionary size, unpacked size, then the packed bytes as they are.
    {
      printf "$(printf '\\x%02x' "$props")"
      for shift in 0 8 16 24; do printf "$(printf '\\x%02x' $(((dict >> shift) & 255)))"; done
      for shift in 0 8 16 24 32 40 48 56; do printf "$(printf '\\x%02x' $(((unpacked >> shift) & 255)))"; done
      tail -c +"$((offset + 1))" "$package" | head -c "$packed"
    } >"$stream"
    cmp -s <(xz -dc "$stream") "$program" || fail "the package's stream does not unpack to the program"
  fi
  if [[ -n $xz32 && ! -f $stream.i386-checked ]]; then
    cmp -s <("$xz32" -dc "$stream") "$program" || fail "the i386 xz does not unpack the stream to the program"
    touch "$stream.i386-checked"
  fi

  runs=${RUNS:-$([[ $mib -gt 256 ]] && echo 3 || echo 5)}
  rounds=$work/rounds-$mib$tag.txt
  echo "timing $mib MiB, $runs rounds after a warm-up" >&2
  loadBefore=$(cut -d' ' -f1 /proc/loadavg)
  # Rounds alternate the commands, so that a machine whose speed drifts (a
  # shared virtual machine does) moves them all alike; each round gives its
  # own ratios, and the report takes their medians.
  wall "$launcher" "$package" >/dev/null
  wall "$wine64" "$program" >/dev/null
  wall xz -dc "$stream" >/dev/null
  [[ -z $xz32 ]] || wall "$xz32" -dc "$stream" >/dev/null
  : >"$rounds"
  for ((r = 1; r <= runs; r++)); do
    l=$(wall "$launcher" "$package")
    d=$(wall "$wine64" "$program")
    x=$(wall xz -dc "$stream")
    x32=0
    [[ -z $xz32 ]] || x32=$(wall "$xz32" -dc "$stream")
    echo "$l $d $x $x32" >>"$rounds"
  done
  loadAfter=$(cut -d' ' -f1 /proc/loadavg)
  # Nothing may be left behind in the temporary folder.
  leftovers=$(find "$WINEPREFIX/drive_c" -path '*Temp*' -type f -size +1M 2>/dev/null | wc -l)
  [[ $leftovers -eq 0 ]] || fail "the launcher left $leftovers large files in the temporary folder"

  # The median of the rounds' ratios against (direct start + the xz in
  # column $1).
  median() {
    awk -v c="$1" '$c > 0 { printf "%.6f\n", $1 / ($2 + $c) }' "$rounds" | sort -g |
      awk '{ q[NR] = $1 } END { if (NR) print NR % 2 ? q[(NR + 1) / 2] : (q[NR / 2] + q[NR / 2 + 1]) / 2 }'
  }
  ratio64=$(median 3)
  ratio32=$(median 4)
  read -r launch launchSd direct decode decode32 < <(awk '
    { sl += $1; sll += $1 * $1; sd += $2; sx += $3; s32 += $4 }
    END {
      m = sl / NR; v = NR > 1 ? (sll - NR * m * m) / (NR - 1) : 0
      printf "%f %f %f %f %f\n", m, (v > 0 ? sqrt(v) : 0), sd / NR, sx / NR, s32 / NR
    }' "$rounds")
  launchMean[$mib]=$launch
  peakNow=$(for i in 1 2; do peak "$package"; done | sort -n | tail -n 1)
  decoderAlone=n/a
  # (Under emulation it times qemu, not the decoder.)
  if [[ -f $timer && $emulated == no ]]; then
    decoderAlone="$("$timerLoader" "$timer" "Z:$stream" 3 2>"$work/timer.err" | tr -d '\r') s" \
      || decoderAlone="n/a ($(tr -d '\r' <"$work/timer.err" | head -n 1))"
  fi

  window=$((dict < unpacked ? dict : unpacked))
  awk -v mib="$mib" -v packed="$packed" -v launch="$launch" -v direct="$direct" -v decode="$decode" \
      -v decode32="$decode32" -v ls="$launchSd" -v r64="$ratio64" -v r32="$ratio32" -v peak="$peakNow" \
      -v base="$basePeak" -v window="$window" -v alone="$decoderAlone" -v emulated="$emulated" \
      -v load="$loadBefore to $loadAfter" 'BEGIN {
    growth = (peak - base) / 1024
    budget = window / 1048576 + 4
    mark = emulated == "yes" ? " (emulated)" : ""
    x32 = decode32 > 0 ? sprintf("%.3f s", decode32) : "n/a"
    o32 = r32 != "" ? sprintf("**%.3f**%s", r32, mark) : "n/a"
    printf "| %d MiB | %.1f MiB | %.3f s ± %.3f | %.3f s | %.3f s | %s | %.3f%s | %s | %s | %.1f MiB | %.1f MiB | %s | %s |\n",
      mib, packed / 1048576, launch, ls, direct, decode, x32, r64, mark, o32, alone,
      growth, budget, growth <= budget ? "yes" : "no", load
  }' >>"$report"
done

if [[ ${#sizes[@]} -gt 1 ]]; then
  first=${sizes[0]}
  {
    echo
    echo "| Setup program | Launcher run | Seconds per MiB | Against $first MiB |"
    echo "|---|---|---|---|"
    for mib in "${sizes[@]}"; do
      awk -v mib="$mib" -v t="${launchMean[$mib]}" -v f="$first" -v tf="${launchMean[$first]}" 'BEGIN {
        printf "| %d MiB | %.3f s | %.4f | %.2f |\n", mib, t, t / mib, (t / mib) / (tf / f)
      }'
    done
  } >>"$report"
fi
{
  echo "Stub: $(basename "$stub") ($stubKind), $(stat -c %s "$stub") bytes"
  [[ $machine != 014c ]] || echo "32-bit Wine: ${WINE32_TIER/-/ }, because $WINE32_WHY"
  if [[ $emulated == yes ]]; then
    echo "The launcher's times do not compare: qemu translates its 32-bit code, so they time the emulator;" \
      "only the memory figure compares (it bounds the stub's from above)."
  fi
  if [[ -n $xz32 ]]; then
    echo "i386 xz: $("$xz32" --version | head -n 1), Debian's i386 build, run natively"
  else
    echo "i386 xz: n/a, $xz32Why"
  fi
  echo "Wine base footprint (stand-in alone): $((basePeak / 1024)) MiB peak resident"
} >>"$report"
cat "$report"
