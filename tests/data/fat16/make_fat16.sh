#!/bin/bash
# Makes fat16.img.gz (16 MiB FAT16, 2 KiB clusters, total size in the 16-bit
# boot field) and fat12.img.gz (1.44 MB FAT12) with their manifests. The
# geometry 255 heads / 63 sectors is what fixed disks report, and what
# boot-sector recognition expects.
# Needs dosfstools, mtools and python3; no root, no mount.
set -euo pipefail
cd "$(dirname "$0")"
. ./fat_fixture_lib.sh

rm -f fat16.img
SOURCE_DATE_EPOCH=1577836800 mkfs.vfat -F 16 -s 4 -g 255/63 -C --invariant -i 16161616 -n KESTREL16 \
    fat16.img 16384 >/dev/null
fx_begin fat16.img manifest.tsv 16
fx_populate 2048
fx_end
gzip -9nf fat16.img

# FAT12 has 12-bit FAT entries: a small tree with a fragmented file whose
# chain crosses odd and even entries.
rm -f fat12.img
SOURCE_DATE_EPOCH=1577836800 mkfs.vfat -F 12 -g 255/63 -C --invariant -i 12121212 -n KESTREL12 \
    fat12.img 1440 >/dev/null
fx_begin fat12.img manifest_fat12.tsv 12
fx_dir "sub dir" "2021-06-01 00:00:00"
fx_file "sub dir/hello.txt" 5 "2021-06-01 00:00:02"
fx_file_quiet "sub dir/HOLE.BIN" 1536 "2021-06-01 00:00:04"
fx_file "keep.bin" 1024 "2021-06-01 00:00:06"
mdel -i "$IMG" "::/sub dir/HOLE.BIN"
fx_line deleted-file 1536 "2021-06-01 00:00:04" "sub dir/!OLE.BIN" -
fx_file "chain across holes.bin" 5000 "2021-06-01 00:00:08"
fx_file "GONE.TXT" 700 "2021-06-01 00:00:10"
mdel -i "$IMG" "::/GONE.TXT"
fx_mark "GONE.TXT" deleted-file "!ONE.TXT" yes
fx_end
gzip -9nf fat12.img
