#!/usr/bin/env bash
# Benchmark: restores a large backup tree (half of its files replacing installed ones) with the
# native program, the Windows program under Wine, and the routes a Linux user would otherwise
# take: rsync --remove-source-files (then removing the emptied directories), and cp -a then rm -r.
# Reports wall time, system calls per file, peak memory, and how time grows with the tree.
#
#   bash bench/bench.sh [FILES [BYTES]]   (default 100000 files of about 10 bytes, in directories
#                                          of 100 files; BYTES pads each file to that size)
#
# Everything happens under build/bench, on one file system. This is not a test: it asserts
# nothing and prints a table.
set -euo pipefail
cd "$(dirname "$0")/.."
top=$PWD
files=${1:-100000}
bytes=${2:-0}
work=$top/build/bench
source scripts/lib.sh
bash scripts/deps.sh
build_programs
mkdir -p "$work"

# Lays out backup/ and install/ in $work/$1 for $2 files: directories of 100 files, every
# installed directory present, every other backup file replacing an installed one.
lay_out() {
  rm -rf "${work:?}/$1"
  python3 - "$work/$1" "$2" "$bytes" <<'PY'
import os, sys
root, files, size = sys.argv[1], int(sys.argv[2]), int(sys.argv[3])
for d in range(max(1, files // 100)):
    b = os.path.join(root, "backup", "d%04d" % d)
    i = os.path.join(root, "install", "d%04d" % d)
    os.makedirs(b); os.makedirs(i)
    for f in range(min(100, files - d * 100)):
        name = "f%03d.dll" % f
        text = "new %d %d\n" % (d, f)
        with open(os.path.join(b, name), "w") as out: out.write(text + "x" * (size - len(text)))
        if f % 2 == 0:
            with open(os.path.join(i, name), "w") as out: out.write("old\n")
PY
  write_hive "$work/$1/HKLM.reg" "$work/$1/install"
}

# Checks that a route left every file installed with its new content and no backup behind.
verify() {
  local moved
  moved=$(grep -rl '^new ' "$work/$1/install" | wc -l)
  if [ "$moved" -ne "$2" ] || [ -e "$work/$1/backup" ]; then
    echo "$1: $moved of $2 files restored, backup left: $([ -e "$work/$1/backup" ] && echo yes || echo no)" >&2
    exit 1
  fi
}

# Runs a command in $work/$1; prints "seconds peak_kib" (the wall clock to the microsecond, the
# peak resident memory of the largest process from /usr/bin/time).
timed() {
  local dir=$1 start end; shift
  start=$EPOCHREALTIME
  (cd "$work/$dir" && /usr/bin/time -f '%M' -o "$work/time.txt" "$@" >/dev/null 2>&1)
  end=$EPOCHREALTIME
  echo "$(awk -v s="$start" -v e="$end" 'BEGIN {printf "%.3f", e - s}') $(cat "$work/time.txt")"
}

native=(env RESTORE_BACKUP_HKLM=HKLM.reg "$top/build/native/restore-backup")
rsync_route() {
  rsync -a --remove-source-files backup/ install/ && find backup -depth -type d -empty -delete
}
cp_route() { cp -a backup/. install/ && rm -r backup; }

declare -A seconds memory
run() {  # label, files, command...
  local label=$1 count=$2; shift 2
  lay_out "$label" "$count"
  read -r seconds[$label] memory[$label] < <(timed "$label" "$@")
  verify "$label" "$count"
}

echo "machine: $(nproc) cores, $(awk '/MemTotal/ {printf "%.0f GiB", $2/1048576}' /proc/meminfo), $(findmnt -no FSTYPE -T "$work"), $(uname -r)"
echo "tree: $files files$([ "$bytes" -gt 0 ] && echo " of $bytes bytes") in $((files / 100)) directories, half replacing installed files"
echo

run native "$files" "${native[@]}"
run rsync "$files" bash -c "$(declare -f rsync_route); rsync_route"
run cp "$files" bash -c "$(declare -f cp_route); cp_route"

# System calls of the native program, counted apart from the timed run (strace slows it).
lay_out strace "$files"
(cd "$work/strace" && RESTORE_BACKUP_HKLM=HKLM.reg strace -c -o "$work/strace.txt" "$top/build/native/restore-backup")
verify strace "$files"
calls=$(awk '$NF == "total" {print $4}' "$work/strace.txt")
renames=$(awk '$NF == "rename" {print $4}' "$work/strace.txt")

# The Windows program under Wine, in a prefix of its own; Wine's start-up is measured apart with
# an empty backup and subtracted.
prefix=$work/wineprefix
[ -f "$prefix/drive_c/restore-backup-test-prefix" ] || bash scripts/wine-prefix.sh "$prefix" >/dev/null
wine_environment "$prefix"
lay_out wine "$files"
wine_register "$work/wine/install" >/dev/null
wineserver -w
mkdir -p "$work/wine-idle"
# One run first, so that both measured runs find wineserver already started.
timed wine-idle wine "$top/build/windows/restore-backup.exe" >/dev/null
read -r idle_seconds idle_memory < <(timed wine-idle wine "$top/build/windows/restore-backup.exe")
read -r seconds[wine] memory[wine] < <(timed wine wine "$top/build/windows/restore-backup.exe")
verify wine "$files"
wineserver -k 2>/dev/null || true

ratio() { awk -v a="$1" -v b="$2" 'BEGIN { if (b > 0) printf "%.1f", a / b; else print "inf" }'; }
printf '| route | wall time (s) | peak memory (KiB) | vs restore-backup |\n|---|---|---|---|\n'
printf '| restore-backup (native) | %s | %s | 1.0 |\n' "${seconds[native]}" "${memory[native]}"
printf '| restore-backup.exe under Wine 8 | %s (%s of it Wine start-up) | %s (Wine process) | %s |\n' \
  "${seconds[wine]}" "$idle_seconds" "${memory[wine]}" "$(ratio "${seconds[wine]}" "${seconds[native]}")"
printf '| rsync -a --remove-source-files, then find -delete | %s | %s | %s |\n' \
  "${seconds[rsync]}" "${memory[rsync]}" "$(ratio "${seconds[rsync]}" "${seconds[native]}")"
printf '| cp -a, then rm -r | %s | %s | %s |\n' \
  "${seconds[cp]}" "${memory[cp]}" "$(ratio "${seconds[cp]}" "${seconds[native]}")"
echo
echo "native system calls: $calls for $files files ($(awk -v c="$calls" -v f="$files" 'BEGIN {printf "%.3f", c / f}') a file), of which rename: $renames; the rest:"
awk '$NF != "total" && $NF != "rename" && $4 ~ /^[0-9]+$/ && $4 >= 100 {printf "  %s %s\n", $NF, $4}' "$work/strace.txt"
echo

# Growth with the size of the tree: time and memory a file should stay flat.
printf '| files | wall time (s) | microseconds a file | peak memory (KiB) |\n|---|---|---|---|\n'
for count in 1000 10000 "$files"; do
  run "scale-$count" "$count" "${native[@]}"
  printf '| %s | %s | %s | %s |\n' "$count" "${seconds[scale-$count]}" \
    "$(awk -v s="${seconds[scale-$count]}" -v f="$count" 'BEGIN {printf "%.1f", s * 1e6 / f}')" \
    "${memory[scale-$count]}"
done
rm -rf "${work:?}"/{native,rsync,cp,strace,wine,wine-idle,scale-*}
