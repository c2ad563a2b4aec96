#!/usr/bin/env python3
"""Turns one relocatable ARM ELF object into a Windows CE executable image.

    elf2ce.py --entry SYMBOL --resources FILE.res -o OUT.exe IN.o

The object is the whole program, merged with `ld -r`. Its sections are laid
out at the image base 0x00010000; every 32-bit address becomes a base
relocation; every undefined symbol must be `coredll_ordinal_N`, an operation
of COREDLL.dll imported by ordinal N (if the placed code refers to it: an
operation declared and never called is not imported), reached through a
three-word stub that jumps through the import table. The .res file (as windres writes it) becomes
the .rsrc directory. Nothing in the output depends on the time or the
machine: two builds of the same input give the same bytes.

It refuses, naming the symbol or section: Thumb code, code built for ARMv5 or
later (the handhelds' StrongARM is ARMv4), undefined symbols other than the
COREDLL ordinals, static constructors or destructors, sections it cannot
place and relocation types it does not handle.
"""

import argparse
import os
import re
import struct
import sys

IMAGE_BASE = 0x00010000
SECTION_ALIGN = 0x1000
FILE_ALIGN = 0x200


def read_operations(path):
    """The core-library operations a program may import, by ordinal: every
    row of the core library's table, as many as it says it has, or none."""
    with open(path, encoding="utf-8") as table:
        text = table.read()
    rows = re.findall(r"^COREDLL_\w*\(.*", text, re.M)
    ordinals = {}
    for row in rows:
        read = re.match(r"COREDLL_(?:OPERATION|VARIADIC)\((\d+), (\w+),", row)
        if not read:
            sys.exit("elf2ce: %s: a row it cannot read: %s" % (path, row))
        ordinals[int(read.group(1))] = read.group(2)
    count = re.search(r"^#define COREDLL_OPERATIONS_COUNT (\d+)$", text, re.M)
    if not count or int(count.group(1)) != len(rows) or len(ordinals) != len(rows):
        sys.exit("elf2ce: %s: %d rows of %d ordinals, where COREDLL_OPERATIONS_COUNT says %s" %
                 (path, len(rows), len(ordinals), count.group(1) if count else "nothing"))
    return ordinals


COREDLL_ORDINALS = read_operations(os.path.join(os.path.dirname(os.path.abspath(__file__)), "..",
                                                "coredll_operations.h"))
IMPORT_SYMBOL = re.compile(r"^coredll_ordinal_([0-9]+)$")

SHT_SYMTAB, SHT_NOBITS, SHT_REL, SHT_RELA = 2, 8, 9, 4
SHT_INIT_ARRAY, SHT_FINI_ARRAY, SHT_PREINIT_ARRAY = 14, 15, 16
SHT_ARM_ATTRIBUTES = 0x70000003
SHF_WRITE, SHF_ALLOC, SHF_EXECINSTR = 0x1, 0x2, 0x4
SHN_UNDEF, SHN_ABS, SHN_COMMON = 0, 0xFFF1, 0xFFF2
STT_FUNC = 2

R_ARM_NONE, R_ARM_PC24, R_ARM_ABS32, R_ARM_REL32 = 0, 1, 2, 3
R_ARM_CALL, R_ARM_JUMP24, R_ARM_V4BX = 28, 29, 40
RELOCATION_NAMES = {
    4: "R_ARM_LDR_PC_G0", 10: "R_ARM_THM_CALL", 25: "R_ARM_BASE_PREL", 26: "R_ARM_GOT_BREL",
    30: "R_ARM_THM_JUMP24", 38: "R_ARM_TARGET1", 42: "R_ARM_PREL31", 43: "R_ARM_MOVW_ABS_NC",
    44: "R_ARM_MOVT_ABS", 96: "R_ARM_GOT_PREL",
}

