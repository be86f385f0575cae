#!/usr/bin/env bash
# The chain release engineers ship, with the real Inno Setup compiler: the sample product
# (examples/product.iss) is installed in 32-bit mode, the README's patch (examples/patch.iss)
# runs the program from setup's {tmp} and passes its exit status on, the product's uninstaller
# runs, the patch refuses a machine without the product, and the product installed in 64-bit mode
# shows what the program finds then. A second chain patches the product while a process holds one
# of its files: without the restart switch the patch says so and a later run finishes; with it,
# the file is replaced at Wine's restart (wineboot -r).
# Arguments: the source directory, the built restore-backup.exe, ISCC.exe, a work directory
# (emptied; ASCII only, as cmd reads its batch file in the console's code page).
# Wine's prefix and settings come from the environment.
#
# Every 32-bit Windows process costs about a minute where the kernel runs no 32-bit code, so all
# the steps run from one batch file in one 64-bit `cmd`: thirteen 32-bit processes (the compiler
# three times, each of the three setups and the uninstaller twice, as their loaders start a copy,
# and the program twice) and 64-bit helpers (start, xcopy, reg), which start in a second or two. What is to be looked at
# between steps is copied aside with xcopy and checked afterwards.
set -euo pipefail
# Where the kernel runs no 32-bit code, scripts/deps.sh has qemu's user-mode emulator run them,
# and there the compiler crashes while it compresses (a segmentation fault, an illegal instruction
# or a trap).
if grep -qs '^enabled' /proc/sys/fs/binfmt_misc/qemu-i386; then
  echo "skipped: 32-bit programs run under qemu here, where the Inno Setup compiler crashes"
  exit 77
fi
source_dir=$1 program=$2 iscc=$3 work=$4
key='HKLM\SOFTWARE\Microsoft\Windows\CurrentVersion\Uninstall\velmarok_is1'
stage=$work/stage patch=$work/stage/patch out=$work/out
install="$work/Program Files/Velmarok" install64="$work/Program Files 64/Velmarok"
held="$work/Program Files/Held" queued="$work/Program Files/Queued"
hold=$(dirname "$program")/hold-file.exe
windows() { local path=${1//\//\\}; printf 'Z:%s' "$path"; }
put() { mkdir -p "$(dirname "$1")" && printf '%s' "$2" >"$1"; }
# Each file of tree $1 with its content; the uninstaller's own files by name alone.
tree() {
  (cd "$1" && find . -type f | LC_ALL=C sort | while read -r f; do
    case $f in ./unins000.*) echo "${f#./}" ;; *) echo "${f#./}=$(cat "$f")" ;; esac
  done)
}
# The lines of log $1 after its first, as a set, without the errors' texts (Wine's own) and the
# time.
log_lines() {
  tail -n +2 "$1" | tr -d '\r' |
    sed -e 's/\(: error [0-9]*\): .*/\1/' -e 's/, in [0-9.]* s$/, in S s/' | LC_ALL=C sort
}
failed=0
expect() {  # what, got, wanted
  if [ "$2" = "$3" ]; then echo "ok: $1"; else printf 'FAILED: %s\n got:\n%s\n wanted:\n%s\n' "$@"; failed=1; fi
}

# The 64-bit loader starts the 64-bit cmd, whose helpers are 64-bit too and start at once;
# `wine` would start the 32-bit ones.
wine64=/usr/lib/wine/wine64
[ -x $wine64 ] || wine64=wine64
# Inno Setup's setups and uninstallers make hidden windows even when very silent: with no display
# they stop at once unless Wine draws with its null driver (a 64-bit reg.exe: no qemu start). The
# desktop takes its driver when the session starts, so the session that set it ends first. Wine
# gives a Linux dot name the hidden attribute, which Windows does not, and the compiler leaves
# hidden files out of a wildcard: Wine is told to show them as plain files.
$wine64 reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f >/dev/null
$wine64 reg add 'HKCU\Software\Wine' /v ShowDotFiles /d Y /f >/dev/null
wineserver -w

