#!/usr/bin/env bash
# CTest `example`: the README's first command, run as a newcomer runs it
# (from another folder), installs the example and prints what the README
# promises: the installed files with their sizes, the saved Setup.ini, both
# shortcuts with target and working folder, and the closing line. What it
# printed from "Installed files" on must be example.expected.
#
#   example_test.sh BUILD_DIR
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
out="$(cd / && POPBOX_BUILD_DIR="$1" bash "$here/../../scripts/example.sh" 2>&1)" || {
  printf '%s\n' "$out"
  exit 1
}
printf '%s\n' "$out"
diff -u "$here/example.expected" <(printf '%s\n' "$out" | sed -n '/^Installed files/,$p')
