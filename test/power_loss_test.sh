#!/usr/bin/env bash
# Power loss during and just after a restore. An ext4 image on a loop device in /dev/shm, mounted
# noauto_da_alloc,commit=1 (metadata reaches the journal within a second, data only when written
# back): the installed files are written and synced, the backup written as an installer leaves it,
# not synced, and the program run. A copy of the image file taken while it is mounted is what a
# machine that lost power at that instant boots with; each copy is checked with e2fsck, mounted
# read-only and compared file by file. Rows: cuts at random instants during the run (every
# installed file old with its backup copy still in backup, or new); a cut 3 s after the program
# returned, and one the instant it returned (every file new). No file may be empty, torn or lost.
#
# Under Wine: its \\.\Z: does not open, so this proves the path that flushes each file before its
# rename; the flush of the whole volume is proved by its contract and by the Linux build.
#
#   power_loss_test.sh native|wine SOURCE_DIR PROGRAM FILES   (Wine's prefix from the environment)
# Exits 77 (skipped) where no loop device can be made or mounted.
set -euo pipefail
mode=$1 source_dir=$2 program=$3 files=$4
source "$source_dir/scripts/lib.sh"
skip() { echo "skipped: $*"; exit 77; }
[ "$(id -u)" = 0 ] || skip "making a loop device needs root"
work=$(mktemp -d /dev/shm/power-loss.XXXXXX)
image=$work/disk.img mnt=$work/mnt seen=$work/seen loops=() registered=
expire=$(cat /proc/sys/vm/dirty_expire_centisecs)
cleanup() {
  set +e
  for dir in "$seen" "$mnt"; do mountpoint -q "$dir" && umount "$dir"; done
  for loop in "${loops[@]}"; do losetup -d "$loop"; done
  [ -z "$registered" ] || wine reg delete "HKLM\\$uninstall_key" /reg:32 /f >/dev/null 2>&1
  echo "$expire" >/proc/sys/vm/dirty_expire_centisecs
  rm -rf "$work"
}
trap cleanup EXIT
# Wine takes a minute to start under qemu: the kernel must not write the backup back on its own
# meanwhile (after 30 s by default), or a program that never flushes would pass.
echo 360000 >/proc/sys/vm/dirty_expire_centisecs || true
truncate -s 256M "$image"
mkfs.ext4 -q -F "$image" || skip "mkfs.ext4 failed"
loop=$(losetup -f --show "$image") || skip "no loop device for $image"
loops+=("$loop")
mkdir "$mnt" "$seen"
mount -o noauto_da_alloc,commit=1 "${loops[0]}" "$mnt" || skip "cannot mount ext4 from ${loops[0]}"

# Each file's text is its name, repeated over two blocks (old) or three (new).
tree() {  # lay|check ROOT [ARG]
  python3 - "$@" "$files" <<'PY'
import os, sys
what, root, arg, n = sys.argv[1], sys.argv[2], sys.argv[3], int(sys.argv[-1])
names = ["d%02d/f%04d.dll" % (i // 100, i) for i in range(n)]
text = lambda kind, name: ((kind + " " + name + " ") * 1000).encode()[:2048 * (2 if kind == "old" else 3)]
def read(path):
    try: return open(os.path.join(root, path), "rb").read()
    except FileNotFoundError: return None
if what == "lay":  # lay ROOT install|backup
    for name in names:
        os.makedirs(os.path.dirname(os.path.join(root, arg, name)), exist_ok=True)
        open(os.path.join(root, arg, name), "wb").write(text("old" if arg == "install" else "new", name))
    # The backup's names are made durable, not its data (unallocated yet), so that a cut before
    # the program moved a file finds it in the backup as the installer left it.
    for d in {os.path.dirname(os.path.join(root, arg, name)) for name in names} | {os.path.join(root, arg)}:
        fd = os.open(d, os.O_RDONLY); os.fsync(fd); os.close(fd)
    sys.exit(0)
counts = {}
for name in names:  # check ROOT new|either
    got = read("install/" + name)
    kind = ("new" if got == text("new", name) else "lost" if got is None else
            "empty" if got == b"" else "torn" if got != text("old", name) else
            "old" if read("backup/" + name) is not None else "old, backup lost")
    counts[kind] = counts.get(kind, 0) + 1
print(", ".join("%d %s" % (c, k) for k, c in sorted(counts.items())))
sys.exit(0 if set(counts) <= ({"new"} if arg == "new" else {"new", "old"}) else 1)
PY
}

failed=0
inspect() {  # label, new|either, copy of the image
  e2fsck -fy "$3" >/dev/null 2>&1 || [ $? -lt 4 ] || { echo "FAILED: $1: e2fsck cannot repair the copy"; failed=1; return; }
  loops+=("$(losetup -f --show -r "$3")")
  mount -o ro "${loops[-1]}" "$seen"
  local result status=0
  result=$(tree check "$seen" "$2") || status=$?
  umount "$seen" && losetup -d "${loops[-1]}" && unset 'loops[-1]'
  rm -f "$3"
  if [ $status = 0 ]; then echo "ok: $1: $result"; else echo "FAILED: $1: $result of $files"; failed=1; fi
}

if [ "$mode" = wine ]; then
  wine_register "$mnt/install" >/dev/null
  registered=yes
  run=(wine "$program" "/LOG=Z:${work//\//\\}\\restore.log")
else
  write_hive "$work/HKLM.reg" "$mnt/install"
  run=(env "RESTORE_BACKUP_HKLM=$work/HKLM.reg" "$program" "/LOG=$work/restore.log")
fi
start() {
  rm -rf "$mnt/install" "$mnt/backup"
  tree lay "$mnt" install && sync -f "$mnt" && tree lay "$mnt" backup
  (cd "$mnt" && exec setsid "${run[@]}" >"$work/output.txt" 2>&1) &
  pid=$!
}
finish() {
  wait "$pid" || { echo "FAILED: the program's exit status $?"; failed=1; }
}
flushes() { grep -E '^(not )?flushed' "$work/restore.log" || true; rm -f "$work/restore.log"; }

# Cuts during the run: the process group stopped at random instants, the image copied, and the
# group continued. Under Wine only once a file left the backup: its start-up is not the run.
start
cuts=0
while [ $cuts -lt 4 ] && kill -0 "$pid" 2>/dev/null; do
  if [ "$mode" = wine ]; then
    sleep "0.$((RANDOM % 10))"
    [ "$(find "$mnt/backup" -type f | wc -l)" -lt "$files" ] || continue
  else
    sleep "0.00$((RANDOM % 10))"
  fi
  kill -STOP -- "-$pid" 2>/dev/null || break
  cp --sparse=always "$image" "$work/cut-$cuts.img"
  kill -CONT -- "-$pid"
  cuts=$((cuts + 1))
done
finish
flushes
for ((i = 0; i < cuts; i++)); do inspect "cut $((i + 1)) of $cuts during the run" either "$work/cut-$i.img"; done

start && finish && sleep 3 && cp --sparse=always "$image" "$work/after.img" && flushes
inspect "cut 3 s after the program returned" new "$work/after.img"
start && finish && cp --sparse=always "$image" "$work/at.img" && flushes
inspect "cut the instant the program returned" new "$work/at.img"
exit $failed
