#!/usr/bin/env bash
# Regenerates the pictures of the setup in docs/: the plain layout
# (setup-plain.png), the store layout (setup-store.png) and the closing
# question (closing-question.png), from the example application.
#
#   scripts/screenshots.sh [FOLDER]   after a host build (programs from
#                                     build/bin, or from POPBOX_BIN_DIR);
#                                     the pictures go to FOLDER (default docs)
#
# Wine draws with its normal X11 driver into a display of its own (Xvfb),
# in a throwaway prefix without the tests' null driver, and draws the
# window captions itself (there is no window manager). setup-driver.exe
# (through trial/wine_prefix.py) runs each setup; when the window to show
# is up it writes the window's rectangle and waits while this script takes
# the picture, cropped to that rectangle.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
bin="${POPBOX_BIN_DIR:-$root/build/bin}"
docs="${1:-$root/docs}"
mkdir -p "$docs"
docs="$(cd "$docs" && pwd)"
for program in popbox popbox-stub.exe setup-driver.exe; do
  [ -e "$bin/$program" ] || { echo "screenshots: $bin/$program is missing; build first" >&2; exit 1; }
done
wine_prefix="$root/trial/wine_prefix.py"

work="$(mktemp -d /tmp/popbox-shots.XXXXXX)"
xvfb_pid=""
cleanup() {
  wineserver -k 2>/dev/null || true
  [ -z "$xvfb_pid" ] || kill "$xvfb_pid" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

# Polls for a file (with something in it, for -s FILE), up to 60 s.
wait_for() {
  local test=-e i
  if [ "$1" = -s ]; then test=-s; shift; fi
  for ((i = 0; i < 600; i++)); do
    [ "$test" "$1" ] && return 0
    sleep 0.1
  done
  echo "screenshots: gave up waiting for $1" >&2
  return 1
}

# A display of its own: Xvfb picks a free number and tells it.
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$work/display" 2>"$work/xvfb.log" &
xvfb_pid=$!
wait_for -s "$work/display"

# The prefix: the tests' template less its null driver, with Wine's own
# window captions. The values take effect with the next wineserver.
eval "$(python3 "$wine_prefix" "$work/prefix")"
printf 'REGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\Software\\Wine\\Drivers]\r\n"Graphics"=-\r\n\r\n[HKEY_CURRENT_USER\\Software\\Wine\\X11 Driver]\r\n"Managed"="N"\r\n"Decorated"="N"\r\n' >"$work/x11.reg"
wine reg import "Z:${work//\//\\}\\x11.reg" >/dev/null 2>&1
wineserver -w
# Wine's own fonts (MS Sans Serif of the dialogs, Marlett of the caption
# buttons) from Debian's fonts-wine, where every Wine process finds them.
cp /usr/share/wine/fonts/* "$WINEPREFIX/drive_c/windows/Fonts/"
export DISPLAY=":$(cat "$work/display")"

# The two setups: the example as it is (a named vendor: plain layout) and
# with an empty vendor name (store layout).
"$bin/popbox" pack "$root/examples/hello" -o "$work/plain.exe" >/dev/null
cp -r "$root/examples/hello" "$work/store-app"
sed -i 's/^Name=.*$/Name=/' "$work/store-app/Setup.ini"
"$bin/popbox" pack "$work/store-app" -o "$work/store.exe" >/dev/null

winpath() { printf 'Z:%s' "${1//\//\\\\}"; }

# shoot SETUP OUT.png STEPS... -- STEPS...: runs SETUP under the driver with
# the first steps, takes the picture of the current window, then runs the
# second steps. The picture is taken again until two in a row agree, so
# that it shows the window fully painted.
shoot() {
  local setup="$1" out="$2" before=() after=() i
  shift 2
  while [ "$1" != -- ]; do before+=("$1"); shift; done
  shift
  after=("$@")
  rm -f "$work/rect" "$work/ready" "$work/taken"
  python3 "$wine_prefix" --drive "$bin" "$setup" "$work/driver.log" \
    "${before[*]}; rect \"$(winpath "$work/rect")\"; signal \"$(winpath "$work/ready")\"
     wait \"$(winpath "$work/taken")\"; ${after[*]}" >/dev/null &
  local driver=$!
  if wait_for "$work/ready"; then
    local geometry
    geometry="$(tr -d '\r\n' <"$work/rect")"
    import -window root -crop "$geometry" +repage "$work/a.ppm"
    for ((i = 0; i < 50; i++)); do
      import -window root -crop "$geometry" +repage "$work/b.ppm"
      cmp -s "$work/a.ppm" "$work/b.ppm" && break
      mv "$work/b.ppm" "$work/a.ppm"
    done
    convert "$work/a.ppm" -strip "$out"
    echo "screenshots: $out ($geometry)"
  fi
  : >"$work/taken"
  local status=0
  wait "$driver" || status=$?
  if [ "$status" != 0 ] || [ ! -e "$work/ready" ]; then
    cat "$work/driver.log" >&2
    echo "screenshots: the driver failed for $out" >&2
    exit 1
  fi
}

shoot "$work/plain.exe" "$docs/setup-plain.png" dialog -- "close; exit 0"
shoot "$work/store.exe" "$docs/setup-store.png" dialog -- "close; exit 0"
shoot "$work/plain.exe" "$docs/closing-question.png" "dialog; ok; box" -- "cancel; exit 0"
