#!/usr/bin/env bash
# The main job: build popbox, pack the example application into
# build/ExampleSetup.exe and list what is in it.
set -euo pipefail
cd "$(dirname "$0")/.."
cmake --preset host >/dev/null
cmake --build --preset host -j "$(nproc)" >/dev/null
app=examples/hello
build/bin/popbox pack "$app" -o build/ExampleSetup.exe
build/bin/popbox list build/ExampleSetup.exe
