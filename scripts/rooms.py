#!/usr/bin/env python3
"""The product's structure as its sources give it: its rooms (the top
folders, and each platform's folder), the includes between them, include
cycles, and the length of every function. The product is everything but
tests/, fuzz/, bench/ and scripts/.

    scripts/rooms.py              the rooms, their files, arrows and cycles
    scripts/rooms.py includes     each include of the product's own files: FROM TO
    scripts/rooms.py cycles       include cycles, between units (a header and
                                  its source), folders (platform/ one of them)
                                  and rooms (each platform's folder one)
    scripts/rooms.py functions    each C++ and Python function: LINES FILE:LINE NAME

tests/program_rules_test.sh holds the product to its rules with these.
"""
import ast
import collections
import os
import re
import subprocess
import sys

TOP = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
NOT_PRODUCT = ("tests/", "fuzz/", "bench/", "scripts/", "build/")
CXX = (".cpp", ".h", ".inc")
INCLUDE = re.compile(r'^\s*#\s*include\s*"([^"]+)"', re.M)


def product_files():
    """The product's files: those git knows or would (untracked ones it does
    not ignore); outside a checkout, every file but the builds'."""
    try:
        listed = subprocess.run(["git", "-C", TOP, "ls-files", "-co", "--exclude-standard"],
                                capture_output=True, text=True, check=True).stdout.split("\n")
    except (OSError, subprocess.CalledProcessError):
        listed = [os.path.relpath(os.path.join(d, f), TOP) for d, dirs, names in os.walk(TOP)
                  for f in names if not os.path.relpath(d, TOP).startswith(".")]
    return sorted(f for f in listed if f and not f.startswith(NOT_PRODUCT) and os.path.isfile(os.path.join(TOP, f)))


def read(path):
    with open(os.path.join(TOP, path), encoding="utf-8", errors="replace") as f:
        return f.read()


def includes(files, bound=False):
    """(from, to) for each include of a product file, beside the includer or
    from the top. With bound, instead, the includes that the build binds: a
    name found only on the include path, in the door (platform/NAME/public/)
    of whichever platform it builds, such as the core library's types."""
    known = set(files)
    doors = sorted({os.path.dirname(f) for f in files if re.match(r"platform/[^/]+/public/", f)})
    for f in files:
        if not f.endswith(CXX):
            continue
        for name in INCLUDE.findall(read(f)):
            beside = os.path.normpath(os.path.join(os.path.dirname(f), name))
            if beside in known or name in known:
                if not bound:
                    yield f, beside if beside in known else name
            elif bound:
                for door in doors:
                    if os.path.join(door, name) in known:
                        yield f, os.path.join(door, name)


def unit(path):
    """A header and its source are one unit; a door's header belongs with
    the sources of the folder above it."""
    return os.path.splitext(path.replace("/public/", "/"))[0]


def folder(path):
    return path.split("/")[0] if "/" in path else "."


def room(path):
    parts = path.split("/")
    if len(parts) > 2 and parts[0] == "platform":
        return "platform/" + parts[1]
    return folder(path)


def cycles(edges):
    """The strongly connected parts of more than one node, each as one loop
    through all of them where there is one (Tarjan's algorithm)."""
    graph = collections.defaultdict(set)
    for a, b in edges:
        if a != b:
            graph[a].add(b)
    index, low, stack, on, parts = {}, {}, [], set(), []

    def visit(v):
        index[v] = low[v] = len(index)
        stack.append(v)
        on.add(v)
        for w in sorted(graph[v]):
            if w not in index:
                visit(w)
                low[v] = min(low[v], low[w])
            elif w in on:
                low[v] = min(low[v], index[w])
        if low[v] == index[v]:
            part = []
            while True:
                w = stack.pop()
                on.discard(w)
                part.append(w)
                if w == v:
                    break
            if len(part) > 1:
                parts.append(sorted(part))

    for v in sorted(list(graph)):
        if v not in index:
            visit(v)
    found = []
    for part in sorted(parts):
        way = loop(graph, part)
        rest = sorted(set(part) - set(way))
        found.append(" -> ".join(way) + (" (and %s, tied in)" % ", ".join(rest) if rest else ""))
    return found


def loop(graph, part):
    """A shortest way from the part's first node around and back."""
    start, inside = part[0], set(part)
    came = {start: None}
    queue = [start]
    while queue:
        v = queue.pop(0)
        for w in sorted(graph[v] & inside):
            if w == start:
                way = [v]
                while came[way[-1]] is not None:
                    way.append(came[way[-1]])
                return list(reversed(way)) + [start]
            if w not in came:
                came[w] = v
                queue.append(w)
    return part


def all_cycles(files):
    edges = list(includes(files))
    found = []
    for level, key in (("units", unit), ("folders", folder), ("rooms", room)):
        for way in cycles({(key(a), key(b)) for a, b in edges}):
            found.append("%s: %s" % (level, way))
    return found


