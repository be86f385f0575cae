#!/usr/bin/env bash
# Benchmark: restores a large backup tree (half of its files replacing installed ones) with the
# native program, without and with its log (/LOG=), the Windows program under Wine, and the
# routes a Linux user would otherwise take: rsync --remove-source-files (then removing the
# emptied directories), and cp -a then rm -r. Those routes start with the backup on disk; one
# more starts with it just written and not synced, as an installer leaves it, where the program
# makes it durable before its first rename. Each is reported as a ratio to the floor: the same
# renames and directory removals done by a bare C loop (bench/floor.c) over a list of paths
# prepared before the timing, the least any tool can do on this file system. Reports wall time,
# system calls per file, peak memory, and how time grows with the tree.
#
#   bash bench/bench.sh [FILES [BYTES]]   (default 100000 files of about 10 bytes, in directories
#                                          of 100 files; BYTES pads each file to that size)
#   BENCH_WINE=0 leaves out the Wine route (minutes a start where 32-bit programs run under qemu).
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
cmake --build --preset native -j "$(nproc)" --target per-file-flush >/dev/null
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

# The floor: C, compiled here, reading its list in one call, so that what it measures is the
# kernel's work and no interpreter's. The list names each file's rename and each directory's
# removal, children first, relative to the route's directory.
cc -O2 -o "$work/floor.bin" bench/floor.c
floor_list() {  # label
  python3 - "$work/$1" >"$work/$1.list" <<'PY'
import os, sys
os.chdir(sys.argv[1])
for directory, _, names in os.walk("backup", topdown=False):
    for name in sorted(names):
        source = os.path.join(directory, name)
        print("R\t%s\t%s" % (source, os.path.join("install", os.path.relpath(source, "backup"))))
    print("D\t%s" % directory)
PY
}
# Started through env like the program, so that both pay the same start-up.
floor=(env "$work/floor.bin" "$work/floor.list")
logged=("${native[@]}" "/LOG=$work/logged.log")

# The floor and the native program without and with its log are timed in turn, three times
# each, and each reported by its median, so that a moment's load on the machine weighs on all
# three alike.
median() { printf '%s\n' "$@" | sort -g | awk '{v[NR] = $1} END {print v[int((NR + 1) / 2)]}'; }
declare -A samples
for round in 1 2 3; do
  for label in floor native logged; do
    lay_out "$label" "$files"
    sync -f "$work"
    [ "$label" = floor ] && floor_list floor
    rm -f "$work/logged.log"
    case $label in
      floor) read -r sample memory[floor] < <(timed floor "${floor[@]}") ;;
      native) read -r sample memory[native] < <(timed native "${native[@]}") ;;
      logged) read -r sample memory[logged] < <(timed logged "${logged[@]}") ;;
    esac
    verify "$label" "$files"
    samples[$label]+="$sample "
  done
done
for label in floor native logged; do
  # shellcheck disable=SC2086
  seconds[$label]=$(median ${samples[$label]})
done

# The backup just written, not synced: the floor, the floor after one sync -f of the backup (the
# least a restore that survives a power cut can do), the program, and the program with every
# volume failing to open (as without elevation), so that it flushes each file before its rename.
# What earlier routes left is synced first.
per_file=(env RESTORE_BACKUP_HKLM=HKLM.reg "$top/build/native/per-file-flush")
cold=(cold-floor cold-synced cold-native cold-per-file)
for round in 1 2 3; do
  for label in "${cold[@]}"; do
    rm -rf "${work:?}/$label" && sync -f "$work"
    lay_out "$label" "$files"
    case $label in
      cold-floor) floor_list "$label" && command=(env "$work/floor.bin" "$work/$label.list") ;;
      cold-synced) floor_list "$label" &&
        command=(sh -c 'sync -f backup && exec "$0" "$1"' "$work/floor.bin" "$work/$label.list") ;;
      cold-native) command=("${native[@]}") ;;
      cold-per-file) command=("${per_file[@]}") ;;
    esac
    read -r sample memory[$label] < <(timed "$label" "${command[@]}")
    verify "$label" "$files"
    samples[$label]+="$sample "
  done
done
for label in "${cold[@]}"; do
  # shellcheck disable=SC2086
  seconds[$label]=$(median ${samples[$label]})
done
log_lines=$(wc -l <"$work/logged.log")
log_bytes=$(stat -c %s "$work/logged.log")
run rsync "$files" bash -c "$(declare -f rsync_route); rsync_route"
run cp "$files" bash -c "$(declare -f cp_route); cp_route"

# System calls, counted apart from the timed runs (strace slows them): the native program
# without and with its log, and the floor.
count_calls() {  # label, command...
  local label=$1; shift
  lay_out "$label" "$files"
  [ "$label" = strace-floor ] && floor_list strace-floor
  rm -f "$work/logged.log"
  (cd "$work/$label" && RESTORE_BACKUP_HKLM=HKLM.reg strace -c -o "$work/$label.txt" "$@")
  verify "$label" "$files"
  awk '$NF == "total" {print $4}' "$work/$label.txt"
}
calls=$(count_calls strace "$top/build/native/restore-backup")
renames=$(awk '$NF == "rename" {print $4}' "$work/strace.txt")
logged_calls=$(count_calls strace-logged "$top/build/native/restore-backup" "/LOG=$work/logged.log")
logged_writes=$(awk '$NF == "write" {print $4}' "$work/strace-logged.txt")
floor_calls=$(count_calls strace-floor "$work/floor.bin" "$work/strace-floor.list")
per_file_calls=$(count_calls strace-per-file "$top/build/native/per-file-flush")

