#!/usr/bin/env python3
"""CTest `try`: popbox try as an author runs it. The setup of the scenario
missing-target (its LinkTarget names no file, so the start fails after the
closing question) reported as JSON, and told to install into a folder that
exists (refused, then cancelled); usage errors; the prefix tool beneath
it driven by relative paths, from the setup's own folder; and the CI
example of docs/authors.md on the example application. (The test `example` shows the
report of a setup that installs.)

    try_test.py BIN EXAMPLE_APP
"""
import json
import os
import re
import shutil
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
import scenarios  # noqa: E402

failures = []


def expect(what, ok):
    print(("ok: " if ok else "FAIL: ") + what)
    ok or failures.append(what)


def main(bin_dir, app):
    popbox = os.path.join(bin_dir, "popbox")
    work = tempfile.mkdtemp(prefix="popbox-try-test-")
    try:
        s = scenarios.parse(os.path.join(HERE, "scenarios.txt"))["missing-target"]
        setup = os.path.join(work, "missing-target.exe")
        open(setup, "wb").write(open(os.path.join(bin_dir, "popbox-stub.exe"), "rb").read() +
                                scenarios.payload(scenarios.tokens(s["payload"]), scenarios.repeat(s["script"])))

        def tried(*args):
            run = subprocess.run([popbox, "try", *args], capture_output=True, text=True)
            print(f"$ popbox try {' '.join(args)}  -> {run.returncode}\n{run.stdout}{run.stderr}")
            return run

        for args in (["--answer", "maybe", setup], ["--timeout", "0", setup], [setup, "--folder"]):
            expect(f"popbox try {' '.join(args)} is a usage error", tried(*args).returncode == 2)

        run = tried(setup, "--json", "--no-desktop-link")
        report = json.loads(run.stdout)
        app_dir = scenarios.VARS["APP"]
        boxes = [(e["caption"], e["kind"], e["text"]) for e in report["events"] if e["event"] == "message box"]
        expect("the start's failure is an error box, and exit 1",
               run.returncode == 1 and boxes == [("Success", "question", "Run application?"),
                                                 ("Cannot Install", "error", f"File Not Found: {app_dir}\\missing.exe")])
        expect("the files and the one shortcut asked for",
               [(f["path"], f["record"]) for f in report["files"]] == [("Setup.ini", "trimmed copy"), ("readme.txt", "same")] and
               report["shortcuts"] == [{"file": scenarios.VARS["START"], "target": app_dir + "\\missing.exe",
                                        "working_folder": app_dir}] and report["started"] == [])

        run = tried(setup, "--folder", scenarios.FOLDERS["ProgramFilesDir"], "--timeout", "20")
        expect("an existing folder is refused, the dialog cancelled, and exit 1",
               run.returncode == 1 and 'Message box "Cannot Install" [OK]\n  The folder you specified already exists.\n'
               in run.stdout and "Answered OK\n  The dialog stayed open: pressed Cancel\nThe setup exited with code 0\n\n"
               "Installed: nothing\n" in run.stdout)

        # The prefix tool serves any caller, whatever paths it is given and
        # whatever its folder: the README's example once handed it a relative
        # BIN, which led nowhere from the setup's folder.
        env = scenarios.wine_prefix.fresh_prefix(os.path.join(work, "prefix"))
        run = subprocess.run([sys.executable, os.path.join(HERE, "..", "..", "trial", "wine_prefix.py"), "--drive",
                              os.path.relpath(bin_dir, work), "missing-target.exe", "driver.log", "dialog; kill"],
                             cwd=work, env=env, capture_output=True, text=True)
        print(f"$ wine_prefix.py --drive (relative paths)  -> {run.returncode}\n{run.stdout}{run.stderr}")
        expect("the prefix tool drives a setup named by relative paths",
               run.returncode == 0 and "found: DialogAsMain" in run.stdout)

        # The CI example, as an author copies it.
        block = re.search(r"<!-- ci-example.*?-->\n```sh\n(.*?)```", open(os.path.join(
            HERE, "..", "..", "docs", "authors.md")).read(), re.S).group(1)
        shutil.copytree(app, os.path.join(work, "MyApp"))
        env = dict(os.environ, PATH=bin_dir + os.pathsep + os.environ["PATH"])
        run = subprocess.run(["bash", "-c", block], cwd=work, env=env, capture_output=True, text=True)
        print(f"$ the CI example of docs/authors.md  -> {run.returncode}\n{run.stdout}{run.stderr}")
        shots = os.path.join(work, "artifacts", "screenshots")
        expect("the CI example passes and keeps the report and the pictures",
               run.returncode == 0 and json.load(open(os.path.join(work, "artifacts", "try.json")))["result"] == "passed"
               and sorted(os.listdir(shots)) == ["1-dialog.png", "2-box.png"])
    finally:
        shutil.rmtree(work, ignore_errors=True)
    print(f"{len(failures)} check(s) failed" if failures else "all checks passed")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main(*sys.argv[1:]) if len(sys.argv) == 3 else __doc__)
