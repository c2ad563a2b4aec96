#!/usr/bin/env bash
# Builds the handheld's two files, build/wince/sambrel.exe and
# build/wince/sambrel.cab, with only what they need (no host compiler,
# emulator or Wine), copies them to dist/ with their SHA-256 in
# dist/SHA256SUMS, and prints their paths, sizes and SHA-256. dist/ is
# committed: the build is reproducible, so a run that changes dist/ means
# that the sources or the build's tools changed, and the change is
# committed with them.
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

old=$(cd dist 2>/dev/null && sha256sum sambrel.cab sambrel.exe 2>/dev/null || true)
mkdir -p dist
for file in sambrel.cab sambrel.exe; do
    cp "build/wince/$file" "dist/$file.new"
    mv "dist/$file.new" "dist/$file"
done
(cd dist && sha256sum sambrel.cab sambrel.exe) > dist/SHA256SUMS.new
mv dist/SHA256SUMS.new dist/SHA256SUMS
for file in dist/sambrel.cab dist/sambrel.exe; do
    printf '%s  %s bytes  SHA-256 %s\n' "$PWD/$file" "$(stat -c %s "$file")" "$(sha256sum "$file" | cut -d' ' -f1)"
done
if [ "$old" = "$(cat dist/SHA256SUMS)" ]; then
    echo "dist/ is as it was: the build made the same bytes."
else
    echo "dist/ changed: commit dist/ with the change that made it, and the sizes above in docs/handheld.md's table of the files."
fi
