#!/usr/bin/env bash
# The sambrel command as a user runs it without a terminal: options, exit
# statuses, what it prints.
# Usage: command_test.sh [EMULATOR] PATH/TO/sambrel
set -u
sambrel=("$@")
. "$(dirname "$0")/lib.sh"
runs_image_if_asked

final() { echo "Infrared port is now $1.  Please, reset (boot) your handheld PC next."; }

# run_check NAME EXPECTED_STATUS EXPECTED_TEXT ARGS... : runs sambrel with ARGS,
# standard input not a terminal, and looks for the text in what it printed,
# which must hold no control character but line ends and tabs, C0 or C1
# (U+0080 to U+009F in UTF-8, or a byte 0x80 to 0x9F that no UTF-8
# sequence holds, a CSI to some terminals), nor a bidirectional embedding,
# override or isolate (which reorder what is read): nothing given on the command
# line reaches the terminal raw.
run_check() {
    local name=$1 status=$2 text=$3
    shift 3
    local out rc
    out=$("${sambrel[@]}" "$@" </dev/null 2>&1)
    rc=$?
    if [ "$rc" -ne "$status" ]; then
        fail "$name" "exit $rc, expected $status" "$out"
    elif ! grep -qF -- "$text" <<<"$out"; then
        fail "$name" "no line '$text' in:" "$(cat -v <<<"$out")"
    elif LC_ALL=C grep -qP '[\x00-\x08\x0b-\x1f\x7f]|\xc2[\x80-\x9f]|(?<![\xc2-\xdf\xe0-\xef\x80-\xbf])[\x80-\x9f]|\xe2\x80[\xaa-\xae]|\xe2\x81[\xa6-\xa9]' <<<"$out"; then
        fail "$name" "raw control characters in:" "$(cat -v <<<"$out")"
    else
        pass "$name"
    fi
}

