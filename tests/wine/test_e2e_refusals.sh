#!/usr/bin/env bash
# Refusals that leave the setup dialog open, each followed by a corrected
# OK in the same run that then installs: the message, nothing created by
# the refused attempt, and the complete installation after it.
#
#   test_e2e_refusals.sh CASE   CASE: relative-folder, folder-exists,
#                               shortcut-exists, cannot-create
#
# Needs POPBOX_BIN_DIR with popbox, popbox-stub.exe, setup-driver.exe and
# record-launch.exe.
case_name="${1:?usage: test_e2e_refusals.sh CASE}"
. "$(dirname "${BASH_SOURCE[0]}")/e2e-lib.sh"
app="$work/app"
make_app "$app" record-launch.exe

# The script of these cases; VENDOR_NAME picks the layout, the two flags
# the shortcut boxes.
write_script() {
  script_file "$app/Setup.ini" <<INI
[Vendor]
Name=$1
URL=

[Install]
Title=Test App Setup
AppDirCaption=Install Test App to:
DefaultAppDir=<Program Files>\\Test App
StartProgramsLink=<Programs Menu>\\Test App.lnk
StartProgramsLinkSelected=$2
DesktopLink=<Desktop>\\Test App.lnk
DesktopLinkSelected=$3
LinkTarget=record-launch.exe

[Installed Message]
Installed.
INI
}

installed_box=(expect-box Success Installed.)

