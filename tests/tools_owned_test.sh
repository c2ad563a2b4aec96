#!/usr/bin/env bash
# Every program that the build and the tests start is owned by a Debian
# package that a new machine already has (scripts/image-packages.txt) or
# that scripts/install-deps.sh installs, directly or as a dependency. A
# program installed by hand, on this machine only, fails here rather than
# on the next new machine.
# Usage: tools_owned_test.sh [INSTALL_SCRIPT]
set -u
top=$(cd "$(dirname "$0")/.." && pwd)
install=${1:-$top/scripts/install-deps.sh}
. "$top/tests/lib.sh"

# The programs: the compilers and emulators the toolchain files and presets
# name, what CMake looks for by name, and every `need TOOL` in the scripts.
tools() {
    local f prefix
    for f in "$top"/cmake/*.cmake; do
        prefix=$(sed -n 's/^set(TOOLCHAIN_PREFIX \([^ )]*\))/\1/p' "$f")
        sed -n 's/^set(CMAKE_\(C_COMPILER\|CXX_COMPILER\|RC_COMPILER\|CROSSCOMPILING_EMULATOR\) \([^ )]*\).*/\2/p' "$f" |
            sed "s/\${TOOLCHAIN_PREFIX}/$prefix/"
    done
    python3 -c '
import json, sys
for p in json.load(open(sys.argv[1]))["configurePresets"]:
    for k, v in p.get("cacheVariables", {}).items():
        if k.endswith("_COMPILER"): print(v)' "$top/CMakePresets.json"
    # find_program(VAR NAMES name ... [PATHS dir NO_DEFAULT_PATH]): that name, or dir/name.
    grep -rhE 'find_program\([A-Z0-9_]+ NAMES ' --include=CMakeLists.txt "$top" |
        sed -E 's/.*NAMES ([^ )]+).*PATHS ([^ )]+) NO_DEFAULT_PATH.*/\2\/\1/; s/.*NAMES ([^ )]+).*/\1/'
    grep -rhE '^\s*need [^ ]+ [^ ]+' "$top/scripts" "$top/tests" | awk '{ print $2 }'
}

# The packages allowed: the image's, and install-deps.sh's with everything
# they depend on (pre-depends and depends; not recommends).
# allowed_by GROUP: the packages a machine has after install-deps.sh GROUP.
allowed_by() {
    {
        grep -v '^#' "$top/scripts/image-packages.txt"
        # shellcheck disable=SC2046
        apt-cache depends --recurse --no-recommends --no-suggests --no-conflicts --no-breaks \
            --no-replaces --no-enhances $(bash "$install" --list "$1") 2>/dev/null | grep -v '^ ' | grep -v '^<'
    } | sed 's/:.*//' | sort -u
}
allowed=$(mktemp)
handheld_allowed=$(mktemp)
trap 'rm -f "$allowed" "$handheld_allowed"' EXIT
allowed_by test > "$allowed"
allowed_by handheld > "$handheld_allowed"
for group in test handheld; do
    [ "$(bash "$install" --list $group | wc -l)" -gt 0 ] || { echo "FAIL $install --list $group lists nothing"; exit 1; }
done

owner() {
    local path candidates=() p
    path=$(command -v "$1") || return 1
    candidates=("$path" "$(readlink -f "$path")")
    for p in "${candidates[@]}"; do
        candidates+=("${p/#\/usr\/bin\//\/bin\/}" "${p/#\/bin\//\/usr\/bin\/}")
    done
    for p in "${candidates[@]}"; do
        dpkg -S "$p" 2>/dev/null | grep -v '^diversion' | head -n 1 | sed 's/:.*//; s/, .*//' | grep . && return 0
    done
    return 1
}

for tool in $(tools | sort -u); do
    if ! command -v "$tool" >/dev/null 2>&1; then
        fail "$tool" "not on the PATH after scripts/install-deps.sh test"
    elif ! package=$(owner "$tool"); then
        fail "$tool" "$(command -v "$tool") belongs to no Debian package"
    elif ! grep -qxF "$package" "$allowed"; then
        fail "$tool" "its package $package is neither in the image nor installed by ${install#"$top"/}"
    else
        pass "$tool ($package)"
    fi
done

# scripts/handheld.sh installs the handheld group alone: whatever it needs
# comes from that group (or the image).
for tool in $(grep -hE '^\s*need [^ ]+ [^ ]+' "$top/scripts/handheld.sh" | awk '{ print $2 }'); do
    if ! package=$(owner "$tool"); then
        fail "handheld: $tool" "not on the PATH, or in no Debian package"
    elif ! grep -qxF "$package" "$handheld_allowed"; then
        fail "handheld: $tool" "its package $package is not installed by ${install#"$top"/} handheld"
    else
        pass "handheld: $tool ($package)"
    fi
done

finish --some
