"""Fails when the program's modules include each other in a circle: the arrows between the rooms
run one way, so that a reader of a module knows what it may change. A module is a .h/.cpp pair."""
import os
import re
import sys

ROOT = os.path.abspath(os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))
FOLDERS = ["startup", "encoding", "recorder", "encoderlib"]


def include_graph():
    graph = {}
    for folder in FOLDERS:
        for name in sorted(os.listdir(os.path.join(ROOT, folder))):
            if name.endswith((".h", ".cpp")):
                module = f"{folder}/{name.rsplit('.', 1)[0]}"
                with open(os.path.join(ROOT, folder, name), encoding="utf-8") as source:
                    included = re.findall(r'^#include "([^"]+)\.h"', source.read(), re.M)
                graph.setdefault(module, set()).update(m for m in included if m != module)
    return graph


def circle_from(graph, start):
    """A circle through start, as a list of modules, or None."""
    path, seen = [start], set()

    def walk(module):
        for nxt in sorted(graph.get(module, ())):
            if nxt == start:
                return True
            if nxt not in seen:
                seen.add(nxt)
                path.append(nxt)
                if walk(nxt):
                    return True
                path.pop()
        return False

    return path + [start] if walk(start) else None


graph = include_graph()
circles = [c for c in (circle_from(graph, module) for module in sorted(graph)) if c]
for circle in circles:
    print("circle:", " -> ".join(circle))
print(f"{len(graph)} modules, {sum(map(len, graph.values()))} arrows, {len(circles)} in a circle")
sys.exit(1 if circles else 0)
