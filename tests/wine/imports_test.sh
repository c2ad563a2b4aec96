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
allowed="
ADVAPI32.dll RegCreateKeyExW
ADVAPI32.dll RegOpenKeyExW
ADVAPI32.dll RegEnumKeyExW
ADVAPI32.dll RegEnumValueW
ADVAPI32.dll RegSetValueExW
ADVAPI32.dll RegCloseKey
KERNEL32.dll GetLastError
KERNEL32.dll SetLastError
KERNEL32.dll FindResourceW
KERNEL32.dll LoadResource
KERNEL32.dll LockResource
KERNEL32.dll GetModuleHandleW
KERNEL32.dll ExitProcess
USER32.dll DialogBoxIndirectParamW
USER32.dll EndDialog
USER32.dll SetForegroundWindow
USER32.dll MessageBoxW
USER32.dll wsprintfW
USER32.dll wvsprintfW
msvcrt.dll wcslen
msvcrt.dll wcscmp
msvcrt.dll wcsncmp
msvcrt.dll memset
"
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
