#!/usr/bin/env bash
# The main job: build popbox, pack the example application into
# build/ExampleSetup.exe, list it, and install it under Wine in a throwaway
# prefix, headless: accept the proposed folder and both shortcuts, answer
# the closing question with OK (which starts the application), then show
# what was installed.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
cd "$root"
cmake --preset host >/dev/null
cmake --build --preset host -j "$(nproc)" >/dev/null

bin=build/bin
setup=build/ExampleSetup.exe
"$bin/popbox" pack build/win32/example-app -o "$setup"
"$bin/popbox" list "$setup"

. tests/wine/wine-prefix.sh
work="$(mktemp -d /tmp/popbox-example.XXXXXX)"
popbox_fresh_prefix "$work/prefix"
trap 'popbox_end_prefix; rm -rf "$work"' EXIT
cp "$setup" "$work/ExampleSetup.exe"

echo
echo "Installing $setup under Wine (prefix $WINEPREFIX)"
(cd "$work" && wine "$root/$bin/setup-driver.exe" --log "$work/driver.log" --timeout 60 \
  ExampleSetup.exe -- wait-dialog expect-check 1001 1 expect-check 1002 1 press-ok \
  expect-box Success "Example Viewer is installed.\r\n\r\nStart it now?" press-ok \
  expect-exit 0) || { cat "$work/driver.log"; exit 1; }
sed 's/^ *[0-9]* /  /' "$work/driver.log"

drive_c="$WINEPREFIX/drive_c"
installed="$drive_c/popbox-test/Program Files/Example Viewer"
echo
echo "Installed files (C:\\popbox-test\\Program Files\\Example Viewer):"
(cd "$installed" && find . -type f -printf '  %P  %s bytes\n' | sort)
echo
echo "Saved Setup.ini:"
tr -d '\r' < "$installed/Setup.ini" | sed 's/^/  /'
echo
for lnk in "$drive_c/popbox-test/Programs/Example Viewer.lnk" "$drive_c/popbox-test/Desktop/Example Viewer.lnk"; do
  echo "Shortcut ${lnk#"$drive_c/"}:"
  python3 scripts/lnk_info.py "$lnk" | sed 's/^/  /'
done
