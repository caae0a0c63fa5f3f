#!/bin/bash
# Makes ntfs.img.gz (a 12 MiB bare NTFS volume, 4 KiB clusters) and
# manifest.tsv for the NTFS reader tests. Run as root (mounts with ntfs-3g
# through FUSE); needs ntfs-3g, faketime and attr (setfattr).
#
# A and the sacrificial file are deleted before later files are written: their
# records survive (ntfs-3g does not hand them out again here), but A's clusters
# go to C, and the victim's to W, so neither has content to expect back.
# The file system runs under a frozen clock, so the times it sets by itself
# (a deleted directory's modification when its children go) are fixed too.
set -euo pipefail
export TZ=UTC LC_ALL=C
here="$(cd "$(dirname "$0")" && pwd)"
. "$here/../fixture_lib.sh"
work="$(mktemp -d)"
img="$work/ntfs.img"
mnt="$work/mnt"
frozen="2024-03-01 10:00:00"
manifest="$work/manifest.tsv"
: > "$manifest"

cleanup() { mountpoint -q "$mnt" && umount "$mnt"; rm -rf "$work"; }
trap cleanup EXIT

truncate -s 12M "$img"
mkfs.ntfs -F -Q -q -T -c 4096 -s 512 -p 0 -S 63 -H 255 -L KESTREL "$img"
mkdir "$mnt"
# The faketime wrapper waits on the daemonised ntfs-3g, so the library is
# preloaded directly; a frozen monotonic clock would stall FUSE start-up.
LD_PRELOAD=/usr/lib/x86_64-linux-gnu/faketime/libfaketime.so.1 FAKETIME="$frozen" \
    FAKETIME_DONT_FAKE_MONOTONIC=1 ntfs-3g -o windows_names "$img" "$mnt"

# Sectors that name themselves: misplaced data shows at once, and it compresses.
pattern() {  # pattern TAG SECTORS
    python3 -c "
import sys
tag, n = sys.argv[1], int(sys.argv[2])
out = sys.stdout.buffer
for i in range(n):
    line = ('%s sector %08d ' % (tag, i)).encode()
    out.write((line * 32)[:511] + b'\n')
" "$1" "$2"
}

cd "$mnt"
mkdir -p docs/notes "照片/旅行 2019" music '$RECYCLE.BIN'
setfattr -h -v 0x00000016 -n system.ntfs_attrib_be '$RECYCLE.BIN'
printf 'hi\n' > docs/readme.txt
head -c 300 /dev/urandom > "docs/notes/a resident file of three hundred bytes.bin"
pattern great-wall 48 > "照片/旅行 2019/长城.jpg"
pattern song 20 > music/track01.mp3
pattern big 9300 > big.bin          # more than one 4 MiB chunk
printf '[.ShellClassInfo]\n' > '$RECYCLE.BIN/desktop.ini'
# Still to be deleted.
mkdir -p "old project/src"
printf 'int main() {}\n' > "old project/src/main.c"
pattern plan 12 > "old project/plan.doc"
printf 'gone\n' > deleted_small.txt
pattern lost 30 > deleted_big.bin
printf 'u\n' > sacrificial.txt
pattern victim 96 > victim.bin
# Fragmented: A, B, fill the volume, free A and a little after B, then C.
pattern A 80 > A.bin
pattern B 80 > B.bin
dd if=/dev/zero of=filler.bin bs=64k 2>/dev/null || true
sync
fsize="$(stat -c %s filler.bin)"
truncate -s $(( fsize - 81920 )) filler.bin
record deleted-file A.bin nohash
rm A.bin
pattern C 240 > C.bin
# The victim's clusters go to W, which takes the sacrificial file's record.
record deleted-file sacrificial.txt
rm sacrificial.txt
touch -d "2021-07-08 09:10:12" victim.bin
record deleted-file victim.bin nohash
rm victim.bin
pattern W 80 > reuse.bin

touch -d "2019-03-04 05:06:08" docs/readme.txt
touch -d "2020-01-02 03:04:06" "docs/notes/a resident file of three hundred bytes.bin"
touch -d "2019-08-15 14:30:00" "照片/旅行 2019/长城.jpg"
touch -d "2018-11-30 23:59:58" music/track01.mp3
touch -d "2022-02-22 22:22:22" big.bin
touch -d "2017-05-06 07:08:10" '$RECYCLE.BIN/desktop.ini'
touch -d "2023-01-01 00:00:00" B.bin C.bin filler.bin reuse.bin
touch -d "2016-06-06 06:06:06" "old project/src/main.c"
touch -d "2016-07-07 07:07:08" "old project/plan.doc"
touch -d "2015-01-02 03:04:04" deleted_small.txt
touch -d "2015-02-03 04:05:06" deleted_big.bin

for f in docs/readme.txt "docs/notes/a resident file of three hundred bytes.bin" \
         "照片/旅行 2019/长城.jpg" music/track01.mp3 big.bin B.bin C.bin filler.bin reuse.bin; do
    record live-file "$f"
done
record live-file '$RECYCLE.BIN/desktop.ini'
sed -i 's#\t\$RECYCLE\.BIN/#\t回收站/#' "$manifest"
for f in "old project/src/main.c" "old project/plan.doc" deleted_small.txt deleted_big.bin; do
    record deleted-file "$f"
done
rm -rf "old project" deleted_small.txt deleted_big.bin
printf 'deleted-dir\t0\t%s\told project\t-\n' "$frozen" >> "$manifest"
printf 'deleted-dir\t0\t%s\told project/src\t-\n' "$frozen" >> "$manifest"

touch -d "2019-03-04 05:06:10" docs/notes
touch -d "2019-03-04 05:06:12" docs
touch -d "2019-08-15 14:30:02" "照片/旅行 2019"
touch -d "2019-08-15 14:30:04" 照片
touch -d "2018-11-30 23:59:56" music
touch -d "2017-05-06 07:08:12" '$RECYCLE.BIN'
for d in docs docs/notes 照片 "照片/旅行 2019" music; do record live-dir "$d"; done
printf 'live-dir\t0\t2017-05-06 07:08:12\t回收站\t-\n' >> "$manifest"

cd /
umount "$mnt"
# The tests rely on C being in two pieces and on the small files being resident.
ntfsinfo -v -F /C.bin "$img" | grep -q 'fragments: [2-9]' || { echo "C.bin is not fragmented" >&2; exit 1; }
ntfsinfo -v -F "/docs/notes/a resident file of three hundred bytes.bin" "$img" |
    grep -q 'Resident:.*Yes' || { echo "the 300-byte file is not resident" >&2; exit 1; }
gzip -9n < "$img" > "$here/ntfs.img.gz"
sort -t$'\t' -k4 "$manifest" > "$here/manifest.tsv"
ls -l "$here/ntfs.img.gz"
