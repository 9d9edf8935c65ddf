#!/usr/bin/env bash
# Builds a raw MBR disk with one 1 GiB volume (from sector 2048) holding the tree of make_listing_tree.py:
# 528 folders up to six levels deep, FILES files, FILES/20 deleted files. Needs root (ntfs-3g, exfat-fuse and a
# loop mount of ext4 fill the volume through the real drivers; FAT32 is filled by mtools).
#
#   bench/make_listing_disk.sh ntfs|fat32|exfat|ext4 DISK [FILES]     (FILES: default 100,000)
set -euo pipefail

HERE=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
fs=$1
disk=$2
files=${3:-100000}
[[ $EUID -eq 0 && -e /dev/fuse ]] || { echo "building a listing volume needs root and FUSE" >&2; exit 1; }

work=$(mktemp -d "$(readlink -f "$(dirname "$disk")")/listing-build.XXXXXX")
mnt=$work/mnt
mkdir -p "$mnt"
pid=
loop=
cleanup() {
    if mountpoint -q "$mnt"; then umount "$mnt"; fi
    if [[ -n $pid ]]; then wait "$pid" 2>/dev/null || true; fi
    if [[ -n $loop ]]; then losetup -d "$loop"; fi
    rm -rf "$work"
}
trap cleanup EXIT

part=$work/part.raw
truncate -s 1G "$part"
fill_mounted() { python3 "$HERE/make_listing_tree.py" "$mnt" "$files"; }
# mount_fuse PROGRAM OPTION... DEVICE: a FUSE driver kept in the foreground, so that waiting for it after the
# unmount makes sure that it wrote everything
mount_fuse() {
    "$@" "$mnt" >/dev/null 2>&1 &
    pid=$!
    for _ in $(seq 100); do mountpoint -q "$mnt" && return 0; sleep 0.1; done
    echo "$1 could not mount the volume" >&2
    exit 1
}
case $fs in
    ntfs)
        mkntfs -q -F -Q -c 4096 -p 2048 -H 255 -S 63 "$part" >/dev/null 2>&1
        mount_fuse ntfs-3g -o no_detach,noatime,big_writes "$part"
        fill_mounted
        type=7 ;;
    exfat)
        mkfs.exfat -c 4K "$part" >/dev/null
        # exfat-fuse mounts block devices only, and detaches (its debug mode, which stays, is four times
        # slower): it has written everything once it no longer holds the device.
        loop=$(losetup -f --show "$part")
        mount.exfat-fuse -o noatime "$loop" "$mnt"
        fill_mounted
        umount "$mnt"
        while fuser -s "$loop" 2>/dev/null; do sleep 0.1; done
        type=7 ;;
    ext4)
        mkfs.ext4 -q -F -N 140000 "$part"
        mount -o loop,noatime "$part" "$mnt"
        fill_mounted
        type=83 ;;
    fat32)
        mkfs.fat -F 32 -s 8 -h 2048 "$part" >/dev/null
        python3 "$HERE/make_listing_tree.py" "$work/tree" "$files" --keep-deleted "$work/deleted"
        (cd "$work/tree" && LC_ALL=C.UTF-8 MTOOLS_SKIP_CHECK=1 mcopy -s -Q -i "$part" ./* ::/ </dev/null)
        (cd "$work/tree" && sed -z 's|^|::/|' "$work/deleted" |
            LC_ALL=C.UTF-8 MTOOLS_SKIP_CHECK=1 xargs -0 mdel -i "$part")
        rm -rf "$work/tree"
        type=c ;;
    *) echo "unknown file system $fs" >&2; exit 1 ;;
esac
if mountpoint -q "$mnt"; then umount "$mnt"; fi
if [[ -n $pid ]]; then wait "$pid" || true; pid=; fi
if [[ -n $loop ]]; then losetup -d "$loop"; loop=; fi

rm -f "$disk"
truncate -s $((1025 << 20)) "$disk"
printf 'label: dos\nstart=2048, size=2097152, type=%s\n' "$type" | sfdisk -q "$disk" >/dev/null
dd if="$part" of="$disk" bs=1M seek=1 conv=notrunc,sparse status=none
