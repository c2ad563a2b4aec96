#!/usr/bin/env bash
# sambrel --registry on real files: created, rewritten in place, refused
# when broken, and never lost when saving fails for real (a read-only
# folder, a full file system, no permission).
# Usage: registry_file_test.sh [EMULATOR] PATH/TO/sambrel
set -u
. "$(dirname "$0")/lib.sh"
need unshare util-linux
need setpriv util-linux
need setfacl acl
need getfacl acl
need setfattr attr
need getfattr attr
sambrel=("${@:1:$#-1}" "$(realpath "${@: -1}")")
runs_image_if_asked
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
nobody_sambrel

# expect NAME STATUS COMMAND... : the command's exit status
expect() {
    local name=$1 status=$2
    shift 2
    "$@" </dev/null >out.txt 2>err.txt
    local rc=$?
    if [ "$rc" -eq "$status" ]; then pass "$name"; else fail "$name" "exit $rc, expected $status: $(cat err.txt)"; fi
}

# Created from the default handheld, then rewritten in place.
expect created 1 "${sambrel[@]}" --registry device.reg --choose com3
contains created-entry device.reg '"Port"="COM3:"'
contains created-drivers device.reg '[HKEY_LOCAL_MACHINE\Drivers\Active\01]'
expect rewritten 1 "${sambrel[@]}" --registry device.reg --choose autoscan
contains rewritten-port device.reg '"Port"="COM5:"'
if [ "$(grep -c '^\[HKEY_LOCAL_MACHINE\\ExtModems\\IR\]' device.reg)" -eq 1 ]; then pass one-entry; else fail one-entry "IR appears twice"; fi

# A run that changes nothing leaves the file alone, comments and all.
{ echo 'Windows Registry Editor Version 5.00'; echo; echo '; kept'; echo '[HKEY_LOCAL_MACHINE\Drivers\Active]'; } > quiet.reg
cp quiet.reg quiet.orig
expect unchanged 1 "${sambrel[@]}" --registry quiet.reg --choose cancel
same unchanged-bytes quiet.reg quiet.orig
expect dry-run 1 "${sambrel[@]}" --registry quiet.reg --choose com3 --dry-run
same dry-run-bytes quiet.reg quiet.orig

# Autoscan without a free port changes the registry as on the handheld:
# the keys made before it looked stay, IR empty, and the file is saved.
{ echo 'Windows Registry Editor Version 5.00'
  for n in 5 6 7 8 9; do echo; echo "[HKEY_LOCAL_MACHINE\\Drivers\\Active\\0$n]"; echo "\"Name\"=\"COM$n:\""; done; } > busy.reg
expect no-free-port 0 "${sambrel[@]}" --registry busy.reg --choose autoscan
contains no-free-port-message out.txt "#ERROR: No free COM ports!"
contains no-free-port-saved busy.reg '[HKEY_LOCAL_MACHINE\ExtModems\IR]'
check no-free-port-ir-empty "$(sed -n '/^\[HKEY_LOCAL_MACHINE\\ExtModems\\IR\]/,/^$/p' busy.reg | grep '^"')"

# A file that does not exist yet is created by a run that changed the
# registry, or whose export it is, and by nothing else: afterwards its
# folder holds exactly the files listed (an export elsewhere is written).
# name|status|files afterwards|options
while IFS='|' read -r name status files options; do
    rm -rf fresh && mkdir fresh
    # shellcheck disable=SC2086
    expect "new-file-$name" "$status" "${sambrel[@]}" --registry fresh/new.reg $options
    left=$(ls -A fresh | tr '\n' ' ')
    if [ "${left% }" = "$files" ]; then pass "new-file-$name-leaves: ${files:-nothing}"; else fail "new-file-$name-leaves" "${left:-nothing}, expected ${files:-nothing}"; fi
done <<'EOF'
cancel|1||--choose cancel
closed|1||--choose close
dry-run|1||--choose com3 --dry-run
dialog-failed|1||--choose com3 --fail DialogBoxIndirectParamW
failed-before-writing|0||--choose com3 --fail RegCreateKeyExW:ExtModems
cancel-export-elsewhere|1|other.reg|--choose cancel --export fresh/other.reg
cancel-export-is-the-file|1|new.reg|--choose cancel --export fresh/new.reg
com3|1|new.reg|--choose com3
failed-after-first-write|0|new.reg|--choose com3 --fail RegCreateKeyExW:IR
EOF

