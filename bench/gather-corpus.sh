#!/usr/bin/env bash
# Builds a benchmark corpus for popbox-bench from files found on a Debian
# machine with Wine installed:
#   dll/   some of Wine's 32-bit PE modules (the kind of files a setup carries)
#   text/  licence texts and decompressed manual pages
#   gz/    already-compressed files, which should end up stored
# Usage: bench/gather-corpus.sh FOLDER   (created if needed; files missing on
# this machine are skipped with a note)
set -euo pipefail

if [ $# -ne 1 ]; then
  echo "usage: $0 FOLDER" >&2
  exit 2
fi
out=$1
mkdir -p "$out/dll" "$out/text" "$out/gz"

wine_dir=/usr/lib/i386-linux-gnu/wine/i386-windows
for f in kernel32.dll advapi32.dll cabinet.dll imm32.dll version.dll notepad.exe; do
  if [ -f "$wine_dir/$f" ]; then cp -L "$wine_dir/$f" "$out/dll/"; else echo "skipped $wine_dir/$f" >&2; fi
done

for f in GPL-2 GPL-3 LGPL-2.1 Apache-2.0 Artistic MPL-2.0 GFDL-1.3; do
  src=/usr/share/common-licenses/$f
  if [ -f "$src" ]; then cp -L "$src" "$out/text/$f.txt"; else echo "skipped $src" >&2; fi
done

for page in bash tar xz cmake make; do
  src=/usr/share/man/man1/$page.1.gz
  if [ -f "$src" ]; then
    gzip -dc "$src" > "$out/text/$page.1"
    cp -L "$src" "$out/gz/"
  else
    echo "skipped $src" >&2
  fi
done

du -sb "$out"/* | sed "s|$out/||"
