#!/usr/bin/env bash
# Makes gpt.img.gz: a GPT disk (sfdisk) holding the small NTFS, FAT16 and
# exFAT volumes of tests/data/storage, each copied into its partition. Needs
# no root.
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
src="$here/../storage"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
img="$work/gpt.img"

truncate -s 16M "$img"
# 4 MiB partitions at 1 MiB, 5 MiB and 9 MiB.
sfdisk --quiet --no-reread --label gpt "$img" <<'TABLE'
start=2048, size=8192, type=EBD0A0A2-B9E5-4433-87C0-68B6B72699C7, name="ntfs"
start=10240, size=8192, type=EBD0A0A2-B9E5-4433-87C0-68B6B72699C7, name="fat16"
start=18432, size=8192, type=0FC63DAF-8483-4772-8E79-3D69D8477DE4, name="exfat"
TABLE
put() { gzip -dc "$src/$1.img.gz" | dd of="$img" bs=512 seek="$2" conv=notrunc status=none; }
put ntfs 2048
put fat16 10240
put exfat 18432
gzip -9n < "$img" > "$here/gpt.img.gz"
