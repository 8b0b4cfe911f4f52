#!/usr/bin/env python3
"""Restores the case of a dialog class name in a compiled resource file.

    restore_class_case.py FILE.res CLASSNAME COUNT

windres stores the name of a dialog's CLASS statement in capitals. Windows
matches class names without regard to case, so the dialogs work either way,
but the templates should carry the name as the program registers it. The
name is stored as zero-terminated UTF-16; this rewrites each capitalised
copy in place (same length) and fails unless exactly COUNT are found.
"""

import sys


def main(argv):
    if len(argv) != 4:
        print(__doc__.strip(), file=sys.stderr)
        return 2
    path, name, count = argv[1], argv[2], int(argv[3])
    wanted = (name + "\0").encode("utf-16-le")
    stored = (name.upper() + "\0").encode("utf-16-le")
    with open(path, "rb") as f:
        data = f.read()
    found = data.count(stored)
    if found != count:
        print(f"restore_class_case: {path}: {found} copies of {name.upper()!r}, expected {count}",
              file=sys.stderr)
        return 1
    with open(path, "wb") as f:
        f.write(data.replace(stored, wanted))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