# Tag_CPU_arch values up to ARMv4T; from 3 (ARMv5T) on the StrongARM cannot
# run the code.
CPU_ARCH_NAMES = ["pre-ARMv4", "ARMv4", "ARMv4T", "ARMv5T", "ARMv5TE", "ARMv5TEJ", "ARMv6",
                  "ARMv6KZ", "ARMv6T2", "ARMv6K", "ARMv7", "ARMv6-M", "ARMv6S-M", "ARMv7E-M",
                  "ARMv8-A"]
LAST_SUPPORTED_ARCH = 2

# Stub per import: ldr ip, [pc] ; ldr pc, [ip] ; .word <import table slot>
STUB_WORDS = (0xE59FC000, 0xE59CF000)
STUB_SIZE = 12


class Refused(Exception):
    pass


def align(value, to):
    return (value + to - 1) // to * to


class Section:
    def __init__(self, index, name, kind, flags, addralign, data, link, info):
        self.index, self.name, self.kind, self.flags = index, name, kind, flags
        self.addralign, self.data, self.link, self.info = max(addralign, 1), data, link, info
        self.rva = None  # where it lands in the image


class Symbol:
    def __init__(self, name, value, info, shndx):
        self.name, self.value, self.shndx = name, value, shndx
        self.kind = info & 0xF


def read_elf(data):
    if data[:4] != b"\x7fELF":
        raise Refused("not an ELF object")
    if data[4] != 1 or data[5] != 1:
        raise Refused("not a 32-bit little-endian ELF object")
    e_type, e_machine = struct.unpack_from("<HH", data, 16)
    if e_machine != 40:
        raise Refused("not an ARM object (machine %d)" % e_machine)
    if e_type != 1:
        raise Refused("not a relocatable object: link it with `ld -r`")
    e_shoff, = struct.unpack_from("<I", data, 32)
    e_shentsize, e_shnum, e_shstrndx = struct.unpack_from("<HHH", data, 46)
    headers = []
    for i in range(e_shnum):
        headers.append(struct.unpack_from("<IIIIIIIIII", data, e_shoff + i * e_shentsize))
    names_at = headers[e_shstrndx][4]

    def cstr(at):
        return data[at:data.index(b"\0", at)].decode("ascii", "replace")

    sections = []
    for i, (name, kind, flags, _addr, offset, size, link, info, addralign, _entsize) in enumerate(headers):
        body = bytearray(size) if kind == SHT_NOBITS else bytearray(data[offset:offset + size])
        sections.append(Section(i, cstr(names_at + name), kind, flags, addralign, body, link, info))

    symbols = []
    for s in sections:
        if s.kind != SHT_SYMTAB:
            continue
        strtab = headers[s.link][4]
        for at in range(0, len(s.data), 16):
            name, value, _size, info, _other, shndx = struct.unpack_from("<IIIBBH", s.data, at)
            symbols.append(Symbol(cstr(strtab + name), value, info, shndx))
    return sections, symbols


def uleb(data, at):
    value = shift = 0
    while True:
        byte = data[at]
        at += 1
        value |= (byte & 0x7F) << shift
        shift += 7
        if not byte & 0x80:
            return value, at


def cpu_arch(section):
    """Tag_CPU_arch from the aeabi build attributes, or None."""
    data = bytes(section.data)
    if not data or data[0] != 0x41:
        return None
    at = 1
    while at + 4 <= len(data):
        length, = struct.unpack_from("<I", data, at)
        end = at + length
        vendor_end = data.index(b"\0", at + 4)
        if data[at + 4:vendor_end] == b"aeabi":
            sub = vendor_end + 1
            while sub + 5 <= end:
                tag, size = data[sub], struct.unpack_from("<I", data, sub + 1)[0]
                if tag == 1:  # the whole file
                    p = sub + 5
                    while p < sub + size:
                        attr, p = uleb(data, p)
                        if attr in (4, 5, 67):
                            p = data.index(b"\0", p) + 1
                        elif attr == 32:
                            _, p = uleb(data, p)
                            p = data.index(b"\0", p) + 1
                        else:
                            value, p = uleb(data, p)
                            if attr == 6:
                                return value
                sub += max(size, 1)
        at = max(end, at + 1)
    return None


