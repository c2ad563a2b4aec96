#!/usr/bin/env bash
# The program keeps to the handheld's rules, checked on its compiled
# objects: it calls the operating system only through the core library,
# allocates nothing, and has no global or static data and no start-up
# initialisers. With the source folder, the product's structure is checked
# too, as scripts/rooms.py reads it: the program's rooms include one
# another, the core library's header and the resource ids, nothing else;
# outside a platform's folder, the product includes nothing of it but its
# door, platform/NAME/public/, and of the simulator's at most three headers;
# no unit (a header and its source), folder or room includes another that
# includes it, around a loop; no function is over 80 lines. With a C++
# compiler, the core library's table is shown to guard itself: changed in a
# copy, it does not compile, or its other readers refuse it.
# Usage: program_rules_test.sh PATH/TO/libsambrel_program.a [SOURCE_DIR [CXX]]
set -u
lib=$1
src=${2:-}
cxx=${3:-}
. "$(dirname "$0")/lib.sh"
need nm binutils
sanitizer='^(__asan|__ubsan|__sanitizer|__stack_chk|_GLOBAL_OFFSET_TABLE_|__tls_get_addr)'

# Every name the program uses but does not define.
own=$(nm -C --defined-only "$lib" | awk 'NF >= 3 { $1 = ""; $2 = ""; sub(/^  /, ""); print }' | sort -u)
undefined=$(nm -C --undefined-only "$lib" | awk 'NF >= 2 { $1 = ""; sub(/^ /, ""); print }' | sort -u |
    grep -vE "$sanitizer" | grep -vxF -f <(printf '%s\n' "$own"))
check "calls only the core library" "$(grep -vE '^coredll::|^(memset|memcpy)$' <<<"$undefined" | sed '/^$/d')"
check "allocates nothing" "$(grep -E 'operator new|operator delete|malloc|calloc|realloc|free$' <<<"$undefined")"

# Data: none of it writable or zero-filled, no common symbols, no
# initialisers run before WinMain.
data=$(nm -C --defined-only "$lib" | awk 'NF >= 3 && $2 ~ /^[BbDdCGgSsVv]$/ { $1 = ""; print }' |
    grep -vE '(__asan|__ubsan|\.L|__sanitizer)' | sed '/^\s*$/d')
check "has no global or static data" "$data"
check "has no start-up initialisers" "$(nm "$lib" | grep -E '_GLOBAL__sub_I|\.init_array|\.ctors')"
check "has no exceptions" "$(nm -C "$lib" | grep -E '__cxa_throw|__gxx_personality|_Unwind_Resume')"

if [ -n "$src" ]; then
    check "includes only the core library, the resource ids and its own rooms" \
        "$(cd "$src" && grep -Hn '#[[:space:]]*include' app/* ui/* ports/* |
           grep -vE '#[[:space:]]*include "(platform/coredll\.h|res/resource\.h|(app|ui|ports)/[a-z_]+\.h)"')"
    need /usr/bin/python3 python3-minimal
    rooms() { /usr/bin/python3 "$src/scripts/rooms.py" "$@"; }
    includes=$(rooms includes)
    check "the product's includes of a platform from outside it go through its door" "$(awk '{ split($2, p, "/")
        if (p[1] == "platform" && p[3] != "" && index($1, "platform/" p[2] "/") != 1 && p[3] != "public") print }' <<<"$includes")"
    check "the product outside the simulator uses at most three of its headers" "$(awk '
        $2 ~ /^platform\/sim\// && $1 !~ /^platform\/sim\// { print $2 }' <<<"$includes" | sort -u |
        awk '{ all = all "\n" $0 } END { if (NR > 3) print NR " headers:" all }')"
    check "no include cycles between units, folders or rooms" "$(rooms cycles)"
    check "no function of the product is over 80 lines" "$(rooms functions |
        awk '$1 > 80 { split($2, at, ":"); print at[1], $3, "(" $1 " lines, line " at[2] ")" }')"
fi

if [ -n "$src" ] && [ -n "$cxx" ]; then
    work=$(mktemp -d)
    trap 'rm -rf "$work"' EXIT
    # guarded NAME SED BUILD READERS: a copy of the table changed by SED
    # compiles or fails (BUILD), and the converter and the shell tests read
    # it or refuse it (READERS; - where either will do).
    guarded() {
        local copy=$work/$1 built read problems=""
        mkdir -p "$copy/tests" "$copy/scripts"
        cp -r "$src/platform" "$copy/" && cp "$src/tests/lib.sh" "$copy/tests/" && cp "$src/scripts/need.sh" "$copy/scripts/"
        sed -i "$2" "$copy/platform/coredll_operations.h"
        built=fails
        echo '#include "platform/coredll.h"' | "$cxx" -std=c++17 -fsyntax-only -x c++ -I"$copy" -I"$copy/platform/sim/public" - \
            2>/dev/null && built=compiles
        [ "$built" = "$3" ] || problems+="it $built. "
        for reader in converter shell; do
            read=refuse
            case $reader in
            converter) /usr/bin/python3 "$copy/platform/wince/elf2ce.py" --help ;;
            shell) (. "$copy/tests/lib.sh" && coredll_operations) ;;
            esac >/dev/null 2>&1 && read=read
            [ "$4" = - ] || [ "$read" = "$4" ] || problems+="the $reader reader: ${read}s it. "
        done
        check "the operations table, $1: $3, $4" "$problems"
    }
    guarded "as it is" '' compiles read
    guarded "an ordinal twice" 's/^COREDLL_OPERATION(516, GetLastError/COREDLL_OPERATION(455, GetLastError/' fails -
    guarded "a name twice" 's/^COREDLL_OPERATION(63, wcslen,/COREDLL_OPERATION(63, wcscmp,/' fails -
    guarded "a row more than it counts" 's/^COREDLL_OPERATION(63, wcslen,.*/&\nCOREDLL_OPERATION(535, GetTickCount, infallible, KERNEL32, forwarded, DWORD, (), ())/' fails refuse
    guarded "a row's first fields on two lines" 's/^COREDLL_OPERATION(63, wcslen,/COREDLL_OPERATION(63,\n wcslen,/' compiles refuse
    guarded "a row indented" 's/^COREDLL_OPERATION(63, wcslen,/ &/' compiles refuse
fi
finish
