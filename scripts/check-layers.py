#!/usr/bin/env python3
"""Checks that every #include "..." between the layer folders points down.

    check-layers.py [SOURCE_ROOT]

The folders, lowest first: base < platform < payload < script < install <
ui < app. A file may include its own folder and the folders below it;
packer/ stands beside ui/ and may use install/ and below. Prints the
include graph between folders and every include that points up or
sideways; exits with 1 when there is one.
"""
import os
import re
import sys

ORDER = ["base", "platform", "payload", "script", "install", "ui", "app"]
ALLOWED = {folder: set(ORDER[:i]) for i, folder in enumerate(ORDER)}
ALLOWED["packer"] = set(ORDER[: ORDER.index("install") + 1])
INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"/]+)/[^"]+"', re.M)


def main(root):
    edges, wrong = {}, []
    for folder, allowed in ALLOWED.items():
        for dirpath, _, files in os.walk(os.path.join(root, folder)):
            for name in sorted(files):
                if not name.endswith((".h", ".cpp", ".rc")):
                    continue
                path = os.path.join(dirpath, name)
                with open(path, encoding="utf-8", errors="replace") as f:
                    targets = INCLUDE.findall(f.read())
                for target in targets:
                    if target == folder or target not in ALLOWED:
                        continue
                    edges[(folder, target)] = edges.get((folder, target), 0) + 1
                    if target not in allowed:
                        wrong.append(f"{os.path.relpath(path, root)} includes {target}/")
    for (a, b), n in sorted(edges.items(), key=lambda e: (ORDER + ["packer"]).index(e[0][0])):
        print(f"{a} -> {b}: {n}")
    for line in wrong:
        print("points up or sideways:", line)
    print(f"{len(wrong)} includes against the layers")
    return 1 if wrong else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1] if len(sys.argv) > 1 else "."))
