# Sourced by the Wine test scripts. Gives each test its own Wine prefix,
# copied from a template that is made once per build tree, so that no test
# ever touches the user's own prefix and no test sees another's traces.
#
#   popbox_wine_env                 exports WINEDEBUG and friends
#   popbox_fresh_prefix DIR         makes DIR a fresh prefix and exports WINEPREFIX
#   popbox_end_prefix               stops the prefix's wineserver and removes it
#
# POPBOX_WINE_TEMPLATE names the template folder (default: a folder in /tmp
# keyed by user).

popbox_wine_env() {
  export WINEDEBUG=-all
  export WINEDLLOVERRIDES="winemenubuilder.exe=d;mscoree=d;mshtml=d"
  export WINEARCH=win64
  # Where the kernel cannot run 32-bit programs, qemu-i386 does, and this
  # sets the preload that keeps 32-bit Wine's start-up fast under it.
  if [ -r /usr/local/lib/popbox-wine/env ]; then . /usr/local/lib/popbox-wine/env; fi
  unset DISPLAY
}

# Makes the template once: a new prefix whose graphics driver is "null", so
# that Wine draws nothing and needs no display.
popbox_make_template() {
  local template="${POPBOX_WINE_TEMPLATE:-/tmp/popbox-wine-template-$(id -u)}"
  (
    flock 9
    if [ ! -f "$template/.ready" ]; then
      rm -rf "$template"
      mkdir -p "$template"
      WINEPREFIX="$template" wine reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f >/dev/null 2>&1
      WINEPREFIX="$template" wineserver -w
      touch "$template/.ready"
    fi
  ) 9>"$template.lock"
  echo "$template"
}

popbox_fresh_prefix() {
  popbox_wine_env
  local template
  template="$(popbox_make_template)"
  rm -rf "$1"
  # Hard links keep the copy cheap (the template is over a gigabyte of
  # Wine's own files, which no test changes in place); the registry files,
  # which Wine rewrites, are real copies.
  cp -al "$template" "$1"
  rm -f "$1/.ready"
  local reg
  for reg in "$1"/*.reg; do cp --remove-destination "$template/$(basename "$reg")" "$reg"; done
  export WINEPREFIX="$1"
}

popbox_end_prefix() {
  if [ -n "${WINEPREFIX:-}" ] && [ -d "$WINEPREFIX" ]; then
    wineserver -k >/dev/null 2>&1 || true
    wineserver -w >/dev/null 2>&1 || true
    rm -rf "$WINEPREFIX"
  fi
}
