#!/usr/bin/env python3
"""popbox try: runs a setup as its user would, in a throwaway Windows under
Wine, headless, and reports what happened. `popbox try` starts it:

    try_setup.py --popbox POPBOX --driver setup-driver.exe [OPTIONS] SETUP.exe

(`popbox help try` tells the options). The run: a fresh prefix of its own
(wine_prefix.py) with the null graphics driver, or an X display of its own
for pictures; the setup copied to C:\\popbox-try and started there by
setup-driver.exe, whose watch step works its windows and writes the events;
drive Z: (the host's files) taken away first, so that whatever the setup or
the application does stays inside the prefix. Then the report: the events,
the files against what `popbox extract` writes, the saved Setup.ini, the
shortcuts, the programs started and every other change in the prefix.
Exit code 0 when the setup installed and ended as expected (with --cancel:
closed, writing nothing), 1 otherwise or when a tool is missing.
"""
import argparse
import json
import os
import re
import shutil
import struct
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import lnk_info  # noqa: E402
import wine_prefix  # noqa: E402

WINE_32 = "Wine with 32-bit support: sudo dpkg --add-architecture i386 && sudo apt update && sudo apt install wine wine32:i386"
RUN = "popbox-try"  # C:\popbox-try: the setup's copy, the driver and its files


def fail(line):
    sys.exit("popbox try: " + line)


def needs(screenshots):
    """One line naming the Debian package of the first tool missing."""
    if not shutil.which("wine") or not shutil.which("wineserver"):
        fail("needs " + WINE_32)
    if os.path.isdir("/usr/lib/wine") and not os.path.exists("/usr/lib/wine/wine"):
        fail("needs " + WINE_32)  # Debian's wine without wine32
    if screenshots:
        for tool, package in (("Xvfb", "xvfb"), ("import", "imagemagick"), ("convert", "imagemagick")):
            if not shutil.which(tool):
                fail(f"--screenshots needs {tool}: sudo apt install {package}")
        if not os.path.isdir("/usr/share/wine/fonts"):
            fail("--screenshots needs Wine's fonts: sudo apt install fonts-wine")


def windows_path(rel):
    """C:\\x\\y for drive_c/x/y of the prefix, else the path in the prefix."""
    parts = rel.split(os.sep)
    return "C:\\" + "\\".join(parts[1:]) if parts[0] == "drive_c" else rel


class Display:
    """Xvfb on a display number it picks, for Wine's X11 driver."""

    def __init__(self, work):
        read, write = os.pipe()
        self.process = subprocess.Popen(["Xvfb", "-displayfd", str(write), "-screen", "0", "1024x768x24",
                                         "-nolisten", "tcp"], pass_fds=(write,),
                                        stdout=subprocess.DEVNULL, stderr=open(os.path.join(work, "xvfb.log"), "w"))
        os.close(write)
        with os.fdopen(read) as f:
            self.name = ":" + f.readline().strip()
        if self.name == ":":
            self.close()
            fail("Xvfb did not start (see its log: Xvfb -displayfd 1)")

    def shoot(self, geometry, out, work):
        """The window's rectangle, taken again until two pictures in a row
        agree: then it is fully painted."""
        env = dict(os.environ, DISPLAY=self.name)
        take = lambda path: subprocess.run(["import", "-window", "root", "-crop", geometry, "+repage", path],
                                           env=env, check=True)
        a, b = os.path.join(work, "a.ppm"), os.path.join(work, "b.ppm")
        take(a)
        for _ in range(50):
            take(b)
            if open(a, "rb").read() == open(b, "rb").read():
                break
            os.replace(b, a)
        subprocess.run(["convert", a, "-strip", out], check=True)

    def close(self):
        self.process.kill()
        self.process.wait()


