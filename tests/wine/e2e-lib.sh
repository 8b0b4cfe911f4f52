# Sourced by the end-to-end scripts (test_e2e_*.sh). Each script runs one
# case: it gets a fresh Wine prefix, builds a test application, packs it
# with the packer (or writes a crafted setup with make-setup), runs the
# setup under setup-driver.exe and checks what was written.
#
# What a case can use:
#
#   $work, $setup        the case's scratch folder and its setup file
#   APP_WIN, START_LINK_WIN, DESKTOP_LINK_WIN, RECORD_WIN
#                        the default install folder, the two shortcut files
#                        and the record that record-launch.exe writes
#   HINT                 the upgrade hint of the refusals, as a driver step
#                        spells it
#   lin WINPATH, rel WINPATH
#                        the Linux name of a C:\ path, and its name relative
#                        to the prefix
#   make_app DIR TARGET  a test application in DIR: stored, compressed,
#                        empty and nested files, an empty folder, and
#                        record-launch.exe at the relative path TARGET; the
#                        case writes DIR/Setup.ini itself (script_file)
#   script_file FILE     writes stdin to FILE with CRLF line ends
#   pack DIR             packs DIR into $setup with the packer
#   make_setup RECORD... writes $setup with make-setup
#   esc TEXT             TEXT with its backslashes doubled, for driver steps
#   drive STEP...        runs $setup under the driver; a failed step fails
#   start_drive/end_drive  the same in two halves, for a case that acts
#                        between the driver's signal-file and wait-file steps
#   signal FILE / wait_for FILE   the Linux side of those steps
#   snapshot_before, check_outside WINPATH...
#                        no crash, and nothing changed outside the given paths
#   check_no_crash, check_changes_outside RELPATH...
#                        the same in parts, without waiting for programs
#   on_exit              defined by a script: runs once Wine has ended
#   check_tree DIR WINDIR, check_file_text WINPATH FILE, check_link,
#   check_absent WINPATH..., check_record TARGET FOLDER, check_no_record
#   finish               prints the verdict and exits
set -euo pipefail
e2e_here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
. "$e2e_here/wine-prefix.sh"
bin="${POPBOX_BIN_DIR:?POPBOX_BIN_DIR names the folder with the programs}"
lnk_info="$e2e_here/../../scripts/lnk_info.py"

work="$(mktemp -d /tmp/popbox-e2e.XXXXXX)"
# A script's own on_exit (unmounting, say) runs once Wine has let go.
e2e_cleanup() {
  popbox_end_prefix
  if declare -F on_exit >/dev/null; then on_exit || true; fi
  rm -rf "$work"
}
trap e2e_cleanup EXIT
popbox_fresh_prefix "$work/prefix"
setup="$work/setup.exe"

APP_WIN="$POPBOX_PROGRAM_FILES\\Test App"
START_LINK_WIN="$POPBOX_PROGRAMS\\Test App.lnk"
DESKTOP_LINK_WIN="$POPBOX_DESKTOP\\Test App.lnk"
RECORD_WIN='C:\popbox-test\launch-record.txt'
HINT='\n\nIf you are trying to upgrade a Quorvane\napplication, first uninstall the old application\n(run it and click File | Uninstall).'

failures=0
fail() {
  echo "FAIL: $*"
  failures=$((failures + 1))
}

finish() {
  if [ "$failures" = 0 ]; then
    echo "all checks passed"
    exit 0
  fi
  echo "$failures check(s) failed"
  exit 1
}

# Linux name of a C:\ path of the prefix, and its name relative to the
# prefix (as the snapshots list it).
lin() { popbox_prefix_path "$WINEPREFIX" "$1"; }
rel() {
  local path
  path="$(lin "$1")"
  printf '%s\n' "${path#"$WINEPREFIX"/}"
}

esc() { printf '%s' "${1//\\/\\\\}"; }

script_file() { sed 's/\r*$/\r/' >"$1"; }

# Reproducible bytes that do not compress.
noise() {
  python3 -c 'import random, sys; r = random.Random(int(sys.argv[1]))
sys.stdout.buffer.write(bytes(r.getrandbits(8) for _ in range(int(sys.argv[2]))))' "$1" "$2"
}

