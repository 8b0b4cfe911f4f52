#!/bin/sh
# The Debian package of the packer: made by cpack, unpacked with dpkg -x
# into a temporary folder, its popbox packs and verifies the example with
# the stub it carries, found without --stub, and tries the setup with the
# runner and driver it carries (under Wine; Cancel in the dialog). It
# carries a copyright file, a manual page that man renders and that names
# the options the help names, and docs whose relative links, and the
# pointer of the Setup.ini that init writes, lead to files of the package.
# Usage: deb_test.sh BUILD_DIR APP_DIR
set -eu
build=$1 app=$2
work=$(mktemp -d /tmp/popbox-deb-test.XXXXXX)
trap 'rm -rf "$work"' EXIT
(cd "$build" && cpack -G DEB -B "$work" >/dev/null)
deb=$(ls "$work"/popbox_*.deb)
dpkg-deb --field "$deb" Package Depends Recommends
dpkg -x "$deb" "$work/root"
popbox=$work/root/usr/bin/popbox doc=$work/root/usr/share/doc/popbox
"$popbox" pack "$app" -o "$work/setup.exe" --quiet
"$popbox" verify "$work/setup.exe"
cmp -n 40960 "$work/setup.exe" "$work/root/usr/share/popbox/popbox-stub.exe"
tried=$("$work/root/usr/bin/popbox" try "$work/setup.exe" --cancel)
printf '%s\n' "$tried" | tail -n 1

fail() { echo "deb_test: $*" >&2; exit 1; }
head -1 "$doc/copyright" | grep -qx 'Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/' ||
  fail "no machine-readable copyright file"

# The manual page renders without a warning, and names every option of
# the help (with its letter) and no other.
page=$work/root/usr/share/man/man1/popbox.1.gz
MANWIDTH=80 MAN_DISABLE_SECCOMP=1 man -l "$page" >"$work/man.txt" 2>"$work/man.err"
zcat "$page" | groff -man -Tutf8 -ww -z 2>>"$work/man.err"
[ ! -s "$work/man.err" ] || fail "man: $(cat "$work/man.err")"
"$popbox" --help >"$work/help.txt"
for command in $(sed -n 's/^  \([a-z]*\) .*/\1/p' "$work/help.txt"); do
  "$popbox" help "$command" >>"$work/help.txt"
done
grep -o -- '--[a-z][a-z-]*' "$work/help.txt" | sort -u >"$work/help-options"
grep -o -- '--[a-z][a-z-]*' "$work/man.txt" | sort -u >"$work/man-options"
diff "$work/help-options" "$work/man-options" || fail "the help (<) and the manual page (>) differ"
sed -n 's/^  \(-[a-zA-Z], --[a-z-]*\).*/\1/p' "$work/help.txt" | sort -u | while read -r head; do
  grep -qF -- "$head" "$work/man.txt" || fail "the manual page has no $head"
done

# The Setup.ini that init writes points at docs the package carries.
cp -r "$app" "$work/app" && rm "$work/app/Setup.ini"
"$popbox" init "$work/app" >/dev/null
pointers=$(grep -o '/usr/share/doc/popbox/[^ ]*[a-z]' "$work/app/Setup.ini") || fail "init names no doc"
for path in $pointers; do
  [ -e "$work/root$path" ] || fail "init's Setup.ini points at $path, which the package lacks"
done

# Every relative link of the installed docs leads to a file of the package.
for md in $(find "$doc" -name '*.md'); do
  for link in $(grep -o '](\([^)# ]*\)' "$md" | sed 's/^](//' | grep -v -e '^[a-z]*:' -e '^$'); do
    [ -e "$(dirname "$md")/$link" ] || fail "${md#"$doc"/} links to $link, which the package lacks"
  done
done
echo "$(basename "$deb") packs with the stub it carries and tries the setup; its manual page and docs hold together"