def make_prefix(path, display):
    """A fresh prefix; crashes end the program instead of waiting in a
    dialog; with a display, Wine's X11 driver draws the captions itself and
    has its own fonts."""
    env = wine_prefix.fresh_prefix(path)
    lines = ["[HKEY_CURRENT_USER\\Software\\Wine\\WineDbg]", '"ShowCrashDialog"=dword:00000000']
    if display:
        lines += ["[HKEY_CURRENT_USER\\Software\\Wine\\Drivers]", '"Graphics"=-',
                  "[HKEY_CURRENT_USER\\Software\\Wine\\X11 Driver]", '"Managed"="N"', '"Decorated"="N"']
        env["DISPLAY"] = display.name
        for font in os.listdir("/usr/share/wine/fonts"):
            shutil.copy(os.path.join("/usr/share/wine/fonts", font), os.path.join(path, "drive_c", "windows", "Fonts"))
    wine_prefix.reg_import(env, lines)
    subprocess.run(["wineserver", "-w"], env=env)  # the driver setting holds from the next start
    return env


def read_events(path):
    """[(name, {field: value})] of the driver's events file."""
    data = open(path, "rb").read() if os.path.exists(path) else b""
    events = []
    for record in filter(None, data.split(b"\x1e")):
        fields = record.decode("utf-8", "replace").split("\x1f")
        events.append((fields[0], dict(zip(fields[1::2], fields[2::2]))))
    return events


def blank_store_fields(text):
    """Setup.ini with the values of [Vendor] Name and URL left out, which the
    store layout fills in."""
    out, section = [], b""
    for line in text.split(b"\n"):
        if line.startswith(b"[") and b"]" in line:
            section = line[1:line.index(b"]")].lower()
        elif section == b"vendor" and re.match(rb"(?i)(name|url)=", line):
            line = line[:line.index(b"=") + 1]
        out.append(line)
    return b"\n".join(out)


def install_folder(events):
    """The folder of the OK that closed the dialog (the OKs before it were
    refused), as the setup reads it: trimmed, one trailing backslash
    dropped."""
    presses = [f for name, f in events if name == "press"]
    if not presses or presses[-1]["button"] != "OK":
        return None
    folder = presses[-1]["folder"].strip("".join(map(chr, range(1, 33))))
    return folder[:-1] if folder.endswith("\\") else folder


def compare_files(installed, extracted, store):
    """Every file below the install folder against the same path of the
    extraction: [{path, size, record}] and the extracted paths not installed."""
    files, seen = [], set()
    for folder, _, names in os.walk(installed):
        for name in names:
            path = os.path.join(folder, name)
            rel = os.path.relpath(path, installed)
            seen.add(rel)
            want = os.path.join(extracted, rel)
            got = open(path, "rb").read()
            if not os.path.isfile(want):
                record = "not in the setup"
            elif got == open(want, "rb").read():
                record = "trimmed copy" if rel.lower() == "setup.ini" else "same"
            elif rel.lower() == "setup.ini" and store and blank_store_fields(got) == blank_store_fields(open(want, "rb").read()):
                record = "trimmed copy with the store fields"
            else:
                record = "differs"
            files.append({"path": rel.replace(os.sep, "\\"), "size": len(got), "record": record})
    missing = []
    for folder, _, names in os.walk(extracted):
        for name in names:
            rel = os.path.relpath(os.path.join(folder, name), extracted)
            if rel not in seen:
                missing.append(rel.replace(os.sep, "\\"))
    return sorted(files, key=lambda f: f["path"]), sorted(missing)


def dialog_event(f):
    event = {"event": "dialog", "caption": f["caption"], "layout": f["layout"],
             "folder_caption": f.get("folder-caption", ""), "folder": f["folder"],
             "programs_link": {"label": f["programs-label"].strip(), "ticked": f["programs"] == "1"},
             "desktop_link": {"label": f["desktop-label"].strip(), "ticked": f["desktop"] == "1"}}
    if f["layout"] == "store":
        for key in ("store-name", "store-url"):
            event[key.replace("-", "_")] = {"label": f[key + "-label"], "text": f[key]}
    return event


