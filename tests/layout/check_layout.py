#!/usr/bin/env python3
"""Checks the shape of the plug-in's source tree:
- a folder includes only headers of its own folder or of the folders below it, in the order
  support < control < camera < panel < live < acquisition < automation (so there is no include
  cycle between folders), and never a header outside plugin/ by a relative path;
- no function is longer than 80 lines (the code is clang-formatted, so a function defined at
  namespace level starts and ends in column 0).
Usage: check_layout.py PLUGIN_DIR"""
import pathlib
import re
import sys

LAYERS = ["support", "control", "camera", "panel", "live", "acquisition", "automation"]
MAX_LINES = 80
INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"]+)"')


def check_includes(root, path, rank, problems):
    for number, line in enumerate(path.read_text().splitlines(), 1):
        m = INCLUDE.match(line)
        if not m:
            continue
        target = m.group(1)
        where = f"{path.relative_to(root)}:{number}"
        if target.startswith("..") or "/" not in target:
            problems.append(f"{where}: include \"{target}\" is not a plug-in folder path")
            continue
        folder = target.split("/")[0]
        if folder not in LAYERS:
            problems.append(f"{where}: include \"{target}\" names no plug-in folder")
        elif LAYERS.index(folder) > rank:
            problems.append(f"{where}: {LAYERS[rank]}/ includes {target} from a folder above it")


def check_lengths(root, path, problems):
    start = None
    for number, line in enumerate(path.read_text().splitlines(), 1):
        if start is None and re.match(r"^[A-Za-z_].*\)\s*(const)?\s*(noexcept)?\s*(override)?\s*\{$", line):
            start = number
        elif start is not None and line.startswith("}"):
            if number - start + 1 > MAX_LINES:
                problems.append(f"{path.relative_to(root)}:{start}: function of "
                                f"{number - start + 1} lines (at most {MAX_LINES})")
            start = None


def main():
    root = pathlib.Path(sys.argv[1]).resolve()
    problems = []
    for path in sorted(root.rglob("*")):
        if path.suffix not in (".h", ".cpp"):
            continue
        folder = path.relative_to(root).parts[0]
        if folder not in LAYERS:
            problems.append(f"{path.relative_to(root)}: not in a plug-in folder")
            continue
        check_includes(root, path, LAYERS.index(folder), problems)
        if path.suffix == ".cpp":
            check_lengths(root, path, problems)
    for p in problems:
        print(p)
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
