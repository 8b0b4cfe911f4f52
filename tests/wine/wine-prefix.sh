# Sourced by the Wine test scripts. Gives each test its own Wine prefix,
# copied from a template that is made once per machine, so that no test
# ever touches the user's own prefix and no test sees another's traces.
#
#   popbox_wine_env                 exports WINEDEBUG and friends
#   popbox_fresh_prefix DIR         makes DIR a fresh prefix and exports WINEPREFIX
#   popbox_end_prefix               stops the prefix's wineserver and removes it
#   popbox_winpath PATH             prints the Windows name (Z:\...) of a Linux path
#   popbox_reg_import               imports .reg lines given on stdin into the
#                                   prefix (one Wine start: values that every
#                                   test wants belong in the template)
#   popbox_snapshot FILE            lists the prefix's files into FILE
#   popbox_changes_outside BEFORE AFTER [ALLOWED...]
#                                   prints the files that changed between two
#                                   snapshots outside the allowed paths; false
#                                   when there are any
#
# The template has the null graphics driver (Wine draws nothing and needs no
# display) and known folders for the folder macros of setup scripts; a fresh
# prefix exports their Windows and Linux names:
#
#   POPBOX_DESKTOP     C:\popbox-test\Desktop         POPBOX_DESKTOP_DIR
#   POPBOX_PROGRAMS    C:\popbox-test\Programs        POPBOX_PROGRAMS_DIR
#   POPBOX_DOCUMENTS   C:\popbox-test\Documents       POPBOX_DOCUMENTS_DIR
#   POPBOX_PROGRAM_FILES C:\popbox-test\Program Files POPBOX_PROGRAM_FILES_DIR
#
# The folders exist and are empty. POPBOX_WINE_TEMPLATE names the template
# folder (default: a folder in /tmp keyed by user).

# Bump when the recipe of the template changes: an older template is then
# made again.
POPBOX_TEMPLATE_VERSION=2

POPBOX_DESKTOP='C:\popbox-test\Desktop'
POPBOX_PROGRAMS='C:\popbox-test\Programs'
POPBOX_DOCUMENTS='C:\popbox-test\Documents'
POPBOX_PROGRAM_FILES='C:\popbox-test\Program Files'

popbox_wine_env() {
  export WINEDEBUG=-all
  export WINEDLLOVERRIDES="winemenubuilder.exe=d;mscoree=d;mshtml=d"
  export WINEARCH=win64
  # Where the kernel cannot run 32-bit programs, qemu-i386 does, and this
  # sets the preload that keeps 32-bit Wine's start-up fast under it.
  if [ -r /usr/local/lib/popbox-wine/env ]; then . /usr/local/lib/popbox-wine/env; fi
  unset DISPLAY
}

# The registry values of the template, in one file for one `reg import`
# (every Wine start costs about a second here). The folder values are set in
# both shell-folder keys, since Wine's shell rewrites "Shell Folders" from
# "User Shell Folders", and ProgramFilesDir in both registry views, since a
# 32-bit program reads the Wow6432Node one.
popbox_template_registry() {
  local esc_desktop="${POPBOX_DESKTOP//\\/\\\\}" esc_programs="${POPBOX_PROGRAMS//\\/\\\\}"
  local esc_documents="${POPBOX_DOCUMENTS//\\/\\\\}" esc_pf="${POPBOX_PROGRAM_FILES//\\/\\\\}"
  local key
  printf 'Windows Registry Editor Version 5.00\r\n\r\n'
  printf '[HKEY_CURRENT_USER\\Software\\Wine\\Drivers]\r\n"Graphics"="null"\r\n\r\n'
  for key in 'Shell Folders' 'User Shell Folders'; do
    printf '[HKEY_CURRENT_USER\\Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\%s]\r\n' "$key"
    printf '"Desktop"="%s"\r\n"Programs"="%s"\r\n"Personal"="%s"\r\n\r\n' \
      "$esc_desktop" "$esc_programs" "$esc_documents"
  done
  for key in 'Microsoft' 'Wow6432Node\\Microsoft'; do
    printf '[HKEY_LOCAL_MACHINE\\Software\\%s\\Windows\\CurrentVersion]\r\n' "$key"
    printf '"ProgramFilesDir"="%s"\r\n\r\n' "$esc_pf"
  done
}

# Linux name of a C:\ path in the prefix $1.
popbox_prefix_path() {
  local rest="${2#C:\\}"
  printf '%s/drive_c/%s\n' "$1" "${rest//\\//}"
}

# Makes the template once: a new prefix with the registry values above and
# the known folders.
popbox_make_template() {
  local template="${POPBOX_WINE_TEMPLATE:-/tmp/popbox-wine-template-$(id -u)}"
  (
    flock 9
    if [ "$(cat "$template/.ready" 2>/dev/null)" != "$POPBOX_TEMPLATE_VERSION" ]; then
      rm -rf "$template"
      mkdir -p "$template"
      popbox_template_registry >"$template.reg"
      WINEPREFIX="$template" wine reg import "$(popbox_winpath "$template.reg")" >/dev/null 2>&1
      WINEPREFIX="$template" wineserver -w
      rm -f "$template.reg"
      local folder
      for folder in "$POPBOX_DESKTOP" "$POPBOX_PROGRAMS" "$POPBOX_DOCUMENTS" "$POPBOX_PROGRAM_FILES"; do
        mkdir -p "$(popbox_prefix_path "$template" "$folder")"
      done
      grep -q '"Graphics"="null"' "$template/user.reg" || {
        echo "wine-prefix.sh: the template's registry values were not set" >&2
        exit 1
      }
      echo "$POPBOX_TEMPLATE_VERSION" >"$template/.ready"
    fi
  ) 9>"$template.lock" || return 1
  echo "$template"
}

