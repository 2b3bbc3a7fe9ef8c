#!/usr/bin/env bash
# The core's unit tests as 32-bit Linux code: every size, offset and wrap
# computation with a 32-bit size_t, and the checksum's 32-bit code paths.
#
#   tools/unit32.sh [gtest filter]
#
# Built by Debian's i686 cross compiler (cmake/toolchain-i686-linux.cmake) and
# run natively where the kernel runs 32-bit code, else under qemu-i386 user
# mode. Nothing is installed on the machine: the i386 liblzma and zlib are
# unpacked from Debian's packages into LIBS_DIR, GoogleTest is built there from
# /usr/src/googletest, and the test program is linked statically.
#
# Environment: BUILD_DIR (default build/unit32), LIBS_DIR (default
# build/i386-libs, kept by make clean), BUILD_TYPE (default RelWithDebInfo),
# JOBS (default 2).
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."

BUILD_DIR=${BUILD_DIR:-build/unit32}
LIBS_DIR=${LIBS_DIR:-build/i386-libs}
BUILD_TYPE=${BUILD_TYPE:-RelWithDebInfo}
JOBS=${JOBS:-2}
filter=${1:-*}

say() { printf 'unit32: %s\n' "$*" >&2; }
die() { say "$*"; exit 1; }

command -v i686-linux-gnu-g++ >/dev/null || die "no i686-linux-gnu-g++ (package g++-i686-linux-gnu)"
[[ -f /usr/src/googletest/CMakeLists.txt ]] || die "no /usr/src/googletest (package googletest)"

mkdir -p "$BUILD_DIR" "$LIBS_DIR"
BUILD_DIR=$(cd "$BUILD_DIR" && pwd)
LIBS_DIR=$(cd "$LIBS_DIR" && pwd)
toolchain=$PWD/cmake/toolchain-i686-linux.cmake
libs_root=$LIBS_DIR/root
gtest_root=$LIBS_DIR/googletest
start=$SECONDS

# The i386 static libraries, unpacked from the -dev packages (the shared
# libraries are never loaded: the tests link statically). A folder is only
# named root once it is complete, so an interrupted run starts over.
if [[ ! -d $libs_root ]]; then
  say "fetching the i386 liblzma and zlib"
  rm -rf "$LIBS_DIR/debs" "$libs_root.partial"
  bash tools/debian-fetch.sh debs "$LIBS_DIR/debs" i386 liblzma-dev zlib1g-dev
  for deb in "$LIBS_DIR"/debs/*.deb; do dpkg-deb -x "$deb" "$libs_root.partial"; done
  mv "$libs_root.partial" "$libs_root"
fi

# The stamp is written last: a build or install cut short starts over.
if [[ ! -f $gtest_root/.complete ]]; then
  say "building GoogleTest and GoogleMock for i686"
  rm -rf "$LIBS_DIR/googletest-build" "$gtest_root"
  cmake -S /usr/src/googletest -B "$LIBS_DIR/googletest-build" \
    -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DI386_LIBS_ROOT="$libs_root" -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_INSTALL_PREFIX="$gtest_root" -DBUILD_GMOCK=ON >/dev/null
  cmake --build "$LIBS_DIR/googletest-build" -j"$JOBS"
  cmake --install "$LIBS_DIR/googletest-build" >/dev/null
  rm -rf "$LIBS_DIR/googletest-build"
  touch "$gtest_root/.complete"
fi

# Whether this kernel runs 32-bit code: run a tiny i386 program that only
# exits. Where it cannot, the tests run under qemu's i386 user mode (no
# binfmt registration, nothing changed on the machine).
probe=$BUILD_DIR/i386-probe
if [[ ! -x $probe ]]; then
  printf '%s\n' 'void _start(void) { __asm__ volatile("movl $1, %eax; xorl %ebx, %ebx; int $0x80"); }' \
    >"$BUILD_DIR/i386-probe.c"
  i686-linux-gnu-gcc -nostdlib -static -Os -o "$probe" "$BUILD_DIR/i386-probe.c"
fi
if "$probe" 2>/dev/null; then
  runner=()
  how="natively"
else
  command -v qemu-i386-static >/dev/null \
    || die "this kernel does not run 32-bit code and there is no qemu-i386-static (package qemu-user-static)"
  runner=(qemu-i386-static -L /usr/i686-linux-gnu)
  how="under qemu-i386"
fi

# A cache without build files (a configure that failed) is configured again.
# Tests are listed when ctest runs, not after the link, so that building never
# needs to run 32-bit code.
if [[ ! -f $BUILD_DIR/CMakeCache.txt || ! -f $BUILD_DIR/Makefile ]]; then
  emulator=$(IFS=';'; echo "${runner[*]}")
  cmake -S . -B "$BUILD_DIR" -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
    -DI386_LIBS_ROOT="$libs_root" -DGTEST_I386_ROOT="$gtest_root" \
    -DCMAKE_BUILD_TYPE="$BUILD_TYPE" -DSTUB_UNIT_TESTS_ONLY=ON \
    -DCMAKE_GTEST_DISCOVER_TESTS_DISCOVERY_MODE=PRE_TEST \
    -DCMAKE_CROSSCOMPILING_EMULATOR="$emulator" >/dev/null
fi
prepared=$((SECONDS - start))
cmake --build "$BUILD_DIR" -j"$JOBS" --target unit_tests
built=$((SECONDS - start - prepared))

tests=$BUILD_DIR/tests/unit_tests
# ELF class 1 (32-bit) and machine 3 (i386), without relying on file(1).
[[ $(od -An -tx1 -j4 -N1 "$tests") == " 01" && $(od -An -tx1 -j18 -N2 "$tests") == " 03 00" ]] \
  || die "$tests is not i386 code"

run_start=$SECONDS
"${runner[@]}" "$tests" --gtest_filter="$filter" --gtest_brief=1
# The checksum picks its folding path by CPUID. Under emulation, run its tests
# again on a processor model without PCLMULQDQ/SSE4.1, so the choice falls the
# other way too.
if [[ ${#runner[@]} -gt 0 && $filter == "*" ]]; then
  say "checksum tests on a processor without PCLMULQDQ/SSE4.1"
  "${runner[0]}" -cpu qemu32 "${runner[@]:1}" "$tests" --gtest_filter='*Crc32*' --gtest_brief=1
fi
say "32-bit unit tests passed $how: libraries and configure ${prepared}s, build ${built}s, run $((SECONDS - run_start))s"
