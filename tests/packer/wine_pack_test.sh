#!/usr/bin/env bash
# The Windows build of the packer (popbox.exe, run under Wine) writes the
# same bytes as the Linux one: for the example folder, and for a folder
# whose names it reads through the wide-character API and converts to
# Windows-1252. A name outside the code page is refused by both. Its
# extract writes the same tree as the Linux one.
# Usage: wine_pack_test.sh BIN_DIR EXAMPLE_DIR
set -u
bin=$1 example=$2
here="$(cd "$(dirname "$0")" && pwd)"
work="$(mktemp -d /tmp/popbox-wine-pack.XXXXXX)"
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*"; exit 1; }
winpath() { printf 'Z:%s' "${1//\//\\}"; }
# Wine reads Unix file names in the locale's character set.
export LC_ALL=C.UTF-8

# Threads of a 32-bit program crash Wine under qemu-i386 here: one job.
pack_both() {  # APP NAME
  "$bin/popbox" pack "$1" -o "$work/$2-linux.exe" --stub "$bin/popbox-stub.exe" --quiet ||
    fail "the Linux packer refused $1"
  python3 "$here/../wine/scenarios.py" "$bin" --run "$bin/popbox.exe" pack "$(winpath "$1")" \
    -o "$(winpath "$work/$2-windows.exe")" --stub "$(winpath "$bin/popbox-stub.exe")" \
    --quiet --jobs 1 || fail "popbox.exe refused $1"
  cmp "$work/$2-linux.exe" "$work/$2-windows.exe" || fail "the setups of $1 differ"
}

pack_both "$example" example

app="$work/app"
mkdir -p "$app/Überblick" "$app/docs"
cp "$example/Setup.ini" "$example/readme.txt" "$app/"
printf 'caf\xc3\xa9\r\n' >"$app/Café €.txt"
printf 'na\xc3\xafve\r\n' >"$app/Überblick/naïve.txt"
for i in $(seq 1 300); do echo "row $i of a table that compresses well"; done >"$app/docs/table.txt"
pack_both "$app" names
"$bin/popbox" list "$work/names-windows.exe" | grep -q ' Überblick\\naïve.txt$' ||
  fail "the names did not go through the code page"

for setup in example names; do
  "$bin/popbox" extract "$work/$setup-linux.exe" "$work/$setup-linux" >/dev/null ||
    fail "the Linux packer did not extract $setup"
  python3 "$here/../wine/scenarios.py" "$bin" --run "$bin/popbox.exe" extract \
    "$(winpath "$work/$setup-windows.exe")" "$(winpath "$work/$setup-windows")" >/dev/null ||
    fail "popbox.exe did not extract $setup"
  diff -r "$work/$setup-linux" "$work/$setup-windows" || fail "the extracted trees of $setup differ"
done

printf 'x' >"$app/Привет.txt"
python3 "$here/../wine/scenarios.py" "$bin" --run "$bin/popbox.exe" pack "$(winpath "$app")" \
  -o "$(winpath "$work/refused.exe")" --stub "$(winpath "$bin/popbox-stub.exe")" --jobs 1 \
  2>"$work/refused.txt"
code=$?
[ "$code" = 1 ] || fail "popbox.exe exited with $code on a name outside the code page"
grep -q 'U+041F' "$work/refused.txt" || fail "popbox.exe did not name the character: $(cat "$work/refused.txt")"
[ ! -e "$work/refused.exe" ] || fail "popbox.exe wrote a setup after an error"
python3 "$here/../wine/scenarios.py" "$bin" --run "$bin/popbox.exe" try "$(winpath "$work/a.exe")" \
  2>"$work/try.txt" && fail "popbox.exe ran try"
grep -q 'popbox try: runs a setup under Wine on Linux' "$work/try.txt" || fail "popbox.exe try says: $(cat "$work/try.txt")"
echo "popbox.exe under Wine writes the same setups as popbox"
