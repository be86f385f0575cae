#!/usr/bin/env bash
# Installs what the builds and tests need on Debian 12, as root. Installs only what is missing,
# so it is cheap to run again.
set -euo pipefail
packages=(cmake make g++ libgtest-dev googletest g++-mingw-w64-i686 binutils-mingw-w64-i686
  wine wine64 wine32:i386 clang libclang-rt-14-dev strace time rsync)
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
