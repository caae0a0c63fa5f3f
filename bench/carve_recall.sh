#!/bin/bash
# Carving recall of Kestrel's deep scan against PhotoRec on real files.
#
# Makes N files of every carvable type that free tools can write (JPEG, PNG,
# GIF, BMP, TIFF, PDF, ZIP, 7z, DOCX/XLSX/PPTX, DOC/XLS/PPT, MP3, WAV, AVI,
# MP4, MOV, MKV, FLV, ASF/WMV, MPEG-PS; RAR has no free writer), lays them end
# to end into a raw image, each file contiguous and starting on a sector
# boundary with zero slack behind it, then runs `kestrel-cli scan IMAGE
# --finds` (whole image) and PhotoRec in batch mode (whole disk, every file
# type, paranoid) over it. An original counts as recovered by a tool when one
# of the tool's files (for Kestrel: a complete find, status 4, read from the
# image at LBA * 512 for its length) has exactly the original's sha256.
# Beside the exact counts the table gives, per tool, the originals at whose
# first sector the tool produced anything (header recognised, length right
# or wrong), and a line with the status of Kestrel's inexact finds there.
#
# A raw image rather than a file system on purpose: carving looks at bytes
# only, and a file system whose files were deleted would leave the same
# contiguous bytes plus metadata that either tool may read or skip in its own
# way. The raw layout keeps every file in one piece at a known offset, so a
# miss is a carving miss.
#
# usage: bench/carve_recall.sh [KESTREL_CLI] [WORKDIR]
#   default KESTREL_CLI: build/cli/kestrel-cli; WORKDIR: a temporary directory,
#   removed at the end (a given one is kept, and its files are reused).
#   N=12 files per type (environment), SEED=1.
set -euo pipefail
export TZ=UTC LC_ALL=C.UTF-8

root=$(cd "$(dirname "$0")/.." && pwd)
cli=${1:-${KESTREL_CLI:-$root/build/cli/kestrel-cli}}
n=${N:-12}
seed=${SEED:-1}
[ -x "$cli" ] || { echo "no kestrel-cli at $cli" >&2; exit 2; }
command -v photorec >/dev/null || { echo "photorec (testdisk) is not installed" >&2; exit 2; }
if [ -n "${2:-}" ]; then
    work=$2
    mkdir -p "$work"
else
    work=$(mktemp -d)
    trap 'rm -rf "$work"' EXIT
fi
work=$(cd "$work" && pwd)

now() { date +%s.%N; }

files=$work/files.$n.$seed
if [ ! -f "$files.done" ]; then
    rm -rf "$files"
    echo "making $n files per type in $files ..." >&2
    "$root/bench/photorec/make_files.sh" "$files" "$n" "$seed"
    touch "$files.done"
fi
img=$work/recall.img
python3 "$root/bench/photorec/layout.py" "$files" "$img" "$work/manifest.tsv" "$seed"
size=$(stat -c %s "$img")
count=$(wc -l <"$work/manifest.tsv")
echo "image: $img, $size bytes, $count files laid end to end (raw, sector-aligned, zero slack)"

t0=$(now)
"$cli" scan "$img" --finds >"$work/kestrel.tsv" 2>"$work/kestrel.err"
t1=$(now)
printf 'kestrel-cli scan IMAGE --finds: %.2f s\n' "$(echo "$t1 - $t0" | bc -l)"

rm -rf "$work/photorec" && mkdir -p "$work/photorec"
pr_cmd="partition_none,fileopt,everything,enable,options,paranoid,search"
t0=$(now)
(cd "$work/photorec" && photorec /log /d "$work/photorec/recup" /cmd "$img" "$pr_cmd" \
    >photorec.stdout 2>&1)
t1=$(now)
printf 'photorec /log /d DIR /cmd IMAGE %s: %.2f s\n' "$pr_cmd" "$(echo "$t1 - $t0" | bc -l)"
echo

python3 "$root/bench/photorec/match.py" "$work/manifest.tsv" "$img" "$work/kestrel.tsv" \
    "$work/photorec"
