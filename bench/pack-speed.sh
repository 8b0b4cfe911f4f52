#!/usr/bin/env bash
# Packing speed and memory, in one run on one folder: `popbox pack` with one
# job and with N against `tar | gzip -9` and `tar | xz -9`, then one large
# file alone (time and peak memory with one job and with N), then the
# decoder against LZ4 and zlib (popbox-bench on the small corpus).
#
#   [RUNS=3] bench/pack-speed.sh [LARGE_MB] [JOBS]     (defaults 300 and nproc)
#
# The folder is the benchmark corpus (bench/gather-corpus.sh: Wine's DLLs,
# licence texts, manual pages, .gz files) plus four of Wine's large 32-bit
# DLLs, the application folder of bench/install/run.sh. The large file is
# that folder's files laid end to end until it is LARGE_MB megabytes.
# Needs POPBOX_BIN_DIR (default build/bin) with popbox and popbox-bench.
# Every row is the fastest of RUNS runs (default 3; xz runs once): wall
# time, CPU time and peak resident memory from /usr/bin/time. The first
# run of a program that uses memory pays for faulting it in, which on a
# virtual machine costs more than on the bare one, and the machine's speed
# drifts; the best of a few runs of each program compares the programs.
# `--jobs N` compresses on at most N threads, so with one job the CPU
# seconds are about the wall seconds.
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
bin="${POPBOX_BIN_DIR:-$here/../build/bin}"
large_mb="${1:-300}"
jobs="${2:-$(nproc)}"
runs="${RUNS:-3}"

work="$(mktemp -d /tmp/popbox-pack-speed.XXXXXX)"
trap 'rm -rf "$work"' EXIT
app="$work/app"
"$here/gather-corpus.sh" "$app" >/dev/null
cp -r "$app" "$work/corpus"  # the small corpus, for popbox-bench
mkdir -p "$app/bin"
for dll in shell32.dll msxml3.dll comctl32.dll ole32.dll; do
  cp -L "/usr/lib/i386-linux-gnu/wine/i386-windows/$dll" "$app/bin/"
done
script() {  # LINKTARGET
  printf '%s\r\n' '[Install]' 'Title=Bench App Setup' 'DefaultAppDir=<Program Files>\Bench App' \
    'StartProgramsLink=<Programs Menu>\Bench App.lnk' 'DesktopLink=<Desktop>\Bench App.lnk' \
    "LinkTarget=$1"
}
script 'dll\notepad.exe' >"$app/Setup.ini"
bytes="$(find "$app" -type f -printf '%s\n' | awk '{ s += $1 } END { print s }')"

# measure NAME OUTPUT COMMAND...: a table row of wall seconds, CPU seconds
# (user and system, all threads), peak MiB and the output's size, from the
# fastest of $runs runs; the wall seconds are kept in $seconds for the
# ratios.
measure() {
  local name=$1 output=$2 run s u sy k
  shift 2
  seconds=""
  for ((run = 0; run < runs; run++)); do
    /usr/bin/time -f '%e %U %S %M' -o "$work/time" "$@" >/dev/null 2>"$work/stderr" || {
      cat "$work/stderr" >&2
      exit 1
    }
    read -r s u sy k <"$work/time"
    if [ -z "$seconds" ] || awk -v a="$s" -v b="$seconds" 'BEGIN { exit !(a < b) }'; then
      seconds=$s user=$u system=$sy kib=$k
    fi
  done
  printf '| %s | %s | %s | %d | %d |\n' "$name" "$seconds" "$(awk -v u="$user" -v s="$system" \
    'BEGIN { printf "%.2f", u + s }')" $((kib / 1024)) "$(stat -c %s "$output")"
}
mbs() { awk -v b="$1" -v s="$2" 'BEGIN { printf "%.1f", b / 1e6 / s }'; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", a / b }'; }
# pack_twice FOLDER NAME: the table head and rows of `popbox pack` with one
# job and with $jobs, whose setups must be the same; seconds in $one, $n.
pack_twice() {
  echo "| packer | seconds | CPU seconds | peak MiB | output bytes |"
  echo "|---|---:|---:|---:|---:|"
  measure "popbox pack --jobs 1" "$work/$2-1.exe" "$bin/popbox" pack "$1" -o "$work/$2-1.exe" -q --jobs 1
  one=$seconds
  measure "popbox pack --jobs $jobs" "$work/$2-n.exe" "$bin/popbox" pack "$1" -o "$work/$2-n.exe" -q \
    --jobs "$jobs"
  n=$seconds
  cmp -s "$work/$2-1.exe" "$work/$2-n.exe" || echo "(the two setups differ: a fault)"
}

echo "Folder: $(find "$app" -type f | wc -l) files, $bytes bytes; $(nproc) cores, jobs $jobs"
echo
pack_twice "$app" folder
measure "tar | gzip -9" "$work/app.tar.gz" sh -c "tar -C '$app' -cf - . | gzip -9 >'$work/app.tar.gz'"
gzip=$seconds
runs=1  # 20 seconds and more a run
measure "tar | xz -9" "$work/app.tar.xz" sh -c "tar -C '$app' -cf - . | xz -9 -T1 >'$work/app.tar.xz'"
runs="${RUNS:-3}"
xz=$seconds
echo
echo "Encode MB/s: $(mbs "$bytes" "$one") with one job, $(mbs "$bytes" "$n") with $jobs." \
  "gzip -9 / popbox --jobs 1: $(ratio "$gzip" "$one"); xz -9 / popbox --jobs 1: $(ratio "$xz" "$one")."

# One large file: the folder's files end to end.
mkdir -p "$work/large"
script big.bin >"$work/large/Setup.ini"
: >"$work/large/big.bin"
while [ "$(stat -c %s "$work/large/big.bin")" -lt $((large_mb * 1000000)) ]; do
  find "$app" -type f ! -name Setup.ini -print0 | sort -z | xargs -0 cat >>"$work/large/big.bin"
done
truncate -s $((large_mb * 1000000)) "$work/large/big.bin"
echo
echo "One file of $((large_mb * 1000000)) bytes; peak memory bound (2 x file + 64 MiB):" \
  "$(((2 * large_mb * 1000000) / 1048576 + 64)) MiB"
echo
pack_twice "$work/large" large
echo
echo "Speed-up of one large file with $jobs jobs: $(ratio "$one" "$n")"
rm -rf "$work/large" "$work"/large-*.exe

echo
echo "Decoder and encoders per file on the small corpus ($(du -sb "$work/corpus" | cut -f1) bytes), popbox-bench:"
echo
"$bin/popbox-bench" "$work/corpus"
