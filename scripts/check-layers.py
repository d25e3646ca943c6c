#!/usr/bin/env python3
# SPDX-License-Identifier: MIT
"""Checks that includes run only downward between the folders (ARCHITECTURE.md).

    scripts/check-layers.py [REPO] [--graph]

Reads every #include "..." of the C++ files under REPO (default: this repository), names the
folder of each side (core/ports, core/text, ... , drivers, sim, gui, cli, apps; tests/*,
bench and fuzz) and fails (exit 1) on:
- an include from a folder to one it may not use (a lower layer reaching up, or a layer
  reaching sideways), as listed in MAY_USE below;
- a file in a folder the table does not know (a new folder takes a line in MAY_USE);
- a cycle between folders (also caught by the first rule; reported on its own as well so
  that the message says which folders go round).
With --graph it also prints the folder graph: each folder, its level (the longest chain of
includes below it) and the folders it uses.
"""
import os
import re
import sys

# Which folders each folder's files may include, besides its own. The core's subfolders are
# its floors, ports lowest; drivers and sim stand on the ports alone; gui and cli on the core
# (cli on drivers and sim too); apps on everything. Test code is outside the layers: it may
# include any folder of the program, and nothing of the program includes it.
CORE = ["core/ports", "core/text", "core/link", "core/protocol", "core/history", "core/radar",
        "core/program"]
MAY_USE = {
    "core/ports": [],
    "core/text": ["core/ports"],
    "core/link": ["core/ports"],
    "core/protocol": ["core/ports", "core/text", "core/link"],
    "core/history": ["core/ports", "core/text", "core/protocol"],
    "core/radar": ["core/ports", "core/text", "core/link", "core/protocol", "core/history"],
    "core/program": ["core/ports", "core/text", "core/link", "core/protocol", "core/history",
                     "core/radar"],
    "drivers": ["core/ports"],
    "sim": ["core/ports"],
    "gui": CORE,
    "cli": CORE + ["drivers", "sim"],
    "apps": CORE + ["drivers", "sim", "gui", "cli"],
}
PROGRAM = set(MAY_USE)
TEST_FOLDERS = ("tests", "bench", "fuzz")
SOURCE_ENDINGS = (".h", ".hpp", ".cpp", ".cc", ".c", ".h.in")
INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"]+)"', re.M)


def folder_of(path):
    parts = path.split("/")
    if parts[0] == "core" and len(parts) > 2:
        return "core/" + parts[1]
    if parts[0] == "tests" and len(parts) > 2:
        return "tests/" + parts[1]
    return parts[0] if len(parts) > 1 else "."


def source_files(repo):
    for top, dirs, files in os.walk(repo):
        dirs[:] = [d for d in dirs if not d.startswith((".", "build"))]
        for name in files:
            if name.endswith(SOURCE_ENDINGS):
                full = os.path.join(top, name)
                yield os.path.relpath(full, repo).replace(os.sep, "/")


def includes(repo):
    """(file, included file) for every quoted include that names a file of the tree."""
    for path in sorted(source_files(repo)):
        with open(os.path.join(repo, path), encoding="utf-8", errors="replace") as f:
            text = f.read()
        for name in INCLUDE.findall(text):
            beside = os.path.normpath(os.path.join(os.path.dirname(path), name))
            for candidate in (name, beside):
                if os.path.isfile(os.path.join(repo, candidate)):
                    yield path, candidate.replace(os.sep, "/")
                    break
            # else: a generated header (zelto_version.h, *.moc)


def cycles(graph):
    """The strongly connected components of more than one folder (Tarjan)."""
    index, low, stack, on_stack, found = {}, {}, [], set(), []
    counter = [0]

    def visit(v):
        index[v] = low[v] = counter[0]
        counter[0] += 1
        stack.append(v)
        on_stack.add(v)
        for w in sorted(graph.get(v, ())):
            if w not in index:
                visit(w)
                low[v] = min(low[v], low[w])
            elif w in on_stack:
                low[v] = min(low[v], index[w])
        if low[v] == index[v]:
            component = []
            while True:
                w = stack.pop()
                on_stack.discard(w)
                component.append(w)
                if w == v:
                    break
            if len(component) > 1:
                found.append(sorted(component))

    for v in sorted(graph):
        if v not in index:
            visit(v)
    return found


def levels(graph):
    """Longest chain of includes below each folder (a folder in a cycle counts once)."""
    memo = {}

    def level(v, seen):
        if v in memo:
            return memo[v]
        below = [level(w, seen | {v}) + 1 for w in graph.get(v, ()) if w not in seen | {v}]
        memo[v] = max(below, default=0)
        return memo[v]

    return {v: level(v, frozenset()) for v in graph}


def main(argv):
    args = [a for a in argv if not a.startswith("--")]
    repo = os.path.abspath(args[0] if args else os.path.join(os.path.dirname(__file__), ".."))
    problems = []
    graph = {}
    counted = 0
    for path, included in includes(repo):
        counted += 1
        a, b = folder_of(path), folder_of(included)
        graph.setdefault(a, set())
        graph.setdefault(b, set())
        if a == b:
            continue
        graph[a].add(b)
        test_side = a.split("/")[0] in TEST_FOLDERS
        if b.split("/")[0] in TEST_FOLDERS and not test_side:
            problems.append(f"{path}: includes test code {included}")
        elif not test_side and a not in PROGRAM:
            problems.append(f"{path}: folder {a} has no line in MAY_USE of {__file__}")
        elif not test_side and b not in MAY_USE[a]:
            problems.append(f"{path}: {a} may not include {included} ({b})")
    for component in cycles({k: v for k, v in graph.items() if k in PROGRAM}):
        problems.append("cycle between folders: " + " -> ".join(component))

    program = {k: {w for w in v if w in PROGRAM} for k, v in graph.items() if k in PROGRAM}
    if "--graph" in argv:
        lv = levels(program)
        for folder in sorted(program, key=lambda f: (lv[f], f)):
            print(f"{lv[folder]}  {folder:14} -> {', '.join(sorted(program[folder])) or '-'}")
        print(f"{len(program)} folders on {max(lv.values(), default=-1) + 1} levels")
    for problem in problems:
        print(problem, file=sys.stderr)
    print(f"layers: {counted} includes read, {len(problems)} problem(s)")
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
