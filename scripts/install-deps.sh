#!/usr/bin/env bash
# Installs the Debian packages that building and testing Sambrel need, on a
# Debian 12 machine as it comes new.
#   scripts/install-deps.sh run    what building and running sambrel needs
#   scripts/install-deps.sh wine   that, and sambrel.exe's cross compiler and
#                                  Wine under Xvfb with the fonts it draws with
#   scripts/install-deps.sh picture  that, and ImageMagick for docs/dialog.png
#   scripts/install-deps.sh handheld  only what the handheld's sambrel.exe
#                                  and sambrel.cab need (scripts/handheld.sh)
#   scripts/install-deps.sh test   all of it, and what the tests, benchmarks,
#                                  fuzzer, the ARM build and the handheld's
#                                  files need
#   scripts/install-deps.sh --list GROUP   prints the packages, installs nothing
# tests/tools_owned_test.sh checks that every program the build and the tests
# start comes from one of these packages or from the machine's image.
set -euo pipefail

list=0
if [ "${1:-}" = --list ]; then list=1; shift; fi
# windres compiles res/ on every build, and runs the mingw C preprocessor.
packages=(cmake ninja-build g++ make libncurses-dev binutils-mingw-w64-x86-64 gcc-mingw-w64-x86-64
          libunicorn-dev libmspack-dev libseccomp-dev python3)
case "${1:-run}" in
    run) ;;
    # No host compiler, emulator or Wine: the ARM cross compiler, windres
    # with the mingw preprocessor it runs (one thread model of it is
    # enough), the converter's Python and gcab.
    handheld) packages=(cmake ninja-build binutils-mingw-w64-x86-64 gcc-mingw-w64-x86-64-win32 python3
                        g++-arm-linux-gnueabi binutils-arm-linux-gnueabi gcab) ;;
    wine) packages+=(g++-mingw-w64-x86-64 wine wine64 xvfb fonts-wine) ;;
    picture) packages+=(g++-mingw-w64-x86-64 wine wine64 xvfb fonts-wine imagemagick) ;;
    test) packages+=(g++-mingw-w64-x86-64 wine wine64 xvfb fonts-wine imagemagick
                     googletest libgtest-dev libbenchmark-dev clang libclang-rt-14-dev llvm-14 util-linux
                     g++-arm-linux-gnueabi binutils-arm-linux-gnueabi qemu-user gcab cabextract acl attr) ;;
    *) echo "usage: $0 [--list] run|wine|picture|handheld|test" >&2; exit 64 ;;
esac
if [ $list -eq 1 ]; then printf '%s\n' "${packages[@]}"; exit 0; fi

missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo=()
[ "$(id -u)" -eq 0 ] || sudo=(sudo)
echo "Installing: ${missing[*]}" >&2
"${sudo[@]}" apt-get update -q
DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -q --no-install-recommends "${missing[@]}"
