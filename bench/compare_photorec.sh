#!/bin/bash
# Deep-scan throughput of Kestrel next to plain sequential reads and PhotoRec
# on one large image of mixed content.
#
# The image (at least 2 GiB, all of it written, nothing sparse) interleaves:
#   - sets of real files of every carvable type (bench/photorec/make_files.sh),
#     each set laid end to end in its own shuffle (bench/photorec/layout.py);
#   - a 512 MiB FAT32 volume made by mkfs.vfat and filled with mtools
#     (folders of the same files, some of them deleted again with mdel);
#   - regions of /dev/urandom output, which no carver can skip by content.
# It is built once into WORKDIR and reused by later runs with the same WORKDIR.
#
# Measured, in one run:
#   uncached read  dd if=IMAGE of=/dev/null bs=8M iflag=direct
#   warm read      cat IMAGE >/dev/null, then dd if=IMAGE of=/dev/null bs=8M
#   kestrel scan   kestrel-cli scan IMAGE (mode 3, whole image), image warm
#   photorec       photorec /cmd IMAGE partition_none,fileopt,everything,enable,
#                  options,paranoid,search (whole disk, every type), image warm;
#                  its output goes to WORKDIR and is deleted after counting
# MB/s is image bytes / 2^20 / wall seconds.
#
# usage: bench/compare_photorec.sh [KESTREL_CLI] [WORKDIR]
#   default KESTREL_CLI: build/cli/kestrel-cli; WORKDIR: a temporary directory
#   removed at the end (a given one keeps the image for the next run).
set -euo pipefail
export TZ=UTC LC_ALL=C.UTF-8

root=$(cd "$(dirname "$0")/.." && pwd)
cli=${1:-${KESTREL_CLI:-$root/build/cli/kestrel-cli}}
[ -x "$cli" ] || { echo "no kestrel-cli at $cli" >&2; exit 2; }
for tool in photorec mkfs.vfat mcopy mdel bc; do
    command -v "$tool" >/dev/null || { echo "$tool is not installed" >&2; exit 2; }
done
if [ -n "${2:-}" ]; then
    work=$2
    mkdir -p "$work"
else
    work=$(mktemp -d)
    trap 'rm -rf "$work"' EXIT
fi
work=$(cd "$work" && pwd)
img=$work/mixed.img
min_bytes=$((2304 << 20))  # 2.25 GiB

now() { date +%s.%N; }
secs() { printf '%.2f' "$(echo "$2 - $1" | bc -l)"; }
mbs() { printf '%.1f' "$(echo "$1 / 1048576 / $2" | bc -l)"; }
ratio() { printf '%.2f' "$(echo "$1 / $2" | bc -l)"; }

build_image() {
    local files=$work/files part=$work/parts
    rm -rf "$part" "$img.partial"
    mkdir -p "$part"
    if [ ! -f "$files.done" ]; then
        rm -rf "$files"
        echo "making real files in $files ..." >&2
        "$root/bench/photorec/make_files.sh" "$files" 12 7
        touch "$files.done"
    fi
    echo "building $img ..." >&2
    local s
    for s in 1 2 3 4 5 6 7 8; do
        python3 "$root/bench/photorec/layout.py" "$files" "$part/set$s.img" "$part/set$s.tsv" "$s"
    done
    mkfs.vfat -F 32 -n KESTREL -C "$part/fat32.img" $((512 * 1024)) >/dev/null
    for s in a b c d; do
        MTOOLS_SKIP_CHECK=1 mcopy -i "$part/fat32.img" -s "$files" "::/$s"
    done
    MTOOLS_SKIP_CHECK=1 mdel -i "$part/fat32.img" "::/b/*_00[0-5].*" "::/d/*_01?.*"
    head -c $((256 << 20)) /dev/urandom >"$part/rand1.bin"
    head -c $((256 << 20)) /dev/urandom >"$part/rand2.bin"
    head -c $((256 << 20)) /dev/urandom >"$part/rand3.bin"
    cat "$part/set1.img" "$part/rand1.bin" "$part/fat32.img" "$part/set2.img" "$part/rand2.bin" \
        "$part/set3.img" "$part/set4.img" "$part/rand3.bin" "$part/set5.img" "$part/set6.img" \
        "$part/set7.img" "$part/set8.img" >"$img.partial"
    local have
    have=$(stat -c %s "$img.partial")
    if [ "$have" -lt "$min_bytes" ]; then
        head -c $((((min_bytes - have) + (1 << 20) - 1) >> 20 << 20)) /dev/urandom >>"$img.partial"
    fi
    mv "$img.partial" "$img"
    rm -rf "$part"
}
[ -f "$img" ] || build_image
size=$(stat -c %s "$img")
printf 'image: %s, %d bytes (%.2f GiB): 8 sets of real files, a 512 MiB FAT32 volume, random data\n' \
    "$img" "$size" "$(echo "$size / 1073741824" | bc -l)"
