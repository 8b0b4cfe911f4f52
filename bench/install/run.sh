#!/usr/bin/env bash
# Install time of a popbox setup against NSIS installers (zlib and LZMA) of
# the same application folder, under Wine, in one run. Prints Markdown
# tables: absolute figures and the ratios to popbox.
#
#   bench/install/run.sh [RUNS]      (default 3 runs of each Wine timing;
#                                     the median is shown)
#   bench/install/run.sh --smoke     one run on a small folder (CI)
#
# Needs POPBOX_BIN_DIR (default build/bin) with popbox, popbox-stub.exe and
# setup-driver.exe, and makensis (Debian's nsis). The application folder is
# the benchmark corpus (bench/gather-corpus.sh) plus a few of Wine's large
# 32-bit DLLs, about 38 MB, and a Setup.ini.
#
# What is timed:
#   build        wall time of `popbox pack` and of `makensis`
#   to dialog    from the driver's start of the program to its first
#                window: the popbox dialog (dialog), the NSIS
#                directory page (window #32770)
#   install      popbox: from pressing OK in the dialog to the closing
#                question box, from the driver's transcript; NSIS: wall
#                time of the silent install (/S /D=...) as a whole, and less
#                the wall time of a silent NSIS installer with no files (its
#                start-up and exit), which is the figure compared
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
root="$here/../.."
bin="${POPBOX_BIN_DIR:-$root/build/bin}"
smoke=false
[ "${1:-}" != --smoke ] || { smoke=true; shift; set -- 1; }
runs="${1:-3}"
wine_prefix="$root/trial/wine_prefix.py"
winpath() { printf 'Z:%s' "$(realpath -m "$1" | sed 's|/|\\\\|g')"; }
prefix_path() { local rest="${1#C:\\}"; printf '%s/drive_c/%s\n' "$WINEPREFIX" "${rest//\\//}"; }

work="$(mktemp -d /tmp/popbox-install-bench.XXXXXX)"
trap 'wineserver -k 2>/dev/null; rm -rf "$work"' EXIT
app="$work/app"

# The application folder.
"$root/bench/gather-corpus.sh" "$app" >/dev/null
mkdir -p "$app/bin"
$smoke || for dll in shell32.dll msxml3.dll comctl32.dll ole32.dll; do
  cp -L "/usr/lib/i386-linux-gnu/wine/i386-windows/$dll" "$app/bin/"
done
$smoke && rm -rf "$app/text" "$app/gz"
# Both shortcuts, as a typical setup makes them (the NSIS script makes
# none); the closing question is answered Cancel, so nothing is started.
printf '%s\r\n' '[Install]' 'Title=Bench App Setup' 'AppDirCaption=Install Bench App to:' \
  'DefaultAppDir=<Program Files>\Bench App' 'StartProgramsLink=<Programs Menu>\Bench App.lnk' \
  'StartProgramsLinkSelected=yes' 'DesktopLink=<Desktop>\Bench App.lnk' 'DesktopLinkSelected=yes' \
  'LinkTarget=dll\notepad.exe' '' '[Installed Message]' 'Bench App is installed.' >"$app/Setup.ini"
# Files and bytes of a folder, Setup.ini aside (popbox installs its own
# saved copy of it).
tally() { find "$1" -type f ! -path "$1/Setup.ini" -printf '%s\n' | awk '{ n++; s += $1 } END { print n, s }'; }
app_tally="$(tally "$app")"

now() { date +%s.%N; }
elapsed() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", b - a }'; }
median() { tr ' ' '\n' | grep . | sort -g | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }

# One prefix for every Wine run (the NSIS scripts name its Program Files);
# a first run starts its wineserver, which then serves all the others alike.
eval "$(python3 "$wine_prefix" "$work/prefix")"

# Building.
t0="$(now)"
"$bin/popbox" pack "$app" -o "$work/popbox.exe" >/dev/null
build_popbox="$(elapsed "$t0" "$(now)")"

nsi() {  # COMPRESSOR OUT [FILES_FOLDER]
  printf 'Name "Bench App"\nOutFile "%s"\n' "$2"
  [ "$1" = lzma ] && printf 'SetCompressor /SOLID lzma\n' || printf 'SetCompressor zlib\n'
  printf 'InstallDir "%s\\Bench App"\nRequestExecutionLevel user\n' "$POPBOX_PROGRAM_FILES"
  printf 'Page directory\nPage instfiles\nSection\nSetOutPath "$INSTDIR"\n'
  [ -n "${3:-}" ] && printf 'File /r "%s/*"\n' "$3"
  printf 'SectionEnd\n'
}
for c in zlib lzma; do
  nsi "$c" "$work/nsis-$c.exe" "$app" >"$work/$c.nsi"
  t0="$(now)"
  makensis -V1 "$work/$c.nsi" >/dev/null
  eval "build_$c=\$(elapsed \"\$t0\" \"\$(now)\")"
done
nsi zlib "$work/nsis-empty.exe" >"$work/empty.nsi"
makensis -V1 "$work/empty.nsi" >/dev/null

wine "$work/nsis-empty.exe" /S "/D=C:\\popbox-test\\empty" >/dev/null 2>&1 || true
target_win="$POPBOX_PROGRAM_FILES\\Bench App"
target="$(prefix_path "$target_win")"

