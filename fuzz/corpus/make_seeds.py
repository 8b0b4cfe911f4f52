#!/usr/bin/env python3
"""Writes the seed inputs of the fuzz targets into fuzz/corpus/TARGET/.

The seeds are small meaningful inputs: the worked decoder example, a setup
made by the packer, the example Setup.ini with the dialog's and the
extraction's calls, and typical record names. Inputs that once made a
target fail are kept beside them as regression-* files; this script leaves
those alone.

    python3 fuzz/corpus/make_seeds.py [PACKED_SETUP.exe]

PACKED_SETUP.exe, when given, replaces payload-packed (its payload part).
"""
import os
import struct
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
PAYLOAD_OFFSET = 40960


def write(target, name, data):
    os.makedirs(os.path.join(HERE, target), exist_ok=True)
    with open(os.path.join(HERE, target, name), "wb") as f:
        f.write(data)


# ------------------------------------------------------------ fuzz_unpack
# Two bytes of output capacity (little-endian), then the packed stream.
def unpack_seed(capacity, stream):
    return struct.pack("<H", capacity) + bytes(stream)


WORKED = [0x61, 0x62, 0x63, 0xDF, 0xA8, 0x03, 0xDF, 0x08, 0x78, 0xDF, 0x00]
write("fuzz_unpack", "worked-example", unpack_seed(21, WORKED))
write("fuzz_unpack", "worked-example-one-short", unpack_seed(20, WORKED))
write("fuzz_unpack", "run-127", unpack_seed(127, [0xDF, 0x7F, 0x41]))
write("fuzz_unpack", "pattern-distance-1", unpack_seed(20, [0x41, 0xDF, 0xF8, 0x01]))
far = [0xDF, 0x7F, 0x41] * 17 + [0xDF, 0xFF, 0xFF]  # 2159 bytes, then 2047 back
write("fuzz_unpack", "farthest-back-reference", unpack_seed(2159 + 19, far))
write("fuzz_unpack", "distance-zero", unpack_seed(30, [0x41, 0xDF, 0x80, 0x00]))
write("fuzz_unpack", "token-cut-off", unpack_seed(10, [0x41, 0xDF, 0x05]))


# ----------------------------------------------------------- fuzz_payload
# The payload alone: the target puts it behind the stub image.
def record(kind, name, unpacked, stored):
    name = name.encode("latin-1")
    return struct.pack("<HHIIB", 0xB10B, len(name), unpacked, len(stored), kind) + name + stored


END = record(0, "", 0, b"")
write("fuzz_payload", "end-only", END)
script = b"[Install]\r\nTitle=Setup\r\n"
write("fuzz_payload", "hand-made",
      record(2, "Setup.ini", len(script), script) + record(1, "Docs", 0, b"") +
      record(2, "Docs\\readme.txt", 21, bytes(WORKED)) + record(2, "empty", 0, b"") +
      record(3, "odd", 0, b"") + END + b"ignored")
if len(sys.argv) > 1:
    with open(sys.argv[1], "rb") as f:
        write("fuzz_payload", "payload-packed", f.read()[PAYLOAD_OFFSET:])


# -------------------------------------------------------- fuzz_setup_file
# Eight bytes of the PE security directory (offset, length), then the
# payload. A setup that verify calls sound, and the same with a signature.
SOUND_SCRIPT = (b"[Install]\r\nTitle=Seed\r\nDefaultAppDir=<Program Files>\\Seed\r\n"
                b"AppDirCaption=Install to:\r\nStartProgramsLink=<Programs Menu>\\Seed.lnk\r\n"
                b"DesktopLink=<Desktop>\\Seed.lnk\r\nLinkTarget=app.exe\r\n"
                b"StartProgramsLinkSelected=1\r\nDesktopLinkSelected=1\r\n")
sound = (record(2, "Setup.ini", len(SOUND_SCRIPT), SOUND_SCRIPT) + record(1, "Docs", 0, b"") +
         record(2, "Docs\\readme.txt", 21, bytes(WORKED)) + record(2, "app.exe", 2, b"MZ") + END)
write("fuzz_setup_file", "sound", struct.pack("<II", 0, 0) + sound)
certificate = struct.pack("<IHH", 16, 0x0200, 0x0002) + b"\x30\x82\x00\x00\x06\x09\x2a\x86"
write("fuzz_setup_file", "signed",
      struct.pack("<II", PAYLOAD_OFFSET + len(sound), len(certificate)) + sound + certificate)
write("fuzz_setup_file", "hand-made", struct.pack("<II", 0, 0) + (
      record(2, "Setup.ini", len(script), script) + record(1, "Docs", 0, b"") +
      record(2, "Docs\\readme.txt", 21, bytes(WORKED)) + record(3, "odd", 0, b"") + END))


# ------------------------------------------------------------ fuzz_script
# FuzzedDataProvider takes numbers from the end of the input, the highest
# byte first; the script text is what is left at the front. The tables and
# the order below are those of fuzz_script.cpp.
NAMES = ["Vendor", "Install", "install", "Installed Message", "PRIVATE", "Name", "URL",
         "Title", "title", "Link", "LinkTarget", "DefaultAppDir", "StartProgramsLink",
         "DesktopLink", "DesktopLinkSelected", "StartProgramsLinkSelected", "AppDirCaption",
         "", "[", "Install]", "a b", "=", "\r\n", "K\nX"]
