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
run() {
    local name=$1 status=$2 words=$3
    shift 3
    "$sambrel" --choose com3 "$@" </dev/null >"$work/out" 2>&1
    local rc=$?
    if [ "$rc" -ne "$status" ]; then
        fail "$name" "exit $rc, expected $status: $(head -3 "$work/out")"
    elif ! grep -qF -- "$words" "$work/out"; then
        fail "$name" "no '$words' in: $(head -3 "$work/out")"
    else
        pass "$name: $(grep -F -- "$words" "$work/out" | head -1)"
    fi
}

# A guest: SambrelStartup's body, with the core library's calls it needs.
program() {
    local name=$1 body=$2
    {
        echo 'typedef char16_t WCHAR;'
        echo 'extern "C" int MessageBoxW(void *, const WCHAR *, const WCHAR *, unsigned) __asm__("coredll_ordinal_858");'
        echo 'extern "C" int wsprintfW(WCHAR *, const WCHAR *, ...) __asm__("coredll_ordinal_56");'
        echo 'extern "C" long RegCreateKeyExW(unsigned, const WCHAR *, unsigned, WCHAR *, unsigned, unsigned, void *, unsigned *, unsigned *) __asm__("coredll_ordinal_456");'
        echo 'extern "C" int SambrelStartup(void *instance, void *, WCHAR *, int) {'
        echo "$body"
        echo '}'
    } > "$work/$name.cpp"
    guest "$name" "$work/$name.cpp" -Wno-error && convert "$name" || fail "$name" "does not build: $(cat "$work/$name.err")"
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
program bad-text 'MessageBoxW(0, (const WCHAR *)4, u"@", 0); return 1;'
run bad-text 70 "MessageBoxW's text reads" --image "$work/bad-text.exe"
program format-into-code 'wsprintfW((WCHAR *)(void *)&SambrelStartup, u"%d", 42); return 1;'
run format-into-code 70 "wsprintfW's output writes to read-only memory" --image "$work/format-into-code.exe"

# A run that faults saves nothing, even after it changed the registry.
program fault-after-write 'unsigned k, d; RegCreateKeyExW(0x80000002u, u"ExtModems", 0, (WCHAR *)u"", 0, 0, 0, &k, &d); *(volatile int *)0 = 1; return 1;'
run fault-saves-nothing 70 "write to unmapped memory" --image "$work/fault-after-write.exe" --registry "$work/new.reg"
if [ -e "$work/new.reg" ]; then fail fault-no-file "$work/new.reg was created"; else pass "fault-no-file"; fi

# Images the handheld's loader would not take.
if [ -f "$image" ]; then
    patch() { /usr/bin/python3 -c "import sys; d = bytearray(open(sys.argv[1], 'rb').read()); exec(sys.argv[3]); open(sys.argv[2], 'wb').write(d)" "$image" "$work/$1.exe" "$2"; }
    patch thumb-image 'import struct; pe = struct.unpack_from("<I", d, 0x3C)[0]; struct.pack_into("<H", d, pe + 4, 0x1C2)'
    run thumb-image 65 "a Thumb image" --image "$work/thumb-image.exe"
    patch console 'import struct; pe = struct.unpack_from("<I", d, 0x3C)[0]; struct.pack_into("<H", d, pe + 24 + 68, 3)'
    run not-ce 65 "not a Windows CE program" --image "$work/console.exe"
    # An import of an ordinal that the handheld does not serve (859 for 858).
    patch unserved 'i = d.index((0x80000000 | 858).to_bytes(4, "little")); d[i:i + 4] = (0x80000000 | 859).to_bytes(4, "little")'
    run unserved-ordinal 70 "COREDLL ordinal 859" --image "$work/unserved.exe"
    patch truncated 'del d[0x300:]'
    run truncated 65 "lies outside the image" --image "$work/truncated.exe"
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
    # 9 MiB of zeros compress to a few KiB (MSZIP); the bound is 8 MiB.
    head -c $((9 << 20)) /dev/zero > "$work/members/SAMBREL.001"
    (cd "$work/members" && gcab -c -z -n "$work/bomb.cab" SAMBREL.000 SAMBREL.001)
    run cabinet-member-beyond-bound 65 "SAMBREL.001: it is 9437184 bytes, more than the 8388608" --image "$work/bomb.cab"
    echo "(that cabinet: $(stat -c %s "$work/bomb.cab") bytes)"
    # A libmspack without its functions: said at once, exit 69.
    mkdir "$work/lib"
    gcc -shared -o "$work/lib/libmspack.so.0" -x c /dev/null
    LD_LIBRARY_PATH=$work/lib run cabinet-reader-missing 69 "needs libmspack" --image "$cab"

    # loaded ARGS...: the emulator's and the cabinet reader's libraries a run loads.
    loaded() {
        LD_DEBUG=files "$sambrel" --choose cancel "$@" </dev/null 2>&1 >/dev/null |
            grep -oE 'file=lib(unicorn|mspack)\.so[.0-9]*' | sed 's/^file=//' | sort -u | tr '\n' ' '
    }
    for c in "plain:" "image:libunicorn.so.2 --image $image" "cabinet:libmspack.so.0 libunicorn.so.2 --image $cab"; do
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
finish
