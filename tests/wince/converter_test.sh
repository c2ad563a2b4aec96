#!/usr/bin/env bash
# The converter from an ARM object to a CE image refuses what a StrongARM
# handheld cannot load or run, each time naming the symbol or section, and
# two builds of sambrel.exe, and of sambrel.cab, give the same bytes.
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

# sambrel.exe itself, built again from scratch elsewhere: the same bytes.
if [ -n "${1:-}" ]; then
    if [ ! -f "$1" ]; then
        echo "SKIP: $1 is not built; build it first: cmake --preset wince && cmake --build --preset wince"
    elif cmake -S "$top" -B "$work/again" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$top/cmake/wince-arm.cmake" \
            -DCMAKE_BUILD_TYPE=MinSizeRel -DSAMBREL_PLATFORM=wince -DSAMBREL_TESTS=OFF >"$work/again.log" 2>&1 &&
         cmake --build "$work/again" >>"$work/again.log" 2>&1; then
        if cmp -s "$1" "$work/again/sambrel.exe"; then pass "sambrel.exe is reproducible"; else fail reproducible "a second build differs"; fi
        cab=$(dirname "$1")/sambrel.cab
        if cmp -s "$cab" "$work/again/sambrel.cab"; then
            pass "sambrel.cab is reproducible ($(sha256sum <"$cab" | cut -c1-16)...)"
        else
            fail "cabinet reproducible" "a second build of sambrel.cab differs"
        fi
    else
        fail reproducible "the second build failed: $(tail -5 "$work/again.log")"
    fi
fi
finish