rm -rf "$work"
# The user's temporary directory, as setup hands it to the program (Wine 8 has C:\users\NAME\Temp,
# Windows C:\Users\NAME\AppData\Local\Temp).
temp_windows=$($wine64 cmd /c echo %TEMP% | tr -d '\r')
temp=$(printf '%s' "${temp_windows#C:}" | tr '\\' /)
temp=$WINEPREFIX/drive_c$temp
log=$temp/restore-backup.log
rm -f "$log"
temp_before=$(ls -A "$temp" 2>/dev/null || true)
mkdir -p "$out"
# The product: two directories, one name outside the ANSI code page.
put "$stage/product/Velmarok.exe" 'version 1.0'
put "$stage/product/readme.txt" 'readme 1.0'
put "$stage/product/bin/core.dll" 'core 1.0'
put "$stage/product/bin/日本.dat" 'data 1.0'
cp "$source_dir/examples/product.iss" "$stage/"
# The same product, installed in 64-bit mode.
printf '[Setup]\r\nArchitecturesAllowed=x64compatible\r\nArchitecturesInstallIn64BitMode=x64compatible\r\n#include "product.iss"\r\n' \
  >"$stage/product64.iss"
# The patch: files replacing installed ones, one new to the product, a dot directory and a
# directory the product lacks, which the patch's [Dirs] makes.
put "$patch/backup/Velmarok.exe" 'version 1.1'
put "$patch/backup/bin/core.dll" 'core 1.1'
put "$patch/backup/bin/日本.dat" 'data 1.1'
put "$patch/backup/bin/Ж-new.dll" 'new in 1.1'
put "$patch/backup/.cache/index" 'kept: dot names stay'
put "$patch/backup/lang/de.txt" 'new in 1.1'
cp "$program" "$patch/restore-backup.exe"
cp "$source_dir/examples/patch.iss" "$patch/"
put "$work/run64/backup/Velmarok.exe" 'version 1.1'

