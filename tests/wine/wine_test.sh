#!/usr/bin/env bash
# sambrel.exe on a real Win32 API (Wine, under Xvfb), played by the robot,
# and every scenario also on the simulated handheld from the same .reg
# fixture: both must give the same exit code, the same messages and the
# same ExtModems subtree. Files must pass both ways between sambrel and
# Wine's reg.exe, and the core library's conformance checks must pass on the
# real API as they do on the simulated handheld.
# The handheld's own image runs every scenario a third time, under the
# emulator (sambrel --image), and a fourth from its installation cabinet
# (sambrel --image sambrel.cab), and must agree with both.
# Usage: wine_test.sh HOST_BUILD_DIR WIN32_BUILD_DIR [WINCE_IMAGE [WINCE_CABINET]]
set -u
NEED_STATUS=77
. "$(dirname "$0")/../lib.sh"
need wine wine
need wineboot wine
need wineserver wine
need Xvfb xvfb
need iconv libc-bin
for built in "$2/sambrel.exe" "$2/robot.exe" "$2/conformance.exe"; do
    if [ ! -f "$built" ]; then
        echo "SKIP: $built is not built; build it first: cmake --preset win32 && cmake --build --preset win32"
        exit 77
    fi
done
host=$(realpath "$1")
win=$(realpath "$2")
ce_files=() # the handheld's files the emulator runs every scenario from
for built in "${@:3}"; do
    if [ ! -f "$built" ]; then
        echo "SKIP: $built is not built; build it first: cmake --preset wince && cmake --build --preset wince"
        exit 77
    fi
    ce_files+=("$(realpath "$built")")
done
fixtures=$(dirname "$(realpath "$0")")/fixtures
sambrel=$host/cli/sambrel
regdump=$host/tests/regdump

