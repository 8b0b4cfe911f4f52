#!/usr/bin/env bash
# Regenerates the pictures of the setup in docs/: the plain layout
# (setup-plain.png), the store layout (setup-store.png) and the closing
# question (closing-question.png), from the example application, with
# `popbox try --screenshots` (Wine's X11 driver on a display of its own).
#
#   scripts/screenshots.sh [FOLDER]   after a host build (popbox from
#                                     build/bin, or from POPBOX_BIN_DIR);
#                                     the pictures go to FOLDER (default docs)
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
bin="${POPBOX_BIN_DIR:-$root/build/bin}"
docs="${1:-$root/docs}"
mkdir -p "$docs"
[ -x "$bin/popbox" ] || { echo "screenshots: $bin/popbox is missing; build first" >&2; exit 1; }
work="$(mktemp -d /tmp/popbox-shots.XXXXXX)"
trap 'rm -rf "$work"' EXIT

# The example as it is (a named vendor: the plain layout), and with an empty
# vendor name (the store layout).
"$bin/popbox" pack "$root/examples/hello" -o "$work/plain.exe" >/dev/null
cp -r "$root/examples/hello" "$work/store-app"
sed -i 's/^Name=[^\r]*/Name=/' "$work/store-app/Setup.ini"
"$bin/popbox" pack "$work/store-app" -o "$work/store.exe" >/dev/null

# shoot SETUP OPTIONS...: the pictures of one run into $work/NAME.
shoot() {
  local name="$1"
  shift
  "$bin/popbox" try "$work/$name.exe" --screenshots "$work/$name" "$@" >"$work/$name.txt" || {
    cat "$work/$name.txt" >&2
    echo "screenshots: popbox try $name.exe failed" >&2
    exit 1
  }
}
shoot plain --answer cancel
shoot store --cancel
for picture in plain/1-dialog.png:setup-plain.png store/1-dialog.png:setup-store.png \
  plain/2-box.png:closing-question.png; do
  cp "$work/${picture%%:*}" "$docs/${picture##*:}"
  echo "screenshots: $docs/${picture##*:}"
done
