#!/usr/bin/env bash
# Installs what popbox needs to build and test on Debian 12, as root.
# Idempotent: when everything is present it only checks, in about a second.
set -euo pipefail

packages=(
  cmake make g++ clang clang-format python3
  googletest
  g++-mingw-w64-i686-posix gcc-mingw-w64-i686-posix binutils-mingw-w64-i686
  wine wine64 wine32:i386 xvfb imagemagick icoutils
  fonts-wine  # Wine's own fonts (MS Sans Serif, Marlett caption buttons) for popbox try --screenshots
  osslsigncode openssl  # signing; openssl makes the doc tests' certificate
  man-db  # man -l renders the manual page in tests/packer/deb_test.sh
  nsis  # makensis, for the install-time comparison in bench/install/
  gcc-multilib qemu-user-static
  libclang-rt-14-dev  # libFuzzer and the sanitizer runtimes of clang, for fuzz/
  liblz4-dev zlib1g-dev liblzma-dev  # reference codecs for bench/ only
)

missing=()
if ! dpkg --print-foreign-architectures | grep -qx i386; then
  dpkg --add-architecture i386
  missing=("${packages[@]}")
else
  for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}\n' "$p" 2>/dev/null | grep -q '^install ok installed$' || missing+=("$p")
  done
fi

if [ ${#missing[@]} -ne 0 ]; then
  echo "install-deps: installing ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi

# 32-bit Wine needs the kernel to run 32-bit Linux programs. Some kernels
# have that switched off (ia32_emulation=off); there qemu-i386 runs them,
# registered through binfmt_misc, and a small preloaded library keeps 32-bit
# Wine's start-up fast under it (see scripts/wine-shim/).
shim_root=/usr/local/lib/popbox-wine
if /lib/ld-linux.so.2 --version >/dev/null 2>&1 && [ ! -e /proc/sys/fs/binfmt_misc/qemu-i386 ]; then
  : > /dev/null  # 32-bit programs run natively
  mkdir -p "$shim_root" && : > "$shim_root/env"
else
  if [ ! -e /proc/sys/fs/binfmt_misc/register ]; then
    mount -t binfmt_misc binfmt_misc /proc/sys/fs/binfmt_misc
  fi
  if [ ! -e /proc/sys/fs/binfmt_misc/qemu-i386 ]; then
    echo ':qemu-i386:M::\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00:\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff:/usr/bin/qemu-i386-static:F' \
      > /proc/sys/fs/binfmt_misc/register
    echo "install-deps: 32-bit programs run through qemu-i386"
  fi
  src="$(cd "$(dirname "$0")" && pwd)/wine-shim/qemu_mmap_shim.c"
  lib32="$shim_root/lib/i386-linux-gnu/popbox-wine-shim.so"
  lib64="$shim_root/lib/x86_64-linux-gnu/popbox-wine-shim.so"
  if [ ! -e "$lib32" ] || [ "$src" -nt "$lib32" ] || [ ! -e "$lib64" ]; then
    mkdir -p "$(dirname "$lib32")" "$(dirname "$lib64")"
    gcc -m32 -O2 -shared -fPIC "$src" -o "$lib32" -ldl
    # 64-bit Wine processes inherit LD_PRELOAD too; $LIB gives them this
    # empty library instead of a warning.
    echo 'void popbox_wine_shim_64(void) {}' | gcc -x c -O2 -shared -fPIC - -o "$lib64"
  fi
  echo "export LD_PRELOAD='$shim_root/\$LIB/popbox-wine-shim.so'" > "$shim_root/env"
fi

echo "install-deps: ready"