def press_event(f):
    event = {"event": "press", "button": f["button"]}
    if "after" in f:
        event["after"] = f["after"]
    if "folder" in f:
        event.update(folder=f["folder"], programs_link=f["programs"] == "1", desktop_link=f["desktop"] == "1")
    for key in ("store-name", "store-url"):
        if key in f:
            event[key.replace("-", "_")] = f[key]
    return event


def build_report(args, events, prefix, work, before, after, shots):
    report = {"setup": args.setup, "events": [], "install_folder": None, "files": [], "not_installed": [],
              "saved_setup_ini": None, "shortcuts": [], "started": [], "other_changes": [], "problems": []}
    problems = report["problems"]
    if args.extract_error:
        problems.append(args.extract_error)
    store = False
    for name, f in events:
        shot = shots.get(f.get("shot", ""))
        if name == "dialog":
            event = dialog_event(f)
            store = f["layout"] == "store"
        elif name == "press":
            event = press_event(f)
        elif name == "box":
            question = "Cancel" in f["buttons"].split(",")
            event = {"event": "message box", "caption": f["caption"], "text": f["text"],
                     "buttons": f["buttons"].split(","), "kind": "question" if question else "error",
                     "answer": f["answer"]}
            if not question:
                problems.append(f'it showed "{f["caption"]}": {f["text"].splitlines()[0] if f["text"] else ""}')
        elif name == "window":
            event = {"event": "window", "class": f["class"], "caption": f["caption"]}
            problems.append(f'it showed a window of class {f["class"]}, which was closed')
        elif name == "timeout":
            event = {"event": "timeout", "seconds": args.timeout, "showing": f["showing"]}
            problems.append(f"it did not end within {args.timeout} s")
        elif name == "exit":
            event = {"event": "exit", "code": int(f["code"])}
            if event["code"]:
                problems.append(f"it exited with code {event['code']:#x}")
        elif name == "started":
            report["started"].append({"program": f["program"], "command_line": f.get("command-line"),
                                      "working_folder": f.get("folder"), "exited": "exited" in f})
            continue
        if shot:
            event["screenshot"] = shot
        report["events"].append(event)
    if not any(e["event"] in ("dialog", "message box", "window") for e in report["events"]):
        problems.append("it showed no window")

    # The files, where the last OK put them.
    folder = install_folder(events)
    if folder and re.match(r"[A-Za-z]:\\", folder):
        report["install_folder"] = folder
        installed = wine_prefix.linux(prefix, folder)
        if os.path.isdir(installed):
            report["files"], report["not_installed"] = compare_files(installed, os.path.join(work, "extracted"), store)
            saved = os.path.join(installed, "Setup.ini")
            if os.path.isfile(saved):
                report["saved_setup_ini"] = open(saved, "rb").read().decode("cp1252", "replace")
    for f in report["files"]:
        if f["record"] in ("differs", "not in the setup"):
            problems.append(f"{f['path']} is {'not in the setup' if f['record'] != 'differs' else 'not the record in the setup'}")
    for path in report["not_installed"]:
        problems.append(f"{path} of the setup was not installed")

    # The shortcuts and everything else that changed.
    below = lambda rel, top: rel == top or rel.startswith(top + os.sep)
    top = os.path.relpath(wine_prefix.linux(prefix, folder), prefix) if report["install_folder"] else None
    for rel in sorted(set(before) | set(after)):
        if before.get(rel) == after.get(rel) or below(rel, os.path.join("drive_c", RUN)) or (top and below(rel, top)):
            continue
        path = windows_path(rel)
        if rel.lower().endswith(".lnk") and rel in after:
            try:
                target, workdir = lnk_info.parse(open(os.path.join(prefix, rel), "rb").read())
                report["shortcuts"].append({"file": path, "target": target, "working_folder": workdir})
                continue
            except (ValueError, OSError, IndexError, struct.error):  # no shortcut after all
                pass
        change = "added" if rel not in before else "removed" if rel not in after else "changed"
        report["other_changes"].append({"path": path, "change": change})

    if args.cancel:
        if report["files"] or report["shortcuts"] or report["other_changes"]:
            problems.append("cancelled, it still wrote to the machine")
    elif not report["files"]:
        problems.append("it installed nothing")
    report["result"] = "failed" if problems else "passed"
    report["exit_code"] = 1 if problems else 0
    return report