# A broken line 7 refuses the file: it stays as it was and nothing runs.
printf 'REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\Drivers\\Active\\01]\r\n"Name"="COM1:"\r\n\r\n[HKEY_LOCAL_MACHINE\\Drivers\\Active\\02]\r\n"Name"=hex:zz\r\n' > broken.reg
cp broken.reg broken.orig
expect broken 65 "${sambrel[@]}" --registry broken.reg --choose com3
contains broken-line err.txt "broken.reg:7: "
same broken-bytes broken.reg broken.orig
if [ -s out.txt ]; then fail broken-quiet "the program ran"; else pass broken-quiet; fi
mkdir folder.reg
expect unreadable 65 "${sambrel[@]}" --registry folder.reg --choose com3

# Export.
expect export-stdout 1 "${sambrel[@]}" --choose com3 --export -
contains export-header out.txt "Windows Registry Editor Version 5.00"
contains export-entry out.txt '[HKEY_LOCAL_MACHINE\ExtModems\IR]'
expect export-file 1 "${sambrel[@]}" --registry device.reg --choose com3 --export copy.reg
contains export-copy copy.reg '"Port"="COM3:"'

cp device.reg keep.orig  # its Port is COM3:, so Autoscan changes it

# Real failures while saving, each in a private mount namespace.
if unshare -m true 2>/dev/null; then
    mkdir ro
    cp device.reg ro/device.reg
    unshare -m bash -c "mount -t tmpfs -o size=1m tmpfs ro && cp keep.orig ro/device.reg &&
        mount -o remount,ro ro && ${sambrel[*]} --registry ro/device.reg --choose autoscan </dev/null >out.txt 2>err.txt;
        echo \$? > rc.txt; cmp -s ro/device.reg keep.orig && echo same > same.txt"
    [ "$(cat rc.txt)" -eq 74 ] && pass read-only-folder || fail read-only-folder "exit $(cat rc.txt)"
    [ -f same.txt ] && pass read-only-intact || fail read-only-intact "file changed"
    rm -f same.txt

    # A file system with room for the old file but not for a second copy.
    unshare -m bash -c "mkdir -p full && mount -t tmpfs -o size=16k tmpfs full && cp keep.orig full/device.reg &&
        (dd if=/dev/zero of=full/filler bs=1k count=64 2>/dev/null; true) &&
        ${sambrel[*]} --registry full/device.reg --choose autoscan </dev/null >out.txt 2>err.txt;
        echo \$? > rc.txt; cmp -s full/device.reg keep.orig && echo same > same.txt;
        ls -A full | grep -v -e '^device.reg\$' -e '^filler\$' > leftovers.txt"
    [ "$(cat rc.txt)" -eq 74 ] && pass full-disk || fail full-disk "exit $(cat rc.txt): $(cat err.txt)"
    [ -f same.txt ] && pass full-disk-intact || fail full-disk-intact "file changed"
    [ ! -s leftovers.txt ] && pass full-disk-no-temp || fail full-disk-no-temp "left $(cat leftovers.txt)"
    contains full-disk-reason err.txt "No space left on device"

    # An export that only fails as it is written (the same full file
    # system) fails the run before the registry file is saved: 74 means the
    # old file.
    rm -f same.txt
    unshare -m bash -c "mkdir -p full && mount -t tmpfs -o size=16k tmpfs full &&
        (dd if=/dev/zero of=full/filler bs=1k count=64 2>/dev/null; true) && cp keep.orig kept.reg &&
        ${sambrel[*]} --registry kept.reg --choose autoscan --export full/e.reg </dev/null >out.txt 2>err.txt;
        echo \$? > rc.txt; cmp -s kept.reg keep.orig && echo same > same.txt"
    [ "$(cat rc.txt)" -eq 74 ] && pass full-disk-export || fail full-disk-export "exit $(cat rc.txt): $(cat err.txt)"
    [ -f same.txt ] && pass full-disk-export-registry-intact || fail full-disk-export-registry-intact "kept.reg was saved"
