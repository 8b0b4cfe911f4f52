#!/usr/bin/env bash
# Packing speed and memory, in one run on one folder: `popbox pack` with one
# job and with N against `tar | gzip -9` and `tar | xz -9`, then one large
# file alone (time and peak memory with one job and with N), then the
# decoder against LZ4 and zlib (popbox-bench on the small corpus).
#
#   [RUNS=3] bench/pack-speed.sh [LARGE_MB] [JOBS]     (defaults 300 and nproc)
#   bench/pack-speed.sh --smoke      the same on a few megabytes, once (CI)
#
# The folder is the benchmark corpus (bench/gather-corpus.sh: Wine's DLLs,
# licence texts, manual pages, .gz files) plus four of Wine's large 32-bit
# DLLs, the application folder of bench/install/run.sh. The large file is
# that folder's files laid end to end until it is LARGE_MB megabytes.
# Needs POPBOX_BIN_DIR (default build/bin) with popbox and popbox-bench.
# Every row is the fastest of RUNS runs (default 3; xz runs once), the
# runs of the programs compared taking turns: wall time, CPU time and peak
# resident memory from /usr/bin/time. The first run of a program that uses
# memory pays for faulting it in, which on a virtual machine costs more
# than on the bare one, and the machine's speed drifts; the best of a few
# runs of each program, in turns, compares the programs.
# `--jobs N` compresses on at most N threads, so with one job the CPU
# seconds are about the wall seconds.
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
bin="${POPBOX_BIN_DIR:-$here/../build/bin}"
smoke=false
if [ "${1:-}" = --smoke ]; then
  smoke=true
  shift
  set -- 2 "${2:-2}"
  RUNS=1
fi
large_mb="${1:-300}"
jobs="${2:-$(nproc)}"
runs="${RUNS:-3}"

work="$(mktemp -d /tmp/popbox-pack-speed.XXXXXX)"
trap 'rm -rf "$work"' EXIT
app="$work/app"
"$here/gather-corpus.sh" "$app" >/dev/null
cp -r "$app" "$work/corpus"  # the small corpus, for popbox-bench
mkdir -p "$app/bin"
$smoke || for dll in shell32.dll msxml3.dll comctl32.dll ole32.dll; do
  cp -L "/usr/lib/i386-linux-gnu/wine/i386-windows/$dll" "$app/bin/"
done
script() {  # LINKTARGET
  printf '%s\r\n' '[Install]' 'Title=Bench App Setup' 'DefaultAppDir=<Program Files>\Bench App' \
    'StartProgramsLink=<Programs Menu>\Bench App.lnk' 'DesktopLink=<Desktop>\Bench App.lnk' \
    "LinkTarget=$1"
}
script 'dll\notepad.exe' >"$app/Setup.ini"
bytes="$(find "$app" -type f -printf '%s\n' | awk '{ s += $1 } END { print s }')"
sync  # the new files' writeback would otherwise run beside the first program timed

# time_once KEY COMMAND...: one timed run; the fastest run of each KEY is
# kept: wall seconds in seconds[KEY], CPU seconds (user and system, all
# threads) in cpu[KEY], peak KiB in kib[KEY].
declare -A seconds cpu kib
time_once() {
  local key=$1 s u sy k
  shift
  /usr/bin/time -f '%e %U %S %M' -o "$work/time" "$@" >/dev/null 2>"$work/stderr" || {
    cat "$work/stderr" >&2
    exit 1
  }
  read -r s u sy k <"$work/time"
  if [ -z "${seconds[$key]:-}" ] || awk -v a="$s" -v b="${seconds[$key]}" 'BEGIN { exit !(a < b) }'; then
    seconds[$key]=$s
    cpu[$key]="$(awk -v u="$u" -v s="$sy" 'BEGIN { printf "%.2f", u + s }')"
    kib[$key]=$k
  fi
}
# row NAME KEY OUTPUT: the table row of KEY's fastest run and the output's size.
row() {
  printf '| %s | %s | %s | %d | %d |\n' "$1" "${seconds[$2]}" "${cpu[$2]}" $((kib[$2] / 1024)) \
    "$(stat -c %s "$3")"
}
head_row() {
  echo "| packer | seconds | CPU seconds | peak MiB | output bytes |"
  echo "|---|---:|---:|---:|---:|"
}
mbs() { awk -v b="$1" -v s="$2" 'BEGIN { printf "%.1f", b / 1e6 / s }'; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", a / b }'; }
# pack FOLDER NAME JOBS: one timed `popbox pack` into $work/NAME-JOBS.exe.
pack() {
  time_once "$2-$3" "$bin/popbox" pack "$1" -o "$work/$2-$3.exe" -q --jobs "$3"
}
same() { cmp -s "$work/$1-1.exe" "$work/$1-$jobs.exe" || echo "(the two setups differ: a fault)"; }

echo "Folder: $(find "$app" -type f | wc -l) files, $bytes bytes; $(nproc) cores, jobs $jobs"
echo
# The runs of the three take turns, so that a drift of the machine's speed
# touches them alike.
for ((run = 0; run < runs; run++)); do
  pack "$app" folder 1
  pack "$app" folder "$jobs"
  time_once gzip sh -c "tar -C '$app' -cf - . | gzip -9 >'$work/app.tar.gz'"
done
time_once xz sh -c "tar -C '$app' -cf - . | xz -9 -T1 >'$work/app.tar.xz'"  # once: 20 s and more
head_row
row "popbox pack --jobs 1" folder-1 "$work/folder-1.exe"
row "popbox pack --jobs $jobs" "folder-$jobs" "$work/folder-$jobs.exe"
row "tar | gzip -9" gzip "$work/app.tar.gz"
row "tar | xz -9" xz "$work/app.tar.xz"
same folder
one=${seconds[folder-1]}
echo
echo "Encode MB/s: $(mbs "$bytes" "$one") with one job, $(mbs "$bytes" "${seconds[folder-$jobs]}")" \
  "with $jobs. gzip -9 / popbox --jobs 1: $(ratio "${seconds[gzip]}" "$one");" \
  "xz -9 / popbox --jobs 1: $(ratio "${seconds[xz]}" "$one")."

# One large file: the folder's files end to end.
mkdir -p "$work/large"
script big.bin >"$work/large/Setup.ini"
: >"$work/large/big.bin"
while [ "$(stat -c %s "$work/large/big.bin")" -lt $((large_mb * 1000000)) ]; do
  find "$app" -type f ! -name Setup.ini -print0 | sort -z | xargs -0 cat >>"$work/large/big.bin"
done
truncate -s $((large_mb * 1000000)) "$work/large/big.bin"
sync
echo
echo "One file of $((large_mb * 1000000)) bytes; peak memory bound (2 x file + 64 MiB):" \
  "$(((2 * large_mb * 1000000) / 1048576 + 64)) MiB"
echo
for ((run = 0; run < runs; run++)); do
  pack "$work/large" large 1
  pack "$work/large" large "$jobs"
done
head_row
row "popbox pack --jobs 1" large-1 "$work/large-1.exe"
row "popbox pack --jobs $jobs" "large-$jobs" "$work/large-$jobs.exe"
same large
echo
echo "Speed-up of one large file with $jobs jobs: $(ratio "${seconds[large-1]}" "${seconds[large-$jobs]}")"
rm -rf "$work/large" "$work"/large-*.exe

echo
echo "Decoder and encoders per file on the small corpus ($(du -sb "$work/corpus" | cut -f1) bytes), popbox-bench:"
echo
"$bin/popbox-bench" --min-time "$($smoke && echo 0.01 || echo 0.5)" "$work/corpus"
