#!/usr/bin/env bash
# Builds the handheld's two files, build/wince/sambrel.exe and
# build/wince/sambrel.cab, with only what they need (no host compiler,
# emulator or Wine), and prints their paths, sizes and SHA-256.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh handheld
NEED_GROUP=handheld
. scripts/need.sh
need cmake cmake
need ninja ninja-build
need arm-linux-gnueabi-gcc gcc-arm-linux-gnueabi
need arm-linux-gnueabi-g++ g++-arm-linux-gnueabi
need arm-linux-gnueabi-ld binutils-arm-linux-gnueabi
need x86_64-w64-mingw32-windres binutils-mingw-w64-x86-64
need x86_64-w64-mingw32-gcc gcc-mingw-w64-x86-64-win32
need /usr/bin/python3 python3-minimal
need gcab gcab
need sha256sum coreutils
if ! log=$(cmake --preset wince 2>&1 && cmake --build --preset wince 2>&1); then
    echo "$log" >&2
    exit 1
fi

for file in build/wince/sambrel.cab build/wince/sambrel.exe; do
    printf '%s  %s bytes  SHA-256 %s\n' "$PWD/$file" "$(stat -c %s "$file")" "$(sha256sum "$file" | cut -d' ' -f1)"
done
