#!/bin/sh
# Installs the build into a temporary prefix and packs the example with the
# installed popbox, which must find its stub in share/popbox by itself.
# Usage: install_test.sh CMAKE BUILD_DIR APP_DIR
set -eu
cmake=$1 build=$2 app=$3
prefix=$(mktemp -d /tmp/popbox-install-test.XXXXXX)
trap 'rm -rf "$prefix"' EXIT
"$cmake" --install "$build" --prefix "$prefix" >/dev/null
test -x "$prefix/bin/popbox"
test -f "$prefix/share/popbox/popbox-stub.exe"
"$prefix/bin/popbox" pack "$app" -o "$prefix/setup.exe" --quiet
"$prefix/bin/popbox" verify "$prefix/setup.exe"
cmp -n 40960 "$prefix/setup.exe" "$prefix/share/popbox/popbox-stub.exe"
echo "installed popbox packs with its installed stub"