def check_object(sections, symbols):
    for s in sections:
        if s.kind in (SHT_INIT_ARRAY, SHT_FINI_ARRAY, SHT_PREINIT_ARRAY) or \
                re.match(r"^\.(init_array|fini_array|preinit_array|ctors|dtors)(\.|$)", s.name):
            raise Refused("section %s: static constructors or destructors; the handheld's loader "
                          "runs no initialisers" % s.name)
        if s.kind == SHT_RELA:
            raise Refused("section %s: RELA relocations are not ARM's" % s.name)
    attributes = [s for s in sections if s.kind == SHT_ARM_ATTRIBUTES]
    arch = cpu_arch(attributes[0]) if attributes else None
    if arch is None:
        raise Refused("no ARM build attributes (.ARM.attributes): the target architecture "
                      "cannot be told")
    if arch > LAST_SUPPORTED_ARCH:
        name = CPU_ARCH_NAMES[arch] if arch < len(CPU_ARCH_NAMES) else "architecture %d" % arch
        raise Refused("built for %s; the handhelds' StrongARM runs ARMv4 only (-march=armv4)" % name)
    for sym in symbols:
        where = sections[sym.shndx].name if 0 < sym.shndx < len(sections) else "?"
        if sym.name == "$t" or sym.name.startswith("$t."):
            raise Refused("section %s: Thumb code (mapping symbol %s); build with -marm" %
                          (where, sym.name))
        if sym.kind == STT_FUNC and sym.shndx != SHN_UNDEF and sym.value & 1:
            raise Refused("symbol %s in %s: Thumb function; build with -marm" % (sym.name, where))


class Image:
    """The image's sections in file order, each a name, flags and bytes."""

    def __init__(self):
        self.sections = []  # (name, characteristics, rva, bytearray, virtual size)
        self.next_rva = SECTION_ALIGN

    def add(self, name, characteristics, data, virtual_size=None):
        rva = self.next_rva
        size = len(data) if virtual_size is None else virtual_size
        self.sections.append((name, characteristics, rva, data, size))
        self.next_rva = align(rva + max(size, 1), SECTION_ALIGN)
        return rva


def place(sections, wanted):
    """Lays the wanted sections one after another; returns the bytes."""
    out = bytearray()
    for s in sections:
        if s.index in wanted:
            out.extend(b"\0" * (align(len(out), s.addralign) - len(out)))
            s.offset_in_part = len(out)
            out.extend(s.data)
    return out