popbox_fresh_prefix() {
  # Never act on a prefix the caller had: popbox_end_prefix removes WINEPREFIX.
  unset WINEPREFIX
  popbox_wine_env
  local template
  template="$(popbox_make_template)" || return 1
  rm -rf "$1"
  # Hard links keep the copy cheap (the template is over a gigabyte of
  # Wine's own files, which no test changes in place); the registry files
  # and the .ini files, which Wine rewrites in place, are real copies so
  # that no run can reach the template through a link.
  cp -al "$template" "$1"
  rm -f "$1/.ready"
  local file
  for file in "$1"/*.reg "$1"/drive_c/windows/*.ini; do
    cp --remove-destination "$template/${file#"$1"/}" "$file"
  done
  export WINEPREFIX="$1"
  export POPBOX_DESKTOP POPBOX_PROGRAMS POPBOX_DOCUMENTS POPBOX_PROGRAM_FILES
  POPBOX_DESKTOP_DIR="$(popbox_prefix_path "$1" "$POPBOX_DESKTOP")"
  POPBOX_PROGRAMS_DIR="$(popbox_prefix_path "$1" "$POPBOX_PROGRAMS")"
  POPBOX_DOCUMENTS_DIR="$(popbox_prefix_path "$1" "$POPBOX_DOCUMENTS")"
  POPBOX_PROGRAM_FILES_DIR="$(popbox_prefix_path "$1" "$POPBOX_PROGRAM_FILES")"
  export POPBOX_DESKTOP_DIR POPBOX_PROGRAMS_DIR POPBOX_DOCUMENTS_DIR POPBOX_PROGRAM_FILES_DIR
}

popbox_end_prefix() {
  if [ -n "${WINEPREFIX:-}" ] && [ -d "$WINEPREFIX" ]; then
    wineserver -k >/dev/null 2>&1 || true
    wineserver -w >/dev/null 2>&1 || true
    rm -rf "$WINEPREFIX"
  fi
}

# Reads the keys and values of a .reg file (without its first line) from
# stdin; a key written [-KEY] or a value "name"=- removes it.
popbox_reg_import() {
  local file status=0
  file="$(mktemp "${TMPDIR:-/tmp}/popbox-reg.XXXXXX")"
  { printf 'Windows Registry Editor Version 5.00\r\n\r\n'; sed 's/\r*$/\r/'; } >"$file"
  wine reg import "$(popbox_winpath "$file")" >/dev/null 2>&1 || status=$?
  rm -f "$file"
  return "$status"
}

# Z: is the Linux root in every prefix.
popbox_winpath() {
  local path
  path="$(realpath -m "$1")"
  printf 'Z:%s\n' "${path//\//\\}"
}

# One line per file, folder or link of the prefix: kind, size, modification
# time and path relative to the prefix. Wine's registry files, its device
# links and its own bookkeeping at the top of the prefix are left out: Wine
# rewrites them on every run.
# The wineserver saves the registry through a temporary reg*.tmp beside the
# .reg files at any moment, so those are left out and a file that vanishes
# while find walks is not an error.
popbox_snapshot() {
  (cd "$WINEPREFIX" && find . -mindepth 1 -ignore_readdir_race \
    \( -path './*.reg' -o -path './reg*.tmp' -o -path './dosdevices' -o -path './.update-timestamp' \
       -o -path './wineserver' -o -path './.ready' \) -prune -o -printf '%y %s %T@ %P\n') | LC_ALL=C sort -k4 >"$1"
}

# Compares two snapshots. ALLOWED are paths relative to the prefix (e.g.
# "drive_c/popbox-test/Program Files/App"): a change at such a path or below
# it is allowed. Prints "added PATH", "removed PATH" or "changed PATH" for
# every other change and returns 1 when there was one.
popbox_changes_outside() {
  local before="$1" after="$2" changes
  shift 2
  changes="$(
  LC_ALL=C awk -v allowed="$(printf '%s\n' "$@")" '
    function ok(path,   n, i, list) {
      n = split(allowed, list, "\n")
      for (i = 1; i <= n; i++) {
        if (list[i] == "") continue
        if (path == list[i] || index(path, list[i] "/") == 1) return 1
      }
      return 0
    }
    {
      # fields: kind size time path (the path may hold blanks)
      path = $0; for (i = 1; i <= 3; i++) sub(/^[^ ]* /, "", path)
      entry = $1 " " $2 " " $3
      if (FNR == NR) { old[path] = entry; next }
      if (!(path in old)) { if (!ok(path)) print "added " path }
      else if (old[path] != entry && $1 != "d") { if (!ok(path)) print "changed " path }
      delete old[path]
    }
    END { for (path in old) if (!ok(path)) print "removed " path }
  ' "$before" "$after" | LC_ALL=C sort)"
  [ -z "$changes" ] && return 0
  printf '%s\n' "$changes"
  return 1
}
