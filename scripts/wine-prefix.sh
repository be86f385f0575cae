#!/usr/bin/env bash
# Makes a throwaway 64-bit Wine prefix at DIR for the tests, afresh each time, and marks it as
# one (the tests refuse to write the registry anywhere else). With --stop, ends its wineserver
# and removes the directory it kept beside the prefix.
set -euo pipefail
source "$(dirname "$0")/lib.sh"
if [ "$1" = --stop ]; then
  wine_environment "$2"
  wineserver -k 2>/dev/null || true
  rm -rf "$TMPDIR"
  exit 0
fi
prefix=$1
case $prefix in
  */build/*) ;;
  *) echo "refusing to make a prefix outside a build directory: $prefix" >&2; exit 1 ;;
esac
wine_environment "$prefix"
wineserver -k 2>/dev/null || true
rm -rf "$prefix" "$TMPDIR"
mkdir -p "$TMPDIR"
wineboot -i >/dev/null 2>&1
# Inno Setup's setups and uninstallers make hidden windows even when very silent: with no display
# they stop at once unless Wine draws with its null driver.
wine reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f >/dev/null 2>&1
wineserver -w
touch "$prefix/drive_c/restore-backup-test-prefix"
echo "Wine prefix ready: $prefix ($(wine --version))"
