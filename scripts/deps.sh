#!/usr/bin/env bash
# Installs what the builds and tests need on Debian 12, as root. Installs only what is missing,
# so it is cheap to run again.
set -euo pipefail
cd "$(dirname "$0")/.."
packages=(cmake make g++ libgtest-dev googletest g++-mingw-w64-i686 binutils-mingw-w64-i686
  wine wine64 wine32:i386 clang libclang-rt-14-dev strace time rsync nsis e2fsprogs util-linux)

# The packages of "$@" that are not installed.
missing_of() {
  local package
  for package in "$@"; do
    dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed' ||
      echo "$package"
  done
}

# A mirror part way through a sync serves an index of the wrong size ("Mirror sync in
# progress?"): apt-get update then exits 100 although every other index is fresh. Such an index
# is worth a few more tries, and then going on without it.
updated=false
update() {
  $updated && return 0
  updated=true
  local try
  for try in 1 2 3; do
    apt-get update -qq -o Acquire::Retries=3 && return 0
    ((try < 3)) && sleep 10
  done
  echo "deps: warning: some package index failed to download; going on with the rest" >&2
}

# Installs the packages "$@" that are missing. With the security suite's index of one
# architecture gone, the other architecture's security updates have no twin of the same version
# (wine32:i386 then meets "held broken packages"): the release's own suite, whose architectures
# agree, is tried once more. Stops, naming them, when the packages still cannot be installed.
install() {
  local missing
  mapfile -t missing < <(missing_of "$@")
  ((${#missing[@]})) || return 0
  echo "installing: ${missing[*]}"
  update
  local apt=(apt-get install -y -qq --no-install-recommends -o Acquire::Retries=3)
  DEBIAN_FRONTEND=noninteractive "${apt[@]}" "${missing[@]}" >/dev/null && return 0
  local suite
  suite=$(. /etc/os-release && echo "${VERSION_CODENAME:-}")
  if [ -n "$suite" ]; then
    echo "deps: retrying aimed at the release's own suite, $suite" >&2
    DEBIAN_FRONTEND=noninteractive "${apt[@]}" -t "$suite" "${missing[@]}" >/dev/null && return 0
  fi
  mapfile -t missing < <(missing_of "${missing[@]}")
  echo "deps: could not install: ${missing[*]}" >&2
  exit 1
}

# Wine's 32-bit half comes from the i386 architecture.
dpkg --print-foreign-architectures | grep -qx i386 || {
  dpkg --add-architecture i386
  updated=false
}
install "${packages[@]}"
# npm brings the Inno Setup compiler from its registry; the machine's own Node.js serves if present.
command -v npm >/dev/null || install nodejs npm
# The Inno Setup compiler (bin/ISCC.exe) for the Windows suite, at the version and integrity that
# tools/innosetup/package-lock.json pins; fetched again only when the lock file changed. The tests
# fetch nothing.
tools=tools/innosetup
if ! cmp -s $tools/package-lock.json $tools/node_modules/.installed-lock 2>/dev/null; then
  npm ci --prefix $tools --ignore-scripts --no-audit --no-fund --fetch-retries=4 >/dev/null
  cp $tools/package-lock.json $tools/node_modules/.installed-lock
fi

# Wine starts 32-bit Windows programs with its 32-bit loader, an i386 Linux program. A kernel
# that runs no 32-bit code (IA-32 emulation off) refuses it ("Exec format error"): such programs
# then run under qemu's user-mode emulator, registered with the kernel for i386 programs (much
# slower to start).
if ! /usr/lib/wine/wine --version >/dev/null 2>&1; then
  install qemu-user-static
  binfmt=/proc/sys/fs/binfmt_misc
  mountpoint -q $binfmt || mount -t binfmt_misc binfmt_misc $binfmt
  # An ELF 32-bit little-endian executable or shared object for the i386 machine.
  [ -e $binfmt/qemu-i386 ] || printf '%s' ':qemu-i386:M::\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00:\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff:/usr/bin/qemu-i386-static:F' >$binfmt/register
  /usr/lib/wine/wine --version >/dev/null
fi