def relocate(sections, symbols, imports, stub_rva, fixups):
    """Applies every relocation of the placed sections; records the words
    that need a base relocation in fixups (RVAs)."""
    for rel in sections:
        if rel.kind != SHT_REL:
            continue
        target = sections[rel.info]
        if target.rva is None:
            if target.flags & SHF_ALLOC:
                raise Refused("section %s: relocations into a section that is not placed" % target.name)
            continue
        for at in range(0, len(rel.data), 8):
            offset, info = struct.unpack_from("<II", rel.data, at)
            kind, sym = info & 0xFF, symbols[info >> 8]
            where = "section %s offset 0x%x" % (target.name, offset)
            if kind == R_ARM_NONE:
                continue
            if kind == R_ARM_V4BX:
                word, = struct.unpack_from("<I", target.data, offset)
                if word & 0x0FFFFFF0 == 0x012FFF10:  # BX rm -> MOV pc, rm
                    struct.pack_into("<I", target.data, offset, (word & 0xF000000F) | 0x01A0F000)
                continue
            if sym.shndx == SHN_UNDEF:
                m = IMPORT_SYMBOL.match(sym.name)
                if not m or int(m.group(1)) not in COREDLL_ORDINALS:
                    raise Refused("undefined symbol %s (%s): only COREDLL ordinals "
                                  "(coredll_ordinal_N) may stay undefined" % (sym.name or "?", where))
                value = IMAGE_BASE + stub_rva + imports.index(int(m.group(1))) * STUB_SIZE
            elif sym.shndx == SHN_ABS:
                value = sym.value
            elif sym.shndx == SHN_COMMON or sym.shndx >= len(sections) or sections[sym.shndx].rva is None:
                raise Refused("symbol %s (%s) is in no placed section" % (sym.name, where))
            else:
                value = IMAGE_BASE + sections[sym.shndx].rva + sym.value
            place_va = IMAGE_BASE + target.rva + offset
            word, = struct.unpack_from("<I", target.data, offset)
            if kind == R_ARM_ABS32:
                struct.pack_into("<I", target.data, offset, (value + word) & 0xFFFFFFFF)
                fixups.append(target.rva + offset)
            elif kind == R_ARM_REL32:
                struct.pack_into("<I", target.data, offset, (value + word - place_va) & 0xFFFFFFFF)
            elif kind in (R_ARM_PC24, R_ARM_CALL, R_ARM_JUMP24):
                addend = ((word & 0xFFFFFF) ^ 0x800000) - 0x800000
                delta = value + (addend << 2) - place_va
                if delta & 3 or not -0x2000000 <= delta < 0x2000000:
                    raise Refused("branch to %s out of reach (%s)" % (sym.name, where))
                struct.pack_into("<I", target.data, offset,
                                 (word & 0xFF000000) | ((delta >> 2) & 0xFFFFFF))
            else:
                name = RELOCATION_NAMES.get(kind, "type %d" % kind)
                raise Refused("relocation %s against %s (%s) is not handled" %
                              (name, sym.name or "?", where))


def read_res(data):
    """The entries of a .res file: (type, name, language, bytes); a type or
    name is an int or a str."""
    def ident(at):
        if struct.unpack_from("<H", data, at)[0] == 0xFFFF:
            return struct.unpack_from("<H", data, at + 2)[0], at + 4
        end = at
        while struct.unpack_from("<H", data, end)[0] != 0:
            end += 2
        return data[at:end].decode("utf-16-le"), end + 2

    entries, at = [], 0
    while at + 8 <= len(data):
        size, header = struct.unpack_from("<II", data, at)
        if header < 32 or at + header + size > len(data):
            raise Refused("resource file damaged at offset %d" % at)
        rtype, p = ident(at + 8)
        name, p = ident(p)
        p = align(p, 4)
        language, = struct.unpack_from("<H", data, p + 6)
        body = data[at + header:at + header + size]
        if size or rtype != 0:
            entries.append((rtype, name, language, body))
        at = align(at + header + size, 4)
    return entries


