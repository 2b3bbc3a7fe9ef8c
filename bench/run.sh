#!/usr/bin/env bash
# Builds the benchmarks in Release and runs them; each prints its figures as
# ratios against a reference measured in the same run.
#
#   bench/run.sh [MiB to unpack, default 64] [MiB to checksum, default 256]
#
# BENCH_BUILD names the build folder (default build/bench). The first run
# compresses the unpacking's test payload once and keeps it there.
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${BENCH_BUILD:-$root/build/bench}

cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build" -j"${JOBS:-2}" --target bench_unpack bench_crc >/dev/null

status=0
# The size every package pays.
for image in "$root/dist/Stub32.exe" "$root/build/win32/Stub32.exe"; do
  if [[ -f $image ]]; then
    size=$(stat -c %s "$image")
    printf 'stub %s: %d bytes (%.1f KiB), target <= 49152 bytes: %s\n' "${image#"$root"/}" "$size" \
      "$(awk -v s="$size" 'BEGIN { print s / 1024 }')" "$([[ $size -le 49152 ]] && echo met || echo NOT met)"
    break
  fi
done
"$build/bench/bench_unpack" "${1:-64}" || status=1
"$build/bench/bench_crc" "${2:-256}" || status=1
exit $status
