#!/bin/bash
# A 64 KiB file system at a folder of the build, for tests that need a disk
# that fills up: "mount DIR" (needs root; without it nothing is mounted and
# the test that wants it says it skipped), "unmount DIR".
set -u
dir=$2
case $1 in
  mount)
    mkdir -p "$dir"
    mountpoint -q "$dir" && exit 0
    mount -t tmpfs -o size=64k voxmere_small "$dir" 2>/dev/null || echo "no small volume at $dir (not root?)"
    ;;
  unmount)
    mountpoint -q "$dir" && umount "$dir"
    rmdir "$dir" 2>/dev/null
    ;;
esac
exit 0
