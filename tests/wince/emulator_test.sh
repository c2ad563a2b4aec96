#!/usr/bin/env bash
# sambrel --image with guest programs that do what a handheld refuses: each
# run stops with exit status 70 and a message naming the address and what
# happened, never a crash or a hang of sambrel, and nothing is saved. Images
# that are not CE ARM programs, and installation cabinets that are damaged
# or install none, are refused before anything runs. The libraries for
# images and cabinets are loaded only by the runs that need them.
# Usage: emulator_test.sh PATH/TO/sambrel PATH/TO/sambrel.exe
set -u
sambrel=$(realpath "$1")
image=$2
. "$(dirname "$0")/lib.sh"
need gcab gcab
need cabextract cabextract
need gcc gcc

# run NAME STATUS WORDS ARGS...: sambrel's status and a line holding WORDS.
# A run that does not end is killed after five minutes (exit 124): a hang
# fails the test instead of stopping the suite.
run() {
    local name=$1 status=$2 words=$3
    shift 3
    timeout -k 10 300 "$sambrel" --choose com3 "$@" </dev/null >"$work/out" 2>&1
    local rc=$?
    if [ "$rc" -ne "$status" ]; then
        fail "$name" "exit $rc, expected $status: $(head -3 "$work/out")"
    elif ! grep -qF -- "$words" "$work/out"; then
        fail "$name" "no '$words' in: $(head -3 "$work/out")"
    else
        pass "$name: $(grep -F -- "$words" "$work/out" | head -1)"
    fi
}

# program NAME BODY [DEFINITIONS]: a guest, SambrelStartup's body after the
# core library's imports (CeNAME, the handheld's own) and its definitions.
program() {
    local name=$1 body=$2
    {
        echo '#include "platform/wince/public/coredll_imports.h"'
        echo "${3:-}"
        echo 'extern "C" int SambrelStartup(HINSTANCE instance, HINSTANCE, LPWSTR, int) {'
        echo "$body"
        echo '}'
    } > "$work/$name.cpp"
    guest "$name" "$work/$name.cpp" -Wno-error && convert "$name" || fail "$name" "does not build: $(cat "$work/$name.err")"
}

# clean NAME: what the last run printed holds no control character but line
# ends: nothing from the image reaches the terminal raw.
clean() {
    if LC_ALL=C grep -q $'[\x01-\x09\x0b-\x1f\x7f]' "$work/out"; then
        fail "$1" "raw control characters: $(LC_ALL=C grep $'[\x01-\x09\x0b-\x1f\x7f]' "$work/out" | head -2 | cat -v)"
    else
        pass "$1"
    fi
}

# patch FROM NAME CODE: $work/NAME.exe, FROM's bytes after the Python CODE
# changed them (d, a bytearray; pe, where the PE header starts).
patch() {
    /usr/bin/python3 -c "import struct, sys; d = bytearray(open(sys.argv[1], 'rb').read()); pe = struct.unpack_from('<I', d, 0x3C)[0]; exec(sys.argv[3]); open(sys.argv[2], 'wb').write(d)" \
        "$1" "$work/$2.exe" "$3"
}

printf '    .text\n    .global SambrelStartup\nSambrelStartup:\n    mov r0, #1\n    .inst 0xe12fff1e\n' > "$work/bx.s"
guest bx "$work/bx.s" && convert bx
run bx-on-sa1110 70 "invalid instruction 0xe12fff1e at 0x00011004" --image "$work/bx.exe"
run bx-on-pxa255 1 "There is no IR modem entry" --image "$work/bx.exe" --cpu pxa255
run bx-on-pxa255-any-case 1 "There is no IR modem entry" --image "$work/bx.exe" --cpu PXA255
run bx-on-sa1110-named 70 "invalid instruction 0xe12fff1e at 0x00011004" --image "$work/bx.exe" --cpu Sa1110

program null-write '*(volatile int *)0 = 1; return 1;'
run null-write 70 "write to unmapped memory at 0x00000000" --image "$work/null-write.exe"
program code-write '*(volatile unsigned *)&SambrelStartup = 0; return 1;'
run code-write 70 "write to read-only memory at 0x00011000" --image "$work/code-write.exe"
program runaway 'for (;;) __asm__ volatile(""); return 1;'
run runaway 70 "runaway: more than 50000000 instructions" --image "$work/runaway.exe"
program null-call 'int (*volatile f)(void) = 0; return f();'
run null-call 70 "jump to address 0" --image "$work/null-call.exe"

