#!/usr/bin/env bash
# Builds the fuzz preset and runs each fuzz target on a copy of its corpus
# (fuzz/corpus/TARGET, regression inputs included), for SECONDS (default 10)
# or N executions; exits non-zero when one finds a failure, whose input is
# kept in $POPBOX_FUZZ_BUILD/findings/TARGET/.
#
#   fuzz/run.sh [SECONDS | --runs N] [TARGET...]
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
limit=(-max_total_time="${1:-10}")
[ "${1:-}" != --runs ] || { limit=(-runs="$2"); shift; }
shift || true
targets=("$@")
[ ${#targets[@]} -ne 0 ] || targets=(fuzz_unpack fuzz_payload fuzz_script fuzz_names fuzz_setup_file)
build="${POPBOX_FUZZ_BUILD:-$root/build/fuzz}"
mkdir -p "$build"
(cd "$root" && cmake --preset fuzz -B "$build" && cmake --build "$build" --target fuzz-targets -j 2) \
  >"$build/run-build.log" 2>&1 || { tail -40 "$build/run-build.log"; exit 2; }

work="$(mktemp -d "${TMPDIR:-/tmp}/popbox-fuzz-XXXXXX")"
# fuzz_setup_file extracts on every run: into memory where there is room.
POPBOX_FUZZ_SCRATCH="$(mktemp -d /dev/shm/popbox-fuzz-XXXXXX 2>/dev/null || mktemp -d "$work/s-XXXXXX")"
export POPBOX_FUZZ_SCRATCH
trap 'rm -rf "$work" "$POPBOX_FUZZ_SCRATCH"' EXIT
found=0
for target in "${targets[@]}"; do
  mkdir -p "$work/$target" "$build/findings/$target"
  cp "$root/fuzz/corpus/$target/"* "$work/$target/"
  status=0
  nice -n 10 "$build/bin/$target" "${limit[@]}" -timeout=10 -rss_limit_mb=2048 \
    -artifact_prefix="$build/findings/$target/" -print_final_stats=1 "$work/$target" \
    >"$work/$target.log" 2>&1 || status=$?
  runs="$(sed -n 's/^stat::number_of_executed_units: *//p' "$work/$target.log" | tail -1)"
  if [ "$status" = 0 ]; then
    echo "$target: ${runs:-?} executions, nothing found"
  else
    found=1
    echo "$target: FOUND a failure after ${runs:-?} executions; input in $build/findings/$target/"
    grep -m 3 -E 'ERROR|check failed|SUMMARY' "$work/$target.log" | sed 's/^/    /' || true
  fi
done
exit "$found"
