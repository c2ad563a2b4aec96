#!/usr/bin/env bash
# Installs the Debian packages that building and testing Sambrel need.
#   scripts/install-deps.sh run    what building and running sambrel needs
#   scripts/install-deps.sh test   that, and what the tests and benchmark need
set -euo pipefail

packages=(cmake ninja-build g++ make libncurses-dev binutils-mingw-w64-x86-64 gcc-mingw-w64-x86-64)
case "${1:-run}" in
    run) ;;
    test) packages+=(googletest libgtest-dev libbenchmark-dev clang libclang-rt-14-dev util-linux) ;;
    *) echo "usage: $0 run|test" >&2; exit 64 ;;
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