# A program that halts the processor waits for an interrupt that nothing on
# the emulated handheld raises: said as such, with the halting
# instruction's address. Wait for interrupt through cp15 on both
# processors; the XScale's idle and sleep through its power mode register
# (cp14), which the SA-1110 does not have. A wait whose condition fails
# goes on.
asm() { # NAME INSTRUCTIONS...: a guest whose SambrelStartup runs them, then returns 1
    local name=$1
    shift
    { printf '    .text\n    .global SambrelStartup\nSambrelStartup:\n'; printf '    %s\n' "$@" 'mov r0, #1' 'mov pc, lr'; } > "$work/$name.s"
    guest "$name" "$work/$name.s" && convert "$name" || fail "$name" "does not build: $(cat "$work/$name.err")"
}
asm wait-for-interrupt 'mov r0, #0' 'mcr p15, 0, r0, c7, c0, 4'
asm wait-for-interrupt-r7 'mov r7, #0' 'mcr p15, 0, r7, c7, c0, 4'
asm wait-not-taken 'mov r0, #0' 'cmp r0, #1' 'mcreq p15, 0, r0, c7, c0, 4'
asm idle 'mov r0, #1' 'mcr p14, 0, r0, c7, c0, 0'
asm sleep 'mov r3, #3' 'mcr p14, 0, r3, c7, c0, 0'
asm run-mode 'mov r2, #0' 'mcr p14, 0, r2, c7, c0, 0'
while read -r name exe cpu status words; do
    run "$name" "$status" "$words" --image "$work/$exe.exe" --cpu "$cpu"
done <<'EOF'
halt-wfi-sa1110    wait-for-interrupt    sa1110 70 the processor halted at 0x00011004: wait for interrupt (mcr p15, 0, r0, c7, c0, 4)
halt-wfi-pxa255    wait-for-interrupt    pxa255 70 the processor halted at 0x00011004: wait for interrupt (mcr p15, 0, r0, c7, c0, 4)
halt-wfi-r7        wait-for-interrupt-r7 pxa255 70 the processor halted at 0x00011004: wait for interrupt (mcr p15, 0, r7, c7, c0, 4)
wfi-not-taken      wait-not-taken        sa1110 1  There is no IR modem entry
halt-idle-pxa255   idle                  pxa255 70 the processor halted at 0x00011004: idle (mcr p14, 0, r0, c7, c0, 0 with mode 1)
halt-sleep-pxa255  sleep                 pxa255 70 the processor halted at 0x00011004: sleep (mcr p14, 0, r3, c7, c0, 0 with mode 3)
run-mode-pxa255    run-mode              pxa255 70 power mode change at 0x00011004 (mcr p14, 0, r2, c7, c0, 0 with mode 0)
idle-sa1110        idle                  sa1110 70 invalid instruction 0xee070e10 at 0x00011004: the StrongARM SA-1110 has no such instruction
EOF
program bad-text 'CeMessageBoxW(0, (const WCHAR *)4, u"@", 0); return 1;'
run bad-text 70 "MessageBoxW's text reads" --image "$work/bad-text.exe"
program format-into-code 'CewsprintfW((WCHAR *)(void *)&SambrelStartup, u"%d", 42); return 1;'
run format-into-code 70 "wsprintfW's output writes to read-only memory" --image "$work/format-into-code.exe"
program wcscmp-null-first 'return Cewcscmp(0, u"a");'
run wcscmp-null-first 70 "wcscmp's text reads a text past mapped memory at 0x00000000" --image "$work/wcscmp-null-first.exe"
program wcscmp-null-second 'return Cewcscmp(u"a", 0);'
run wcscmp-null-second 70 "wcscmp's text reads a text past mapped memory at 0x00000000" --image "$work/wcscmp-null-second.exe"
# The widest conversions the formatter reads (99,999 characters) cost no
# more than the output they fill: two thousand of them end at once.
program wide-conversions 'static WCHAR out[1024];
for (int i = 0; i < 2000; ++i)
    CewsprintfW(out, u"%99999.99999d%-99999s", 1, u"x");
return Cewcslen(out) == 1023 ? 3 : 4;'
run wide-conversions 3 "There is no IR modem entry" --image "$work/wide-conversions.exe"

# An image's exit code is the run's status only where it cannot be taken
# for one of sambrel's own (64 and above, 128+n after a signal).
program exit-63 'return 63;'
run exit-63 63 "There is no IR modem entry" --image "$work/exit-63.exe"
for code in 64 75 130 -1; do
    program "exit-$code" "return $code;"
    run "exit-$code" 70 "the image ended with exit code $code" --image "$work/exit-$code.exe"
done

