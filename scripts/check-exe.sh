#!/usr/bin/env bash
# Checks the built Windows program: 32-bit, windowed, importing only the system's KERNEL32,
# ADVAPI32 and msvcrt, carrying its manifest (type 24, id 1: asInvoker, Windows 7 to 11, UTF-8 as
# the code page, the path limit left as Windows gives it) and version resource (type 16), stamped
# with no link time, and at most 64 KiB.
set -uo pipefail
exe=$1
dump=$(i686-w64-mingw32-objdump -p "$exe") || { echo "cannot read $exe"; exit 1; }
failed=0
expect() {  # description, command...
  local what=$1; shift
  if "$@"; then echo "ok: $what"; else echo "FAILED: $what"; failed=1; fi
}
has() { grep -qE "$1" <<<"$dump"; }
imports=$(grep -oE 'DLL Name: \S+' <<<"$dump" | awk '{print toupper($3)}' | sort | tr '\n' ' ')
resource_types=$(sed -n '/Resource Directory section/,$p' <<<"$dump" |
  grep -oE '^0[0-9a-f]{2}   Entry: ID: 0x[0-9a-f]+' | awk '{print $4}' | tr '\n' ' ')
size=$(stat -c %s "$exe")

expect "i386 PE" has 'file format pei-i386'
expect "windowed subsystem" has 'Subsystem\s+00000002'
expect "imports only ADVAPI32, KERNEL32, msvcrt (got: $imports)" \
  test "$imports" = "ADVAPI32.DLL KERNEL32.DLL MSVCRT.DLL "
expect "version (0x10) and manifest (0x18) resources (got: $resource_types)" \
  test "$resource_types" = "0x000010 0x000018 "
expect "manifest asks asInvoker" grep -q 'level="asInvoker"' "$exe"
for os in 35138b9a-5d96-4fbd-8e2d-a2440225f93a 4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38 \
  1f676c76-80e1-4239-95bb-83d0f6d0da78 8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a; do
  expect "manifest declares supportedOS $os" grep -q "supportedOS Id=\"{$os}\"" "$exe"
done
expect "manifest sets the UTF-8 code page" grep -qF \
  '<activeCodePage xmlns="http://schemas.microsoft.com/SMI/2019/WindowsSettings">UTF-8</activeCodePage>' \
  "$exe"
expect "manifest leaves the path limit as Windows gives it (no longPathAware)" \
  bash -c "! grep -q longPathAware '$exe'"
expect "no link timestamp" has 'Time/Date\s+Thu Jan  1 00:00:00 1970'
expect "size $size bytes <= 65536" test "$size" -le 65536
exit $failed