W=$(windows "$work") I=$(windows "$install") I64=$(windows "$install64") C=$(windows "$iscc")
H=$(windows "$held") Q=$(windows "$queued")
# A step of the batch file: command $2, then its exit status as the line "$1=STATUS".
step() { printf '%s\r\n>>"%%W%%\\out\\status.txt" echo %s=%%errorlevel%%\r\n' "$2" "$1"; }
{
  printf '@echo off\r\nset W=%s\r\n' "$W"
  step compile-product "start \"\" /wait \"$C\" /Q \"%W%\\stage\\product.iss\" >\"%W%\\out\\iscc-product.log\" 2>&1"
  step compile-product64 "start \"\" /wait \"$C\" /Q /Fvelmarok-setup-x64 \"%W%\\stage\\product64.iss\" >\"%W%\\out\\iscc-product64.log\" 2>&1"
  step compile-patch "start \"\" /wait \"$C\" /Q \"%W%\\stage\\patch\\patch.iss\" >\"%W%\\out\\iscc-patch.log\" 2>&1"
  step compile-patch-no-restart "start \"\" /wait \"$C\" /Q \"/DRestoreSwitches=/EXITCODE\" /Fvelmarok-patch-no-restart \"%W%\\stage\\patch\\patch.iss\" >\"%W%\\out\\iscc-patch2.log\" 2>&1"
  step install "start \"\" /wait \"%W%\\stage\\velmarok-setup.exe\" /VERYSILENT /SUPPRESSMSGBOXES \"/DIR=$I\""
  step copy-installed "xcopy /E /I /Q /Y \"$I\" \"%W%\\out\\installed\" >nul"
  step patch "start \"\" /wait \"%W%\\stage\\patch\\velmarok-patch.exe\" /VERYSILENT /SUPPRESSMSGBOXES /NORESTART"
  step copy-patched "xcopy /E /I /Q /Y \"$I\" \"%W%\\out\\patched\" >nul"
  step uninstall "start \"\" /wait \"$I\\unins000.exe\" /VERYSILENT /SUPPRESSMSGBOXES"
  step key32-after-uninstall "reg query \"$key\" /reg:32 >nul 2>&1"
  step patch-not-installed "start \"\" /wait \"%W%\\stage\\patch\\velmarok-patch.exe\" /VERYSILENT /SUPPRESSMSGBOXES /NORESTART"
  step install64 "start \"\" /wait \"%W%\\stage\\velmarok-setup-x64.exe\" /VERYSILENT /SUPPRESSMSGBOXES \"/DIR=$I64\""
  step key64 "reg query \"$key\" /v \"Inno Setup: App Path\" /reg:64 >\"%W%\\out\\key64.txt\" 2>&1"
  step key32-of-64bit-install "reg query \"$key\" /reg:32 >nul 2>&1"
  step program-64bit-install "start \"\" /wait /D\"%W%\\run64\" \"%W%\\stage\\patch\\restore-backup.exe\" \"/LOG=%W%\\out\\64bit.log\""
  # The test leaves nothing in the registry.
  printf 'reg delete "%s" /reg:32 /f >nul 2>&1\r\nreg delete "%s" /reg:64 /f >nul 2>&1\r\n' "$key" "$key"
} >"$work/chain.bat"
# The held chain: the product installed twice more (the registration names the latest), its
# bin\core.dll held without sharing throughout each patch, as the running product holds it.
held_step() {  # name, installation directory, patch
  printf 'if exist "%%W%%\\out\\ready" del "%%W%%\\out\\ready"\r\n'
  printf 'start "" "%s" "%s\\bin\\core.dll" "%%W%%\\nowhere" -1 "%%W%%\\out\\ready"\r\n' "$(windows "$hold")" "$2"
  printf ':wait%s\r\nif not exist "%%W%%\\out\\ready" goto wait%s\r\n' "$1" "$1"
  step "$1" "start \"\" /wait \"%W%\\stage\\patch\\$3\" /VERYSILENT /SUPPRESSMSGBOXES /NORESTART"
  # Copied once released: xcopy cannot read a file held without sharing.
  printf 'taskkill /F /IM hold-file.exe >nul 2>&1\r\n'
  step "copy-$1" "xcopy /E /I /Q /Y \"$2\" \"%W%\\out\\$1\" >nul"
}
{
  printf '@echo off\r\nset W=%s\r\n' "$W"
  step install-held "start \"\" /wait \"%W%\\stage\\velmarok-setup.exe\" /VERYSILENT /SUPPRESSMSGBOXES \"/DIR=$H\""
  held_step patch-held "$H" velmarok-patch-no-restart.exe
  step patch-again "start \"\" /wait \"%W%\\stage\\patch\\velmarok-patch-no-restart.exe\" /VERYSILENT /SUPPRESSMSGBOXES /NORESTART"
  step install-queued "start \"\" /wait \"%W%\\stage\\velmarok-setup.exe\" /VERYSILENT /SUPPRESSMSGBOXES \"/DIR=$Q\""
  held_step patch-queued "$Q" velmarok-patch.exe
  printf 'reg delete "%s" /reg:32 /f >nul 2>&1\r\n' "$key"
} >"$work/held.bat"
started=$(date +%s)
$wine64 cmd /c "$W\\chain.bat" >"$out/cmd.log" 2>&1 || true
# The first chain's log, aside: the held chain's patch appends to it.
if [ -f "$log" ]; then mv "$log" "$out/restore-backup.log"; fi
$wine64 cmd /c "$W\\held.bat" >"$out/held.log" 2>&1 || true
# The restart makes the renames queued for it.
$wine64 wineboot -r >"$out/wineboot.log" 2>&1 || true
wineserver -w
echo "the chains took $(($(date +%s) - started)) s in two wine cmds and one wineboot"
expect "the held chain's statuses" "$(tr -d '\r ' <"$out/status.txt" | sed -n '/^install-held=/,$p')" "install-held=0
patch-held=1618
copy-patch-held=0
patch-again=0
install-queued=0
patch-queued=3010
copy-patch-queued=0"
product11="Velmarok.exe=version 1.1
bin/core.dll=core 1.1
bin/Ж-new.dll=new in 1.1
bin/日本.dat=data 1.1
lang/de.txt=new in 1.1
readme.txt=readme 1.0
unins000.dat
unins000.exe"
expect "held, without the restart switch" "$(tree "$out/patch-held" | grep core.dll)" "bin/core.dll=core 1.0"
expect "patched again once released" "$(tree "$held")" "$product11"
expect "held, queued for the restart" "$(tree "$out/patch-queued" | sed 's/~rb[0-9A-F]\{4\}/~rbXXXX/')" \
  "$(sed 's|^bin/core.dll=.*|bin/core.dll=core 1.0\nbin/~rbXXXX.tmp=core 1.1|' <<<"$product11")"
expect "after the restart" "$(tree "$queued")" "$product11"
sed -i '/^install-held=/,$d' "$out/status.txt"
rm -f "$log"
log=$out/restore-backup.log