def build_rsrc(entries, rva):
    """The .rsrc section: directories (type, name, language), data entries,
    name strings, then the data, for a section placed at rva."""
    def order(key):
        return (0, key.upper(), key) if isinstance(key, str) else (1, "", key)

    tree = {}
    for rtype, name, language, body in entries:
        tree.setdefault(rtype, {}).setdefault(name, {})[language] = body

    dirs = []  # (entries as (key, child)) breadth first; child is a dir index or a leaf body
    def add_dir(items):
        dirs.append(items)
        return len(dirs) - 1

    root = add_dir([])
    queue = [(root, tree, 0)]
    leaves = []
    while queue:
        index, node, depth = queue.pop(0)
        for key in sorted(node, key=order):
            if depth < 2:
                child = add_dir([])
                dirs[index].append((key, ("dir", child)))
                queue.append((child, node[key], depth + 1))
            else:
                leaves.append(node[key])
                dirs[index].append((key, ("leaf", len(leaves) - 1)))

    dir_at, at = [], 0
    for items in dirs:
        dir_at.append(at)
        at += 16 + 8 * len(items)
    leaf_at = []
    for _ in leaves:
        leaf_at.append(at)
        at += 16
    names = sorted({k for items in dirs for k, _ in items if isinstance(k, str)})
    name_at = {}
    for n in names:
        name_at[n] = at
        at += 2 + 2 * len(n)
    body_at = []
    for body in leaves:
        at = align(at, 8)
        body_at.append(at)
        at += len(body)

    out = bytearray(align(at, 4))
    for items, base in zip(dirs, dir_at):
        named = sum(1 for k, _ in items if isinstance(k, str))
        struct.pack_into("<IIHHHH", out, base, 0, 0, 0, 0, named, len(items) - named)
        for i, (key, (kind, child)) in enumerate(items):
            name = 0x80000000 | name_at[key] if isinstance(key, str) else key
            target = 0x80000000 | dir_at[child] if kind == "dir" else leaf_at[child]
            struct.pack_into("<II", out, base + 16 + 8 * i, name, target)
    for i, body in enumerate(leaves):
        struct.pack_into("<IIII", out, leaf_at[i], rva + body_at[i], len(body), 0, 0)
        out[body_at[i]:body_at[i] + len(body)] = body
    for n in names:
        encoded = n.encode("utf-16-le")
        struct.pack_into("<H", out, name_at[n], len(n))
        out[name_at[n] + 2:name_at[n] + 2 + len(encoded)] = encoded
    return out


def build_reloc(fixups):
    out = bytearray()
    pages = {}
    for rva in sorted(set(fixups)):
        pages.setdefault(rva & ~0xFFF, []).append(rva & 0xFFF)
    for page, offsets in sorted(pages.items()):
        words = [0x3000 | o for o in offsets]  # IMAGE_REL_BASED_HIGHLOW
        if len(words) % 2:
            words.append(0)  # IMAGE_REL_BASED_ABSOLUTE pads the block
        out += struct.pack("<II", page, 8 + 2 * len(words))
        out += struct.pack("<%dH" % len(words), *words)
    return out


def checksum(image, at):
    if len(image) % 2:
        image = image + b"\0"
    total = 0
    for i, (word,) in enumerate(struct.iter_unpack("<H", image)):
        if i * 2 in (at, at + 2):
            continue
        total += word
        total = (total & 0xFFFF) + (total >> 16)
    return ((total & 0xFFFF) + (total >> 16) + len(image)) & 0xFFFFFFFF


def classify(sections):
    """The placed sections' indices: code, read-only data, writable data."""
    alloc = [s for s in sections if s.flags & SHF_ALLOC and s.kind != SHT_ARM_ATTRIBUTES]
    for s in alloc:
        if s.name.startswith(".ARM.exidx") or s.name.startswith(".ARM.extab"):
            raise Refused("section %s: unwind tables; build with -fno-unwind-tables "
                          "-fno-asynchronous-unwind-tables" % s.name)
    code = {s.index for s in alloc if s.flags & SHF_EXECINSTR}
    rodata = {s.index for s in alloc if not s.flags & (SHF_EXECINSTR | SHF_WRITE)}
    rwdata = {s.index for s in alloc if s.flags & SHF_WRITE and not s.flags & SHF_EXECINSTR}
    return code, rodata, rwdata


def referenced_imports(sections, symbols, placed):
    """The COREDLL ordinals that the relocations of the placed sections refer
    to, in order."""
    ordinals = set()
    for rel in sections:
        if rel.kind == SHT_REL and rel.info in placed:
            for at in range(0, len(rel.data), 8):
                sym = symbols[struct.unpack_from("<I", rel.data, at + 4)[0] >> 8]
                m = IMPORT_SYMBOL.match(sym.name)
                if sym.shndx == SHN_UNDEF and m and int(m.group(1)) in COREDLL_ORDINALS:
                    ordinals.add(int(m.group(1)))
    return sorted(ordinals)


