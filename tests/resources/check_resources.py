#!/usr/bin/env python3
"""Checks the resources linked into the stub against what the dialog code
and Windows expect of them.

    check_resources.py STUB.exe ICON_MAP_DIR

Reads the resources back with wrestool (icoutils) and decodes the bytes
itself: the resource list, both dialog templates field by field, and the
icon group with its two images, whose pixels must match the pixel maps
they were generated from.
"""

import os
import struct
import subprocess
import sys
import unittest

STUB = ""
MAP_DIR = ""

WS_CHILD, WS_VISIBLE, WS_BORDER = 0x40000000, 0x10000000, 0x00800000
WS_CAPTION, WS_SYSMENU, WS_MINIMIZEBOX = 0x00C00000, 0x00080000, 0x00020000
WS_GROUP, WS_TABSTOP = 0x00020000, 0x00010000
DS_SETFONT, DS_CENTER = 0x40, 0x800
BS_PUSHBUTTON, BS_DEFPUSHBUTTON, BS_AUTOCHECKBOX, BS_GROUPBOX = 0, 1, 3, 7
ES_LEFT, ES_AUTOHSCROLL = 0, 0x80
SS_LEFT, SS_SIMPLE = 0, 0xB
EDIT = ES_LEFT | ES_AUTOHSCROLL | WS_BORDER | WS_GROUP | WS_TABSTOP
# Predefined window classes may be stored as atoms.
CLASS_ATOMS = {0x80: "BUTTON", 0x81: "EDIT", 0x82: "STATIC"}

T1 = " Create a shortcut in the  Start | Programs  menu."
T2 = " Create a shortcut on the desktop."
T3 = "From what online store did you download this software?  You will need"
T4 = "the store's name and address later if you choose to buy this software."

# (id, class, text, x, y, width, height, styles besides WS_CHILD | WS_VISIBLE)
PLAIN = [
    (1, "BUTTON", "OK", 70, 66, 45, 14, BS_DEFPUSHBUTTON | WS_GROUP | WS_TABSTOP),
    (2, "BUTTON", "Cancel", 125, 66, 45, 14, BS_PUSHBUTTON | WS_TABSTOP),
    (1000, "EDIT", "", 8, 17, 225, 12, EDIT),
    (1001, "BUTTON", T1, 8, 34, 220, 12, BS_AUTOCHECKBOX | WS_GROUP | WS_TABSTOP),
    (1002, "BUTTON", T2, 8, 46, 220, 12, BS_AUTOCHECKBOX | WS_TABSTOP),
    (1003, "STATIC", "Install to:", 8, 6, 225, 8, SS_SIMPLE | WS_GROUP),
]
STORE = [
    (65535, "BUTTON", " Online Store ", 5, 5, 238, 69, BS_GROUPBOX),
    (65535, "BUTTON", " Installation Options ", 5, 79, 238, 70, BS_GROUPBOX),
    (65535, "STATIC", T3, 14, 18, 221, 8, SS_LEFT | WS_GROUP),
    (65535, "STATIC", T4, 14, 27, 221, 8, SS_LEFT | WS_GROUP),
    (1005, "STATIC", "Store's Name:", 14, 42, 45, 8, SS_SIMPLE | WS_GROUP),
    (1004, "EDIT", "", 66, 40, 170, 12, EDIT),
    (1007, "STATIC", "Web Address:", 14, 57, 45, 8, SS_SIMPLE | WS_GROUP),
    (1006, "EDIT", "", 66, 55, 170, 12, EDIT),
    (1003, "STATIC", "Install to:", 14, 92, 225, 8, SS_SIMPLE | WS_GROUP),
    (1000, "EDIT", "", 14, 102, 221, 12, EDIT),
    (1001, "BUTTON", T1, 14, 120, 176, 12, BS_AUTOCHECKBOX | WS_GROUP | WS_TABSTOP),
    (1002, "BUTTON", T2, 14, 132, 176, 12, BS_AUTOCHECKBOX | WS_TABSTOP),
    (1, "BUTTON", "OK", 74, 156, 45, 14, BS_DEFPUSHBUTTON | WS_GROUP | WS_TABSTOP),
    (2, "BUTTON", "Cancel", 129, 156, 45, 14, BS_PUSHBUTTON | WS_TABSTOP),
]
DIALOG_STYLE = WS_VISIBLE | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX | DS_CENTER | DS_SETFONT

