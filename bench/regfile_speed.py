#!/usr/bin/env python3
"""Registry files at whole-process scale: how fast `sambrel --registry`
loads, and loads, runs and saves, generated .reg files of 1, 5, 10 and 40
MiB in both encodings; how a load compares with the floor of reading
(line_count.c, a C program built beside this script that reads the file
in blocks and counts its lines) and a load and save with the floor of the
disk (a six-line script that reads the file, writes it to a new file,
flushes it to the disk and renames it over the old one), and with a naive
line-splitting reader (naive_reader.py); the peak memory per byte of file
of a load alone and of a load, run and save; what entries in another order
cost against sorted ones, in every shape, at 100,000 and 200,000 entries;
one value of 8 Mi characters against a realistic file of its size; and
the start-up of a run without a file.

    bench/regfile_speed.py PATH/TO/sambrel [OTHER/sambrel...] [--sizes 1,5,10,40]
                           [--counts 100000,200000] [--runs 5] [--no-orders]
                           [--orders-only] [--dir DIR]

Every figure is the median of the runs, and the runs of the programs
compared (the floor, the naive reader and each sambrel given, say one
before a change and one after) are interleaved, so that a change in the
machine's load falls on all of them alike. "load/C" is the C floor's time
over sambrel's load alone; "save/floor" is the disk floor's time over
sambrel's load, run and save (1 is the disk's pace); "peak save/load" is the peak memory of a
load, run and save over that of a load alone; "linearity" is a size's load
MiB/s over the 5 MiB file's (sizes before 5 MiB: over the first size's). It
checks nothing: the targets are read off by whoever runs it.
"""

import argparse
import os
import random
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
MIB = 1 << 20

# The floor of a load and save, run as a process as sambrel is.
FLOOR = """import os, sys
path = sys.argv[1]
with open(path, "rb") as f: data = f.read()
with open(path + ".new", "wb") as f:
    f.write(data); f.flush(); os.fsync(f.fileno())
os.rename(path + ".new", path)
"""


def realistic_lines(size, seed=1):
    """A handheld-like registry of about `size` bytes (as REGEDIT4 text):
    many keys of a few string, dword and hex values, a few keys of thousands
    of values, and some deep chains."""
    rng = random.Random(seed)
    out = []
    total = 0

    def emit(line):
        nonlocal total
        out.append(line)
        total += len(line) + 2

    n = 0
    while total < size:
        n += 1
        if n % 997 == 0:  # a key of thousands of values
            emit("[HKEY_LOCAL_MACHINE\\Comm\\Big%d]" % n)
            for v in range(3000):
                emit('"Item%05d"="Value number %d for the big key"' % (v, v))
            emit("")
        elif n % 499 == 0:  # a deep chain
            path = "HKEY_CURRENT_USER\\Software\\Deep%d" % n
            for depth in range(40):
                path += "\\Level%02d" % depth
                emit("[%s]" % path)
                emit('"Depth"=dword:%08x' % depth)
                emit("")
        else:
            emit("[HKEY_LOCAL_MACHINE\\Software\\Vendor%03d\\Product%05d\\Settings]" % (n % 200, n))
            emit('"Name"="Product %d of vendor %d"' % (n, n % 200))
            emit('"Path"="\\\\Windows\\\\Program Files\\\\Vendor\\\\p%d.exe"' % n)
            emit('"Flags"=dword:%08x' % rng.getrandbits(32))
            blob = ",".join("%02x" % rng.getrandbits(8) for _ in range(rng.randint(8, 60)))
            emit('"Data"=hex:' + fold(blob, len('"Data"=hex:')))
            emit("")
    return out


def fold(hexlist, column):
    """Hex bytes folded as registry editors fold them."""
    parts = hexlist.split(",")
    text = ""
    for i, p in enumerate(parts):
        text += p
        if i + 1 == len(parts):
            break
        text += ","
        column += 3
        if column >= 77:
            text += "\\\r\n  "
            column = 2
    return text


def in_order(names, order):
    names = list(names)
    if order == "shuffled":
        random.Random(7).shuffle(names)
    elif order == "descending":
        names.reverse()
    return names


def values_lines(names):
    """One key of these values."""
    return ["[HKEY_LOCAL_MACHINE\\Ordered]"] + ['"%s"=dword:%08x' % (n, i) for i, n in enumerate(names)]


def subkeys_lines(names):
    """One key of these subkeys, of a value each."""
    lines = []
    for i, n in enumerate(names):
        lines += ["[HKEY_LOCAL_MACHINE\\Ordered\\%s]" % n, '"v"=dword:%08x' % i, ""]
    return lines


