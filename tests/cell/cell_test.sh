#!/usr/bin/env bash
# The image's process as an attacker who has taken over the emulator would
# use it: a stand-in for libunicorn (standin_unicorn.c, found through
# LD_LIBRARY_PATH; sambrel is not changed) crashes, writes the registry
# file, creates a file, connects a Unix socket, runs a program, forks,
# signals or traces sambrel, writes to standard error or a descriptor it
# was not left, types into the terminal, takes memory or CPU time past its
# limits, waits forever (even after saying it ends), and hands back
# results that lie about their size, flood, are cut short, do not load,
# lose or rename what they were given, hold more than a run could leave,
# or lie about what they are. Each time: exit 70 with a line naming what
# happened, the registry file byte for byte as it was, no file made, no
# connection made, and sambrel alive to say so. (Where the sanitizers'
# build lets the child write standard error, or has no fourth descriptor
# to refuse, the deed does nothing and the run ends where the stand-in
# leaves it, at address 0.) A system without seccomp, or without
# libseccomp, refuses --image (69) rather than run it unconfined.
# Usage: cell_test.sh PATH/TO/sambrel PATH/TO/sambrel.exe STANDIN_FOLDER
set -u
sambrel=$(realpath "$1")
image=$2
standin=$(realpath "$3")
. "$(dirname "$0")/../lib.sh"
NEED_STATUS=77
need /usr/bin/python3 python3-minimal
need gcc gcc
[ -f "$image" ] || { echo "SKIP: $image is not built; build it first: cmake --preset wince && cmake --build --preset wince"; exit 77; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir "$work/files"
"$sambrel" --choose cancel --export "$work/files/device.reg" </dev/null >/dev/null 2>&1
cp "$work/files/device.reg" "$work/device.orig"

# contained: runs sambrel's command with a Unix socket listening at
# $work/listen.sock, and prints its exit status, whether anything
# connected, and its peak resident memory in MiB (its child's counted).
cat > "$work/contained.py" <<'PY'
import os, socket, subprocess, sys
listener = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
listener.bind(sys.argv[1])
listener.listen(8)
listener.setblocking(False)
with open(sys.argv[2], "wb") as err:
    run = subprocess.Popen(sys.argv[3:], stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=err)
    _, status, usage = os.wait4(run.pid, 0)
try:
    listener.accept()
    connected = "connected"
except BlockingIOError:
    connected = "none"
print(os.waitstatus_to_exitcode(status), connected, usage.ru_maxrss // 1024)
PY

# deed NAME WORDS DEED[:PATH] [ARGS...]: the stand-in does DEED in a run
# on the registry file (@sambrel in PATH: sambrel's process id); WORDS (an
# extended regular expression) must be in sambrel's one line.
deed() {
    local name=$1 words=$2 what=$3
    shift 3
    rm -f "$work/listen.sock"
    read -r rc connected mib < <(LD_LIBRARY_PATH=$standin timeout -k 10 300 \
        /usr/bin/python3 "$work/contained.py" "$work/listen.sock" "$work/err" \
        bash -c 'export SAMBREL_STANDIN=${0//@sambrel/$$}; exec "$@"' "$what" \
        "$sambrel" --choose com3 --image "$image" --registry "$work/files/device.reg" "$@")
    local wrong=""
    [ "$rc" = 70 ] || wrong+=" exit $rc, not 70;"
    # One line of sambrel's (the sanitizers' build may add a report).
    [ "$(grep -c '^sambrel: ' "$work/err")" -eq 1 ] && grep -qE -- "$words" "$work/err" ||
        wrong+=" said: $(grep '^sambrel: ' "$work/err" | head -c 300);"
    cmp -s "$work/files/device.reg" "$work/device.orig" || wrong+=" device.reg changed;"
    [ "$(ls -A "$work/files")" = device.reg ] || wrong+=" files made: $(ls -A "$work/files" | tr '\n' ' ');"
    [ "$connected" = none ] || wrong+=" a connection was made;"
    check "$name: $(grep '^sambrel: ' "$work/err" | head -c 200)" "$wrong"
    peak=$mib
}

# Results made by hand, which the stand-in hands back as they are: one
# whose registry has lost the keys it was given (the core library's calls
# remove none), one that says the registry is as it was while it is not,
# one that claims, after its outcome, that the process was never
# confined, and two that hold deletions, which a registry file as sambrel
# writes one never holds (each would cost memory it could not use).
/usr/bin/python3 - "$work" <<'PY'
import struct, sys
work = sys.argv[1]
def frame(tag, payload=b""):
    return tag + struct.pack("<I", len(payload)) + payload
def result(changed, registry):
    blocks = b"".join(frame(b"R", registry[at:at + 131072]) for at in range(0, len(registry), 131072))
    return frame(b"o", struct.pack("<I", 1) + bytes([changed])) + blocks + frame(b"E") + frame(b"z")
given = open(work + "/files/device.reg", "rb").read()
open(work + "/wipe.bin", "wb").write(result(1, b"Windows Registry Editor Version 5.00\n"))
open(work + "/unchanged.bin", "wb").write(result(0, given + b"\n[HKEY_LOCAL_MACHINE\\Owned]\n"))
# A name keeps the spelling it was made with, whatever spelling opens or
# sets it again: a key or a value spelt otherwise was not left by a run.
for name, spelt, otherwise in (("key", b"[HKEY_LOCAL_MACHINE\\Comm]", b"[HKEY_LOCAL_MACHINE\\COMM]"),
                               ("value", b'"Owner"="H/PC user"', b'"OWNER"="H/PC user"')):
    assert given.count(spelt) == 1
    open(work + "/renamed-" + name + ".bin", "wb").write(result(1, given.replace(spelt, otherwise)))
# Keys 512 deep, each name 255 characters: three lines make keys whose
# paths, which the handheld counts against a run's growth as it makes
# them, come to about 200 MB, in little memory.
deep = b"".join(b"\n[HKEY_USERS" + b"".join(b"\\" + (top if depth == 0 else b"x") * 255 for depth in range(512)) + b"]\n"
                for top in (b"a", b"b", b"c"))
open(work + "/deep-keys.bin", "wb").write(result(1, given + deep))
open(work + "/deletes-key.bin", "wb").write(result(1, given + b"\n[-HKEY_LOCAL_MACHINE\\Gone]\n"))
open(work + "/deletes-value.bin", "wb").write(result(1, given + b"\n[HKEY_LOCAL_MACHINE\\Kept]\n\"x\"=-\n"))
open(work + "/unconfined.bin", "wb").write(frame(b"o", struct.pack("<I", 1) + b"\1") + frame(b"!", b"no filter"))
PY

# Processes that wait, for nothing, forever: with --choose one waits for
# no one, and is stopped once its time is up; so is one that says, as the
# cell does of a forbidden call, that it is ending, and then does not end.
# They run while the deeds below do, each on a file of its own, which its
# run holds all along.
waits=(hang forbidden-then-wait) waiting=()
for what in "${waits[@]}"; do
    mkdir "$work/$what"
    cp "$work/device.orig" "$work/$what/device.reg"
    LD_LIBRARY_PATH=$standin SAMBREL_STANDIN=$what "$sambrel" --choose com3 --image "$image" \
        --registry "$work/$what/device.reg" </dev/null >/dev/null 2>"$work/$what.err" &
    waiting+=($!)
done

while IFS=';' read -r name words what; do
    deed "$name" "$words" "$what"
done <<EOF2
crash;the image's process was ended by SIG(SEGV|ABRT);crash
write-registry-file;its filter forbids \(open;write-file:$work/files/device.reg
create-file;its filter forbids \(open;create-file:$work/files/new.txt
connect-socket;its filter forbids \(socket\);connect:$work/listen.sock
run-program;its filter forbids \(execve\);run-program:$work/files/ran.txt
fork;its filter forbids \(clone\);fork:$work/files/forked.txt
kill-parent;its filter forbids \(kill\);kill:@sambrel
kill-process-group;its filter forbids \(kill\);kill-group
trace-parent;its filter forbids \(ptrace\);ptrace:@sambrel
descriptor-not-left;its filter forbids \(write\)|jump to address 0;other-descriptor
standard-error;its filter forbids \(write\)|jump to address 0;standard-error
type-into-terminal;its filter forbids \(ioctl\);type-into-terminal
result-lies-about-its-size;holds a part of 4294967295 bytes, where at most 65536 may come;size-lie
result-cut-short;its result was cut short;cut-short
registry-does-not-load;its registry does not load \(line 2:;bad-registry
registry-block-too-large;holds a part of 1048576 bytes, where at most 131072 may come;large-block
exit-code-of-sambrel;its exit code is one that no run of an image ends with;exit-code
empty-frames;message boxes and what it printed are more than may come;empty-frames
registry-lost;has lost keys or values it was given;frames:$work/wipe.bin
registry-renames-key;spells their names otherwise;frames:$work/renamed-key.bin
registry-renames-value;spells their names otherwise;frames:$work/renamed-value.bin
registry-deep-keys;has grown by more than a run could grow it;frames:$work/deep-keys.bin
unchanged-lie;has changed where its outcome says it has not;frames:$work/unchanged.bin
unconfined-late;a frame of the cell's own where none can be;frames:$work/unconfined.bin
registry-deletes-key;does not load \(line [0-9]+: a line that deletes a key;frames:$work/deletes-key.bin
registry-deletes-value;does not load \(line [0-9]+: a line that deletes a value;frames:$work/deletes-value.bin
EOF2
# A flood of printed text: refused once it passes the 128 MiB that may
# come, and sambrel's memory stays near that.
deed result-flood "where at most" flood
if [ "$peak" -lt 400 ]; then pass "result-flood: sambrel's peak $peak MiB"; else fail result-flood "sambrel's peak $peak MiB"; fi
# A registry of keys alone, within the bytes it may come in but holding,
# loaded, more than any run could leave: refused as it loads.
deed key-flood "holds more than a run could have left" key-flood
if [ "$peak" -lt 400 ]; then pass "key-flood: sambrel's peak $peak MiB"; else fail key-flood "sambrel's peak $peak MiB"; fi
# And of message boxes, each tiny: each counts what keeping it costs.
deed tiny-messages "message boxes and what it printed are more than may come" tiny-messages
if [ "$peak" -lt 400 ]; then pass "tiny-messages: sambrel's peak $peak MiB"; else fail tiny-messages "sambrel's peak $peak MiB"; fi
# An address space of 8 GiB is refused. The sanitizers' build sets no
# limit on it: their shadow memory takes terabytes.
if nm -D "$sambrel" 2>/dev/null | grep -q __asan_init; then
    echo "SKIP memory-limit: the sanitizers' build sets no address-space limit"
else
    deed memory-limit "out of memory \\(the stand-in's\\)" memory
fi
# CPU time past 60 seconds ends the process (SIGXCPU).
deed cpu-limit "used its 60 seconds of CPU time and was ended by SIGXCPU" spin

# Without seccomp --image refuses (69), saying why, before anything runs:
# libseccomp without its functions, and a kernel that does not filter
# system calls (a filter of the test's own makes seccomp(2) and its prctl
# fail as such a kernel does).
mkdir "$work/lib"
gcc -shared -o "$work/lib/libseccomp.so.2" -x c /dev/null
expect_69() {
    local name=$1 words=$2
    shift 2
    "$@" "$sambrel" --choose com3 --image "$image" --registry "$work/files/device.reg" </dev/null >"$work/out" 2>&1
    local rc=$? wrong=""
    [ "$rc" = 69 ] || wrong+=" exit $rc;"
    grep -qF -- "$words" "$work/out" || wrong+=" said: $(head -c 300 "$work/out");"
    ! grep -q "Sambrel v1.0" "$work/out" || wrong+=" the image ran;"
    cmp -s "$work/files/device.reg" "$work/device.orig" || wrong+=" device.reg changed;"
    check "$name" "$wrong"
}
expect_69 without-libseccomp "libseccomp cannot be loaded" env LD_LIBRARY_PATH="$work/lib"
cat > "$work/noseccomp.c" <<'C'
#include <errno.h>
#include <linux/filter.h>
#include <linux/seccomp.h>
#include <stddef.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <unistd.h>
/* Runs a program on a kernel that seems to have no seccomp: seccomp(2)
 * fails with ENOSYS, prctl's PR_GET_SECCOMP and PR_SET_SECCOMP with EINVAL. */
int main(int argc, char **argv)
{
    struct sock_filter code[] = {
        BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(struct seccomp_data, nr)),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, __NR_seccomp, 0, 1),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ERRNO | ENOSYS),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, __NR_prctl, 0, 4),
        BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(struct seccomp_data, args[0])),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, PR_GET_SECCOMP, 1, 0),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, PR_SET_SECCOMP, 0, 1),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ERRNO | EINVAL),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
    };
    struct sock_fprog program = {sizeof code / sizeof code[0], code};
    if (argc < 2 || prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) || prctl(PR_SET_SECCOMP, SECCOMP_MODE_FILTER, &program))
        return 99;
    execv(argv[1], argv + 1);
    return 98;
}
C
gcc -o "$work/noseccomp" "$work/noseccomp.c"
expect_69 kernel-without-seccomp "does not filter system calls" "$work/noseccomp"

for i in "${!waits[@]}"; do
    what=${waits[$i]}
    wait "${waiting[$i]}"
    rc=$? wrong=""
    [ "$rc" = 70 ] || wrong+=" exit $rc, not 70;"
    grep -q "did not end within 120 seconds and was stopped" "$work/$what.err" ||
        wrong+=" said: $(head -c 300 "$work/$what.err");"
    cmp -s "$work/$what/device.reg" "$work/device.orig" || wrong+=" device.reg changed;"
    check "unattended-$what" "$wrong"
done
finish
