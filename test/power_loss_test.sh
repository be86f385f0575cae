#!/usr/bin/env bash
# Power loss during and just after a restore. Each volume is an ext4 image on a loop device in
# /dev/shm, mounted noauto_da_alloc,commit=1 (metadata reaches the journal within a second, data
# only when written back): the installed files are written and synced, the backup written as an
# installer leaves it, not synced, and the program run. Copies of the images taken while they are
# mounted are what a machine that lost power at that instant boots with; each copy is checked
# with e2fsck, mounted read-only and compared file by file. Cuts at random instants during the
# run find every installed file old with its backup copy still there, or new (a file copied across
# may be in both places); a cut 3 s after the
# program returned, or the instant it returned, finds every file new, and no backup copy of it
# left to be copied again. No file may be empty, torn or lost.
#
# Layouts: one volume; the backup on one and the installation on another; a backup whose
# directories are links to the other volume, where the installation is; an installation whose
# directories are links to the volume of the backup. Under Wine, which reports flushes it does
# not make, each file is flushed before its rename; one row puts both on a drive letter mapped
# to the root of the image, whose device Wine opens and does not flush.
#
#   power_loss_test.sh native|wine SOURCE_DIR PROGRAM FILES   (Wine's prefix from the environment)
# Exits 77 (skipped) where no loop device can be made or mounted.
set -euo pipefail
mode=$1 source_dir=$2 program=$3 files=$4
source "$source_dir/scripts/lib.sh"
skip() { echo "skipped: $*"; exit 77; }
[ "$(id -u)" = 0 ] || skip "making a loop device needs root"
work=$(mktemp -d /dev/shm/power-loss.XXXXXX)
loops=() registered= drive=
expire=$(cat /proc/sys/vm/dirty_expire_centisecs)
cleanup() {
  set +e
  for dir in "$work"/seen* "$work"/mnt*; do mountpoint -q "$dir" && umount "$dir"; done
  for loop in "${loops[@]}"; do losetup -d "$loop"; done
  [ -z "$registered" ] || wine reg delete "HKLM\\$uninstall_key" /reg:32 /f >/dev/null 2>&1
  [ -z "$drive" ] || rm -f "$drive"
  echo "$expire" >/proc/sys/vm/dirty_expire_centisecs
  rm -rf "$work"
}
trap cleanup EXIT
# Wine takes a minute to start under qemu: the kernel must not write the backup back on its own
# meanwhile (after 30 s by default), or a program that never flushes would pass.
echo 360000 >/proc/sys/vm/dirty_expire_centisecs || true
for v in 0 1; do
  truncate -s 128M "$work/disk$v.img"
  mkfs.ext4 -q -F "$work/disk$v.img" || skip "mkfs.ext4 failed"
  loops+=("$(losetup -f --show "$work/disk$v.img")") || skip "no loop device"
  mkdir "$work/mnt$v" "$work/seen$v"
  mount -o noauto_da_alloc,commit=1 "${loops[-1]}" "$work/mnt$v" || skip "cannot mount ext4"
done
mnt0=$work/mnt0 mnt1=$work/mnt1

