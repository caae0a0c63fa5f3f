#!/bin/bash
# Files recovered by Kestrel, The Sleuth Kit and PhotoRec from the same damaged
# or formatted fixture disks, counted against what the disks held.
#
#   kestrel   kestrel-cli recover IMAGE --mode 2 --part 0 (a volume) or --mode 3
#             (a disk) --out DIR: the deep scan, the rebuilt trees, every file
#   tsk       tsk_recover -e IMAGE DIR: allocated and unallocated files of the
#             file systems it can open (it needs an intact boot sector or table)
#   photorec  photorec /cmd IMAGE partition_none,options,mode_ext2,fileopt,
#             everything,enable,search: carving of the whole image, every type
#
# Disks: the ntfs, fat32 and exfat reader fixtures with their first sector
# zeroed (deleted files and directories, backup boot sector intact), the two
# reformat fixtures (formatted over), and the scan fixture disk with its MBR
# zeroed. The truth is each fixture's manifest (files with a known sha256);
# for the scan disk it is tsk_recover -a of every partition of the intact
# image (its metadata files such as $UPCASE_TABLE left out). Empty files are
# left out too: any tool "recovers" them.
#
# Columns per tool: files recovered exactly (an output file with the entry's
# name and bytes) and bytes under any name (an output file with its sha256),
# out of the files the disk held.
#
# usage: bench/compare_recover.sh [KESTREL_CLI]   (default: build/cli/kestrel-cli)
set -euo pipefail
export TZ=UTC LC_ALL=C.UTF-8

root=$(cd "$(dirname "$0")/.." && pwd)
cli=${1:-${KESTREL_CLI:-$root/build/cli/kestrel-cli}}
[ -x "$cli" ] || { echo "no kestrel-cli at $cli" >&2; exit 2; }
for tool in tsk_recover photorec python3; do
    command -v "$tool" >/dev/null || { echo "$tool is not installed (sleuthkit, testdisk)" >&2; exit 2; }
done
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
data=$root/tests/data

zero_sector0() { dd if=/dev/zero of="$1" bs=512 count=1 conv=notrunc status=none; }

# truth_from_manifest MANIFEST OUT: name, size and sha256 of every file with content.
truth_from_manifest() {
    awk -F'\t' '$1 ~ /file$/ && $5 != "-" && $2 != 0 {n = split($4, p, "/"); print p[n] "\t" $2 "\t" $5}' "$1" >"$2"
}

# truth_from_tsk IMAGE MANIFEST OUT: the files tsk_recover -a reads from each
# partition of the intact disk.
truth_from_tsk() {
    local img=$1 out=$3 dir=$work/truth
    rm -rf "$dir" && mkdir -p "$dir"
    tail -n +2 "$2" | while IFS=$'\t' read -r kind start _; do
        [ "$kind" = extended ] && continue
        tsk_recover -a -o "$start" "$img" "$dir/$start" >/dev/null 2>&1 || true
    done
    python3 - "$dir" >"$out" <<'PY'
import hashlib, os, sys
for base, _, files in os.walk(sys.argv[1]):
    for f in files:
        p = os.path.join(base, f)
        size = os.path.getsize(p)
        # File-system metadata ($MFT, $ALLOC_BITMAP, ...) is no user file.
        if size and not f.startswith("$"):
            print("%s\t%d\t%s" % (f, size, hashlib.sha256(open(p, "rb").read()).hexdigest()))
PY
}

# score TRUTH DIR: "exact any" counts of truth entries found below DIR.
score() {
    python3 - "$1" "$2" <<'PY'
import hashlib, os, sys
truth = [l.rstrip("\n").split("\t") for l in open(sys.argv[1]) if l.strip()]
names, shas = set(), set()
for base, _, files in os.walk(sys.argv[2]):
    for f in files:
        p = os.path.join(base, f)
        if os.path.islink(p) or not os.path.isfile(p):
            continue
        h = hashlib.sha256(open(p, "rb").read()).hexdigest()
        shas.add(h)
        names.add((f, h))
exact = sum(1 for name, _, sha in truth if (name, sha) in names)
anyname = sum(1 for _, _, sha in truth if sha in shas)
print(exact, anyname)
PY
}

run_kestrel() {  # IMAGE OUT ARGS...
    local img=$1 out=$2
    shift 2
    KESTREL_SCAN_STATE=$work/DiskScanData.dat "$cli" recover "$img" "$@" --out "$out" \
        >"$out.log" 2>&1 || echo "kestrel-cli recover failed on $img (see log)" >&2
}
run_tsk() { tsk_recover -e "$1" "$2" >"$2.log" 2>&1 || true; }
run_photorec() {
    mkdir -p "$2"
    (cd "$2" && photorec /log /d "$2/recup" /cmd "$1" \
        partition_none,options,mode_ext2,fileopt,everything,enable,search >/dev/null 2>&1) || true
}

rows=()
bench() {  # NAME IMAGE TRUTH KESTREL-ARGS...
    local name=$1 img=$2 truth=$3 total
    shift 3
    total=$(wc -l <"$truth")
    local row="| $name | $total"
    run_kestrel "$img" "$work/$name.kestrel" "$@"
    run_tsk "$img" "$work/$name.tsk"
    run_photorec "$img" "$work/$name.photorec"
    local tool
    for tool in kestrel tsk photorec; do
        read -r exact anyname < <(score "$truth" "$work/$name.$tool")
        row="$row | $exact | $anyname"
    done
    rows+=("$row |")
    rm -rf "$work/$name".*
    echo "done: $name" >&2
}

for v in ntfs fat32 exfat; do
    img=$work/$v-wiped.img
    gzip -dc "$data/$v/$v.img.gz" >"$img"
    zero_sector0 "$img"
    truth_from_manifest "$data/$v/manifest.tsv" "$work/$v.truth"
    bench "$v, boot sector wiped" "$img" "$work/$v.truth" --mode 2 --part 0
    rm -f "$img"
done
for v in ntfs fat32; do
    img=$work/$v-reformat.img
    gzip -dc "$data/reformat/${v}_reformat.img.gz" >"$img"
    truth_from_manifest "$data/reformat/manifest_$v.tsv" "$work/$v-r.truth"
    bench "$v, formatted over" "$img" "$work/$v-r.truth" --mode 2 --part 0
    rm -f "$img"
done
img=$work/disk.img
gzip -dc "$data/scan/disk.img.gz" >"$img"
truth_from_tsk "$img" "$data/scan/manifest.tsv" "$work/disk.truth"
zero_sector0 "$img"
bench "4-partition disk, MBR wiped" "$img" "$work/disk.truth" --mode 3

echo "| disk | files | kestrel exact | kestrel bytes | tsk_recover exact | tsk_recover bytes | photorec exact | photorec bytes |"
echo "|---|---:|---:|---:|---:|---:|---:|---:|"
printf '%s\n' "${rows[@]}"