def indented(text, by):
    return "".join(by + line + "\n" if line else "\n" for line in text.replace("\r\n", "\n").split("\n"))


def print_report(report):
    out = []
    write = out.append
    tick = lambda on: "[x]" if on else "[ ]"
    dialog = {}
    for e in report["events"]:
        if e["event"] == "dialog":
            dialog = e
            write(f'Dialog {quote(e["caption"])}, {e["layout"]} layout\n')
            if e["layout"] == "store":
                for key in ("store_name", "store_url"):
                    write(f'  {e[key]["label"]} {quote(e[key]["text"], "(empty)")}\n')
            write(f'  {e["folder_caption"] or "(no folder caption)"}\n    {e["folder"]}\n')
            for key in ("programs_link", "desktop_link"):
                write(f'  {tick(e[key]["ticked"])} {e[key]["label"]}\n')
        elif e["event"] == "press":
            if e.get("after") == "refusal":
                write("  The dialog stayed open: pressed Cancel\n")
                continue
            if e["folder"] != dialog.get("folder"):
                write(f'  Typed the folder {e["folder"]}\n')
            for key, what in (("store_name", "store's name"), ("store_url", "web address")):
                if key in e and e[key] != dialog[key]["text"]:
                    write(f'  Typed the {what} {quote(e[key])}\n')
            for key, what in (("programs_link", "Start menu"), ("desktop_link", "desktop")):
                if e[key] != dialog[key]["ticked"]:
                    write(f'  {"Ticked" if e[key] else "Cleared"} the {what} box\n')
            write(f'  Pressed {e["button"]}\n')
        elif e["event"] == "message box":
            buttons = " ".join(f"[{b}]" for b in e["buttons"])
            write(f'Message box {quote(e["caption"])} {buttons}\n' + indented(e["text"], "  "))
            if "screenshot" in e:
                write(f'  Picture: {e["screenshot"]}\n')
            write(f'  Answered {e["answer"]}\n')
            continue
        elif e["event"] == "window":
            write(f'Window {quote(e["caption"])} of class {e["class"]}: closed\n')
        elif e["event"] == "timeout":
            write(f'Still running after {e["seconds"]} s, showing {e["showing"] or "nothing"}: ended\n')
        elif e["event"] == "exit":
            write(f'The setup exited with code {e["code"]}\n')
        if "screenshot" in e:
            write(f'  Picture: {e["screenshot"]}\n')

    if report["install_folder"] and report["files"]:
        write(f'\nInstalled into {report["install_folder"]}:\n')
        width = max(len(f["path"]) for f in report["files"])
        size = max(len(str(f["size"])) for f in report["files"])
        what = {"same": "the record, byte for byte", "trimmed copy": "the trimmed copy of the record",
                "trimmed copy with the store fields": "the trimmed copy of the record, with the store fields",
                "differs": "DIFFERS from the record", "not in the setup": "NOT IN THE SETUP"}
        for f in report["files"]:
            write(f'  {f["path"]:<{width}}  {f["size"]:>{size}} bytes  {what[f["record"]]}\n')
        for path in report["not_installed"]:
            write(f'  {path}: in the setup, NOT INSTALLED\n')
    else:
        write("\nInstalled: nothing\n")
    if report["saved_setup_ini"] is not None:
        write("\nSaved Setup.ini:\n" + indented(report["saved_setup_ini"].rstrip("\r\n"), "  "))
    write("\nShortcuts:" + ("\n" if report["shortcuts"] else " none\n"))
    for s in report["shortcuts"]:
        write(f'  {s["file"]}\n    target          {s["target"]}\n    working folder  {s["working_folder"]}\n')
    write("\nStarted:" + ("\n" if report["started"] else " nothing\n"))
    for s in report["started"]:
        if s["exited"]:
            write(f'  {s["program"]} (it ended before it could be read)\n')
        else:
            write(f'  {s["program"]}\n    command line    {s["command_line"]}\n    working folder  {s["working_folder"]}\n')
    write("\nOther changes in the prefix:" + ("\n" if report["other_changes"] else " none\n"))
    for c in report["other_changes"]:
        write(f'  {c["change"]:<8} {c["path"]}\n')
    if report.get("prefix"):
        write(f'\nThe prefix is kept in {report["prefix"]} (its C: is drive_c there; '
              f'WINEPREFIX={report["prefix"]} wine cmd opens a console in it)\n')
    if report["problems"]:
        write("\npopbox try: failed: " + "; ".join(report["problems"]) + "\n")
    else:
        links = len(report["shortcuts"])
        write(f'\npopbox try: passed: ' + (
            "cancelled, nothing written" if not report["files"] else
            f'installed {len(report["files"])} files and {links} shortcut{"s" * (links != 1)}; ' +
            (f'started {", ".join(s["program"].split(chr(92))[-1] for s in report["started"])}'
             if report["started"] else "started nothing")) + "\n")
    sys.stdout.write("".join(out))


