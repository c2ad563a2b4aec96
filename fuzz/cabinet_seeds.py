#!/usr/bin/env python3
"""Seeds for the cabinet fuzzer: the members of an uncompressed cabinet
(SAMBREL.000, the setup file, and SAMBREL.001) written again as one folder
of each compression method, MSZIP, LZX and Quantum, with the data blocks'
checksums, so that every decompressor is reached by valid data first.

Usage: cabinet_seeds.py UNCOMPRESSED.cab FOLDER
writes FOLDER/sambrel_mszip.cab, sambrel_lzx.cab and sambrel_quantum.cab.

The compressors are written from the formats' public descriptions and kept
small rather than good: MSZIP is zlib's deflate; LZX a greedy match search
coded as a verbatim, an aligned and an uncompressed block (so that each
kind of block is read); Quantum the same matches through its adaptive
arithmetic coder. cabextract reads all three back (tests/wince/emulator_test.sh
runs them).

Python's standard library only."""
import struct
import sys
import zlib

FRAME = 32768


def cabinet_members(data):
    """The members of a cabinet of one uncompressed folder: [(name, bytes)]."""
    files_at, = struct.unpack_from("<I", data, 16)
    folders, files = struct.unpack_from("<HH", data, 26)
    if data[:4] != b"MSCF" or folders != 1:
        raise SystemExit("expected a cabinet of one folder")
    start, blocks, method = struct.unpack_from("<IHH", data, 36)
    if method != 0:
        raise SystemExit("expected an uncompressed folder")
    plain, at = b"", start
    for _ in range(blocks):
        _, size, _ = struct.unpack_from("<IHH", data, at)
        plain += data[at + 8:at + 8 + size]
        at += 8 + size
    members, at = [], files_at
    for _ in range(files):
        size, offset = struct.unpack_from("<II", data, at)
        end = data.index(b"\0", at + 16)
        members.append((data[at + 16:end], plain[offset:offset + size]))
        at = end + 1
    return members


def checksum(data, seed=0):
    """A data block's checksum as the cabinet format defines it."""
    for i in range(0, len(data) & ~3, 4):
        seed ^= struct.unpack_from("<I", data, i)[0]
    tail = data[len(data) & ~3:]
    value = 0
    for b in tail:
        value = value << 8 | b
    return seed ^ value


def cabinet(members, method, blocks):
    """A cabinet of one folder: method (the CFFOLDER's typeCompress) and its
    data blocks [(compressed, uncompressed size)]."""
    names = b"".join(struct.pack("<IIHHHH", len(m), 0, 0, 0x2821, 0, 0x20) + n + b"\0" for n, m in members)
    # Each member's offset in the folder.
    entries, offset = bytearray(names), 0
    at = 0
    for name, member in members:
        struct.pack_into("<I", entries, at + 4, offset)
        offset += len(member)
        at += 16 + len(name) + 1
    head = 36 + 8
    data_at = head + len(entries)
    body = b""
    for packed, size in blocks:
        sizes = struct.pack("<HH", len(packed), size)
        body += struct.pack("<I", checksum(sizes, checksum(packed))) + sizes + packed
    total = data_at + len(body)
    header = struct.pack("<4sIIIIIBBHHHHH", b"MSCF", 0, total, 0, head, 0, 3, 1, 1, len(members), 0, 0, 0)
    return header + struct.pack("<IHH", data_at, len(blocks), method) + bytes(entries) + body


def frames(plain):
    return [plain[i:i + FRAME] for i in range(0, len(plain), FRAME)]


def mszip(plain):
    """Each block "CK" and a deflate stream of its own frame."""
    blocks = []
    for frame in frames(plain):
        z = zlib.compressobj(9, zlib.DEFLATED, -15)
        blocks.append((b"CK" + z.compress(frame) + z.flush(), len(frame)))
    return blocks


def matches(plain, window, longest, farthest3=None):
    """Greedy LZ77: [(literal byte) or (length, offset)], matches of 3 bytes
    or more found through the last position of each 3-byte prefix; those
    of 3 bytes no farther back than farthest3, where given."""
    out, last, i = [], {}, 0
    while i < len(plain):
        j = last.get(plain[i:i + 3])
        length = 0
        if j is not None and i - j < window:
            while length < longest and i + length < len(plain) and plain[j + length] == plain[i + length]:
                length += 1
        if length < 3 or (length == 3 and farthest3 and i - j > farthest3):
            length = 1
        for k in range(i, i + length):
            last[plain[k:k + 3]] = k
        out.append((length, i - j) if length > 1 else plain[i])
        i += length
    return out