# A run that faults saves nothing, even after it changed the registry.
program fault-after-write 'HKEY k; DWORD d; CeRegCreateKeyExW(HKEY_LOCAL_MACHINE, u"ExtModems", 0, (WCHAR *)u"", 0, 0, 0, &k, &d); *(volatile int *)0 = 1; return 1;'
run fault-saves-nothing 70 "write to unmapped memory" --image "$work/fault-after-write.exe" --registry "$work/new.reg"
if [ -e "$work/new.reg" ]; then fail fault-no-file "$work/new.reg was created"; else pass "fault-no-file"; fi

# A value name that the registry file's encoding cannot hold (half a
# surrogate pair, which neither UTF-8 nor Windows-1252 can) is not saved
# (74), and the refusal names that encoding; the file stays as it was.
program unwritable-name 'HKEY k; DWORD d, v = 1;
static const WCHAR name[] = {0x61, 0xD800, 0};
if (CeRegCreateKeyExW(HKEY_LOCAL_MACHINE, u"K", 0, (WCHAR *)u"", 0, 0, 0, &k, &d)) return 5;
return CeRegSetValueExW(k, name, 0, 4, (const BYTE *)&v, 4) ? 6 : 3;'
while read -r encoding header; do
    printf '%s\r\n\r\n[HKEY_LOCAL_MACHINE\\K]\r\n' "$header" > "$work/$encoding.reg"
    cp "$work/$encoding.reg" "$work/$encoding.orig"
    run "unwritable-name-$encoding" 74 "cannot be written in $encoding, this file's encoding" \
        --image "$work/unwritable-name.exe" --registry "$work/$encoding.reg"
    if cmp -s "$work/$encoding.reg" "$work/$encoding.orig"; then pass "unwritable-name-$encoding-kept"; else fail "unwritable-name-$encoding-kept" "the file changed"; fi
done <<'EOF'
UTF-8 Windows Registry Editor Version 5.00
Windows-1252 REGEDIT4
EOF

# Images the handheld's loader would not take.
if [ -f "$image" ]; then
    patch "$image" thumb-image 'struct.pack_into("<H", d, pe + 4, 0x1C2)'
    run thumb-image 65 "a Thumb image" --image "$work/thumb-image.exe"
    patch "$image" console 'struct.pack_into("<H", d, pe + 24 + 68, 3)'
    run not-ce 65 "not a Windows CE program" --image "$work/console.exe"
    # An import of an ordinal that the handheld does not serve, 859, for
    # MessageBoxW's.
    patch "$image" unserved "i = d.index((0x80000000 | $(ordinal MessageBoxW)).to_bytes(4, 'little')); d[i:i + 4] = (0x80000000 | 859).to_bytes(4, 'little')"
    run unserved-ordinal 70 "COREDLL ordinal 859" --image "$work/unserved.exe"
    patch "$image" truncated 'del d[0x300:]'
    run truncated 65 "lies outside the image" --image "$work/truncated.exe"
    # The dialog's caption from the image, with terminal controls in it:
    # --choose shows them escaped.
    patch "$image" escaped-caption 'i = d.index("Sambrel v1.0".encode("utf-16-le")); d[i:i + 2] = b"\x1b\x00"'
    run escaped-caption 1 '== \x1bambrel v1.0 ==' --image "$work/escaped-caption.exe"
    clean escaped-caption-clean
else
    echo "SKIP (patched images): $image is not built; build it first: cmake --preset wince && cmake --build --preset wince"
fi
# The core library's conformance checks, built as a CE image beside
# sambrel.exe, pass on the emulated handheld as on the others.
conformance=$(dirname "$image")/conformance.exe
if [ -f "$conformance" ]; then
    "$sambrel" --image "$conformance" --choose cancel </dev/null >"$work/out" 2>&1
    rc=$?
    totals=$(grep -E '^[0-9]+ passed, [0-9]+ failed$' "$work/out")
    if [ "$rc" -eq 0 ] && [[ $totals == *" passed, 0 failed" ]]; then
        pass "conformance on the image ($totals)"
    else
        fail conformance "exit $rc: $(grep -E '^FAIL|passed|sambrel:' "$work/out" | head -5)"
    fi
else
    echo "SKIP (conformance): $conformance is not built; build it first: cmake --preset wince && cmake --build --preset wince"
