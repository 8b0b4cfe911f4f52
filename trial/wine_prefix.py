#!/usr/bin/env python3
"""Wine prefixes of their own, for popbox try, the tests and the benchmarks:
never the user's own prefix, never another run's traces.

    wine_prefix.py DIR                   makes DIR a fresh prefix and prints the
                                         shell lines that export its environment
    wine_prefix.py --drive BIN SETUP LOG STEPS
                                         runs SETUP under BIN/setup-driver.exe in
                                         the prefix exported (setup_driver.cpp
                                         tells the steps)

A prefix is a copy of a template made once under a lock: the null graphics
driver (Wine draws nothing and needs no display) and known shell folders.
"""
import fcntl
import os
import re
import shutil
import subprocess
import sys
import tempfile
import time

ROOT = "C:\\popbox-test"
FOLDERS = {"Desktop": ROOT + "\\Desktop", "Programs": ROOT + "\\Programs",
           "Personal": ROOT + "\\Documents", "ProgramFilesDir": ROOT + "\\Program Files"}


def wine_env(prefix):
    env = dict(os.environ, WINEPREFIX=prefix, WINEDEBUG="-all", WINEARCH="win64",
               WINEDLLOVERRIDES="winemenubuilder.exe=d;mscoree=d;mshtml=d")
    env.pop("DISPLAY", None)
    # Where 32-bit programs run under qemu-i386, a preload keeps Wine's start
    # fast (scripts/install-deps.sh).
    shim = re.search(r"LD_PRELOAD='([^']*)'", open("/usr/local/lib/popbox-wine/env").read()) \
        if os.path.exists("/usr/local/lib/popbox-wine/env") else None
    if shim:
        env["LD_PRELOAD"] = shim.group(1)
    return env


def winpath(path):
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def linux(prefix, path):
    """The Linux name of a path of the prefix: C: is drive_c, other drives
    are the prefix's device links."""
    top = ["drive_c"] if path[0] in "cC" else ["dosdevices", path[0].lower() + ":"]
    return os.path.join(prefix, *top, *path[3:].split("\\"))


def repeat(text):
    """{x*231} stands for 231 letters x."""
    return re.sub(r"\{(.)\*(\d+)\}", lambda m: m.group(1) * int(m.group(2)), text)


def tokens(text, variables={}):
    """Statements (split at ; and line ends) of words. In "quoted" words \\n
    \\r \\t \\" \\\\ and \\xHH are escapes; a backslash before anything else,
    and every backslash outside quotes, stands for itself. $NAME is replaced
    from `variables`."""
    escapes = {"n": "\n", "r": "\r", "t": "\t", '"': '"', "\\": "\\"}
    statements, word = [[]], None
    for m in re.finditer(r'"((?:[^"\\]|\\.)*)"|([;\n])|([^\s;"]+)', text):
        if m.group(1) is not None:
            word = re.sub(r'\\(x[0-9a-fA-F]{2}|[nrt"\\])',
                          lambda e: chr(int(e.group(1)[1:], 16)) if e.group(1)[0] == "x" else escapes[e.group(1)],
                          m.group(1))
        elif m.group(2):
            statements.append([])
            continue
        else:
            word = m.group(3)
        word = re.sub(r"\$([A-Z]+)", lambda v: variables.get(v.group(1), v.group(0)), word)
        statements[-1].append(repeat(word))
    return [s for s in statements if s]


def reg_import(env, lines):
    """Imports .reg lines into the prefix: one Wine start."""
    with tempfile.NamedTemporaryFile("w", suffix=".reg", delete=False, newline="") as f:
        f.write("Windows Registry Editor Version 5.00\r\n\r\n" + "\r\n".join(lines) + "\r\n")
    subprocess.run(["wine", "reg", "import", winpath(f.name)], env=env, capture_output=True)
    os.unlink(f.name)


def quoted(text):
    return '"' + text.replace("\\", "\\\\") + '"'


