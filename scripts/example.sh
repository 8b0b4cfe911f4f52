#!/usr/bin/env bash
# The main job: build popbox, pack the example application into
# build/ExampleSetup.exe with the viewer's icon and version information,
# list it, and try it: `popbox try` installs it under Wine in a throwaway
# prefix, headless, accepting the proposed folder and both shortcuts and
# answering the closing question with OK (which starts the application),
# then reports what happened and what was installed. The last line says
# whether it passed; any failed step ends the script with its reason and a
# non-zero exit.
#
#   scripts/example.sh            from any folder
#
# POPBOX_BUILD_DIR names a configured build tree to build and use instead of
# the host preset's (the CTest test `example` passes its own).
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
fail() {
  echo "example: $*" >&2
  exit 1
}
trap 'fail "the step \"$BASH_COMMAND\" failed (line $LINENO)"' ERR

build="${POPBOX_BUILD_DIR:-}"
if [ -z "$build" ]; then
  build="$root/build"
  (cd "$root" && cmake --preset host >/dev/null)
fi
cmake --build "$build" -j "$(nproc)" >/dev/null
bin="$build/bin"
setup="$build/ExampleSetup.exe"
app="$build/win32/example-app"
"$bin/popbox" pack "$app" -o "$setup" --icon "$root/examples/viewer/viewer.ico" \
  --product-version 1.0 --company "Example Corp"
"$bin/popbox" list "$setup"

echo
"$bin/popbox" try "$setup" || fail "the setup did not install as expected (the report above tells why)"
