#!/usr/bin/env bash
# Builds sambrel in the repository and runs it on the default simulated
# handheld, in the folder it was called from, so that the file names given
# to it are the caller's. Arguments go to sambrel. In a terminal the dialog
# is shown there; without one, and given no arguments, the dialog is
# answered with Autoscan.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)

(
    cd "$top"
    scripts/install-deps.sh run
    . scripts/need.sh
    need cmake cmake
    need ninja ninja-build
    need x86_64-w64-mingw32-windres binutils-mingw-w64-x86-64
    cmake --preset release >/dev/null
    cmake --build --preset release --target sambrel >/dev/null
)

args=("$@")
if [ ${#args[@]} -eq 0 ] && ! { [ -t 0 ] && [ -t 1 ]; }; then
    echo "(no terminal: answering the dialog with --choose autoscan)" >&2
    args=(--choose autoscan)
fi
status=0
"$top/build/release/cli/sambrel" "${args[@]}" || status=$?
# sambrel's own statuses: 1 the entry was written or the dialog was left,
# 0 the entry could not be written; anything else is a real failure.
case $status in 0|1) exit 0 ;; *) exit "$status" ;; esac
