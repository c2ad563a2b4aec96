#!/usr/bin/env python3
"""Registry files at whole-process scale: how fast `sambrel --registry`
loads, and loads, runs and saves, generated .reg files of 1, 5, 10 and 40
MiB in both encodings, how much memory it takes per byte of file, how that
compares with a naive line-splitting reader (naive_reader.py, run in the
same measurement), and what shuffled or descending entries cost against
sorted ones.

    bench/regfile_speed.py PATH/TO/sambrel [--sizes 1,5,10,40] [--runs 3]

Prints one table; every figure is the median of the runs. "linearity" is a
size's load MiB/s over the 5 MiB file's (sizes before 5 MiB: over the
first size's). It checks
nothing: the targets are read off by whoever runs it.
"""

import argparse
import os
import random
import resource
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
MIB = 1 << 20


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


def ordered_lines(count, order):
    """One key of `count` values, sorted, shuffled or descending."""
    names = ["V%07d" % i for i in range(count)]
    if order == "shuffled":
        random.Random(7).shuffle(names)
    elif order == "descending":
        names.reverse()
    lines = ["[HKEY_LOCAL_MACHINE\\Ordered]"]
    lines += ['"%s"=dword:%08x' % (n, i) for i, n in enumerate(names)]
    return lines


def write(path, lines, encoding):
    if encoding == "regedit4":
        data = ("REGEDIT4\r\n\r\n" + "\r\n".join(lines) + "\r\n").encode("cp1252")
    else:
        text = "Windows Registry Editor Version 5.00\r\n\r\n" + "\r\n".join(lines) + "\r\n"
        data = b"\xff\xfe" + text.encode("utf-16-le")
    with open(path, "wb") as f:
        f.write(data)
    return len(data)


def timed(cmd):
    """Wall time and peak resident memory (bytes) of one child process."""
    before = resource.getrusage(resource.RUSAGE_CHILDREN).ru_maxrss
    start = time.perf_counter()
    proc = subprocess.run(cmd, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                          stderr=subprocess.PIPE)
    elapsed = time.perf_counter() - start
    if proc.returncode not in (0, 1):
        sys.exit("%s failed (%d): %s" % (" ".join(cmd), proc.returncode, proc.stderr.decode()[:300]))
    return elapsed, before


def peak_rss(cmd):
    """Peak resident memory of the command, in bytes, from GNU time."""
    out = subprocess.run(["/usr/bin/time", "-f", "%M"] + cmd, stdin=subprocess.DEVNULL,
                         stdout=subprocess.DEVNULL, stderr=subprocess.PIPE).stderr.decode()
    return int(out.strip().splitlines()[-1]) * 1024


def median_time(cmd, runs, prepare=None):
    times = []
    for _ in range(runs):
        if prepare:
            prepare()
        times.append(timed(cmd)[0])
    return statistics.median(times)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("sambrel")
    parser.add_argument("--sizes", default="1,5,10,40")
    parser.add_argument("--runs", type=int, default=3)
    args = parser.parse_args()
    sambrel = os.path.abspath(args.sambrel)
    naive = ["/usr/bin/python3", os.path.join(HERE, "naive_reader.py")]
    work = tempfile.mkdtemp(prefix="regfile-speed.")
    try:
        print("%-9s %6s %10s %12s %10s %10s %8s %10s" % (
            "encoding", "MiB", "load MiB/s", "+run+save", "RSS/byte", "naive", "ratio", "linearity"))
        sizes = [int(s) for s in args.sizes.split(",")]
        for encoding in ("regedit4", "utf16"):
            speeds = {}
            for mib in sizes:
                lines = realistic_lines(mib * MIB if encoding == "regedit4" else mib * MIB // 2)
                path = os.path.join(work, "%s-%d.reg" % (encoding, mib))
                size = write(path, lines, encoding)
                load = [sambrel, "--registry", path, "--dry-run", "--choose", "cancel"]
                t_load = median_time(load, args.runs)
                copy = path + ".copy"
                t_save = median_time([sambrel, "--registry", copy, "--choose", "com3"], args.runs,
                                     prepare=lambda: shutil.copyfile(path, copy))
                rss = peak_rss(load)
                t_naive = median_time(naive + [path], args.runs)
                speed = speeds[mib] = size / MIB / t_load
                base = speeds.get(5, speeds[sizes[0]])
                print("%-9s %6.1f %10.1f %12.1f %10.2f %10.1f %8.2f %10.2f" % (
                    encoding, size / MIB, speed, size / MIB / t_save, rss / size,
                    size / MIB / t_naive, t_naive / t_load, speed / base))
        for encoding in ("regedit4", "utf16"):
            times = {}
            for order in ("sorted", "shuffled", "descending"):
                path = os.path.join(work, "order-%s-%s.reg" % (encoding, order))
                write(path, ordered_lines(128000, order), encoding)
                times[order] = median_time([sambrel, "--registry", path, "--dry-run", "--choose", "cancel"],
                                           args.runs)
            print("%-9s 128,000 values in one key: sorted %.2f s, shuffled %.2fx, descending %.2fx" % (
                encoding, times["sorted"], times["shuffled"] / times["sorted"],
                times["descending"] / times["sorted"]))
    finally:
        shutil.rmtree(work)


if __name__ == "__main__":
    main()