def fresh_prefix(path):
    """A copy of the template, made once under a lock: hard links for Wine's
    own files, real copies of the registry and .ini files, which Wine
    rewrites in place."""
    template = os.environ.get("POPBOX_WINE_TEMPLATE", f"/tmp/popbox-scenario-template-{os.getuid()}")
    with open(template + ".lock", "w") as lock:
        fcntl.flock(lock, fcntl.LOCK_EX)
        if not os.path.exists(os.path.join(template, ".ready")):
            shutil.rmtree(template, ignore_errors=True)
            os.makedirs(template)
            # The shell folders in both keys (Wine's shell rewrites one from
            # the other), Program Files in both registry views.
            key = "HKEY_CURRENT_USER\\Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\"
            lines = ['[HKEY_CURRENT_USER\\Software\\Wine\\Drivers]', '"Graphics"="null"']
            for shell in ("Shell Folders", "User Shell Folders"):
                lines += [f"[{key}{shell}]"] + [f'"{n}"={quoted(FOLDERS[n])}' for n in ("Desktop", "Programs", "Personal")]
            for view in ("", "Wow6432Node\\"):
                lines += [f"[HKEY_LOCAL_MACHINE\\Software\\{view}Microsoft\\Windows\\CurrentVersion]",
                          '"ProgramFilesDir"=' + quoted(FOLDERS["ProgramFilesDir"])]
            env = wine_env(template)
            reg_import(env, lines)
            subprocess.run(["wineserver", "-w"], env=env)
            if '"Graphics"="null"' not in open(os.path.join(template, "user.reg")).read():
                sys.exit("wine_prefix.py: the template's registry values were not set")
            for folder in FOLDERS.values():
                os.makedirs(linux(template, folder), exist_ok=True)
            open(os.path.join(template, ".ready"), "w").close()
    subprocess.run(["cp", "-al", template, path], check=True)
    os.unlink(os.path.join(path, ".ready"))
    windows = os.path.join("drive_c", "windows")
    for rel in [n for n in os.listdir(template) if n.endswith(".reg")] + \
            [os.path.join(windows, n) for n in os.listdir(os.path.join(template, windows)) if n.endswith(".ini")]:
        os.unlink(os.path.join(path, rel))
        shutil.copy2(os.path.join(template, rel), os.path.join(path, rel))
    return wine_env(path)


def snapshot(prefix):
    """(kind, size, time) of everything in the prefix but Wine's bookkeeping."""
    entries = {}
    for folder, dirs, files in os.walk(prefix):
        if folder == prefix:
            dirs.remove("dosdevices")
            files = [f for f in files if not re.fullmatch(r".*\.reg|reg.*\.tmp|\.update-timestamp", f)]
        for name in files + dirs:
            try:
                st = os.lstat(os.path.join(folder, name))
            except FileNotFoundError:
                continue
            is_dir = name in dirs
            entries[os.path.relpath(os.path.join(folder, name), prefix)] = \
                ("d", 0, 0) if is_dir else ("f", st.st_size, st.st_mtime_ns)
    return entries


class DriverError(Exception):
    """The driver could not run: the one line says which program and why."""


def start_driver(bin_dir, setup, log, steps, env, prefix=None, **popen):
    """setup-driver.exe on `setup`, which starts in its own folder. Every
    path is made absolute first: the driver runs in another folder than the
    caller's. Paths inside `prefix`'s drive C: are handed over as C: paths."""
    driver, setup, log = (os.path.abspath(p) for p in (os.path.join(bin_dir, "setup-driver.exe"), setup, log))
    for program, what in ((driver, "the driver"), (setup, "the setup")):
        if not os.path.isfile(program):
            raise DriverError(f"{what} {program} does not exist" +
                              (" (build the host preset first)" if program == driver else ""))
    if shutil.which("wine") is None:
        raise DriverError("wine is not installed (bash scripts/install-deps.sh installs it)")
    drive_c = os.path.join(prefix, "drive_c", "") if prefix else None
    windows = lambda p: "C:\\" + p[len(drive_c):].replace("/", "\\") if drive_c and p.startswith(drive_c) else winpath(p)
    with open(log + ".steps", "wb") as f:
        f.write(b"\x1e".join(b"\x1f".join(w.encode("cp1252") for w in s) for s in steps))
    return subprocess.Popen(["wine", windows(driver), windows(log + ".steps"), windows(log), windows(setup)],
                            env=env, cwd=os.path.dirname(setup), **popen)


def driver_transcript(log, status):
    """The driver's transcript; a DriverError when it wrote none."""
    try:
        return open(log, encoding="cp1252", errors="replace").read()
    except FileNotFoundError:
        raise DriverError(f"setup-driver.exe wrote no transcript (wine exit status {status}): "
                          "it did not start") from None


def wait_file(path):
    """Polls for a file, at most 60 s."""
    for _ in range(6000):
        if os.path.exists(path):
            return True
        time.sleep(0.01)
    return False


def main(argv):
    if len(argv) == 2:
        env = fresh_prefix(os.path.abspath(argv[1]))
        for name in ("WINEPREFIX", "WINEDEBUG", "WINEARCH", "WINEDLLOVERRIDES", "LD_PRELOAD"):
            print(f"export {name}='{env[name]}'" if name in env else "")
        for name, key in (("DESKTOP", "Desktop"), ("PROGRAMS", "Programs"), ("PROGRAM_FILES", "ProgramFilesDir")):
            print(f"export POPBOX_{name}='{FOLDERS[key]}' POPBOX_{name}_DIR='{linux(os.path.abspath(argv[1]), FOLDERS[key])}'")
        print("unset DISPLAY")
        return 0
    if len(argv) == 6 and argv[1] == "--drive":
        try:
            status = start_driver(argv[2], argv[3], argv[4], tokens(argv[5]), os.environ).wait()
            print(driver_transcript(argv[4], status), end="")
        except DriverError as e:
            sys.exit(f"wine_prefix.py: {e}")
        return status
    sys.exit(__doc__)


if __name__ == "__main__":
    sys.exit(main(sys.argv))