fi
# Installation cabinets: the one built runs, by its contents whatever its
# name; damaged ones, ones that install no program, and members beyond the
# bound are refused.
cab=$(dirname "$image")/sambrel.cab
if [ -f "$cab" ]; then
    final="Infrared port is now COM3:"
    run cabinet 1 "$final" --image "$cab"
    cp "$cab" "$work/cabinet-named.exe"
    run cabinet-by-signature 1 "$final" --image "$work/cabinet-named.exe"
    head -c -1 "$cab" > "$work/short.cab"
    run cabinet-one-byte-short 65 "the cabinet ends early" --image "$work/short.cab"
    mkdir "$work/members"
    cabextract -q -d "$work/members" "$cab"
    (cd "$work/members" && gcab -c -n "$work/no-setup.cab" SAMBREL.001)
    run cabinet-without-setup-file 65 "no member is a setup file" --image "$work/no-setup.cab"
    echo 'not an image' > "$work/members/text.001"
    (cd "$work/members" && cp text.001 SAMBREL.001 && gcab -c -n "$work/text-inside.cab" SAMBREL.000 SAMBREL.001)
    run cabinet-of-a-text-file 65 "SAMBREL.001: not an executable image" --image "$work/text-inside.cab"
    : > "$work/members/SAMBREL.001"
    (cd "$work/members" && gcab -c -n "$work/empty-inside.cab" SAMBREL.000 SAMBREL.001)
    run cabinet-of-an-empty-program 65 "SAMBREL.001: it is empty, not a program" --image "$work/empty-inside.cab"
    # 9 MiB of zeros compress to a few KiB (MSZIP); the bound is 8 MiB.
    head -c $((9 << 20)) /dev/zero > "$work/members/SAMBREL.001"
    (cd "$work/members" && gcab -c -z -n "$work/bomb.cab" SAMBREL.000 SAMBREL.001)
    run cabinet-member-beyond-bound 65 "SAMBREL.001: it is 9437184 bytes, more than the 8388608" --image "$work/bomb.cab"
    echo "(that cabinet: $(stat -c %s "$work/bomb.cab") bytes)"
    # The cabinet in a folder of each compression method (the cabinet
    # fuzzer's seeds, fuzz/cabinet_seeds.py) reads in cabextract and runs as
    # the uncompressed one; a window its method does not have is said as
    # such.
    for method in mszip lzx quantum; do
        seed=$top/fuzz/cabinet_corpus/sambrel_$method.cab
        if out=$(cabextract -t "$seed" 2>&1); then pass "cabextract-$method"; else fail "cabextract-$method" "$out"; fi
        run "cabinet-$method" 1 "$final" --image "$seed"
    done
    for bad in lzx:22 quantum:9; do
        /usr/bin/python3 -c 'import sys; d = bytearray(open(sys.argv[1], "rb").read()); d[43] = int(sys.argv[3]); open(sys.argv[2], "wb").write(d)' \
            "$top/fuzz/cabinet_corpus/sambrel_${bad%:*}.cab" "$work/window.cab" "${bad#*:}"
        run "cabinet-${bad%:*}-window-${bad#*:}" 65 "SAMBREL.000: its folder's compression cannot be set up: a window of 2^${bad#*:} bytes" \
            --image "$work/window.cab"
    done
    # A libmspack without its functions: said at once, exit 69.
    mkdir "$work/lib"
    gcc -shared -o "$work/lib/libmspack.so.0" -x c /dev/null
    LD_LIBRARY_PATH=$work/lib run cabinet-reader-missing 69 "needs libmspack" --image "$cab"

    # loaded ARGS...: the emulator's, the cabinet reader's and the cell's
    # libraries a run loads.
    loaded() {
        LD_DEBUG=files "$sambrel" --choose cancel "$@" </dev/null 2>&1 >/dev/null |
            grep -oE 'file=lib(unicorn|mspack|seccomp)\.so[.0-9]*' | sed 's/^file=//' | sort -u | tr '\n' ' '
    }
    for c in "plain:" "image:libseccomp.so.2 libunicorn.so.2 --image $image" \
             "cabinet:libmspack.so.0 libseccomp.so.2 libunicorn.so.2 --image $cab"; do
        name=${c%%:*} rest=${c#*:}
        want=${rest%%--*} args=${rest#"$want"}
        # shellcheck disable=SC2086
        got=$(loaded $args)
        if [ "$got" = "$want" ]; then pass "libraries loaded ($name run): ${got:-none}"; else fail "libraries loaded ($name run)" "'$got', expected '$want'"; fi
    done
else
    echo "SKIP (cabinets): $cab is not built; build it first: cmake --preset wince && cmake --build --preset wince"
fi
echo 'not an image' > "$work/text.exe"
run text-file 65 "not an executable image" --image "$work/text.exe"
run missing 66 "cannot be read" --image "$work/missing.exe"

# Paths that are not images are refused before anything is read: a folder,
# a device that never ends, a FIFO nobody writes to, and a file one byte
# larger than an image may be (64 MiB; the largest is read and checked).
mkdir "$work/folder.exe"
run folder 65 "not a regular file" --image "$work/folder.exe"
run endless-device 65 "not a regular file" --image /dev/zero
mkfifo "$work/fifo.exe"
run fifo 65 "not a regular file" --image "$work/fifo.exe"
truncate -s $((64 << 20)) "$work/largest.exe"
run largest-file 65 "not an executable image" --image "$work/largest.exe"
truncate -s $(((64 << 20) + 1)) "$work/too-large.exe"
run too-large-file 65 "larger than an image may be" --image "$work/too-large.exe"

# What the image shows reaches the terminal escaped, as --messages writes it.
program escaped-box 'CeMessageBoxW(0, u"\x1b]0;owned\x07\x1b[2Jtext\nnext", u"\x1b[31mred", 0); return 1;'
run escaped-box 1 '\x1b]0;owned\x07\x1b[2Jtext' --image "$work/escaped-box.exe"
clean escaped-box-clean

# Drawn at a terminal, an image's text stays inside its box: a character
# that would move the cursor (backspace, tab, a carriage return within a
# caption) or reorder the text (U+202E) takes one cell as U+FFFD, and line
# ends in a box's text break its lines as DrawText breaks them.
program drawn-box 'CeMessageBoxW(0, u"one\r\ntwo\rthree", u"a\bb\tc\u202ed\re", 0); return 1;'
/usr/bin/python3 - "$sambrel" "$work/drawn-box.exe" >"$work/drawn" <<'PY'
import fcntl, os, pty, select, struct, sys, termios
pid, fd = pty.fork()
if pid == 0:
    fcntl.ioctl(0, termios.TIOCSWINSZ, struct.pack("HHHH", 30, 100, 0, 0))
    os.environ["TERM"] = "xterm"
    os.execv(sys.argv[1], [sys.argv[1], "--image", sys.argv[2]])
out, answered = b"", False
while True:
    # Each wait is for sambrel's next output; a run that goes silent for
    # a minute has hung, and the empty answer fails the test.
    if not select.select([fd], [], [], 60)[0]:
        break
    try:
        chunk = os.read(fd, 65536)
    except OSError:
        break
    if not chunk:
        break
    out += chunk
    if not answered and b"<OK>" in out:
        os.write(fd, b"\r")
        answered = True
_, status = os.waitpid(pid, 0)
sys.stdout.buffer.write(b"%d\n" % os.waitstatus_to_exitcode(status) + out)
PY
cell=$'\xef\xbf\xbd'
if [ "$(head -1 "$work/drawn")" != 1 ]; then
    fail drawn-box "exit $(head -1 "$work/drawn"), expected 1"
elif ! LC_ALL=C grep -qF "a${cell}b${cell}c${cell}d${cell}e" "$work/drawn"; then
    fail drawn-box "the caption's controls not drawn as U+FFFD: $(LC_ALL=C grep -ao 'a.\{0,12\}e' "$work/drawn" | head -1 | cat -v)"
elif LC_ALL=C grep -qF -e "one${cell}" -e "two${cell}" "$work/drawn"; then
    fail drawn-box "a line end in the text drawn instead of breaking the line"
else
    pass drawn-box
fi

# Buffer sizes the image claims are held to what the host buffer and the
# guest's memory hold: a 17 MB value enumerated into 64 bytes said to be
# 4 GiB is too large for them (ERROR_MORE_DATA, 234), and the size it needs
# is reported.
/usr/bin/python3 -c 'import sys; open(sys.argv[1], "w").write("REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\Big]\n\"v\"=\"" + "a" * 8500000 + "\"\n")' "$work/big.reg"
program enum-huge 'HKEY k = 0; if (CeRegOpenKeyExW(HKEY_LOCAL_MACHINE, u"Big", 0, 0, &k)) return 5;
BYTE data[64]; WCHAR name[8]; DWORD cch = 8, type = 0, cb = 0xFFFFFFFFu;
LONG r = CeRegEnumValueW(k, 0, name, &cch, 0, &type, data, &cb);
return r == 234 && cb == 17000002u ? 3 : 4;'
run enum-into-small-buffer 3 "There is no IR modem entry" --image "$work/enum-huge.exe" --registry "$work/big.reg" --dry-run

# Dialogs opened from dialog procedures nest at most 16 deep; one more ends
# the run, however large the guest's stack.
nested='struct Ctx { HINSTANCE instance; LPCDLGTEMPLATEW tmpl; int depth, max; };
static INT_PTR Proc(HWND w, UINT message, WPARAM, LPARAM lp)
{
    Ctx *c = (Ctx *)lp;
    if (message != 0x110)
        return 0;
    if (c->depth++ < c->max)
        CeDialogBoxIndirectParamW(c->instance, c->tmpl, w, Proc, lp);
    CeEndDialog(w, 7);
    return 1;
}'
nest() { echo "HRSRC res = CeFindResourceW(instance, u\"QUESTIONDIALOG\", RT_DIALOG);
Ctx c = {instance, (LPCDLGTEMPLATEW)CeLoadResource(instance, res), 0, $1};
return CeDialogBoxIndirectParamW(instance, c.tmpl, 0, Proc, (LPARAM)&c);"; }
program nested-16 "$(nest 15)" "$nested"
run dialogs-nested-16 7 "There is no IR modem entry" --image "$work/nested-16.exe"
program nested-17 "$(nest 16)" "$nested"
run dialogs-nested-17 70 "dialogs nested more than 16 deep" --image "$work/nested-17.exe"
program nested-forever "$(nest 1000000000)" "$nested"
patch "$work/nested-forever.exe" nested-forever-1mib 'struct.pack_into("<I", d, pe + 24 + 72, 0x100000)'
run dialogs-nested-without-end 70 "dialogs nested more than 16 deep" --image "$work/nested-forever-1mib.exe"

# An odd address is Thumb state: the SA-1110 (ARMv4) has none, so an odd
# entry point, return address or dialog procedure is a fault there; on the
# PXA255 (ARMv5TE) it is an interworking call or return.
printf '    .text\n    .global SambrelStartup\nSambrelStartup:\n    .short 0x2001, 0x4770\n' > "$work/thumb-entry.s"
guest thumb-entry "$work/thumb-entry.s" && convert thumb-entry
patch "$work/thumb-entry.exe" thumb-entry-odd 'struct.pack_into("<I", d, pe + 40, struct.unpack_from("<I", d, pe + 40)[0] | 1)'
run thumb-entry-on-sa1110 70 "Thumb state" --image "$work/thumb-entry-odd.exe"
run thumb-entry-on-pxa255 1 "There is no IR modem entry" --image "$work/thumb-entry-odd.exe" --cpu pxa255
printf '    .text\n    .global SambrelStartup\nSambrelStartup:\n    mov r4, lr\n    adr lr, back + 1\n    b coredll_ordinal_%s\nback:\n    .short 0x2003, 0x4720\n' \
    "$(ordinal GetLastError)" > "$work/thumb-return.s"
guest thumb-return "$work/thumb-return.s" && convert thumb-return
run thumb-return-on-sa1110 70 "Thumb state" --image "$work/thumb-return.exe"
run thumb-return-on-pxa255 3 "There is no IR modem entry" --image "$work/thumb-return.exe" --cpu pxa255
program thumb-procedure 'HRSRC res = CeFindResourceW(instance, u"QUESTIONDIALOG", RT_DIALOG);
return CeDialogBoxIndirectParamW(instance, (LPCDLGTEMPLATEW)CeLoadResource(instance, res), 0, (DLGPROC)((char *)(void *)Proc + 1), 0);' \
    'static INT_PTR Proc(HWND w, UINT message, WPARAM, LPARAM) { if (message == 0x110) CeEndDialog(w, 3); return 0; }'
run thumb-procedure-on-sa1110 70 "Thumb state" --image "$work/thumb-procedure.exe"

# The host's work in a served call counts against the instruction budget:
# a hundred wcslen calls over a text of a million characters cost few
# guest instructions but 200 million bytes read.
program long-texts 'static WCHAR text[1 << 20];
Cememset(text, 0x41, sizeof text - 2);
unsigned n = 0;
for (int i = 0; i < 100; ++i)
    n += Cewcslen(text);
return n == 100u * ((1u << 20) - 1) ? 3 : 4;'
run host-work-counted 70 "runaway: more than 50000000 instructions" --image "$work/long-texts.exe"

# The registry may grow by 64 MiB in a run, each new key counted by its
# full path as a saved file spells it: two thousand keys under a chain of
# a hundred 255-character names would save as 100 MB.
program deep-keys 'WCHAR name[256];
for (int i = 0; i < 255; ++i)
    name[i] = u'"'"'k'"'"';
name[255] = 0;
HKEY key = HKEY_CURRENT_USER, next = 0;
DWORD d = 0;
for (int level = 0; level < 100; ++level) {
    if (CeRegCreateKeyExW(key, name, 0, 0, 0, 0, 0, &next, &d))
        return 5;
    key = next;
}
WCHAR leaf[16];
for (int i = 0; i < 2000; ++i) {
    CewsprintfW(leaf, u"%d", i);
    if (CeRegCreateKeyExW(key, leaf, 0, 0, 0, 0, 0, &next, &d))
        return 6;
}
return 3;'
run registry-growth-capped 70 "the registry grew by more than 64 MiB" --image "$work/deep-keys.exe" --dry-run --registry "$work/deep.reg"

# Images whose tables would make the reader's work or memory grow faster
# than the file: import descriptors sharing one table, resource
# directories sharing their subdirectories, a relocation block larger than
# its section, sections lying over each other or more of them than Windows
# loads (96). Each is an image forged here, whose code returns 3.
cat > "$work/forge.py" <<'EOF'
import struct, sys

kind, out, imported = sys.argv[1], sys.argv[2], int(sys.argv[3])  # imported: an ordinal the handheld serves
RVA = 0x1000
body = bytearray(struct.pack("<II", 0xE3A00003, 0xE1A0F00E))  # mov r0, #3; mov pc, lr
dirs, count = {}, 1


def put(b):
    at = RVA + len(body)
    body.extend(b)
    body.extend(bytes(-len(body) % 4))
    return at


if kind == "shared-imports":
    dll = put(b"COREDLL.dll\0")
    table = put(struct.pack("<2001I", *([0x80000000 | imported] * 2000 + [0])))
    desc = put(struct.pack("<5I", table, 0, 0, dll, table) * 2000 + bytes(20))
    dirs[1] = (desc, 20 * 2001)
elif kind == "shared-resources":
    k, size = 16, 4096
    base = RVA + len(body)
    one = 16 + 8 * k
    def directory(target):
        return struct.pack("<IIHHHH", 0, 0, 0, 0, 0, k) + b"".join(struct.pack("<II", i + 1, target) for i in range(k))
    rsrc = (directory(0x80000000 | one) + directory(0x80000000 | 2 * one) + directory(3 * one)
            + struct.pack("<4I", base + 3 * one + 16, size, 0, 0) + bytes(size))
    put(rsrc)
    dirs[2] = (base, len(rsrc))
elif kind == "shared-resource-name":
    # One 32,000-character type name over 2,000 resources of no data: a
    # file of 160 KB whose resources would keep 128 MB of names.
    k, length = 2000, 32000
    base = RVA + len(body)
    names, langs = 24, 24 + 16 + 8 * k
    leaves = langs + 24 * k
    text = leaves + 16 * k
    rsrc = struct.pack("<IIHHHHII", 0, 0, 0, 0, 1, 0, 0x80000000 | text, 0x80000000 | names)
    rsrc += struct.pack("<IIHHHH", 0, 0, 0, 0, 0, k)
    rsrc += b"".join(struct.pack("<II", i + 1, 0x80000000 | (langs + 24 * i)) for i in range(k))
    rsrc += b"".join(struct.pack("<IIHHHHII", 0, 0, 0, 0, 0, 1, 0x409, leaves + 16 * i) for i in range(k))
    rsrc += struct.pack("<4I", base, 0, 0, 0) * k
    rsrc += struct.pack("<H", length) + ("T" * length).encode("utf-16-le")
    put(rsrc)
    dirs[2] = (base, len(rsrc))
elif kind.startswith("rewrites-"):
    # Rewrites the instruction after its store, N times in a loop: ldr r2,
    # =N; loop: ldr r3, =nop; str r3, [pc, #-4]; nop; subs r2, r2, #1; bne
    # loop; then returns 3.
    body[:] = struct.pack("<10I", 0xE59F2018, 0xE59F3018, 0xE50F3004, 0xE1A00000, 0xE2522001, 0x1AFFFFFA,
                          0xE3A00003, 0xE1A0F00E, int(kind.split("-")[1]), 0xE1A00000)
elif kind == "rewritten-call":
    # push {lr}; bl f; ldr r3, =(mov r0, #5); str r3, [f]; bl f; pop {pc};
    # f: mov r0, #1; mov pc, lr. The second call runs the new instruction.
    body[:] = struct.pack("<9I", 0xE92D4000, 0xEB000003, 0xE59F3010, 0xE58F3004, 0xEB000000, 0xE8BD8000,
                          0xE3A00001, 0xE1A0F00E, 0xE3A00005)
elif kind == "long-relocation-block":
    dirs[5] = (put(struct.pack("<II", 0x1000, 0xFFFFFFF0) + bytes(8)), 0xFFFFFFFF)
elif kind == "overlapping-sections":
    count = 2
elif kind.endswith("-sections"):
    count = int(kind.split("-")[0])

raw = (0x138 + 40 * count + 0x1FF) & ~0x1FF
size = (len(body) + 0x1FF) & ~0x1FF
image = bytearray(raw + size)
image[0:2] = b"MZ"
struct.pack_into("<I", image, 0x3C, 0x40)
image[0x40:0x44] = b"PE\0\0"
struct.pack_into("<HHIIIHH", image, 0x44, 0x01C0, count, 0, 0, 0, 224, 0x010E)
struct.pack_into("<HBBIIIIII", image, 0x58, 0x10B, 0, 0, size, 0, 0, RVA, RVA, RVA)
struct.pack_into("<IIIHHHHHHIIIIHHIIIIII", image, 0x58 + 28, 0x10000, 0x1000, 0x200, 2, 10, 0, 0, 2, 10,
                 0, RVA + ((len(body) + 0xFFF) & ~0xFFF), 0x200, 0, 9, 0, 0x10000, 0x1000, 0x100000, 0x1000, 0, 16)
for index, (rva, length) in dirs.items():
    struct.pack_into("<II", image, 0x58 + 96 + 8 * index, rva, length)
apart = kind != "overlapping-sections"  # the others' sections lie one after another
step = (len(body) + 0xFFF) & ~0xFFF
image.extend(bytes(size * (count - 1) * apart))
for i in range(count):
    struct.pack_into("<8sIIIIIIHHI", image, 0x138 + 40 * i, b".text", len(body), RVA + step * i * apart, size,
                     raw + size * i * apart, 0, 0, 0, 0, 0xE0000020)
    image[raw + size * i * apart:raw + size * i * apart + len(body)] = body
struct.pack_into("<I", image, 0x58 + 56, RVA + step * (count if apart else 1))
# Images the handheld cannot lay out below its stack, or without headers.
placed = {"base-0": (0, None), "base-past-the-stack": (0xE00000, None), "no-headers": (0x10000, 0)}
if kind in placed:
    struct.pack_into("<I", image, 0x58 + 28, placed[kind][0])
    if placed[kind][1] is not None:
        struct.pack_into("<I", image, 0x58 + 60, placed[kind][1])
open(out, "wb").write(image)
EOF
forged() { /usr/bin/python3 "$work/forge.py" "$1" "$work/$1.exe" "$(ordinal wcslen)"; }
forged shared-imports
run shared-import-tables 65 "import tables shared" --image "$work/shared-imports.exe"
forged shared-resources
run shared-resource-directories 65 "damaged resource directory" --image "$work/shared-resources.exe"
forged shared-resource-name
run resource-name-over-many-resources 65 "damaged resource directory" --image "$work/shared-resource-name.exe"
for placement in base-0 base-past-the-stack no-headers; do
    forged $placement
    run image-$placement 65 "image base or size out of range" --image "$work/$placement.exe"
done
forged long-relocation-block
run relocation-block-past-its-section 65 "larger than its section" --image "$work/long-relocation-block.exe"
forged overlapping-sections
run overlapping-sections 65 "overlaps another" --image "$work/overlapping-sections.exe"
# Code that rewrites itself runs as it would on the handheld: a function
# called, rewritten and called again runs its new code. Translating it again is
# charged against the budget, so that rewriting the next instruction in a
# loop, 100 thousand, 1 million or 100 million times, ends the run (70)
# within the budget, with the host's memory well under the 1 GiB buffer
# libunicorn translates into (it crashed once that was full). Its peak
# resident memory and time are printed.
forged rewritten-call
run rewritten-function-runs 5 "There is no IR modem entry" --image "$work/rewritten-call.exe"
for n in 100000 1000000 100000000; do
    forged "rewrites-$n"
    /usr/bin/python3 -c 'import os, subprocess, sys, time
start = time.monotonic()
run = subprocess.Popen(sys.argv[2:], stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=open(sys.argv[1], "wb"))
_, status, usage = os.wait4(run.pid, 0)
print(os.waitstatus_to_exitcode(status), usage.ru_maxrss // 1024, "%.1f" % (time.monotonic() - start))' \
        "$work/out" "$sambrel" --choose cancel --image "$work/rewrites-$n.exe" >"$work/measured" && read -r rc mib seconds <"$work/measured"
    if [ "$rc" -eq 70 ] && grep -q "runaway: more than 50000000" "$work/out" && [ "$mib" -lt 1024 ]; then
        pass "rewrites-$n: 70, peak $mib MiB, $seconds s"
    else
        fail "rewrites-$n" "exit $rc, peak $mib MiB, $seconds s: $(head -2 "$work/out")"
    fi
done
forged 96-sections
run 96-sections 3 "There is no IR modem entry" --image "$work/96-sections.exe"
forged 97-sections
run 97-sections 65 "97 sections; an image has at most 96" --image "$work/97-sections.exe"
finish
