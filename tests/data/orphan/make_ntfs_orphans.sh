#!/bin/bash
# Makes ntfs_orphans.img.gz: a 16 MiB disk image holding, from LBA 2048, a
# 12 MiB NTFS volume (4 KiB clusters) whose boot sector and backup boot
# sector are zeroed, so only its loose FILE records and index blocks are left
# to find it by; and ntfs_orphans.tsv, the manifest of its files (state, size,
# modified UTC, path, sha256 or "-"). Run as root; needs ntfs-3g, attr
# (setfattr) and ntfsprogs (ntfsinfo).
#
# ntfs-3g gives new names the POSIX namespace. The children of "docs" get DOS
# names, which turns their long names into Win32 names: only such index
# entries tie an index block to its directory. "docs" holds few enough
# entries for one index block but too many for its index root.
set -euo pipefail
export TZ=UTC LC_ALL=C.UTF-8
here="$(cd "$(dirname "$0")" && pwd)"
. "$here/../fixture_lib.sh"
work="$(mktemp -d)"
vol="$work/volume.img"
disk="$work/ntfs_orphans.img"
mnt="$work/mnt"
manifest="$work/manifest.tsv"
: > "$manifest"
cleanup() { mountpoint -q "$mnt" 2>/dev/null && umount "$mnt"; rm -rf "$work"; }
trap cleanup EXIT


truncate -s 12M "$vol"
mkfs.ntfs -F -Q -q -c 4096 -s 512 -p 2048 -S 63 -H 255 -L ORPHANS "$vol"
mkdir "$mnt"
ntfs-3g -o windows_names "$vol" "$mnt"
cd "$mnt"

mkdir -p docs/letters music "photos/2019/summer" archive "old stuff"
for i in $(seq 1 9); do content "doc$i" $((1500 + 700 * i)) > "docs/report $i.doc"; done
for i in 1 2; do content "letter$i" $((3000 + 100 * i)) > "docs/letters/letter $i.txt"; done
printf 'a small note\n' > docs/letters/note.txt
for i in $(seq 1 12); do content "song$i" $((5000 + 333 * i)) > "music/track $i.mp3"; done
for i in $(seq 1 8); do content "pic$i" $((7000 + 1000 * i)) > "photos/2019/summer/beach $i.jpg"; done
content cover 6000 > "photos/2019/cover.jpg"
for i in $(seq 1 36); do content "arc$i" $((1100 + 97 * i)) > "archive/item $(printf %02d "$i").bin"; done
printf 'hi\n' > readme.txt
content top 20000 > "top level.dat"
for i in 1 2 3; do content "old$i" 4000 > "old stuff/old $i.txt"; done
for i in 1 2 3; do content "gone$i" $((2500 + 10 * i)) > "music/gone $i.mp3"; done

# DOS names for everything directly in docs (report 1..9, letters).
n=0
for f in docs/*; do
    n=$((n + 1))
    setfattr -h -v "$(printf 'DOC%05d' "$n")" -n system.ntfs_dos_name "$f"
done

touch -d '2020-05-06 07:08:10' docs/*.doc docs/letters/*
touch -d '2021-01-02 03:04:06' music/*
touch -d '2019-08-09 10:11:12' photos/2019/summer/* photos/2019/cover.jpg
touch -d '2018-02-03 04:05:06' archive/* readme.txt "top level.dat"
touch -d '2017-03-04 05:06:08' "old stuff"/*

# Deleted at the end, so nothing overwrites their clusters or records.
for i in 1 2 3; do record deleted-file "music/gone $i.mp3"; done
rm music/gone*.mp3
for i in 1 2 3; do record deleted-file "old stuff/old $i.txt"; done
rm "old stuff"/*
rmdir "old stuff"
printf 'deleted-dir\t0\t-\told stuff\t-\n' >> "$manifest"

touch -d '2022-01-01 00:00:00' docs/letters music photos/2019/summer archive
touch -d '2022-01-01 00:00:02' docs photos/2019
touch -d '2022-01-01 00:00:04' photos
while IFS= read -r f; do record live-file "$f"; done < <(find . -type f | sed 's|^\./||')
while IFS= read -r d; do record live-dir "$d"; done < <(find . -mindepth 1 -type d | sed 's|^\./||')
cd /
umount "$mnt"

# docs must have an index block, as the tests expect.
docsInfo="$(ntfsinfo -v -F /docs "$vol")"
grep -q 'Dumping attribute \$INDEX_ALLOCATION' <<< "$docsInfo" ||
    { echo "docs has no index allocation" >&2; exit 1; }

truncate -s 1M "$disk"
cat "$vol" >> "$disk"
truncate -s 16M "$disk"
volSectors=$(( $(stat -c %s "$vol") / 512 ))
# The boot sector, and its backup in the volume's last sector.
dd if=/dev/zero of="$disk" bs=512 seek=2048 count=1 conv=notrunc status=none
dd if=/dev/zero of="$disk" bs=512 seek=$((2048 + volSectors - 1)) count=1 conv=notrunc status=none

gzip -9n < "$disk" > "$here/ntfs_orphans.img.gz"
sort -t$'\t' -k4 "$manifest" > "$here/ntfs_orphans.tsv"
ls -l "$here/ntfs_orphans.img.gz"
