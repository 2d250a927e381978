#!/usr/bin/env python3
"""The include layering of the sources, checked from their #include lines.

Folders: base/, crypto/ and each src/<subsystem>/. A quoted include
"X/..." names folder X when X is base, crypto or a folder of src/; the
public headers ("quenfold/...", "quenfold_log.h") and includes relative to
the including file sit outside the graph.

  - base/ includes only base/: it is the bottom layer.
  - crypto/ includes only crypto/ and base/: it never sees src/.
  - No two folders include each other, directly or through others.

Usage: check_layers.py [ROOT] (default: the checkout this file is in).
Prints each violation and exits 1 when there is one.
"""
import pathlib
import re
import sys

INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"]+)"', re.MULTILINE)
SOURCE_SUFFIXES = {".h", ".c", ".cpp", ".inc"}

# Folder -> the folders it may include besides itself (None: any of src/).
ALLOWED = {
    "base": set(),
    "crypto": {"base"},
}


def folders(root: pathlib.Path) -> dict[str, pathlib.Path]:
    out = {"base": root / "base", "crypto": root / "crypto"}
    for d in sorted((root / "src").iterdir()):
        if d.is_dir():
            out[d.name] = d
    return out


def include_graph(root: pathlib.Path) -> dict[str, dict[str, list[str]]]:
    """folder -> included folder -> the files that include it."""
    known = folders(root)
    graph: dict[str, dict[str, list[str]]] = {name: {} for name in known}
    for name, path in known.items():
        for f in sorted(path.rglob("*")):
            if f.suffix not in SOURCE_SUFFIXES:
                continue
            for inc in INCLUDE.findall(f.read_text(encoding="utf-8")):
                target = inc.split("/", 1)[0] if "/" in inc else None
                if target in known and target != name:
                    graph[name].setdefault(target, []).append(str(f.relative_to(root)))
    return graph


def find_cycle(graph: dict[str, dict[str, list[str]]]) -> list[str] | None:
    state: dict[str, int] = {}  # 1: on the current path, 2: finished
    path: list[str] = []

    def visit(node: str) -> list[str] | None:
        state[node] = 1
        path.append(node)
        for nxt in sorted(graph[node]):
            if state.get(nxt) == 1:
                return path[path.index(nxt):] + [nxt]
            if nxt not in state:
                found = visit(nxt)
                if found:
                    return found
        path.pop()
        state[node] = 2
        return None

    for node in sorted(graph):
        if node not in state:
            found = visit(node)
            if found:
                return found
    return None


def violations(root: pathlib.Path) -> list[str]:
    graph = include_graph(root)
    out = []
    for name, allowed in ALLOWED.items():
        for target, files in sorted(graph[name].items()):
            if target not in allowed:
                out.append(f"{name}/ includes {target}: {', '.join(files)}")
    cycle = find_cycle(graph)
    if cycle:
        steps = [f"{a} -> {b} ({graph[a][b][0]})" for a, b in zip(cycle, cycle[1:])]
        out.append("include cycle: " + "; ".join(steps))
    return out


def main() -> int:
    root = pathlib.Path(sys.argv[1] if len(sys.argv) > 1 else pathlib.Path(__file__).resolve().parents[2])
    found = violations(root)
    for v in found:
        print(v)
    if found:
        return 1
    print(f"include layering holds for {len(folders(root))} folders")
    return 0


if __name__ == "__main__":
    sys.exit(main())
