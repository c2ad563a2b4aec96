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

# The closing line; the status says whether everything passed (and, with
# --some, that something was checked at all).
finish() {
    echo "$passed passed, $failed failed"
    [ "$failed" -eq 0 ] && { [ "${1:-}" != --some ] || [ "$passed" -gt 0 ]; }
}