def quote(text, empty="(no caption)"):
    return f'"{text}"' if text else empty


def run(args, work):
    prefix = os.path.abspath(args.keep) if args.keep else os.path.join(work, "prefix")
    if args.keep and os.path.exists(prefix):
        if not os.path.isdir(prefix) or os.listdir(prefix):
            fail(f"error: {args.keep} exists and is not an empty folder; --keep makes a new prefix there")
        os.rmdir(prefix)
    display = Display(work) if args.screenshots else None
    try:
        return run_in(args, work, prefix, display)
    finally:
        if display:
            display.close()


def run_in(args, work, prefix, display):
    # What the setup should install; a setup popbox cannot read still runs.
    extracted = subprocess.run([args.popbox, "extract", args.setup, os.path.join(work, "extracted")],
                               capture_output=True, text=True)
    args.extract_error = extracted.returncode and (extracted.stderr.strip() or "popbox extract failed")
    env = make_prefix(prefix, display)
    try:
        return drive(args, work, prefix, env, display)
    finally:
        subprocess.run(["wineserver", "-k"], env=env, capture_output=True)  # and what the setup started


def drive(args, work, prefix, env, display):
    run_dir = os.path.join(prefix, "drive_c", RUN)
    os.makedirs(os.path.join(run_dir, "shots"))
    name = os.path.basename(args.setup)
    if not re.fullmatch(r"[\x20-\x7e]+", name):
        name = "Setup.exe"
    setup = os.path.join(run_dir, name)
    shutil.copy(args.setup, setup)
    shutil.copy(args.driver, os.path.join(run_dir, "setup-driver.exe"))
    # Drive Z: is the host's root: without it, nothing of the run reaches
    # the host's files.
    os.unlink(os.path.join(prefix, "dosdevices", "z:"))

    keys = {"dialog": "cancel" if args.cancel else "ok", "answer": args.answer, "timeout": str(args.timeout * 1000),
            "store-name": args.store_name, "store-url": args.store_url}
    if args.folder is not None:
        keys["folder"] = args.folder
    if args.no_programs_link:
        keys["programs"] = "0"
    if args.no_desktop_link:
        keys["desktop"] = "0"
    if display:
        keys["shots"] = "C:\\" + RUN + "\\shots"
    steps = [["watch", "C:\\" + RUN + "\\events"] + [f"{k}={v}" for k, v in keys.items()]]
    try:
        "".join(sum(steps, [])).encode("cp1252")
    except UnicodeEncodeError:
        fail("error: the folder and store fields are typed in code page 1252; this text has other characters")

    before = wine_prefix.snapshot(prefix)
    log = os.path.join(run_dir, "driver.log")
    with open(os.path.join(work, "wine.log"), "w") as wine_log:
        driver = wine_prefix.start_driver(run_dir, setup, log, steps, env, prefix=prefix,
                                          stdout=wine_log, stderr=wine_log)
    deadline, shot, shots = time.monotonic() + args.timeout + 60, 1, {}
    while driver.poll() is None:
        rect = os.path.join(run_dir, "shots", f"{shot}.rect")
        if display and os.path.exists(rect):
            shots[str(shot)] = png = os.path.join(work, f"{shot}.png")
            display.shoot(open(rect).read().strip(), png, work)
            open(os.path.join(run_dir, "shots", f"{shot}.taken"), "w").close()
            shot += 1
        elif time.monotonic() > deadline:
            subprocess.run(["wineserver", "-k"], env=env, capture_output=True)
            driver.wait()
        else:
            time.sleep(0.02)
    try:
        wine_prefix.driver_transcript(log, driver.returncode)
    except wine_prefix.DriverError:
        said = [line for line in open(os.path.join(work, "wine.log"), errors="replace").read().splitlines() if line.strip()]
        fail("needs " + WINE_32 + " (setup-driver.exe, a 32-bit program, did not start" +
             (f"; Wine said: {said[-1]})" if said else ")"))
    events = read_events(os.path.join(run_dir, "events"))
    if time.monotonic() > deadline and not any(n == "timeout" for n, _ in events):
        events.append(("timeout", {"showing": ""}))
    after = wine_prefix.snapshot(prefix)

    if display:  # N.png becomes N-dialog.png or N-box.png in the folder asked for
        os.makedirs(args.screenshots, exist_ok=True)
        for name, f in events:
            if f.get("shot") in shots:
                out = os.path.join(args.screenshots, f'{f["shot"]}-{"box" if name == "box" else name}.png')
                shutil.copy(shots[f["shot"]], out)
                shots[f["shot"]] = out
    report = build_report(args, events, prefix, work, before, after, shots)
    if args.keep:
        report["prefix"] = prefix
    return report