# Runs the driver on SETUP with STEPS and prints its transcript.
drive() {
  local setup="$1" log="$work/driver.log"
  shift
  rm -f "$log"
  python3 "$wine_prefix" --drive "$bin" "$setup" "$log" "$*" >/dev/null 2>&1 || {
    echo "driver failed:" >&2
    cat "$log" >&2
    return 1
  }
  tr -d '\r' <"$log"
}
# Milliseconds from the program's start to the window that the first wait
# step found.
to_window() {
  awk '/ start: / { s = $1 } /> (dialog|window)/ { w = 1; next } w && !d { d = $1 - s } END { print d }'
}
# Milliseconds from pressing OK to the box that the next wait found.
ok_to_box() {
  awk '/> ok/ && !p { p = $1; next } p && /> box/ { w = 1; next }
       w && !d { d = $1 - p } END { print d }'
}
installed_ok() { [ "$(tally "$target")" = "$app_tally" ]; }

dialog_popbox="" dialog_zlib="" dialog_lzma=""
install_popbox="" silent_zlib="" silent_lzma="" silent_empty=""
for ((r = 0; r < runs; r++)); do
  dialog_popbox+=" $(drive "$work/popbox.exe" "dialog; kill" | to_window)"
  for c in zlib lzma; do
    eval "dialog_$c+=\" \$(drive \"\$work/nsis-$c.exe\" 'window #32770; kill' | to_window)\""
  done

  rm -rf "$target"
  rm -f "$POPBOX_PROGRAMS_DIR/Bench App.lnk" "$POPBOX_DESKTOP_DIR/Bench App.lnk"
  install_popbox+=" $(drive "$work/popbox.exe" "dialog; ok; box; cancel; exit 0" |
    ok_to_box)"
  installed_ok || { echo "popbox did not install every file" >&2; exit 1; }
  for c in zlib lzma; do
    rm -rf "$target"
    t0="$(now)"
    wine "$work/nsis-$c.exe" /S "/D=$target_win" >/dev/null 2>&1
    eval "silent_$c+=\" \$(elapsed \"\$t0\" \"\$(now)\")\""
    rm -f "$target/Uninstall.exe"
    installed_ok || { echo "NSIS ($c) did not install every file" >&2; exit 1; }
  done
  t0="$(now)"
  wine "$work/nsis-empty.exe" /S "/D=C:\\popbox-test\\empty" >/dev/null 2>&1
  silent_empty+=" $(elapsed "$t0" "$(now)")"
done

ms_to_s() { awk -v ms="$1" 'BEGIN { printf "%.2f", ms / 1000 }'; }
size() { stat -c %s "$1"; }
m_dialog_popbox="$(ms_to_s "$(echo "$dialog_popbox" | median)")"
m_install_popbox="$(ms_to_s "$(echo "$install_popbox" | median)")"
m_empty="$(echo "$silent_empty" | median)"
for c in zlib lzma; do
  eval "m_dialog_$c=\$(ms_to_s \"\$(echo \"\$dialog_$c\" | median)\")"
  eval "m_silent_$c=\$(echo \"\$silent_$c\" | median)"
  eval "m_net_$c=\$(elapsed \"\$m_empty\" \"\$m_silent_$c\")"
done
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { if (b > 0) printf "%.2f", a / b; else print "-" }'; }

echo "Application folder: $(tally "$app" | sed "s/ / files, /") bytes besides Setup.ini. Wine timings: median of $runs runs."
echo "Raw runs (s or ms): popbox dialog ms [$dialog_popbox ], install ms [$install_popbox ];" \
  "NSIS zlib dialog ms [$dialog_zlib ], silent s [$silent_zlib ];" \
  "NSIS LZMA dialog ms [$dialog_lzma ], silent s [$silent_lzma ]; empty NSIS silent s [$silent_empty ]"
echo
echo "| | popbox | NSIS zlib | NSIS LZMA (solid) |"
echo "|---|---:|---:|---:|"
echo "| setup file bytes | $(size "$work/popbox.exe") | $(size "$work/nsis-zlib.exe") | $(size "$work/nsis-lzma.exe") |"
echo "| build s (host) | $build_popbox | $build_zlib | $build_lzma |"
echo "| start to first window s | $m_dialog_popbox | $m_dialog_zlib | $m_dialog_lzma |"
echo "| install s (popbox: OK to closing box; NSIS: silent run less empty installer's $m_empty s) |" \
  "$m_install_popbox | $m_net_zlib | $m_net_lzma |"
echo "| NSIS silent run, whole wall time s | - | $m_silent_zlib | $m_silent_lzma |"
echo
echo "Ratios, NSIS / popbox (above 1: popbox is smaller or faster):"
echo
echo "| | NSIS zlib / popbox | NSIS LZMA / popbox |"
echo "|---|---:|---:|"
echo "| setup file size | $(ratio "$(size "$work/nsis-zlib.exe")" "$(size "$work/popbox.exe")") |" \
  "$(ratio "$(size "$work/nsis-lzma.exe")" "$(size "$work/popbox.exe")") |"
echo "| build time | $(ratio "$build_zlib" "$build_popbox") | $(ratio "$build_lzma" "$build_popbox") |"
echo "| start to first window | $(ratio "$m_dialog_zlib" "$m_dialog_popbox") |" \
  "$(ratio "$m_dialog_lzma" "$m_dialog_popbox") |"
echo "| install | $(ratio "$m_net_zlib" "$m_install_popbox") | $(ratio "$m_net_lzma" "$m_install_popbox") |"