# The Windows program under Wine, in a prefix of its own; Wine's start-up is measured apart with
# an empty backup and subtracted.
if [ "${BENCH_WINE:-1}" != 0 ]; then
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
fi

ratio() { awk -v a="$1" -v b="$2" 'BEGIN { if (b > 0) printf "%.2f", a / b; else print "inf" }'; }
per_file() { awk -v c="$1" -v f="$files" 'BEGIN {printf "%.3f", c / f}'; }
printf '| route | wall time (s) | peak memory (KiB) | vs floor | system calls a file |\n'
printf '|---|---|---|---|---|\n'
printf '| floor: the same renames and removals, a bare C loop over a prepared list | %s | %s | 1.00 | %s |\n' \
  "${seconds[floor]}" "${memory[floor]}" "$(per_file "$floor_calls")"
printf '| restore-backup (native) | %s | %s | %s | %s |\n' "${seconds[native]}" \
  "${memory[native]}" "$(ratio "${seconds[native]}" "${seconds[floor]}")" "$(per_file "$calls")"
printf '| restore-backup (native) /LOG= | %s | %s | %s | %s |\n' "${seconds[logged]}" \
  "${memory[logged]}" "$(ratio "${seconds[logged]}" "${seconds[floor]}")" "$(per_file "$logged_calls")"
[ -z "${seconds[wine]:-}" ] ||
  printf '| restore-backup.exe under Wine 8 | %s (%s of it Wine start-up) | %s (Wine process) | %s | |\n' \
    "${seconds[wine]}" "$idle_seconds" "${memory[wine]}" "$(ratio "${seconds[wine]}" "${seconds[floor]}")"
printf '| rsync -a --remove-source-files, then find -delete | %s | %s | %s | |\n' \
  "${seconds[rsync]}" "${memory[rsync]}" "$(ratio "${seconds[rsync]}" "${seconds[floor]}")"
printf '| cp -a, then rm -r | %s | %s | %s | |\n' \
  "${seconds[cp]}" "${memory[cp]}" "$(ratio "${seconds[cp]}" "${seconds[floor]}")"
echo
echo "floor, native and native /LOG=: median of 3 runs each, in turn; runs (s):"
for label in floor native logged; do echo "  $label: ${samples[$label]}"; done
echo "the log: $log_lines lines, $log_bytes bytes, $logged_writes write calls"
echo
echo "native system calls: $calls for $files files ($(per_file "$calls") a file), of which rename: $renames; the rest:"
awk '$NF != "total" && $NF != "rename" && $4 ~ /^[0-9]+$/ && $4 >= 100 {printf "  %s %s\n", $NF, $4}' "$work/strace.txt"
echo "with /LOG=: $logged_calls ($(per_file "$logged_calls") a file); floor: $floor_calls ($(per_file "$floor_calls") a file)"
echo "flushing each file instead of the volume: $per_file_calls ($(per_file "$per_file_calls") a file)"
echo

echo "The backup just written, not synced (median of 3 runs each, in turn):"
printf '| route | wall time (s) | vs floor | vs floor + sync -f |\n|---|---|---|---|\n'
cold_row() {  # label, description
  printf '| %s | %s | %s | %s |\n' "$2" "${seconds[$1]}" "$(ratio "${seconds[$1]}" "${seconds[cold-floor]}")" \
    "$(ratio "${seconds[$1]}" "${seconds[cold-synced]}")"
}
cold_row cold-floor "floor"
cold_row cold-synced "floor after sync -f of the backup"
cold_row cold-native "restore-backup (native): one flush of the volume"
cold_row cold-per-file "restore-backup (native), no volume to open: each file flushed"
for label in "${cold[@]}"; do echo "  $label: ${samples[$label]}"; done
echo

# Growth with the size of the tree: time and memory a file should stay flat.
printf '| files | wall time (s) | microseconds a file | peak memory (KiB) |\n|---|---|---|---|\n'
for count in 1000 10000 "$files"; do
  run "scale-$count" "$count" "${native[@]}"
  printf '| %s | %s | %s | %s |\n' "$count" "${seconds[scale-$count]}" \
    "$(awk -v s="${seconds[scale-$count]}" -v f="$count" 'BEGIN {printf "%.1f", s * 1e6 / f}')" \
    "${memory[scale-$count]}"
done
rm -rf "${work:?}"/{floor,floor.bin,floor.list,native,logged,rsync,cp,strace,strace-logged,strace-floor,strace-per-file,wine,wine-idle,scale-*,cold-*}
rm -f "$work"/{floor,floor.list,strace-floor.list,logged.log,strace*.txt,cold-*.list}
