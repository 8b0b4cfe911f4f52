#!/usr/bin/env bash
# The main job: build popbox, pack the example application into
# build/ExampleSetup.exe with the viewer's icon and version information,
# list it, and install it under Wine in a throwaway prefix, headless:
# accept the proposed folder and both shortcuts, answer the closing
# question with OK (which starts the application), then show what was
# installed. The last line says what happened; any failed step ends the
# script with its reason and a non-zero exit.
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

wine_prefix="$root/trial/wine_prefix.py"
work="$(mktemp -d /tmp/popbox-example.XXXXXX)"
trap 'wineserver -k 2>/dev/null; rm -rf "$work"' EXIT
eval "$(python3 "$wine_prefix" "$work/prefix")"
cp "$setup" "$work/ExampleSetup.exe"
cd "$work"

drive_c="$WINEPREFIX/drive_c"
installed_win="$POPBOX_PROGRAM_FILES\\Example Viewer"
installed="$POPBOX_PROGRAM_FILES_DIR/Example Viewer"
echo
echo "Installing $setup under Wine (prefix $WINEPREFIX)"
python3 "$wine_prefix" --drive "$bin" ExampleSetup.exe driver.log \
  "dialog; check 1001 1; check 1002 1; ok
   box Success \"Example Viewer is installed.\\r\\n\\r\\nStart it now?\"; ok; exit 0
   running \"$installed_win\\Viewer.exe\"" | tr -d '\r' | sed 's/^ *[0-9]* /  /' ||
  fail "the setup did not run as expected (the driver's transcript is above)"

echo
echo "Installed files ($installed_win):"
(cd "$installed" && find . -type f -printf '  %P  %s bytes\n' | sort)
echo
echo "Saved Setup.ini:"
tr -d '\r' <"$installed/Setup.ini" | sed 's/^/  /'
echo
links=0
for lnk in "$POPBOX_PROGRAMS_DIR/Example Viewer.lnk" "$POPBOX_DESKTOP_DIR/Example Viewer.lnk"; do
  [ -f "$lnk" ] || fail "no shortcut ${lnk#"$drive_c/"}"
  echo "Shortcut ${lnk#"$drive_c/"}:"
  python3 "$root/trial/lnk_info.py" "$lnk" | sed 's/^/  /'
  links=$((links + 1))
done

# Every file of the example application, byte for byte (Setup.ini is the
# trimmed copy the setup saves).
files=0
while IFS= read -r -d '' file; do
  rel="${file#"$app/"}"
  [ "$rel" = Setup.ini ] || cmp -s "$file" "$installed/$rel" || fail "$rel was not installed as packed"
  files=$((files + 1))
done < <(find "$app" -type f -print0)
echo
echo "example: installed $files files, $links shortcuts, the application started"
