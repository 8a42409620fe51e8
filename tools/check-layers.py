#!/usr/bin/env python3
"""Checks that each folder of src/ includes only the folders below it.

The order is the README's layout table: its rows that name a folder of src/,
top first. A folder of src/ that the table does not name fails too, so a new
folder gets its place in the stack before it gets code.
    usage: tools/check-layers.py [PROJECT_ROOT]
"""
import os
import re
import sys

ROW = re.compile(r"^\|\s*`src/([a-z_]+)/`\s*\|")
INCLUDE = re.compile(r'^\s*#\s*include\s+"([a-z_]+)/[^"]+"')
SOURCE_ENDINGS = (".h", ".cpp", ".c", ".rc", ".in")


def stack_order(readme):
    """The src/ folders of the layout table, bottom first."""
    folders, in_layout = [], False
    with open(readme, encoding="utf-8") as text:
        for line in text:
            if line.startswith("## "):
                in_layout = line.strip() == "## Layout"
            match = ROW.match(line) if in_layout else None
            if match:
                folders.append(match.group(1))
    return list(reversed(folders))


def main():
    root = sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(__file__), "..")
    order = stack_order(os.path.join(root, "README.md"))
    if not order:
        print("check-layers: README.md has no layout table naming src/ folders")
        return 1
    rank = {folder: i for i, folder in enumerate(order)}
    src = os.path.join(root, "src")
    faults, files, includes = [], 0, 0
    for folder in sorted(os.listdir(src)):
        if not os.path.isdir(os.path.join(src, folder)):
            continue
        if folder not in rank:
            faults.append(f"src/{folder}/: not in the README's layout table")
            continue
        for base, _, names in os.walk(os.path.join(src, folder)):
            for name in sorted(names):
                if not name.endswith(SOURCE_ENDINGS):
                    continue
                path = os.path.join(base, name)
                shown = os.path.relpath(path, root)
                files += 1
                with open(path, encoding="utf-8", errors="replace") as text:
                    for number, line in enumerate(text, 1):
                        match = INCLUDE.match(line)
                        if not match:
                            continue
                        includes += 1
                        target = match.group(1)
                        if target not in rank:
                            faults.append(f"{shown}:{number}: includes {target}/, which the layout table does not name")
                        elif rank[target] > rank[folder]:
                            faults.append(f"{shown}:{number}: {folder}/ includes {target}/, which stands above it")
    for fault in faults:
        print(fault)
    print(f"check-layers: {files} files, {includes} project includes; the stack, bottom first: {' < '.join(order)}")
    if faults:
        print(f"check-layers: {len(faults)} includes go up the stack (or name no folder of it)")
        return 1
    print("check-layers: each folder includes only itself and those below it")
    return 0


if __name__ == "__main__":
    sys.exit(main())