PALETTE = [
    (0x00, 0x00, 0x00), (0x80, 0x00, 0x00), (0x00, 0x80, 0x00), (0x80, 0x80, 0x00),
    (0x00, 0x00, 0x80), (0x80, 0x00, 0x80), (0x00, 0x80, 0x80), (0x80, 0x80, 0x80),
    (0xC0, 0xC0, 0xC0), (0xFF, 0x00, 0x00), (0x00, 0xFF, 0x00), (0xFF, 0xFF, 0x00),
    (0x00, 0x00, 0xFF), (0xFF, 0x00, 0xFF), (0x00, 0xFF, 0xFF), (0xFF, 0xFF, 0xFF),
]


def wrestool(*args):
    return subprocess.run(["wrestool", *args, STUB], check=True, capture_output=True).stdout


def raw_resource(type_id, name):
    data = wrestool("-x", "-R", f"--type={type_id}", f"--name={name}")
    if not data:
        raise AssertionError(f"resource type {type_id} name {name} is missing")
    return data


class Reader:
    """Little-endian reader over one resource's bytes."""

    def __init__(self, data):
        self.data, self.pos = data, 0

    def take(self, fmt):
        values = struct.unpack_from("<" + fmt, self.data, self.pos)
        self.pos += struct.calcsize("<" + fmt)
        return values if len(values) > 1 else values[0]

    def text(self):
        end = self.pos
        while self.data[end:end + 2] != b"\0\0":
            end += 2
        value = self.data[self.pos:end].decode("utf-16-le")
        self.pos = end + 2
        return value

    def name_or_atom(self):
        """sz_Or_Ord: 0 = none, 0xFFFF = an ordinal follows, else a string."""
        first = struct.unpack_from("<H", self.data, self.pos)[0]
        if first == 0xFFFF:
            self.pos += 2
            return self.take("H")
        if first == 0:
            self.pos += 2
            return None
        return self.text()

    def align(self, size):
        self.pos = (self.pos + size - 1) // size * size


def decode_dialog(data):
    r = Reader(data)
    if r.data[:4] == b"\x01\x00\xff\xff":
        raise AssertionError("extended template (DIALOGEX); a classic template is expected")
    style, exstyle, count, x, y, cx, cy = r.take("IIHhhhh")
    dialog = {"style": style, "exstyle": exstyle, "rect": (x, y, cx, cy),
              "menu": r.name_or_atom(), "class": r.name_or_atom(), "caption": r.text()}
    if style & DS_SETFONT:
        dialog["font"] = (r.take("H"), r.text())
    controls = []
    for _ in range(count):
        r.align(4)
        style, exstyle, x, y, cx, cy, control_id = r.take("IIhhhhH")
        cls = r.name_or_atom()
        cls = CLASS_ATOMS.get(cls, cls) if isinstance(cls, int) else cls.upper()
        text = r.name_or_atom()
        text = "" if text is None else text  # an empty text is stored as one zero word
        extra = r.take("H")
        r.pos += extra
        controls.append({"id": control_id, "class": cls, "text": text, "style": style,
                         "exstyle": exstyle, "rect": (x, y, cx, cy)})
    if r.pos > len(data):
        raise AssertionError("template runs past the end of the resource")
    return dialog, controls


def read_map(path):
    """The pixel map as rows of palette indices, None for transparent."""
    legend, rows = {}, []
    with open(path, encoding="ascii") as f:
        for line in f.read().splitlines():
            words = line.split()
            if not line.strip() or line.startswith("#"):
                continue
            if len(words) >= 3 and words[1] == "=":
                legend[words[0]] = None if words[2] == "transparent" else int(words[2])
            else:
                rows.append([legend[c] for c in line])
    return rows


class ResourceList(unittest.TestCase):
    def test_dialogs_and_one_icon_group_in_us_english(self):
        found = {}
        for line in wrestool("-l").decode().splitlines():
            fields = dict(w[2:].split("=", 1) for w in line.split() if w.startswith("--"))
            found[(fields["type"], fields["name"])] = fields["language"]
        ours = {key: lang for key, lang in found.items() if key[0] in ("3", "5", "14")}
        self.assertEqual(ours, {("3", "1"): "1033", ("3", "2"): "1033", ("5", "102"): "1033",
                                ("5", "104"): "1033", ("14", "101"): "1033"})


