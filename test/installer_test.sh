#!/usr/bin/env bash
# A real installer starts the program, as release engineers ship it: makensis builds the README's
# patch installer, which under Wine writes the product's registration (the 32-bit view), unpacks
# a backup tree of unusual names with the program, and runs the program there.
# Arguments: the source directory, the built restore-backup.exe, a work directory (emptied).
# Wine's prefix and settings come from the environment.
set -euo pipefail
source_dir=$1 program=$2 work=$3
key='HKLM\SOFTWARE\Microsoft\Windows\CurrentVersion\Uninstall\velmarok_is1'
stage=$work/stage patch=$work/patch install="$work/Программы/Velmarok 日本"
windows() { local path=${1//\//\\}; printf 'Z:%s' "$path"; }
put() { mkdir -p "$(dirname "$1")" && printf '%s' "$2" >"$1"; }
tree() { (cd "$1" && find . -type f | LC_ALL=C sort | while read -r f; do echo "${f#./}=$(cat "$f")"; done); }
failed=0
expect() {  # what, got, wanted
  if [ "$2" = "$3" ]; then echo "ok: $1"; else printf 'FAILED: %s\n got:\n%s\n wanted:\n%s\n' "$@"; failed=1; fi
}

rm -rf "$work"
temp=$WINEPREFIX/drive_c/users/${USER:-$(id -un)}/AppData/Local/Temp
temp_before=$(ls -A "$temp" 2>/dev/null || true)
put "$install/Velmarok.exe" 'version 1.0'
put "$install/Ж.txt" 'old, and longer'
put "$install/sub dir/日本 語.txt" 'old, and longer'
put "$install/unins000.exe" 'uninstaller'
mkdir -p "$install/emoji 😀"
put "$stage/backup/Velmarok.exe" 'version 1.1'
put "$stage/backup/Ж.txt" 'new'
put "$stage/backup/sub dir/日本 語.txt" 'new'
put "$stage/backup/emoji 😀/café e$(printf '\xcc\x81').txt" 'new'
put "$stage/backup/.cache/index" 'kept: dot names stay'
put "$stage/backup/lang/de.txt" 'kept: its directory is not installed'
cp "$program" "$stage/restore-backup.exe"

(cd "$stage" && makensis -V2 -NOCD -DAPP_PATH="$(windows "$install")" \
  -DPATCH_DIR="$(windows "$patch")" "$source_dir/examples/patch-installer.nsi") >"$work/makensis.log"
trap 'wine reg delete "$key" /reg:32 /f >"$work/unregister.log" 2>&1' EXIT
status=0
wine "$stage/velmarok-patch.exe" /S >"$work/installer.log" 2>&1 || status=$?

# A file whose directory the product lacks stays: the patch says so.
expect "installer exit status (its low byte, as Wine hands it to Linux)" "$status" $((1603 % 256))
expect "installed tree" "$(tree "$install")" "Velmarok.exe=version 1.1
emoji 😀/café e$(printf '\xcc\x81').txt=new
sub dir/日本 語.txt=new
unins000.exe=uninstaller
Ж.txt=new"
expect "what stays in the backup" "$(tree "$patch/backup")" ".cache/index=kept: dot names stay
lang/de.txt=kept: its directory is not installed"
expect "Wine's temporary directory as it was" "$(ls -A "$temp" 2>/dev/null || true)" "$temp_before"
if [ $failed = 0 ]; then rm -rf "$stage" "$patch" "$work/Программы"; fi
exit $failed
