#!/usr/bin/env python3
"""Checks that every #include "..." between the layer folders, and between
the packer's rooms, points where the tables below allow.

    check-layers.py [SOURCE_ROOT]

The stub's folders, lowest first: base < platform < payload < script <
install < ui < app. A file may include its own folder and the folders
below it. The packer stands beside ui/ and is split into rooms (ROOMS): its
commands at packer/'s top, and packer/common, host, encoder and branding
below them. Each room may include itself and what its row names. Prints
the include graph between folders and rooms and every include that points
up or sideways; exits with 1 when there is one.
"""
import os
import re
import sys

ORDER = ["base", "platform", "payload", "script", "install", "ui", "app"]
ALLOWED = {folder: set(ORDER[:i]) for i, folder in enumerate(ORDER)}

# What each room of the packer may include besides itself. The encoder and
# branding never include each other, and no room includes the commands.
BELOW_UI = set(ORDER[: ORDER.index("install") + 1])
ROOMS = {
    "packer/common": {"base"},
    "packer/host": {"base", "platform", "packer/common"},
    "packer/encoder": {"base", "payload", "packer/common"},
    "packer/branding": {"base", "payload", "packer/common"},
    "packer": BELOW_UI | {"packer/common", "packer/host", "packer/encoder", "packer/branding"},
}
ALLOWED.update(ROOMS)
INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"]+/[^"]+)"', re.M)


def place(path):
    """The folder or room that a path below the root belongs to, or None."""
    parts = path.split("/")
    if parts[0] == "packer" and len(parts) > 2 and "/".join(parts[:2]) in ROOMS:
        return "/".join(parts[:2])
    return parts[0] if parts[0] in ALLOWED else None


def main(root):
    edges, wrong = {}, []
    for top in ORDER + ["packer"]:
        for dirpath, _, files in os.walk(os.path.join(root, top)):
            for name in sorted(files):
                if not name.endswith((".h", ".cpp", ".rc")):
                    continue
                path = os.path.join(dirpath, name)
                source = os.path.relpath(path, root).replace(os.sep, "/")
                here = place(source)
                with open(path, encoding="utf-8", errors="replace") as f:
                    targets = INCLUDE.findall(f.read())
                for target in targets:
                    there = place(target)
                    if there is None or there == here:
                        continue
                    edges[(here, there)] = edges.get((here, there), 0) + 1
                    if there not in ALLOWED[here]:
                        wrong.append(f"{source} includes {target}")
    order = list(ALLOWED)
    for (a, b), n in sorted(edges.items(), key=lambda e: (order.index(e[0][0]), order.index(e[0][1]))):
        print(f"{a} -> {b}: {n}")
    for line in wrong:
        print("points up or sideways:", line)
    print(f"{len(wrong)} includes against the layers")
    return 1 if wrong else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1] if len(sys.argv) > 1 else "."))
