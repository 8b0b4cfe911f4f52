#!/usr/bin/env python3
"""Prints the target and the working folder of a Windows shortcut (.lnk).

    lnk_info.py FILE.lnk   ->   target=C:\\Apps\\Viewer.exe
                                workdir=C:\\Apps

Reads the shell-link format's LinkInfo (local base path) and StringData
(working folder); enough for the shortcuts the setup writes.
"""

import struct
import sys

HAS_ID_LIST, HAS_LINK_INFO, HAS_NAME, HAS_RELATIVE_PATH, HAS_WORKING_DIR = 1, 2, 4, 8, 0x10
IS_UNICODE = 0x80


def parse(data):
    if len(data) < 0x4C or struct.unpack_from("<I", data, 0)[0] != 0x4C:
        raise ValueError("not a shell link")
    flags = struct.unpack_from("<I", data, 0x14)[0]
    pos = 0x4C
    if flags & HAS_ID_LIST:
        pos += 2 + struct.unpack_from("<H", data, pos)[0]
    target = ""
    if flags & HAS_LINK_INFO:
        size, header, info_flags, _, base_offset = struct.unpack_from("<IIIII", data, pos)
        if info_flags & 1:  # VolumeIDAndLocalBasePath
            start = pos + base_offset
            target = data[start:data.index(b"\0", start)].decode("cp1252")
        pos += size
    strings = {}
    for flag in (HAS_NAME, HAS_RELATIVE_PATH, HAS_WORKING_DIR):
        if flags & flag:
            count = struct.unpack_from("<H", data, pos)[0]
            pos += 2
            width = 2 if flags & IS_UNICODE else 1
            raw = data[pos:pos + count * width]
            strings[flag] = raw.decode("utf-16-le" if width == 2 else "cp1252").rstrip("\0")
            pos += count * width
    return target, strings.get(HAS_WORKING_DIR, "")


def main(argv):
    if len(argv) != 2:
        print(__doc__.strip(), file=sys.stderr)
        return 2
    with open(argv[1], "rb") as f:
        target, workdir = parse(f.read())
    print(f"target={target}")
    print(f"workdir={workdir}")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
