#!/usr/bin/env python3
"""Runs the scenarios of scenarios.txt: real setups under Wine.

    scenarios.py BIN --list                 the scenario names
    scenarios.py BIN NAME                   runs one; exit 0 when it passes
    scenarios.py BIN --run PROGRAM ARGS...  a console program in a fresh prefix

Each scenario gets a Wine prefix of its own (trial/wine_prefix.py); builds
its setup; prepares the machine; has setup-driver.exe work the windows; and
checks the disk.
"""
import os
import re
import shutil
import struct
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "trial"))
import lnk_info  # noqa: E402
import wine_prefix  # noqa: E402
from wine_prefix import FOLDERS, ROOT, driver_transcript, fresh_prefix, linux, quoted, reg_import, repeat, snapshot, start_driver, winpath  # noqa: E402

HERE = os.path.dirname(os.path.abspath(__file__))
VARS = {"APP": FOLDERS["ProgramFilesDir"] + "\\Test App", "PROGRAMS": FOLDERS["Programs"],
        "START": FOLDERS["Programs"] + "\\Test App.lnk", "DESKTOP": FOLDERS["Desktop"] + "\\Test App.lnk",
        "RECORD": ROOT + "\\launch-record.txt", "BIG": "x" * 1048576, "LONG": "b" * 4000,
        "HINT": "\n\nIf you are trying to upgrade a Quorvane\napplication, first uninstall the old "
                "application\n(run it and click File | Uninstall)."}
failures = []


def fail(message):
    failures.append(message)
    print("FAIL:", message)


def wait_file(path):
    return wine_prefix.wait_file(path) or fail(f"{path} did not appear")


def tokens(text, variables=VARS):
    return wine_prefix.tokens(text, variables)


def parse(path):
    """name -> {field: text}. A field with nothing behind its colon is a block
    (script, saved): the lines below indented by two blanks, with CR LF; an
    empty line ends it unless an indented line follows. A field with a value
    goes on in the indented lines below it."""
    scenarios, current, field, block, gap = {}, None, None, False, ""
    for line in open(path, encoding="utf-8").read().split("\n"):
        key, sep, value = line.partition(":")
        if line.startswith("## "):
            current, field = scenarios.setdefault(line[3:].strip(), {}), None
        elif current is None or line.startswith("#"):
            continue
        elif field and block and not line:
            gap += "\r\n"
        elif field and line.startswith("  "):
            current[field] += gap + line[2:] + ("\r\n" if block else "\n")
            gap = ""
        elif sep and re.fullmatch(r"[a-z]+( [a-z-]+)?", key):
            field, block, gap = key, not value.strip(), ""
            current[field] = "" if block else value + "\n"
        else:
            field = None  # a line of the description
    return scenarios


# --- building setups ---------------------------------------------------------

def payload(statements, script):
    """Records one by one: `script` (Setup.ini), `file NAME TEXT`, `folder
    NAME`, each optionally with packed, type=N, unpacked=N; an end record
    follows unless the list says no-end."""
    out = b""
    for words in statements:
        words = ["file", "Setup.ini", script] + words[1:] if words[0] == "script" else words
        kind, name, data = words[0], words[1].encode("cp1252") if len(words) > 1 else b"", b""
        if kind == "no-end":
            return out
        if kind == "file":
            data = words[2].encode("latin-1")
        modifiers = words[3:] if kind == "file" else words[2:]
        options = dict(w.split("=") for w in modifiers if "=" in w)
        stored = data
        if "packed" in modifiers:  # literals only, one token longer when that alone is as long
            stored = data.replace(b"\xdf", b"\xdf\x00")
            stored = stored if len(stored) != len(data) else stored[:-1] + b"\xdf\x01" + data[-1:]
        type_ = int(options.get("type", {"file": 2, "folder": 1}[kind]))
        out += struct.pack("<HHIIB", 0xB10B, len(name), int(options.get("unpacked", len(data))),
                           len(stored), type_) + name + stored
    return out + struct.pack("<HHIIB", 0xB10B, 0, 0, 0, 0)


def make_app(folder, bin_dir, target):
    """The test application: a compressible text, bytes that do not compress,
    an empty file, the escape byte, nested and empty folders, and
    record-launch.exe at `target`."""
    files = {"readme.txt": b"".join(b"Line %d of the readme: the same words.\r\n" % i for i in range(60)),
             "data.bin": bytes((i * 7919 + (i >> 3) * 104729) % 251 for i in range(5000)),
             "empty.txt": b"", "bin/escapes.dat": b"ab\xdfcd" * 200, "bin/sub/deep.txt": b"deep\r\n",
             "empty folder/": None, target.replace("\\", "/"): open(os.path.join(bin_dir, "record-launch.exe"), "rb").read()}
    for rel, data in files.items():
        os.makedirs(os.path.dirname(os.path.join(folder, rel)), exist_ok=True)
        if data is not None:
            open(os.path.join(folder, rel), "wb").write(data)


