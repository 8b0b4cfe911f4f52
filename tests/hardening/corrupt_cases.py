#!/usr/bin/env python3
"""Damaged copies of a small real setup, and what the setup must do with each.

    corrupt_cases.py sample APPDIR
        writes the application folder of the sample setup: Setup.ini, folders,
        a stored (incompressible) file, compressed text files, and a file with
        a long name whose contents are printable.
    corrupt_cases.py tree DIR
        prints the folder tree DIR in the form of the .tree files.
    corrupt_cases.py cases SETUP.exe OUTDIR INSTALL_ROOT
        writes OUTDIR/case-NN.exe, one damaged copy per case, OUTDIR/cases.tsv
        with one line per case:
            NN <tab> install folder <tab> outcome <tab> caption <tab> message
               <tab> what was damaged
        (outcome: "start" for a message box before the dialog, "stop" for a
        message after OK, "clean" for an install that ends with the closing
        question), and OUTDIR/case-NN.tree, the install folder expected on
        disk afterwards as "kind size md5 path" lines (see tree_listing).

The outcome comes from a model of the setup written here from the payload
format: records are read as the setup reads them, compressed contents are
unpacked, names are checked, paths composed, and folders and files made in
a model of the file system. A case whose outcome the model cannot tell
(a name that Windows would change or refuse for its own reasons, a damaged
script) is a fault of this list and stops the generator.
"""

import hashlib
import os
import random
import struct
import sys

PAYLOAD_OFFSET = 40960
HEADER = struct.Struct("<HHIIB")
MAGIC = 0xB10B
ESCAPE = 0xDF
MAX_NAME = 259
END, FOLDER, FILE = 0, 1, 2

LONG_NAME = "docs\\" + "long-name-" * 18 + ".txt"  # 5 + 180 + 4 = 189 characters
SCRIPT = (
    "[Install]\r\n"
    "Title=Corruption sample\r\n"
    "DefaultAppDir=C:\\Corrupt\\Default\r\n"
    "AppDirCaption=Install to:\r\n"
    "StartProgramsLink=<Programs Menu>\\Corruption sample.lnk\r\n"
    "DesktopLink=<Desktop>\\Corruption sample.lnk\r\n"
    "LinkTarget=notes.txt\r\n"
    "StartProgramsLinkSelected=No\r\n"
    "DesktopLinkSelected=No\r\n"
)


def write_sample(root):
    rng = random.Random(20240611)
    files = {
        "Setup.ini": SCRIPT.encode(),
        # Random bytes do not compress: stored as they are.
        "bin/tool.dat": bytes(rng.randrange(256) for _ in range(3000)),
        # Repeated text, runs and 0xDF bytes: compressed with every token kind.
        "docs/readme.txt": (b"Read me first. " * 40 + b"=" * 90 + b"\xdf\xdf tail\r\n") * 3,
        "notes.txt": b"notes, notes, notes, notes, notes and more notes\r\n" * 4,
        # Printable letters with no repeats worth a token: stored, so that a
        # name that runs on into them stays printable.
        LONG_NAME.replace("\\", "/"): bytes(rng.choice(b"abcdefghijklmnopqrstuvwxyz") for _ in range(120)),
    }
    os.makedirs(os.path.join(root, "ab"), exist_ok=True)
    for name, data in files.items():
        path = os.path.join(root, *name.split("/"))
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as out:
            out.write(data)


# ----------------------------------------------------------------- the model


class Unpredictable(Exception):
    pass


def unpack(packed, capacity):
    """The decoder; None for a stream outside the format."""
    out = bytearray()
    i = 0
    while i < len(packed):
        b = packed[i]
        if b != ESCAPE:
            out.append(b)
            i += 1
        elif i + 1 >= len(packed):
            return None
        elif packed[i + 1] == 0:
            out.append(ESCAPE)
            i += 2
        elif i + 2 >= len(packed):
            return None
        else:
            c, f = packed[i + 1], packed[i + 2]
            i += 3
            if c < 128:
                out += bytes([f]) * c
            else:
                n, distance = (c >> 3) - 12, ((c & 7) << 8) | f
                if distance == 0 or distance > len(out):
                    return None
                for _ in range(n):
                    out.append(out[-distance])
        if len(out) > capacity:
            return None
    return bytes(out)


def read_record(data, pos):
    """(name, type, contents, next position) or None when the read fails."""
    if pos + HEADER.size > len(data):
        return None
    magic, name_length, unpacked, packed_size, kind = HEADER.unpack_from(data, pos)
    if magic != MAGIC or name_length > MAX_NAME:
        return None
    pos += HEADER.size
    if pos + name_length > len(data):
        return None
    name = data[pos:pos + name_length].split(b"\0")[0]  # a C string
    pos += name_length
    if pos + packed_size > len(data):
        return None
    packed = data[pos:pos + packed_size]
    pos += packed_size
    contents = packed if packed_size == unpacked else unpack(packed, unpacked)
    if contents is None or len(contents) != unpacked:
        return None
    return name, kind, contents, pos


