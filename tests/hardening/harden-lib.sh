# Sourced by the hardening test scripts: one fresh Wine prefix per script,
# runs of a setup under the driver, and the checks every run makes.
#
#   harden_begin                  work folder ($work), fresh prefix, cleanup on exit
#   harden_fail TEXT              records a failure (the script goes on)
#   harden_end                    prints the verdict and exits with it
#   harden_script FILE TEXT       writes a Setup.ini (TEXT with \n line ends) to FILE
#   harden_drive SETUP LOG STEP...
#                                 runs SETUP under setup-driver.exe; false when a
#                                 step failed (the transcript is printed then)
#   harden_quote TEXT             TEXT with its backslashes doubled, for driver steps
#   harden_run_checked ALLOWED... -- SETUP STEP...
#                                 snapshot, drive, and check that nothing changed
#                                 outside ALLOWED (paths relative to the prefix)
#                                 and that no crash handler was started; prints
#                                 the run's time
#   harden_make_setup ARGS...     make-setup with the stub
#   harden_list DIR, harden_tree DIR
#                                 a folder's names on one line; its tree as
#                                 "kind size path" lines
#
# Needs POPBOX_BIN_DIR with popbox-stub.exe, setup-driver.exe and make-setup.

harden_here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
. "$harden_here/../wine/wine-prefix.sh"
bin="${POPBOX_BIN_DIR:?POPBOX_BIN_DIR names the folder with the programs}"
harden_failed=0
harden_runs=0

harden_cleanup() {
  local status=$?
  popbox_end_prefix
  # A script's own cleanup (unmounting, say) runs once Wine has let go.
  if declare -F harden_on_exit >/dev/null; then harden_on_exit || true; fi
  rm -rf "$work"
  return "$status"
}

harden_begin() {
  work="$(mktemp -d /tmp/popbox-harden.XXXXXX)"
  trap harden_cleanup EXIT
  popbox_fresh_prefix "$work/prefix"
}

harden_fail() {
  echo "FAIL: $*"
  harden_failed=1
}

harden_end() {
  if [ "$harden_failed" = 0 ]; then
    echo "all checks passed ($harden_runs setup runs)"
  else
    echo "FAILED"
  fi
  exit "$harden_failed"
}

harden_script() {
  printf '%b' "$2" | sed 's/$/\r/' >"$1"
}

harden_quote() {
  printf '%s' "${1//\\/\\\\}"
}

harden_make_setup() {
  "$bin/make-setup" --stub "$bin/popbox-stub.exe" "$@"
}

harden_drive() {
  local setup="$1" log="$2" status=0
  shift 2
  harden_runs=$((harden_runs + 1))
  wine "$bin/setup-driver.exe" --log "$(popbox_winpath "$log")" --timeout 60 \
    "$(popbox_winpath "$setup")" -- "$@" >/dev/null 2>&1 || status=$?
  if [ "$status" != 0 ]; then
    echo "--- transcript of $(basename "$log")"
    cat "$log" 2>/dev/null || echo "(no transcript)"
  fi
  return "$status"
}

# Crash handlers (winedbg) started in this prefix. A crashing program stays
# suspended under winedbg's dialog, so the driver sees a timeout; this names
# the cause.
harden_crash_handlers() {
  local file proc
  for file in $(grep -ls winedbg /proc/[0-9]*/cmdline); do
    proc="${file%/cmdline}"
    tr '\0' '\n' 2>/dev/null <"$proc/environ" | grep -qxF "WINEPREFIX=$WINEPREFIX" &&
      echo "${proc#/proc/}"
  done
  return 0
}

harden_run_checked() {
  local allowed=() name
  while [ "$#" -gt 0 ] && [ "$1" != "--" ]; do
    allowed+=("$1")
    shift
  done
  shift
  local setup="$1"
  shift
  name="run$((harden_runs + 1))"
  popbox_snapshot "$work/$name.before"
  local started=$SECONDS
  harden_drive "$setup" "$work/$name.log" "$@" || harden_fail "$name: the driver reported a failure"
  echo "$name: $((SECONDS - started)) s, exit seen at $(grep -o '^ *[0-9]* exited' "$work/$name.log" | awk '{ print $1 }') ms"
  if [ -n "$(harden_crash_handlers)" ]; then harden_fail "$name: a crash handler (winedbg) runs"; fi
  popbox_snapshot "$work/$name.after"
  popbox_changes_outside "$work/$name.before" "$work/$name.after" "${allowed[@]}" ||
    harden_fail "$name: files changed outside the install folder and the shortcuts (above)"
}

# The names in a folder, sorted by their bytes, on one line.
harden_list() {
  (cd "$1" && LC_ALL=C ls -A | tr '\n' ' ' | sed 's/ $//')
}

# Lists a folder tree as "kind size path" lines, sorted, for comparisons.
harden_tree() {
  (cd "$1" && find . -mindepth 1 -printf '%y %s %P\n' | LC_ALL=C sort -k3)
}
