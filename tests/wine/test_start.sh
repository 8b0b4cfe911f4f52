#!/usr/bin/env bash
# Start-up of the stub under Wine: which payloads count as having the setup
# script, and what the user sees when it is missing.
#
#   test_start.sh CASE        CASE: no-script, folder-named-script,
#                             script-name-case, no-payload, damaged-script
#
case_name="${1:?usage: test_start.sh CASE}"
. "$(cd "$(dirname "$0")" && pwd)/e2e-lib.sh"
script='[Install]\r\nTitle=Start-up test\r\nDefaultAppDir=C:\\Start-up test\r\n'

# The one message of a setup without its script: one task-modal box, no
# dialog, exit code 0.
expect_missing_script() {
  drive expect-box "Bug" "Missing BLOB: Setup.ini" press-ok \
    expect-exit 0 expect-no-more-windows expect-box-count 1
}

snapshot_before
case "$case_name" in
  no-script)
    # Other records, among them a compressed one, but none named Setup.ini.
    make_setup folder bin file 'bin\readme.txt' 'read me' packed file Setup.txt "$script"
    expect_missing_script
    ;;
  folder-named-script)
    # Only file records count: a folder named Setup.ini is passed over.
    make_setup folder Setup.ini file 'Setup.ini\x' "$script"
    expect_missing_script
    ;;
  script-name-case)
    # Names compare without regard to case: SETUP.INI is the script, and
    # the setup dialog shows its (compressed) title. Closing the dialog
    # ends the run; no message box appears.
    make_setup folder bin packed file SETUP.INI "$script"
    drive wait-dialog expect-caption "Start-up test" close \
      expect-exit 0 expect-no-more-windows expect-box-count 0
    ;;
  no-payload)
    # The bare stub: reading the first record fails.
    make_setup --no-end
    [ "$(stat -c %s "$setup")" = 40960 ] || fail "the bare stub is not 40960 bytes"
    expect_missing_script
    ;;
  damaged-script)
    # A script record whose compressed contents unpack to fewer bytes than
    # its header states cannot be read: the same message, no dialog.
    make_setup folder bin unpacked=200 packed file Setup.ini "$script"
    expect_missing_script
    ;;
  *)
    echo "unknown case $case_name" >&2
    exit 2
    ;;
esac
# Nothing is written anywhere.
check_outside
finish