# C++ functions: comments, literals and preprocessor lines blanked, then
# each brace at namespace or class level whose head (the text since the
# last ;, { or }) ends a parameter list opens a function's body.
BLANK = re.compile(r'//[^\n]*|/\*.*?\*/|R"([^(\s]*)\(.*?\)\1"|"(?:\\.|[^"\\\n])*"|\'(?:\\.|[^\'\\\n])*\'|'
                   r'^[ \t]*#(?:[^\n]*\\\n)*[^\n]*', re.S | re.M)
CONTAINER = re.compile(r"\b(namespace|class|struct|union|enum)\b|\bextern\s*\"")


def blanked(text):
    def blank(m):
        s = m.group(0)
        keep = '""' if s.startswith(('"', 'R"')) else "''" if s.startswith("'") else ""
        return keep + re.sub(r"[^\n]", " ", s[len(keep):])
    return BLANK.sub(blank, text)


def cxx_functions(path):
    text = blanked(read(path))
    kinds, head_at = [], 0  # the open braces' kinds; where the current head starts
    for i, c in enumerate(text):
        if c in ";":
            head_at = i + 1
        elif c == "{":
            head = text[head_at:i]
            flat = re.sub(r"\boperator\s*(\(\)|[^\s(]+)", "operator", head)
            depth0 = re.sub(r"\([^()]*\)", "()", re.sub(r"\([^()]*\)", "()", flat))
            if "function" in kinds:
                kind = "block"
            elif re.search(r"\)\s*:[^:]", depth0) and re.search(r"[\w>]\s*$", head):
                kind = "init"  # a member's braced initializer after a constructor's parameters
            elif CONTAINER.search(depth0.split("(")[0]) and "=" not in depth0:
                kind = "container"
            elif ")" in depth0 and "=" not in depth0.split("(")[0]:
                kind = "function"
                start = head_at + len(head) - len(head.lstrip())
                name = re.findall(r"([~\w:]+)\s*\(", flat.split("->")[0])
                opened = (text.count("\n", 0, start) + 1, name[0] if name else "?")
            else:
                kind = "data"
            kinds.append((kind, opened if kind == "function" else None))
            if kind != "init":
                head_at = i + 1
        elif c == "}" and kinds:
            kind, opened = kinds.pop()
            if kind == "function" and "function" not in [k for k, _ in kinds]:
                line = text.count("\n", 0, i) + 1
                yield line - opened[0] + 1, opened[0], opened[1]
            if kind != "init":
                head_at = i + 1


def python_functions(path):
    tree = ast.parse(read(path), path)
    for node in ast.walk(tree):
        if isinstance(node, (ast.FunctionDef, ast.AsyncFunctionDef)):
            yield node.end_lineno - node.lineno + 1, node.lineno, node.name


def functions(files):
    for f in files:
        if f.endswith(CXX):
            found = cxx_functions(f)
        elif f.endswith(".py"):
            found = python_functions(f)
        else:
            continue
        for lines, at, name in found:
            yield lines, "%s:%d" % (f, at), name


def table(files):
    lines = {f: len(read(f).splitlines()) for f in files if f.endswith(CXX + (".py",))}
    rooms = collections.defaultdict(list)
    for f in lines:
        rooms[room(f)].append(f)
    arrows = collections.Counter((room(a), room(b)) for a, b in includes(files) if room(a) != room(b))
    for r in sorted(rooms):
        inside = sorted(rooms[r], key=lambda f: (-lines[f], f))
        print("%s/ %d lines: %s" % (r, sum(lines[f] for f in inside),
                                    ", ".join("%s %d" % (f[len(r) + 1:], lines[f]) for f in inside)))
        out = sorted((b, n) for (a, b), n in arrows.items() if a == r)
        if out:
            print("    -> " + ", ".join("%s/ (%d)" % (b, n) for b, n in out))
    bound = sorted({(a, os.path.basename(b)) for a, b in includes(files, bound=True)})
    print("bound by the build: " + ", ".join("%s -> the platform's %s" % pair for pair in bound))
    print("cycles: " + ("; ".join(all_cycles(files)) or "none"))


def main():
    files = product_files()
    verb = sys.argv[1] if len(sys.argv) > 1 else "rooms"
    if verb == "includes":
        for a, b in includes(files):
            print(a, b)
    elif verb == "cycles":
        for c in all_cycles(files):
            print(c)
    elif verb == "functions":
        for lines, where, name in sorted(functions(files), key=lambda f: (-f[0], f[1])):
            print(lines, where, name)
    elif verb == "rooms":
        table(files)
    else:
        print(__doc__.strip(), file=sys.stderr)
        return 64
    return 0


if __name__ == "__main__":
    sys.exit(main())
