#!/usr/bin/env bash
# sambrel as installed: `cmake --install` puts the command and its manual
# page in place, the page renders without a warning, and the page and the
# command's reference (docs/command.md) say what `sambrel --help` and its
# usage errors say: the same options, exit statuses, --fail operations,
# choices and processors. scripts/run.sh runs it where it is called. Every
# relative link of the README and the guides leads to a file, or to a
# heading, that is there, and every text of the program they quote is the
# program's own.
# Usage: install_test.sh BUILD_DIR
set -u
build=$1
top=$(cd "$(dirname "$0")/.." && pwd)
. "$top/tests/lib.sh"
NEED_STATUS=77
need cmake cmake
need man man-db
need /usr/bin/python3 python3-minimal
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

if DESTDIR=$work cmake --install "$build" --prefix /usr/local >"$work/install.txt" 2>&1; then
    pass install
else
    fail install "$(tail -5 "$work/install.txt")"
fi
sambrel=$work/usr/local/bin/sambrel
page=$work/usr/local/share/man/man1/sambrel.1
for f in "$sambrel" "$page"; do
    if [ -f "$f" ]; then pass "installed ${f#"$work"/}"; else fail "installed ${f#"$work"/}" "missing"; fi
done
[ -x "$sambrel" ] && [ -f "$page" ] || { finish; exit 1; }

# The page's source is text: a control character (a form feed that an
# escaped \f became) renders as something else without a warning.
check man-page-source-plain-text "$(grep -nP '[\x00-\x08\x0b-\x1f\x7f]' "$page" | cat -A)"

# The page as man shows it, and every warning groff has about it.
warnings=$(LC_ALL=C.UTF-8 MANWIDTH=80 MAN_KEEP_FORMATTING= man --warnings=w -l "$page" 2>&1 >"$work/page.txt")
check man-page-no-warnings "$warnings"
check man-page-fits-80-columns "$(LC_ALL=C.UTF-8 grep -E '^.{81}' "$work/page.txt")"

# section NAME: the lines of a section of the page as shown.
section() { awk -v name="$1" '/^[A-Z]/ { on = ($0 == name); next } on' "$work/page.txt"; }
for name in NAME SYNOPSIS DESCRIPTION OPTIONS "EXIT STATUS" ENVIRONMENT FILES EXAMPLES "SEE ALSO"; do
    if [ -n "$(section "$name")" ]; then pass "man-page-section $name"; else fail "man-page-section $name" "missing or empty"; fi
done

# same_list NAME WHAT A B: the two lists (one item a line) are the same.
same_list() {
    local only
    only=$(diff <(sort -u <<<"$3") <(sort -u <<<"$4") |
        awk -v where="$2" 'sub(/^< /, "in --help only: ") || sub(/^> /, "only in " where ": ")')
    if [ -z "$3" ]; then fail "$1" "nothing found in --help"; else check "$1" "$only"; fi
}
help=$("$sambrel" --help)
reference=$(cat "$top/docs/command.md")

# spelled HEADS: the options, long and short, that option heads such as
# "-h, --help" or "--fail OPERATION[:NAME][=ERROR]" (one a line) spell.
spelled() { grep -oE -- '(^|, )--?[a-z][a-z-]*' | sed 's/^, //'; }
options=$(grep -E '^  -' <<<"$help" | awk '{ sub(/^ +/, ""); split($0, head, /  +/); print head[1] }' | spelled)
same_list man-page-options "the page's OPTIONS" "$options" "$(section OPTIONS | grep -E '^       -' | sed 's/^ *//' | spelled)"
same_list reference-options "docs/command.md's table" "$options" \
    "$(grep -E '^\| `-' <<<"$reference" | cut -d'|' -f2 | tr -d '`' | sed 's/^ *//' | spelled)"

statuses=$(sed -n '/^Exit status:/,/^$/p' <<<"$help" | grep -oE '^  [0-9][0-9+n]*' | tr -d ' ')
same_list man-page-exit-statuses "the page's EXIT STATUS" "$statuses" "$(section "EXIT STATUS" | grep -oE '^       [0-9][0-9+n]*' | tr -d ' ')"
same_list reference-exit-statuses "docs/command.md's table" "$statuses" \
    "$(sed -n '/^## Exit status/,/^## [^E]/p' <<<"$reference" | grep -oE '^\| [0-9][0-9+n]* ' | tr -d '| ')"

