#!/usr/bin/env bash
# Builds the stand-in setup programs into $1: SetupProg-x86.exe (32-bit) and
# SetupProg-x64.exe (64-bit). Each reports the width it was built for.
set -euo pipefail
out=${1:?output folder}
src=$(dirname "${BASH_SOURCE[0]}")/SetupProg.c
mkdir -p "$out"
flags=(-std=c99 -Wall -Wextra -municode -mwindows -Os -s -static)
i686-w64-mingw32-gcc "${flags[@]}" "$src" -o "$out/SetupProg-x86.exe"
x86_64-w64-mingw32-gcc "${flags[@]}" "$src" -o "$out/SetupProg-x64.exe"
