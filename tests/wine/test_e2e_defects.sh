#!/usr/bin/env bash
# Defects of a setup package and failures during the installation, under
# Wine: the one message, what stays written, that nothing lands outside the
# install folder, and exit code 0 every time.
#
#   test_e2e_defects.sh CASE    CASE: no-default-dir, macro-unknown,
#                               macro-undefined, string-overflow,
#                               folder-twice, unknown-type, corrupt-record,
#                               path-too-long,
#                               link-folder-missing, missing-target
#
# Needs POPBOX_BIN_DIR with popbox, popbox-stub.exe, setup-driver.exe,
# record-launch.exe and make-setup.
case_name="${1:?usage: test_e2e_defects.sh CASE}"
. "$(dirname "${BASH_SOURCE[0]}")/e2e-lib.sh"
app="$work/app"
mkdir -p "$app"

# A whole script: write_script DEFAULT_DIR_LINE [LINK_TARGET [START_LINK]].
write_script() {
  script_file "$app/Setup.ini" <<INI
[Vendor]
Name=Example Corp

[Install]
Title=Test App Setup
${1}
StartProgramsLink=${3:-<Programs Menu>\\Test App.lnk}
StartProgramsLinkSelected=yes
DesktopLink=<Desktop>\\Test App.lnk
DesktopLinkSelected=yes
LinkTarget=${2:-record-launch.exe}
INI
}
default_dir='DefaultAppDir=<Program Files>\Test App'

# A message before the dialog: one box under "Bug", no dialog before or
# beside it, nothing written. (The dialog ends while it is being filled;
# Wine then shows it for a moment before destroying it, which Windows does
# not, so close-any lets that pass after the box.)
expect_only_box() {
  make_setup file Setup.ini "@$app/Setup.ini"
  snapshot_before
  drive expect-box Bug "$(esc "$1")" press-ok close-any DialogAsMain expect-exit 0 \
    expect-box-count 1
  check_outside
}

# An extraction that stops at MESSAGE (CAPTION): no shortcut, no closing
# question, and the folders and files before the failing record stay.
expect_stop() {
  snapshot_before
  drive wait-dialog press-ok expect-box "$1" "$(esc "$2")" press-ok \
    expect-exit 0 expect-no-more-windows expect-box-count 1
  check_absent "$START_LINK_WIN" "$DESKTOP_LINK_WIN"
  check_outside "$APP_WIN"
}

# The installed file NAME (relative to the install folder) holds TEXT.
check_installed() {
  printf '%s' "$2" >"$work/expected-file"
  check_file_text "$APP_WIN\\$1" "$work/expected-file"
}

case "$case_name" in
  no-default-dir)
    write_script ""
    expect_only_box "INI Symbol Undefined: DefaultAppDir"
    ;;

  macro-unknown)
    # Macro names are compared exactly.
    write_script 'DefaultAppDir=<Program files>\Test App'
    expect_only_box "Macro Unknown: Program files"
    ;;

  string-overflow)
    # <Program Files> gives 28 characters; with a backslash and 231 more
    # the folder would be 260 characters long, one more than a path holds.
    write_script "DefaultAppDir=<Program Files>\\$(printf 'x%.0s' $(seq 231))"
    expect_only_box "String Overflow"
    ;;

  macro-undefined)
    # The Start menu folder has no value: OK refuses under "Bug" (the dialog
    # stays open) and makes nothing; Cancel then ends the run. Both keys
    # lose it, since Wine's shell copies one into the other.
    write_script "$default_dir"
    make_setup file Setup.ini "@$app/Setup.ini"
    popbox_reg_import <<'REG'
[HKEY_CURRENT_USER\Software\Microsoft\Windows\CurrentVersion\Explorer\Shell Folders]
"Programs"=-