DEVICES = {b"CON", b"PRN", b"AUX", b"NUL"} | {b"COM%d" % i for i in range(1, 10)} | {
    b"LPT%d" % i for i in range(1, 10)}


def is_device(element):
    return element.split(b".")[0].rstrip(b" ").upper() in DEVICES


def name_is_safe(name):
    if not name or name[:1] in (b"\\", b"/") or b":" in name:
        return False
    for element in name.replace(b"/", b"\\").split(b"\\"):
        if element[-1:] in (b"", b".", b" ") or is_device(element):
            return False
    return True


def check_printable(name):
    """A message box shows other bytes through code page conversions."""
    if any(b < 32 or b > 126 for b in name):
        raise Unpredictable("name with unprintable bytes: %r" % name)


def check_windows_name(name):
    """Names that Windows would change or refuse on its own are not modelled."""
    check_printable(name)
    for element in name.replace(b"/", b"\\").split(b"\\"):
        if any(chr(b) in '<>"|?*' for b in element):
            raise Unpredictable("name Windows would change or refuse: %r" % name)


def find_script(data):
    pos = PAYLOAD_OFFSET
    while True:
        record = read_record(data, pos)
        if record is None or record[1] == END:
            return None
        name, kind, contents, pos = record
        if kind == FILE and name.lower() == b"setup.ini":
            return contents


def predict(data, install_dir):
    """(outcome, caption, message, tree) for one setup file, where tree maps
    the lower-case relative path to (path, None for a folder or contents)."""
    script = find_script(data)
    if script is None:
        return "start", "Bug", "Missing BLOB: Setup.ini", {}
    if script != SCRIPT.encode():
        raise Unpredictable("the script itself changed")
    tree = {}
    pos = PAYLOAD_OFFSET

    def stop(caption, message):
        return "stop", caption, message, tree

    while True:
        record = read_record(data, pos)
        if record is None:
            return stop("Bug", "File Corrupted. Can't Read BLOBs.")
        name, kind, contents, pos = record
        if kind == END:
            return "clean", "Success", "Run application?", tree
        if kind not in (FOLDER, FILE):
            return stop("Bug", "Unknown BLOB Type")
        text = name.decode("latin-1")
        if not name_is_safe(name):
            check_printable(name)
            return stop("Bug", "Bad BLOB Name: " + text)
        path = install_dir + "\\" + text
        if len(path) > MAX_NAME:
            check_printable(name)
            return stop("Bug", "Path Too Long: " + text)
        check_windows_name(name)
        key = text.replace("/", "\\").lower()
        parent = key.rpartition("\\")[0]
        parent_is_folder = parent == "" or (parent in tree and tree[parent][1] is None)
        if kind == FOLDER:
            if key in tree or not parent_is_folder:
                return stop("Cannot Install", "Can't create directory " + path)
            tree[key] = (text, None)
            continue
        if not parent_is_folder or (key in tree and tree[key][1] is None):
            what = "Can't save file " if key == "setup.ini" else "Can't create file "
            return stop("Cannot Install", what + path)
        tree[key] = (text, script if key == "setup.ini" else contents)


def tree_listing(tree):
    lines = []
    for text, contents in tree.values():
        path = text.replace("\\", "/")
        if contents is None:
            lines.append("d - - %s" % path)
        else:
            lines.append("f %d %s %s" % (len(contents), hashlib.md5(contents).hexdigest(), path))
    return sorted(lines, key=lambda line: line.split(" ", 3)[3].encode())


# ----------------------------------------------------------------- the cases


def records(data):
    """One dict per record of an intact setup: the offsets of its header (at),
    name (name_at), contents (packed_at) and end; its name, type, packed size."""
    out = []
    pos = PAYLOAD_OFFSET
    while True:
        _, name_length, _, packed_size, kind = HEADER.unpack_from(data, pos)
        name = data[pos + 13:pos + 13 + name_length].decode("latin-1")
        packed_at = pos + 13 + name_length
        out.append(dict(at=pos, name_at=pos + 13, packed_at=packed_at,
                        end=packed_at + packed_size, name=name, kind=kind,
                        packed=packed_size))
        if kind == END:
            return out
        pos = packed_at + packed_size


def tokens(packed):
    """(offset, kind) of each token of a compressed record."""
    i, out = 0, []
    while i < len(packed):
        if packed[i] != ESCAPE:
            out.append((i, "literal"))
            i += 1
        elif packed[i + 1] == 0:
            out.append((i, "escaped"))
            i += 2
        else:
            out.append((i, "run" if packed[i + 1] < 128 else "match"))
            i += 3
    return out