def main(argv):
    parser = argparse.ArgumentParser(prog="popbox try", description=__doc__.split("\n\n")[0])
    parser.add_argument("--popbox", required=True)
    parser.add_argument("--driver", required=True)
    parser.add_argument("--folder")
    parser.add_argument("--no-programs-link", action="store_true")
    parser.add_argument("--no-desktop-link", action="store_true")
    parser.add_argument("--cancel", action="store_true")
    parser.add_argument("--answer", choices=("ok", "cancel"), default="ok")
    parser.add_argument("--keep")
    parser.add_argument("--timeout", type=int, default=120)
    parser.add_argument("--json", action="store_true")
    parser.add_argument("--screenshots")
    parser.add_argument("--store-name", default="Example Store")
    parser.add_argument("--store-url", default="store.example")
    parser.add_argument("setup")
    args = parser.parse_args(argv[1:])
    if not os.path.isfile(args.setup):
        sys.exit(f"{args.setup}: error: is not a file")
    needs(args.screenshots)
    work = tempfile.mkdtemp(prefix="popbox-try-")
    try:
        report = run(args, work)
    finally:
        shutil.rmtree(work, ignore_errors=True)
    if args.json:
        print(json.dumps(report, indent=2, ensure_ascii=False))
    else:
        print_report(report)
    return report["exit_code"]


if __name__ == "__main__":
    try:
        sys.exit(main(sys.argv))
    except KeyboardInterrupt:
        sys.exit(130)
