#!/usr/bin/env bash
# The main job: build popbox, pack the example application into
# build/ExampleSetup.exe with the viewer's icon and version information,
# list it, and install it under Wine in a throwaway prefix, headless:
# accept the proposed folder and both shortcuts, answer the closing
# question with OK (which starts the application), then show what was
# installed.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
cd "$root"
cmake --preset host >/dev/null
cmake --build --preset host -j "$(nproc)" >/dev/null

bin=build/bin
setup=build/ExampleSetup.exe
"$bin/popbox" pack build/win32/example-app -o "$setup" --icon examples/viewer/viewer.ico \
  --product-version 1.0 --company "Example Corp"
"$bin/popbox" list "$setup"

wine_prefix=scripts/wine_prefix.py
work="$(mktemp -d /tmp/popbox-example.XXXXXX)"
eval "$(python3 "$wine_prefix" "$work/prefix")"
trap 'wineserver -k 2>/dev/null; rm -rf "$work"' EXIT
cp "$setup" "$work/ExampleSetup.exe"

echo
echo "Installing $setup under Wine (prefix $WINEPREFIX)"
python3 "$wine_prefix" --drive "$bin" "$work/ExampleSetup.exe" "$work/driver.log" \
  'dialog; check 1001 1; check 1002 1; ok
   box Success "Example Viewer is installed.\r\n\r\nStart it now?"; ok; exit 0' |
  sed 's/^ *[0-9]* /  /'

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
