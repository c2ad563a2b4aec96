#!/usr/bin/env bash
# Builds and runs every test: the benchmarks, which print their figures; the
# fuzz targets of the registry file loader (20 seconds, and 10 for files
# that load, saved and loaded again), the CE image reader and the
# installation cabinet's reader (15 each); the whole suite built for
# 32-bit ARM and run under qemu-arm; sambrel.exe for the desktop and for the
# handheld; then the whole host suite under AddressSanitizer and UndefinedBehaviorSanitizer,
# with both images' checks, the emulator's and the Wine suite (four ways)
# among its tests.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh test
. scripts/need.sh
need cmake cmake
need ctest cmake
need ninja ninja-build
need clang++ clang
need arm-linux-gnueabi-g++ g++-arm-linux-gnueabi
need qemu-arm qemu-user
need x86_64-w64-mingw32-g++ g++-mingw-w64-x86-64

# The handheld's image first: the benchmarks and the host suite run it.
cmake --preset wince >/dev/null
cmake --build --preset wince

cmake --preset release >/dev/null
cmake --build --preset release
build/release/bench/sambrel_bench --benchmark_min_time=0.2

cmake --preset fuzz >/dev/null
cmake --build --preset fuzz
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# fuzz TARGET SECONDS CORPUS: new inputs go to a scratch corpus; a crash is
# kept in build/fuzz/ and fails the run.
fuzz() {
    mkdir "$work/$1"
    if ! "build/fuzz/fuzz/$1" -max_total_time="$2" -print_final_stats=1 -artifact_prefix="$PWD/build/fuzz/" \
            "$work/$1" "$3" >"$work/$1.log" 2>&1; then
        cat "$work/$1.log"
        exit 1
    fi
    echo "$1:"
    grep -E '^(Done|stat::number_of_executed_units)' "$work/$1.log"
}
fuzz regfile_fuzz 20 fuzz/corpus
fuzz regfile_roundtrip_fuzz 10 fuzz/corpus
fuzz image_fuzz 15 fuzz/image_corpus
fuzz cabinet_fuzz 15 fuzz/cabinet_corpus

cmake --preset arm >/dev/null
cmake --build --preset arm
ctest --preset arm

cmake --preset win32 >/dev/null
cmake --build --preset win32

cmake --preset sanitize >/dev/null
cmake --build --preset sanitize
ctest --preset sanitize
