#!/usr/bin/env python3
"""Splits the heap allocations of one run by who made them, from valgrind's xtree file.

An allocation is charged to the innermost frame that valgrind recorded for it: our own code
when that frame lies in one of our source files, the library otherwise.
usage: heap_by_file.py XTREE.kcg SOURCE_ROOT
"""
import re
import sys

path, root = sys.argv[1], sys.argv[2]
files, names = {}, {}
current_file = None
ours = library = 0
after_call = False
events = None
for line in open(path, encoding="utf-8", errors="replace"):
    line = line.rstrip("\n")
    if line.startswith("events:"):
        events = line.split()[1:]
        continue
    m = re.match(r"(c?f[li])=\((\d+)\)(?: (.*))?$", line)
    if m:
        kind, key, name = m.groups()
        table = files
        if name:
            table[key] = name
        if kind == "fl" or kind == "fi":
            current_file = table.get(key)
        continue
    if line.startswith("calls="):
        after_call = True
        continue
    if events and re.match(r"^\d", line):
        values = line.split()[1:]
        if after_call:
            after_call = False  # a callee's inclusive cost, not this frame's own
            continue
        blocks = int(values[events.index("totBk")]) if len(values) > 3 else 0
        if current_file and current_file.startswith(root):
            ours += blocks
        else:
            library += blocks
print(f"allocations made by our own code: {ours}; by the libraries it calls: {library}")
