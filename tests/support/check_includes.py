#!/usr/bin/env python3
"""Reads the run-time's includes: fails when a folder includes a header of a higher (or sibling)
folder, or when the units of one folder (a header with its source files) include each other in a
circle."""
import collections, os, re, sys

# The layer of each folder under basic/runtime/, lowest first; folders of one rank are siblings.
RANK = {'core': 0, 'styles': 1, 'notemodel': 1, 'intrinsics': 2, 'services': 3, 'forms': 3,
        'widgets': 4, 'notes': 5, 'documents': 6}

def files(runtime):
    for folder in RANK:
        for path, _, names in os.walk(os.path.join(runtime, folder)):
            for name in sorted(names):
                if name.endswith(('.h', '.cpp')):
                    yield folder, name, os.path.join(path, name)

# The folders whose units never include each other in a circle. The core's units (executor,
# contexts, loader, value stack, lists) share the interpreter's state and declare it where it is
# kept, so they include one another; so do the intrinsics' file channel units.
CIRCLE_FREE = set(RANK) - {'core', 'intrinsics'}

def unit(name):
    """A header and its source files are one unit; so is a unit's private header (<unit>_parts.h)."""
    stem = name.rsplit('.', 1)[0]
    return stem[:-len('_parts')] if stem.endswith('_parts') else stem

def cycles(graph):
    found, state, stack = [], {}, []
    def visit(node):
        state[node] = 1
        stack.append(node)
        for nxt in sorted(graph[node]):
            if state.get(nxt) == 1:
                found.append(stack[stack.index(nxt):] + [nxt])
            elif nxt not in state:
                visit(nxt)
        stack.pop()
        state[node] = 2
    for node in sorted(graph):
        if node not in state:
            visit(node)
    return found

def main(root):
    runtime = os.path.join(root, 'basic/runtime')
    home = {}
    for folder, name, _ in files(runtime):
        if name.endswith('.h'):
            home.setdefault(name, folder)
    faults = []
    graph = collections.defaultdict(set)
    for folder, name, path in files(runtime):
        text = open(path, errors='replace').read()
        for header in re.findall(r'^\s*#\s*include\s+"([^"]+)"', text, re.M):
            header = os.path.basename(header)
            target = home.get(header)
            if target is None:
                continue
            if target != folder and RANK[target] >= RANK[folder]:
                faults.append(f'{folder}/{name} includes {target}/{header}, a folder not below it')
            if target == folder and folder in CIRCLE_FREE and unit(header) != unit(name):
                graph[(folder, unit(name))].add((folder, unit(header)))
    for circle in cycles(graph):
        faults.append('include circle: ' + ' -> '.join(f'{f}/{u}' for f, u in circle))
    for fault in faults:
        print(fault)
    return 1 if faults else 0

if __name__ == '__main__':
    sys.exit(main(sys.argv[1] if len(sys.argv) > 1 else '.'))