run_check com3            1 "$(final COM3:)"                           --choose com3
run_check com3-port       1 '"Port"="COM3:"'                           --choose com3
run_check com3-type       1 '"DeviceType"=dword:00000001'              --choose com3
run_check com3-name       1 '"FriendlyName"="Quelm Phone on Infrared port"' --choose com3
run_check autoscan        1 "$(final COM5:)"                           --choose autoscan
run_check autoscan-entry  1 '"Port"="COM5:"'                           --choose=autoscan
run_check cancel          1 "There is no IR modem entry"               --choose cancel
run_check close           1 "There is no IR modem entry"               --choose close
run_check choose-label    1 "$(final COM3:)"                           --choose COM3:
run_check choose-upper    1 "$(final COM3:)"                           --choose COM3
run_check choose-mixed    1 "$(final COM5:)"                           --choose AutoScan
run_check choose-cancel   1 "There is no IR modem entry"               --choose=CANCEL
run_check choose-close    1 "(window closed)"                          --choose Close:
run_check caption         1 "== @ =="                                  --choose com3
run_check fail-extmodems  0 "#RegCreateKeyEx(HKLM/ExtModems) FAILED"   --choose com3 --fail RegCreateKeyExW:ExtModems
run_check fail-ir         0 "#RegCreateKeyEx(/IR) FAILED"              --choose autoscan --fail RegCreateKeyExW:IR
run_check fail-type       1 "#RegSetValueEx(Type) FAILED"              --choose com3 --fail RegSetValueExW:DeviceType
run_check fail-port       1 "#RegSetValueEx(Port) FAILED"              --choose com3 --fail RegSetValueExW:Port=ERROR_WRITE_PROTECT
run_check fail-port-final 1 "$(final COM3:)"                           --choose com3 --fail RegSetValueExW:Port
run_check fail-friendly   1 "#RegSetValueEx(FriendlyName) FAILED"      --choose com3 --fail RegSetValueExW:FriendlyName
run_check fail-drivers    1 "#RegOpenKeyEx(): 2"                       --choose autoscan --fail 'RegOpenKeyExW:Drivers\Active=ERROR_FILE_NOT_FOUND'
run_check fail-twice      0 "#RegCreateKeyEx(/IR) FAILED"              --choose com3 --fail RegSetValueExW --fail RegCreateKeyExW:IR=5
run_check fail-hex        1 "#RegOpenKeyEx(): -2147024891"             --choose autoscan --fail 'RegOpenKeyExW:Drivers\Active=0x80070005'
run_check fail-hex-upper  1 "#RegOpenKeyEx(): 2"                       --choose autoscan --fail 'RegOpenKeyExW:Drivers\Active=0X0000000002'
run_check fail-op-case    1 "#RegSetValueEx(Port) FAILED"              --choose com3 --fail regsetvalueexw:Port
run_check fail-name-case  0 "#RegCreateKeyEx(HKLM/ExtModems) FAILED"   --choose com3 --fail RegCreateKeyExW:extmodems
run_check fail-subkey-as-passed 1 "#RegOpenKeyEx(): 5"                 --choose autoscan --fail 'RegOpenKeyExW:DRIVERS\active'
run_check fail-resource-name 1 "There is no IR modem entry"            --choose com3 --fail FindResourceW:QuestionDialog
run_check fail-op-upper   0 "#RegCreateKeyEx(/IR) FAILED"              --choose com3 --fail REGCREATEKEYEXW:IR=access_denied
run_check fail-dialog     1 "There is no IR modem entry"               --choose com3 --fail DialogBoxIndirectParamW
run_check no-terminal     64 "no terminal"
run_check bad-option      64 "unknown option '--bogus'"                --bogus
run_check bad-choice      64 "--choose takes autoscan, com3, cancel or close, not 'maybe'" --choose maybe
run_check bad-choice-colons 64 "not 'com3::'"                          --choose com3::
run_check no-value        64 "needs a value"                           --choose
run_check bad-operation   64 "unknown operation 'RegNope'"             --fail RegNope
run_check bad-error       64 "unknown error 'ERROR_NOPE'"              --fail RegSetValueExW=ERROR_NOPE
run_check stray-argument  64 "unexpected argument"                     --choose com3 extra
run_check choice-escaped  64 "not '\x1b[2J'"                            --choose $'\e[2J'
run_check choice-c1-escaped 64 "not 'a\u009b2J'"                        --choose $'a\xc2\x9b2J'
run_check choice-raw-c1-escaped 64 "not 'a\x9b2J'"                      --choose $'a\x9b2J'
run_check choice-bidi-escaped 64 "not '\u202agot\u202e\u2066\u2069'"      --choose $'\xe2\x80\xaagot\xe2\x80\xae\xe2\x81\xa6\xe2\x81\xa9'
run_check choice-bidi-neighbours 64 "not '"$'\xe2\x80\xa9\xe2\x80\xaf\xe2\x81\xa5\xe2\x81\xaa'"'" \
                                            --choose $'\xe2\x80\xa9\xe2\x80\xaf\xe2\x81\xa5\xe2\x81\xaa'
run_check choice-cut-utf8-escaped 64 "not '\xe2\x82'"                   --choose $'\xe2\x82'
run_check choice-joined-escaped 64 "not '\x1b]0;owned\x07'"              --choose=$'\e]0;owned\a'
run_check cpu-escaped     64 "not '\x1b[31m'"                           --cpu $'\e[31m'
run_check fail-escaped    64 "--fail X=\x1b[2J"                         --choose com3 --fail $'X=\e[2J'
run_check fail-error-escaped 64 "unknown error '\x1b[2J'"               --choose com3 --fail $'RegSetValueExW=\e[2J'
run_check option-escaped  64 "unknown option '--\x1b[2J'"               $'--\e[2J'
run_check argument-escaped 64 "unexpected argument '\x1b[2J\x0a'"       --choose com3 $'\e[2J\n'
run_check choice-cut      64 "aaaaaaaa..."                              --choose "$(printf 'a%.0s' {1..3000})"
run_check hint            64 "Try 'sambrel --help'"                    --bogus
run_check help            0 "Usage: sambrel"                           --help
run_check version         0 "sambrel 1.0"                              --version

finish
