#!/bin/sh
# The Debian package of the packer: made by cpack, unpacked with dpkg -x
# into a temporary folder, its popbox packs and verifies the example with
# the stub it carries, found without --stub, and tries the setup with the
# runner and driver it carries (under Wine; Cancel in the dialog).
# Usage: deb_test.sh BUILD_DIR APP_DIR
set -eu
build=$1 app=$2
work=$(mktemp -d /tmp/popbox-deb-test.XXXXXX)
trap 'rm -rf "$work"' EXIT
(cd "$build" && cpack -G DEB -B "$work" >/dev/null)
deb=$(ls "$work"/popbox_*.deb)
dpkg-deb --field "$deb" Package Depends Recommends
dpkg -x "$deb" "$work/root"
"$work/root/usr/bin/popbox" pack "$app" -o "$work/setup.exe" --quiet
"$work/root/usr/bin/popbox" verify "$work/setup.exe"
cmp -n 40960 "$work/setup.exe" "$work/root/usr/share/popbox/popbox-stub.exe"
tried=$("$work/root/usr/bin/popbox" try "$work/setup.exe" --cancel)
printf '%s\n' "$tried" | tail -n 1
echo "$(basename "$deb") packs with the stub it carries and tries the setup"
