#!/usr/bin/env python3
"""What the built stub declares to Windows, read back from the file with
wrestool (icoutils) and objdump: what no run under Wine shows.

    check_stub.py STUB.exe OBJDUMP

The stub is 40960 bytes; icon group 101 is its only icon group, two images
of 16 and 32 pixels at 4 bits; both dialog templates name the class
"DialogAsMain" in that case; one manifest asks for the highest available
rights and changes neither the look nor the scaling; and the stub imports
system DLLs only.
"""
import re
import struct
import subprocess
import sys

SYSTEM_DLLS = {"advapi32.dll", "comdlg32.dll", "gdi32.dll", "kernel32.dll", "msvcrt.dll",
               "ole32.dll", "oleaut32.dll", "shell32.dll", "shlwapi.dll", "user32.dll"}


def main(stub, objdump):
    failures = []
    check = lambda ok, what: ok or failures.append(what)
    wrestool = lambda *a: subprocess.run(["wrestool", *a, stub], check=True, capture_output=True).stdout
    listed = re.findall(r"--type=(\d+) --name=(\d+) --language=(\d+)", wrestool("-l").decode())
    check(len(open(stub, "rb").read()) == 40960, "the stub is not 40960 bytes")
    check([r for r in listed if r[0] == "14"] == [("14", "101", "1033")], "icon group 101 is not the only one")
    group = wrestool("-x", "--raw", "--type=14", "--name=101")
    entries = [struct.unpack_from("<BBBBHHIH", group, 6 + 14 * i) for i in range(struct.unpack_from("<H", group, 4)[0])]
    check(sorted((e[0], e[5]) for e in entries) == [(16, 4), (32, 4)], f"icon images {entries}")
    for name in ("102", "104"):
        template = wrestool("-x", "--raw", "--type=5", "--name=" + name)
        check("DialogAsMain".encode("utf-16-le") in template, f"dialog {name} lacks class DialogAsMain")
    manifest = wrestool("-x", "--raw", "--type=24", "--name=1").decode()
    check('level="highestAvailable" uiAccess="false"' in manifest, "the manifest asks for other rights")
    check("Common-Controls" not in manifest and "dpiAware" not in manifest, "the manifest changes the look")
    dump = subprocess.run([objdump, "-p", stub], check=True, capture_output=True, text=True).stdout
    imports = {m.lower() for m in re.findall(r"DLL Name: (\S+)", dump)}
    check(imports and imports <= SYSTEM_DLLS, f"imports {sorted(imports - SYSTEM_DLLS)}")
    for failure in failures:
        print("FAIL:", failure)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main(*sys.argv[1:]))
