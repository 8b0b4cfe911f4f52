#!/usr/bin/env bash
# DLLs planted beside a setup under Wine. A setup is often run from a
# Downloads folder that holds other files: DLLs named like system DLLs
# there must not be loaded into the setup. Each planted DLL writes a marker
# named after itself when it is loaded (helpers/planted_dll.c).
#
#  1. The stub imports system DLLs only (all in Windows' KnownDLLs list,
#     which Windows always loads from the system folder).
#  2. Controls with load-control.exe: loading by bare name from the folder
#     picks the planted copies that Wine loads natively, and does not once
#     SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32) is in force.
#  3. The setup runs through the dialog to the closing question and is
#     cancelled: no marker, with Wine's default load order and with native
#     copies preferred for uxtheme, dwmapi and cryptbase.
#  4. The same setup with the stub's SetDefaultDllDirectories lookup broken
#     (one byte of the name changed) does load the planted uxtheme.dll:
#     step 3 would notice the call going away.
#
# version.dll is left out of the native-first runs: Wine's own user32
# imports it, so it is resolved from the program's folder before any code
# of the program runs (Windows' user32 does not import it).
set -euo pipefail
. "$(cd "$(dirname "$0")" && pwd)/harden-lib.sh"

dlls=(version.dll uxtheme.dll dwmapi.dll cryptbase.dll)
native_first=(uxtheme.dll dwmapi.dll cryptbase.dll)

# 1. Imports, before any Wine run.
known='advapi32.dll comdlg32.dll gdi32.dll kernel32.dll msvcrt.dll ole32.dll oleaut32.dll
  shell32.dll shlwapi.dll user32.dll'
imports="$(i686-w64-mingw32-objdump -p "$bin/popbox-stub.exe" | awk '/DLL Name:/ { print tolower($3) }')"
echo "stub imports:" $imports
for dll in $imports; do
  grep -qw "$dll" <<<"$known" || fail "the stub imports $dll, which is not a known system DLL"
done
[ -n "$imports" ] || fail "no imports found in the stub"

dir="$work/Downloads"
mkdir "$dir" "$work/markers"
for dll in "${dlls[@]}"; do cp "$bin/planted/$dll" "$dir/"; done
cp "$bin/load-control.exe" "$dir/"
POPBOX_PLANT_MARKERS="$(popbox_winpath "$work/markers")"
export POPBOX_PLANT_MARKERS
override="$(IFS=,; echo "${native_first[*]%.dll}")=n,b"
base_overrides="$WINEDLLOVERRIDES"

# Started from the folder, as a double click in Explorer does: the current
# folder is searched too.
cd "$dir"

markers() { harden_list "$work/markers"; }
clear_markers() { rm -f "$work/markers"/*; }

# 2. Controls.
control() {
  wine "$dir/load-control.exe" "$@" 2>/dev/null | tr -d '\r' | sed 's/^/  /'
}
echo "control, default load order:"
control "${dlls[@]}"
default_loaded="$(markers)"
echo "  markers: ${default_loaded:-none}"
[ -n "$default_loaded" ] || fail "Wine loaded no planted DLL: the runs below prove nothing"
clear_markers

export WINEDLLOVERRIDES="$base_overrides;$override"
echo "control, native first for ${native_first[*]}:"
control "${native_first[@]}"
[ "$(markers)" = "$(printf '%s.loaded\n' "${native_first[@]}" | LC_ALL=C sort | xargs)" ] ||
  fail "the control did not load every planted DLL: $(markers)"
clear_markers
echo "control, system folder only:"
control --system32-only "${native_first[@]}"
[ -z "$(markers)" ] || fail "SetDefaultDllDirectories did not keep planted DLLs out: $(markers)"
clear_markers
export WINEDLLOVERRIDES="$base_overrides"

# 3. The setup, to the closing question.
harden_script "$work/Setup.ini" '[Install]\nTitle=Planting\nDefaultAppDir=C:\\Planting\\App\nStartProgramsLink=<Programs Menu>\\Planting.lnk\nDesktopLink=<Desktop>\\Planting.lnk\nLinkTarget=a.txt\nStartProgramsLinkSelected=1\nDesktopLinkSelected=1'
run_setup() {
  local stub="$1" app="$2"
  "$bin/make-setup" --stub "$stub" --out "$dir/setup.exe" file Setup.ini "@$work/Setup.ini" \
    file a.txt 'installed'
  rm -f "$POPBOX_PROGRAMS_DIR/Planting.lnk" "$POPBOX_DESKTOP_DIR/Planting.lnk"
  harden_run_checked "drive_c/Planting/$app" drive_c/popbox-test/Programs/Planting.lnk \
    drive_c/popbox-test/Desktop/Planting.lnk -- "$dir/setup.exe" \
    wait-dialog set-text 1000 "C:\\\\Planting\\\\$app" press-ok \
    expect-box Success "Run application?" press-cancel \
    expect-exit 0 expect-no-more-windows expect-box-count 1
}
mkdir "$WINEPREFIX/drive_c/Planting"
echo "setup, default load order"
run_setup "$bin/popbox-stub.exe" Default
[ -z "$(markers)" ] || fail "the setup loaded planted DLLs: $(markers)"
clear_markers

export WINEDLLOVERRIDES="$base_overrides;$override"
echo "setup, native first for ${native_first[*]}"
run_setup "$bin/popbox-stub.exe" NativeFirst
[ -z "$(markers)" ] || fail "the setup loaded planted DLLs: $(markers)"
clear_markers

# 4. The same with the call gone: the name looked up no longer exists.
python3 - "$bin/popbox-stub.exe" "$work/no-restriction.exe" <<'PY'
import sys
data = bytearray(open(sys.argv[1], "rb").read())
at = data.find(b"SetDefaultDllDirectories\0")
assert at > 0, "the stub does not look up SetDefaultDllDirectories by name"
data[at] = ord("X")
open(sys.argv[2], "wb").write(data)
PY
echo "setup without the restriction, native first for ${native_first[*]}"
run_setup "$work/no-restriction.exe" Unrestricted
grep -qw uxtheme.dll.loaded <<<"$(markers)" ||
  fail "without the restriction the planted uxtheme.dll was not loaded either: the test has no teeth"
echo "  markers: $(markers)"
finish