def make_icon(path):
    """An icon of four images: 16x16 32-bit, 32x32 8-bit and 48x48 4-bit
    bitmaps, and a 256x256 PNG (ImageMagick writes that layout)."""
    subprocess.run(["convert", "(", "-size", "16x16", "gradient:yellow-green", ")",
                    "(", "-size", "32x32", "gradient:red-blue", "-colors", "200", "-type", "palette", ")",
                    "(", "-size", "48x48", "gradient:white-black", "-colors", "12", "-type", "palette", ")",
                    "(", "-size", "256x256", "gradient:red-blue", ")", path], check=True)


def icon_images(data):
    """The images of an .ico file, in its order."""
    count = struct.unpack_from("<H", data, 4)[0]
    return [data[o:o + n] for n, o in (struct.unpack_from("<II", data, 14 + 16 * i) for i in range(count))]


def tree(folder):
    found = {}
    for path, dirs, files in os.walk(folder):
        for name in dirs + files:
            rel = os.path.relpath(os.path.join(path, name), folder)
            found[rel] = None if name in dirs else open(os.path.join(path, name), "rb").read()
    return found


# --- one scenario ------------------------------------------------------------

class Run:
    def __init__(self, bin_dir, scenario, work):
        self.bin, self.s, self.work = bin_dir, scenario, work
        self.prefix = os.path.join(work, "prefix")
        self.env = fresh_prefix(self.prefix)
        self.vars = dict(VARS, WORK=winpath(work))
        self.setup, self.app = os.path.join(work, "setup.exe"), os.path.join(work, "app")
        self.mounts, self.locker = [], None

    def lin(self, path):
        return linux(self.prefix, path)

    def build(self):
        script = repeat(self.s.get("script", ""))
        stub = os.path.join(self.bin, "popbox-stub.exe")
        if "app" in self.s:
            make_app(self.app, self.bin, tokens(self.s["app"])[0][0])
            open(os.path.join(self.app, "Setup.ini"), "w", newline="").write(script)
            make_icon(os.path.join(self.work, "icon.ico"))
            options = sum(tokens(self.s.get("pack", ""), dict(VARS, WORK=self.work)), [])
            subprocess.run([os.path.join(self.bin, "popbox"), "pack", self.app, "-o", self.setup,
                            "--stub", stub, "--quiet"] + options, check=True)
        else:
            open(self.setup, "wb").write(open(stub, "rb").read() + payload(tokens(self.s["payload"]), script))
        if "sign" in self.s:
            self.sign()

    def sign(self):
        """Authenticode with a throwaway certificate: the payload stays where
        it was, and osslsigncode and popbox both take the signed setup."""
        key, cert, signed = (os.path.join(self.work, n) for n in ("key.pem", "cert.pem", "signed.exe"))
        subprocess.run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "2", "-subj",
                        "/CN=popbox test", "-keyout", key, "-out", cert], check=True, capture_output=True)
        subprocess.run(["osslsigncode", "sign", "-certs", cert, "-key", key, "-n", "Test App Setup",
                        "-in", self.setup, "-out", signed], check=True, capture_output=True)
        before, after = open(self.setup, "rb").read(), open(signed, "rb").read()
        if after[40960:len(before)] != before[40960:]:
            fail("signing moved or changed the payload")
        for command in (["osslsigncode", "verify", "-CAfile", cert, "-in", signed],
                        [os.path.join(self.bin, "popbox"), "verify", signed]):
            result = subprocess.run(command, capture_output=True, text=True)
            if result.returncode:
                fail(f"{command[0]} refuses the signed setup: {result.stdout}{result.stderr}")
        os.replace(signed, self.setup)

    def act(self, statements):
        """Changes to the machine, before the run or when the driver signals."""
        for verb, *args in statements:
            if verb == "mkdir":
                os.makedirs(self.lin(args[0]))
            elif verb == "write":
                open(self.lin(args[0]), "w").write(args[1])
            elif verb == "remove":
                os.unlink(self.lin(args[0]))
            elif verb == "absent":
                self.check([["absent"] + args])
            elif verb == "reg":  # reg KEY NAME VALUE|-|expand:VALUE
                value = args[2] if args[2] == "-" else quoted(args[2])
                if args[2].startswith("expand:"):
                    value = "hex(2):" + ",".join("%02x" % b for b in (args[2][7:] + "\0").encode("utf-16-le"))
                reg_import(self.env, [f"[{args[0]}]", f'"{args[1]}"={value}'])
            elif verb == "drive":  # drive LETTER SIZE [FOLDER...] [ro]: a small tmpfs
                mount = os.path.join(self.work, "drive-" + args[0])
                os.makedirs(mount)
                if os.getuid() or subprocess.run(["mount", "-t", "tmpfs", "-o", "size=" + args[1], "popbox", mount]).returncode:
                    print("SKIP: a drive of its own needs root")
                    sys.exit(77)
                self.mounts.append(mount)
                for folder in set(args[2:]) - {"ro"}:
                    os.makedirs(os.path.join(mount, folder))
                if "ro" in args:
                    subprocess.run(["mount", "-o", "remount,ro", mount], check=True)
                os.symlink(mount, os.path.join(self.prefix, "dosdevices", args[0] + ":"))
            elif verb == "cut":  # the setup loses its last N bytes
                os.truncate(self.setup, os.path.getsize(self.setup) - int(args[0]))
            elif verb == "lock":  # another program holds the setup open, unshared, to the end
                self.locker = subprocess.Popen(["wine", os.path.join(self.bin, "file-locker.exe"), winpath(self.setup),
                                                winpath(self.work + "/locked"), winpath(self.work + "/release")], env=self.env)
                wait_file(self.work + "/locked")
            elif verb == "plant":  # DLLs beside the setup, leaving markers when loaded
                for dll in args:
                    shutil.copy(os.path.join(self.bin, "planted", dll), self.work)
                self.env["POPBOX_PLANT_MARKERS"] = winpath(self.work)
            elif verb == "unrestrict":  # the stub without its DLL restriction: the test's teeth
                data = open(self.setup, "rb").read()
                open(self.setup, "wb").write(data.replace(b"SetDefaultDllDirectories\0", b"XetDefaultDllDirectories\0"))
            elif verb == "env":
                self.env[args[0]] += args[1]
            else:
                sys.exit(f"scenarios.py: unknown action {verb}")

    def drive(self):
        """The driver's `signal NAME` steps pause the setup while the
        scenario's `on NAME` actions run."""
        steps, pauses = [], []
        for words in tokens(self.s["steps"], self.vars):
            if words[0] == "signal":
                pauses.append(words[1])
                words = ["signal", winpath(f"{self.work}/{words[1]}")], ["wait", winpath(f"{self.work}/{words[1]}.done")]
                steps += words
            else:
                steps.append(words)
        log = os.path.join(self.work, "driver.log")
        driver = start_driver(self.bin, self.setup, log, steps, self.env)
        for name in pauses:
            if not wait_file(f"{self.work}/{name}"):
                break
            self.act(tokens(self.s.get("on " + name, ""), self.vars))
            open(f"{self.work}/{name}.done", "w").close()
        status = driver.wait()
        print("driver:\n" + "".join("  | " + line for line in driver_transcript(log, status).splitlines(True)))
        if status:
            fail("the driver reported failures (above)")

    def check(self, statements, before=None):
        for verb, *args in statements:
            path = self.lin(args[0]) if args else ""
            if verb == "tree":  # the application, byte for byte, Setup.ini aside
                got, want = tree(path), tree(self.app)
                got.pop("Setup.ini", None), want.pop("Setup.ini", None)
                if got != want:
                    fail(f"{args[0]} differs from the application: {sorted(set(got) ^ set(want)) or 'contents'}")
            elif verb in ("saved", "file"):  # saved: the scenario's "saved" block
                want = repeat(self.s["saved"]) if verb == "saved" else args[1]
                got = open(path, "rb").read() if os.path.exists(path) else None
                if got != want.encode("cp1252"):
                    fail(f"{args[0]} holds {got!r}, expected {want!r}")
            elif verb == "files":  # exactly these names
                got = sorted(os.listdir(path)) if os.path.isdir(path) else ["<missing>"]
                if got != sorted(args[1:]):
                    fail(f"{args[0]} holds {got}, expected {sorted(args[1:])}")
            elif verb == "link":  # link FILE TARGET WORKING-FOLDER
                got = lnk_info.parse(open(path, "rb").read()) if os.path.exists(path) else "no shortcut"
                if got != (args[1], args[2]):
                    fail(f"shortcut {args[0]} gives {got}")
            elif verb == "absent":
                for p in args:
                    if os.path.lexists(self.lin(p)):
                        fail(f"{p} exists, and should not")
            elif verb == "started":  # started PROGRAM FOLDER: record-launch.exe ran so, shown, without arguments
                record_path = self.lin(VARS["RECORD"])
                wait_file(record_path)
                record = open(record_path, newline="").read() if os.path.exists(record_path) else ""
                command = re.search(r"command-line=(.*?) *\r\n", record)
                if not command or command.group(1) not in (args[0], f'"{args[0]}"') or \
                        f"module={args[0]}\r\nworking-folder={args[1]}\r\nshow=1\r\n" not in record:
                    fail(f"the program's record is {record!r}")
            elif verb == "planted":  # exactly these planted DLLs were loaded
                got = sorted(n[:-7] for n in os.listdir(self.work) if n.endswith(".loaded"))
                if got != sorted(args):
                    fail(f"planted DLLs loaded: {got}, expected {args}")
            elif verb == "size":  # size PATH BELOW
                if os.path.getsize(path) >= int(args[1]):
                    fail(f"{args[0]} is {os.path.getsize(path)} bytes")
            elif verb == "probe":  # Windows reads the setup's icon and version as the "probe" block says
                transcript = os.path.join(self.work, "probe.txt")
                subprocess.run(["wine", os.path.join(self.bin, "icon-probe.exe"), winpath(self.setup),
                                winpath(os.path.join(self.work, "icon.ico")), winpath(transcript)], env=self.env)
                got = open(transcript, encoding="utf-8").read().split("\n") if os.path.exists(transcript) else []
                want = self.s["probe"].rstrip("\r\n").split("\r\n")
                if [line for line in got if line] != want:
                    fail("icon-probe read:\n  " + "\n  ".join(got))
                # And independently of Windows, wrestool (icoutils) reads the file.
                wrestool = lambda *a: subprocess.run(["wrestool", *a, self.setup], capture_output=True).stdout
                if icon_images(wrestool("-x", "--type=14", "--name=101")) != \
                        icon_images(open(os.path.join(self.work, "icon.ico"), "rb").read()):
                    fail("wrestool reads other icon images from the setup")
                strings = wrestool("-x", "--raw", "--type=16").decode("utf-16-le", "replace")
                for key, value in (line.split(": ", 1) for line in want if line[:1].isupper()):
                    if f"{key}\0{value}\0" not in strings.replace("\0\0", "\0"):
                        fail(f"wrestool finds no {key} {value!r} in the version information")
            elif verb == "changed":  # nothing in the prefix changed but below these paths
                allowed = [os.path.relpath(self.lin(p), self.prefix) for p in args]
                after = snapshot(self.prefix)
                for p in sorted(set(before) | set(after)):
                    if before.get(p) != after.get(p) and not any(p == a or p.startswith(a + "/") for a in allowed):
                        fail(f"{p} changed")
            else:
                sys.exit(f"scenarios.py: unknown check {verb}")

    def go(self):
        self.build()
        self.act(tokens(self.s.get("before", ""), self.vars))
        before = snapshot(self.prefix)
        self.drive()
        if self.locker:
            open(self.work + "/release", "w").close()
            self.locker.wait()
        # A crashed program waits under Wine's crash handler: say so rather
        # than wait for it.
        for pid in filter(str.isdigit, os.listdir("/proc")):
            try:
                if b"winedbg" in open(f"/proc/{pid}/cmdline", "rb").read() and \
                        f"WINEPREFIX={self.prefix}".encode() in open(f"/proc/{pid}/environ", "rb").read():
                    fail(f"a crash handler runs (process {pid}): a program crashed")
            except OSError:
                pass
        if not failures:
            subprocess.run(["wineserver", "-w"], env=self.env)  # every program the setup started
        self.check(tokens(self.s.get("after", ""), self.vars), before)

    def close(self):
        subprocess.run(["wineserver", "-k"], env=self.env, capture_output=True)
        for mount in self.mounts:
            subprocess.run(["umount", mount])


def main(argv):
    if len(argv) < 3:
        sys.exit(__doc__)
    bin_dir, what = os.path.abspath(argv[1]), argv[2]
    scenarios = parse(os.path.join(HERE, "scenarios.txt"))
    if what == "--list":
        print("\n".join(scenarios))
        return 0
    work = tempfile.mkdtemp(prefix="popbox-wine-")
    try:
        if what == "--run":
            env = fresh_prefix(os.path.join(work, "prefix"))
            status = subprocess.run(["wine"] + argv[3:], env=env).returncode
            subprocess.run(["wineserver", "-k"], env=env, capture_output=True)
            return status
        run = Run(bin_dir, scenarios[what], work)
        try:
            run.go()
        finally:
            run.close()
    finally:
        shutil.rmtree(work, ignore_errors=True)
    print(f"{len(failures)} check(s) failed" if failures else "all checks passed")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
