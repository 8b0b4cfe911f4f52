# Sourced by the hardening test scripts: the end-to-end library
# (tests/wine/e2e-lib.sh: a fresh prefix, $work, fail, finish, esc, drive,
# snapshot_before, check_no_crash, check_changes_outside, on_exit) and what
# the hardening scripts add to it:
#
#   harden_script FILE TEXT       writes a Setup.ini (TEXT with \n line ends) to FILE
#   harden_make_setup ARGS...     make-setup with the stub; ARGS name --out
#   harden_run_checked ALLOWED... -- SETUP STEP...
#                                 drives SETUP through the steps and checks that
#                                 nothing crashed and nothing changed outside
#                                 ALLOWED (paths relative to the prefix); does
#                                 not wait for other programs of the prefix
#   harden_list DIR, harden_tree DIR
#                                 a folder's names on one line; its tree as
#                                 "kind size path" lines
. "$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)/../wine/e2e-lib.sh"

harden_script() { printf '%b' "$2" | script_file "$1"; }

harden_make_setup() {
  "$bin/make-setup" --stub "$bin/popbox-stub.exe" "$@"
}

harden_run_checked() {
  local allowed=() started
  while [ "$#" -gt 0 ] && [ "$1" != "--" ]; do
    allowed+=("$1")
    shift
  done
  shift
  setup="$1"
  shift
  snapshot_before
  started=$SECONDS
  drive "$@"
  echo "run $runs took $((SECONDS - started)) s"
  check_no_crash
  check_changes_outside "${allowed[@]}"
}

# The names in a folder, sorted by their bytes, on one line.
harden_list() {
  (cd "$1" && LC_ALL=C ls -A | tr '\n' ' ' | sed 's/ $//')
}

# Lists a folder tree as "kind size path" lines, sorted, for comparisons.
harden_tree() {
  (cd "$1" && find . -mindepth 1 -printf '%y %s %P\n' | LC_ALL=C sort -k3)
}
