#!/usr/bin/env bash
# Installs the Debian packages that building and testing Sambrel need.
#   scripts/install-deps.sh run    what building and running sambrel needs
#   scripts/install-deps.sh wine   that, and Wine under Xvfb for sambrel.exe
#   scripts/install-deps.sh test   all of it, and what the tests, benchmarks,
#                                  fuzzer and the ARM build need
set -euo pipefail

packages=(cmake ninja-build g++ make libncurses-dev binutils-mingw-w64-x86-64 gcc-mingw-w64-x86-64)
case "${1:-run}" in
    run) ;;
    wine) packages+=(wine wine64 xvfb) ;;
    test) packages+=(googletest libgtest-dev libbenchmark-dev clang libclang-rt-14-dev util-linux
                     wine wine64 xvfb g++-arm-linux-gnueabi qemu-user) ;;
    *) echo "usage: $0 run|wine|test" >&2; exit 64 ;;
esac

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
