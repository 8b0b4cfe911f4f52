#!/usr/bin/env bash
# How the stub scales with the payload, under Wine:
#   - time from start to the dialog with a small and a large payload of
#     stored (random) files: the setup script is the first record, so the
#     stub should not read further before the dialog shows;
#   - the stub's peak memory while installing a payload whose largest file
#     is large and compresses, against that record's packed and unpacked
#     sizes, beside the peak of installing the small payload.
#
#   bench/install/scale.sh [LARGE_MB] [BIG_FILE_MB] [RUNS]
#                          (defaults 500, 200 and 3; median of RUNS)
#   bench/install/scale.sh --smoke     2 MB, 2 MB, one run (CI)
#
# Needs POPBOX_BIN_DIR (default build/bin) with popbox, popbox-stub.exe and
# setup-driver.exe. Peak memory is VmHWM of the stub's process; on a kernel
# without 32-bit support that process is qemu-i386 running Wine running the
# stub, so the figure includes qemu's and Wine's own memory.
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
root="$here/../.."
bin="${POPBOX_BIN_DIR:-$root/build/bin}"
[ "${1:-}" != --smoke ] || set -- 2 2 1
large_mb="${1:-500}"
big_mb="${2:-200}"
runs="${3:-3}"
wine_prefix="$root/trial/wine_prefix.py"
winpath() { printf 'Z:%s' "$(realpath -m "$1" | sed 's|/|\\\\|g')"; }
prefix_path() { local rest="${1#C:\\}"; printf '%s/drive_c/%s\n' "$WINEPREFIX" "${rest//\\//}"; }

work="$(mktemp -d /tmp/popbox-scale-bench.XXXXXX)"
trap 'wineserver -k 2>/dev/null; rm -rf "$work"' EXIT

script() {
  printf '%s\r\n' '[Install]' "Title=Scale $1" 'AppDirCaption=Install to:' \
    'DefaultAppDir=<Program Files>\Scale' 'StartProgramsLink=<Programs Menu>\Scale.lnk' \
    'StartProgramsLinkSelected=no' 'DesktopLink=<Desktop>\Scale.lnk' 'DesktopLinkSelected=yes' \
    'LinkTarget=Setup.ini' >"$2/Setup.ini"
}
# A folder of random files (they are stored), MB megabytes in 50 MB files.
random_app() {
  local dir="$1" mb="$2" i=0
  mkdir -p "$dir"
  script "$mb MB" "$dir"
  while [ "$mb" -gt 0 ]; do
    local n=$((mb < 50 ? mb : 50))
    head -c $((n * 1048576)) /dev/urandom >"$dir/data$i.bin"
    mb=$((mb - n))
    i=$((i + 1))
  done
}
random_app "$work/small" 1
random_app "$work/large" "$large_mb"
"$bin/popbox" pack "$work/small" -o "$work/small.exe" >/dev/null
"$bin/popbox" pack "$work/large" -o "$work/large.exe" >/dev/null
rm -rf "$work/large"

# One large file that compresses: numbered text lines with a little noise.
mkdir -p "$work/big"
script "big file" "$work/big"
python3 - "$work/big/big.dat" "$big_mb" <<'PY'
import random, sys
r = random.Random(1)
words = [b"setup", b"payload", b"record", b"window", b"folder", b"install", b"value", b"stream"]
with open(sys.argv[1], "wb") as out:
    left = int(sys.argv[2]) * 1048576
    n = 0
    while left > 0:
        block = b"".join(b"%08d %s %s %d\r\n" % (n + i, r.choice(words), r.choice(words), r.randrange(1000))
                         for i in range(4096))
        n += 4096
        block = block[:left]
        out.write(block)
        left -= len(block)
PY
t0="$(date +%s.%N)"
"$bin/popbox" pack "$work/big" -o "$work/big.exe" >/dev/null
pack_big="$(awk -v a="$t0" -v b="$(date +%s.%N)" 'BEGIN { printf "%.1f", b - a }')"
big_record="$("$bin/popbox" list "$work/big.exe" | awk '$4 == "big.dat" { print $2, $3 }')"
rm -rf "$work/big"

