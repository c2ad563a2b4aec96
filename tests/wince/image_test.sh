#!/usr/bin/env bash
# The handheld's sambrel.exe as an independent reader (LLVM's llvm-readobj)
# sees it: an ARM-state Windows CE 2.10 GUI program at 0x00010000, importing
# only COREDLL.dll, by ordinal and only the operations the program uses,
# with HIGHLOW base relocations, a valid checksum, QUESTIONDIALOG among its
# resources, and at most 8 KiB.
# Usage: image_test.sh PATH/TO/sambrel.exe
set -u
exe=$1
NEED_STATUS=77
. "$(dirname "$0")/../lib.sh"
need llvm-readobj-14 llvm-14
need /usr/bin/python3 python3-minimal
if [ ! -f "$exe" ]; then
    echo "SKIP: $exe is not built; build it first: cmake --preset wince && cmake --build --preset wince"
    exit 77
fi
# has NAME PATTERN: the readobj output holds a line matching PATTERN.
has() { if grep -qE -- "$2" <<<"$dump"; then check "$1" ""; else check "$1" "no line like '$2'"; fi; }

dump=$(llvm-readobj-14 --file-headers --sections --coff-imports --coff-basereloc --coff-resources "$exe" 2>&1)
has machine        'Machine: IMAGE_FILE_MACHINE_ARM \(0x1C0\)'
has subsystem      'Subsystem: IMAGE_SUBSYSTEM_WINDOWS_CE_GUI \(0x9\)'
has os-major       'MajorOperatingSystemVersion: 2$'
has os-minor       'MinorOperatingSystemVersion: 10$'
has subsys-major   'MajorSubsystemVersion: 2$'
has subsys-minor   'MinorSubsystemVersion: 10$'
has image-base     'ImageBase: 0x10000$'
has dialog-type    'Type: DIALOG \(ID 5\)'
has dialog-name    'Name: QUESTIONDIALOG'
has dialog-lang    'Language: \(ID 1033\)'
has relocations    'Type: HIGHLOW'
check "only HIGHLOW relocations" "$(grep -E '^\s+Type: ' <<<"$(sed -n '/^BaseReloc/,/^]/p' <<<"$dump")" | grep -v HIGHLOW)"

# Imports: one library, by ordinal, each one the program uses.
allowed="56 57 60 63 65 455 456 459 460 461 464 516 532 533 690 691 702 858 1047"
libraries=$(sed -n 's/^  Name: //p' <<<"$(sed -n '/^Import {/,/^}/p' <<<"$dump")" | sort -u)
check "imports from COREDLL.dll only" "$( [ "$libraries" = COREDLL.dll ] || echo "$libraries")"
symbols=$(sed -n 's/^  Symbol: \(.*\)$/\1/p' <<<"$dump")
check "imports by ordinal only" "$(grep -vE '^ *\([0-9]+\)$' <<<"$symbols" | sed '/^$/d')"
bad=""
for o in $(grep -oE '[0-9]+' <<<"$symbols"); do
    grep -qw "$o" <<<"$allowed" || bad+="ordinal $o is not one the program uses"$'\n'
done
check "imports only the listed ordinals" "${bad%$'\n'}"
check "imports something" "$( [ -n "$symbols" ] || echo none)"

# The checksum, computed here as the PE format defines it.
check checksum "$(/usr/bin/python3 - "$exe" <<'PY'
import struct, sys
data = open(sys.argv[1], "rb").read()
pe = struct.unpack_from("<I", data, 0x3C)[0]
at = pe + 24 + 64
stored = struct.unpack_from("<I", data, at)[0]
padded = data + b"\0" * (len(data) % 2)
total = 0
for i in range(0, len(padded), 2):
    if i in (at, at + 2):
        continue
    total += padded[i] | padded[i + 1] << 8
    total = (total & 0xFFFF) + (total >> 16)
total = ((total & 0xFFFF) + (total >> 16) + len(data)) & 0xFFFFFFFF
if total != stored or stored == 0:
    print("stored 0x%08x, computed 0x%08x" % (stored, total))
PY
)"

size=$(stat -c %s "$exe")
echo "sambrel.exe (Windows CE): $size bytes (bound 8192)"
check "at most 8 KiB" "$( [ "$size" -le 8192 ] || echo "$size bytes")"

finish
