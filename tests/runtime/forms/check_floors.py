#!/usr/bin/env python3
"""Keeps the floors of the forms engine: reads the #include "..." lines of every
basic/runtime/forms/*.{h,cpp} and fails when

  - two files include each other's headers (X.h or X.cpp includes Y.h while Y.h or Y.cpp
    includes X.h), or files include each other around a longer circle, or
  - a file includes the header of a file on a higher floor, or
  - a file of the folder has no floor in the table below (a new file takes its place here).

Usage: check_floors.py <forms source directory>
"""
import re
import sys
from pathlib import Path

MODEL, RUN, INPUT, REGISTRATION = range(4)
FLOOR_NAMES = ["model", "run", "input", "registration"]

# The floor of each file (by name without its extension: X.h and X.cpp share one).
# model: records, handles, kinds, the control matrix, the field table, attachments; no event code.
# run:   the run of an attached routine and the focus.
# input: Enter, keys, clicks, the loop, the end of an event and what follows a routine's answer.
FLOORS = {
    "forms": MODEL,
    "handles": MODEL,
    "kinds": MODEL,
    "cutil": MODEL,
    "grid_cells": MODEL,
    "ccallback": MODEL,
    "cfunctionkey": MODEL,
    "cattach": MODEL,
    "cattach_intrinsics": MODEL,
    "caction": MODEL,
    "cfield": MODEL,
    "cfield_intrinsics": MODEL,
    "cmatrix": MODEL,
    "cmatrix_intrinsics": MODEL,
    "cdisplay": MODEL,
    "cipc": MODEL,
    "ctable_bgcolour": MODEL,
    "cinvoke": RUN,
    "cinvoke_intrinsics": RUN,
    "cfocus": RUN,
    "cclear": RUN,
    "ccontent": RUN,
    "cevent_steps": INPUT,
    "cnext": INPUT,
    "center": INPUT,
    "ckeys": INPUT,
    "cclick": INPUT,
    "cevents": INPUT,
    "cloop": INPUT,
    "cexternal": INPUT,
    "registration": REGISTRATION,
}

INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"]+)"', re.MULTILINE)


def includes(directory):
    """Per file name (without extension): the forms headers its .h and .cpp include."""
    own = {p.name for p in directory.glob("*.h")}
    found = {}
    for path in sorted(list(directory.glob("*.h")) + list(directory.glob("*.cpp"))):
        stem = path.stem
        headers = {h for h in INCLUDE.findall(path.read_text()) if h in own and h != stem + ".h"}
        found.setdefault(stem, set()).update(Path(h).stem for h in headers)
    return found


def circle(found):
    """One circle of includes longer than a pair (as a list of names, first = last), or None."""
    state = {}

    def visit(stem, path):
        state[stem] = "open"
        path.append(stem)
        for other in sorted(found.get(stem, ())):
            if other not in found:
                continue
            if state.get(other) == "open":
                ring = path[path.index(other):] + [other]
                if len(ring) > 3:
                    return ring
            elif other not in state:
                ring = visit(other, path)
                if ring:
                    return ring
        path.pop()
        state[stem] = "done"
        return None

    for stem in sorted(found):
        if stem not in state:
            ring = visit(stem, [])
            if ring:
                return ring
    return None


def problems(found):
    out = []
    for stem in sorted(found):
        if stem not in FLOORS:
            out.append(f"{stem}: no floor in the table of check_floors.py")
    for stem in sorted(found):
        for other in sorted(found[stem]):
            if other in found and stem in found[other] and stem < other:
                out.append(f"{stem} and {other} include each other's headers")
            if stem in FLOORS and other in FLOORS and FLOORS[other] > FLOORS[stem]:
                out.append(f"{stem} ({FLOOR_NAMES[FLOORS[stem]]}) includes {other}.h "
                           f"({FLOOR_NAMES[FLOORS[other]]})")
    ring = circle(found)
    if ring:
        out.append("include circle: " + " -> ".join(ring))
    return out


def main():
    if len(sys.argv) != 2:
        print(__doc__, file=sys.stderr)
        return 2
    directory = Path(sys.argv[1])
    found = includes(directory)
    if not found:
        print(f"no forms sources in {directory}", file=sys.stderr)
        return 2
    out = problems(found)
    for line in out:
        print(line)
    if not out:
        print(f"{len(found)} files on their floors, no two including each other")
    return 1 if out else 0


if __name__ == "__main__":
    sys.exit(main())
