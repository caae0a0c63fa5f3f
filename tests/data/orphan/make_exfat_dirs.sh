#!/bin/bash
# Makes exfat_dirs.img.gz: a 10 MiB disk image holding, from LBA 2048, an
# 8 MiB exFAT volume (4 KiB clusters) whose boot regions (main and backup,
# the first 24 sectors) are zeroed, so only its directory sectors are left to
# find it by; and exfat_dirs.tsv, the manifest of its files (state, size,
# modified UTC, path, sha256 or "-"). Needs root, exfatprogs and exfat-fuse
# (loop device + FUSE).
#
# exfat-fuse allocates first-fit, so a directory made right after its parent
# takes the cluster after the parent's: each top-level directory gets its
# subdirectory first, then its files.
set -euo pipefail
export TZ=UTC LC_ALL=C.UTF-8
here="$(cd "$(dirname "$0")" && pwd)"
. "$here/../fixture_lib.sh"
work="$(mktemp -d)"
vol="$work/volume.img"
disk="$work/exfat_dirs.img"
mnt="$work/mnt"
manifest="$work/manifest.tsv"
loop=
: > "$manifest"
cleanup() {
    cd /
    mountpoint -q "$mnt" 2>/dev/null && umount "$mnt" || true
    [ -n "$loop" ] && losetup -d "$loop" 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT


truncate -s 8M "$vol"
mkfs.exfat -c 4096 -L DIRS "$vol" > /dev/null
loop=$(losetup -f --show "$vol")
mkdir -p "$mnt"
mount.exfat-fuse "$loop" "$mnt"
cd "$mnt"

for i in $(seq -w 1 14); do
    mkdir "dir $i"
    mkdir "dir $i/sub $i"
    content "d$i-a" $((3000 + 211 * 10#$i)) > "dir $i/file a.txt"
    content "d$i-b" $((9000 + 97 * 10#$i)) > "dir $i/file b.bin"
    content "d$i-s" $((2000 + 13 * 10#$i)) > "dir $i/sub $i/inner.txt"
done
mkdir "dir 03/sub 03/deeper"
content deep 5000 > "dir 03/sub 03/deeper/bottom.txt"
mkdir 相册
content photo 12000 > 相册/长城.jpg
printf 'hi\n' > readme.txt
: > empty.dat

find . -type f -exec touch -d '2021-02-03 04:05:06' {} +
# Deleted at the end, so nothing overwrites their clusters.
record deleted-file "dir 05/file a.txt"
rm "dir 05/file a.txt"
record deleted-file "dir 07/sub 07/inner.txt"
rm "dir 07/sub 07/inner.txt"

find . -mindepth 1 -type d -exec touch -d '2022-03-04 05:06:08' {} +
while IFS= read -r f; do record live-file "$f"; done < <(find . -type f | sed 's|^\./||')
while IFS= read -r d; do record live-dir "$d"; done < <(find . -mindepth 1 -type d | sed 's|^\./||')
cd /
umount "$mnt"
losetup -d "$loop"
loop=

truncate -s 1M "$disk"
cat "$vol" >> "$disk"
truncate -s 10M "$disk"
dd if=/dev/zero of="$disk" bs=512 seek=2048 count=24 conv=notrunc status=none

gzip -9n < "$disk" > "$here/exfat_dirs.img.gz"
sort -t$'\t' -k4 "$manifest" > "$here/exfat_dirs.tsv"
ls -l "$here/exfat_dirs.img.gz"