def lay_out(image, sections, code, rodata, rwdata, imports):
    """.text (the code, then a stub per import), .rdata and .data, each
    section given its RVA; returns .text's bytes, its RVA and where its
    stubs begin."""
    text = place(sections, code)
    text.extend(b"\0" * (align(len(text), 4) - len(text)))
    stub_offset = len(text)
    text.extend(b"\0" * (STUB_SIZE * len(imports)))
    text_rva = image.add(".text", 0x60000020, text)
    for s in sections:
        if s.index in code:
            s.rva = text_rva + s.offset_in_part
    for name, wanted, flags in ((".rdata", rodata, 0x40000040), (".data", rwdata, 0xC0000040)):
        if wanted:
            rva = image.add(name, flags, place(sections, wanted))
            for s in sections:
                if s.index in wanted:
                    s.rva = rva + s.offset_in_part
    return text, text_rva, stub_offset


def add_imports(image, imports):
    """Import directory: one descriptor and its terminator, the lookup table,
    the import table the loader fills, and the library's name. Returns the
    directory's RVA and the import table's offset in it."""
    n = len(imports)
    idata = bytearray(40 + 8 * (n + 1) + 12)
    idata_rva = image.next_rva
    ilt, iat, dll = 40, 40 + 4 * (n + 1), 40 + 8 * (n + 1)
    struct.pack_into("<IIIII", idata, 0, idata_rva + ilt, 0, 0, idata_rva + dll, idata_rva + iat)
    for i, ordinal in enumerate(imports):
        struct.pack_into("<I", idata, ilt + 4 * i, 0x80000000 | ordinal)
        struct.pack_into("<I", idata, iat + 4 * i, 0x80000000 | ordinal)
    idata[dll:dll + 11] = b"COREDLL.dll"
    image.add(".idata", 0xC0000040, idata)
    return idata_rva, iat


def link(image, sections, symbols, imports, text, text_rva, stub_offset, iat_va):
    """Fills each import's stub, applies the relocations and copies the
    relocated sections back into the image's parts; returns the RVAs of the
    words that need a base relocation."""
    fixups = []
    for i in range(len(imports)):
        at = stub_offset + i * STUB_SIZE
        struct.pack_into("<III", text, at, STUB_WORDS[0], STUB_WORDS[1], iat_va + 4 * i)
        fixups.append(text_rva + at + 8)
    relocate(sections, symbols, imports, text_rva + stub_offset, fixups)
    for s in sections:  # relocated bytes back into the image's parts
        if s.rva is not None:
            part = next(p for p in image.sections if p[2] <= s.rva < p[2] + max(p[4], 1))
            part[3][s.rva - part[2]:s.rva - part[2] + len(s.data)] = s.data
    return fixups


def entry_point(sections, symbols, code, entry_name):
    entry = [s for s in symbols if s.name == entry_name and s.shndx not in (SHN_UNDEF, SHN_ABS)
             and s.shndx < len(sections) and sections[s.shndx].index in code]
    if not entry:
        raise Refused("entry point %s is not defined in the code" % entry_name)
    return sections[entry[0].shndx].rva + entry[0].value


