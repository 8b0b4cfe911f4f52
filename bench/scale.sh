#!/usr/bin/env bash
# Scale checks: how popbox's time and memory grow with the size of inputs of
# one shape. Each section prints a Markdown table with a row per size; MB/s
# that falls as the size grows is time that grows faster than the size.
#
#   [RUNS=1] bench/scale.sh [--smoke] [SIZE_MIB...]    (default 16 64 128 256)
#
# --smoke: sizes 1 4 8, a few seconds in all. Sections:
#   runs  `popbox pack` of one file of SIZE MiB of zeros, with one job and
#         with nproc (8 MiB and more is the writer's file, planned on all
#         jobs; smaller ones are compressed whole on one thread).
# Needs POPBOX_BIN_DIR (default build/bin) with popbox and popbox-stub.exe;
# POPBOX_STUB names another stub. Each row is the fastest of RUNS runs: wall
# seconds and peak resident memory from /usr/bin/time.
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
bin="${POPBOX_BIN_DIR:-$here/../build/bin}"
runs="${RUNS:-1}"
jobs="$(nproc)"
stub=()
[ -n "${POPBOX_STUB:-}" ] && stub=(--stub "$POPBOX_STUB")
sizes=(16 64 128 256)
if [ "${1:-}" = --smoke ]; then
  sizes=(1 4 8)
  shift
fi
[ $# -gt 0 ] && sizes=("$@")

work="$(mktemp -d /tmp/popbox-scale.XXXXXX)"
trap 'rm -rf "$work"' EXIT

# timed COMMAND...: the fastest of RUNS runs into $seconds and $peak_mib.
timed() {
  local s k best=
  for ((run = 0; run < runs; run++)); do
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
# row LABEL BYTES: a table row of the last timed command.
row() {
  local rate
  rate="$(awk -v b="$2" -v s="$seconds" 'BEGIN { if (s > 0) printf "%.1f", b / 1e6 / s; else print "-" }')"
  printf '| %s | %s | %s | %d |\n' "$1" "$seconds" "$rate" "$peak_mib"
}
head_row() {
  printf '\n%s\n\n| %s | seconds | MB/s | peak MiB |\n|---|---:|---:|---:|\n' "$1" "$2"
}
# app DIR: an application folder whose Setup.ini opens big.bin.
app() {
  mkdir -p "$1"
  printf '%s\r\n' '[Install]' 'Title=Scale' 'DefaultAppDir=<Program Files>\Scale' \
    'StartProgramsLink=<Programs Menu>\Scale.lnk' 'DesktopLink=<Desktop>\Scale.lnk' \
    'LinkTarget=big.bin' >"$1/Setup.ini"
}

section_runs() {
  local mib j
  head_row "Runs of one byte: popbox pack of one file of zeros" "MiB, jobs"
  app "$work/runs"
  for mib in "${sizes[@]}"; do
    head -c $((mib * 1048576)) /dev/zero >"$work/runs/big.bin"
    for j in 1 "$jobs"; do
      timed "$bin/popbox" pack "$work/runs" -o "$work/runs.exe" -q --jobs "$j" "${stub[@]}"
      row "$mib, $j" $((mib * 1048576))
    done
  done
  rm -rf "$work/runs" "$work/runs.exe"
}

# The sections, in order: a new one is a section_NAME function above and
# its NAME here.
sections=(runs)
echo "popbox scale checks: $(nproc) cores, sizes ${sizes[*]} MiB, best of $runs"
for section in "${sections[@]}"; do
  "section_$section"
done
