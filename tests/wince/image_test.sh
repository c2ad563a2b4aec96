#!/usr/bin/env bash
# The handheld's sambrel.exe as an independent reader (LLVM's llvm-readobj)
# sees it: an ARM-state Windows CE 2.10 GUI program at 0x00010000, importing
# only COREDLL.dll, by ordinal and only the operations the program uses,
# with HIGHLOW base relocations, a valid checksum, QUESTIONDIALOG among its
# resources, and at most 8 KiB. Beside it, sambrel.cab as cabextract and a
# reader of the Windows CE setup file, written here from the format's public
# description, see it: the setup file first, the image as file 1, installed
# to \Program Files\Sambrel with a Start menu shortcut, and nothing else,
# under the names the owner's guide (docs/handheld.md) says they will see.
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

# The setup file, field by field, against cabextract's notes on the format
# ("Windows CE installation cabinet (.CAB) file format", doc/wince_cab_format
# in its sources) and CabWiz's documentation of the INF file it is made
# from; what the owner will see (the names in Programs and Remove Programs,
# the folder) against the owner's guide, which says it word for word.
subsystem=$(sed -n 's/^ *MajorSubsystemVersion: //p; s/^ *MinorSubsystemVersion: //p' <<<"$dump" | paste -sd.)
check "setup file" "$(/usr/bin/python3 - "$work/SAMBREL.000" "$(dirname "$0")/../../docs/handheld.md" "$subsystem" <<'PY'
import re, struct, sys
d = open(sys.argv[1], "rb").read()
guide = open(sys.argv[2], encoding="utf-8").read()
problems = []
def expect(name, got, want):
    if got != want:
        problems.append("%s: %r, expected %r" % (name, got, want))
def shown(label):  # the guide's row "| label | text |", the text without its quotes
    row = re.search(r"^\| %s \| (.+?) \|$" % re.escape(label), guide, re.M)
    if not row:
        problems.append("docs/handheld.md has no row '| %s | ... |'" % label)
        return None
    return row.group(1).strip('"')
used = bytearray(len(d))  # which bytes the header places something in
def place(at, n, what):
    if at + n > len(d):
        problems.append("%s (%d bytes at %d) runs past the end" % (what, n, at))
    elif any(used[at:at + n]):
        problems.append("%s (%d bytes at %d) overlaps something else" % (what, n, at))
    used[at:at + n] = b"\1" * min(n, max(0, len(d) - at))
def cstring(at, length, what):
    place(at, length, what)
    raw = d[at:at + length]
    if len(raw) != length or not raw.endswith(b"\0") or b"\0" in raw[:-1]:
        problems.append("%s: %d bytes at %d are not one terminated string" % (what, length, at))
    return raw[:-1].decode("ascii", "replace")

# The fixed header, 100 bytes; integers little-endian.
place(0, 100, "the header")
(sig, unknown4, length, unknown12, unknown16, arch, min_major, min_minor, max_major, max_minor,
 min_build, max_build) = struct.unpack_from("<4s11I", d, 0)
counts = struct.unpack_from("<6H", d, 48)
offsets = struct.unpack_from("<6I", d, 60)
app_at, app_len, prov_at, prov_len, unsup_at, unsup_len, unknown96, unknown98 = struct.unpack_from("<8H", d, 84)
expect("signature", sig, b"MSCE")
expect("length (offset 8)", length, len(d))
# "Unknown purpose, usually 0" at 4, 12, 96 and 98; "usually 1" at 16.
expect("fields of unknown purpose at 4, 12, 16, 96, 98", (unknown4, unknown12, unknown16, unknown96, unknown98), (0, 0, 1, 0, 0))
# Appendix A: 0 is "no specific architecture"; the image runs on every ARM
# core the list names (ARM 720, 820, 920, StrongARM, ARM 7TDMI).
expect("processor (0: no specific architecture)", arch, 0)
# The lowest version is the image's own subsystem version: the loader
# refuses it on anything older.
expect("lowest Windows CE version", "%d.%d" % (min_major, min_minor), sys.argv[3])
# "or 0 to indicate no restriction", for each; CabWiz's [CEDevice]: an
# absent key (VersionMax, BuildMin, BuildMax) means no check.
expect("highest version, lowest and highest builds (0: no restriction)", (max_major, max_minor, min_build, max_build), (0, 0, 0, 0))
app, provider = cstring(app_at, app_len, "APPNAME"), cstring(prov_at, prov_len, "PROVIDER")
# Remove Programs lists "<provider> <name>" (the Pocket PC SDK's sample
# INF), the provider at most 30 characters and the name at most 40; the
# guide quotes it, and it reads with no word twice.
listed = "%s %s" % (provider, app)
expect("Remove Programs", listed, shown("Remove Programs"))
words = [w.lower() for w in listed.split()]
expect("words said twice in '%s'" % listed, sorted({w for w in words if words.count(w) > 1}), [])
expect("provider and name within 30 and 40 characters", (len(provider) <= 30, len(app) <= 40), (True, True))
expect("UNSUPPORTED platforms (none)", unsup_len, 0)

