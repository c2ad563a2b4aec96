#!/usr/bin/env bash
# The program keeps to the handheld's rules, checked on its compiled
# objects: it calls the operating system only through the core library,
# allocates nothing, and has no global or static data and no start-up
# initialisers. With the source folder, its includes are read too: the
# program's rooms include one another, the core library's header and the
# resource ids, nothing else (in particular none of the simulator's
# internals); outside a platform's folder, nothing includes more of it
# than its door, platform/NAME/public/; and no room includes another that
# includes it, directly or around a loop.
# Usage: program_rules_test.sh PATH/TO/libsambrel_program.a [SOURCE_DIR]
set -u
lib=$1
src=${2:-}
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
    # Every include of the tree's own headers, FILE:LINE:#include "ROOM/...";
    # rooms are the top folders and each platform's folder.
    includes=$(cd "$src" && grep -rn --include='*.cpp' --include='*.h' --exclude-dir=build --exclude-dir=.git \
                   '#[[:space:]]*include[[:space:]]*"[a-z_]*/' . | sed 's@^\./@@')
    check "the product's includes of a platform from outside it go through its door" "$(awk -F'"' '{ split($2, p, "/")
        if (p[1] == "platform" && p[3] != "" && index($1, "platform/" p[2] "/") != 1 && p[3] != "public" &&
            $1 !~ /^(tests|fuzz|bench)\//) print }' <<<"$includes")"
    check "no rooms include one another around a loop" "$(awk -F'"' '{ split($1, f, ":"); a = room(f[1]); b = room($2); if (a != b) print a, b }
        function room(path, p) { return split(path, p, "/") > 2 && p[1] == "platform" ? p[1] "/" p[2] : p[1] }' <<<"$includes" |
        tsort 2>&1 >/dev/null)"
fi
finish
