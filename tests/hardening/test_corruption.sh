#!/usr/bin/env bash
# Damaged copies of a small real setup under Wine. corrupt_cases.py packs
# the sample, damages headers, names, contents and lengths at chosen places
# and says for each copy what must happen: a message before the dialog, a
# message after OK, or a clean install ending with the closing question.
# Every run must end with exit code 0 and no other window, leave exactly
# the expected files in its install folder and nothing anywhere else.
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
. "$here/harden-lib.sh"

cases="$here/corrupt_cases.py"
python3 "$cases" sample "$work/app"
"$bin/popbox" pack "$work/app" -o "$work/sample.exe" --stub "$bin/popbox-stub.exe" >/dev/null
python3 "$cases" cases "$work/sample.exe" "$work/cases" 'C:\Corrupt'
mkdir "$WINEPREFIX/drive_c/Corrupt"

while IFS=$'\t' read -r number dir outcome caption message what; do
  echo "case $number: $what -> $outcome: $caption: $message"
  rel="drive_c/Corrupt/N$number"
  setup="$work/cases/case-$number.exe"
  box=(expect-box "$caption" "$(esc "$message")")
  case "$outcome" in
    start) steps=("${box[@]}" press-ok) ;;
    stop) steps=(wait-dialog set-text 1000 "$(esc "$dir")" press-ok "${box[@]}" press-ok) ;;
    clean) steps=(wait-dialog set-text 1000 "$(esc "$dir")" press-ok "${box[@]}" press-cancel) ;;
  esac
  harden_run_checked "$rel" -- "$setup" "${steps[@]}" \
    expect-exit 0 expect-no-more-windows expect-box-count 1

  if [ "$outcome" = start ]; then
    [ ! -e "$WINEPREFIX/$rel" ] || fail "case $number: the install folder was made"
  elif ! python3 "$cases" tree "$WINEPREFIX/$rel" | diff "$work/cases/case-$number.tree" - >&2; then
    fail "case $number: the install folder differs from the expected one (diff above)"
  fi
done <"$work/cases/cases.tsv"
finish