eval "$(python3 "$wine_prefix" "$work/prefix")"
wineserver -p
target="$(prefix_path "$POPBOX_PROGRAM_FILES\\Scale")"

drive_log() {  # SETUP STEPS...: runs the driver, transcript to $work/driver.log
  local setup="$1"
  shift
  python3 "$wine_prefix" --drive "$bin" "$setup" "$work/driver.log" "$*" >/dev/null 2>&1 || {
    echo "driver failed:" >&2
    cat "$work/driver.log" >&2
    return 1
  }
}
to_dialog() {
  tr -d '\r' <"$work/driver.log" |
    awk '/ start: / { s = $1 } /> dialog/ { w = 1; next } w && !d { d = $1 - s } END { print d }'
}
median() { tr ' ' '\n' | grep . | sort -g | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }

declare -A dialog
for name in small large; do
  dialog[$name]=""
  for ((r = 0; r < runs; r++)); do
    drive_log "$work/$name.exe" "dialog; kill"
    dialog[$name]+=" $(to_dialog)"
  done
done

# Peak memory of the stub's process while it installs SETUP. Its command
# line ends with the setup's name, as the driver's does (the driver names
# the setup last), which is passed over; VmHWM is polled until the process
# is gone.
peak_install() {
  local setup="$1" pid="" hwm=0 v i
  rm -rf "$target"
  rm -f "$POPBOX_DESKTOP_DIR/Scale.lnk"
  drive_log "$setup" "dialog; ok; box; cancel; exit 0" &
  local driver=$!
  for ((i = 0; i < 2000; i++)); do
    for pid in $(pgrep -f -- "$(basename "$setup" .exe)\\.exe\$") ""; do
      [ -z "$pid" ] || ! grep -q setup-driver "/proc/$pid/cmdline" 2>/dev/null && break
    done
    [ -n "$pid" ] && break
    sleep 0.02
  done
  while [ -n "$pid" ] && v="$(awk '/^VmHWM/ { print $2 }' "/proc/$pid/status" 2>/dev/null)" &&
    [ -n "$v" ]; do
    hwm="$v"
    sleep 0.05
  done
  wait "$driver"
  echo "$hwm"
}
ms_to_s() { awk -v ms="$1" 'BEGIN { printf "%.2f", ms / 1000 }'; }
kb_to_mb() { awk -v kb="$1" 'BEGIN { printf "%.1f", kb / 1024 }'; }
read -r big_size big_packed <<<"$big_record"

echo "Start to dialog (median of $runs runs; raw ms: 1 MB [${dialog[small]} ], $large_mb MB [${dialog[large]} ]):"
echo
echo "| payload | setup bytes | start to dialog s |"
echo "|---|---:|---:|"
echo "| 1 MB stored | $(stat -c %s "$work/small.exe") | $(ms_to_s "$(echo "${dialog[small]}" | median)") |"
echo "| $large_mb MB stored | $(stat -c %s "$work/large.exe") | $(ms_to_s "$(echo "${dialog[large]}" | median)") |"
echo
hwm_small="$(peak_install "$work/small.exe")"
hwm_big="$(peak_install "$work/big.exe")"
[ "$(stat -c %s "$target/big.dat")" = "$((big_mb * 1048576))" ] || {
  echo "the big file was not installed whole" >&2
  exit 1
}
echo "Peak memory (VmHWM of the stub's process; under qemu-i386, of qemu running Wine running the stub) while installing:"
echo
echo "| payload | largest record unpacked MB | packed MB | peak MB | peak less the 1 MB install's |"
echo "|---|---:|---:|---:|---:|"
echo "| 1 MB stored | 1.0 | 1.0 | $(kb_to_mb "$hwm_small") | - |"
echo "| ${big_mb} MB file, compressed (packed in ${pack_big} s) | $(kb_to_mb "$((big_size / 1024))") |" \
  "$(kb_to_mb "$((big_packed / 1024))") | $(kb_to_mb "$hwm_big") | $(kb_to_mb "$((hwm_big - hwm_small))") |"
