#!/usr/bin/env bash
# CTest `example`: the README's first command, run as a newcomer runs it
# (from another folder), installs the example and prints what the README
# promises: popbox try's report of the dialog and the closing question, the
# installed files with their sizes (each the record, byte for byte), the
# saved Setup.ini, both shortcuts with target and working folder, the
# application started in its folder, and the closing line. What it printed
# from the dialog on must be example.expected.
#
#   example_test.sh BUILD_DIR
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
out="$(cd / && POPBOX_BUILD_DIR="$1" bash "$here/../../scripts/example.sh" 2>&1)" || {
  printf '%s\n' "$out"
  exit 1
}
printf '%s\n' "$out"
diff -u "$here/example.expected" <(printf '%s\n' "$out" | sed -n '/^Dialog/,$p')
