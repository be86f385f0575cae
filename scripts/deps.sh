#!/usr/bin/env bash
# Installs what the builds and tests need on Debian 12, as root. Installs only what is missing,
# so it is cheap to run again.
set -euo pipefail
packages=(cmake make g++ libgtest-dev googletest g++-mingw-w64-i686 binutils-mingw-w64-i686
  wine wine64 wine32:i386 clang libclang-rt-14-dev strace time rsync nsis)
# Wine's 32-bit half comes from the i386 architecture.
dpkg --print-foreign-architectures | grep -qx i386 || dpkg --add-architecture i386
missing=()
for package in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed' ||
    missing+=("$package")
done
if ((${#missing[@]})); then
  echo "installing: ${missing[*]}"
  apt-get update -qq
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}" \
    >/dev/null
fi

# Wine starts 32-bit Windows programs with its 32-bit loader, an i386 Linux program. A kernel
# that runs no 32-bit code (IA-32 emulation off) refuses it ("Exec format error"): such programs
# then run under qemu's user-mode emulator, registered with the kernel for i386 programs (much
# slower to start).
if ! /usr/lib/wine/wine --version >/dev/null 2>&1; then
  dpkg-query -W -f='${Status}' qemu-user-static 2>/dev/null | grep -q 'install ok installed' || {
    echo "installing: qemu-user-static (this kernel runs no 32-bit programs)"
    apt-get update -qq
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends \
      qemu-user-static >/dev/null
  }
  binfmt=/proc/sys/fs/binfmt_misc
  mountpoint -q $binfmt || mount -t binfmt_misc binfmt_misc $binfmt
  # An ELF 32-bit little-endian executable or shared object for the i386 machine.
  [ -e $binfmt/qemu-i386 ] || printf '%s' ':qemu-i386:M::\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00:\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff:/usr/bin/qemu-i386-static:F' >$binfmt/register
  /usr/lib/wine/wine --version >/dev/null
fi
