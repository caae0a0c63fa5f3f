#!/bin/bash
# Builds disk.img.gz: a 64 MiB disk with an MBR, a FAT32, an NTFS and an exFAT
# primary partition and an extended partition holding one FAT16 logical
# drive, each with a few directories and files (sample.jpg and a small ZIP
# among them), and manifest.tsv listing where every partition starts.
# Needs root, dosfstools, mtools, ntfs-3g, exfatprogs and exfat-fuse.
set -euo pipefail
export TZ=UTC LC_ALL=C.UTF-8
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
img=$work/disk.img
mnt=$work/mnt
loop=
cleanup() {
    mountpoint -q "$mnt" 2>/dev/null && umount "$mnt" || true
    [ -n "$loop" ] && losetup -d "$loop" 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT
mkdir -p "$mnt"

# Sector layout; none of the partitions is aligned on 8 MiB.
FAT32_START=2048;   FAT32_SIZE=69632    # 34 MiB
NTFS_START=71680;   NTFS_SIZE=24576     # 12 MiB
EXFAT_START=96256;  EXFAT_SIZE=16384    # 8 MiB
EXT_START=112640;   EXT_SIZE=18432      # extended container to the end
FAT16_START=114688; FAT16_SIZE=16384    # logical drive, 2048 sectors into it

truncate -s 64M "$img"
sfdisk -q "$img" <<SF
label: dos
label-id: 0x4b455354
start=$FAT32_START, size=$FAT32_SIZE, type=c
start=$NTFS_START, size=$NTFS_SIZE, type=7
start=$EXFAT_START, size=$EXFAT_SIZE, type=7
start=$EXT_START, size=$EXT_SIZE, type=5
start=$FAT16_START, size=$FAT16_SIZE, type=6
SF

python3 -c '
import zipfile, sys
with zipfile.ZipFile(sys.argv[1], "w", zipfile.ZIP_DEFLATED) as z:
    for i in range(4):
        z.writestr("notes/part%d.txt" % i, "".join("zip line %05d of member %d\n" % (n, i) for n in range(300)))
' "$work/sample.zip"
printf 'kestrel scan fixture\n' > "$work/readme.txt"

# FAT32, made as its own file with mtools and copied in.
dd if=/dev/zero of="$work/fat32.img" bs=512 count=$FAT32_SIZE status=none
mkfs.fat -F 32 -s 1 -g 255/63 -h $FAT32_START -n SCANFAT32 --invariant "$work/fat32.img" >/dev/null
export MTOOLS_SKIP_CHECK=1
mmd -i "$work/fat32.img" ::/photos ::/photos/2019 ::/docs
mcopy -i "$work/fat32.img" "$here/sample.jpg" ::/photos/2019/beach.jpg
mcopy -i "$work/fat32.img" "$work/sample.zip" ::/docs/notes.zip
mcopy -i "$work/fat32.img" "$work/readme.txt" ::/readme.txt
# Windows writes a volume-label entry with its write time only; mkfs.fat also
# sets creation and access dates. Make the FAT32 label look like the former
# and leave the FAT16 one as mkfs.fat made it.
python3 - "$work/fat32.img" <<'PY'
import struct, sys
with open(sys.argv[1], "r+b") as f:
    boot = f.read(512)
    reserved, = struct.unpack_from("<H", boot, 14)
    fat_size, = struct.unpack_from("<I", boot, 36)
    root_cluster, = struct.unpack_from("<I", boot, 44)
    root = (reserved + boot[16] * fat_size + (root_cluster - 2) * boot[13]) * 512
    f.seek(root); entry = bytearray(f.read(32))
    assert entry[:11] == b"SCANFAT32  " and entry[11] == 0x08
    entry[13:22] = bytes(9)
    f.seek(root); f.write(entry)
PY
dd if="$work/fat32.img" of="$img" bs=512 seek=$FAT32_START conv=notrunc status=none

# NTFS, filled through ntfs-3g.
loop=$(losetup -f --show -o $((NTFS_START * 512)) --sizelimit $((NTFS_SIZE * 512)) "$img")
mkfs.ntfs -F -Q -q -s 512 -p $NTFS_START -H 255 -S 63 -L SCANNTFS "$loop" >/dev/null 2>&1
ntfs-3g "$loop" "$mnt"
mkdir -p "$mnt/照片" "$mnt/docs/reports"
cp "$here/sample.jpg" "$mnt/照片/snow.jpg"
cp "$work/sample.zip" "$mnt/docs/reports/archive.zip"
# Enough names for the root index to need an index block of its own.
for i in $(seq 1 40); do printf 'file %d\n' "$i" > "$mnt/docs/note_$(printf %03d "$i").txt"; done
umount "$mnt"
losetup -d "$loop"; loop=

# exFAT, through exfat-fuse.
loop=$(losetup -f --show -o $((EXFAT_START * 512)) --sizelimit $((EXFAT_SIZE * 512)) "$img")
mkfs.exfat -c 4096 -L SCANEXFAT "$loop" >/dev/null
mount.exfat-fuse "$loop" "$mnt"
mkdir -p "$mnt/music/live"
cp "$work/readme.txt" "$mnt/music/readme.txt"
cp "$here/sample.jpg" "$mnt/music/live/cover.jpg"
umount "$mnt"
losetup -d "$loop"; loop=

# FAT16 logical drive.
dd if=/dev/zero of="$work/fat16.img" bs=512 count=$FAT16_SIZE status=none
mkfs.fat -F 16 -s 2 -g 255/63 -n SCANFAT16 --invariant -h $FAT16_START "$work/fat16.img" >/dev/null
mmd -i "$work/fat16.img" ::/backup
mcopy -i "$work/fat16.img" "$work/readme.txt" ::/backup/readme.txt
dd if="$work/fat16.img" of="$img" bs=512 seek=$FAT16_START conv=notrunc status=none

{
    printf 'kind\tstart\tsectors\n'
    printf 'fat32\t%d\t%d\n' $FAT32_START $FAT32_SIZE
    printf 'ntfs\t%d\t%d\n' $NTFS_START $NTFS_SIZE
    printf 'exfat\t%d\t%d\n' $EXFAT_START $EXFAT_SIZE
    printf 'extended\t%d\t%d\n' $EXT_START $EXT_SIZE
    printf 'fat16\t%d\t%d\n' $FAT16_START $FAT16_SIZE
} > "$here/manifest.tsv"
gzip -9n < "$img" > "$here/disk.img.gz"
