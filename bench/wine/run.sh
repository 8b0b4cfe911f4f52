#!/usr/bin/env bash
# The payload decoder's speed under Wine beside its speed on the host, on
# the benchmark corpus. Prints a Markdown table.
#
#   bench/wine/run.sh [CORPUS_FOLDER]
#   bench/wine/run.sh --smoke       the text files of the corpus, briefly (CI)
#
# Needs POPBOX_BIN_DIR (default build/bin) with popbox-bench, dump-packed,
# decode-bench.exe and decode-bench-os.exe. Without a corpus folder one is
# gathered into a temporary folder with bench/gather-corpus.sh. Under qemu
# (a kernel without 32-bit support) the Windows figures include the
# emulation; compare them with the memcpy row of the same column.
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
bin="${POPBOX_BIN_DIR:-$here/../../build/bin}"
min_time="${MIN_TIME:-1}"
smoke=false
[ "${1:-}" != --smoke ] || { smoke=true; min_time=0.01; shift; }

work="$(mktemp -d /tmp/popbox-decode-bench.XXXXXX)"
trap 'wineserver -k 2>/dev/null; rm -rf "$work"' EXIT
corpus="${1:-}"
if [ -z "$corpus" ]; then
  corpus="$work/corpus"
  "$here/../gather-corpus.sh" "$corpus" >/dev/null
  $smoke && rm -rf "$corpus/dll" "$corpus/gz"
fi

"$bin/dump-packed" "$corpus" "$work/packed.bin" >&2
eval "$(python3 "$here/../../trial/wine_prefix.py" "$work/prefix")"
win_packed="Z:$(printf '%s' "$work/packed.bin" | tr / '\\')"

# Host: the rows of popbox-bench's first table.
"$bin/popbox-bench" --min-time "$min_time" "$corpus" >"$work/host.txt"
host_field() { awk -F'|' -v row="$1" '$2 ~ row { gsub(/ /, "", $7); print $7 }' "$work/host.txt"; }
host_decode="$(host_field "popbox optimal")"
host_copy="$(host_field "memcpy")"

wine_run() {
  wine "$bin/$1" --min-time "$min_time" "$win_packed" |
    tr -d '\r' | tail -n 1
}
field() { printf '%s\n' "$1" | tr ' ' '\n' | sed -n "s/^$2=//p"; }
o2="$(wine_run decode-bench.exe)"
os="$(wine_run decode-bench-os.exe)"

ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", a / b }'; }
echo "Corpus $(basename "$corpus"): $(field "$o2" files) files, $(field "$o2" bytes) bytes restored" \
  "per pass (optimal encoder's streams, stored files copied)."
echo
echo "| MB/s of restored bytes | decoder | memcpy | decoder / memcpy |"
echo "|---|---:|---:|---:|"
echo "| host x86-64, popbox-bench (-O2 host build) | $host_decode | $host_copy |" \
  "$(ratio "$host_decode" "$host_copy") |"
echo "| Wine i686, decoder -O2 (decode-bench.exe) | $(field "$o2" decode_mbs) |" \
  "$(field "$o2" memcpy_mbs) | $(ratio "$(field "$o2" decode_mbs)" "$(field "$o2" memcpy_mbs)") |"
echo "| Wine i686, decoder with the stub's flags (decode-bench-os.exe) | $(field "$os" decode_mbs) |" \
  "$(field "$os" memcpy_mbs) | $(ratio "$(field "$os" decode_mbs)" "$(field "$os" memcpy_mbs)") |"
