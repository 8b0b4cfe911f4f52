#!/usr/bin/env python3
"""Checks what the built stub declares to Windows, read back from the file.

    test_manifest.py STUB.exe

The application manifest (resource type 24, id 1, read with wrestool from
icoutils): the highest available rights without UI access, the supported
Windows versions, and nothing that changes the dialog's look or scaling
(no Common Controls 6 dependency, no DPI awareness). Also: icon group 101
is the only icon group, and the stub is exactly 40960 bytes, the offset at
which the payload starts.
"""

import os
import subprocess
import sys
import unittest
import xml.etree.ElementTree as ET

STUB = ""
ASM_V1 = "{urn:schemas-microsoft-com:asm.v1}"
ASM_V3 = "{urn:schemas-microsoft-com:asm.v3}"
COMPAT = "{urn:schemas-microsoft-com:compatibility.v1}"
SUPPORTED_OS = {
    "{e2011457-1546-43c5-a5fe-008deee3d3f0}",  # Vista
    "{35138b9a-5d96-4fbd-8e2d-a2440225f93a}",  # 7
    "{4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38}",  # 8
    "{1f676c76-80e1-4239-95bb-83d0f6d0da78}",  # 8.1
    "{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}",  # 10 and 11
}


def wrestool(*args):
    return subprocess.run(["wrestool", *args, STUB], check=True, stdout=subprocess.PIPE).stdout


def resources():
    """(type, name) of every resource."""
    found = []
    for line in wrestool("-l").decode().splitlines():
        fields = dict(w[2:].split("=", 1) for w in line.split() if w.startswith("--"))
        found.append((fields["type"], fields["name"]))
    return found


class Manifest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.text = wrestool("-x", "--raw", "--type=24", "--name=1")
        cls.root = ET.fromstring(cls.text)

    def test_one_manifest_with_the_process_id(self):
        self.assertEqual([r for r in resources() if r[0] == "24"], [("24", "1")])
        self.assertEqual(self.root.tag, ASM_V1 + "assembly")

    def test_highest_available_rights_without_ui_access(self):
        levels = self.root.findall(".//%srequestedExecutionLevel" % ASM_V3)
        self.assertEqual(len(levels), 1, "one requestedExecutionLevel in the asm.v3 namespace")
        self.assertEqual(levels[0].get("level"), "highestAvailable")
        self.assertEqual(levels[0].get("uiAccess"), "false")

    def test_supported_windows_versions(self):
        ids = {e.get("Id").lower() for e in self.root.iter(COMPAT + "supportedOS")}
        self.assertEqual(ids, SUPPORTED_OS)

    def test_nothing_that_changes_the_look_or_scaling(self):
        for element in self.root.iter():
            local = element.tag.split("}")[-1]
            self.assertNotIn(local, ("dpiAware", "dpiAwareness", "dependency", "dependentAssembly"))
            self.assertNotEqual(element.get("name"), "Microsoft.Windows.Common-Controls")
        self.assertNotIn(b"Common-Controls", self.text)
        self.assertNotIn(b"dpiAware", self.text)


class Image(unittest.TestCase):
    def test_icon_group_101_is_the_only_one(self):
        self.assertEqual([r for r in resources() if r[0] == "14"], [("14", "101")])

    def test_size_is_the_payload_offset(self):
        self.assertEqual(os.path.getsize(STUB), 40960)


if __name__ == "__main__":
    STUB = sys.argv.pop(1)
    unittest.main()
