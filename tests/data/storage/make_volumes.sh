#!/bin/sh
# Makes the small bare volume images the storage tests build disk images
# from, and the 512-byte boot sectors the recognition tests read.
# Needs dosfstools, ntfs-3g (mkfs.ntfs) and exfatprogs; no root.
set -eu
cd "$(dirname "$0")"
export TZ=UTC
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

# FAT16: 4 MiB, one sector per cluster. mkfs.fat cannot encode a GBK label,
# so the label entry (and the boot-sector copy) get "中文卷" in GBK afterwards.
truncate -s 4M "$tmp/fat16.img"
mkfs.fat -F 16 -s 1 -g 255/63 --invariant -n "PLACEHOLDER" "$tmp/fat16.img" >/dev/null
python3 - "$tmp/fat16.img" <<'PY'
import struct, sys
path = sys.argv[1]
label = "中文卷".encode("gbk").ljust(11, b" ")
with open(path, "r+b") as f:
    boot = f.read(512)
    reserved, = struct.unpack_from("<H", boot, 14)
    fats = boot[16]
    fat_size, = struct.unpack_from("<H", boot, 22)
    root = (reserved + fats * fat_size) * 512
    f.seek(root); assert f.read(11) == b"PLACEHOLDER"
    f.seek(root); f.write(label)
    f.seek(43); f.write(label)
PY
# FAT32: 34 MiB, the smallest FAT32 with 512-byte clusters.
truncate -s 34M "$tmp/fat32.img"
mkfs.fat -F 32 -s 1 -g 255/63 --invariant -n "KESTREL32" "$tmp/fat32.img" >/dev/null
# NTFS: 4 MiB with a Chinese label.
truncate -s 4M "$tmp/ntfs.img"
mkfs.ntfs -F -Q -q -T -H 255 -S 63 -L "恢复测试" "$tmp/ntfs.img" >/dev/null 2>&1
# exFAT: 4 MiB.
truncate -s 4M "$tmp/exfat.img"
mkfs.exfat -L "ExLabel" "$tmp/exfat.img" >/dev/null

for v in fat16 fat32 ntfs exfat; do
    dd if="$tmp/$v.img" of="$v.boot.bin" bs=512 count=1 status=none
    gzip -9n < "$tmp/$v.img" > "$v.img.gz"
done
