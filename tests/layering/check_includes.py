#!/usr/bin/env python3
"""Fails when a source file includes a header of a folder its own folder may
not use.

LAYERS below is the one place that says which folder may use which: each
folder lists the folders it builds on, and may include their headers and the
headers of everything they build on in turn. A folder missing from the table
is not checked; an include of a file outside every listed folder (a system
header, a test helper) is not checked either.

Usage: check_includes.py [SOURCE_ROOT]   (default: two folders up)
"""
import os
import re
import sys

# folder -> the folders it builds on (directly; what they build on comes along).
LAYERS = {
    # tdslite: the program, its protocol layer, the engine, the shared types.
    "tdslite": ["tdslite/protocol"],  # main.cc
    "tdslite/protocol": ["tdslite/exec"],
    "tdslite/exec": ["tdslite/procs", "tdslite/sql"],
    "tdslite/procs": ["tdslite/sql"],
    "tdslite/sql": ["tdslite/common"],
    "tdslite/common": [],
    # The REXX function package.
    "frame": [],
    "server": ["frame"],
    "statements": ["server"],
    "lob": ["server"],
    "web": ["server"],
    "entry": ["statements", "lob", "web"],
}

# Single files allowed more than their folder, each with the reason. Empty is
# the goal: an entry here is a known fault waiting for its fix.
EXCEPTIONS = {
    # "frame/some_file.cc": ["server"],  # why, and the issue that removes it
}

SOURCE_SUFFIXES = (".h", ".hh", ".hpp", ".c", ".cc", ".cpp")
INCLUDE = re.compile(r'^\s*#\s*include\s*"([^"]+)"')


def closure(folder):
    seen, todo = set(), list(LAYERS.get(folder, []))
    while todo:
        f = todo.pop()
        if f not in seen:
            seen.add(f)
            todo.extend(LAYERS.get(f, []))
    return seen


def owner(path):
    """The deepest folder of LAYERS that holds `path` (relative to the root)."""
    best = None
    for folder in LAYERS:
        if path.startswith(folder + "/") and (best is None or len(folder) > len(best)):
            best = folder
    return best


def cycles():
    found = []
    for folder in LAYERS:
        if folder in closure(folder):
            found.append(folder)
    return found


def main():
    root = os.path.abspath(sys.argv[1] if len(sys.argv) > 1 else
                           os.path.join(os.path.dirname(__file__), "..", ".."))
    problems = [f"{f}: builds on itself round a loop in LAYERS" for f in cycles()]
    checked = 0
    for top in sorted({f.split("/")[0] for f in LAYERS}):
        for dirpath, _, files in os.walk(os.path.join(root, top)):
            for name in sorted(files):
                if not name.endswith(SOURCE_SUFFIXES):
                    continue
                full = os.path.join(dirpath, name)
                rel = os.path.relpath(full, root)
                mine = owner(rel)
                if mine is None:
                    continue
                allowed = closure(mine) | {mine}
                for extra in EXCEPTIONS.get(rel, []):
                    allowed |= closure(extra) | {extra}
                checked += 1
                with open(full, encoding="utf-8", errors="replace") as src:
                    for number, line in enumerate(src, 1):
                        m = INCLUDE.match(line)
                        if not m:
                            continue
                        target = m.group(1)
                        local = os.path.join(os.path.dirname(rel), target)
                        if os.path.exists(os.path.join(root, local)):
                            target = os.path.normpath(local)
                        elif not os.path.exists(os.path.join(root, target)):
                            continue
                        theirs = owner(target)
                        if theirs is not None and theirs not in allowed:
                            problems.append(f"{rel}:{number}: {mine}/ may not include "
                                            f"{target} ({theirs}/)")
    for p in problems:
        print(p)
    if problems:
        print(f"{len(problems)} include(s) against the folder order; see LAYERS in {__file__}")
        return 1
    print(f"{checked} files: every include follows the folder order")
    return 0


if __name__ == "__main__":
    sys.exit(main())