[HKEY_CURRENT_USER\Software\Microsoft\Windows\CurrentVersion\Explorer\User Shell Folders]
"Programs"=-
REG
    snapshot_before
    drive wait-dialog press-ok expect-box Bug "Macro Undefined: Programs Menu" press-ok \
      expect-text 1000 "$(esc "$APP_WIN")" press-cancel \
      expect-exit 0 expect-no-more-windows expect-box-count 1
    check_outside
    ;;

  folder-twice)
    write_script "$default_dir"
    make_setup file Setup.ini "@$app/Setup.ini" folder docs file 'docs\a.txt' 'first' \
      folder docs file late.txt 'never written'
    expect_stop "Cannot Install" "Can't create directory $APP_WIN\\docs"
    check_installed 'docs\a.txt' first
    check_absent "$APP_WIN\\late.txt"
    [ -f "$(lin "$APP_WIN\\Setup.ini")" ] || fail "the saved Setup.ini before the failure is missing"
    ;;

  unknown-type)
    write_script "$default_dir"
    make_setup file Setup.ini "@$app/Setup.ini" packed file a.txt 'before' \
      type=3 file b.txt 'of type 3' file c.txt 'after'
    expect_stop Bug "Unknown BLOB Type"
    check_installed a.txt before
    check_absent "$APP_WIN\\b.txt" "$APP_WIN\\c.txt"
    ;;

  corrupt-record)
    # A compressed record whose contents unpack to fewer bytes than its
    # header states. The script comes first, so the start-up reads well.
    write_script "$default_dir"
    make_setup file Setup.ini "@$app/Setup.ini" file a.txt 'before' \
      packed unpacked=200 file b.txt 'damaged' file c.txt 'after'
    expect_stop Bug "File Corrupted. Can't Read BLOBs."
    check_installed a.txt before
    check_absent "$APP_WIN\\b.txt" "$APP_WIN\\c.txt"
    ;;


  path-too-long)
    # An install folder of 240 characters holds Setup.ini (250) but not a
    # record whose name makes the path 260 characters long.
    write_script "$default_dir"
    long_dir="C:\\popbox-test\\$(printf 'd%.0s' $(seq 225))"
    long_name="$(printf 'n%.0s' $(seq 15)).txt"
    make_setup file Setup.ini "@$app/Setup.ini" file a.txt 'before' \
      file "$long_name" 'too long' file c.txt 'after'
    snapshot_before
    drive wait-dialog set-text 1000 "$(esc "$long_dir")" press-ok \
      expect-box Bug "Path Too Long: $long_name" press-ok \
      expect-exit 0 expect-no-more-windows expect-box-count 1
    printf 'before' >"$work/expected-file"
    check_file_text "$long_dir\\a.txt" "$work/expected-file"
    check_absent "$long_dir\\c.txt" "$START_LINK_WIN" "$DESKTOP_LINK_WIN"
    check_outside "$long_dir"
    ;;

  link-folder-missing)
    # The Start menu shortcut goes into a folder that does not exist: the
    # installed files stay, the desktop shortcut is not tried, and no
    # closing question follows.
    write_script "$default_dir" record-launch.exe '<Programs Menu>\No Such Folder\Test App.lnk'
    make_setup file Setup.ini "@$app/Setup.ini" file readme.txt 'read me'
    snapshot_before
    link="$POPBOX_PROGRAMS\\No Such Folder\\Test App.lnk"
    drive wait-dialog press-ok expect-box "Cannot Install" "Can't create link:\n$(esc "$link")" \
      press-ok expect-exit 0 expect-no-more-windows expect-box-count 1
    check_installed readme.txt 'read me'
    check_absent "$POPBOX_PROGRAMS\\No Such Folder" "$DESKTOP_LINK_WIN"
    check_outside "$APP_WIN"
    ;;

  missing-target)
    # The program to start is not in the payload (the packer would refuse
    # such a script): the files and shortcuts stay, and OK at the closing
    # question names the full path.
    write_script "$default_dir" missing.exe
    make_setup file Setup.ini "@$app/Setup.ini" file readme.txt 'read me'
    snapshot_before
    drive wait-dialog press-ok expect-box Success "Run application?" press-ok \
      expect-box "Cannot Install" "$(esc "File Not Found: $APP_WIN\\missing.exe")" press-ok \
      expect-exit 0 expect-no-more-windows expect-box-count 2
    check_installed readme.txt 'read me'
    check_link "$START_LINK_WIN" "$APP_WIN\\missing.exe" "$APP_WIN"
    check_link "$DESKTOP_LINK_WIN" "$APP_WIN\\missing.exe" "$APP_WIN"
    check_outside "$APP_WIN" "$START_LINK_WIN" "$DESKTOP_LINK_WIN"
    check_no_record
    ;;

  *)
    echo "unknown case $case_name" >&2
    exit 2
    ;;
esac
finish
