#!/usr/bin/env bash
# A signed setup installs like an unsigned one. Packs a small application,
# signs the setup with Authenticode (a throwaway self-signed certificate,
# osslsigncode, no timestamp), checks the signature and that the signing
# moved nothing before the end record, and installs the signed setup under
# Wine with the driver: dialog, OK, Cancel on the closing question.
#
# Needs POPBOX_BIN_DIR with popbox, popbox-stub.exe and setup-driver.exe;
# OPENSSL and OSSLSIGNCODE name the tools (default: from the PATH).
openssl="${OPENSSL:-openssl}"
osslsigncode="${OSSLSIGNCODE:-osslsigncode}"
. "$(cd "$(dirname "$0")" && pwd)/../wine/e2e-lib.sh"

# --- the application and its setup -----------------------------------------

app="$work/app"
mkdir -p "$app/docs" "$app/data"
# Authors write Setup.ini with CR LF line ends.
sed 's/$/\r/' >"$app/Setup.ini" <<'EOF'
[Install]
Title=Signed Example Setup
DefaultAppDir=<Program Files>\Signed Example
StartProgramsLink=<Programs Menu>\Signed Example.lnk
StartProgramsLinkSelected=TRUE
DesktopLink=<Desktop>\Signed Example.lnk
DesktopLinkSelected=TRUE
LinkTarget=readme.txt

[Installed Message]
Signed Example is installed.

[PRIVATE]
Author's notes: not part of the installed copy.
EOF
printf 'Signed Example\r\n' >"$app/readme.txt"
for i in $(seq 1 400); do echo "row $i: the quick brown fox jumps over the lazy dog"; done \
  >"$app/docs/table.txt"
# Incompressible bytes, the same on every run: AES-CTR of zeros.
head -c 70000 /dev/zero |
  "$openssl" enc -aes-128-ctr -nosalt -K 000102030405060708090a0b0c0d0e0f \
    -iv 00000000000000000000000000000000 >"$app/data/noise.bin"
: >"$app/data/empty.dat"

setup="$work/setup.exe"
signed="$work/signed.exe"
"$bin/popbox" pack "$app" -o "$setup" --stub "$bin/popbox-stub.exe" >/dev/null

# --- sign and verify ---------------------------------------------------------

# A code-signing certificate that is its own root, valid for three days.
"$openssl" req -x509 -newkey rsa:2048 -nodes -days 3 -subj "/CN=popbox test signer" \
  -keyout "$work/key.pem" -out "$work/cert.pem" \
  -addext "basicConstraints=critical,CA:FALSE" -addext "keyUsage=critical,digitalSignature" \
  -addext "extendedKeyUsage=codeSigning" 2>/dev/null

"$osslsigncode" sign -certs "$work/cert.pem" -key "$work/key.pem" -n "popbox test" \
  -in "$setup" -out "$signed" >"$work/sign.log" 2>&1 || {
  cat "$work/sign.log"
  fail "osslsigncode sign"
  finish
}
# The self-signed certificate is the trusted root; no timestamp, no CRLs.
"$osslsigncode" verify -CAfile "$work/cert.pem" -ignore-cdp -in "$signed" \
  >"$work/verify.log" 2>&1 || {
  cat "$work/verify.log"
  fail "osslsigncode verify rejects the signed setup"
  finish
}
grep -q "Signature verification: ok" "$work/verify.log" || fail "signature not reported ok"

# --- nothing before the signature moved --------------------------------------

u32() { od -An -tu4 -j "$2" -N4 "$1" | tr -d ' '; }

size="$(stat -c %s "$setup")"
signed_size="$(stat -c %s "$signed")"
pe="$(u32 "$setup" 60)"
# PE32 optional header: the checksum at +64, the security directory (file
# offset and size of the certificate table) at +128.
checksum=$((pe + 24 + 64))
security=$((pe + 24 + 128))
if [ "$(u32 "$setup" "$security")" != 0 ] || [ "$(u32 "$setup" $((security + 4)))" != 0 ]; then
  fail "the unsigned setup already has a certificate table"
fi

# Within the unsigned length only the checksum and the security directory
# may differ (cmp -l counts from 1).
while read -r offset _ _; do
  o=$((offset - 1))
  if ((o >= checksum && o < checksum + 4)) || ((o >= security && o < security + 8)); then
    continue
  fi
  fail "byte $o differs between the unsigned and the signed setup"
done < <(cmp -l -n "$size" "$setup" "$signed" || true)

# Behind the end record: zero padding to 8 bytes, then the certificate
# table up to the end of the file.
table="$(u32 "$signed" "$security")"
table_size="$(u32 "$signed" $((security + 4)))"
[ "$table" = $(((size + 7) / 8 * 8)) ] || fail "certificate table at $table, setup ends at $size"
[ $((table + table_size)) = "$signed_size" ] || fail "certificate table does not end the file"
if ((table > size)); then
  cmp -s <(tail -c +$((size + 1)) "$signed" | head -c $((table - size))) \
    <(head -c $((table - size)) /dev/zero) || fail "padding before the certificate table is not zero"
fi

# The packer reads the same records from both.
"$bin/popbox" list "$setup" >"$work/list-unsigned.txt"
"$bin/popbox" list "$signed" >"$work/list-signed.txt" || fail "popbox list rejects the signed setup"
diff "$work/list-unsigned.txt" "$work/list-signed.txt" || fail "popbox list differs after signing"
"$bin/popbox" verify "$signed" || fail "popbox verify rejects the signed setup"

# --- install the signed setup under Wine -------------------------------------

setup="$signed"
snapshot_before
drive wait-dialog expect-caption "Signed Example Setup" press-ok \
  expect-box Success "Signed Example is installed." press-cancel \
  expect-exit 0 expect-no-more-windows expect-box-count 1
installed="$POPBOX_PROGRAM_FILES\\Signed Example"
check_tree "$app" "$installed"
check_outside "$installed" "$POPBOX_PROGRAMS\\Signed Example.lnk" "$POPBOX_DESKTOP\\Signed Example.lnk"
[ -f "$(lin "$POPBOX_PROGRAMS\\Signed Example.lnk")" ] || fail "no Programs menu shortcut"
[ -f "$(lin "$POPBOX_DESKTOP\\Signed Example.lnk")" ] || fail "no desktop shortcut"
echo "signed setup: $size bytes unsigned, $signed_size signed"
finish
