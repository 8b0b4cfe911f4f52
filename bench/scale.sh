#!/usr/bin/env bash
# Scale checks: how popbox's time and memory grow with the size of inputs of
# one shape. Each section prints a Markdown table with a row per size; a
# rate that falls as the size grows is time that grows faster than the
# size.
#
#   [RUNS=1] bench/scale.sh [--smoke] [SECTION...]     (default: every section)
#
# Sections, each with its sizes (--smoke: small ones, a few seconds in all):
#   runs     `popbox pack` of one file of N MiB of zeros, with one job and
#            with nproc (8 MiB and more is the writer's file, planned on all
#            jobs; smaller ones are compressed whole on one thread).
#            N = 16 64 128 256 (smoke 1 4 8).
#   files    `popbox extract` of a setup of N empty files in one folder,
#            beside `touch` of the same names in a fresh folder: the file
#            system's own cost, which varies with the machine's load, is
#            the floor. N = 10000 20000 40000 (smoke 100 200 400).
#   exclude  `popbox check` of a folder of 100 files with names of 200
#            letters and the --exclude pattern *a*a...*b of N stars, which
#            matches none of them. N = 4 8 16 32 (smoke 2 4 8).
# Needs POPBOX_BIN_DIR (default build/bin) with popbox and popbox-stub.exe;
# POPBOX_STUB names another stub. Each row is the fastest of RUNS runs: wall
# seconds and peak resident memory from /usr/bin/time.
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
bin="${POPBOX_BIN_DIR:-$here/../build/bin}"
runs="${RUNS:-1}"
jobs="$(nproc)"
stub=(--stub "${POPBOX_STUB:-$bin/popbox-stub.exe}")
smoke=false
[ "${1:-}" != --smoke ] || { smoke=true; shift; }
sections=("$@")
[ ${#sections[@]} -gt 0 ] || sections=(runs files exclude)
# sizes FULL... -- SMOKE...: the sizes of a section.
sizes() {
  local full=() small=()
  while [ "$1" != -- ]; do full+=("$1"); shift; done
  shift
  small=("$@")
  if $smoke; then echo "${small[@]}"; else echo "${full[@]}"; fi
}

work="$(mktemp -d /tmp/popbox-scale.XXXXXX)"
trap 'rm -rf "$work"' EXIT

# timed COMMAND...: the fastest of RUNS runs into $seconds and $peak_mib.
timed() {
  local s k best=
  for ((run = 0; run < runs; run++)); do
    sync  # the writeback of files just made would run beside the command
    /usr/bin/time -f '%e %M' -o "$work/time" "$@" >/dev/null 2>"$work/stderr" || {
      cat "$work/stderr" >&2
      exit 1
    }
    read -r s k <"$work/time"
    if [ -z "$best" ] || awk -v a="$s" -v b="$best" 'BEGIN { exit !(a < b) }'; then
      best=$s
      peak_mib=$((k / 1024))
    fi
  done
  seconds=$best
}
# row LABEL AMOUNT UNIT [MORE]: a table row of the last timed command, with
# AMOUNT / seconds as the rate and MORE as a last column.
row() {
  local rate
  rate="$(awk -v a="$2" -v s="$seconds" 'BEGIN { if (s > 0) printf "%.1f", a / s; else print "-" }')"
  printf '| %s | %s | %s | %d |%s\n' "$1" "$seconds" "$rate" "$peak_mib" "${4:+ $4 |}"
}
head_row() {  # TITLE SIZE-COLUMN RATE-COLUMN [MORE-COLUMN]
  printf '\n%s\n\n| %s | seconds | %s | peak MiB |%s\n|---|---:|---:|---:|%s\n' "$1" "$2" "$3" \
    "${4:+ $4 |}" "${4:+---:|}"
}
# app DIR TARGET: an application folder whose Setup.ini opens TARGET.
app() {
  mkdir -p "$1"
  printf '%s\r\n' '[Install]' 'Title=Scale' 'DefaultAppDir=<Program Files>\Scale' \
    'StartProgramsLink=<Programs Menu>\Scale.lnk' 'DesktopLink=<Desktop>\Scale.lnk' \
    "LinkTarget=$2" >"$1/Setup.ini"
}

section_runs() {
  local mib j
  head_row "Runs of one byte: popbox pack of one file of zeros" "MiB, jobs" "MB/s"
  app "$work/runs" big.bin
  for mib in $(sizes 16 64 128 256 -- 1 4 8); do
    head -c $((mib * 1048576)) /dev/zero >"$work/runs/big.bin"
    for j in 1 "$jobs"; do
      timed "$bin/popbox" pack "$work/runs" -o "$work/runs.exe" -q --jobs "$j" "${stub[@]}"
      row "$mib, $j" "$(awk -v m="$mib" 'BEGIN { print m * 1.048576 }')"
    done
  done
  rm -rf "$work/runs" "$work/runs.exe"
}

section_files() {
  local n touch_s
  head_row "Many files in one folder: popbox extract" "files" "files/s" "touch s"
  for n in $(sizes 10000 20000 40000 -- 100 200 400); do
    app "$work/files" f1.txt
    (cd "$work/files" && seq 1 "$n" | sed 's/.*/f&.txt/' | xargs touch)
    "$bin/popbox" pack "$work/files" -o "$work/files.exe" -q "${stub[@]}"
    rm -rf "$work/files"
    timed sh -c 'rm -rf "$2" && exec "$0" extract "$1" "$2"' "$bin/popbox" "$work/files.exe" \
      "$work/out"
    [ "$(find "$work/out" -type f | wc -l)" -eq $((n + 1)) ] || {
      echo "scale: extract did not write $((n + 1)) files" >&2
      exit 1
    }
    local extract_s=$seconds extract_mib=$peak_mib
    timed sh -c 'rm -rf "$0" && mkdir "$0" && cd "$0" && seq 1 "$1" | sed "s/.*/f&.txt/" | xargs touch' \
      "$work/touched" "$n"
    touch_s=$seconds
    seconds=$extract_s peak_mib=$extract_mib
    row "$n" "$n" "" "$touch_s"
    rm -rf "$work/out" "$work/touched" "$work/files.exe"
  done
}

section_exclude() {
  local stars pattern i
  head_row "Exclude patterns: popbox check of 100 names of 200 letters, *a*a...*b" "stars" \
    "names/s"
  app "$work/exclude" Setup.ini
  for ((i = 0; i < 100; i++)); do
    : >"$work/exclude/$(printf 'a%.0s' $(seq 1 196))$(printf '%03d' "$i")"
  done
  for stars in $(sizes 4 8 16 32 -- 2 4 8); do
    pattern="$(printf '*a%.0s' $(seq 2 "$stars"))*b"
    timed "$bin/popbox" check "$work/exclude" -q --exclude "$pattern"
    row "$stars" 100
  done
  rm -rf "$work/exclude"
}

echo "popbox scale checks: $(nproc) cores, best of $runs$($smoke && echo ', smoke sizes')"
for section in "${sections[@]}"; do
  "section_$section"
done
