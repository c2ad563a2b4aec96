#!/usr/bin/env bash
# Prints the size of sambrel.exe against its bound of 12 KiB.
# Usage: tests/wine/exe_size_test.sh [PATH/TO/sambrel.exe]
set -eu
exe=${1:-build/win32/sambrel.exe}
if [ ! -f "$exe" ]; then
    echo "SKIP: $exe is not built; build it first: cmake --preset win32 && cmake --build --preset win32"
    exit 77
fi
size=$(stat -c %s "$exe")
echo "sambrel.exe: $size bytes ($(( (size + 1023) / 1024 )) KiB; bound 12288 bytes)"
[ "$size" -le 12288 ]
