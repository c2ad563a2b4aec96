#!/usr/bin/env python3
"""Makes sambrel.cab, the handheld's installation cabinet, from sambrel.exe.

    cecab.py --gcab PATH/TO/gcab -o OUT.cab IN.exe

A Windows CE installation cabinet is a Microsoft cabinet whose first member
is the setup file (its name ends in .000) and whose other members, named by
their file numbers (.001 to .999), follow in descending order. The setup
file, written here, tells the handheld's installer the program's name and
provider, the processor and system versions it needs, where each file goes
and which shortcuts to make. Debian's gcab builds the cabinet itself,
uncompressed, as handheld cabinets usually are.

Nothing in the output depends on the time or the machine: every member is
dated DATE below, so two builds of the same image give the same bytes.
"""

import argparse
import os
import shutil
import struct
import subprocess
import sys
import tempfile

# Remove Programs lists an installed cabinet as "<provider> <name>" (the
# Pocket PC SDK's sample INF: "full app name will be \"<Provider>
# <AppName>\"", the provider at most 30 characters, the name at most 40):
# "Sambrel IR Modem Setup", no word twice.
PROVIDER = "Sambrel"
APP_NAME = "IR Modem Setup"
# The processor the cabinet is for, as the installer compares it with the
# handheld's: 0, any. The image runs on every ARM core from ARMv4 on, and
# the ARM handhelds report different numbers (StrongARM 2577, ARM 720 1824,
# ARM 920 2336, ...): naming StrongARM would turn the others away. On a
# handheld with another processor the cabinet installs and the system then
# refuses to start the program.
ARCHITECTURE = 0
# The lowest Windows CE version is the image's subsystem version. The
# highest version and the lowest and highest builds are 0, as for an INF
# whose [CEDevice] section sets no VersionMax, BuildMin or BuildMax.
# cabextract's notes on the setup file give each of these fields as "0 to
# indicate no restriction", and CabWiz's documentation of [CEDevice] says
# that for a key that is absent or empty "the checks specified for that key
# are not performed". Nothing seen here shows the bytes CabWiz itself
# writes for an absent key, nor a Handheld PC's installer taking this file:
# that 0 means no upper bound to it is the notes' word, not tried.
MIN_CE_VERSION = (2, 10)
MAX_CE_VERSION = (0, 0)
MIN_BUILD = MAX_BUILD = 0
# %CE1% is \Program Files, %CE11% the Start menu's Programs folder
# (\Windows\Programs on a Handheld PC, \Windows\Start Menu\Programs on a
# Pocket PC).
INSTALL_DIR = ("%CE1%", "Sambrel")
SHORTCUT_DIR = 11
# The Start menu's entry is the file \Windows\Programs\Sambrel.lnk: a
# shortcut is a .lnk file. CabWiz's documentation of CEShortcuts says the
# name an INF gives "does not require the .lnk extension"; whether CabWiz
# or the installer adds it is not documented, so the setup file names the
# file whole, which comes to the same either way (unless an installer added
# .lnk to a name that has it: not seen, not tried).
SHORTCUT = "Sambrel.lnk"
PROGRAM = "sambrel.exe"
# Member names: eight characters, a dot, the file number.
MEMBER = "SAMBREL.%03d"
PROGRAM_FILE_ID = 1
# Not skipped if it cannot be copied (bit 1), and replacing whatever copy
# an earlier installation left whatever its date (bit 30).
PROGRAM_FLAGS = 0x40000002
# 2000-01-01 00:00:00 UTC, for every member.
DATE = 946684800

HEADER_SIZE = 100


def cstr(text):
    return text.encode("ascii") + b"\0"


def setup_file():
    """The .000 file: the fixed header, then the name, the provider and the
    sections, each where the header says, without padding."""
    # The folder's parts and the shortcut's name, each a string of its own.
    strings = {1: INSTALL_DIR[0], 2: INSTALL_DIR[1], 3: SHORTCUT}
    string_id = {text: sid for sid, text in strings.items()}
    app, provider = cstr(APP_NAME), cstr(PROVIDER)

    section_strings = b"".join(struct.pack("<HH", sid, len(cstr(t))) + cstr(t) for sid, t in strings.items())
    install_spec = struct.pack("<%dH" % (len(INSTALL_DIR) + 1), *[string_id[p] for p in INSTALL_DIR], 0)
    section_dirs = struct.pack("<HH", 1, len(install_spec)) + install_spec
    name = cstr(PROGRAM)
    section_files = struct.pack("<HHHIH", PROGRAM_FILE_ID, 1, PROGRAM_FILE_ID, PROGRAM_FLAGS, len(name)) + name
    # The shortcut to the file (link type 1).
    link_spec = struct.pack("<HH", string_id[SHORTCUT], 0)
    section_links = struct.pack("<HHHHHH", 1, 0, SHORTCUT_DIR, PROGRAM_FILE_ID, 1, len(link_spec)) + link_spec

    at_app = HEADER_SIZE
    at_provider = at_app + len(app)
    at_strings = at_provider + len(provider)
    at_dirs = at_strings + len(section_strings)
    at_files = at_dirs + len(section_dirs)
    # No registry entries: the program writes its own when it runs. The
    # empty sections lie where they would begin.
    at_hives = at_regkeys = at_links = at_files + len(section_files)
    size = at_links + len(section_links)

    header = struct.pack("<4sIIIIIIIIIII", b"MSCE", 0, size, 0, 1, ARCHITECTURE, *MIN_CE_VERSION, *MAX_CE_VERSION,
                         MIN_BUILD, MAX_BUILD)
    header += struct.pack("<HHHHHH", len(strings), 1, 1, 0, 0, 1)
    header += struct.pack("<IIIIII", at_strings, at_dirs, at_files, at_hives, at_regkeys, at_links)
    # No UNSUPPORTED platforms: an empty string at offset 0.
    header += struct.pack("<HHHHHHHH", at_app, len(app), at_provider, len(provider), 0, 0, 0, 0)
    assert len(header) == HEADER_SIZE
    data = header + app + provider + section_strings + section_dirs + section_files + section_links
    assert len(data) == size
    return data


def main():
    parser = argparse.ArgumentParser(description="sambrel.exe to a Windows CE installation cabinet")
    parser.add_argument("program")
    parser.add_argument("-o", "--output", required=True)
    parser.add_argument("--gcab", required=True, help="Debian's gcab")
    args = parser.parse_args()
    # Staged beside the output, so that the finished cabinet is renamed into
    # place and a failed build leaves none.
    with tempfile.TemporaryDirectory(dir=os.path.dirname(os.path.abspath(args.output))) as stage:
        members = [MEMBER % 0, MEMBER % PROGRAM_FILE_ID]  # .000 first, then descending
        with open(os.path.join(stage, members[0]), "wb") as f:
            f.write(setup_file())
        shutil.copyfile(args.program, os.path.join(stage, members[1]))
        for m in members:
            os.utime(os.path.join(stage, m), (DATE, DATE))
        partial = os.path.join(stage, "out.cab")
        made = subprocess.run([args.gcab, "--create", "--nopath", partial] + [os.path.join(stage, m) for m in members],
                              stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
        if made.returncode != 0:
            print("cecab: gcab failed: %s" % made.stdout.strip(), file=sys.stderr)
            return 1
        os.replace(partial, args.output)
    return 0


if __name__ == "__main__":
    sys.exit(main())
