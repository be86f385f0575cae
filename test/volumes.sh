#!/bin/sh
# Mounts the Windows suite's volumes below DIR where the machine allows it (as root; a test skips
# itself when what it finds is not what it needs), or with "unmount" unmounts them:
# - small-volume: 64 KiB, for the full disk;
# - test-temp: the suite's temporary directories, a tmpfs of their own reached through Z:, since
#   Wine hangs the test process that opens C:'s volume device to flush it;
# - twin-a and twin-b: two fresh volumes, whose files made in the same order get the same inode
#   numbers;
# - read-only: backup/a on a volume mounted read-only;
# - linux-names (a plain directory): a backup name that only Linux can make, "z\..\..\victim",
#   beside a victim outside the backup and one outside the installation (prod/inst).
# Usage: volumes.sh mount|unmount DIR
action=$1 dir=$2
volumes="small-volume test-temp twin-a twin-b read-only"
if [ "$action" = unmount ]; then
  for volume in $volumes; do ! mountpoint -q "$dir/$volume" || umount "$dir/$volume"; done
  rm -rf "$dir/linux-names"
  exit 0
fi
tmpfs() {
  mkdir -p "$dir/$1" && { mountpoint -q "$dir/$1" || mount -t tmpfs -o "size=$2" tmpfs "$dir/$1"; }
}
tmpfs small-volume 64k
tmpfs test-temp 1g
tmpfs twin-a 1m
tmpfs twin-b 1m
tmpfs read-only 1m && mkdir -p "$dir/read-only/backup" && printf new >"$dir/read-only/backup/a" &&
  mount -o remount,ro "$dir/read-only"
names=$dir/linux-names
rm -rf "$names" && mkdir -p "$names/w/backup" "$names/prod/inst" &&
  printf bad >"$names/w/backup/z\\..\\..\\victim" && printf beside >"$names/w/victim" &&
  printf precious >"$names/prod/victim"
exit 0