VALUES = ["", "Store", "  spaced  ", "http://example.com/shop", "a\r\nb", "[Install]\r\nTitle=x",
          "<Desktop>\\x.lnk", "<Program Files>\\App", "<Programs Menu><My Documents>", "<nope>",
          "<>", "<<Desktop>", "<Desktop", "v" * 300]
KINDS = ["SELECT", "GET_STRING", "GET_BOOL", "GET_SECTION_TEXT", "FIND_KEY", "SET_VALUE",
         "TRUNCATE", "GET_PATH", "COPY", "RESERVE", "TERMINATE"]


class Tail:
    def __init__(self):
        self.consumed = []

    def number(self, value, low, high):
        span, count = high - low, 0
        while span >> (8 * count):
            count += 1
        v = value - low
        self.consumed += [(v >> (8 * (count - 1 - i))) & 0xFF for i in range(count)]

    def bytes(self):
        return bytes(reversed(self.consumed))


def script_seed(text, folders, ops):
    """folders: four (length, pattern) pairs, length 261 for an absent value;
    ops: (kind, name, value, size, extra)."""
    t = Tail()
    for length, pattern in folders:
        t.number(length, 0, 261)
        t.number(pattern, 0, 2)
    t.number(len(ops), 0, 24)
    for kind, name, value, size, extra in ops:
        t.number(KINDS.index(kind), 0, len(KINDS) - 1)
        for table, item in ((NAMES, name), (VALUES, value)):
            t.number(table.index(item), 0, len(table))
            t.number(0, 0, 0xFFFF)
            t.number(0, 0, 40)
        t.number(size, 1, 3000)
        t.number(extra, -5, 600)
    return text + t.bytes()


EXAMPLE = (b"[Vendor]\r\nName=\r\nURL=\r\n\r\n[Install]\r\n"
           b"StartProgramsLink=<Programs Menu>\\Example Viewer.lnk\r\n"
           b"StartProgramsLinkSelected=TRUE\r\nDesktopLink=<Desktop>\\Example Viewer.lnk\r\n"
           b"DesktopLinkSelected=no\r\nLinkTarget=Viewer.exe\r\nTitle=Setup\r\n"
           b"AppDirCaption=  Install Example Viewer 1.0 to:\r\n"
           b"DefaultAppDir=<Program Files>\\Example Viewer\r\n\r\n[Installed Message]\r\n"
           b"Example Viewer 1.0 is installed.\r\n\r\nStart it now?\r\n\r\n[PRIVATE]\r\n"
           b"Notes of the package author.\r\n")
# "C:\Program Files" is the first 16 characters of pattern 0.
MACHINE = [(16, 0), (40, 0), (60, 0), (30, 0)]


def op(kind, name="", value="", size=260, extra=0):
    return (kind, name, value, size, extra)


write("fuzz_script", "example-dialog", script_seed(EXAMPLE, MACHINE, [
    op("SELECT", "Vendor"), op("GET_STRING", "Name", size=2), op("SELECT", "install"),
    op("GET_STRING", "Title"), op("GET_STRING", "AppDirCaption"),
    op("GET_BOOL", "StartProgramsLinkSelected"), op("GET_BOOL", "DesktopLinkSelected"),
    op("GET_STRING", "Link"), op("GET_PATH", "DefaultAppDir"),
    op("GET_PATH", "StartProgramsLink"), op("GET_PATH", "DesktopLink"),
    op("GET_SECTION_TEXT", "Installed Message", size=2048), op("GET_STRING", "Title")]))
write("fuzz_script", "example-extract", script_seed(EXAMPLE, MACHINE, [
    op("COPY"), op("TRUNCATE", "PRIVATE"), op("SELECT", "Vendor"),
    op("SET_VALUE", "Name", "Store"), op("SET_VALUE", "URL", "http://example.com/shop"),
    op("FIND_KEY", "URL"), op("SET_VALUE", "Name", "v" * 300), op("TERMINATE")]))
write("fuzz_script", "long-folders", script_seed(EXAMPLE, [(259, 0), (250, 2), (260, 1), (261, 0)], [
    op("SELECT", "Install"), op("GET_PATH", "DefaultAppDir"), op("GET_PATH", "DesktopLink"),
    op("SET_VALUE", "LinkTarget", "<Programs Menu><My Documents>"),
    op("GET_PATH", "LinkTarget"), op("RESERVE", extra=600), op("GET_PATH", "Title")]))
write("fuzz_script", "odd-lines", script_seed(
    b"junk\r\n[install]\r\n title=no\r\nTitle \r\n= spaced \r\n[\r\nName=x\r\n[Install] more\r\n",
    MACHINE, [op("SELECT", "Install"), op("GET_STRING", "Title"), op("GET_STRING", "Name"),
              op("SET_VALUE", "Title", "a\r\nb"), op("GET_SECTION_TEXT", "install", size=5)]))


# ------------------------------------------------------------- fuzz_names
# One byte picks the install folder (see fuzz_names.cpp), then the name.
for i, (folder, name) in enumerate([
        (0, "Setup.ini"), (0, "Docs\\readme.txt"), (2, "a/b\\c"), (0, "..\\x"),
        (1, "a\\..\\..\\b"), (0, "C:x"), (0, "..."), (3, "Docs\\" + "n" * 60),
        (4, "x"), (0, ".\\a"), (0, "a\\\\b"), (0, "Docs\\.\xae")]):
    write("fuzz_names", "name-%02d" % i, bytes([folder]) + name.encode("latin-1"))