def section(index, name, entry):
    at = offsets[index]
    for i in range(counts[index]):
        start = at
        at = entry(at)
        place(start, at - start, "%s entry %d" % (name, i + 1))
strings, dirs, files, links = {}, {}, [], []
def string_entry(at):
    sid, n = struct.unpack_from("<HH", d, at)
    if sid in strings or sid == 0:
        problems.append("string ID %d again, or 0" % sid)
    strings[sid] = d[at + 4:at + 4 + n].rstrip(b"\0").decode("ascii", "replace")
    return at + 4 + n
def string_ids(at, n):  # a path: string IDs ending in 0
    ids = struct.unpack_from("<%dH" % (n // 2), d, at)
    if not ids or ids[-1] != 0 or 0 in ids[:-1]:
        problems.append("path of string IDs at %d does not end in its only 0" % at)
    return list(ids[:-1])
def dir_entry(at):
    did, n = struct.unpack_from("<HH", d, at)
    dirs[did] = string_ids(at + 4, n)
    return at + 4 + n
def file_entry(at):
    fid, did, unknown, flags, n = struct.unpack_from("<HHHIH", d, at)
    # The unknown word is "usually the same as the file ID".
    expect("file %d's word of unknown purpose" % fid, unknown, fid)
    files.append((fid, did, flags, d[at + 12:at + 12 + n].rstrip(b"\0").decode("ascii", "replace")))
    return at + 12 + n
def link_entry(at):
    lid, unknown, base, target, kind, n = struct.unpack_from("<6H", d, at)
    links.append((base, target, kind, string_ids(at + 12, n)))
    return at + 12 + n
section(0, "STRINGS", string_entry)
section(1, "DIRS", dir_entry)
section(2, "FILES", file_entry)
expect("REGHIVES and REGKEYS (the program writes its own entry)", (counts[3], counts[4]), (0, 0))
section(5, "LINKS", link_entry)
expect("every byte placed by the header, none twice", used.count(0), 0)
path = lambda ids: "\\".join(strings.get(i, "?%d" % i) for i in ids)

# One folder, the guide's, under %CE1% (Appendix B: \Program Files on a
# Handheld PC).
folder = re.sub(r"^\\Program Files(?=\\)", "%CE1%", shown("Folder") or "")
expect("folders", [path(p) for p in dirs.values()], [folder])
# One file: file ID 1 is the member ending in .001; flags bit 1 "do not skip
# this file", bit 30 "ignore file date and always overwrite target" (which
# excludes bit 29), and no bit the notes do not know.
known = 0x80000000 | 0x40000000 | 0x20000000 | 0x10000000 | 0x400 | 0x10 | 0x2 | 0x1
expect("files: ID, folder, name", [(f[0], path(dirs.get(f[1], [])), f[3]) for f in files],
       [(1, folder, "sambrel.exe")])
for fid, _, flags, _ in files:
    expect("file %d's flags: do not skip, always overwrite, nothing unknown" % fid,
           (bool(flags & 0x2), bool(flags & 0x40000000), bool(flags & 0x20000000), flags & ~known), (True, True, False, 0))
# One shortcut, to file 1 (link type 1: a file), in %CE11% (Appendix B:
# \Windows\Programs, the Start menu's Programs on a Handheld PC), named as
# the guide says Programs shows it: a shortcut is a .lnk file, whose
# extension the Start menu does not show. Its name is a string of its own,
# no part of a folder's path.
expect("shortcuts: folder, file, type, name", [(l[0], l[1], l[2], path(l[3])) for l in links],
       [(11, 1, 1, "%s.lnk" % shown("Start → Programs"))])
in_dirs = {i for p in dirs.values() for i in p}
expect("shortcut names sharing a string with a folder", [path(l[3]) for l in links if set(l[3]) & in_dirs], [])
print("\n".join(problems))
PY
)"
echo "sambrel.cab: $(stat -c %s "$cab") bytes; its setup file $(stat -c %s "$work/SAMBREL.000") bytes"

finish
