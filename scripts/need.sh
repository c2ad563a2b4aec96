# Sourced by the scripts and the shell tests: `need TOOL PACKAGE` stops at
# once, naming the tool and the Debian package that provides it, when TOOL
# is not on the PATH. Tests set NEED_STATUS=77 so that CTest counts them as
# skipped; scripts stop with 69 (EX_UNAVAILABLE). NEED_GROUP names the
# install-deps.sh group that installs it (test unless set).
# tests/tools_owned_test.sh reads these lines to learn which programs the
# project starts.
need() {
    command -v "$1" >/dev/null 2>&1 && return 0
    echo "${0##*/}: '$1' not found: install Debian's package $2 (scripts/install-deps.sh ${NEED_GROUP:-test} installs it)" >&2
    exit "${NEED_STATUS:-69}"
}
