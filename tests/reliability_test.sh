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
need /sbin/mke2fs e2fsprogs
need strace strace
work=$(mktemp -d)
chmod 755 "$work"
trap 'rm -rf "$work"' EXIT
cd "$work"
nobody_sambrel

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
no_temp() {
    local left
    left=$(find . -name '.sambrel-*' | head -3)
    if [ -z "$left" ]; then pass "$1"; else fail "$1" "left behind: $left"; fi
}

"${sambrel[@]}" --registry base.reg --choose com3 >/dev/null 2>&1 # the default handheld with the IR entry, as a file
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
# The same name in the line that says a run waits for another.
cp base.reg "busy$name"
/usr/bin/python3 - "busy$name" "${sambrel[@]}" <<'PY' > waited.txt
import fcntl, os, subprocess, sys
fd = os.open(sys.argv[1], os.O_RDONLY)
fcntl.flock(fd, fcntl.LOCK_EX)
run = subprocess.Popen(sys.argv[2:] + ["--registry", sys.argv[1], "--choose", "com3"], stdin=subprocess.DEVNULL,
                       stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
said = run.stderr.readline()  # said before it waits
os.close(fd)
run.stderr.read()
sys.stdout.buffer.write(b"%d " % run.wait() + said)
PY
if grep -qF '1 sambrel: busyesc\x1b[31mred.reg is in use by another run of sambrel; waiting' waited.txt &&
   ! grep -q $'\033' waited.txt; then
    pass escape-in-name-waiting
else
    fail escape-in-name-waiting "$(cat -v waited.txt)"
fi
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
# A folder reached through a link that is switched while the file is
# saved, as another user may switch a link of theirs: the file is saved in
# the folder the run found and held, the other folder is untouched, and
# nothing is left in either. strace holds the new file's naming (before and
# after) and the rename for a second each, and each switch waits for its
# log to show that call held: to B before the naming, back to A before the
# last look, to B again before the rename.
mkdir swapped
strace_seen() { # PATTERN PID: the log shows PATTERN, or the run is over
    until grep -qE -- "$1" swapped/strace.log 2>/dev/null; do
        kill -0 "$2" 2>/dev/null || return 1
        sleep 0.01
    done
}
swap_to() { ln -sfn "$1" swapped/cur.tmp && mv -T swapped/cur.tmp swapped/cur; }
while read -r name args; do
    rm -rf swapped/A swapped/B swapped/strace.log
    mkdir swapped/A swapped/B
    printf 'REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\Marker]\r\n"M"="A"\r\n\r\n' > swapped/A/dev.reg
    printf 'REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\Marker]\r\n"M"="B"\r\n\r\n' > swapped/B/dev.reg
    cp swapped/B/dev.reg swapped/B.orig
    swap_to A
    # LeakSanitizer (in the sanitize build) cannot look at a traced process.
    # shellcheck disable=SC2086
    ASAN_OPTIONS=${ASAN_OPTIONS:+$ASAN_OPTIONS:}detect_leaks=0 strace -f -qq -o swapped/strace.log -e trace=linkat,/^rename -e inject=linkat:delay_enter=1000000:delay_exit=1000000 \
        -e inject=/^rename:delay_enter=1000000 "${sambrel[@]}" $args swapped/cur/dev.reg --choose com3 </dev/null >out.txt 2>err.txt &
    pid=$!
    strace_seen 'linkat\(' "$pid" && swap_to B
    strace_seen 'linkat\(.*\) += ' "$pid" && swap_to A
    strace_seen 'rename[a-z0-9]*\(' "$pid" && swap_to B
    wait "$pid"
    rc=$? wrong=""
    [ "$rc" -eq 1 ] || wrong+=" exit $rc: $(head -c 200 err.txt);"
    grep -q '"Port"="COM3:"' swapped/A/dev.reg || wrong+=" A/dev.reg was not saved;"
    cmp -s swapped/B/dev.reg swapped/B.orig || wrong+=" B/dev.reg was replaced;"
    left=$(ls -A swapped/A swapped/B | grep -F .sambrel-)
    [ -z "$left" ] || wrong+=" left: $left;"
    grep -qE 'rename.* = 0' swapped/strace.log || wrong+=" strace held no rename: $(head -c 300 swapped/strace.log);"
    check "folder-switched-$name" "$wrong"
done <<'EOF'
registry --registry
export   --export
EOF
# An output whose name leads to /dev/null when it is looked at and to a
# regular file (another file, or the registry file itself) by the time it
# is opened: writing it straight would write over that file in place, new
# bytes over its old tail. strace holds the opening for writing a second,
# and the name is switched once the log shows it held. The output is
# refused (74), and the file is as it was.
while read -r name option victim; do
    rm -rf swapped/S swapped/strace.log
    mkdir swapped/S
    cp base.reg swapped/S/dev.reg
    printf 'another file, longer than an export is: %04000d\n' 0 > swapped/S/other.txt
    ln -s /dev/null swapped/S/out
    cp "swapped/S/$victim" swapped/victim.orig
    ASAN_OPTIONS=${ASAN_OPTIONS:+$ASAN_OPTIONS:}detect_leaks=0 strace -f -qq -o swapped/strace.log -P swapped/S/out \
        -e trace=open,openat -e inject=open,openat:delay_enter=1000000 \
        "${sambrel[@]}" --registry swapped/S/dev.reg --choose com3 "$option" swapped/S/out </dev/null >out.txt 2>err.txt &
    pid=$!
    strace_seen 'open(at)?\(.*O_WRONLY' "$pid" && ln -sfn "$victim" swapped/S/out.tmp && mv -T swapped/S/out.tmp swapped/S/out
    wait "$pid"
    rc=$? wrong=""
    [ "$rc" -eq 74 ] || wrong+=" exit $rc: $(head -c 200 err.txt);"
    grep -qF "became another file" err.txt || wrong+=" said: $(head -c 200 err.txt);"
    cmp -s "swapped/S/$victim" swapped/victim.orig || wrong+=" $victim was written: $(head -c 60 "swapped/S/$victim");"
    grep -qE 'O_WRONLY' swapped/strace.log || wrong+=" strace held no opening: $(head -c 300 swapped/strace.log);"
    check "straight-switched-$name" "$wrong"
done <<'EOF'
export-other     --export   other.txt
export-registry  --export   dev.reg
messages-other   --messages other.txt
EOF
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
        "${as_nobody[@]}" --registry open/theirs.reg --choose com3
    same not-writable-untouched open/theirs.reg theirs.orig
    cp base.reg open/mine.reg && chown 65534 open/mine.reg && chmod 444 open/mine.reg
    expect read-only-own 74 "cannot be written" \
        "${as_nobody[@]}" --registry open/mine.reg --choose com3
    cp base.reg open/shared.reg && chmod 666 open/shared.reg
    expect other-owner-not-kept 74 "belongs to another user" \
        "${as_nobody[@]}" --registry open/shared.reg --choose com3
else
    echo "SKIP (owners): not root"
fi

# Standard output that cannot be written (a full disk, a pipe nobody
# reads, a closed descriptor): 74, and the registry file is the old one,
# since what is printed is printed once the new file is made but before it
# replaces the old one. A closed standard output is never taken by a file
# sambrel opens later.
while IFS='|' read -r name words wrapper args; do
    cp base.reg out.reg
    # shellcheck disable=SC2086
    expect "$name" 74 "$words" sh -c "$wrapper" sh "${sambrel[@]}" --registry out.reg --choose autoscan $args
    same "$name-old-file" out.reg base.reg
done <<'EOF'
dev-full|standard output: No space left on device; out.reg was not saved|exec "$@" >/dev/full|
dev-full-export|standard output: No space left on device; out.reg was not saved|exec "$@" >/dev/full|--export -
broken-pipe|standard output: Broken pipe; out.reg was not saved|exec /usr/bin/python3 -c 'import os, subprocess, sys; r, w = os.pipe(); os.close(r); sys.exit(subprocess.call(sys.argv[1:], stdout=w))' "$@"|
broken-pipe-export|standard output: Broken pipe; out.reg was not saved|exec /usr/bin/python3 -c 'import os, subprocess, sys; r, w = os.pipe(); os.close(r); sys.exit(subprocess.call(sys.argv[1:], stdout=w))' "$@"|--export -
closed-stdout|standard output: Bad file descriptor; out.reg was not saved|exec "$@" >&-|
closed-stdout-export|standard output: Bad file descriptor; out.reg was not saved|exec "$@" >&-|--export -
closed-stderr-export||exec "$@" 2>&-|--export -
closed-stdin-stdout-messages|descriptor 1 is not open for writing|exec "$@" <&- >&-|--messages /dev/stdout
EOF
expect closed-stdout-no-registry 74 "standard output" sh -c 'exec "$@" >&-' sh "${sambrel[@]}" --choose com3
# Standard output or error that is the registry file itself would change
# it before it is replaced, and one that is the export or the messages
# file would be lost with the file its replacement unlinks: refused before
# the run. The files keep what they held; the reason is all that goes to
# standard error, wherever it leads.
ln -s log.txt log-link.txt
while IFS='|' read -r name words redirect args; do
    cp base.reg out.reg
    printf 'an earlier line\n' > log.txt
    # shellcheck disable=SC2086
    expect "$name" 64 "" sh -c "exec \"\$@\" $redirect" sh "${sambrel[@]}" --registry out.reg --choose autoscan $args
    wrong=""
    cat err.txt out.reg log.txt | grep -qF -- "$words" || wrong+=" no '$words' said;"
    head -c "$(wc -c < base.reg)" out.reg | cmp -s - base.reg || wrong+=" out.reg changed;"
    [ "$(head -1 log.txt)" = "an earlier line" ] || wrong+=" log.txt lost its first line;"
    ! grep -qF '== Sambrel' out.txt out.reg log.txt || wrong+=" the program ran;"
    check "$name-before-run" "$wrong"
done <<'EOF'
stdout-is-registry|standard output or error is the registry file itself|>>out.reg|
stderr-is-registry|standard output or error is the registry file itself|2>>out.reg|--export -
stdout-is-export|standard output or error is the --export file itself|>>log.txt|--export log.txt
stdout-is-export-link|standard output or error is the --export file itself|>>log.txt|--export log-link.txt
stderr-is-messages|standard output or error is the --messages file itself|2>>log.txt|--messages log.txt
EOF
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
# A name that means one of sambrel's own descriptors is written to that
# descriptor itself, never reopened by its name: standard output appended
# to a log keeps the log's earlier lines, and a descriptor on a file since
# deleted gets the export, with no file made for it. One that is not open,
# or open only for reading (standard input from a file), is refused before
# the run, exit 74, and its file is untouched.
while IFS='|' read -r name status words command; do
    rm -rf fds && mkdir fds && printf 'an earlier line\n' > fds/log.txt
    expect "$name" "$status" "$words" sh -c "cd fds && $command" sh "${sambrel[@]}"
    wrong=""
    [ "$(head -1 fds/log.txt)" = "an earlier line" ] || wrong+=" the log lost its first line;"
    others=$(ls -A fds | grep -v -e '^log.txt$' -e '^out.lnk$')
    [ -z "$others" ] || wrong+=" made: $others;"
    if [ "$status" -eq 1 ]; then
        grep -q 'COM3:' fds/log.txt || wrong+=" nothing reached it;"
    else
        [ "$(cat fds/log.txt)" = "an earlier line" ] || wrong+=" the log changed;"
        [ ! -s out.txt ] || wrong+=" the program ran;"
    fi
    check "$name-kept" "$wrong"
done <<'EOF'
export-stdout-appended|1||exec "$@" --choose com3 --export /dev/stdout >>log.txt
export-proc-self-appended|1||exec "$@" --choose com3 --export /proc/self/fd/1 >>log.txt
export-link-to-stdout|1||ln -s /dev/stdout out.lnk && exec "$@" --choose com3 --export out.lnk >>log.txt
messages-stderr-appended|1||exec "$@" --choose com3 --messages /dev/stderr 2>>log.txt
export-fd-deleted|1||exec 3<>gone.txt && rm gone.txt && { "$@" --choose com3 --export /dev/fd/3; rc=$?; cat /proc/self/fd/3 >>log.txt; exit $rc; }
export-fd-closed|74|cannot export: Bad file descriptor|exec "$@" --choose com3 --export /dev/fd/7
export-stdin-read-only|74|not open for writing|exec "$@" --choose com3 --export /dev/stdin <log.txt
EOF
# --registry through a descriptor the caller gave is the file it is open
# on, held and replaced by its name; one not open, or open on a file that
# no name leads to any more (deleted), is refused, exit 65, and no file is
# made for it.
cp base.reg fds/open.reg
while IFS='|' read -r name status words command; do
    expect "$name" "$status" "$words" sh -c "cd fds && $command --choose autoscan" sh "${sambrel[@]}"
done <<'EOF'
registry-fd-open|1||exec "$@" --registry /dev/fd/3 3<open.reg
registry-fd-closed|65|/dev/fd/5: cannot be read: Bad file descriptor|exec 3</dev/null; exec "$@" --registry /dev/fd/5
registry-fd-deleted|65|/dev/fd/3: cannot be read: its file has no name that leads to it|exec 3<>gone.reg && rm gone.reg && exec "$@" --registry /dev/fd/3
EOF
wrong=""
grep -q '"Port"="COM5:"' fds/open.reg || wrong+=" open.reg was not saved;"
others=$(ls -A fds | grep -v -e '^log.txt$' -e '^open.reg$')
[ -z "$others" ] || wrong+=" made: $others;"
check registry-fd-files "$wrong"
mkdir exportdir
expect export-folder 74 "exportdir: cannot export: Is a directory" "${sambrel[@]}" --choose com3 --export exportdir
if [ ! -s out.txt ]; then pass export-folder-before-run; else fail export-folder-before-run "the program ran"; fi

# Every output that cannot be written is refused before the run, exit 74,
# and the registry file (whose run would change it) is not saved. As
# nobody: a folder and a file of root's.
mkdir -m 777 outs
mkdir -m 755 outs/roots
: > outs/roots.txt
ln -s .sambrel-0000abcd outs/to-new.txt
while IFS='|' read -r name who words args; do
    if [ "$who" = nobody ] && [ "$(id -u)" -ne 0 ]; then echo "SKIP $name: not root"; continue; fi
    cp base.reg outs/pending.reg
    chown 65534:65534 outs/pending.reg 2>/dev/null
    run=("${sambrel[@]}")
    [ "$who" = nobody ] && run=("${as_nobody[@]}")
    # shellcheck disable=SC2086
    expect "$name" 74 "$words" "${run[@]}" --registry outs/pending.reg --choose autoscan $args
    same "$name-not-saved" outs/pending.reg base.reg
done <<'EOF'
messages-folder|me|Is a directory|--messages exportdir
messages-missing-folder|me|No such file or directory|--messages nowhere/m.txt
export-missing-folder|me|No such file or directory|--export nowhere/e.reg
messages-through-a-file|me|Not a directory|--messages base.reg/m.txt
messages-folder-not-ours|nobody|Permission denied|--messages outs/roots/m.txt
export-folder-not-ours|nobody|Permission denied|--export outs/roots/e.reg
export-file-not-ours|nobody|Permission denied|--export outs/roots.txt
export-named-as-new|me|is named as a new file is|--export outs/.sambrel-1234beef
messages-named-as-new|me|is named as a new file is|--messages outs/.sambrel-1234beef
messages-linked-to-new-name|me|is named as a new file is|--messages outs/to-new.txt
EOF
# A registry file of a new file's name, or a link to one, is never made:
# the next save in its folder could take it for a killed save's leftover.
for name in outs/.sambrel-0000abcd outs/to-new.txt; do
    expect "registry-named-as-new ($name)" 74 "is named as a new file is" "${sambrel[@]}" --registry "$name" --choose com3
done
if [ ! -e outs/.sambrel-0000abcd ] && [ ! -e outs/.sambrel-1234beef ]; then pass named-as-new-not-made; else fail named-as-new-not-made "$(ls -A outs)"; fi

# Options that contradict each other.
expect twice-registry 64 "given more than once" "${sambrel[@]}" --registry a.reg --registry b.reg --choose com3
expect twice-choose 64 "given more than once" "${sambrel[@]}" --choose com3 --choose cancel
expect twice-export 64 "given more than once" "${sambrel[@]}" --choose com3 --export a --export b
expect dry-run-alone 64 "--dry-run goes with --registry" "${sambrel[@]}" --choose com3 --dry-run
# An output that is the registry file itself, under any name (a symbolic
# link, a hard link, another spelling, a link to a file not yet made):
# --messages always, --export with --dry-run (without, it gets what was
# saved). Refused before the run; the file is untouched or never made.
cp base.reg self.reg
ln -s self.reg self-link.reg
ln -s notyet.reg notyet-link.reg
mkdir sub
while read -r name args; do
    # shellcheck disable=SC2086
    expect "$name" 64 "would write the registry file itself" "${sambrel[@]}" $args --choose autoscan
done <<'EOF'
dry-run-export-itself       --registry self.reg --dry-run --export self-link.reg
dry-run-export-hard-link    --registry hard.reg --dry-run --export hard2.reg
dry-run-export-not-yet      --registry notyet.reg --dry-run --export notyet-link.reg
messages-itself             --registry self.reg --messages self.reg
messages-itself-dry-run     --registry self.reg --dry-run --messages self.reg
messages-link               --registry self.reg --messages self-link.reg
messages-other-spelling     --registry self.reg --messages sub/../self.reg
messages-hard-link          --registry hard.reg --dry-run --messages hard2.reg
messages-not-yet            --registry notyet.reg --messages notyet-link.reg
messages-not-yet-spelling   --registry ./notyet.reg --messages sub/../notyet.reg
EOF
# --export and --messages never write one file between them.
ln -s both.txt both-link.txt
while read -r name args; do
    # shellcheck disable=SC2086
    expect "$name" 64 "--export and --messages would write the same file" "${sambrel[@]}" $args --choose autoscan
done <<'TABLE'
export-messages-same        --export both.txt --messages both.txt
export-messages-link        --export both.txt --messages both-link.txt
export-messages-spelling    --export both.txt --messages sub/../both.txt
TABLE
if [ ! -e both.txt ]; then pass export-messages-not-made; else fail export-messages-not-made "both.txt was made"; fi
# An export that is the registry file is the save itself, made while the
# file is held: one replacement, never a second one after another run may
# have saved in between.
cp base.reg exported.reg
strace -f -qq -e trace=rename,renameat,renameat2 -o renames.txt "${sambrel[@]}" --registry exported.reg --export exported.reg --choose autoscan </dev/null >/dev/null 2>&1
n=$(grep -c 'exported.reg' renames.txt)
if [ "$n" -eq 1 ]; then pass export-itself-one-save; else fail export-itself-one-save "$n renames onto it: $(head -c 300 renames.txt)"; fi
"${sambrel[@]}" --registry exported.reg --export exported.reg --choose cancel </dev/null >/dev/null 2>&1
if grep -q 'ExtModems' exported.reg; then pass export-itself-unchanged-run; else fail export-itself-unchanged-run "the file lost its entry"; fi
same outputs-itself-untouched self.reg base.reg
same outputs-hard-link-untouched hard.reg base.reg
if [ ! -e notyet.reg ]; then pass outputs-not-yet-not-made; else fail outputs-not-yet-not-made "notyet.reg was made"; fi
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
# goes with the next save in that folder (here a new file made there): a
# file of exactly the name a save gives (".sambrel-" and 8 lowercase hex
# digits), the running user's, regular, of one link, not empty, beginning
# as a registry file does, and locked by no one. Anything else stays: a
# new file that a live run holds locked, one just made (still empty), a
# person's own ".sambrel-notes.txt", another user's file.
mkdir leftovers
reg4() { printf 'REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\X]\r\n'; }
reg4 > leftovers/.sambrel-deadbeef
/usr/bin/python3 -c 'import sys; sys.stdout.buffer.write("\ufeffWindows Registry Editor Version 5.00\r\n".encode("utf-16-le"))' > leftovers/.sambrel-feedface
printf '\357\273\277Windows Registry Editor Version 5.00\n' > leftovers/.sambrel-0ddba115
: > leftovers/.sambrel-00000000
reg4 > leftovers/.sambrel-1111aaaa
for name in notes.txt DEADBEEF deadbeef0 deadbee abcdef; do reg4 > "leftovers/.sambrel-$name"; done
echo 'my notes' > leftovers/.sambrel-cafebabe
reg4 > leftovers/.sambrel-2222bbbb
ln leftovers/.sambrel-2222bbbb leftovers/second-name
ln -s ../base.reg leftovers/.sambrel-3333cccc
mkdir leftovers/.sambrel-4444dddd
gone=(deadbeef feedface 0ddba115)
kept=(00000000 1111aaaa notes.txt DEADBEEF deadbeef0 deadbee abcdef cafebabe 2222bbbb 3333cccc 4444dddd)
if [ "$(id -u)" -eq 0 ]; then
    reg4 > leftovers/.sambrel-5555eeee
    chown 65534:65534 leftovers/.sambrel-5555eeee
    kept+=(5555eeee)
fi
# The live run's side: the holder says "held" once it has the lock.
mkfifo held.fifo
/usr/bin/python3 -c 'import fcntl, os, signal
fd = os.open("leftovers/.sambrel-1111aaaa", os.O_RDONLY)
fcntl.flock(fd, fcntl.LOCK_EX)
print("held", flush=True)
signal.pause()' > held.fifo &
holder=$!
read -r held < held.fifo
expect leftover-save 1 "" "${sambrel[@]}" --registry leftovers/r.reg --choose com3
kill "$holder" 2>/dev/null
wait "$holder" 2>/dev/null
wrong=""
for n in "${gone[@]}"; do [ ! -e "leftovers/.sambrel-$n" ] || wrong+=" .sambrel-$n stayed"; done
for n in "${kept[@]}"; do [ -e "leftovers/.sambrel-$n" ] || [ -L "leftovers/.sambrel-$n" ] || wrong+=" .sambrel-$n was removed"; done
[ "$held" = held ] || wrong+=" the holder never held its file"
check leftover-removed-others-kept "$wrong"
rm -rf leftovers held.fifo

# Killed at random moments, by signals that end a process (started with
# SIGINT and SIGQUIT at their defaults: a background job's ignore them):
# never a partial file, and once each lane's last, uncut save has run,
# never a temporary file left (the new file has no name until it is
# complete, and a SIGKILL between its naming and its renaming leaves one
# that the next save removes). The status says what happened: the old file
# and 128 + the signal's number, or the new file and the run's own status
# (1; 137 for SIGKILL, which nothing can hold), and a signal that came once
# the file was saved is said on stderr. Two lanes at once, on a 2 MB file,
# each kill at a random moment of a whole run's length.
/usr/bin/python3 - <<'PY'
lines = ["Windows Registry Editor Version 5.00", ""]
for n in range(10000):
    lines += ["[HKEY_LOCAL_MACHINE\\Software\\Vendor%03d\\Product%05d]" % (n % 97, n),
              '"Name"="Product %d"' % n, '"Flags"=dword:%08x' % n, ""]
open("big.orig", "wb").write(b"\xff\xfe" + ("\r\n".join(lines) + "\r\n").encode("utf-16-le"))
PY
cp big.orig big.new
cp big.orig big.two
start=$(date +%s%N) # a whole run's length, two at once as in the lanes
"${sambrel[@]}" --registry big.new --choose com3 </dev/null >/dev/null 2>&1 & # what a finished run gives
"${sambrel[@]}" --registry big.two --choose com3 </dev/null >/dev/null 2>&1
wait
whole=$(( ($(date +%s%N) - start) / 1000000 + 1 ))
signals=(INT TERM HUP QUIT KILL USR1 ALRM XCPU XFSZ VTALRM PROF PWR RTMIN+3 RTMAX)
lane() {
    mkdir "lane$1" && cd "lane$1" || return
    for ((i = 0; i < $2; i++)); do
        cp ../big.orig big.reg
        env --default-signal=INT,QUIT "${sambrel[@]}" --registry big.reg --choose com3 </dev/null >/dev/null 2>err.txt &
        local pid=$! sig=${signals[RANDOM % ${#signals[@]}]}
        sleep "$(printf '%d.%03d' $(( (RANDOM * whole / 32768) / 1000 )) $(( (RANDOM * whole / 32768) % 1000 )))"
        kill -s "$sig" "$pid" 2>/dev/null
        wait "$pid" 2>/dev/null
        local rc=$? state said=quiet
        if cmp -s big.reg ../big.orig; then state=old; elif cmp -s big.reg ../big.new; then state=new; else state=partial; fi
        grep -q "came after big.reg was saved" err.txt && said=said
        echo "$rc $state $said $sig $(kill -l "$sig")"
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
# A mismatch: the old file without 128 + the signal's number, the new file
# with a status that says nothing was saved, or the line on stderr with
# anything but the new file and the run's status.
mismatched=$(awk '($2 == "old" && $1 != 128 + $5) ||
                  ($2 == "new" && !($1 == 1 || ($4 == "KILL" && $1 == 137))) ||
                  ($3 == "said" && !($2 == "new" && $1 == 1))' kills.txt)
echo "kill loop: $(wc -l < kills.txt) runs of up to $whole ms in $(( ($(date +%s%N) - start) / 1000000 )) ms:" \
     "$(awk '$1 > 128' kills.txt | wc -l) ended by a signal, $(grep -c old kills.txt) left the old file," \
     "$(grep -c new kills.txt) the new one ($(grep -c ' said ' kills.txt) saying that a signal came after the save)," \
     "$partial anything else; $(grep -c . <<<"$mismatched") statuses that do not tell what happened"
if [ "$(wc -l < kills.txt)" -eq "$runs" ] && [ "$partial" -eq 0 ]; then pass kill-loop-old-or-new; else fail kill-loop-old-or-new "$partial files neither old nor new"; fi
check kill-loop-status-tells "$(head -5 <<<"$mismatched")"
no_temp kill-loop-no-temporary-file

# A signal while standard output takes no more (a pipe nobody reads) and
# the new file waits for it to be printed: the run ends by the signal, and
# the registry file is the old one. The reader sends it once the pipe is
# full.
cp big.orig big.reg
cat > stalled.py <<'PY'
import fcntl, os, signal, struct, subprocess, sys, termios, time
r, w = os.pipe()
run = subprocess.Popen(sys.argv[1:], stdin=subprocess.DEVNULL, stdout=w, stderr=subprocess.DEVNULL)
os.close(w)
capacity = fcntl.fcntl(r, 1032)  # F_GETPIPE_SZ
while struct.unpack("i", fcntl.ioctl(r, termios.FIONREAD, b"\0\0\0\0"))[0] < capacity and run.poll() is None:
    time.sleep(0.01)
run.send_signal(signal.SIGTERM)
try:
    print(run.wait(timeout=30))
except subprocess.TimeoutExpired:
    run.kill()
    print("hung")
PY
rc=$(/usr/bin/python3 stalled.py "${sambrel[@]}" --registry big.reg --choose com3 --export -)
if [ "$rc" = -15 ] && cmp -s big.reg big.orig; then
    pass stalled-stdout-signal-old-file
else
    fail stalled-stdout-signal-old-file "ended with $rc; big.reg $(cmp -s big.reg big.orig && echo old || echo new)"
fi

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

# A writer that ignores the lock and changes the file in place (the same
# size) at a random moment of a run, as an editor saving in place would:
# its change is either read by the run, or the run exits 75 and leaves it.
# Only a write that lands between the run's last look at the file and its
# rename (microseconds), or into a file the writer opened just before the
# rename, can be lost: at most 1 in 150. The writer is one process, told
# when to write and saying when it has written.
/usr/bin/python3 - <<'PY'
lines = ["REGEDIT4", "", "[HKEY_LOCAL_MACHINE\\Outside]", '"Round"="000000"', ""]
for n in range(1000):
    lines += ["[HKEY_LOCAL_MACHINE\\Software\\Vendor%03d\\Product%05d]" % (n % 97, n),
              '"Name"="Product %d"' % n, '"Flags"=dword:%08x' % n, ""]
open("inplace.reg", "wb").write(("\r\n".join(lines) + "\r\n").encode())
PY
coproc WRITER { /usr/bin/python3 -u -c 'import os, sys
for line in sys.stdin:
    fd = os.open("inplace.reg", os.O_RDWR)
    os.pwrite(fd, b"%06d" % int(line), os.pread(fd, 4096, 0).find(b"\"Round\"=\"") + 9)
    os.close(fd)
    print("written", flush=True)'; }
writer=$WRITER_PID writer_in=${WRITER[1]} writer_out=${WRITER[0]}
start=$(date +%s%N)
"${sambrel[@]}" --registry inplace.reg --choose autoscan </dev/null >/dev/null 2>&1
whole=$(( ($(date +%s%N) - start) / 1000000 + 1 ))
rounds=150 lost=0 refused=0 bad=0
for ((i = 1; i <= rounds; i++)); do
    "${sambrel[@]}" --registry inplace.reg --choose "$( ((i % 2)) && echo com3 || echo autoscan)" </dev/null >/dev/null 2>/dev/null &
    pid=$!
    sleep "$(printf '%d.%03d' $(( (RANDOM * whole / 32768) / 1000 )) $(( (RANDOM * whole / 32768) % 1000 )))"
    echo "$i" >&"$writer_in"
    read -r written <&"$writer_out"
    wait "$pid"
    rc=$?
    case $rc in 1) ;; 75) refused=$((refused + 1)) ;; *) bad=$((bad + 1)) ;; esac
    grep -q "\"Round\"=\"$(printf '%06d' "$i")\"" inplace.reg || lost=$((lost + 1))
done
exec {writer_in}>&-
wait "$writer" 2>/dev/null
echo "in-place writer: $lost of $rounds writes lost, $refused runs refused (75), $bad runs failed otherwise"
if [ "$lost" -le 1 ] && [ "$bad" -eq 0 ] && [ "$written" = written ]; then pass in-place-writes-kept; else fail in-place-writes-kept "$lost lost, $bad failed"; fi

# Without /proc (a chroot, a container): a save names its new file from
# the start (an unnamed one is named through /proc), an output's
# attributes are read through the file itself, descriptor names are told
# by their spelling, and standard output appended to the registry file is
# told by what it is open on. The registry file says COM7:, and HOLDS is
# the file that must have the run's COM3: (- for none: the registry file
# is as it was).
if [ "$(id -u)" -eq 0 ] && unshare -m true 2>/dev/null; then
    sed 's/"Port"="COM3:"/"Port"="COM7:"/' base.reg > noproc.orig
    while IFS='|' read -r name status words holds command; do
        rm -rf noproc && mkdir noproc
        cp noproc.orig noproc/d.reg && cp noproc.orig noproc/e.reg
        xattrs=no
        /usr/bin/python3 -c 'import os; os.setxattr("noproc/e.reg", "user.kept", b"yes")' 2>/dev/null && xattrs=yes
        printf 'an earlier line\n' > noproc/log.txt
        # In its place a file system holding only self/environ: the
        # sanitizers (in the sanitize build) read their options there, and
        # LeakSanitizer, which cannot work without /proc, is turned off.
        ASAN_OPTIONS=${ASAN_OPTIONS:+$ASAN_OPTIONS:}detect_leaks=0 expect "$name" "$status" "$words" \
            unshare -m sh -c 'c=$1; shift; umount -l /proc && mount -t tmpfs none /proc && mkdir /proc/self &&
                env -0 > /proc/self/environ && cd noproc && eval "$c"' sh "$command" "${sambrel[@]}"
        wrong=""
        if [ "$holds" = - ]; then
            cmp -s noproc/d.reg noproc.orig || wrong+=" d.reg changed;"
        else
            grep -q '"Port"="COM3:"' "noproc/$holds" || wrong+=" $holds has no COM3:;"
        fi
        [ "$(head -1 noproc/log.txt)" = "an earlier line" ] || wrong+=" log.txt lost its first line;"
        left=$(ls -A noproc | grep -F .sambrel-)
        [ -z "$left" ] || wrong+=" left: $left;"
        if [ "$xattrs" = yes ] &&
            ! /usr/bin/python3 -c 'import os; os.getxattr("noproc/e.reg", "user.kept")' 2>/dev/null; then
            wrong+=" e.reg lost its attribute;"
        fi
        check "$name-files" "$wrong"
    done <<'EOF'
noproc-save|1||d.reg|exec "$@" --registry d.reg --choose com3
noproc-export-replaced|1||e.reg|exec "$@" --registry d.reg --choose com3 --export e.reg
noproc-export-stdout|1||log.txt|exec "$@" --registry d.reg --choose com3 --export /dev/stdout >>log.txt
noproc-export-fd|1||log.txt|exec "$@" --registry d.reg --choose com3 --export /dev/fd/3 3>>log.txt
noproc-stdout-is-registry|64|standard output or error is the registry file itself|-|exec "$@" --registry d.reg --choose cancel >>d.reg
noproc-stdout-is-export|64|standard output or error is the --export file itself|-|exec "$@" --registry d.reg --choose com3 --export log.txt >>log.txt
EOF
else
    echo "SKIP noproc-*: hiding /proc needs root and unshare -m"
fi

# Racily clean: on a file system whose timestamps have whole seconds (ext4
# with small inodes), a change in place in the second the file was read
# leaves its size and times as they were. The run compares what it read
# with what is there before renaming: exit 75, the change kept. The writer
# writes while the dialog is open (under a pseudo-terminal); a round whose
# change did move the times (the second turned) is run again.
cat > racy.py <<'PY'
import os, pty, select, subprocess, sys, time
sambrel, path = sys.argv[1], sys.argv[2]
for attempt in range(10):
    with open(path, "wb") as f:
        f.write(b'REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\Outside]\r\n"Round"="000000"\r\n\r\n')
    master, slave = pty.openpty()
    proc = subprocess.Popen([sambrel, "--registry", path], stdin=slave, stdout=slave,
                            stderr=subprocess.DEVNULL, env=dict(os.environ, TERM="xterm"))
    screen = b""
    while b"Autoscan" not in screen and select.select([master], [], [], 30)[0]:
        screen += os.read(master, 65536)
    before = os.stat(path)
    with open(path, "r+b") as f:
        f.seek(f.read().find(b'"Round"="') + 9)
        f.write(b"%06d" % (attempt + 1))
    after = os.stat(path)
    os.write(master, b"\r")
    while b"OK" not in screen and select.select([master], [], [], 30)[0]:
        screen += os.read(master, 65536)
    os.write(master, b"\r")
    code = proc.wait(30)
    os.close(master)
    os.close(slave)
    if (before.st_mtime_ns, before.st_ctime_ns) == (after.st_mtime_ns, after.st_ctime_ns):
        kept = b'"Round"="%06d"' % (attempt + 1) in open(path, "rb").read()
        print("%d %s" % (code, "kept" if kept else "lost"))
        sys.exit(0)
print("no round within one second")
PY
if [ "$(id -u)" -eq 0 ] && unshare -m true 2>/dev/null; then
    truncate -s 8M seconds.img
    /sbin/mke2fs -q -F -t ext4 -I 128 seconds.img >/dev/null 2>&1
    mkdir seconds
    unshare -m sh -c 'if mount -o loop seconds.img seconds 2>/dev/null; then
        /usr/bin/python3 racy.py "$1" seconds/racy.reg; else echo unmountable; fi' sh "${sambrel[@]}" > racy.txt
    case $(cat racy.txt) in
        "75 kept") pass racily-clean-change-kept ;;
        "no round"*) echo "SKIP racily-clean-change-kept: the second turned in every round" ;;
        unmountable) echo "SKIP racily-clean-change-kept: cannot mount a loop file system here" ;;
        *) fail racily-clean-change-kept "$(cat racy.txt)" ;;
    esac
else
    echo "SKIP racily-clean-change-kept: mounting a file system needs root and unshare -m"
fi

finish