def huffman_lengths(counts, limit):
    """Code lengths for the counts (at least two codes, none longer than
    limit): a complete prefix code, as the decoders require."""
    counts = list(counts)
    used = [i for i, c in enumerate(counts) if c]
    for i in range(len(counts)):
        if len(used) >= 2:
            break
        if i not in used:
            counts[i] = 1
            used.append(i)
    while True:
        nodes = [(counts[i], [i]) for i in used]
        lengths = [0] * len(counts)
        while len(nodes) > 1:
            nodes.sort(key=lambda n: n[0])
            (a, sa), (b, sb) = nodes[0], nodes[1]
            for s in sa + sb:
                lengths[s] += 1
            nodes = nodes[2:] + [(a + b, sa + sb)]
        if max(lengths) <= limit:
            return lengths
        counts = [(c + 1) // 2 if c else 0 for c in counts]


def canonical(lengths):
    """Each symbol's code (MSB first), codes given out by length, then symbol."""
    codes, code = [0] * len(lengths), 0
    for bits in range(1, max(lengths) + 1):
        for s, n in enumerate(lengths):
            if n == bits:
                codes[s] = code
                code += 1
        code <<= 1
    return codes


class LzxBits:
    """Bits MSB first in 16-bit little-endian words, as LZX reads them."""

    def __init__(self):
        self.out, self.word, self.count = bytearray(), 0, 0

    def put(self, value, bits):
        for k in range(bits - 1, -1, -1):
            self.word = self.word << 1 | (value >> k & 1)
            self.count += 1
            if self.count == 16:
                self.out += struct.pack("<H", self.word)
                self.word, self.count = 0, 0

    def align(self):
        """To the next word; a whole word when already there (LZX's
        uncompressed block reads 1 to 16 bits)."""
        self.put(0, 16 - self.count)


LZX_SLOTS = {15: 30, 16: 32, 17: 34, 18: 36, 19: 38, 20: 42, 21: 50}


def lzx_position_bases(slots):
    bases, extra = [0], []
    for i in range(slots):
        extra.append(0 if i < 4 else min(i // 2 - 1, 17))
        bases.append(bases[-1] + (1 << extra[-1]))
    return bases, extra


class LzxEncoder:
    def __init__(self, window_bits):
        self.slots = LZX_SLOTS[window_bits]
        self.bases, self.extra = lzx_position_bases(self.slots)
        self.main_prev = [0] * (256 + 8 * self.slots)
        self.length_prev = [0] * 249
        self.repeats = [1, 1, 1]
        self.bits = LzxBits()

    def symbols(self, items):
        """Main tree symbols with what follows each: (symbol, footer, slot extra)."""
        out = []
        for item in items:
            if isinstance(item, int):
                out.append((item, None, None))
                continue
            length, offset = item
            header = min(length - 2, 7)
            footer = length - 2 - 7 if header == 7 else None
            if offset in self.repeats:
                slot = self.repeats.index(offset)
                self.repeats[0], self.repeats[slot] = self.repeats[slot], self.repeats[0]
                extra = None
            else:
                formatted = offset + 2
                slot = max(s for s in range(self.slots) if self.bases[s] <= formatted)
                extra = (formatted - self.bases[slot], self.extra[slot])
                self.repeats = [offset, self.repeats[0], self.repeats[1]]
            out.append((256 + (slot << 3 | header), footer, extra))
        return out

    def lengths(self, lengths, previous):
        """A tree's lengths through a pretree: changes from the previous
        block's lengths, runs of zeros (17, 18) and of one change (19)."""
        codes, i = [], 0
        while i < len(lengths):
            run = 1
            while i + run < len(lengths) and lengths[i + run] == lengths[i] and run < 51:
                run += 1
            delta = (previous[i] - lengths[i]) % 17
            if lengths[i] == 0 and run >= 4:
                codes.append((18, run - 20, 5) if run >= 20 else (17, run - 4, 4))
                i += run
            elif run >= 4:
                codes.append((19, min(run, 5) - 4, 1, delta))
                i += min(run, 5)
            else:
                codes.append((delta,))
                i += 1
        counts = [0] * 20
        for c in codes:
            counts[c[0]] += 1
            if c[0] == 19:
                counts[c[3]] += 1
        pre = huffman_lengths(counts, 15)
        precodes = canonical(pre)
        for n in pre:
            self.bits.put(n, 4)
        for c in codes:
            self.bits.put(precodes[c[0]], pre[c[0]])
            if c[0] in (17, 18):
                self.bits.put(c[1], c[2])
            elif c[0] == 19:
                self.bits.put(c[1], 1)
                self.bits.put(precodes[c[3]], pre[c[3]])

    def block(self, kind, items, size):
        self.bits.put(kind, 3)
        self.bits.put(size >> 8, 16)
        self.bits.put(size & 0xFF, 8)
        symbols = self.symbols(items)
        aligned = [3] * 8
        if kind == 2:
            for n in aligned:
                self.bits.put(n, 3)
        main = [0] * len(self.main_prev)
        length = [0] * 249
        for symbol, footer, _ in symbols:
            main[symbol] += 1
            if footer is not None:
                length[footer] += 1
        main = huffman_lengths(main, 16)
        length = huffman_lengths(length, 16) if any(length) else length
        self.lengths(main[:256], self.main_prev[:256])
        self.lengths(main[256:], self.main_prev[256:])
        self.lengths(length, self.length_prev)
        self.main_prev, self.length_prev = main, length
        main_codes, length_codes = canonical(main), canonical(length) if any(length) else None
        for symbol, footer, extra in symbols:
            self.bits.put(main_codes[symbol], main[symbol])
            if footer is not None:
                self.bits.put(length_codes[footer], length[footer])
            if extra:
                value, bits = extra
                if kind == 2 and bits >= 3:
                    self.bits.put(value >> 3, bits - 3)
                    self.bits.put(value & 7, 3)  # all eight aligned codes are 3 bits: the value itself
                elif bits:
                    self.bits.put(value, bits)

    def uncompressed(self, plain):
        self.bits.put(3, 3)
        self.bits.put(len(plain) >> 8, 16)
        self.bits.put(len(plain) & 0xFF, 8)
        self.bits.align()
        self.bits.out += struct.pack("<3I", *self.repeats) + plain + bytes(len(plain) & 1)


def lzx(plain, window_bits=16):
    """One frame per data block; each frame a verbatim, an aligned and an
    uncompressed block (of its first, middle and last thirds)."""
    encoder = LzxEncoder(window_bits)
    blocks = []
    for n, frame in enumerate(frames(plain)):
        start = len(encoder.bits.out)
        if n == 0:
            encoder.bits.put(0, 1)  # no Intel E8 translation
        third = len(frame) // 3
        for kind, part in ((1, frame[:third]), (2, frame[third:2 * third])):
            items = matches(part, 1 << window_bits, 257)
            encoder.block(kind, items, len(part))
        encoder.uncompressed(frame[2 * third:])
        if encoder.bits.count:
            encoder.bits.align()
        blocks.append((bytes(encoder.bits.out[start:]), len(frame)))
    return blocks


class QuantumModel:
    """An adaptive model as Quantum keeps it: symbols with cumulative
    frequencies in decreasing order, rescaled and re-sorted as they grow."""

    def __init__(self, first, count):
        self.syms = [first + i for i in range(count + 1)]
        self.cum = [count - i for i in range(count + 1)]
        self.count, self.shifts = count, 4

    def update(self):
        n = self.count
        self.shifts -= 1
        if self.shifts:
            for i in range(n - 1, -1, -1):
                self.cum[i] >>= 1
                if self.cum[i] <= self.cum[i + 1]:
                    self.cum[i] = self.cum[i + 1] + 1
            return
        self.shifts = 50
        for i in range(n):
            self.cum[i] = (self.cum[i] - self.cum[i + 1] + 1) >> 1
        for i in range(n - 1):
            for j in range(i + 1, n):
                if self.cum[i] < self.cum[j]:
                    self.cum[i], self.cum[j] = self.cum[j], self.cum[i]
                    self.syms[i], self.syms[j] = self.syms[j], self.syms[i]
        for i in range(n - 1, -1, -1):
            self.cum[i] += self.cum[i + 1]


class QuantumEncoder:
    """The arithmetic coder that Quantum's decoder undoes, with the raw
    extra bits of match offsets and lengths spliced into the code where the
    decoder, 16 bits ahead of it, reads them."""

    POSITION_BASES = [0]
    for _i in range(41):
        POSITION_BASES.append(POSITION_BASES[-1] + (1 << ((_i - 2 if _i >= 2 else 0) >> 1)))
    EXTRA = [(i - 2 if i >= 2 else 0) >> 1 for i in range(42)]
    LENGTH_BASES = [0, 1, 2, 3, 4, 5, 6, 8, 10, 12, 14, 18, 22, 26, 30, 38, 46, 54, 62, 78, 94, 110, 126, 158,
                    190, 222, 254]
    LENGTH_EXTRA = [0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2, 2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0]

    def __init__(self, window_bits):
        w = window_bits * 2
        self.literals = [QuantumModel(64 * k, 64) for k in range(4)]
        self.match3, self.match4 = QuantumModel(0, min(w, 24)), QuantumModel(0, min(w, 36))
        self.positions, self.lengths = QuantumModel(0, w), QuantumModel(0, 27)
        self.selector = QuantumModel(0, 7)
        self.low, self.high, self.pending, self.shifts = 0, 0xFFFF, 0, 0
        self.code, self.raw = [], []

    def symbol(self, model, value):
        k = model.syms.index(value)
        span, total = self.high - self.low + 1, model.cum[0]
        self.high = self.low + model.cum[k] * span // total - 1
        self.low = self.low + model.cum[k + 1] * span // total
        for i in range(k + 1):
            model.cum[i] += 8
        if model.cum[0] > 3800:
            model.update()
        while True:
            if (self.low & 0x8000) == (self.high & 0x8000):
                bit = self.low >> 15
                self.code += [bit] + [1 - bit] * self.pending
                self.pending = 0
            elif self.low & 0x4000 and not self.high & 0x4000:
                self.pending += 1
                self.low &= 0x3FFF
                self.high |= 0x4000
            else:
                break
            self.low = self.low << 1 & 0xFFFF
            self.high = (self.high << 1 | 1) & 0xFFFF
            self.shifts += 1

    def bits(self, value, count):
        if count:
            self.raw.append((16 + self.shifts, [value >> k & 1 for k in range(count - 1, -1, -1)]))

    def slot(self, model, offset):
        s = max(i for i in range(model.count) if self.POSITION_BASES[i] <= offset - 1)
        self.symbol(model, s)
        self.bits(offset - 1 - self.POSITION_BASES[s], self.EXTRA[s])

    def encode(self, items):
        for item in items:
            if isinstance(item, int):
                self.symbol(self.selector, item >> 6)
                self.symbol(self.literals[item >> 6], item)
                continue
            length, offset = item
            if length == 3 and offset - 1 < self.POSITION_BASES[self.match3.count]:
                self.symbol(self.selector, 4)
                self.slot(self.match3, offset)
            elif length == 4 and offset - 1 < self.POSITION_BASES[self.match4.count]:
                self.symbol(self.selector, 5)
                self.slot(self.match4, offset)
            else:
                self.symbol(self.selector, 6)
                s = max(i for i in range(27) if self.LENGTH_BASES[i] <= length - 5)
                self.symbol(self.lengths, s)
                self.bits(length - 5 - self.LENGTH_BASES[s], self.LENGTH_EXTRA[s])
                self.slot(self.positions, offset)
        # The final interval told by two bits, and the underflow pending.
        self.pending += 1
        bit = 0 if self.low < 0x4000 else 1
        self.code += [bit] + [1 - bit] * self.pending
        stream, at = [], 0
        for position, bits in self.raw:
            self.code += [0] * max(0, position - len(self.code))
            stream += self.code[at:position] + bits
            at = position
        stream += self.code[at:] + [0] * 32
        stream += [0] * (-len(stream) % 16)
        return bytes(int("".join(map(str, stream[i:i + 8])), 2) for i in range(0, len(stream), 8))


def quantum(plain, window_bits=16):
    """The whole folder in one data block: one frame, under 32 KiB."""
    if len(plain) > FRAME:
        raise SystemExit("Quantum seeds are of one frame")
    # Matches of 3 bytes reach back as far as 24 position slots go (4,096).
    items = matches(plain, 1 << window_bits, 259, QuantumEncoder.POSITION_BASES[24])
    return [(QuantumEncoder(window_bits).encode(items), len(plain))]


def main():
    if len(sys.argv) != 3:
        raise SystemExit(__doc__.split("\n\n")[1])
    members = cabinet_members(open(sys.argv[1], "rb").read())
    plain = b"".join(m for _, m in members)
    for name, method, blocks in (("mszip", 1, mszip(plain)), ("lzx", 3 | 16 << 8, lzx(plain)),
                                 ("quantum", 2 | 4 << 4 | 16 << 8, quantum(plain))):
        with open(f"{sys.argv[2]}/sambrel_{name}.cab", "wb") as f:
            f.write(cabinet(members, method, blocks))


if __name__ == "__main__":
    main()