printf 'machine: %s cores, %s MiB RAM\n' "$(nproc)" "$(free -m | awk '/^Mem:/ { print $2 }')"
echo

t0=$(now)
dd if="$img" of=/dev/null bs=8M iflag=direct status=none
t1=$(now)
t_direct=$(secs "$t0" "$t1")

cat "$img" >/dev/null
t0=$(now)
dd if="$img" of=/dev/null bs=8M status=none
t1=$(now)
t_warm=$(secs "$t0" "$t1")

cat "$img" >/dev/null
t0=$(now)
"$cli" scan "$img" >"$work/kestrel.out" 2>&1
t1=$(now)
t_scan=$(secs "$t0" "$t1")

rm -rf "$work/photorec" && mkdir -p "$work/photorec"
cat "$img" >/dev/null
pr_cmd="partition_none,fileopt,everything,enable,options,paranoid,search"
t0=$(now)
(cd "$work/photorec" && photorec /log /d "$work/photorec/recup" /cmd "$img" "$pr_cmd" \
    >photorec.stdout 2>&1)
t1=$(now)
t_pr=$(secs "$t0" "$t1")
pr_files=$(find "$work/photorec" -path '*/recup.*' -type f ! -name report.xml | wc -l)
pr_bytes=$(du -sb "$work/photorec" | cut -f1)
pr_total=$(grep -E '^Total: ' "$work/photorec/photorec.log" | tail -1 || true)
cp "$work/photorec/photorec.log" "$work/photorec.log"
rm -rf "$work/photorec"

k_finds=$(awk -F'\t' '$1 == "finds" { print $2 }' "$work/kestrel.out")
k_speed=$(awk -F'\t' '$1 == "speed" { print $2 }' "$work/kestrel.out")
k_elapsed=$(awk -F'\t' '$1 == "elapsed" { print $2 }' "$work/kestrel.out")

printf '%-44s %9s %9s\n' measurement seconds MB/s
printf '%-44s %9s %9s\n' "read, uncached (dd bs=8M iflag=direct)" "$t_direct" "$(mbs "$size" "$t_direct")"
printf '%-44s %9s %9s\n' "read, warm (dd bs=8M after cat)" "$t_warm" "$(mbs "$size" "$t_warm")"
printf '%-44s %9s %9s\n' "kestrel-cli scan (mode 3, warm)" "$t_scan" "$(mbs "$size" "$t_scan")"
printf '%-44s %9s %9s\n' "photorec, whole disk, all types (warm)" "$t_pr" "$(mbs "$size" "$t_pr")"
echo
echo "kestrel: $k_finds finds; its own figures: elapsed $k_elapsed, speed $k_speed"
echo "photorec: $pr_files files written ($((pr_bytes >> 20)) MiB); log: ${pr_total:-no total line}"
echo
r_direct=$(ratio "$t_direct" "$t_scan")
r_warm=$(ratio "$t_warm" "$t_scan")
r_pr=$(ratio "$t_pr" "$t_scan")
verdict() { if [ "$(echo "$1 >= $2" | bc -l)" = 1 ]; then echo met; else echo "NOT met"; fi; }
printf 'scan / uncached read  %6s   (target >= 1: %s)\n' "$r_direct" "$(verdict "$r_direct" 1)"
printf 'scan / warm read      %6s\n' "$r_warm"
printf 'scan / photorec       %6s   (target >= 5: %s)\n' "$r_pr" "$(verdict "$r_pr" 5)"