work=$(mktemp -d)
export WINEPREFIX=$work/prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
cleanup() {
    wineserver -k 2>/dev/null
    [ -n "${xvfb_pid:-}" ] && kill "$xvfb_pid" 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT

# Xvfb picks a free display itself and writes its number once it takes
# connections: no race with another run for the same number, and no guess
# at how long it takes to start.
coproc XVFB { exec Xvfb -displayfd 1 -screen 0 1024x768x24 -nolisten tcp 2>/dev/null; }
xvfb_pid=$XVFB_PID
read -r number <&"${XVFB[0]}" || { echo "Xvfb did not start" >&2; exit 1; }
display=:$number
export DISPLAY=$display

started=$(date +%s)
wineboot -i >/dev/null 2>&1
wineserver -p
cp "$win/sambrel.exe" "$win/robot.exe" "$win/conformance.exe" "$WINEPREFIX/drive_c/"

ok() { pass "$1"; }
bad() { local name=$1; shift; fail "$name" "" "$@"; }
winpath() { echo "Z:${1//\//\\}"; }

# Imports a .reg file into Wine's registry. Wine's reg.exe now and then
# refuses a file it takes on the next try (seen once in many runs, with the
# same bytes); a second try after the wineserver settles tells that apart
# from a file it cannot read. What reg said is kept in $work/import.log.
import_reg() {
    wine reg import "$(winpath "$1")" >"$work/import.log" 2>&1 && return 0
    wineserver -w
    wine reg import "$(winpath "$1")" >>"$work/import.log" 2>&1
}

# What Wine's registry holds under a key, through reg export and regdump.
wine_tree() {
    rm -f "$work/export.reg"
    if wine reg export "$1" "$(winpath "$work/export.reg")" /y >/dev/null 2>&1; then
        "$regdump" "$work/export.reg" "$1"
    else
        echo "(no $1)"
    fi
}

# The message boxes sambrel listed (--messages: CAPTION<TAB>TEXT lines), as
# the robot reports them.
sim_messages() {
    sed 's/\t/|/; s/^/message: /' "$1"
}

# scenario NAME FIXTURE ACTION CHOICE RUNS EXPECTED_EXIT EXPECTED_PORT [EXPECTED_MESSAGE]
scenario() {
    local name=$1 fixture=$fixtures/$2.reg action=$3 choice=$4 runs=$5 want_exit=$6 want_port=$7 want_msg=${8:-}
    local wine_out wine_exit sim_exit diffs=()
    rm -f "$work/sim.msgs"

    import_reg "$fixture" || { bad "$name" "reg import failed: $(tr -d '\r' <"$work/import.log" | head -c 300)"; return; }
    for _ in $(seq "$runs"); do
        wine_out=$(wine 'C:\robot.exe' "$action" 'C:\sambrel.exe' 2>/dev/null | tr -d '\r')
    done
    wine_exit=$(sed -n 's/^exit: //p' <<<"$wine_out")
    wine_tree 'HKEY_LOCAL_MACHINE\ExtModems' > "$work/wine.tree"

    cp "$fixture" "$work/sim.reg"
    for _ in $(seq "$runs"); do
        "$sambrel" --registry "$work/sim.reg" --choose "$choice" --export "$work/after.reg" \
            --messages "$work/sim.msgs" </dev/null >"$work/sim.out" 2>&1
        sim_exit=$?
    done
    "$regdump" "$work/after.reg" 'HKEY_LOCAL_MACHINE\ExtModems' > "$work/sim.tree"

    grep -q '^dialog: ok$' <<<"$wine_out" || diffs+=("Wine: $(grep -m3 -e '^dialog' -e '^robot' <<<"$wine_out" | tr '\n' ' ')")
    [ "$wine_exit" = "$sim_exit" ] || diffs+=("exit code: Wine $wine_exit, simulated $sim_exit")
    [ "$sim_exit" = "$want_exit" ] || diffs+=("exit code $sim_exit, expected $want_exit")
    local wine_msgs sim_msgs
    wine_msgs=$(grep '^message: ' <<<"$wine_out")
    sim_msgs=$(sim_messages "$work/sim.msgs")
    [ "$wine_msgs" = "$sim_msgs" ] || diffs+=("messages differ:" "  Wine:      ${wine_msgs//$'\n'/ / }" "  simulated: ${sim_msgs//$'\n'/ / }")
    [ -z "$want_msg" ] || grep -qF -- "|$want_msg" <<<"$wine_msgs" || diffs+=("no message '$want_msg'")
    if ! cmp -s "$work/wine.tree" "$work/sim.tree"; then
        diffs+=("ExtModems differ (Wine < > simulated):")
        while IFS= read -r line; do diffs+=("  $line"); done < <(diff "$work/wine.tree" "$work/sim.tree")
    fi
    local ce ce_exit ce_msgs
    for ce in "${ce_files[@]}"; do
        rm -f "$work/ce.msgs"
        cp "$fixture" "$work/ce.reg"
        for _ in $(seq "$runs"); do
            "$sambrel" --image "$ce" --registry "$work/ce.reg" --choose "$choice" --export "$work/ce-after.reg" \
                --messages "$work/ce.msgs" </dev/null >"$work/ce.out" 2>&1
            ce_exit=$?
        done
        "$regdump" "$work/ce-after.reg" 'HKEY_LOCAL_MACHINE\ExtModems' > "$work/ce.tree"
        ce_msgs=$(sim_messages "$work/ce.msgs")
        [ "$ce_exit" = "$sim_exit" ] || diffs+=("exit code: ${ce##*/} $ce_exit, simulated $sim_exit: $(grep -m1 sambrel: "$work/ce.out")")
        [ "$ce_msgs" = "$sim_msgs" ] || diffs+=("messages differ:" "  ${ce##*/}:  ${ce_msgs//$'\n'/ / }" "  simulated: ${sim_msgs//$'\n'/ / }")
        if ! cmp -s "$work/ce.tree" "$work/sim.tree"; then
            diffs+=("ExtModems differ (${ce##*/} < > simulated):")
            while IFS= read -r line; do diffs+=("  $line"); done < <(diff "$work/ce.tree" "$work/sim.tree")
        fi
    done
    if [ -n "$want_port" ]; then
        local port_hex
        port_hex=$(printf '%s' "$want_port" | od -An -tx1 | tr -s ' ' '\n' | sed '/^$/d' | sed 's/$/,00/' | tr '\n' ',')00,00
        grep -qF "\"Port\" 1 $port_hex" "$work/wine.tree" || diffs+=("IR Port is not $want_port")
    fi
    if [ ${#diffs[@]} -eq 0 ]; then ok "$name ($((2 + ${#ce_files[@]})) ways)"; else bad "$name" "${diffs[@]}"; fi
}

# The core library's conformance checks, which the simulated handheld also
# passes, on the real API.
conformance=$(wine 'C:\conformance.exe' 2>&1 | tr -d '\r')
if grep -q ' passed, 0 failed$' <<<"$conformance"; then
    ok "conformance ($(tail -n 1 <<<"$conformance"))"
else
    bad conformance "$conformance"
fi

#        name                fixture      robot    sambrel   runs exit port    message
scenario cancel              typical      cancel   cancel    1    1    ""
scenario close               typical      close    close     1    1    ""
scenario escape              typical      escape   cancel    1    1    ""
scenario enter-is-com3       typical      enter    com3      1    1    COM3:   "Infrared port is now COM3:.  Please, reset (boot) your handheld PC next."
scenario com3-in-use         com3_busy    com3     com3      1    1    COM3:
scenario autoscan-com5-free  typical      autoscan autoscan  1    1    COM5:   "Infrared port is now COM5:.  Please, reset (boot) your handheld PC next."
scenario autoscan-5-6-busy   busy_5_6     autoscan autoscan  1    1    COM7:
scenario autoscan-all-busy   busy_5_to_9  autoscan autoscan  1    0    ""      "#ERROR: No free COM ports!"
scenario running-twice       typical      autoscan autoscan  2    1    COM5:
scenario earlier-ir-entry    earlier_ir   autoscan autoscan  1    1    COM5:
scenario multi-sz-com5       multi_sz     autoscan autoscan  1    1    COM5:
scenario long-value          long_value   autoscan autoscan  1    1    COM5:
scenario no-drivers-active   no_drivers   autoscan autoscan  1    1    COM5:   "#RegOpenKeyEx(): 2"

# The IR key of a run with no free port exists, and is empty.
import_reg "$fixtures/busy_5_to_9.reg"
wine 'C:\robot.exe' autoscan 'C:\sambrel.exe' >/dev/null 2>&1
if [ "$(wine_tree 'HKEY_LOCAL_MACHINE\ExtModems\IR')" = "[HKEY_LOCAL_MACHINE\\ExtModems\\IR]" ]; then
    ok all-busy-ir-key-empty
else
    bad all-busy-ir-key-empty "$(wine_tree 'HKEY_LOCAL_MACHINE\ExtModems\IR')"
fi

# Files both ways: what sambrel writes, in each encoding, imports into Wine
# with the same values; what Wine exports loads into sambrel the same.
{ printf '\xff\xfe'; sed 's/^REGEDIT4\r$/Windows Registry Editor Version 5.00\r/' "$fixtures/earlier_ir.reg" | iconv -f CP1252 -t UTF-16LE; } > "$work/utf16.reg"
cp "$fixtures/earlier_ir.reg" "$work/ansi.reg"
for enc in ansi utf16; do
    "$sambrel" --registry "$work/$enc.reg" --choose com3 </dev/null >/dev/null 2>&1
    wine reg delete 'HKEY_LOCAL_MACHINE\ExtModems' /f >/dev/null 2>&1
    wine reg delete 'HKEY_LOCAL_MACHINE\Drivers\Active' /f >/dev/null 2>&1
    if ! import_reg "$work/$enc.reg"; then
        bad "sambrel-$enc-file-imports" "reg import refused it: $(tr -d '\r' <"$work/import.log" | head -c 300)"
        continue
    fi
    same=1
    for key in 'HKEY_LOCAL_MACHINE\ExtModems' 'HKEY_LOCAL_MACHINE\Drivers\Active'; do
        wine_tree "$key" > "$work/a.tree"
        "$regdump" "$work/$enc.reg" "$key" > "$work/b.tree"
        cmp -s "$work/a.tree" "$work/b.tree" || { same=0; diff "$work/a.tree" "$work/b.tree" | head -5; }
    done
    [ $same -eq 1 ] && ok "sambrel-$enc-file-imports" || bad "sambrel-$enc-file-imports" "values differ"
done
wine reg export 'HKEY_LOCAL_MACHINE\Drivers\Active' "$(winpath "$work/wine-export.reg")" /y >/dev/null 2>&1
"$sambrel" --registry "$work/wine-export.reg" --choose cancel </dev/null >/dev/null 2>"$work/err"
if [ $? -eq 1 ] && cmp -s <("$regdump" "$work/wine-export.reg" 'HKEY_LOCAL_MACHINE\Drivers\Active') \
           <("$regdump" "$work/utf16.reg" 'HKEY_LOCAL_MACHINE\Drivers\Active'); then
    ok wine-export-loads
else
    bad wine-export-loads "$(cat "$work/err")"
fi

# The registry on standard output (--export -) is the export alone: the
# redirected file imports into Wine with the IR entry sambrel wrote.
"$sambrel" --choose com3 --export - </dev/null >"$work/stdout.reg" 2>/dev/null
wine reg delete 'HKEY_LOCAL_MACHINE\ExtModems' /f >/dev/null 2>&1
if import_reg "$work/stdout.reg" &&
   cmp -s <(wine_tree 'HKEY_LOCAL_MACHINE\ExtModems') <("$regdump" "$work/stdout.reg" 'HKEY_LOCAL_MACHINE\ExtModems'); then
    ok stdout-export-imports
else
    bad stdout-export-imports "$(head -3 "$work/stdout.reg")"
fi

echo "Wine suite: $(( $(date +%s) - started )) s"
finish
