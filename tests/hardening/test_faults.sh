#!/usr/bin/env bash
# A hostile machine under Wine: each case makes one thing fail and checks
# the exact message, what stays on disk, exit code 0, no other window (the
# closing question least of all) and no change anywhere else.
#
#   test_faults.sh CASE
#     disk-full            a payload file larger than the free space (a 512 KiB
#                          tmpfs mapped as drive T:)
#     file-in-the-way      the install folder's parent is a file
#     read-only            the install folder's parent is on a read-only mount
#     missing-link-folder  the Start menu shortcut's folder does not exist
#     macros               each folder macro's registry value missing, then of
#                          type REG_EXPAND_SZ
#     locked               the setup file opened by another program with no
#                          sharing between start and OK
#     shrunk               the setup file cut short between start and OK
#
# The mount cases need root; without it they exit with 77 (skipped).
set -euo pipefail
. "$(cd "$(dirname "$0")" && pwd)/harden-lib.sh"
case_name="${1:?usage: test_faults.sh CASE}"

mounts=()
on_exit() {
  local m
  for m in "${mounts[@]}"; do umount "$m" 2>/dev/null || true; done
}

# A tmpfs of SIZE mounted at $work/NAME and mapped as drive LETTER.
mount_drive() {
  local name="$1" letter="$2" size="$3"
  mkdir "$work/$name"
  if [ "$(id -u)" != 0 ] || ! mount -t tmpfs -o "size=$size" popbox-test "$work/$name"; then
    echo "SKIP: mounting a tmpfs needs root"
    exit 77
  fi
  mounts+=("$work/$name")
  ln -s "$work/$name" "$WINEPREFIX/dosdevices/$letter:"
}

# Waits (polling) until a file exists; false after 120 s.
poll_file() {
  local tries=0
  until [ -e "$1" ]; do
    tries=$((tries + 1))
    [ "$tries" -lt 12000 ] || return 1
    sleep 0.01
  done
}

script_text() {
  printf '%s' "[Install]\nTitle=Faults\nDefaultAppDir=$1\nAppDirCaption=Install to:\nStartProgramsLink=${2:-<Programs Menu>\\\\Faults.lnk}\nDesktopLink=<Desktop>\\\\Faults.lnk\nLinkTarget=a.txt\nStartProgramsLinkSelected=1\nDesktopLinkSelected=1"
}

# Ending steps after the one message: the dialog ends by itself.
ends=(press-ok expect-exit 0 expect-no-more-windows expect-box-count 1)
# After a refusal before extraction the dialog stays open: cancel it.
stays=(press-ok press-cancel expect-exit 0 expect-no-more-windows expect-box-count 1)
# A message while the dialog is being filled ends it before it is shown;
# Wine then shows it for a moment before destroying it (Windows does not),
# which close-any lets pass.
# (close-any fails on any window of another kind, as the other waits do.)
unshown=(press-ok close-any DialogAsMain expect-exit 0 expect-box-count 1)

mkdir "$WINEPREFIX/drive_c/Faults"
setup="$work/setup.exe"

