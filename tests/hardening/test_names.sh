#!/usr/bin/env bash
# Record names that try to leave the install folder, under Wine. Each setup
# holds a normal Setup.ini, a folder, one good file and then the bad record;
# the run must stop at the bad record with "Bad BLOB Name: " and the name
# under "Bug", having written the records before it and nothing anywhere
# else.
# One Wine run per name, all in one prefix, each into its own folder.
set -euo pipefail
. "$(cd "$(dirname "$0")" && pwd)/harden-lib.sh"

# KIND NAME: file records, folder records of the same shapes, names with
# empty or "." elements, device names (Windows would open the device), and
# elements ending in dots or blanks (Windows drops those).
cases=(
  'file ..\x' 'file ../x' 'file sub\..\..\x' 'file sub/../../x' 'file \x' 'file C:x'
  'file C:\x' 'file \\server\share\x' 'file x:stream' 'file .' 'file '
  'folder ..' 'folder sub\..\..\up' 'file sub\.\x' 'file sub\\x' 'file sub\'
  'file COM1' 'file sub\Con.txt' 'file .. \x' 'file sub\x.' 'folder ... '
)

mkdir "$WINEPREFIX/drive_c/Names"
index=0
for entry in "${cases[@]}"; do
  index=$((index + 1))
  kind="${entry%% *}"
  name="${entry#* }"
  app="C:\\Names\\N$index"
  harden_script "$work/Setup.ini" "[Install]\nTitle=Names $index\nDefaultAppDir=$app\nStartProgramsLink=<Programs Menu>\\\\N$index.lnk\nDesktopLink=<Desktop>\\\\N$index.lnk\nLinkTarget=good.txt\nStartProgramsLinkSelected=1\nDesktopLinkSelected=1"
  setup="$work/names-$index.exe"
  # A sub folder exists for the names that climb out of one.
  if [ "$kind" = file ]; then
    harden_make_setup --out "$setup" file Setup.ini "@$work/Setup.ini" folder sub \
      file good.txt 'written before the bad record' file "$name" 'escaped!'
  else
    harden_make_setup --out "$setup" file Setup.ini "@$work/Setup.ini" folder sub \
      file good.txt 'written before the bad record' folder "$name"
  fi
  echo "case $index: $kind record named \"$name\""
  harden_run_checked "drive_c/Names/N$index" -- "$setup" \
    wait-dialog press-ok expect-box Bug "Bad BLOB Name: $(esc "$name")" press-ok \
    expect-exit 0 expect-no-more-windows expect-box-count 1

  # Exactly the records before the bad one, with their contents.
  dir="$WINEPREFIX/drive_c/Names/N$index"
  got="$(harden_tree "$dir" | awk '{ $2 = ($1 == "d") ? "-" : $2; print }')"
  want="$(printf '%s\n' "f $(stat -c %s "$work/Setup.ini") Setup.ini" "f 29 good.txt" "d - sub")"
  [ "$got" = "$want" ] || fail "case $index: install folder holds:"$'\n'"$got"
  [ "$(cat "$dir/good.txt")" = 'written before the bad record' ] ||
    fail "case $index: good.txt has other contents"
done
finish
