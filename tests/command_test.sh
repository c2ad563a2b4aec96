#!/usr/bin/env bash
# The sambrel command as a user runs it without a terminal: options, exit
# statuses, what it prints.
# Usage: command_test.sh [EMULATOR] PATH/TO/sambrel
set -u
sambrel=("$@")
# With SAMBREL_IMAGE set, every run is of the handheld's own image.
if [ -n "${SAMBREL_IMAGE:-}" ]; then
    if [ ! -f "$SAMBREL_IMAGE" ]; then
        echo "SKIP: $SAMBREL_IMAGE is not built; build it first: cmake --preset wince && cmake --build --preset wince"
        exit 77
    fi
    sambrel+=(--image "$(realpath "$SAMBREL_IMAGE")")
fi
passed=0
failed=0

final() { echo "Infrared port is now $1.  Please, reset (boot) your handheld PC next."; }

# check NAME EXPECTED_STATUS EXPECTED_TEXT ARGS... : runs sambrel with ARGS,
# standard input not a terminal, and looks for the text in what it printed.
check() {
    local name=$1 status=$2 text=$3
    shift 3
    local out rc
    out=$("${sambrel[@]}" "$@" </dev/null 2>&1)
    rc=$?
    if [ "$rc" -ne "$status" ]; then
        echo "FAIL $name: exit $rc, expected $status"; echo "$out" | sed 's/^/    /'
        failed=$((failed + 1))
    elif ! grep -qF -- "$text" <<<"$out"; then
        echo "FAIL $name: no line '$text' in:"; echo "$out" | sed 's/^/    /'
        failed=$((failed + 1))
    else
        echo "ok   $name"
        passed=$((passed + 1))
    fi
}

check com3            1 "$(final COM3:)"                           --choose com3
check com3-port       1 '"Port"="COM3:"'                           --choose com3
check com3-type       1 '"DeviceType"=dword:00000001'              --choose com3
check com3-name       1 '"FriendlyName"="Quelm Phone on Infrared port"' --choose com3
check autoscan        1 "$(final COM5:)"                           --choose autoscan
check autoscan-entry  1 '"Port"="COM5:"'                           --choose=autoscan
check cancel          1 "There is no IR modem entry"               --choose cancel
check close           1 "There is no IR modem entry"               --choose close
check caption         1 "== @ =="                                  --choose com3
check fail-extmodems  0 "#RegCreateKeyEx(HKLM/ExtModems) FAILED"   --choose com3 --fail RegCreateKeyExW:ExtModems
check fail-ir         0 "#RegCreateKeyEx(/IR) FAILED"              --choose autoscan --fail RegCreateKeyExW:IR
check fail-type       1 "#RegSetValueEx(Type) FAILED"              --choose com3 --fail RegSetValueExW:DeviceType
check fail-port       1 "#RegSetValueEx(Port) FAILED"              --choose com3 --fail RegSetValueExW:Port=ERROR_WRITE_PROTECT
check fail-port-final 1 "$(final COM3:)"                           --choose com3 --fail RegSetValueExW:Port
check fail-friendly   1 "#RegSetValueEx(FriendlyName) FAILED"      --choose com3 --fail RegSetValueExW:FriendlyName
check fail-drivers    1 "#RegOpenKeyEx(): 2"                       --choose autoscan --fail 'RegOpenKeyExW:Drivers\Active=ERROR_FILE_NOT_FOUND'
check fail-twice      0 "#RegCreateKeyEx(/IR) FAILED"              --choose com3 --fail RegSetValueExW --fail RegCreateKeyExW:IR=5
check fail-dialog     1 "There is no IR modem entry"               --choose com3 --fail DialogBoxIndirectParamW
check no-terminal     64 "no terminal"
check bad-option      64 "unknown option '--bogus'"                --bogus
check bad-choice      64 "--choose takes"                          --choose maybe
check no-value        64 "needs a value"                           --choose
check bad-operation   64 "unknown operation 'RegNope'"             --fail RegNope
check bad-error       64 "unknown error 'ERROR_NOPE'"              --fail RegSetValueExW=ERROR_NOPE
check stray-argument  64 "unexpected argument"                     --choose com3 extra
check hint            64 "Try 'sambrel --help'"                    --bogus
check help            0 "Usage: sambrel"                           --help
check version         0 "sambrel 1.0"                              --version

echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
