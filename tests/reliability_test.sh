#!/usr/bin/env bash
# sambrel --registry attacked as a hostile user and a careful administrator
# would: hostile inputs, links and owners, output that cannot be written,
# options that contradict each other, runs killed at random moments, and
# runs at the same time. Whatever happens the file is the old one or the
# new one, the same file with the same owner, no one else's change is lost,
# and the exit status tells the truth.
# Usage: reliability_test.sh [EMULATOR] PATH/TO/sambrel
set -u
sambrel=("${@:1:$#-1}" "$(realpath "${@: -1}")")
. "$(dirname "$0")/lib.sh"
need setpriv util-linux
need timeout coreutils
need /usr/bin/python3 python3-minimal
work=$(mktemp -d)
chmod 755 "$work"
trap 'rm -rf "$work"' EXIT
cd "$work"

# expect NAME STATUS WORDS COMMAND...: the status, and WORDS on stderr
# (empty: anything). Standard output and error land in out.txt, err.txt.
expect() {
    local name=$1 status=$2 words=$3
    shift 3
    timeout 60 "$@" </dev/null >out.txt 2>err.txt
    local rc=$?
    if [ "$rc" -ne "$status" ]; then
        fail "$name" "exit $rc, expected $status: $(head -c 300 err.txt)"
    elif [ -n "$words" ] && ! grep -qF -- "$words" err.txt; then
        fail "$name" "no '$words' in: $(head -c 300 err.txt)"
    else
        pass "$name"
    fi
}
same() { if cmp -s "$2" "$3"; then pass "$1"; else fail "$1" "$2 changed"; fi; }
no_temp() {
    local left
    left=$(find . -name '.sambrel-*' | head -3)
    if [ -z "$left" ]; then pass "$1"; else fail "$1" "left behind: $left"; fi
}

"${sambrel[@]}" --registry base.reg --choose cancel >/dev/null 2>&1 # the default handheld, as a file
"${sambrel[@]}" --registry base.reg --choose com3 >/dev/null 2>&1
v5='Windows Registry Editor Version 5.00'

# Hostile inputs: refused as FILE:LINE, exit 65, the file untouched.
deep() { # a key path N levels deep
    printf '%s\r\n\r\n[HKEY_LOCAL_MACHINE' "$v5"
    for ((i = 0; i < $1; i++)); do printf '\\k'; done
    printf ']\r\n'
}
deep 512 > deep512.reg
expect deep-512-levels-load 1 "" "${sambrel[@]}" --registry deep512.reg --choose cancel
deep 513 > deep513.reg
cp deep513.reg deep513.orig
expect deep-513-levels-refused 65 "deep513.reg:3: key path deeper than the registry's 512 levels" \
    "${sambrel[@]}" --registry deep513.reg --choose com3
