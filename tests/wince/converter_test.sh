#!/usr/bin/env bash
# The converter from an ARM object to a CE image refuses what a StrongARM
# handheld cannot load or run, each time naming the symbol or section, and
# two builds of sambrel.exe, and of sambrel.cab, give the same bytes, which
# are those committed in dist/, of the sizes the owner's guide gives.
# Usage: converter_test.sh [PATH/TO/sambrel.exe]
set -u
. "$(dirname "$0")/lib.sh"

# refused NAME SOURCE-TEXT WORDS [FLAGS...]: the object is refused with a
# message holding WORDS, and no image is written.
refused() {
    local name=$1 text=$2 words=$3
    shift 3
    local ext=cpp
    [[ $text == *".text"* ]] && ext=s
    printf '%s\n' "$text" > "$work/$name.$ext"
    if ! guest "$name" "$work/$name.$ext" "$@" 2>"$work/$name.cc"; then
        fail "$name" "does not compile: $(head -3 "$work/$name.cc")"
    elif convert "$name"; then
        fail "$name" "converted"
    elif ! grep -qF -- "$words" "$work/$name.err"; then
        fail "$name" "message '$(cat "$work/$name.err")' does not say '$words'"
    elif [ -e "$work/$name.exe" ]; then
        fail "$name" "an image was written"
    else
        pass "$name: $(cut -d: -f3- "$work/$name.err")"
    fi
}

entry='extern "C" int SambrelStartup(void *h, void *p, void *c, int s)'
refused thumb "$entry { return s + 1; }" "Thumb code" -mthumb -march=armv4t
refused armv5te "$entry { return s + 1; }" "built for ARMv5TE" -march=armv5te
refused undefined "extern \"C\" int puts(const char *); $entry { return puts(\"x\"); }" "undefined symbol puts"
refused not-an-ordinal "extern \"C\" int Other() __asm__(\"coredll_ordinal_99\"); $entry { return Other(); }" "undefined symbol coredll_ordinal_99"
refused constructor "struct Early { Early(); }; Early early; $entry { return 0; }" "static constructors"
refused relocation "$(printf '    .text\n    .global SambrelStartup\nSambrelStartup:\n    mov pc, lr\n    .reloc ., R_ARM_PREL31, SambrelStartup\n    .word 0\n')" "relocation R_ARM_PREL31"
guest_ld_flags="" refused no-entry "extern \"C\" int Other(void) { return 0; }" "entry point SambrelStartup"

# A program that calls the core library converts, and the same source
# built twice gives the same bytes.
printf '%s\n' '#include "platform/wince/public/coredll_imports.h"' \
    "$entry { return Cewcslen(u\"COM5:\") + (unsigned)s; }" > "$work/ok.cpp"
if guest ok1 "$work/ok.cpp" && convert ok1 && guest ok2 "$work/ok.cpp" && convert ok2 && cmp -s "$work/ok1.exe" "$work/ok2.exe"; then
    pass "small program converts, twice the same"
else
    fail "small program" "$(cat "$work/ok1.err" "$work/ok2.err" 2>/dev/null)"
fi

# sambrel.exe and sambrel.cab, built again from scratch in another folder,
# with another time zone and umask: the same bytes. And the copies
# committed in dist/, which owners download, are what this build makes, as
# dist/SHA256SUMS says: a change to the sources or to Debian's cross
# compiler, windres or gcab that changes the bytes must refresh dist/ in the
# same commit.
if [ -n "${1:-}" ]; then
    if [ ! -f "$1" ]; then
        echo "SKIP: $1 is not built; build it first: cmake --preset wince && cmake --build --preset wince"
    elif (umask 077 && export TZ=Pacific/Kiritimati &&
          cmake -S "$top" -B "$work/again" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$top/cmake/wince-arm.cmake" \
              -DCMAKE_BUILD_TYPE=MinSizeRel -DSAMBREL_PLATFORM=wince -DSAMBREL_TESTS=OFF &&
          cmake --build "$work/again") >"$work/again.log" 2>&1; then
        built=$(dirname "$1")
        for file in sambrel.exe sambrel.cab; do
            if cmp -s "$built/$file" "$work/again/$file"; then
                pass "$file is reproducible ($(sha256sum <"$built/$file" | cut -c1-16)...)"
            else
                fail "$file reproducible" "a second build of $file differs"
            fi
            if cmp -s "$built/$file" "$top/dist/$file"; then
                pass "dist/$file is this build's"
            else
                fail "dist/$file is this build's" "it differs from $built/$file: refresh dist/ with ./scripts/handheld.sh and commit it"
            fi
        done
        sums=$(cd "$top/dist" && sha256sum sambrel.cab sambrel.exe 2>&1)
        check "dist/SHA256SUMS lists both files" "$(diff <(echo "$sums") "$top/dist/SHA256SUMS" 2>&1 |
            sed -n 's/^[<>] //p' | sed '1i refresh dist/ with ./scripts/handheld.sh and commit it; the lines that differ:')"
    else
        fail reproducible "the second build failed: $(tail -5 "$work/again.log")"
    fi
fi

# The owner's guide gives each file's size in bytes, for a download checked
# in Windows' Properties where no checksum tool is at hand: the sizes of the
# files in dist/.
for file in sambrel.cab sambrel.exe; do
    size=$(stat -c %s "$top/dist/$file" | sed ':a; s/\B[0-9]\{3\}\>/,&/; ta')
    if grep -qF "| [\`dist/$file\`](../dist/$file) | $size bytes |" "$top/docs/handheld.md"; then
        pass "docs/handheld.md gives dist/$file's size, $size bytes"
    else
        fail "docs/handheld.md gives dist/$file's size" "dist/$file has $size bytes: say so in the guide's table of the files"
    fi
done
finish
