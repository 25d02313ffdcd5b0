#!/usr/bin/env python3
"""Checks the source tree's layering: no module includes another in a circle (a module is a
header with its .cpp files of the same stem), world/ includes nothing from server/ or draw/,
server/ and draw/ nothing from each other, and every source file stays under 500 lines and
opens with a comment naming itself. Prints what is wrong; exit status 1 if anything is."""
import os
import re
import sys

src = sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(__file__), '..', 'src')
MAX_LINES = 500
FORBIDDEN = {'world': ('server/', 'draw/'), 'server': ('draw/',), 'draw': ('server/',)}

problems = []
graph = {}
for root, _, files in os.walk(src):
    for f in sorted(files):
        if not f.endswith(('.cpp', '.h')):
            continue
        path = os.path.relpath(os.path.join(root, f), src)
        text = open(os.path.join(src, path), encoding='utf-8').read()
        lines = text.count('\n')
        if lines >= MAX_LINES:
            problems.append(f'{path}: {lines} lines')
        if not text.startswith('// ' + f):
            problems.append(f'{path}: the first comment does not name the file')
        layer = path.split('/')[0]
        module = os.path.splitext(path)[0]
        # Paint's two sides share a stem across layers; the layer keeps them apart.
        for inc in re.findall(r'#include "([^"]+)"', text):
            if inc.startswith(FORBIDDEN.get(layer, ())):
                problems.append(f'{path}: includes {inc}')
            target = os.path.splitext(inc)[0]
            if target != module:
                graph.setdefault(module, set()).add(target)

# A depth-first search for a circle among modules.
state = {}
def visit(m, trail):
    state[m] = 'open'
    for n in sorted(graph.get(m, ())):
        if state.get(n) == 'open':
            problems.append('circle: ' + ' -> '.join(trail[trail.index(n):] + [n]))
        elif n not in state:
            visit(n, trail + [n])
    state[m] = 'done'

for m in sorted(graph):
    if m not in state:
        visit(m, [m])

for p in problems:
    print(p)
sys.exit(1 if problems else 0)