operations=$(sed -n '/^Operations for --fail:/,/^$/p' <<<"$help" | sed 's/^Operations for --fail://' | tr ',. ' '\n' | grep .)
same_list man-page-operations "the page" "$operations" \
    "$(section OPTIONS | tr -s '\n ' '  ' | sed -n 's/.*OPERATION is one of \([^.]*\)\..*/\1/p' | sed 's/, and /, /; s/, /\n/g')"
same_list reference-operations "docs/command.md's table of NAMEs" "$operations" \
    "$(sed -n '/^| operation | NAME |/,/^$/p' <<<"$reference" | cut -d'|' -f2 | grep -oE '`[A-Za-z]+`' | tr -d '`')"

# The descriptor names the page spells out (/dev/stdout, /dev/fd/N) are
# those the reference spells.
check man-page-descriptor-names "$(grep -oE '/(dev|proc)/[A-Za-z0-9/_-]*[A-Za-z0-9_]' "$work/page.txt" | sort -u |
    grep -vxF -f <(grep -oE '/(dev|proc)/[A-Za-z0-9/_-]*[A-Za-z0-9_]' <<<"$reference") | sed 's/^/not in docs\/command.md: /')"

# What --choose and --cpu take, as their usage errors list them, is what
# the page's and the reference's synopses give.
takes() { "$sambrel" "$@" 2>&1 >/dev/null | sed -n "s/.* takes \(.*\), not '.*/\1/p" | sed 's/, \| or /|/g'; }
for option in choose cpu; do
    values=$(takes --"$option" '?')
    synopsis="--$option $values"
    if [ -z "$values" ]; then
        fail "$option-values" "no list in the usage error of --$option"
        continue
    fi
    problems=""
    grep -qF -- "$synopsis" <<<"$(section SYNOPSIS)" || problems+="not in the page's SYNOPSIS: $synopsis"$'\n'
    grep -qF -- "$synopsis" <<<"$reference" || problems+="not in docs/command.md's synopsis: $synopsis"$'\n'
    check "$option-values-documented ($values)" "${problems%$'\n'}"
done

# scripts/run.sh as the README has it run, here from a folder of the
# caller's own: it builds in the repository but runs sambrel where it was
# called, so that relative file names are the caller's; without a terminal
# and without arguments it answers with Autoscan; sambrel's 1 and 0 are its
# 0, any other status its own. It runs in a copy of the repository whose
# installer and build tools do nothing and whose sambrel is the one
# installed above.
repo=$work/repo
mkdir -p "$repo/scripts" "$repo/build/release/cli" "$work/tools" "$work/caller/sub"
cp "$top/scripts/run.sh" "$top/scripts/need.sh" "$repo/scripts/"
for stub in "$repo/scripts/install-deps.sh" "$work/tools/cmake" "$work/tools/ninja" "$work/tools/x86_64-w64-mingw32-windres"; do
    printf '#!/bin/sh\nexit 0\n' >"$stub"
    chmod +x "$stub"
done
ln -s "$sambrel" "$repo/build/release/cli/sambrel"
# run_sh NAME STATUS FILE TEXT ARGS...: run.sh, run in the caller's folder
# with ARGS and no terminal, exits STATUS and prints TEXT, or, with FILE,
# leaves FILE (relative to the caller's folder) holding TEXT; nothing is
# made in the repository.
run_sh() {
    local name=$1 status=$2 file=$3 text=$4 out rc
    shift 4
    out=$(cd "$work/caller" && PATH=$work/tools:$PATH "$repo/scripts/run.sh" "$@" </dev/null 2>&1)
    rc=$?
    if [ "$rc" -ne "$status" ]; then
        fail "run.sh $name" "exit $rc, expected $status" "$out"
    elif [ -n "$file" ] && ! grep -qF -- "$text" "$work/caller/$file" 2>/dev/null; then
        fail "run.sh $name" "$file in the caller's folder lacks '$text'" "the repository holds: $(ls "$repo" | paste -sd' ')"
    elif [ -z "$file" ] && ! grep -qF -- "$text" <<<"$out"; then
        fail "run.sh $name" "no line '$text' in:" "$out"
    elif [ "$(ls "$repo" | paste -sd' ')" != "build scripts" ]; then
        fail "run.sh $name" "made in the repository: $(ls "$repo" | grep -vxE 'build|scripts' | paste -sd' ')"
    else
        pass "run.sh $name"
    fi
}
run_sh relative-registry   0 rel.reg     '"Port"="COM3:"' --registry rel.reg --choose com3
run_sh relative-subfolder  0 sub/dev.reg '"Port"="COM5:"' --registry sub/dev.reg --choose autoscan
run_sh relative-export     0 out.reg     '[HKEY_LOCAL_MACHINE\Drivers\Active]' --choose cancel --export out.reg
run_sh no-terminal         0 ""          "Infrared port is now COM5:."
run_sh entry-not-written   0 ""          "#RegCreateKeyEx(/IR) FAILED" --choose com3 --fail RegCreateKeyExW:IR
run_sh usage-error         64 ""         "unknown option '--bogus'" --bogus