case "$case_name" in
  disk-full)
    mount_drive disk t 512k
    head -c 1048576 /dev/zero | tr '\0' 'x' >"$work/big.bin"
    harden_script "$work/Setup.ini" "$(script_text 'C:\\Faults\\Default')"
    harden_make_setup --out "$setup" file Setup.ini "@$work/Setup.ini" file a.txt 'written in full' \
      file big.bin "@$work/big.bin" file after.txt 'never written'
    harden_run_checked -- "$setup" wait-dialog set-text 1000 'T:\\App' press-ok \
      expect-box "Cannot Install" 'Can'"'"'t write file T:\\App\\big.bin' "${ends[@]}"
    # What was written stays: the records before, and the partial file.
    [ "$(harden_list "$work/disk/App")" = 'Setup.ini a.txt big.bin' ] ||
      fail "T:\\App holds: $(harden_list "$work/disk/App")"
    [ "$(cat "$work/disk/App/a.txt")" = 'written in full' ] || fail "a.txt differs"
    size=$(stat -c %s "$work/disk/App/big.bin")
    echo "big.bin: $size of 1048576 bytes written"
    [ "$size" -lt 1048576 ] || fail "big.bin is complete on a full disk"
    ;;

  file-in-the-way)
    echo 'a file, not a folder' >"$WINEPREFIX/drive_c/Faults/blocker"
    harden_script "$work/Setup.ini" "$(script_text 'C:\\Faults\\blocker\\App')"
    harden_make_setup --out "$setup" file Setup.ini "@$work/Setup.ini" file a.txt 'never written'
    harden_run_checked -- "$setup" wait-dialog press-ok \
      expect-box "Cannot Install" 'Cannot create C:\\Faults\\blocker\\App' "${stays[@]}"
    [ "$(cat "$WINEPREFIX/drive_c/Faults/blocker")" = 'a file, not a folder' ] ||
      fail "the file in the way changed"
    ;;

  read-only)
    mount_drive ro r 64k
    mkdir "$work/ro/Parent"
    mount -o remount,ro "$work/ro"
    harden_script "$work/Setup.ini" "$(script_text 'R:\\Parent\\New\\App')"
    harden_make_setup --out "$setup" file Setup.ini "@$work/Setup.ini" file a.txt 'never written'
    harden_run_checked -- "$setup" wait-dialog press-ok \
      expect-box "Cannot Install" 'Cannot create R:\\Parent\\New\\App' "${stays[@]}"
    [ -z "$(ls -A "$work/ro/Parent")" ] || fail "something was made on the read-only drive"
    ;;

  missing-link-folder)
    app='C:\Faults\App'
    harden_script "$work/Setup.ini" \
      "$(script_text 'C:\\Faults\\App' '<Programs Menu>\\Missing\\Faults.lnk')"
    harden_make_setup --out "$setup" file Setup.ini "@$work/Setup.ini" folder bin \
      file a.txt 'installed' file 'bin\b.txt' 'installed too'
    harden_run_checked "$(rel "$app")" -- "$setup" wait-dialog press-ok \
      expect-box "Cannot Install" "Can't create link:\\n$(esc "$POPBOX_PROGRAMS\\Missing\\Faults.lnk")" \
      "${ends[@]}"
    # The files stay; the desktop shortcut is not attempted.
    dir="$WINEPREFIX/$(rel "$app")"
    [ "$(harden_tree "$dir" | awk '{ print $1, $3 }' | tr '\n' ' ')" = "f Setup.ini f a.txt d bin f bin/b.txt " ] ||
      fail "the install folder holds: $(harden_tree "$dir")"
    [ ! -e "$POPBOX_PROGRAMS_DIR/Missing" ] || fail "the shortcut's folder was made"
    [ -z "$(ls -A "$POPBOX_DESKTOP_DIR")" ] || fail "a desktop shortcut was made"
    ;;

  macros)
    # The folder values as .reg lines: missing (delete) or REG_EXPAND_SZ
    # with the right text (Wine's reg reads hex(2) bytes of a file without
    # a byte order mark in the ANSI code page).
    expand_sz() {
      local hex
      hex="$(printf '%s' "$1" | od -An -tx1 -v | tr -s ' \n' ',,' | sed 's/^,//; s/,$//')"
      printf 'hex(2):%s,00' "$hex"
    }
    values() {
      local key
      for key in 'Microsoft' 'Wow6432Node\Microsoft'; do
        printf '[HKEY_LOCAL_MACHINE\\Software\\%s\\Windows\\CurrentVersion]\n' "$key"
        printf '"ProgramFilesDir"=%s\n\n' "$($1 "$POPBOX_PROGRAM_FILES")"
      done
      # Wine's shell rewrites "Shell Folders" values as REG_SZ from "User
      # Shell Folders" whenever it looks a folder up (its desktop process
      # does so for Desktop): the latter go, so that nothing repairs the
      # values under test.
      local shell='HKEY_CURRENT_USER\Software\Microsoft\Windows\CurrentVersion\Explorer'
      printf '[%s\\User Shell Folders]\n"Desktop"=-\n"Programs"=-\n"Personal"=-\n\n' "$shell"
      printf '[%s\\Shell Folders]\n"Desktop"=%s\n"Programs"=%s\n"Personal"=%s\n\n' "$shell" \
        "$($1 "$POPBOX_DESKTOP")" "$($1 "$POPBOX_PROGRAMS")" "$($1 "$POPBOX_DOCUMENTS")"
    }
    missing() { printf '%s' '-'; }
    for state in missing expand_sz; do
      values "$state" | popbox_reg_import
      index=0
      for macro in 'Program Files' 'Desktop' 'Programs Menu' 'My Documents'; do
        index=$((index + 1))
        echo "$state: <$macro>"
        # The proposed folder is expanded when the dialog starts: the
        # message comes first and the dialog ends.
        harden_script "$work/Setup.ini" "$(script_text "<$macro>\\\\Faults-$index")"
        harden_make_setup --out "$setup" file Setup.ini "@$work/Setup.ini" file a.txt 'never written'
        harden_run_checked -- "$setup" expect-box Bug "Macro Undefined: $macro" "${unshown[@]}"
      done
      # A shortcut path is expanded on OK: the dialog stays open.
      echo "$state: <Programs Menu> in StartProgramsLink"
      harden_script "$work/Setup.ini" "$(script_text 'C:\\Faults\\App')"
      harden_make_setup --out "$setup" file Setup.ini "@$work/Setup.ini" file a.txt 'never written'
      harden_run_checked -- "$setup" wait-dialog press-ok \
        expect-box Bug "Macro Undefined: Programs Menu" "${stays[@]}"
    done
    ;;

  locked)
    app='C:\Faults\App'
    harden_script "$work/Setup.ini" "$(script_text 'C:\\Faults\\App')"
    harden_make_setup --out "$setup" file Setup.ini "@$work/Setup.ini" file a.txt 'never written'
    # The locker takes the file once the dialog is up and holds it until
    # the run is over.
    wine "$bin/file-locker.exe" "$(popbox_winpath "$setup")" "$(popbox_winpath "$work/dialog-up")" \
      "$(popbox_winpath "$work/release")" "$(popbox_winpath "$work/locked")" >"$work/locker.txt" 2>&1 &
    locker=$!
    harden_run_checked "$(rel "$app")" -- "$setup" wait-dialog \
      signal-file "$(esc "$(popbox_winpath "$work/dialog-up")")" \
      wait-file "$(esc "$(popbox_winpath "$work/locked")")" press-ok \
      expect-box Bug "File Corrupted. Can't Find BLOBs." "${ends[@]}"
    touch "$work/release"
    wait "$locker" || fail "the locker failed: $(cat "$work/locker.txt")"
    # The folder was made before extraction; nothing went into it.
    dir="$WINEPREFIX/$(rel "$app")"
    [ -d "$dir" ] && [ -z "$(ls -A "$dir")" ] || fail "the install folder is missing or not empty"
    ;;

  shrunk)
    app='C:\Faults\App'
    harden_script "$work/Setup.ini" "$(script_text 'C:\\Faults\\App')"
    head -c 4000 /dev/zero | tr '\0' 'b' >"$work/b.txt"
    harden_make_setup --out "$setup" file Setup.ini "@$work/Setup.ini" file a.txt 'written in full' \
      file b.txt "@$work/b.txt" file c.txt 'never written'
    # Cut in the middle of b.txt's contents once the dialog is up.
    length=$(($(stat -c %s "$setup") - 13 - (13 + 5 + 13) - 2000))
    (poll_file "$work/dialog-up" && truncate -s "$length" "$setup" && touch "$work/shrunk") &
    harden_run_checked "$(rel "$app")" -- "$setup" wait-dialog \
      signal-file "$(esc "$(popbox_winpath "$work/dialog-up")")" \
      wait-file "$(esc "$(popbox_winpath "$work/shrunk")")" press-ok \
      expect-box Bug "File Corrupted. Can't Read BLOBs." "${ends[@]}"
    wait
    dir="$WINEPREFIX/$(rel "$app")"
    [ "$(harden_list "$dir")" = "Setup.ini a.txt" ] ||
      fail "the install folder holds: $(harden_list "$dir")"
    ;;

  *)
    echo "unknown case $case_name" >&2
    exit 2
    ;;
esac
finish
