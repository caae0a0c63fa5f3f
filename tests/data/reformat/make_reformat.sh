#!/bin/bash
# Makes the two quick-formatted volumes of the end-to-end recovery tests:
#   ntfs_reformat.img.gz   8 MiB bare NTFS, 4 KiB clusters: 72 files in nested
#                          folders (small ones resident in their records), then
#                          formatted over with mkfs.ntfs -Q at the same geometry
#   fat32_reformat.img.gz  34 MiB bare FAT32, 512-byte clusters: folders with
#                          files, then formatted over with mkfs.vfat at the same
#                          geometry (new FATs and root, old data clusters left)
# and manifest_ntfs.tsv / manifest_fat32.tsv: the files as they were before the
# format (state, size, mtime UTC, path, sha256). Run as root (ntfs-3g through
# FUSE); needs ntfs-3g, dosfstools, mtools, faketime, python3.
set -euo pipefail
export TZ=UTC LC_ALL=C.UTF-8
here="$(cd "$(dirname "$0")" && pwd)"
jpeg="$here/../scan/sample.jpg"
work="$(mktemp -d)"
mnt="$work/mnt"
src="$work/src"
cleanup() { mountpoint -q "$mnt" 2>/dev/null && umount "$mnt"; rm -rf "$work"; }
trap cleanup EXIT
mkdir -p "$mnt" "$src"

# body N BYTES: text that names its file and line, so misplaced data shows.
body() {
    python3 -c "
import sys
n, size = int(sys.argv[1]), int(sys.argv[2])
line = lambda i: ('reformat fixture file %03d line %05d\n' % (n, i)).encode()
out = bytearray()
i = 0
while len(out) < size:
    out += line(i); i += 1
sys.stdout.buffer.write(bytes(out[:size]))
" "$1" "$2"
}

# The old tree, built once in $src with fixed times; both volumes get a copy.
# Sizes mix resident NTFS data (< 600 bytes), one cluster and several.
sizes=(90 300 520 700 1500 3000 4096 5000 9000 12000 20000 33000)
dirs=("docs" "docs/2019" "docs/2019/q3" "photos" "photos/trip" "work" "work/old" "mail")
n=0
for d in "${dirs[@]}"; do
    mkdir -p "$src/$d"
    for k in $(seq 1 8); do
        n=$((n + 1))
        f="$src/$d/file_$(printf %03d $n).txt"
        body $n "${sizes[$(( (n * 7) % ${#sizes[@]} ))]}" > "$f"
        touch -d "2021-0$(( (n % 9) + 1 ))-1$(( n % 10 )) 1$(( n % 10 )):2$(( n % 10 )):$(printf %02d $(( (n * 2) % 60 )))" "$f"
    done
done
cp "$jpeg" "$src/photos/trip/beach.jpg"; touch -d "2019-08-15 14:30:00" "$src/photos/trip/beach.jpg"
cp "$jpeg" "$src/photos/snow.jpg"; touch -d "2019-12-24 18:00:00" "$src/photos/snow.jpg"
for d in $(cd "$src" && find . -mindepth 1 -type d | sort -r); do touch -d "2022-01-01 00:00:00" "$src/$d"; done

# manifest DIR OUT: the tree below DIR as the manifests of the other fixtures.
manifest() {
    (cd "$1" && find . -mindepth 1 | sed 's|^\./||' | LC_ALL=C sort) | while IFS= read -r rel; do
        p="$1/$rel"
        t="$(date -u -d "@$(stat -c %Y "$p")" '+%Y-%m-%d %H:%M:%S')"
        if [ -d "$p" ]; then
            printf 'live-dir\t0\t%s\t%s\t-\n' "$t" "$rel"
        else
            printf 'live-file\t%s\t%s\t%s\t%s\n' "$(stat -c %s "$p")" "$t" "$rel" \
                "$(sha256sum < "$p" | cut -d' ' -f1)"
        fi
    done > "$2"
}

# NTFS: fill through ntfs-3g, then quick-format over it.
img="$work/ntfs_reformat.img"
truncate -s 8M "$img"
ntfs_format() { mkfs.ntfs -F -Q -q -T -c 4096 -s 512 -p 0 -S 63 -H 255 -L "$1" "$img" 2>/dev/null; }
ntfs_format OLDNTFS
ntfs-3g "$img" "$mnt"
cp -a "$src/." "$mnt/"
manifest "$mnt" "$here/manifest_ntfs.tsv"
umount "$mnt"
ntfs_format NEWNTFS
gzip -9n < "$img" > "$here/ntfs_reformat.img.gz"

# FAT32: mtools copies keep the times (-m); then mkfs.vfat over the same image.
img="$work/fat32_reformat.img"
export MTOOLS_SKIP_CHECK=1
fat_format() {
    SOURCE_DATE_EPOCH=1577836800 mkfs.vfat -F 32 -s 1 -g 255/63 --invariant -i "$1" -n "$2" \
        "$img" >/dev/null
}
dd if=/dev/zero of="$img" bs=512 count=69632 status=none
fat_format 0fa70001 OLDFAT32
(cd "$src" && find . -mindepth 1 -type d | sed 's|^\./||' | LC_ALL=C sort) | while IFS= read -r d; do
    faketime "2022-01-01 00:00:00" mmd -i "$img" "::/$d"
done
(cd "$src" && find . -type f | sed 's|^\./||' | LC_ALL=C sort) | while IFS= read -r f; do
    mcopy -m -i "$img" "$src/$f" "::/$f"
done
# mtools gives a folder the time it is made (hence the frozen clock); the
# manifest records the tree as the volume holds it.
rm -rf "$work/fatview" && mkdir "$work/fatview"
mcopy -s -m -i "$img" "::/*" "$work/fatview/"
manifest "$work/fatview" "$here/manifest_fat32.tsv"
fat_format 0fa70002 NEWFAT32
gzip -9n < "$img" > "$here/fat32_reformat.img.gz"
ls -l "$here"
