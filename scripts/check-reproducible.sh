#!/usr/bin/env bash
# Builds the Windows program a second time in another directory and compares it byte for byte
# with the one given.
set -euo pipefail
source_dir=$1 built=$2
other=$(mktemp -d /tmp/restore-repro-XXXXXX)
trap 'rm -rf "$other"' EXIT
cmake -S "$source_dir" -B "$other" -DRESTORE_BACKUP_TESTS=OFF -DCMAKE_BUILD_TYPE=MinSizeRel \
  -DCMAKE_TOOLCHAIN_FILE="$source_dir/cmake/i686-w64-mingw32.cmake" >/dev/null
cmake --build "$other" --target restore-backup >/dev/null
if cmp "$built" "$other/restore-backup.exe"; then
  echo "ok: identical when built in $other ($(sha256sum <"$built" | cut -c1-16))"
else
  echo "FAILED: the build in $other differs"
  exit 1
fi
