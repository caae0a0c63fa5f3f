#!/bin/bash
# Builds exfat.img.gz (a bare 8 MiB exFAT volume, 4 KiB clusters) and
# manifest.tsv, and bigroot.img.gz: a 4 MiB volume whose root holds 800 empty
# files "0000.txt" .. "0799.txt", 2403 entries, more than 64 KiB of root
# directory. Needs root, exfatprogs and exfat-fuse (loop device + FUSE).
#
# exfat-fuse allocates first-fit from the start of the heap, which the
# fragmentation and reuse steps below rely on: a file written after a
# deletion lands in the freed hole. It also reuses freed directory slots for
# new entries, so every file whose deleted entry must survive is deleted
# after the last entry of its directory has been created.
#
# Manifest: state, size, modified (UTC), path, sha256 ("-" for directories
# and for deleted files whose clusters were reused by a later file).
set -euo pipefail
export TZ=UTC LC_ALL=C.UTF-8

here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
img=$work/exfat.img
mnt=$work/mnt
manifest=$work/manifest.tsv
loop=
cleanup() {
    mountpoint -q "$mnt" 2>/dev/null && umount "$mnt" || true
    [ -n "$loop" ] && losetup -d "$loop" 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT

# Deterministic content: a seeded byte stream of n bytes.
content() {  # seed bytes
    python3 -c 'import random,sys; r=random.Random(sys.argv[1]); sys.stdout.buffer.write(r.randbytes(int(sys.argv[2])))' "$1" "$2"
}
# Text that compresses well, for the larger files.
lines() {  # tag count
    python3 -c 'import sys; sys.stdout.write("".join("%s line %06d of the fixture\n" % (sys.argv[1], i) for i in range(int(sys.argv[2]))))' "$1" "$2"
}

record() {  # state path-relative-to-root sha
    local p=$mnt/$2 size mtime
    size=$(stat -c %s "$p")
    mtime=$(date -u -d "@$(stat -c %Y "$p")" '+%Y-%m-%d %H:%M:%S')
    printf '%s\t%s\t%s\t%s\t%s\n' "$1" "$size" "$mtime" "$2" "$3" >>"$manifest"
}
record_file() {  # state path [sha override]
    local sha=${3:-$(sha256sum "$mnt/$2" | cut -d' ' -f1)}
    record "$1" "$2" "$sha"
}

truncate -s 8M "$img"
mkfs.exfat -c 4096 -L KESTREL "$img" >/dev/null
loop=$(losetup -f --show "$img")
mkdir -p "$mnt"
mount.exfat-fuse "$loop" "$mnt"
: >"$manifest"

# The live tree.
printf 'hi\n' >"$mnt/readme.txt"
: >"$mnt/empty.dat"
mkdir -p "$mnt/照片/旅行 2019" "$mnt/文档/报告" "$mnt/frag" "$mnt/旧" "$mnt/新" "$mnt/删除" \
         "$mnt/相册/子目录"
content wall 10000 >"$mnt/照片/旅行 2019/长城.jpg"
content gate 7000 >"$mnt/照片/旅行 2019/故宫午门全景照片二零一九年国庆节假期.jpg"
content long 5000 >"$mnt/文档/A very long file name that needs four name entries to hold it.txt"
lines report 600 >"$mnt/文档/报告/季度报告.docx"
lines big 6000 >"$mnt/big.txt"
content old 6000 >"$mnt/旧/old.txt"
content del1 3000 >"$mnt/删除/deleted1.txt"
content del2 12000 >"$mnt/删除/deleted big.bin"
content sea 9000 >"$mnt/相册/海边.jpg"
printf 'a note inside a deleted directory\n' >"$mnt/相册/子目录/note.txt"

# Fragmentation: A and B back to back, A deleted, then C fills A's hole and
# continues after B, so C needs a FAT chain. C's entry exists before A is
# deleted so that A's deleted entry set survives.
content A 12288 >"$mnt/frag/A.bin"
content B 8192 >"$mnt/frag/B.bin"
: >"$mnt/frag/C.bin"
touch -d '2021-03-04 05:06:08' "$mnt/frag/A.bin"
record_file deleted-file frag/A.bin -
rm "$mnt/frag/A.bin"
content C 24000 >"$mnt/frag/C.bin"

# Reuse: old.txt is deleted and its clusters go to new.bin, written later in
# another directory.
touch -d '2020-01-02 03:04:06' "$mnt/旧/old.txt"
record_file deleted-file 旧/old.txt -
rm "$mnt/旧/old.txt"
content new 9000 >"$mnt/新/new.bin"

# Deleted files with intact content, and a deleted directory tree. Nothing is
# written after this point, so their clusters stay as they were.
touch -d '2022-06-07 08:09:10' "$mnt/删除/deleted1.txt"
touch -d '2022-06-07 08:09:12' "$mnt/删除/deleted big.bin"
record_file deleted-file 删除/deleted1.txt
record_file deleted-file "删除/deleted big.bin"
rm "$mnt/删除/deleted1.txt" "$mnt/删除/deleted big.bin"

touch -d '2018-05-06 07:08:10' "$mnt/相册/海边.jpg" "$mnt/相册/子目录/note.txt"
record_file deleted-file 相册/海边.jpg
record_file deleted-file 相册/子目录/note.txt
rm "$mnt/相册/海边.jpg" "$mnt/相册/子目录/note.txt"
touch -d '2018-05-06 07:09:00' "$mnt/相册/子目录"
record deleted-dir 相册/子目录 -
rmdir "$mnt/相册/子目录"
touch -d '2018-05-06 07:10:00' "$mnt/相册"
record deleted-dir 相册 -
rmdir "$mnt/相册"

# Fixed times on the live tree, files first, then directories deepest first.
touch -d '2019-10-01 10:20:30' "$mnt/照片/旅行 2019/长城.jpg"
touch -d '2019-10-02 11:21:32' "$mnt/照片/旅行 2019/故宫午门全景照片二零一九年国庆节假期.jpg"
touch -d '2020-07-08 09:10:12' "$mnt/文档/A very long file name that needs four name entries to hold it.txt"
touch -d '2020-12-31 23:59:58' "$mnt/文档/报告/季度报告.docx"
touch -d '2021-03-04 05:06:10' "$mnt/frag/B.bin" "$mnt/frag/C.bin"
touch -d '2020-01-02 03:04:08' "$mnt/新/new.bin"
touch -d '2017-02-03 04:05:06' "$mnt/readme.txt" "$mnt/empty.dat" "$mnt/big.txt"
touch -d '2019-10-03 00:00:00' "$mnt/照片/旅行 2019"
touch -d '2019-10-04 00:00:00' "$mnt/照片" "$mnt/文档/报告"
touch -d '2019-10-05 00:00:00' "$mnt/文档" "$mnt/frag" "$mnt/旧" "$mnt/新" "$mnt/删除"

(cd "$mnt" && find . -mindepth 1 -type d | sed 's|^\./||' | sort) | while read -r d; do
    record live-dir "$d" -
done
(cd "$mnt" && find . -mindepth 1 -type f | sed 's|^\./||' | sort) | while IFS= read -r f; do
    record_file live-file "$f"
done

umount "$mnt"
losetup -d "$loop"
loop=
# Order the manifest by path so that reruns diff cleanly.
sort -t$'\t' -k4,4 "$manifest" >"$here/manifest.tsv"
gzip -9n <"$img" >"$here/exfat.img.gz"

big=$work/bigroot.img
truncate -s 4M "$big"
mkfs.exfat -c 4096 -L BIGROOT "$big" >/dev/null
loop=$(losetup -f --show "$big")
mount.exfat-fuse "$loop" "$mnt"
for i in $(seq -f '%04g' 0 799); do : >"$mnt/$i.txt"; done
touch -d '2023-01-01 00:00:00' "$mnt"/*.txt
umount "$mnt"
losetup -d "$loop"
loop=
gzip -9n <"$big" >"$here/bigroot.img.gz"
ls -l "$here/exfat.img.gz" "$here/bigroot.img.gz"
