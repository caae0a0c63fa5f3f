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
# FUSE); needs ntfs-3g, attr (setfattr), dosfstools, mtools, faketime, python3.
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

# make_tree DIR NAME-FORMAT: the old tree with fixed times. Sizes mix resident
# NTFS data (< 600 bytes), one cluster and several.
make_tree() {
    local top=$1 format=$2 n=0 d k f
    local sizes=(90 300 520 700 1500 3000 4096 5000 9000 12000 20000 33000)
    for d in docs docs/2019 docs/2019/q3 photos photos/trip work work/old mail; do
        mkdir -p "$top/$d"
        for k in $(seq 1 8); do
            n=$((n + 1))
            f="$top/$d/$(printf "$format" $n)"
            body $n "${sizes[$(( (n * 7) % ${#sizes[@]} ))]}" > "$f"
            touch -d "2021-0$(( (n % 9) + 1 ))-1$(( n % 10 )) 1$(( n % 10 )):2$(( n % 10 )):$(printf %02d $(( (n * 2) % 60 )))" "$f"
        done
    done
    cp "$jpeg" "$top/photos/trip/beach.jpg"; touch -d "2019-08-15 14:30:00" "$top/photos/trip/beach.jpg"
    cp "$jpeg" "$top/photos/snow.jpg"; touch -d "2019-12-24 18:00:00" "$top/photos/snow.jpg"
    touch_dirs "$top"
}
touch_dirs() {
    local d
    for d in $(cd "$1" && find . -mindepth 1 -type d | sort -r); do touch -d "2022-01-01 00:00:00" "$1/$d"; done
}

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
# Names long enough that eight of them overflow a folder's index root: the
# index blocks they move to tell where the old volume began. ntfs-3g gives
# new names the POSIX namespace; a DOS name makes the long one a Win32 name,
# as Windows writes them.
ntfs-3g -o windows_names "$img" "$mnt"
make_tree "$mnt" "file %03d of the old volume.txt"
n=0
find "$mnt" -mindepth 2 -type f -name 'file *' | sort | while IFS= read -r f; do
    n=$((n + 1))
    setfattr -h -v "$(printf 'F%05d~1.TXT' "$n")" -n system.ntfs_dos_name "$f"
done
touch_dirs "$mnt"
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
make_tree "$src" "file_%03d.txt"
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