else
    fail mount-namespace "unshare -m is not available here"
fi

# No permission to write in the folder, as an ordinary user.
if command -v setpriv >/dev/null && [ "$(id -u)" -eq 0 ]; then
    mkdir locked
    cp keep.orig locked/device.reg
    chmod 755 locked "$work"
    chmod 644 locked/device.reg
    chmod 555 locked
    "${as_nobody[@]}" --registry locked/device.reg --choose autoscan </dev/null >out.txt 2>err.txt
    rc=$?
    [ "$rc" -eq 74 ] && pass no-permission || fail no-permission "exit $rc"
    same no-permission-intact locked/device.reg keep.orig
    contains no-permission-reason err.txt "Permission denied"
    chmod 755 locked
fi

# ACLs and extended attributes are the file's too: a save (and an export
# over a file) carries them over, so that nobody's write access stays and
# the group gains none; a file in a folder with a default ACL does not
# take it on. A file whose attributes a replacement could not carry (one
# only a privileged process may set) is refused, exit 74, before the run.
touch probe
if ! setfacl -m u:nobody:rw probe 2>/dev/null || ! setfattr -n user.probe -v 1 probe 2>/dev/null; then
    echo "SKIP (ACLs, attributes): the file system of $work keeps no ACLs or user attributes"
else
    chmod 755 "$work"
    attributes() { echo "$(stat -c %a "$1")"; getfacl -cp "$1" 2>/dev/null; getfattr -d -m - -e hex "$1" 2>/dev/null | sed 1d; }
    cp keep.orig acl.reg
    cp keep.orig acl-export.reg
    for f in acl.reg acl-export.reg; do
        setfacl -m u:nobody:rw,g::r "$f"
        setfattr -n user.origin -v "from the handheld" "$f"
        attributes "$f" > "$f.attrs"
    done
    expect acl-save 1 "${sambrel[@]}" --registry acl.reg --choose autoscan --export acl-export.reg
    contains acl-saved acl.reg '"Port"="COM5:"'
    contains acl-exported acl-export.reg '"Port"="COM5:"'
    for f in acl.reg acl-export.reg; do
        if attributes "$f" | cmp -s - "$f.attrs"; then pass "$f-attributes-kept"; else fail "$f-attributes-kept" "$(attributes "$f" | diff "$f.attrs" - | tr '\n' ' ')"; fi
    done

    mkdir inherits
    setfacl -d -m u:nobody:rwx inherits
    cp keep.orig inherits/plain.reg
    setfacl -b inherits/plain.reg
    chmod 640 inherits/plain.reg
    attributes inherits/plain.reg > plain.attrs
    expect default-acl-save 1 "${sambrel[@]}" --registry inherits/plain.reg --choose autoscan
    if attributes inherits/plain.reg | cmp -s - plain.attrs; then pass default-acl-not-taken; else fail default-acl-not-taken "$(attributes inherits/plain.reg | tr '\n' ' ')"; fi

    if command -v setpriv >/dev/null && [ "$(id -u)" -eq 0 ]; then
        mkdir -m 777 privileged
        cp keep.orig privileged/device.reg
        chown 65534:65534 privileged/device.reg
        setfattr -n security.sambrel -v kept privileged/device.reg
        "${as_nobody[@]}" --registry privileged/device.reg --choose autoscan </dev/null >out.txt 2>err.txt
        rc=$?
        [ "$rc" -eq 74 ] && pass attributes-not-carried || fail attributes-not-carried "exit $rc: $(cat err.txt)"
        contains attributes-not-carried-reason err.txt "cannot be replaced: cannot keep its attribute security.sambrel"
        same attributes-not-carried-intact privileged/device.reg keep.orig
        if [ "$(getfattr --only-values -n security.sambrel privileged/device.reg 2>/dev/null)" = kept ] &&
           [ "$(ls -A privileged)" = device.reg ]; then
            pass attributes-not-carried-nothing-else
        else
            fail attributes-not-carried-nothing-else "$(ls -A privileged | tr '\n' ' ')"
        fi
    fi
fi

finish
