#!/usr/bin/env bash
# How `popbox extract` scales with the number of files in one folder: for
# each N, a folder of Setup.ini and N tiny files is packed, and the
# extraction of that setup into a fresh folder is timed. Prints a Markdown
# table of N against seconds (wall time, one run each), beside the time
# `touch` takes to make the same names in a fresh folder: making a file in
# a folder of tens of thousands costs the file system itself tens of
# microseconds, which varies with the machine's load, and that is the floor.
#
#   bench/scale-extract.sh [--smoke] [N...]     (default N: 10000 20000 40000)
#
# --smoke runs tiny N (100 and 200) in a few seconds. Needs POPBOX_BIN_DIR
# (default build/bin) with popbox and popbox-stub.exe.
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
bin="${POPBOX_BIN_DIR:-$here/../build/bin}"
counts=()
for arg in "$@"; do
  if [ "$arg" = --smoke ]; then counts+=(100 200); else counts+=("$arg"); fi
done
[ ${#counts[@]} -gt 0 ] || counts=(10000 20000 40000)

work="$(mktemp -d /tmp/popbox-scale-extract.XXXXXX)"
trap 'rm -rf "$work"' EXIT

echo "| files in one folder | extract seconds | touch seconds |"
echo "|---:|---:|---:|"
for n in "${counts[@]}"; do
  app="$work/app-$n"
  mkdir -p "$app"
  printf '%s\r\n' '[Install]' 'Title=Scale Setup' 'DefaultAppDir=<Program Files>\Scale' \
    'StartProgramsLink=<Programs Menu>\Scale.lnk' 'DesktopLink=<Desktop>\Scale.lnk' \
    'LinkTarget=f1.txt' >"$app/Setup.ini"
  (cd "$app" && seq 1 "$n" | sed 's/.*/f&.txt/' | xargs touch)
  "$bin/popbox" pack "$app" -o "$work/setup-$n.exe" --stub "$bin/popbox-stub.exe" -q
  rm -rf "$app"
  sync  # the writeback of the files just made and removed would run beside the extraction
  start=$(date +%s.%N)
  "$bin/popbox" extract "$work/setup-$n.exe" "$work/out-$n" >/dev/null
  end=$(date +%s.%N)
  written=$(find "$work/out-$n" -type f | wc -l)
  [ "$written" -eq $((n + 1)) ] || { echo "extract wrote $written files, not $((n + 1))" >&2; exit 1; }
  rm -rf "$work/out-$n" "$work/setup-$n.exe"
  mkdir "$work/touch-$n"
  sync
  touch_start=$(date +%s.%N)
  (cd "$work/touch-$n" && seq 1 "$n" | sed 's/.*/f&.txt/' | xargs touch)
  touch_end=$(date +%s.%N)
  rm -rf "$work/touch-$n"
  awk -v n="$n" -v s="$start" -v e="$end" -v ts="$touch_start" -v te="$touch_end" \
    'BEGIN { printf "| %d | %.2f | %.2f |\n", n, e - s, te - ts }'
done
