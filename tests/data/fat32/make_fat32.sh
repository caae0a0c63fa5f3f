#!/bin/bash
# Makes fat32.img.gz (40 MiB FAT32, 512-byte clusters, so more than 65525
# clusters) and its manifest. Needs dosfstools, mtools and python3; no root,
# no mount.
set -euo pipefail
cd "$(dirname "$0")"
. ../fat16/fat_fixture_lib.sh

rm -f fat32.img
SOURCE_DATE_EPOCH=1577836800 mkfs.vfat -F 32 -s 1 -g 255/63 -C --invariant -i 32323232 -n KESTREL32 \
    fat32.img 40960 >/dev/null
fx_begin fat32.img manifest.tsv 32
fx_populate 512
fx_end
gzip -9nf fat32.img
