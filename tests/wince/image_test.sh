#!/usr/bin/env bash
# The handheld's sambrel.exe as an independent reader (LLVM's llvm-readobj)
# sees it: an ARM-state Windows CE 2.10 GUI program at 0x00010000, importing
# only COREDLL.dll, by ordinal and only the operations the program uses,
# with HIGHLOW base relocations, a valid checksum, QUESTIONDIALOG among its
# resources, and at most 8 KiB. Beside it, sambrel.cab as cabextract and a
# reader of the Windows CE setup file, written here from the format's public
# description, see it: the setup file first, the image as file 1, installed
# to \Program Files\Sambrel with a Start menu shortcut, and nothing else.
# Usage: image_test.sh PATH/TO/sambrel.exe
set -u
exe=$1
cab=$(dirname "$exe")/sambrel.cab
NEED_STATUS=77
. "$(dirname "$0")/../lib.sh"
need llvm-readobj-14 llvm-14
need /usr/bin/python3 python3-minimal
need cabextract cabextract
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
check "only HIGHLOW relocations (ABSOLUTE pads a block)" "$(grep -E '^\s+Type: ' <<<"$(sed -n '/^BaseReloc/,/^]/p' <<<"$dump")" | grep -vE 'HIGHLOW|ABSOLUTE')"

# Imports: one library, by ordinal, each one of the core library's table.
libraries=$(sed -n 's/^  Name: //p' <<<"$(sed -n '/^Import {/,/^}/p' <<<"$dump")" | sort -u)
check "imports from COREDLL.dll only" "$( [ "$libraries" = COREDLL.dll ] || echo "$libraries")"
symbols=$(sed -n 's/^  Symbol: \(.*\)$/\1/p' <<<"$dump")
check "imports by ordinal only" "$(grep -vE '^ *\([0-9]+\)$' <<<"$symbols" | sed '/^$/d')"
check "imports only the core library's ordinals" "$(grep -oE '[0-9]+' <<<"$symbols" |
    grep -vxF -f <(coredll_operations | cut -d' ' -f1) | sed 's/^/not one of the core library'"'"'s: ordinal /')"
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

# The cabinet, as cabextract lists and extracts it: the setup file first,
# then the others in descending order of their numbers, each dated
# 2000-01-01 so that builds agree.
if [ ! -f "$cab" ]; then
    echo "SKIP (cabinet): $cab is not built; build it first: cmake --preset wince && cmake --build --preset wince"
    finish
    exit
fi
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
listing=$(cabextract -l "$cab" 2>&1)
echo "$listing" | sed -n '/^ *File size/,/^$/p'
members=$(sed -n 's/^ *[0-9]* | \([0-9.]* [0-9:]*\) | \(.*\)$/\2 \1/p' <<<"$listing")
check "cabinet members" "$( [ "$members" = "SAMBREL.000 01.01.2000 00:00:00"$'\n'"SAMBREL.001 01.01.2000 00:00:00" ] || echo "$members")"
check "cabextract extracts it" "$(cabextract -q -d "$work" "$cab" 2>&1)"
check "SAMBREL.001 is sambrel.exe" "$(cmp "$work/SAMBREL.001" "$exe" 2>&1)"

# The setup file, field by field, as the format's description lays it out.
check "setup file" "$(/usr/bin/python3 - "$work/SAMBREL.000" <<'PY'
import struct, sys
d = open(sys.argv[1], "rb").read()
problems = []
def expect(name, got, want):
    if got != want:
        problems.append("%s: %r, expected %r" % (name, got, want))
def cstring(at, length):
    raw = d[at:at + length]
    if len(raw) != length or not raw.endswith(b"\0"):
        problems.append("string of %d bytes at %d is not terminated inside the file" % (length, at))
    return raw[:-1].decode("ascii", "replace")
(sig, unknown1, length, unknown2, unknown3, arch, min_major, min_minor, max_major, max_minor,
 min_build, max_build) = struct.unpack_from("<4s11I", d, 0)
counts = struct.unpack_from("<6H", d, 48)
offsets = struct.unpack_from("<6I", d, 60)
app_at, app_len, prov_at, prov_len, unsup_at, unsup_len, unknown4, unknown5 = struct.unpack_from("<8H", d, 84)
expect("signature", sig, b"MSCE")
expect("length", length, len(d))
expect("unknown fields 4, 12, 16, 96, 98", (unknown1, unknown2, unknown3, unknown4, unknown5), (0, 0, 1, 0, 0))
expect("processor (0: any)", arch, 0)
expect("lowest Windows CE version", (min_major, min_minor), (2, 10))
expect("highest version and builds (0: no bound)", (max_major, max_minor, min_build, max_build), (0, 0, 0, 0))
expect("counts: strings, dirs, files, hives, keys, links", counts, (2, 1, 1, 0, 0, 1))
expect("name", cstring(app_at, app_len), "Sambrel")
expect("provider", cstring(prov_at, prov_len), "The Sambrel authors")
expect("unsupported platforms", unsup_len, 0)
strings, at = {}, offsets[0]
for _ in range(counts[0]):
    sid, n = struct.unpack_from("<HH", d, at)
    strings[sid] = cstring(at + 4, n)
    at += 4 + n
def path_of_strings(at, n):
    ids = struct.unpack_from("<%dH" % (n // 2), d, at)
    if not ids or ids[-1] != 0:
        problems.append("path at %d does not end in 0" % at)
    return "\\".join(strings.get(i, "?%d" % i) for i in ids[:-1])
dirs, at = {}, offsets[1]
for _ in range(counts[1]):
    did, n = struct.unpack_from("<HH", d, at)
    dirs[did] = path_of_strings(at + 4, n)
    at += 4 + n
files, at = [], offsets[2]
for _ in range(counts[2]):
    fid, did, unknown, flags, n = struct.unpack_from("<HHHIH", d, at)
    files.append((fid, dirs.get(did), unknown, hex(flags), cstring(at + 12, n)))
    at += 12 + n
# File 1 is SAMBREL.001; it goes to %CE1% (\Program Files), not skipped
# (bit 1) and replacing an earlier copy whatever its date (bit 30).
expect("files", files, [(1, "%CE1%\\Sambrel", 1, hex(0x40000002), "sambrel.exe")])
links, at = [], offsets[5]
for _ in range(counts[5]):
    lid, unknown, base, target, kind, n = struct.unpack_from("<6H", d, at)
    links.append((base, target, kind, path_of_strings(at + 12, n)))
    at += 12 + n
# In %CE11% (\Windows\Programs on a Handheld PC: the Start menu), to file 1
# (type 1, a file).
expect("links", links, [(11, 1, 1, "Sambrel")])
for name, o in zip(("STRINGS", "DIRS", "FILES", "REGHIVES", "REGKEYS", "LINKS"), offsets):
    if o > len(d):
        problems.append("%s at %d, past the end" % (name, o))
print("\n".join(problems))
PY
)"
echo "sambrel.cab: $(stat -c %s "$cab") bytes; its setup file $(stat -c %s "$work/SAMBREL.000") bytes"

finish
