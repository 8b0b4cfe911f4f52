#!/usr/bin/env bash
# Measures what the test suite catches: applies each fault of
# scripts/faults.txt to the product code, one at a time, rebuilds, runs the
# tests until the first failure, restores the file, and prints per fault
# whether a test caught it (and which), then the total.
#
#   scripts/fault-check.sh [--check] [ID...]
#
# --check only verifies that every fault still applies to the code. IDs
# pick faults (default: all). The build lives in build/faults (BUILD_DIR
# overrides); results go to build/faults/results.txt as well.
# Tests run fastest first: host tests, then the Wine tests, then the fuzz
# smoke run. A fault that does not build is reported and left out of the
# total: the faults are meant to compile.
set -uo pipefail
cd "$(dirname "$0")/.."
build=${BUILD_DIR:-build/faults}
faults=scripts/faults.txt

apply() {  # ID -> rewrites the file in place; prints FILE
  python3 - "$faults" "$@" <<'PY'
import sys
path, wanted = sys.argv[1], sys.argv[2]
entries, cur = [], None
for line in open(path, encoding="utf-8").read().split("\n"):
    if line.startswith("@ "):
        head, _, why = line[2:].partition(" | ")
        ident, file = head.split()
        cur = {"id": ident, "file": file, "why": why, "old": [], "new": []}
        entries.append(cur)
    elif cur and line[:2] in ("- ", "+ ") or line in ("-", "+"):
        (cur["old"] if line[0] == "-" else cur["new"]).append(line[2:])
if wanted == "--list":
    for e in entries:
        print(e["id"], e["file"], e["why"], sep="\t")
    sys.exit(0)
def replaced(e):
    text = open(e["file"], encoding="utf-8").read()
    old, new = "\n".join(e["old"]), "\n".join(e["new"])
    if text.count(old) != 1:
        sys.exit(f"{e['id']}: the text to replace occurs {text.count(old)} times in {e['file']}")
    return text.replace(old, new)
if wanted == "--check":  # the IDs that follow, or all
    chosen = [e for e in entries if len(sys.argv) < 4 or e["id"] in sys.argv[3:]]
    for e in chosen:
        replaced(e)
    print(f"all {len(chosen)} faults apply")
    sys.exit(0)
e = next((e for e in entries if e["id"] == wanted), None)
if not e:
    sys.exit(f"no fault {wanted}")
text = replaced(e)
if len(sys.argv) < 4:  # a third argument: only name the file
    open(e["file"], "w", encoding="utf-8").write(text)
print(e["file"])
PY
}

ids=()
check_only=false
for arg in "$@"; do
  if [ "$arg" = --check ]; then check_only=true; else ids+=("$arg"); fi
done
[ ${#ids[@]} -gt 0 ] || mapfile -t ids < <(apply --list | cut -f1)

if $check_only; then
  apply --check "${ids[@]}"
  exit
fi

mkdir -p "$build"
results="$build/results.txt"
: >"$results"
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DPOPBOX_CROSS=ON >/dev/null || exit 2
cmake --build "$build" -j2 >"$build/build.log" 2>&1 || { echo "the clean build fails"; exit 2; }

backup=""
restore() { [ -n "$backup" ] && cp "$backup" "$file" && rm -f "$backup"; backup=""; }
trap 'restore; exit 130' INT TERM

# The first failing test of one phase, or nothing.
first_failure() {  # ctest arguments...
  ctest --test-dir "$build" --stop-on-failure -j2 "$@" >"$build/test.log" 2>&1 && return 0
  grep -m1 -E '\*\*\*Failed|\*\*\*Timeout|\*\*\*Exception|\*\*\*Not Run|Failed$' \
    "$build/test.log" | sed -E 's/.*Test +#[0-9]+: ([^ ]+).*/\1/' | grep . || echo "ctest"
}

caught=0 total=0
list=$(apply --list)
for id in "${ids[@]}"; do
  why=$(printf '%s\n' "$list" | awk -F'\t' -v id="$id" '$1 == id { print $3 }')
  file=$(apply "$id" dry) || exit 2
  backup=$(mktemp) && cp "$file" "$backup"
  apply "$id" >/dev/null
  by=""
  if ! cmake --build "$build" -j2 >"$build/build.log" 2>&1; then
    restore
    echo "$id DOES NOT BUILD: $why" | tee -a "$results"
    continue
  fi
  total=$((total + 1))
  by=$(first_failure -LE wine -E "fuzz-smoke|faults-apply")  # a fault applied no longer applies
  [ -n "$by" ] || by=$(first_failure -L wine)
  # The fuzz targets never compile the Win32-only files.
  case "$file" in
    ui/* | app/* | install/launch.cpp | install/shortcuts.cpp | platform/*win32*) ;;
    *) [ -n "$by" ] || by=$(first_failure -R fuzz-smoke) ;;
  esac
  restore
  if [ -n "$by" ]; then
    caught=$((caught + 1))
    line="$id caught by $by: $why"
  else
    line="$id MISSED: $why"
  fi
  echo "$line" | tee -a "$results"
done
echo "$caught of $total faults caught" | tee -a "$results"
cmake --build "$build" -j2 >"$build/build.log" 2>&1  # leave the build as the code is
