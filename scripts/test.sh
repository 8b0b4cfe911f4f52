#!/usr/bin/env bash
# Builds everything and runs every test: the host build with the MinGW
# cross build and the Wine tests, then the host build under ASan+UBSan.
set -euo pipefail
cd "$(dirname "$0")/.."
jobs="$(nproc)"
cmake --preset asan >/dev/null
cmake --build --preset asan -j "$jobs"
ctest --preset asan -j "$jobs"
cmake --preset host >/dev/null
cmake --build --preset host -j "$jobs"
ctest --preset host -j "$jobs"