same deep-513-untouched deep513.reg deep513.orig
deep 100000 > deep100k.reg
expect deep-100000-levels-refused 65 "deeper than" "${sambrel[@]}" --registry deep100k.reg --choose com3
mkfifo fifo.reg
expect fifo-refused-at-once 65 "fifo.reg: cannot be read: not a regular file" "${sambrel[@]}" --registry fifo.reg --choose com3
mkdir folder.reg
expect folder-refused 65 "Is a directory" "${sambrel[@]}" --registry folder.reg --choose com3
{ printf '%s\r\n\r\n[HKEY_LOCAL_MACHINE\\X]\r\n"v"="x" ' "$v5"; head -c 10000000 /dev/zero | tr '\0' 'y'; printf '\r\n'; } > longline.reg
expect long-line-refused 65 "longline.reg:4: unexpected text after the value" "${sambrel[@]}" --registry longline.reg --choose com3
if [ "$(wc -c < err.txt)" -lt 3000 ]; then pass long-line-message-cut; else fail long-line-message-cut "$(wc -c < err.txt) bytes on stderr"; fi
printf '%s\r\n\r\n[HKEY_LOCAL_MACHINE\\X]\r\n"v"=dword:1 \033]0;owned\007\033[2J\r\n' "$v5" > escape.reg
expect escape-refused 65 "escape.reg:4:" "${sambrel[@]}" --registry escape.reg --choose com3
if grep -q $'\033' err.txt; then fail escape-not-shown "an escape character reached stderr"; else pass escape-not-shown; fi
printf '%s\r\n\r\n[HKEY_LOCAL_MACHINE\\X]\r\n"v"=dword:1 x\0y\r\n' "$v5" > nul.reg
expect nul-shown 65 'x\x00y' "${sambrel[@]}" --registry nul.reg --choose com3
name=$'esc\033[31mred.reg'
mkdir "$name"
expect escape-in-name 65 'esc\x1b[31mred.reg' "${sambrel[@]}" --registry "$name" --choose com3
printf 'REGEDIT4\r[HKEY_LOCAL_MACHINE\\K]\r"v"="1"\r' > lonecr.reg
expect lone-cr 1 "" "${sambrel[@]}" --registry lonecr.reg --choose com3
if [ "$(tr -dc '\n' < lonecr.reg | wc -c)" -eq 0 ] && grep -q 'COM3:' lonecr.reg; then pass lone-cr-kept; else fail lone-cr-kept "line ends changed"; fi
printf '%s\r\n\r\n[HKEY_LOCAL_MACHINE\\Ж]\r\n"Σ"="1"\r\n[HKEY_LOCAL_MACHINE\\ж]\r\n"σ"="2"\r\n"Š"="3"\r\n"š"="4"\r\n' "$v5" > fold.reg
expect case-folding 1 "" "${sambrel[@]}" --registry fold.reg --choose cancel --export folded.reg --dry-run
if [ "$(grep -c '^\[HKEY_LOCAL_MACHINE\\' folded.reg)" -eq 1 ] && grep -q '"Σ"="2"' folded.reg && grep -q '"Š"="4"' folded.reg; then
    pass case-folding-one-key
else
    fail case-folding-one-key "$(grep -A4 'Ж' folded.reg | head -8)"
fi

# Links, owners and permissions.
cp base.reg real.reg
ln -s real.reg link.reg
expect symlink 1 "" "${sambrel[@]}" --registry link.reg --choose autoscan
if [ -L link.reg ] && grep -q '"Port"="COM5:"' real.reg; then pass symlink-kept; else fail symlink-kept "$(ls -l link.reg)"; fi
ln -s later.reg dangling.reg
expect dangling-symlink 1 "" "${sambrel[@]}" --registry dangling.reg --choose com3
if [ -L dangling.reg ] && [ -f later.reg ]; then pass dangling-symlink-kept; else fail dangling-symlink-kept "$(ls -l dangling.reg)"; fi
cp base.reg hard.reg
ln hard.reg hard2.reg
expect hard-link-refused 74 "has 2 hard links" "${sambrel[@]}" --registry hard.reg --choose autoscan
if [ ! -s out.txt ]; then pass hard-link-before-run; else fail hard-link-before-run "the program ran"; fi
expect missing-folder 74 "its folder" "${sambrel[@]}" --registry nowhere/device.reg --choose com3
expect long-name 74 "File name too long" "${sambrel[@]}" --registry "$(printf 'n%.0s' {1..260}).reg" --choose com3
if [ "$(id -u)" -eq 0 ]; then
    cp base.reg owned.reg
    chown 65534:65534 owned.reg
    chmod 4664 owned.reg
    expect owner-kept 1 "" "${sambrel[@]}" --registry owned.reg --choose autoscan
    if [ "$(stat -c '%u:%g %a' owned.reg)" = "65534:65534 664" ]; then pass owner-kept-setid-dropped; else fail owner-kept-setid-dropped "$(stat -c '%u:%g %a' owned.reg)"; fi
    mkdir open && chmod 777 open
    cp base.reg open/theirs.reg && chmod 644 open/theirs.reg && cp open/theirs.reg theirs.orig
    expect not-writable 74 "cannot be written: Permission denied" \
        setpriv --reuid=65534 --regid=65534 --clear-groups "${sambrel[@]}" --registry open/theirs.reg --choose com3
    same not-writable-untouched open/theirs.reg theirs.orig
    cp base.reg open/mine.reg && chown 65534 open/mine.reg && chmod 444 open/mine.reg
    expect read-only-own 74 "cannot be written" \
        setpriv --reuid=65534 --regid=65534 --clear-groups "${sambrel[@]}" --registry open/mine.reg --choose com3
    cp base.reg open/shared.reg && chmod 666 open/shared.reg
    expect other-owner-not-kept 74 "belongs to another user" \
        setpriv --reuid=65534 --regid=65534 --clear-groups "${sambrel[@]}" --registry open/shared.reg --choose com3
