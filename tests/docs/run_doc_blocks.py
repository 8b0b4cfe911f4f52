#!/usr/bin/env python3
"""Runs the command blocks of the author's docs as a reader types them.

  run_doc_blocks.py BIN_DIR APP_EXE ICON FILE.md...

The ```sh blocks of each file run in order, each with bash -euo pipefail,
in a scratch folder of the file's own that holds what the docs presume:
a folder MyApp with the Windows program MyApp.exe (a copy of APP_EXE), a
readme and data/sample.dat, the icon MyApp.ico (ICON), and cert.pem and
key.pem for signing, and is HOME. BIN_DIR, with popbox and its stub,
comes first on PATH. A comment line just before a block says what else to do:

  <!-- doc-test: skip: REASON -->         a block that cannot run here
  <!-- doc-test: file PATH -->            a block the reader saves as PATH
  <!-- doc-test: output -->               what the block before prints
  <!-- doc-test: output, sizes vary -->   the same, except that a number
      not counting files, folders, errors or warnings may be any number,
      and a run of blanks any run of blanks (columns widen with numbers)

A block that fails, an output that differs and a mark that cannot be
followed fail the test; blocks of other languages without a mark are text.
"""
import os
import re
import shutil
import subprocess
import sys
import tempfile

MARK = re.compile(r"<!-- doc-test: (.*) -->")
COUNT = re.compile(r" (files?|folders?|errors?|warnings?)\b")


def blocks(path):
    """(line, language, text, mark) of every fenced block of the file."""
    lines = open(path, encoding="utf-8").read().split("\n")
    found, mark, i = [], None, 0
    while i < len(lines):
        line = lines[i].strip()
        if MARK.fullmatch(line):
            mark = (i + 1, MARK.fullmatch(line).group(1))
        elif line.startswith("```"):
            indent = lines[i].index("`")
            start, i = i, i + 1
            while i < len(lines) and lines[i].strip() != "```":
                i += 1
            text = "\n".join(l[indent:] for l in lines[start + 1 : i]) + "\n"
            found.append((start + 1, line[3:].strip(), text, mark[1] if mark else None))
            mark = None
        elif line and mark:
            break
        i += 1
    if mark:
        sys.exit(f"{path}:{mark[0]}: the mark is not just before a block")
    return found


def same_output(shown, printed, sizes_vary):
    shown, printed = shown.rstrip("\n"), printed.rstrip("\n")
    if not sizes_vary:
        return shown == printed
    pattern, at = "", 0
    for m in re.finditer(r"\d+(?:\.\d+)?| +", shown):
        pattern += re.escape(shown[at : m.start()])
        if m.group()[0] == " ":
            pattern += " +"
        elif COUNT.match(shown, m.end()):
            pattern += re.escape(m.group())
        else:
            pattern += r"\d+(?:\.\d+)?"
        at = m.end()
    return re.fullmatch(pattern + re.escape(shown[at:]), printed) is not None


def prepare(scratch, app_exe, icon):
    os.makedirs(os.path.join(scratch, "MyApp", "data"))
    shutil.copy(app_exe, os.path.join(scratch, "MyApp", "MyApp.exe"))
    with open(os.path.join(scratch, "MyApp", "readme.txt"), "w") as f:
        f.write("Read me.\r\n")
    with open(os.path.join(scratch, "MyApp", "data", "sample.dat"), "w") as f:
        f.write("sample")
    shutil.copy(icon, os.path.join(scratch, "MyApp.ico"))
    subprocess.run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "2",
                    "-subj", "/CN=MyApp test", "-keyout", "key.pem", "-out", "cert.pem"],
                   cwd=scratch, check=True, capture_output=True)


def run_file(path, app_exe, icon, env, tally):
    """Runs one file's blocks; returns the problems found."""
    scratch = tempfile.mkdtemp(prefix="popbox-doc-")
    try:
        prepare(scratch, app_exe, icon)
        printed = None  # what the last block that ran printed
        for line, language, text, mark in blocks(path):
            where = f"{path}:{line}"
            if mark and mark.startswith("skip:"):
                tally["skipped"].append(mark[5:].strip())
                printed = None
            elif mark and mark.startswith("file "):
                with open(os.path.join(scratch, mark[5:].strip()), "w", encoding="utf-8") as f:
                    f.write(text)
                tally["saved"] += 1
            elif mark in ("output", "output, sizes vary"):
                if printed is None:
                    return [f"{where}: the output follows no block that ran"]
                if not same_output(text, printed, mark != "output"):
                    return [f"{where}: the block before prints\n{printed}instead of\n{text}"]
                tally["compared"] += 1
            elif mark:
                return [f"{where}: unknown mark {mark!r}"]
            elif language == "sh":
                result = subprocess.run(["bash", "-euo", "pipefail", "-c", text], cwd=scratch,
                                        env=dict(env, HOME=scratch), stdout=subprocess.PIPE,
                                        stderr=subprocess.STDOUT, text=True, timeout=300)
                printed = result.stdout
                if result.returncode != 0:
                    return [f"{where}: exit code {result.returncode} from\n{text}{printed}"]
                tally["ran"] += 1
        return []
    finally:
        shutil.rmtree(scratch, ignore_errors=True)


def main():
    bin_dir, app_exe, icon, files = sys.argv[1], sys.argv[2], sys.argv[3], sys.argv[4:]
    env = dict(os.environ, PATH=os.path.abspath(bin_dir) + os.pathsep + os.environ["PATH"])
    tally = {"ran": 0, "skipped": [], "saved": 0, "compared": 0}
    problems = []
    for path in files:
        problems += run_file(path, os.path.abspath(app_exe), os.path.abspath(icon), env, tally)
    reasons = sorted(set(tally["skipped"]))
    print(f"doc-blocks: ran {tally['ran']}, skipped {len(tally['skipped'])} of the sh blocks; "
          f"wrote {tally['saved']} and compared {tally['compared']} other blocks")
    for reason in reasons:
        print(f"  skipped {tally['skipped'].count(reason)}: {reason}")
    for problem in problems:
        print(f"FAILED {problem}")
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