# Every relative link of the README and the guides, [text](target), leads
# to a file or folder that is there and, after a #, to one of its headings
# as GitHub names them (lower case, punctuation dropped, spaces as -).
check relative-links "$(cd "$top" && /usr/bin/python3 - . README.md docs/*.md <<'PY'
import os, re, sys
top = sys.argv[1]
def prose(path):  # the page without its code blocks
    return re.sub(r"```.*?```", "", open(path, encoding="utf-8").read(), flags=re.S)
def anchors(path):
    names = set()
    for line in prose(path).splitlines():
        heading = re.match(r"#+ (.*)", line)
        if heading:
            text = re.sub(r"[`*]", "", heading.group(1)).strip().lower()
            names.add(re.sub(r"[^\w\- ]", "", text).replace(" ", "-"))
    return names
for page in sys.argv[2:]:
    path = os.path.join(top, page)
    for target in re.findall(r"\]\(([^)\s]+)\)", prose(path)):
        if re.match(r"[a-z]+:", target):
            continue
        file, _, anchor = target.partition("#")
        linked = os.path.normpath(os.path.join(os.path.dirname(path), file)) if file else path
        if not os.path.exists(linked):
            print("%s: %s: no such file" % (page, target))
        elif anchor and (not linked.endswith(".md") or anchor not in anchors(linked)):
            print("%s: %s: no such heading" % (page, target))
PY
)"

# Every message the README and the guides quote, in double quotes or as
# the final message, is one the program shows (app/, ports/), a number or
# a port in place of %d and %s; and the owner's guide quotes the dialog's
# caption and text as its template (res/) has them.
check program-texts-quoted "$(cd "$top" && /usr/bin/python3 - README.md docs/*.md <<'PY'
import glob, re, sys
source = "".join(open(f, encoding="utf-8").read() for f in glob.glob("app/*.cpp") + glob.glob("ports/*.cpp"))
texts = [t for t in re.findall(r'TEXT\("((?:[^"\\]|\\.)*)"\)', source)
         if t.startswith("#") or t.startswith("Infrared port is now")]
shown = [re.compile(re.escape(t).replace("%d", "-?[0-9]+").replace("%s", "COM[0-9]:")) for t in texts]
if len(texts) < 8:
    print("found only %d of the program's messages in app/ and ports/" % len(texts))
for page in sys.argv[1:]:
    text = open(page, encoding="utf-8").read()
    quoted = [q for q in re.findall(r'"(#[^"\n]+)"', text)]
    quoted += re.findall(r'Infrared port is now COM.*', text)
    for q in quoted:
        if not any(p.fullmatch(q) or (q.startswith("Infrared") and p.match(q)) for p in shown):
            print("%s quotes a message the program does not show: %s" % (page, q))
rc = open("res/sambrel.rc", encoding="utf-8").read()
guide = open("docs/handheld.md", encoding="utf-8").read()
caption = re.search(r'CAPTION\s+"([^"]*)"', rc).group(1)
explanation = re.search(r'LTEXT\s+"((?:[^"]|"")*)"', rc).group(1).replace('""', '"')
for what, text in (("caption", '"%s"' % caption), ("text", "\n%s\n" % explanation)):
    if text not in guide:
        print("docs/handheld.md does not quote the dialog's %s as it is: %s" % (what, text.strip()))
PY
)"

finish