case "$case_name" in
  relative-folder)
    # Folders that are not absolute: a relative one, none at all, a drive
    # root (which loses its backslash) and one with two trailing
    # backslashes (which keeps one); then a folder whose parents do not
    # exist yet, all made. Cancel at the closing question starts nothing.
    # Only the desktop box is ticked.
    write_script "Example Corp" no TRUE
    pack "$app"
    snapshot_before
    folder='C:\popbox-test\New Parent\Test App'
    not_valid='\nis not a valid absolute path.'
    drive wait-dialog expect-check 1001 unchecked expect-check 1002 checked \
      set-text 1000 "$(esc 'Apps\Test App')" press-ok \
      expect-box "Cannot Install" "$(esc 'Apps\Test App')$not_valid" press-ok \
      set-text 1000 "" press-ok expect-box "Cannot Install" "$not_valid" press-ok \
      set-text 1000 ' C:\ ' press-ok expect-box "Cannot Install" "C:$not_valid" press-ok \
      set-text 1000 "$(esc 'C:\popbox-test\Apps\\')" press-ok \
      expect-box "Cannot Install" "$(esc 'C:\popbox-test\Apps\')$not_valid" press-ok \
      set-text 1000 "$(esc "$folder")" press-ok "${installed_box[@]}" press-cancel \
      expect-exit 0 expect-no-more-windows expect-box-count 5
    check_absent 'C:\Apps' 'C:\popbox-test\Apps'
    check_tree "$app" "$folder"
    check_link "$DESKTOP_LINK_WIN" "$folder\\record-launch.exe" "$folder"
    check_absent "$START_LINK_WIN"
    check_outside 'C:\popbox-test\New Parent' "$DESKTOP_LINK_WIN"
    check_no_record
    ;;

  folder-exists)
    # The proposed folder exists (an earlier installation), and so does a
    # file of the name typed next: both refused with the upgrade hint,
    # neither touched. The layout is the store's (a vendor name of blanks);
    # an https:// address is kept as it is.
    write_script "   " TRUE TRUE
    pack "$app"
    mkdir -p "$(lin "$APP_WIN")"
    echo "an earlier installation" >"$(lin "$APP_WIN\\keep.txt")"
    echo "a file" >"$(lin "$APP_WIN.txt")"
    snapshot_before
    exists=(expect-box "Cannot Install" "The folder you specified already exists.$HINT" press-ok)
    second="$APP_WIN 2"
    drive wait-dialog expect-control 1004 \
      set-text 1004 "Corner Shop" set-text 1006 "https://shop.example" \
      press-ok "${exists[@]}" \
      set-text 1000 "$(esc "$APP_WIN.txt")" press-ok "${exists[@]}" \
      set-text 1000 "$(esc "$second")" press-ok "${installed_box[@]}" press-ok \
      expect-exit 0 expect-no-more-windows expect-box-count 3
    check_tree "$app" "$second"
    tr -d '\r' <"$(lin "$second\\Setup.ini")" | grep -qxF 'URL=https://shop.example' ||
      fail "the saved Setup.ini does not hold URL=https://shop.example"
    check_link "$START_LINK_WIN" "$second\\record-launch.exe" "$second"
    check_link "$DESKTOP_LINK_WIN" "$second\\record-launch.exe" "$second"
    check_record "$second\\record-launch.exe" "$second"
    check_outside "$second" "$START_LINK_WIN" "$DESKTOP_LINK_WIN" "$RECORD_WIN"
    ;;

  shortcut-exists)
    # A desktop shortcut is left from before: refused with the hint even
    # though only the Start menu box is ticked, and the folder is not
    # made. The test removes the shortcut while the dialog stays open; the
    # second OK installs.
    write_script "Example Corp" TRUE no
    pack "$app"
    echo "an old shortcut" >"$(lin "$DESKTOP_LINK_WIN")"
    snapshot_before
    start_drive wait-dialog press-ok \
      expect-box "Cannot Install" "Cannot overwrite shortcuts.$HINT" press-ok \
      signal-file "$(work_step_path refused)" wait-file "$(work_step_path removed)" \
      press-ok "${installed_box[@]}" press-ok \
      expect-exit 0 expect-no-more-windows expect-box-count 2
    if wait_for refused; then
      check_absent "$APP_WIN"
      rm "$(lin "$DESKTOP_LINK_WIN")"
      signal removed
    fi
    end_drive
    check_tree "$app" "$APP_WIN"
    check_link "$START_LINK_WIN" "$APP_WIN\\record-launch.exe" "$APP_WIN"
    check_absent "$DESKTOP_LINK_WIN"
    check_record "$APP_WIN\\record-launch.exe" "$APP_WIN"
    check_outside "$APP_WIN" "$START_LINK_WIN" "$DESKTOP_LINK_WIN" "$RECORD_WIN"
    ;;

  cannot-create)
    # A folder below an existing file cannot be made: refused, nothing
    # made; then the proposed folder installs. The store layout, with
    # fields longer than they hold (text set by a program passes the
    # fields' limits): 30 characters of the name are read, 69 of the
    # address, which then gets http:// in front and is saved whole.
    write_script "" yes yes
    pack "$app"
    echo "in the way" >"$(lin 'C:\popbox-test\blocker')"
    snapshot_before
    blocked='C:\popbox-test\blocker\Test App'
    name="The Corner Shop of Long Names, Ltd."
    address="shop.example/$(printf 'p%.0s' $(seq 56))/more"
    drive wait-dialog set-text 1004 "$name" set-text 1006 "$address" \
      set-text 1000 "$(esc "$blocked")" press-ok \
      expect-box "Cannot Install" "$(esc "Cannot create $blocked")" press-ok \
      set-text 1000 "$(esc "$APP_WIN")" press-ok "${installed_box[@]}" press-ok \
      expect-exit 0 expect-no-more-windows expect-box-count 2
    check_tree "$app" "$APP_WIN"
    tr -d '\r' <"$(lin "$APP_WIN\\Setup.ini")" | grep -A1 -xF "Name=${name:0:30}" |
      grep -qxF "URL=http://${address:0:69}" ||
      fail "the saved Setup.ini does not hold the name cut to 30 and the address cut to 69"
    check_link "$START_LINK_WIN" "$APP_WIN\\record-launch.exe" "$APP_WIN"
    check_link "$DESKTOP_LINK_WIN" "$APP_WIN\\record-launch.exe" "$APP_WIN"
    check_record "$APP_WIN\\record-launch.exe" "$APP_WIN"
    check_outside "$APP_WIN" "$START_LINK_WIN" "$DESKTOP_LINK_WIN" "$RECORD_WIN"
    ;;

  *)
    echo "unknown case $case_name" >&2
    exit 2
    ;;
esac
finish
