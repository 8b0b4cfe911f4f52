#!/usr/bin/env bash
# Complete installations under Wine, one per layout, and the choice of the
# layout itself: the dialog as the script fills it, the check box rule, the
# files byte for byte, the saved Setup.ini, the shortcuts, the closing
# question and the started program.
#
#   test_e2e_install.sh CASE    CASE: plain, store, layouts
#
# Needs POPBOX_BIN_DIR with popbox, popbox-stub.exe, setup-driver.exe and
# record-launch.exe.
case_name="${1:?usage: test_e2e_install.sh CASE}"
. "$(dirname "${BASH_SOURCE[0]}")/e2e-lib.sh"
app="$work/app"

case "$case_name" in
  plain)
    # A named vendor: the plain layout. Both boxes start ticked (two
    # spellings of true); the clicks walk the check box rule and leave only
    # the Start menu box ticked. The folder is typed with blanks and a
    # trailing backslash around the proposed one.
    make_app "$app" record-launch.exe
    script_file "$app/Setup.ini" <<'INI'
[Vendor]
Name=Example Corp
URL=www.example.com

[Install]
Title=Test App Setup
AppDirCaption=Install Test App to:
DefaultAppDir=<Program Files>\Test App
StartProgramsLink=<Programs Menu>\Test App.lnk
StartProgramsLinkSelected=yes
DesktopLink=<Desktop>\Test App.lnk
DesktopLinkSelected=1
LinkTarget=record-launch.exe

[Installed Message]
Test App is installed.

Start it now?


[PRIVATE]
Signing notes that must not be installed.
INI
    pack "$app"
    snapshot_before
    drive wait-dialog expect-caption "Test App Setup" \
      expect-no-control 1004 expect-no-control 1006 \
      expect-text 1000 "$(esc "$APP_WIN")" expect-text 1003 "Install Test App to:" \
      expect-check 1001 checked expect-check 1002 checked \
      click 1001 expect-check 1001 unchecked expect-check 1002 checked \
      click 1002 expect-check 1002 unchecked expect-check 1001 checked \
      click 1001 expect-check 1001 unchecked expect-check 1002 checked \
      click 1002 expect-check 1002 unchecked expect-check 1001 checked \
      set-text 1000 "$(esc "  $APP_WIN\\ ")" \
      press-ok expect-box Success 'Test App is installed.\r\n\r\nStart it now?' press-ok \
      expect-exit 0 expect-no-more-windows expect-box-count 1
    check_tree "$app" "$APP_WIN"
    # Cut before [PRIVATE]; the plain layout writes no store values.
    script_file "$work/expected.ini" <<'INI'
[Vendor]
Name=Example Corp
URL=www.example.com

[Install]
Title=Test App Setup
AppDirCaption=Install Test App to:
DefaultAppDir=<Program Files>\Test App
StartProgramsLink=<Programs Menu>\Test App.lnk
StartProgramsLinkSelected=yes
DesktopLink=<Desktop>\Test App.lnk
DesktopLinkSelected=1
LinkTarget=record-launch.exe

[Installed Message]
Test App is installed.

Start it now?


INI
    check_file_text "$APP_WIN\\Setup.ini" "$work/expected.ini"
    check_link "$START_LINK_WIN" "$APP_WIN\\record-launch.exe" "$APP_WIN"
    check_absent "$DESKTOP_LINK_WIN"
    check_record "$APP_WIN\\record-launch.exe" "$APP_WIN"
    check_outside "$APP_WIN" "$START_LINK_WIN" "$RECORD_WIN"
    ;;

  store)
    # An empty vendor name: the store layout. No Title, no AppDirCaption,
    # no [Installed Message] and no [PRIVATE]; both boxes start clear and
    # stay clear. The store fields are refused while either is empty or
    # blank, and keep what was typed; the address gets http:// in front.
    # The program lives in bin\, which is its working folder.
    make_app "$app" 'bin\record-launch.exe'
    script_file "$app/Setup.ini" <<'INI'
[Vendor]
Name=
URL=to be replaced

[Install]
DefaultAppDir=<Program Files>\Test App
StartProgramsLink=<Programs Menu>\Test App.lnk
StartProgramsLinkSelected=false
DesktopLink=<Desktop>\Test App.lnk
LinkTarget=bin\record-launch.exe
INI
    pack "$app"
    snapshot_before
    refused=(expect-box "Cannot Install" "Please enter the store's name and address." press-ok)
    drive wait-dialog expect-caption "" expect-control 1004 expect-control 1006 \
      expect-text 1000 "$(esc "$APP_WIN")" expect-text 1003 "" \
      expect-check 1001 unchecked expect-check 1002 unchecked \
      press-ok "${refused[@]}" \
      set-text 1004 "   " set-text 1006 "shop.example" press-ok "${refused[@]}" \
      set-text 1004 " Corner Shop " set-text 1006 " \t " press-ok "${refused[@]}" \
      expect-text 1004 " Corner Shop " expect-text 1006 " \t " \
      set-text 1006 " shop.example/buy " \
      press-ok expect-box Success "Run application?" press-ok \
      expect-exit 0 expect-no-more-windows expect-box-count 4
    check_tree "$app" "$APP_WIN"
    script_file "$work/expected.ini" <<'INI'
[Vendor]
Name=Corner Shop
URL=http://shop.example/buy

[Install]
DefaultAppDir=<Program Files>\Test App
StartProgramsLink=<Programs Menu>\Test App.lnk
StartProgramsLinkSelected=false
DesktopLink=<Desktop>\Test App.lnk
LinkTarget=bin\record-launch.exe
INI
    check_file_text "$APP_WIN\\Setup.ini" "$work/expected.ini"
    check_absent "$START_LINK_WIN" "$DESKTOP_LINK_WIN"
    check_record "$APP_WIN\\bin\\record-launch.exe" "$APP_WIN\\bin"
    check_outside "$APP_WIN" "$RECORD_WIN"
    ;;

  layouts)
    # Which layout a [Vendor] section gives, each setup closed again; the
    # close box and Cancel write nothing. Nothing is written, so the runs
    # share one prefix.
    mkdir -p "$app"
    install='[Install]\r\nTitle=Layout\r\nDefaultAppDir=<Program Files>\\Test App\r\n'
    snapshot_before
    # A name of blanks only is empty: the store layout. Closed with the
    # close box.
    make_setup file Setup.ini "[Vendor]\r\nName=  \t \r\n$install"
    drive wait-dialog expect-control 1004 expect-control 1006 close \
      expect-exit 0 expect-no-more-windows expect-box-count 0
    check_outside
    # No Name key: the plain layout. Cancelled.
    make_setup file Setup.ini "[Vendor]\r\nURL=\r\n$install"
    drive wait-dialog expect-no-control 1004 expect-text 1000 "$(esc "$APP_WIN")" press-cancel \
      expect-exit 0 expect-no-more-windows expect-box-count 0
    check_outside
    # No [Vendor] section: the plain layout.
    make_setup file Setup.ini "$install"
    drive wait-dialog expect-no-control 1004 expect-caption Layout close \
      expect-exit 0 expect-no-more-windows expect-box-count 0
    check_outside
    ;;

  *)
    echo "unknown case $case_name" >&2
    exit 2
    ;;
esac
finish