else
    echo "SKIP (owners): not root"
fi

# Standard output: saved first, then printed; errors on it say so.
cp base.reg out.reg
rc=$(/usr/bin/python3 -c 'import os, subprocess, sys
r, w = os.pipe()
os.close(r)  # nobody reads: every write to the pipe fails
print(subprocess.call(sys.argv[1:], stdin=subprocess.DEVNULL, stdout=w, stderr=subprocess.DEVNULL))' \
    "${sambrel[@]}" --registry out.reg --choose autoscan --export -)
if [ "$rc" -eq 74 ] && grep -q '"Port"="COM5:"' out.reg; then pass broken-pipe-saved-then-74; else fail broken-pipe "exit $rc"; fi
cp base.reg out.reg
expect dev-full 74 "standard output: No space left on device" sh -c 'exec "$@" >/dev/full' sh "${sambrel[@]}" --registry out.reg --choose com3
expect closed-stdout 74 "standard output" sh -c 'exec "$@" >&-' sh "${sambrel[@]}" --choose com3
"${sambrel[@]}" --choose com3 --export - </dev/null >export.reg 2>transcript.txt
if head -1 export.reg | grep -q "^$v5" && ! grep -q '== @ ==' export.reg && grep -q '== @ ==' transcript.txt; then
    pass export-stdout-alone
else
    fail export-stdout-alone "$(head -3 export.reg)"
fi
expect export-stdout-loads 1 "" "${sambrel[@]}" --registry export.reg --choose cancel --dry-run

# --export: straight to what is not a regular file; a folder refused first.
expect export-dev-null 1 "" "${sambrel[@]}" --choose com3 --export /dev/null
"${sambrel[@]}" --choose com3 --export /dev/stdout </dev/null 2>/dev/null | grep -q 'ExtModems\\IR' && pass export-dev-stdout || fail export-dev-stdout "nothing"
mkdir exportdir
expect export-folder 74 "exportdir: cannot export: Is a directory" "${sambrel[@]}" --choose com3 --export exportdir
if [ ! -s out.txt ]; then pass export-folder-before-run; else fail export-folder-before-run "the program ran"; fi

# Options that contradict each other.
expect twice-registry 64 "given more than once" "${sambrel[@]}" --registry a.reg --registry b.reg --choose com3
expect twice-choose 64 "given more than once" "${sambrel[@]}" --choose com3 --choose cancel
expect twice-export 64 "given more than once" "${sambrel[@]}" --choose com3 --export a --export b
expect dry-run-alone 64 "--dry-run goes with --registry" "${sambrel[@]}" --choose com3 --dry-run
cp base.reg self.reg
ln -s self.reg self-link.reg
expect dry-run-export-itself 64 "would write the registry file itself" "${sambrel[@]}" --registry self.reg --dry-run --export self-link.reg --choose com3
expect fail-success 64 "ERROR_SUCCESS (0) is not a failure" "${sambrel[@]}" --choose com3 --fail RegSetValueExW=0
expect fail-zeros 1 "" "${sambrel[@]}" --choose com3 --fail RegSetValueExW:Port=0005
expect fail-range 64 "out of range" "${sambrel[@]}" --choose com3 --fail RegSetValueExW=4294967296
expect fail-hex-top 1 "" "${sambrel[@]}" --choose com3 --fail RegSetValueExW:Port=0xFFFFFFFF
expect fail-hex-zeros 1 "" "${sambrel[@]}" --choose com3 --fail RegSetValueExW:Port=0x000000000005
expect fail-hex-range 64 "error number '0x100000000' out of range" "${sambrel[@]}" --choose com3 --fail RegSetValueExW=0x100000000
expect fail-hex-success 64 "is not a failure" "${sambrel[@]}" --choose com3 --fail RegSetValueExW=0x0
expect fail-hex-empty 64 "unknown error '0x'" "${sambrel[@]}" --choose com3 --fail RegSetValueExW=0x
expect fail-hex-digit 64 "unknown error '0x8007000g'" "${sambrel[@]}" --choose com3 --fail RegSetValueExW=0x8007000g
expect fail-empty-name 64 "empty NAME after ':'" "${sambrel[@]}" --choose com3 --fail RegSetValueExW:
expect fail-empty-name-error 64 "empty NAME after ':'" "${sambrel[@]}" --choose com3 --fail RegSetValueExW:=5
expect fail-empty-operation 64 "unknown operation ''" "${sambrel[@]}" --choose com3 --fail :Port

# What a run killed between naming its new file and renaming it leaves
# (the new file under its hidden name, locked by no one) goes with the
# next save in that folder (here a new file made there); a new file that a
# live run holds locked, and one just made (still empty), stay.
mkdir leftovers
printf 'REGEDIT4\r\n' > leftovers/.sambrel-deadbeef
: > leftovers/.sambrel-0empty00
printf 'REGEDIT4\r\n' > leftovers/.sambrel-11ve0000
/usr/bin/python3 -c 'import fcntl, os, sys, time
fd = os.open("leftovers/.sambrel-11ve0000", os.O_RDONLY)
fcntl.flock(fd, fcntl.LOCK_EX)
print("held", flush=True)
time.sleep(60)' > holder.txt &
holder=$!
for ((i = 0; i < 100 && ! -s holder.txt; i++)); do sleep 0.05; done
expect leftover-save 1 "" "${sambrel[@]}" --registry leftovers/r.reg --choose com3
kill "$holder" 2>/dev/null
wait "$holder" 2>/dev/null
if [ ! -e leftovers/.sambrel-deadbeef ] && [ -e leftovers/.sambrel-11ve0000 ] && [ -e leftovers/.sambrel-0empty00 ]; then
    pass leftover-removed-live-kept
else
    fail leftover-removed-live-kept "$(ls -a leftovers | tr '\n' ' ')"
fi
rm -rf leftovers

# Killed at random moments, by every signal that ends a run (started with
# SIGINT and SIGQUIT at their defaults: a background job's ignore them):
# never a partial file, and once each lane's last, uncut save has run,
# never a temporary file left (the new file has no name until it is
# complete, and a SIGKILL between its naming and its renaming leaves one
# that the next save removes). Two lanes at once, on a 2 MB file, each kill
# at a random moment of a whole run's length.
/usr/bin/python3 - <<'PY'
lines = ["Windows Registry Editor Version 5.00", ""]
for n in range(10000):
    lines += ["[HKEY_LOCAL_MACHINE\\Software\\Vendor%03d\\Product%05d]" % (n % 97, n),
              '"Name"="Product %d"' % n, '"Flags"=dword:%08x' % n, ""]
open("big.orig", "wb").write(b"\xff\xfe" + ("\r\n".join(lines) + "\r\n").encode("utf-16-le"))
PY
cp big.orig big.new
start=$(date +%s%N)
"${sambrel[@]}" --registry big.new --choose com3 </dev/null >/dev/null 2>&1 # what a finished run gives
whole=$(( ($(date +%s%N) - start) / 1000000 + 1 ))
lane() {
    mkdir "lane$1" && cd "lane$1" || return
    for ((i = 0; i < $2; i++)); do
        cp ../big.orig big.reg
        env --default-signal=INT,QUIT "${sambrel[@]}" --registry big.reg --choose com3 </dev/null >/dev/null 2>&1 &
        local pid=$!
        sleep "$(printf '%d.%03d' $(( (RANDOM * whole / 32768) / 1000 )) $(( (RANDOM * whole / 32768) % 1000 )))"
        kill -s "$(shuf -n1 -e INT TERM HUP QUIT KILL)" "$pid" 2>/dev/null
        wait "$pid" 2>/dev/null
        local rc=$?
        if cmp -s big.reg ../big.orig; then echo "$rc old"; elif cmp -s big.reg ../big.new; then echo "$rc new"; else echo "$rc partial"; fi
    done > results.txt
    cp ../big.orig big.reg
    "${sambrel[@]}" --registry big.reg --choose com3 </dev/null >/dev/null 2>&1
}
runs=200
start=$(date +%s%N)
lane 0 $((runs / 2)) &
lane 1 $((runs / 2)) &
wait
cat lane0/results.txt lane1/results.txt > kills.txt
partial=$(grep -c partial kills.txt)
echo "kill loop: $(wc -l < kills.txt) runs of up to $whole ms in $(( ($(date +%s%N) - start) / 1000000 )) ms:" \
     "$(awk '$1 > 128' kills.txt | wc -l) ended by a signal, $(grep -c old kills.txt) left the old file," \
     "$(grep -c new kills.txt) the new one, $partial anything else"
if [ "$(wc -l < kills.txt)" -eq "$runs" ] && [ "$partial" -eq 0 ]; then pass kill-loop-old-or-new; else fail kill-loop-old-or-new "$partial files neither old nor new"; fi
no_temp kill-loop-no-temporary-file

# Runs at the same time, with a writer that locks the file as sambrel does:
# no update is lost, every run waits its turn and exits 1.
cp base.reg busy.reg
loops=100 lost=0 bad=0
start=$(date +%s%N)
for ((i = 0; i < loops; i++)); do
    pids=()
    for c in com3 autoscan $( ((i % 2)) && echo cancel); do
        "${sambrel[@]}" --registry busy.reg --choose "$c" </dev/null >/dev/null 2>>waits.txt &
        pids+=($!)
    done
    # The writer's side of the lock: a file replaced while it waited is
    # locked again under its new inode.
    /usr/bin/python3 -c 'import fcntl, os, sys
while True:
    fd = os.open("busy.reg", os.O_WRONLY | os.O_APPEND)
    fcntl.flock(fd, fcntl.LOCK_EX)
    if os.fstat(fd).st_ino == os.stat("busy.reg").st_ino:
        os.write(fd, ("[HKEY_LOCAL_MACHINE\\Outside\\K%s]\r\n\r\n" % sys.argv[1]).encode())
        break
    os.close(fd)' "$i"
    for p in "${pids[@]}"; do wait "$p" || [ $? -eq 1 ] || bad=$((bad + 1)); done
done
for ((i = 0; i < loops; i++)); do grep -q "Outside\\\\K$i\\]" busy.reg || lost=$((lost + 1)); done
echo "concurrency loop: $loops loops of 2 and 3 runs in $(( ($(date +%s%N) - start) / 1000000 )) ms, $(grep -c waiting waits.txt) waits said, $lost writes lost, $bad runs failed"
if [ "$lost" -eq 0 ] && [ "$bad" -eq 0 ]; then pass concurrency-nothing-lost; else fail concurrency-nothing-lost "$lost lost, $bad failed"; fi
expect concurrency-file-loads 1 "" "${sambrel[@]}" --registry busy.reg --choose cancel --dry-run
no_temp concurrency-no-temporary-file

finish