def spellings(count):
    """count sections of count / 4 keys, each key spelt four ways in turn."""
    ways = ["KEY%07d", "key%07d", "Key%07d", "kEY%07d"]
    return [ways[i % 4] % (i // 4) for i in range(count)]


# Each shape: its entries in the registry's order, given how many, and the
# lines listing them; REGEDIT4 files hold 8-bit text, so the names beyond
# ASCII are Latin-1 there.
SHAPES = [
    ("keys differing only in case", spellings, subkeys_lines),
    ("subkeys of one key", lambda count: ["K%07d" % i for i in range(count)], subkeys_lines),
    ("values of one key", lambda count: ["V%07d" % i for i in range(count)], values_lines),
    ("values, a 60-character prefix", lambda count: ["P" * 60 + "%07d" % i for i in range(count)], values_lines),
    ("non-ASCII subkeys", None, subkeys_lines),
]


def shape_names(shape, count, encoding):
    if shape[1]:
        return shape[1](count)
    letters = "\u00e9\u00c9\u00fc\u00dc" if encoding == "regedit4" else "\u0436\u0416\u03c3\u03a3"
    # Each name's non-ASCII letters follow its number's digits, in either case.
    return ["".join(letters[int(d) % 4] for d in "%07d" % i) + "%07d" % i for i in range(count)]


def write(path, lines, encoding):
    if encoding == "regedit4":
        data = ("REGEDIT4\r\n\r\n" + "\r\n".join(lines) + "\r\n").encode("cp1252")
    else:
        text = "Windows Registry Editor Version 5.00\r\n\r\n" + "\r\n".join(lines) + "\r\n"
        data = b"\xff\xfe" + text.encode("utf-16-le")
    with open(path, "wb") as f:
        f.write(data)
    return len(data)


def run(cmd):
    """Wall time and peak resident memory (bytes) of one child process. The
    peak is GNU time's: a child forked from this script would count the
    script's own memory, which it shares until it runs the command."""
    with tempfile.NamedTemporaryFile() as peak:
        start = time.perf_counter()
        proc = subprocess.run(["/usr/bin/time", "-f", "%M", "-o", peak.name] + cmd, stdin=subprocess.DEVNULL,
                              stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
        elapsed = time.perf_counter() - start
        if proc.returncode not in (0, 1):
            sys.exit("%s failed (%d): %s" % (" ".join(cmd), proc.returncode, proc.stderr.decode()[:300]))
        return elapsed, int(open(peak.name).read().split()[-1]) * 1024


def measure(commands, runs):
    """Each command's median time and peak memory, the commands run in turn
    in every round. A command is (name, argv, prepare or None)."""
    times = {name: [] for name, _, _ in commands}
    peaks = {name: [] for name, _, _ in commands}
    for _ in range(runs):
        for name, cmd, prepare in commands:
            if prepare:
                prepare()
            t, peak = run(cmd)
            times[name].append(t)
            peaks[name].append(peak)
    return ({n: statistics.median(v) for n, v in times.items()},
            {n: statistics.median(v) for n, v in peaks.items()})


def build_floor(work):
    """line_count.c built beside this script, into the work folder."""
    floor = os.path.join(work, "line_count")
    subprocess.run(["cc", "-O2", "-o", floor, os.path.join(HERE, "line_count.c")], check=True)
    return floor


def sizes_table(builds, work, sizes, runs, floor):
    python = sys.executable
    naive = [python, os.path.join(HERE, "naive_reader.py")]
    print("%-9s %5s %-5s %7s %10s %7s %7s %6s %10s %7s %7s %9s %9s %9s %9s" % (
        "encoding", "MiB", "build", "load", "load+save", "C", "floor", "load/C", "save/floor", "naive", "l/naive",
        "RSS/B load", "RSS/B save", "peak s/l", "linearity"))
    print("%-9s %5s %-5s %7s %10s %7s %7s %6s %10s %7s %7s %9s %9s %9s %9s" % (
        "", "", "", "MiB/s", "MiB/s", "MiB/s", "MiB/s", "", "", "MiB/s", "", "", "", "", ""))
    for encoding in ("regedit4", "utf16"):
        speeds = {}
        for mib in sizes:
            lines = realistic_lines(mib * MIB if encoding == "regedit4" else mib * MIB // 2)
            path = os.path.join(work, "%s-%d.reg" % (encoding, mib))
            size = write(path, lines, encoding)
            copy = path + ".copy"
            fresh = lambda: shutil.copyfile(path, copy)
            commands = [("C", [floor, path], None), ("floor", [python, "-c", FLOOR, copy], fresh),
                        ("naive", naive + [path], None)]
            for b, sambrel in enumerate(builds):
                commands += [("load%d" % b, [sambrel, "--registry", path, "--dry-run", "--choose", "cancel"], None),
                             ("save%d" % b, [sambrel, "--registry", copy, "--choose", "com3"], fresh)]
            times, peaks = measure(commands, runs)
            mibs = {name: size / MIB / t for name, t in times.items()}
            for b in range(len(builds)):
                load, save = "load%d" % b, "save%d" % b
                speeds[mib, b] = mibs[load]
                base = speeds.get((5, b), speeds[sizes[0], b])
                print("%-9s %5.1f %-5d %7.1f %10.1f %7.1f %7.1f %6.2f %10.2f %7.1f %7.2f %9.2f %9.2f %9.2f %9.2f" % (
                    encoding, size / MIB, b + 1, mibs[load], mibs[save], mibs["C"], mibs["floor"],
                    times["C"] / times[load], times["floor"] / times[save], mibs["naive"],
                    times["naive"] / times[load], peaks[load] / size, peaks[save] / size,
                    peaks[save] / peaks[load], mibs[load] / base))
            sys.stdout.flush()


def orders_table(builds, work, runs, counts):
    print("loading entries in another order, against the same entries sorted:")
    for shape in SHAPES:
        for count in counts:
            for encoding in ("regedit4", "utf16"):
                commands = []
                names = shape_names(shape, count, encoding)
                for order in ("sorted", "shuffled", "descending"):
                    path = os.path.join(work, "order-%s-%s.reg" % (encoding, order))
                    write(path, shape[2](in_order(names, order)), encoding)
                    for b, sambrel in enumerate(builds):
                        commands.append(((order, b), [sambrel, "--registry", path, "--dry-run", "--choose",
                                                      "cancel"], None))
                times, _ = measure(commands, runs)
                for b in range(len(builds)):
                    sorted_ = times["sorted", b]
                    print("  %-30s %7d %-9s build %d: sorted %.3f s, shuffled %.2fx, descending %.2fx" % (
                        shape[0], count, encoding, b + 1, sorted_, times["shuffled", b] / sorted_,
                        times["descending", b] / sorted_))
                sys.stdout.flush()


def long_value_table(builds, work, runs):
    """One value of 8 Mi characters on one line, against a realistic file of
    as many bytes, per byte."""
    print("one value of 8 Mi characters, per byte against a realistic file of its size:")
    chars = 8 * MIB
    for encoding in ("regedit4", "utf16"):
        long_path = os.path.join(work, "long-%s.reg" % encoding)
        size = write(long_path, ["[HKEY_LOCAL_MACHINE\\Long]", '"v"="' + "x" * chars + '"'], encoding)
        real_path = os.path.join(work, "real-%s.reg" % encoding)
        real_size = write(real_path, realistic_lines(chars), encoding)
        commands = []
        for b, sambrel in enumerate(builds):
            for what, path in (("long", long_path), ("real", real_path)):
                commands.append(((what, b), [sambrel, "--registry", path, "--dry-run", "--choose", "cancel"], None))
        times, peaks = measure(commands, runs)
        for b in range(len(builds)):
            long_speed, real_speed = size / MIB / times["long", b], real_size / MIB / times["real", b]
            print("  %-9s build %d: the value %.1f MiB/s, the realistic file %.1f MiB/s: %.2fx; "
                  "peak RSS per byte %.2f and %.2f" % (encoding, b + 1, long_speed, real_speed,
                                                       long_speed / real_speed, peaks["long", b] / size,
                                                       peaks["real", b] / real_size))
        sys.stdout.flush()


def startup_table(builds, runs):
    """A run without a file (the default handheld), start to end."""
    commands = [(b, [sambrel, "--choose", "cancel"], None) for b, sambrel in enumerate(builds)]
    times, peaks = measure(commands, runs * 4)
    for b in range(len(builds)):
        print("start-up, build %d: a run without a file %.1f ms, peak RSS %.1f MiB" % (
            b + 1, times[b] * 1000, peaks[b] / MIB))


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("sambrel", nargs="+", help="builds measured side by side, numbered from 1")
    parser.add_argument("--sizes", default="1,5,10,40")
    parser.add_argument("--counts", default="100000,200000", help="entries of each shape listed in other orders")
    parser.add_argument("--runs", type=int, default=5)
    parser.add_argument("--no-orders", action="store_true")
    parser.add_argument("--orders-only", action="store_true")
    parser.add_argument("--dir", help="where the files are written (a disk, not memory, for the floor to mean "
                                      "anything); by default the temporary folder")
    args = parser.parse_args()
    builds = [os.path.abspath(b) for b in args.sambrel]
    work = tempfile.mkdtemp(prefix="regfile-speed.", dir=args.dir)
    try:
        for b, sambrel in enumerate(builds):
            print("build %d: %s" % (b + 1, sambrel))
        print("files in %s; load average: %.2f %.2f %.2f" % ((work,) + os.getloadavg()))
        if not args.orders_only:
            startup_table(builds, args.runs)
            sizes_table(builds, work, [int(s) for s in args.sizes.split(",")], args.runs, build_floor(work))
            long_value_table(builds, work, args.runs)
        if not args.no_orders:
            orders_table(builds, work, args.runs, [int(c) for c in args.counts.split(",")])
        print("load average: %.2f %.2f %.2f" % os.getloadavg())
    finally:
        shutil.rmtree(work)


if __name__ == "__main__":
    main()