make_app() {
  local dir="$1" target="$2" i
  mkdir -p "$dir/bin/sub" "$dir/empty folder"
  for i in $(seq 1 60); do echo "Line $i of the readme: the same words again and again."; done \
    >"$dir/readme.txt"
  noise 7 5000 >"$dir/data.bin"
  : >"$dir/empty.txt"
  # Compresses, and holds the byte that the compressed form escapes.
  for i in $(seq 1 200); do printf 'ab\xdfcd'; done >"$dir/bin/escapes.dat"
  printf 'deep inside\r\n' >"$dir/bin/sub/deep.txt"
  mkdir -p "$(dirname "$dir/${target//\\//}")"
  cp "$bin/record-launch.exe" "$dir/${target//\\//}"
}

# Packs DIR into $setup and makes sure that the payload holds what the
# tests rely on: a stored file, compressed files and an empty one.
pack() {
  "$bin/popbox" pack "$1" -o "$setup" --stub "$bin/popbox-stub.exe" >/dev/null
  "$bin/popbox" list "$setup" >"$work/list.txt"
  awk '$4 == "data.bin" && $2 == $3 && $2 == 5000 { s++ }
       $4 == "readme.txt" && $3 < $2 { c++ }
       $4 == "bin\\escapes.dat" && $3 < $2 { c++ }
       $4 == "empty.txt" && $2 == 0 { e++ }
       END { exit !(s == 1 && c == 2 && e == 1) }' "$work/list.txt" ||
    { cat "$work/list.txt"; fail "the packed payload lacks a stored, compressed or empty file"; }
}

make_setup() { "$bin/make-setup" --stub "$bin/popbox-stub.exe" --out "$setup" "$@"; }

# The driver's transcripts are numbered by run.
runs=0
start_drive() {
  runs=$((runs + 1))
  driver_log="$work/driver-$runs.log"
  wine "$bin/setup-driver.exe" --log "$(popbox_winpath "$driver_log")" --timeout 60 \
    "$(popbox_winpath "$setup")" -- "$@" &
  driver_pid=$!
}

end_drive() {
  local status=0
  wait "$driver_pid" || status=$?
  echo "driver run $runs:"
  sed 's/^/  | /' "$driver_log" 2>/dev/null || echo "  (no transcript)"
  [ "$status" = 0 ] || fail "driver run $runs reported failures (transcript above)"
}

drive() {
  start_drive "$@"
  end_drive
}

# The Windows name of a work file, escaped for a driver step.
work_step_path() { esc "$(popbox_winpath "$work/$1")"; }

signal() { : >"$work/$1"; }

# Polls for a work file that the driver creates (signal-file).
wait_for() {
  local i
  for ((i = 0; i < 600; i++)); do
    [ -e "$work/$1" ] && return 0
    kill -0 "$driver_pid" 2>/dev/null || break
    sleep 0.1
  done
  [ -e "$work/$1" ] || { fail "the driver never reached $1"; return 1; }
}

snapshot_before() { popbox_snapshot "$work/before"; }

# A crashing program stays suspended under the crash handler's dialog, so
# the driver only sees a timeout; this names the cause.
check_no_crash() {
  local file proc
  for file in $(grep -ls winedbg /proc/[0-9]*/cmdline); do
    proc="${file%/cmdline}"
    if tr '\0' '\n' 2>/dev/null <"$proc/environ" | grep -qxF "WINEPREFIX=$WINEPREFIX"; then
      fail "a crash handler (winedbg, process ${proc#/proc/}) runs: a program crashed"
    fi
  done
}

# Nothing changed in the prefix since snapshot_before outside the given
# paths, relative to the prefix (as the snapshots list them).
check_changes_outside() {
  popbox_snapshot "$work/after"
  popbox_changes_outside "$work/before" "$work/after" "$@" >"$work/changes.txt" ||
    { cat "$work/changes.txt"; fail "files changed outside ${*:-nothing} (listed above)"; }
}

# After the run and every program it started have ended, no crash and
# nothing changed in the prefix outside the given C:\ paths.
check_outside() {
  local allowed=() path
  check_no_crash
  wineserver -w
  for path in "$@"; do allowed+=("$(rel "$path")"); done
  check_changes_outside "${allowed[@]}"
}

# The installed folder holds exactly the application's folders and files,
# byte for byte, Setup.ini aside (the saved copy is checked on its own).
check_tree() {
  local source="$1" installed file
  installed="$(lin "$2")"
  [ -d "$installed" ] || { fail "$2 was not created"; return; }
  diff <(cd "$source" && find . -mindepth 1 -printf '%y %P\n' | LC_ALL=C sort) \
    <(cd "$installed" && find . -mindepth 1 -printf '%y %P\n' | LC_ALL=C sort) ||
    fail "the installed tree differs from the application's (diff above)"
  while IFS= read -r -d '' file; do
    [ "$file" = ./Setup.ini ] && continue
    cmp "$source/$file" "$installed/$file" || fail "$file differs after installing"
  done < <(cd "$source" && find . -type f -print0)
}

# A file of the prefix holds exactly the bytes of FILE.
check_file_text() {
  local path
  path="$(lin "$1")"
  [ -f "$path" ] || { fail "$1 is missing"; return; }
  cmp "$2" "$path" || {
    diff <(tr -d '\r' <"$2") <(tr -d '\r' <"$path") || true
    fail "$1 differs from what was expected (diff above, line ends aside)"
  }
}

check_link() {
  local link="$1" target="$2" folder="$3" path
  path="$(lin "$link")"
  [ -f "$path" ] || { fail "shortcut $link was not written"; return; }
  printf 'target=%s\nworkdir=%s\n' "$target" "$folder" >"$work/link-expected.txt"
  python3 "$lnk_info" "$path" >"$work/link-got.txt" || fail "cannot read shortcut $link"
  diff "$work/link-expected.txt" "$work/link-got.txt" || fail "shortcut $link points elsewhere"
}

check_absent() {
  local path
  for path in "$@"; do
    [ ! -e "$(lin "$path")" ] || fail "$path exists, and should not"
  done
}

# The started program wrote its record: started as TARGET with no
# arguments, in FOLDER. The shell may quote the program's path.
check_record() {
  local target="$1" folder="$2" record i command
  record="$(lin "$RECORD_WIN")"
  for ((i = 0; i < 600; i++)); do
    [ -e "$record" ] && break
    sleep 0.1
  done
  [ -e "$record" ] || { fail "the installed program did not start (no $RECORD_WIN)"; return; }
  tr -d '\r' <"$record" >"$work/record.txt"
  sed 's/^/  record: /' "$work/record.txt"
  command="$(sed -n 's/^command-line=//p' "$work/record.txt")"
  command="${command%"${command##*[! ]}"}"
  [ "$command" = "$target" ] || [ "$command" = "\"$target\"" ] ||
    fail "command line is [$command], expected the program's path alone"
  grep -qxF "module=$target" "$work/record.txt" || fail "the started program is not $target"
  grep -qxF "working-folder=$folder" "$work/record.txt" || fail "working folder is not $folder"
}

# To be called after check_outside, which waits for every program.
check_no_record() { check_absent "$RECORD_WIN"; }