expect "each step's status" "$(tr -d '\r ' <"$out/status.txt")" "compile-product=0
compile-product64=0
compile-patch=0
compile-patch-no-restart=0
install=0
copy-installed=0
patch=0
copy-patched=0
uninstall=0
key32-after-uninstall=1
patch-not-installed=1
install64=0
key64=0
key32-of-64bit-install=1
program-64bit-install=0"
expect "the product as installed" "$(tree "$out/installed")" "Velmarok.exe=version 1.0
bin/core.dll=core 1.0
bin/日本.dat=data 1.0
readme.txt=readme 1.0
unins000.dat
unins000.exe"
# The README's rules: each backup file replaces the installed one or joins its directory; the dot
# directory and the directory the product lacks stay in backup, which setup removes with {tmp}.
expect "the product as patched" "$(tree "$out/patched")" "$product11"
# Read now that setup has ended: /LOG alone wrote it outside {tmp}.
# Wine's drive Z: has no volume device to flush, so each file is flushed before its rename.
wanted_log="registry: $key, \"Inno Setup: App Path\" = $I
not flushed, so each file is flushed before its rename: the volume of backup (the system is known to report a volume's flush that it does not make)
walk 1: backup -> $I
kept: backup\\.cache (its name begins with \".\")
moved: backup\\Velmarok.exe -> $I\\Velmarok.exe
moved: backup\\bin\\core.dll -> $I\\bin\\core.dll
moved: backup\\bin\\日本.dat -> $I\\bin\\日本.dat
moved: backup\\bin\\Ж-new.dll -> $I\\bin\\Ж-new.dll
moved: backup\\lang\\de.txt -> $I\\lang\\de.txt
removed: backup\\bin
removed: backup\\lang
left: backup: error 145
done: 5 files moved, 0 not moved, 1 kept, 1 directory left, in S s
exit status 0: every file is installed"
first='^[0-9]{4}-[0-9]{2}-[0-9]{2} [0-9:]{8} restore-backup [0-9.]+, in (.*)\\is-[0-9A-Z]+\.tmp, command line: /EXITCODE /RESTARTREPLACE /LOG$'
if [ -f "$log" ]; then
  expect "the patch's log: its run in {tmp}" \
    "$(head -n 1 "$log" | tr -d '\r' | sed -nE "s|$first|\\1|p")" "$temp_windows"
  expect "the patch's log" "$(log_lines "$log")" "$(LC_ALL=C sort <<<"$wanted_log")"
else
  expect "the patch's log in the user's temporary directory" missing present
fi
# The uninstaller removes what its install wrote; what the patch added stays, with its directory.
expect "what uninstall leaves" "$(tree "$install")" "bin/Ж-new.dll=new in 1.1
lang/de.txt=new in 1.1"
# Refused where the product is not installed: no directory made, at the root of a drive either.
expect "no directory made without the product" "$(ls -d "$WINEPREFIX/drive_c/lang" /lang 2>&1 | grep -vc 'No such file')" 0
expect "the 64-bit-mode registration" \
  "$(tr -d '\r' <"$out/key64.txt" | grep -cF "REG_SZ    $I64" || true)" 1
expect "the program's log with the product in 64-bit mode" \
  "$(log_lines "$out/64bit.log" | sed 's/^done: .*/done/')" \
  "$(printf '%s\n' "registry: $key, \"Inno Setup: App Path\": no such key, so nothing is restored" done "exit status 0 (1605 with /EXITCODE): no usable registration, so nothing is restored" | LC_ALL=C sort)"
expect "the backup, with nothing restored" "$(tree "$work/run64")" "backup/Velmarok.exe=version 1.1"
expect "the 64-bit-mode product, untouched" "$(tree "$install64" | grep -v '^unins000')" "Velmarok.exe=version 1.0
bin/core.dll=core 1.0
bin/日本.dat=data 1.0
readme.txt=readme 1.0"
rm -f "$log"
# But for the uninstaller's copy of itself (iu-*.tmp), which it can only have removed at the next
# start of the system.
expect "Wine's temporary directory as it was" \
  "$(ls -A "$temp" 2>/dev/null | grep -v '^iu-.*\.tmp$' || true)" "$temp_before"
if [ $failed = 0 ]; then rm -rf "$work"; fi
exit $failed