# Each file's text is its name, repeated over two blocks (old) or three (new).
tree() {  # lay DIR old|new, or check INSTALL BACKUP new|either
  python3 - "$@" "$files" <<'PY'
import os, sys
what, n = sys.argv[1], int(sys.argv[-1])
names = ["d%02d/f%04d.dll" % (i // 100, i) for i in range(n)]
text = lambda kind, name: ((kind + " " + name + " ") * 1000).encode()[:2048 * (2 if kind == "old" else 3)]
if what == "lay":
    root, kind = sys.argv[2], sys.argv[3]
    for name in names:
        os.makedirs(os.path.dirname(os.path.join(root, name)), exist_ok=True)
        open(os.path.join(root, name), "wb").write(text(kind, name))
    # The backup's names are made durable, not its data (unallocated yet), so that a cut before
    # the program moved a file finds it in the backup as the installer left it.
    for d in {os.path.dirname(os.path.join(root, name)) for name in names} | {root}:
        fd = os.open(d, os.O_RDONLY); os.fsync(fd); os.close(fd)
    sys.exit(0)
install, backup, want = sys.argv[2], sys.argv[3], sys.argv[4]
def read(path):
    try: return open(path, "rb").read()
    except FileNotFoundError: return None
counts = {}
for name in names:
    got, kept = read(os.path.join(install, name)), read(os.path.join(backup, name)) is not None
    kind = ("new, backup back" if got == text("new", name) and kept else
            "new" if got == text("new", name) else "lost" if got is None else
            "empty" if got == b"" else "torn" if got != text("old", name) else
            "old" if kept else "old, backup lost")
    counts[kind] = counts.get(kind, 0) + 1
print(", ".join("%d %s" % (c, k) for k, c in sorted(counts.items())))
# During a run a file copied across may be in both places, its delete not yet on disk.
sys.exit(0 if set(counts) <= ({"new"} if want == "new" else {"new", "old", "new, backup back"}) else 1)
PY
}

failed=0
# The layout's files as they lie on the volumes, volume:directory: the installation's, the
# backup's; set by layout.
where_install= where_backup=
snapshot() { for v in 0 1; do cp --sparse=always "$work/disk$v.img" "$work/$1-$v.img"; done; }
# A stopped process may still be inside a flush, writing while the images are copied: a copy
# torn so is no cut. So the copy waits until each process of the group has stopped and the loop
# devices have nothing in flight.
settle() {
  local p t
  for p in $(pgrep -g "$pid"); do
    for ((t = 0; t < 5000; t++)); do
      case $(sed 's/.*) //' "/proc/$p/stat" 2>/dev/null | cut -c1) in T | t | Z | X | '') break ;; esac
      sleep 0.001
    done
  done
  for p in "${loops[@]}"; do
    for ((t = 0; t < 5000; t++)); do [ "$(tr -d ' \n' <"/sys/block/${p#/dev/}/inflight")" != 00 ] && sleep 0.001 || break; done
  done
}
inspect() {  # label, new|either, snapshot name
  local v result status=0
  for v in 0 1; do
    e2fsck -fy "$work/$3-$v.img" >/dev/null 2>&1 || [ $? -lt 4 ] ||
      { echo "FAILED: $1: e2fsck cannot repair the copy"; failed=1; return; }
    loops+=("$(losetup -f --show -r "$work/$3-$v.img")")
    mount -o ro "${loops[-1]}" "$work/seen$v"
  done
  result=$(tree check "$work/seen${where_install/:/\/}" "$work/seen${where_backup/:/\/}" "$2") ||
    status=$?
  # The log, outside both trees, is on disk once the program has returned.
  if [ "$2" = new ] && [ -n "$log_on_image" ] && ! tail -n 1 "$work/seen0/restore.log" | grep -q '^exit status '; then
    result="$result; the log's last line not on disk"; status=1
  fi
  for v in 1 0; do
    umount "$work/seen$v" && losetup -d "${loops[-1]}" && unset 'loops[-1]'
    rm -f "$work/$3-$v.img"
  done
  if [ $status = 0 ]; then echo "ok: $1: $result"; else echo "FAILED: $1: $result of $files"; failed=1; fi
}

# Registers the installation directory: the link $work/install, which each layout points at its
# own, so that Wine's registry is written once.
register() {  # Windows path of the installation, or "" for $work/install
  if [ "$mode" = wine ]; then
    if [ -n "$1" ]; then
      wine reg add "HKLM\\$uninstall_key" /v "Inno Setup: App Path" /t REG_SZ /d "$1" /reg:32 /f \
        >/dev/null 2>&1
    else
      wine_register "$work/install" >/dev/null
    fi
    registered=yes
  else
    write_hive "$work/HKLM.reg" "$work/install"
  fi
}
# Lays out one layout's trees, installed files synced, and points $work/install at its
# installation. Sets where the files lie, and `here`, the program's current directory.
layout() {  # one|across|linked-backup|linked-install
  rm -rf "$mnt0"/* "$mnt1"/* "$work/install"
  local install backup
  case $1 in
    one) install=$mnt0/install backup=$mnt0/backup where_install=0:install where_backup=0:backup ;;
    across) install=$mnt1/install backup=$mnt0/backup where_install=1:install where_backup=0:backup ;;
    linked-backup) install=$mnt1/install backup=$mnt1/stage where_install=1:install where_backup=1:stage ;;
    linked-install) install=$mnt1/inst backup=$mnt1/backup where_install=1:inst where_backup=1:backup ;;
  esac
  tree lay "$install" old
  install_dir=$install here=$(dirname "$backup")
  if [ "$1" = linked-backup ]; then
    here=$mnt0
    mkdir "$mnt0/backup"
    for d in "$install"/*; do ln -s "$backup/${d##*/}" "$mnt0/backup/"; done
  fi
  if [ "$1" = linked-install ]; then
    mkdir "$mnt0/install"
    for d in "$install"/*; do ln -s "$d" "$mnt0/install/"; done
    install=$mnt0/install
  fi
  ln -s "$install" "$work/install"
  sync
  tree lay "$backup" new
}

log_on_image=
if [ "$mode" = wine ]; then
  run=(wine "$program" "/LOG=Z:${work//\//\\}\\restore.log")
else
  run=(env "RESTORE_BACKUP_HKLM=$work/HKLM.reg" "$program" "/LOG=$work/restore.log")
fi
start() {  # layout
  layout "$1"
  (cd "$here" && exec setsid "${run[@]}" >"$work/output.txt" 2>&1) &
  pid=$!
}
finish() {
  wait "$pid" || { echo "FAILED: the program's exit status $?"; failed=1; }
}
flushes() {
  local log=$work/restore.log
  [ -z "$log_on_image" ] || log=$mnt0/restore.log
  grep -E '^(not )?flushed' "$log" | sort | uniq -c || true
  rm -f "$log"
}

# Cuts during the run: the process group stopped at random instants, the images copied, and the
# group continued. Under Wine only once a file left the backup: its start-up is not the run.
during() {  # layout [held]
  start "$1"
  # An installed file that no rename may replace (immutable) is taken for one another process
  # holds: the program waits 2.5 s to walk again, with the other files renamed, and is cut then.
  local cuts=0 i held=$install_dir/d00/f0000.dll
  [ -z "${2:-}" ] || chattr +i "$held"
  while [ $cuts -lt 4 ] && kill -0 "$pid" 2>/dev/null; do
    if [ "$mode" = wine ]; then
      sleep "0.$((RANDOM % 10))"
      [ "$(find -L "$here/backup" -type f | wc -l)" -lt "$files" ] || continue
    elif [ -n "${2:-}" ] && [ $cuts = 3 ]; then
      sleep 1.5
    else
      sleep "0.00$((RANDOM % 10))"
    fi
    # The group exists once the program's session begins.
    kill -STOP -- "-$pid" 2>/dev/null || continue
    settle
    snapshot "cut-$cuts"
    kill -CONT -- "-$pid"
    cuts=$((cuts + 1))
  done
  finish
  [ -z "${2:-}" ] || chattr -i "$held"
  [ $cuts -gt 0 ] || { echo "FAILED: $1: the run ended before the first cut"; failed=1; }
  flushes
  for ((i = 0; i < cuts; i++)); do inspect "$1: cut $((i + 1)) of $cuts during the run" either "cut-$i"; done
}
after() {  # layout, seconds to wait after the program returned
  start "$1" && finish
  [ "$2" = 0 ] || sleep "$2"
  snapshot after && flushes
  inspect "$1: cut ${2} s after the program returned" new after
}

register ""
if [ "$mode" = wine ]; then
  during one
  after one 0
  during across
  after across 0
  # Both trees on D:, which Wine maps to the root of the first image; the log beside them.
  drive=$WINEPREFIX/dosdevices/d:
  ln -sfn "$mnt0" "$drive"
  register 'D:\install'
  run=(wine "$program" '/LOG=D:\restore.log')
  log_on_image=yes
  after one 3
else
  during one
  after one 0
  during across
  after across 0
  during linked-backup held
  after linked-install 0
  # The log on the image too: written and flushed before the program returns.
  run=(env "RESTORE_BACKUP_HKLM=$work/HKLM.reg" "$program" "/LOG=$mnt0/restore.log")
  log_on_image=yes
  after one 3
fi
exit $failed
