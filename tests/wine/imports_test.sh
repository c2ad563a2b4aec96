#!/usr/bin/env bash
# sambrel.exe imports only the core-library operations the program calls,
# and what its entry point and platform layer need; nothing else.
# Usage: imports_test.sh PATH/TO/sambrel.exe
set -u
exe=$1
NEED_STATUS=77
. "$(dirname "$0")/../lib.sh"
need x86_64-w64-mingw32-objdump binutils-mingw-w64-x86-64
if [ ! -f "$exe" ]; then
    echo "SKIP: $exe is not built; build it first: cmake --preset win32 && cmake --build --preset win32"
    exit 77
fi
# The core library's operations, each from its desktop library, and what
# the entry point and the platform layer add.
allowed="$(coredll_operations | awk '{ print $4 ".dll", $2 }')
KERNEL32.dll SetLastError
KERNEL32.dll LockResource
KERNEL32.dll GetModuleHandleW
KERNEL32.dll ExitProcess"
imports=$(x86_64-w64-mingw32-objdump -p "$exe" | awk '
    /DLL Name:/ { dll = $3; next }
    /^\t[0-9a-f]+\t +[0-9]+ +[A-Za-z_]/ && dll != "" { print dll, $3 }
    /^$/ { }')
while read -r dll name; do
    [ -z "$dll" ] && continue
    if grep -qx "$dll $name" <<<"$allowed"; then
        passed=$((passed + 1))
    else
        fail "unexpected import" "$dll $name"
    fi
done <<<"$imports"
[ -n "$imports" ] || fail "no imports read from $exe"
echo "$(wc -l <<<"$imports") imports:"
sed 's/^/    /' <<<"$imports"
finish