class DialogTemplates(unittest.TestCase):
    def check(self, name, rect, expected):
        dialog, controls = decode_dialog(raw_resource(5, name))
        self.assertEqual(dialog["style"], DIALOG_STYLE, hex(dialog["style"]))
        self.assertEqual(dialog["exstyle"], 0)
        self.assertEqual(dialog["rect"], rect)
        self.assertIsNone(dialog["menu"])
        self.assertEqual(dialog["class"], "DialogAsMain")
        self.assertEqual(dialog["caption"], "Setup")
        self.assertEqual(dialog["font"], (8, "MS Sans Serif"))
        # The template order is the tab order, so the whole list is compared.
        got = [(c["id"], c["class"], c["text"], *c["rect"], c["style"], c["exstyle"])
               for c in controls]
        want = [(i, cls, text, x, y, w, h, WS_CHILD | WS_VISIBLE | style, 0)
                for i, cls, text, x, y, w, h, style in expected]
        for index, (g, w) in enumerate(zip(got, want), 1):
            self.assertEqual(g, w, f"control {index} of dialog {name}")
        self.assertEqual(len(got), len(want))

    def test_plain_layout(self):
        self.check(102, (20, 32, 240, 85), PLAIN)

    def test_store_layout(self):
        self.check(104, (20, 32, 250, 175), STORE)


class Icon(unittest.TestCase):
    def test_group_has_two_4bpp_images_that_match_the_pixel_maps(self):
        r = Reader(raw_resource(14, 101))
        self.assertEqual(r.take("HHH"), (0, 1, 2))
        for size, icon_id in ((16, 1), (32, 2)):
            entry = r.take("BBBBHHIH")
            image = raw_resource(3, icon_id)
            self.assertEqual(entry, (size, size, 16, 0, 1, 4, len(image), icon_id))
            self.check_image(image, size, os.path.join(MAP_DIR, f"setup-{size}.txt"))

    def check_image(self, image, size, map_path):
        header = struct.unpack_from("<IiiHHI", image)
        self.assertEqual(header, (40, size, 2 * size, 1, 4, 0))
        palette = [struct.unpack_from("<BBBB", image, 40 + 4 * i) for i in range(16)]
        self.assertEqual([(r, g, b) for b, g, r, _ in palette], PALETTE)
        # Colour rows of 4 bits per pixel, then mask rows of 1 bit, both
        # padded to 4 bytes and stored bottom row first.
        xor_stride, and_stride = (size * 4 + 31) // 32 * 4, (size + 31) // 32 * 4
        xor_at = 40 + 64
        and_at = xor_at + xor_stride * size
        self.assertEqual(len(image), and_at + and_stride * size)
        pixels = []
        for y in range(size):
            row_at = size - 1 - y
            row = []
            for x in range(size):
                byte = image[xor_at + row_at * xor_stride + x // 2]
                colour = byte >> 4 if x % 2 == 0 else byte & 15
                masked = image[and_at + row_at * and_stride + x // 8] & (0x80 >> (x % 8))
                if masked:
                    self.assertEqual(colour, 0, f"transparent pixel {x},{y} has colour bits")
                row.append(None if masked else colour)
            pixels.append(row)
        self.assertEqual(pixels, read_map(map_path), f"pixels differ from {map_path}")

    def test_icotool_reads_the_group(self):
        # An independent reader of the same bytes.
        ico = wrestool("-x", "--type=14", "--name=101")
        listing = subprocess.run(["icotool", "-l", "-"], input=ico, check=True,
                                 capture_output=True).stdout.decode().split("\n")
        self.assertIn("--width=16 --height=16 --bit-depth=4 --palette-size=16", listing[0])
        self.assertIn("--width=32 --height=32 --bit-depth=4 --palette-size=16", listing[1])


if __name__ == "__main__":
    if len(sys.argv) < 3:
        print(__doc__.strip(), file=sys.stderr)
        sys.exit(2)
    STUB, MAP_DIR = sys.argv[1], sys.argv[2]
    unittest.main(argv=sys.argv[:1] + sys.argv[3:], verbosity=2)
