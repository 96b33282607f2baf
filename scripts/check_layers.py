#!/usr/bin/env python3
"""Fails when an include under src/ or include/ runs against the layer order.

Layers from the bottom; a folder may include its own files and any folder of a
lower layer. Folders of one layer are peers and never include each other.

usage: check_layers.py [ROOT]   (ROOT defaults to the repository)
"""

import pathlib
import re
import sys

LAYERS = [
    ["strandline"],  # include/strandline: host-facing interfaces
    ["runtime"],
    ["platform"],
    ["xml"],
    ["device"],
    ["rtsp", "camera"],
    ["channels"],
    ["capability", "ptz", "io", "audio", "edge"],
    ["driver"],
]
RANK = {folder: rank for rank, folders in enumerate(LAYERS) for folder in folders}
# Folders that stand lower than their layer: the RTSP code needs nothing above
# the platform, so that it can be reused and tested without the device ground.
CEILING = {"rtsp": "platform"}
INCLUDE = re.compile(r'^\s*#\s*include\s*[<"]([^>"]+)[>"]')
SOURCE_SUFFIXES = {".h", ".hpp", ".cpp", ".cc", ".inc"}


def folders_of(root):
    """Each source file with the folder it belongs to (a key of RANK or not)."""
    for base in ("src", "include"):
        top = root / base
        if not top.is_dir():
            continue
        for path in sorted(top.rglob("*")):
            if path.is_file() and path.suffix in SOURCE_SUFFIXES:
                yield path, path.relative_to(top).parts[0]


def check(root):
    project_folders = {p.name for base in ("src", "include") for p in (root / base).glob("*") if p.is_dir()}
    problems = []
    for path, folder in folders_of(root):
        where = path.relative_to(root)
        if folder not in RANK:
            problems.append(f"{where}: folder '{folder}' has no place in the layer order")
            continue
        for number, line in enumerate(path.read_text(errors="replace").splitlines(), 1):
            match = INCLUDE.match(line)
            if not match or "/" not in match.group(1):
                continue
            target = match.group(1).split("/")[0]
            if target == folder or (target not in RANK and target not in project_folders):
                continue  # own folder, or a system or third-party header
            if target not in RANK:
                problems.append(f"{where}:{number}: includes '{match.group(1)}' from unplaced folder '{target}'")
            elif RANK[target] == RANK[folder]:
                problems.append(f"{where}:{number}: '{folder}' includes '{match.group(1)}' from its peer '{target}'")
            elif RANK[target] > RANK[CEILING.get(folder, folder)]:
                problems.append(f"{where}:{number}: '{folder}' includes '{match.group(1)}' from higher layer '{target}'")
    return problems


def main(argv):
    root = pathlib.Path(argv[1] if len(argv) > 1 else pathlib.Path(__file__).resolve().parent.parent)
    if not (root / "src").is_dir():
        print(f"check_layers: no src/ under {root}", file=sys.stderr)
        return 2
    problems = check(root)
    for problem in problems:
        print(problem)
    if problems:
        print(f"check_layers: {len(problems)} problem(s) with the layer order")
        return 1
    print("check_layers: all includes run downward")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
