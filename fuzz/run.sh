#!/usr/bin/env bash
# Builds the fuzz preset and runs each fuzz target for SECONDS (default 10)
# on a copy of its seed corpus (fuzz/corpus/TARGET, regression inputs
# included). Prints the executions of each target and whether it found
# anything; exits non-zero when one did. The inputs that failed are kept as
# $POPBOX_FUZZ_BUILD/findings/TARGET/crash-* (or leak-*, oom-*, timeout-*).
#
#   fuzz/run.sh [SECONDS]            all targets
#   fuzz/run.sh SECONDS TARGET...    only these
#   fuzz/run.sh --runs N [TARGET...] N executions each, however long it takes
#
# POPBOX_FUZZ_BUILD: the build tree (default build/fuzz).
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
limit=()
if [ "${1:-}" = "--runs" ]; then
  runs_wanted="$2"
  shift 2
  limit=(-runs="$runs_wanted")
  what="$runs_wanted runs"
else
  seconds="${1:-10}"
  shift || true
  limit=(-max_total_time="$seconds")
  what="${seconds} s"
fi
targets=("$@")
[ ${#targets[@]} -ne 0 ] || targets=(fuzz_unpack fuzz_payload fuzz_script fuzz_names fuzz_setup_file)
build="${POPBOX_FUZZ_BUILD:-$root/build/fuzz}"

cd "$root"
mkdir -p "$build"
cmake --preset fuzz -B "$build" >"$build/run-configure.log" 2>&1 || {
  cat "$build/run-configure.log"
  exit 2
}
cmake --build "$build" --target fuzz-targets -j 2 >"$build/run-build.log" 2>&1 || {
  tail -50 "$build/run-build.log"
  exit 2
}

work="$(mktemp -d "${TMPDIR:-/tmp}/popbox-fuzz-XXXXXX")"
# fuzz_setup_file extracts into this folder on every run: memory if possible.
scratch="$(mktemp -d /dev/shm/popbox-fuzz-XXXXXX 2>/dev/null || mktemp -d "$work/scratch-XXXXXX")"
export POPBOX_FUZZ_SCRATCH="$scratch"
trap 'rm -rf "$work" "$scratch"' EXIT
found=0
for target in "${targets[@]}"; do
  corpus="$work/$target"
  findings="$build/findings/$target"
  mkdir -p "$corpus" "$findings"
  cp "$root/fuzz/corpus/$target/"* "$corpus/"
  status=0
  # The seeds run first: a regression input that fails again fails the run.
  start=$SECONDS
  nice -n 10 "$build/bin/$target" "${limit[@]}" -timeout=10 -rss_limit_mb=2048 \
    -artifact_prefix="$findings/" -print_final_stats=1 "$corpus" >"$work/$target.log" 2>&1 ||
    status=$?
  runs="$(sed -n 's/^stat::number_of_executed_units: *//p' "$work/$target.log" | tail -1)"
  if [ "$status" -eq 0 ]; then
    echo "$target: ${runs:-?} executions in $((SECONDS - start)) s ($what asked), nothing found"
  else
    found=1
    echo "$target: FOUND a failure (exit $status) after ${runs:-?} executions; input kept in $findings/"
    grep -m 3 -E 'ERROR|check failed|SUMMARY' "$work/$target.log" | sed 's/^/    /' || true
  fi
done
exit "$found"
