#!/usr/bin/env bash
# The test prefix that the end-to-end tests rely on: a 32-bit program sees
# the known folders in the registry, a test can change values, the folders
# exist and are empty, and
# the snapshot helpers report exactly the changes outside the allowed paths
# (and none for a plain Wine run).
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
. "$here/wine-prefix.sh"

work="$(mktemp -d /tmp/popbox-wine-test.XXXXXX)"
trap 'popbox_end_prefix; rm -rf "$work"' EXIT
popbox_fresh_prefix "$work/prefix"
failed=0
fail() {
  echo "FAIL: $*"
  failed=1
}

for dir in "$POPBOX_DESKTOP_DIR" "$POPBOX_PROGRAMS_DIR" "$POPBOX_DOCUMENTS_DIR" \
  "$POPBOX_PROGRAM_FILES_DIR"; do
  [ -d "$dir" ] && [ -z "$(ls -A "$dir")" ] || fail "$dir is not an empty folder"
done

popbox_snapshot "$work/before"

# A test's own values: one added, one of the template's removed.
popbox_reg_import <<'REG'
[HKEY_CURRENT_USER\Software\popbox-test]
"Added"="a value"

[HKEY_CURRENT_USER\Software\Microsoft\Windows\CurrentVersion\Explorer\Shell Folders]
"Personal"=-
REG

# The 32-bit cmd and reg, as the stub would read the values (a 32-bit
# program sees HKLM\Software through the Wow6432Node view).
shell='HKCU\Software\Microsoft\Windows\CurrentVersion\Explorer'
printf '@reg query "%s" /v %s\r\n' \
  "$shell\\Shell Folders" Desktop "$shell\\Shell Folders" Programs \
  "$shell\\Shell Folders" Personal "$shell\\User Shell Folders" Desktop \
  "$shell\\User Shell Folders" Programs "$shell\\User Shell Folders" Personal \
  'HKLM\Software\Microsoft\Windows\CurrentVersion' ProgramFilesDir \
  'HKCU\Software\popbox-test' Added >"$work/query.bat"
wine 'C:\windows\syswow64\cmd.exe' /c "$(popbox_winpath "$work/query.bat")" >"$work/query.txt" 2>&1
tr -d '\r' <"$work/query.txt" | awk 'NF >= 3 && $2 ~ /^REG_/ { print $1 "=" substr($0, index($0, $3)) }' \
  >"$work/values.txt"
printf '%s\n' "Desktop=$POPBOX_DESKTOP" "Programs=$POPBOX_PROGRAMS" \
  "Desktop=$POPBOX_DESKTOP" "Programs=$POPBOX_PROGRAMS" "Personal=$POPBOX_DOCUMENTS" \
  "ProgramFilesDir=$POPBOX_PROGRAM_FILES" "Added=a value" >"$work/expected.txt"
diff "$work/expected.txt" "$work/values.txt" || fail "registry values differ (got above)"

# A Wine run alone changes nothing that the snapshots look at.
wineserver -w
popbox_snapshot "$work/after-run"
popbox_changes_outside "$work/before" "$work/after-run" || fail "a plain Wine run changed the files above"

# Changes inside an allowed folder pass; every other kind is reported.
app="$POPBOX_PROGRAM_FILES_DIR/App"
mkdir -p "$app/sub"
echo installed >"$app/sub/file.txt"
echo link >"$POPBOX_DESKTOP_DIR/App.lnk"
echo more >>"$WINEPREFIX/drive_c/windows/win.ini"
rm "$WINEPREFIX/drive_c/windows/system.ini"
popbox_snapshot "$work/after"
status=0
popbox_changes_outside "$work/before" "$work/after" "drive_c/popbox-test/Program Files/App" \
  >"$work/changes.txt" || status=$?
printf '%s\n' "added drive_c/popbox-test/Desktop/App.lnk" "changed drive_c/windows/win.ini" \
  "removed drive_c/windows/system.ini" | diff - "$work/changes.txt" || fail "changes reported (above)"
[ "$status" = 1 ] || fail "popbox_changes_outside returned $status with changes outside"
popbox_changes_outside "$work/before" "$work/after" "drive_c/popbox-test/Program Files/App" \
  drive_c/popbox-test/Desktop/App.lnk drive_c/windows >/dev/null || fail "all changes allowed, yet reported"

# The prefix is mostly hard links to the template: neither the removal nor
# the change in place may have reached it.
template="${POPBOX_WINE_TEMPLATE:-/tmp/popbox-wine-template-$(id -u)}"
[ -f "$template/drive_c/windows/system.ini" ] || fail "the template lost a file"
if grep -q '^more$' "$template/drive_c/windows/win.ini"; then fail "the template's win.ini changed"; fi

[ "$failed" = 0 ] && echo "prefix helpers: all checks passed"
exit "$failed"