def make_cases(data):
    recs = records(data)
    by_name = {r["name"]: r for r in recs}
    script, ab, bin_, tool = by_name["Setup.ini"], by_name["ab"], by_name["bin"], by_name["bin\\tool.dat"]
    readme, notes = by_name["docs\\readme.txt"], by_name["notes.txt"]
    long_ = by_name[LONG_NAME]
    end = recs[-1]
    assert recs[0] is script and tool["packed"] == 3000 and long_["packed"] == 120
    assert readme["packed"] < 1000 and notes["packed"] < 200, "text files are compressed"
    readme_tokens = tokens(data[readme["packed_at"]:readme["end"]])

    def first_token(kind, after=0):
        return readme["packed_at"] + next(i for i, k in readme_tokens if k == kind and i >= after)

    cases = []

    def case(what, edit):
        copy = bytearray(data)
        edit(copy)
        cases.append((what, bytes(copy)))

    def put(at, *values):
        def edit(copy):
            for i, v in enumerate(values):
                copy[at + i] = v
        return edit

    def put32(at, value):
        return lambda copy: struct.pack_into("<I", copy, at, value & 0xFFFFFFFF)

    def cut(length):
        return lambda copy: copy.__delitem__(slice(length, None))

    def field(rec, offset, delta=None, value=None):
        at = rec["at"] + offset
        if offset in (4, 8):
            old = struct.unpack_from("<I", data, at)[0]
            return put32(at, value if value is not None else old + delta)
        if offset == 2:
            old = struct.unpack_from("<H", data, at)[0]
            new = value if value is not None else old + delta
            return put(at, new & 0xFF, new >> 8)
        return put(at, value)

    # The script's record: the setup cannot start.
    case("no payload at all", cut(PAYLOAD_OFFSET))
    case("script record's magic", put(script["at"], 0x0C))
    case("script record made a folder", field(script, 12, value=FOLDER))
    case("script record's packed size one larger", field(script, 8, delta=1))
    # Headers of later records.
    case("magic of bin\\tool.dat", put(tool["at"] + 1, 0xB2))
    case("name length 65535", field(tool, 2, value=0xFFFF))
    case("unpacked size of a compressed record one larger", field(readme, 4, delta=1))
    case("unpacked size of a compressed record one smaller", field(readme, 4, delta=-1))
    case("unpacked size of a stored record one smaller", field(tool, 4, delta=-1))
    case("packed size near 4 GiB", field(readme, 8, value=0xFFFFFFF0))
    case("type 3", field(notes, 12, value=3))
    case("end type in the middle", field(tool, 12, value=END))
    case("folder record made a file", field(bin_, 12, value=FILE))
    case("file record made a folder", field(notes, 12, value=FOLDER))
    # Names.
    case("folder name becomes ..", put(ab["name_at"], ord("."), ord(".")))
    case("name starts with a backslash", put(tool["name_at"], ord("\\")))
    case("colon in a name", put(notes["name_at"] + 5, ord(":")))
    case("zero byte inside a name", put(tool["name_at"] + 3, 0))
    case("name in a folder that does not exist", put(readme["name_at"], ord("x")))
    case("long name runs on into its contents", field(long_, 2, delta=60))
    # Compressed and stored contents.
    case("a literal of compressed text", put(first_token("literal"), ord("#")))
    case("a back-reference reaching before the start",
         put(first_token("match") + 1, 0xFF, 0xFF))
    case("a run one longer", lambda copy: copy.__setitem__(
        first_token("run") + 1, copy[first_token("run") + 1] + 1))
    case("a byte of stored contents", put(tool["packed_at"] + 1000, data[tool["packed_at"] + 1000] ^ 0x55))
    # Cuts and tails.
    case("cut inside compressed contents", cut(readme["packed_at"] + readme["packed"] // 2))
    case("no end record", cut(end["at"]))
    case("bytes behind the end record", lambda copy: copy.extend(b"\x0b\xb1 trailing bytes"))
    return cases


def main(argv):
    if len(argv) == 3 and argv[1] == "sample":
        write_sample(argv[2])
        return 0
    if len(argv) == 3 and argv[1] == "tree":
        tree = {}
        for folder, dirs, files in os.walk(argv[2]):
            for name in dirs + files:
                full = os.path.join(folder, name)
                rel = os.path.relpath(full, argv[2]).replace(os.sep, "\\")
                if os.path.isdir(full):
                    tree[rel.lower()] = (rel, None)
                else:
                    with open(full, "rb") as f:
                        tree[rel.lower()] = (rel, f.read())
        sys.stdout.writelines(line + "\n" for line in tree_listing(tree))
        return 0
    if len(argv) != 5 or argv[1] != "cases":
        print(__doc__, file=sys.stderr)
        return 2
    with open(argv[2], "rb") as f:
        data = f.read()
    out_dir, root = argv[3], argv[4]
    os.makedirs(out_dir, exist_ok=True)
    with open(os.path.join(out_dir, "cases.tsv"), "w") as tsv:
        for number, (what, copy) in enumerate(make_cases(data), 1):
            install_dir = "%s\\N%02d" % (root, number)
            try:
                outcome, caption, message, tree = predict(copy, install_dir)
            except Unpredictable as e:
                print("case %d (%s): %s" % (number, what, e), file=sys.stderr)
                return 1
            with open(os.path.join(out_dir, "case-%02d.exe" % number), "wb") as f:
                f.write(copy)
            with open(os.path.join(out_dir, "case-%02d.tree" % number), "w") as f:
                f.writelines(line + "\n" for line in tree_listing(tree))
            tsv.write("\t".join(["%02d" % number, install_dir, outcome, caption, message, what]) + "\n")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
