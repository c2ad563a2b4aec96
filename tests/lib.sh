# Sourced by the shell tests: each result told on a line of its own and
# counted, and the closing "N passed, N failed" line that CTest's log and CI
# read. Also gives `need TOOL PACKAGE` (scripts/need.sh).
. "$(dirname "${BASH_SOURCE[0]}")/../scripts/need.sh"
passed=0
failed=0

pass() { echo "ok   $1"; passed=$((passed + 1)); }

# fail NAME [DETAIL...]: the first detail on the line, any others below it.
fail() {
    local name=$1
    shift
    echo "FAIL $name${1:+: $1}"
    [ $# -gt 0 ] && shift
    local line
    for line in "$@"; do printf '    %s\n' "$line"; done
    failed=$((failed + 1))
}

# check NAME PROBLEMS: passes when PROBLEMS is empty, else shows its lines.
check() {
    if [ -z "$2" ]; then
        pass "$1"
    else
        echo "FAIL $1:"
        sed 's/^/    /' <<<"$2"
        failed=$((failed + 1))
    fi
}

# same NAME FILE ORIGINAL: FILE's bytes are ORIGINAL's. contains NAME FILE
# TEXT: FILE holds TEXT.
same() { if cmp -s "$2" "$3"; then pass "$1"; else fail "$1" "$2 changed"; fi; }
contains() { if grep -qF -- "$3" "$2"; then pass "$1"; else fail "$1" "no '$3' in $2"; fi; }

# runs_image_if_asked: with SAMBREL_IMAGE set, every run of the sambrel
# array is of the handheld's own image; the test is skipped (77) when that
# is not built.
runs_image_if_asked() {
    [ -n "${SAMBREL_IMAGE:-}" ] || return 0
    if [ ! -f "$SAMBREL_IMAGE" ]; then
        echo "SKIP: $SAMBREL_IMAGE is not built; build it first: cmake --preset wince && cmake --build --preset wince"
        exit 77
    fi
    sambrel+=(--image "$(realpath "$SAMBREL_IMAGE")")
}

# nobody_sambrel: the array as_nobody, the sambrel array's command run as
# the user nobody. The files among its words (the program, an image) are
# copies that nobody can reach, in the test's folder $work (made
# traversable): the checkout may lie in a folder of root's own, such as
# /root.
nobody_sambrel() {
    local arg dir=$work/as-nobody
    mkdir -p -m 755 "$dir"
    chmod 755 "$work"
    as_nobody=(setpriv --reuid=65534 --regid=65534 --clear-groups)
    for arg in "${sambrel[@]}"; do
        if [[ $arg == /* ]] && [ -f "$arg" ]; then
            cp -p "$arg" "$dir/"
            arg=$dir/${arg##*/}
        fi
        as_nobody+=("$arg")
    done
}

# The closing line; the status says whether everything passed (and, with
# --some, that something was checked at all).
finish() {
    echo "$passed passed, $failed failed"
    [ "$failed" -eq 0 ] && { [ "${1:-}" != --some ] || [ "$passed" -gt 0 ]; }
}

# coredll_operations: the core library's table (platform/coredll_operations.h), a row a line:
# ORDINAL NAME FAILS DESKTOP-LIBRARY; nothing, and why on standard error, when it has a row
# this cannot read, or other than COREDLL_OPERATIONS_COUNT rows. ordinal NAME: the operation's ordinal.
coredll_operations() {
    local table rows count read
    table="$(dirname "${BASH_SOURCE[0]}")/../platform/coredll_operations.h"
    rows=$(grep -c '^COREDLL_[A-Z_]*(' "$table")
    count=$(sed -n 's/^#define COREDLL_OPERATIONS_COUNT \([0-9]*\)$/\1/p' "$table")
    read=$(sed -nE 's/^COREDLL_(OPERATION|VARIADIC)\(([0-9]+), ([A-Za-z_]+), ([a-z]+), ([A-Za-z0-9]+),.*/\2 \3 \4 \5/p' "$table")
    if [ "$(grep -c . <<<"$read")" != "$rows" ] || [ "$rows" != "$count" ]; then
        echo "$table: $(grep -c . <<<"$read") rows read of $rows, where COREDLL_OPERATIONS_COUNT says ${count:-nothing}" >&2
        return 1
    fi
    echo "$read"
}
ordinal() { coredll_operations | awk -v name="$1" '$2 == name { print $1 }'; }
