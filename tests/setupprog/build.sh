#!/usr/bin/env bash
# Builds the stand-in setup programs into $1: SetupProg-x86.exe (32-bit) and
# SetupProg-x64.exe (64-bit), plus SetupProg-x86tag.exe, a 64-bit build that
# reports itself as the x86 program, for hosts that can run only 64-bit code.
set -euo pipefail
out=${1:?output folder}
src=$(dirname "${BASH_SOURCE[0]}")/SetupProg.c
mkdir -p "$out"
flags=(-municode -mwindows -Os -s -static)
i686-w64-mingw32-gcc "${flags[@]}" -DSETUPPROG_TAG='"x86"' "$src" -o "$out/SetupProg-x86.exe"
x86_64-w64-mingw32-gcc "${flags[@]}" -DSETUPPROG_TAG='"x64"' "$src" -o "$out/SetupProg-x64.exe"
x86_64-w64-mingw32-gcc "${flags[@]}" -DSETUPPROG_TAG='"x86"' "$src" -o "$out/SetupProg-x86tag.exe"
