#!/usr/bin/env bash
# Lays out a sample installation and backup, runs the program on it with a log, and shows both
# trees before and after, and the log: the Linux build over a registry file, then the Windows
# build under Wine with the registration in Wine's registry. Everything it makes lies under
# build/sample.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/lib.sh
bash scripts/deps.sh
top=$PWD
build_programs

# A product as its installer left it, and the backup that the program restores into it.
lay_out() {  # directory
  rm -rf "$1" && mkdir -p "$1/logs"
  local install="$1/Program Files (x86)/Velmarok"
  mkdir -p "$install/bin/plugins" "$install/docs"
  echo 'version 1.0' >"$install/Velmarok.exe"
  echo 'version 1.0' >"$install/bin/core.dll"
  echo 'version 1.0' >"$install/docs/README.txt"
  echo 'uninstaller' >"$install/unins000.exe"
  mkdir -p "$1/backup/bin/plugins" "$1/backup/docs" "$1/backup/lang" "$1/backup/.cache"
  echo 'version 1.1' >"$1/backup/Velmarok.exe"
  echo 'version 1.1' >"$1/backup/bin/core.dll"
  echo 'new in 1.1' >"$1/backup/bin/plugins/extra.dll"
  echo 'version 1.1' >"$1/backup/docs/README.txt"
  echo 'kept: its directory is not installed' >"$1/backup/lang/de.txt"
  echo 'kept: dot names stay' >"$1/backup/.cache/index"
}

show() {  # title, directory
  echo "  $1"
  if [ ! -d "$2" ]; then echo "    (gone)"; return; fi
  (cd "$2" && find . -mindepth 1 | sort | while read -r path; do
    if [ -d "$path" ]; then echo "    ${path#./}/"; else echo "    ${path#./}: $(head -c 60 "$path")"; fi
  done)
}

show_both() {  # when, sample
  echo "$1:"
  show "backup" "$2/backup"
  show "Program Files (x86)/Velmarok" "$2/Program Files (x86)/Velmarok"
}

echo "== Linux build: build/native/restore-backup"
sample=$top/build/sample/native
lay_out "$sample"
write_hive "$sample/HKLM.reg" "$sample/Program Files (x86)/Velmarok"
echo "registry file (RESTORE_BACKUP_HKLM): $sample/HKLM.reg"
show_both "before" "$sample"
status=0
(cd "$sample" && RESTORE_BACKUP_HKLM=$sample/HKLM.reg "$top/build/native/restore-backup" \
  "/LOG=$sample/logs/restore run.log") || status=$?
echo "restore-backup \"/LOG=$sample/logs/restore run.log\" exited with status $status"
show_both "after" "$sample"
echo "the log:"
sed 's/^/    /' "$sample/logs/restore run.log"

echo
echo "== Windows build under Wine: build/windows/restore-backup.exe"
prefix=$top/build/sample/wineprefix
bash scripts/wine-prefix.sh "$prefix"
wine_environment "$prefix"
sample=$top/build/sample/windows
lay_out "$sample"
install=$(wine_register "$sample/Program Files (x86)/Velmarok")
echo "registered (32-bit view): HKLM\\$uninstall_key"
echo "  \"Inno Setup: App Path\" = $install"
show_both "before" "$sample"
status=0
# Wine quotes each argument it is given into the Windows command line, as an installer would.
log="Z:${sample//\//\\}\\logs\\restore run.log"
(cd "$sample" && wine "$top/build/windows/restore-backup.exe" "/LOG=$log") || status=$?
echo "restore-backup.exe \"/LOG=$log\" exited with status $status"
show_both "after" "$sample"
echo "the log (Wine words the system's messages more briefly than Windows):"
sed 's/^/    /; s/\r$//' "$sample/logs/restore run.log"
wineserver -k 2>/dev/null || true