def write_image(image, text, text_rva, entry_rva, directories):
    """The file: DOS header pointing at the PE header, file header, optional
    header and section table, all inside the first file block, then each
    section's bytes, and the checksum."""
    count = len(image.sections)
    header_size = align(0x40 + 4 + 20 + 224 + 40 * count, FILE_ALIGN)
    raw_at, at = [], header_size
    for _name, _flags, _rva, data, _size in image.sections:
        raw_at.append(at)
        at += align(len(data), FILE_ALIGN)
    out = bytearray(at)
    out[0:2] = b"MZ"
    struct.pack_into("<I", out, 0x3C, 0x40)
    out[0x40:0x44] = b"PE\0\0"
    struct.pack_into("<HHIIIHH", out, 0x44, 0x01C0, count, 0, 0, 0, 224, 0x010E)
    size_of_code = align(len(text), FILE_ALIGN)
    size_of_data = sum(align(len(d), FILE_ALIGN) for n_, _f, _r, d, _s in image.sections if n_ != ".text")
    opt = 0x58
    first_data_rva = image.sections[1][2]
    struct.pack_into("<HBBIIIIII", out, opt, 0x10B, 0, 0, size_of_code, size_of_data, 0,
                     entry_rva, text_rva, first_data_rva)
    struct.pack_into("<IIIHHHHHHIIIIHHIIIIII", out, opt + 28,
                     IMAGE_BASE, SECTION_ALIGN, FILE_ALIGN,
                     2, 10,       # operating system version: Windows CE 2.10
                     0, 0,        # image version
                     2, 10,       # subsystem version
                     0, image.next_rva, header_size, 0,
                     9,           # IMAGE_SUBSYSTEM_WINDOWS_CE_GUI
                     0, 0x10000, 0x1000, 0x100000, 0x1000, 0, 16)
    for index, (rva, size) in directories.items():
        struct.pack_into("<II", out, opt + 96 + 8 * index, rva, size)
    table = opt + 224
    for i, (name, flags, rva, data, size) in enumerate(image.sections):
        struct.pack_into("<8sIIIIIIHHI", out, table + 40 * i, name.encode("ascii"), size, rva,
                         align(len(data), FILE_ALIGN), raw_at[i], 0, 0, 0, 0, flags)
        out[raw_at[i]:raw_at[i] + len(data)] = data
    struct.pack_into("<I", out, opt + 64, checksum(bytes(out), opt + 64))
    return bytes(out)


def convert(elf, res, entry_name):
    sections, symbols = read_elf(elf)
    check_object(sections, symbols)
    code, rodata, rwdata = classify(sections)
    imports = referenced_imports(sections, symbols, code | rodata | rwdata)
    image = Image()
    text, text_rva, stub_offset = lay_out(image, sections, code, rodata, rwdata, imports)
    idata_rva, iat = add_imports(image, imports)
    fixups = link(image, sections, symbols, imports, text, text_rva, stub_offset, IMAGE_BASE + idata_rva + iat)
    rsrc_rva = image.next_rva
    rsrc = build_rsrc(read_res(res), rsrc_rva)
    image.add(".rsrc", 0x40000040, rsrc)
    reloc = build_reloc(fixups)
    reloc_rva = image.add(".reloc", 0x42000040, reloc)
    entry_rva = entry_point(sections, symbols, code, entry_name)
    directories = {1: (idata_rva, 40), 2: (rsrc_rva, len(rsrc)), 5: (reloc_rva, len(reloc)),
                   12: (idata_rva + iat, 4 * (len(imports) + 1))}
    return write_image(image, text, text_rva, entry_rva, directories)


def main():
    parser = argparse.ArgumentParser(description="ARM ELF relocatable object to Windows CE image")
    parser.add_argument("object")
    parser.add_argument("-o", "--output", required=True)
    parser.add_argument("--entry", required=True)
    parser.add_argument("--resources", required=True, help="a .res file as windres writes it")
    args = parser.parse_args()
    try:
        with open(args.object, "rb") as f:
            elf = f.read()
        with open(args.resources, "rb") as f:
            res = f.read()
        image = convert(elf, res, args.entry)
    except Refused as e:
        print("elf2ce: %s: %s" % (args.object, e), file=sys.stderr)
        return 1
    except OSError as e:
        print("elf2ce: %s" % e, file=sys.stderr)
        return 1
    with open(args.output, "wb") as f:
        f.write(image)
    return 0


if __name__ == "__main__":
    sys.exit(main())
