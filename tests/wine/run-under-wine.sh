#!/usr/bin/env bash
# Runs one Windows console program under Wine in a fresh prefix and exits
# with its exit code. Usage: run-under-wine.sh PROGRAM.exe [ARGS...]
set -u
here="$(cd "$(dirname "$0")" && pwd)"
. "$here/wine-prefix.sh"
work="$(mktemp -d /tmp/popbox-wine.XXXXXX)"
popbox_fresh_prefix "$work/prefix"
trap 'popbox_end_prefix; rm -rf "$work"' EXIT
wine "$@"
