#!/usr/bin/env python3
"""Builds a 16-colour Windows icon file from text pixel maps.

    make_icon.py OUTPUT.ico MAP.txt [MAP.txt ...]

Each map is one square image. Lines starting with '#' and empty lines are
comments. A legend line "X = N" gives the character X the colour N of the
standard 16-colour palette (0 to 15); "X = transparent" makes X see-through.
Every other line is a row of pixels, one character each, top row first.
The images are written in the order given, each at 4 bits per pixel.
"""

import struct
import sys

# The standard 16-colour palette as (red, green, blue), index 0 to 15.
PALETTE = [
    (0x00, 0x00, 0x00), (0x80, 0x00, 0x00), (0x00, 0x80, 0x00), (0x80, 0x80, 0x00),
    (0x00, 0x00, 0x80), (0x80, 0x00, 0x80), (0x00, 0x80, 0x80), (0x80, 0x80, 0x80),
    (0xC0, 0xC0, 0xC0), (0xFF, 0x00, 0x00), (0x00, 0xFF, 0x00), (0xFF, 0xFF, 0x00),
    (0x00, 0x00, 0xFF), (0xFF, 0x00, 0xFF), (0x00, 0xFF, 0xFF), (0xFF, 0xFF, 0xFF),
]
TRANSPARENT = -1


class MapError(Exception):
    pass


def read_map(path):
    """Returns the image as a list of rows of palette indices (or TRANSPARENT)."""
    legend = {}
    rows = []
    with open(path, encoding="ascii") as f:
        for number, line in enumerate(f, 1):
            line = line.rstrip("\r\n")
            where = f"{path}:{number}"
            if not line.strip() or line.startswith("#"):
                continue
            words = line.split()
            if len(words) >= 3 and len(words[0]) == 1 and words[1] == "=":
                if rows:
                    raise MapError(f"{where}: legend line after the pixel rows")
                if words[2] == "transparent":
                    legend[words[0]] = TRANSPARENT
                elif words[2].isdigit() and int(words[2]) < len(PALETTE):
                    legend[words[0]] = int(words[2])
                else:
                    raise MapError(f"{where}: colour must be 0 to 15 or 'transparent'")
                continue
            unknown = sorted(set(line) - set(legend))
            if unknown:
                raise MapError(f"{where}: characters not in the legend: {''.join(unknown)!r}")
            rows.append([legend[c] for c in line])
    size = len(rows)
    if size not in (16, 32, 48) or any(len(r) != size for r in rows):
        raise MapError(f"{path}: the image must be 16, 32 or 48 pixels square")
    return rows


def row_bytes(bits):
    """Bitmap rows are padded to a multiple of 4 bytes."""
    return (bits + 31) // 32 * 4


def encode_image(rows):
    """One icon image: BITMAPINFOHEADER, palette, colour bitmap, mask.

    The header's height counts both bitmaps, so it is twice the image's.
    Both bitmaps are stored bottom row first. A mask bit of 1 marks a
    transparent pixel, whose colour bits are 0 so the screen shows through.
    """
    size = len(rows)
    xor_stride, and_stride = row_bytes(size * 4), row_bytes(size)
    xor_bits = bytearray()
    and_bits = bytearray()
    for row in reversed(rows):
        line = bytearray(xor_stride)
        mask = bytearray(and_stride)
        for x, colour in enumerate(row):
            if colour == TRANSPARENT:
                mask[x // 8] |= 0x80 >> (x % 8)
            else:
                line[x // 2] |= colour << (4 if x % 2 == 0 else 0)
        xor_bits += line
        and_bits += mask
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 4, 0,
                         len(xor_bits) + len(and_bits), 0, 0, 0, 0)
    palette = b"".join(struct.pack("<BBBB", b, g, r, 0) for r, g, b in PALETTE)
    return header + palette + bytes(xor_bits) + bytes(and_bits)


def encode_icon(images):
    """The icon file: ICONDIR, one ICONDIRENTRY per image, the images."""
    out = struct.pack("<HHH", 0, 1, len(images))
    offset = len(out) + 16 * len(images)
    blobs = []
    for rows in images:
        blob = encode_image(rows)
        size = len(rows)
        # Width and height 256 would be stored as 0; sizes here stay below.
        out += struct.pack("<BBBBHHII", size, size, 16, 0, 1, 4, len(blob), offset)
        offset += len(blob)
        blobs.append(blob)
    return out + b"".join(blobs)


def main(argv):
    if len(argv) < 3:
        print(__doc__.strip(), file=sys.stderr)
        return 2
    try:
        images = [read_map(path) for path in argv[2:]]
    except (MapError, OSError, UnicodeDecodeError) as error:
        print(f"make_icon: {error}", file=sys.stderr)
        return 1
    with open(argv[1], "wb") as f:
        f.write(encode_icon(images))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
