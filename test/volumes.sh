#!/bin/sh
# Mounts the Windows suite's volumes below DIR where the machine allows it (as root; a test skips
# itself when what it finds is not what it needs) and lays out the trees its volume table walks,
# or with "unmount" undoes both:
# - small-volume: 64 KiB, for the full disk;
# - test-temp: the suite's temporary directories, a tmpfs of their own reached through Z:, since
#   Wine hangs the test process that opens C:'s volume device to flush it;
# - twin-a and twin-b: two fresh volumes, their files made in the same order, so with the same
#   inode numbers;
# - read-only: backup/a on a volume mounted read-only;
# - trees (a plain directory): the read-only case's installation, and a backup name that only
#   Linux can make, "z\..\..\victim", beside a file outside the backup and one outside the
#   installation (prod/inst).
# Usage: volumes.sh mount|unmount DIR
action=$1 dir=$2
volumes="small-volume test-temp twin-a twin-b read-only"
if [ "$action" = unmount ]; then
  for volume in $volumes; do ! mountpoint -q "$dir/$volume" || umount "$dir/$volume"; done
  rm -rf "$dir/trees"
  exit 0
fi
tmpfs() {
  mkdir -p "$dir/$1" && { mountpoint -q "$dir/$1" || mount -t tmpfs -o "size=$2" tmpfs "$dir/$1"; }
}
tmpfs small-volume 64k
tmpfs test-temp 1g
tmpfs twin-a 1m && mkdir "$dir/twin-a/backup" && printf new >"$dir/twin-a/backup/a"
tmpfs twin-b 1m && mkdir "$dir/twin-b/install" && printf old,longer >"$dir/twin-b/install/a" &&
  printf kept >"$dir/twin-b/install/b"
tmpfs read-only 1m && mkdir -p "$dir/read-only/backup" && printf new >"$dir/read-only/backup/a" &&
  mount -o remount,ro "$dir/read-only"
trees=$dir/trees
rm -rf "$trees" && mkdir -p "$trees/w/backup" "$trees/prod/inst" "$trees/install" &&
  printf bad >"$trees/w/backup/z\\..\\..\\victim" && printf beside >"$trees/w/victim" &&
  printf precious >"$trees/prod/victim" && printf old >"$trees/install/a"
exit 0
