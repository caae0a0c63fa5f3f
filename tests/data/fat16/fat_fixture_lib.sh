#!/bin/bash
# Shared steps of make_fat16.sh and make_fat32.sh: fills a FAT image with
# mtools (no mount needed) and writes the manifest of what a correct reader
# shows: state, size, modified (UTC), path, sha256 ("-" for directories and
# for deleted files whose clusters were reused).
#
# Reader rules the manifest follows:
# - a deleted entry that has only a short name loses its first character to
#   the deletion mark and is shown with "!" in its place (README.TXT -> !EADME.TXT);
#   deleted entries with a long name keep it whole;
# - a system directory "$RECYCLE.BIN" is shown as "回收站";
# - names stored as lower-case short names (no long name) are shown in lower case.
#
# mtools allocates from the FAT32 FSInfo next-free hint; the hint is cleared
# before every write so that both FAT widths allocate first-fit, which makes
# the fragmented file and the cluster reuse below happen as planned.
set -euo pipefail
export TZ=UTC LC_ALL=C.UTF-8 MTOOLS_SKIP_CHECK=1

WORK=""
IMG=""
MANIFEST=""
FATBITS=""

fx_begin() {  # image manifest fatbits
    IMG=$1 MANIFEST=$2 FATBITS=$3
    WORK=$(mktemp -d)
    : > "$MANIFEST.tmp"
}

fx_end() {
    sort -t $'\t' -k4 "$MANIFEST.tmp" > "$MANIFEST"
    rm -f "$MANIFEST.tmp"
    rm -rf "$WORK"
}

# Deterministic content: name seed, size.
fx_content() {
    python3 -c '
import hashlib, sys
seed, size = sys.argv[1].encode(), int(sys.argv[2])
out, i = bytearray(), 0
while len(out) < size:
    out += hashlib.sha256(seed + str(i).encode()).digest()
    i += 1
sys.stdout.buffer.write(bytes(out[:size]))' "$1" "$2"
}

fx_clear_hint() {
    if [ "$FATBITS" = 32 ]; then
        printf '\xff\xff\xff\xff' | dd of="$IMG" bs=1 seek=$((512 + 0x1EC)) conv=notrunc status=none
    fi
}

fx_epoch() { date -u -d "$1" +%s; }

fx_line() {  # state size time path sha
    printf '%s\t%s\t%s\t%s\t%s\n' "$1" "$2" "$3" "$4" "$5" >> "$MANIFEST.tmp"
}

# fx_dir path "YYYY-MM-DD HH:MM:SS"
fx_dir() {
    SOURCE_DATE_EPOCH=$(fx_epoch "$2") mmd -i "$IMG" "::/$1"
    fx_clear_hint
    fx_line live-dir 0 "$2" "$1" -
}

# fx_file path size "YYYY-MM-DD HH:MM:SS" -> writes the file, records it live
fx_file() {
    local src="$WORK/src"
    fx_content "$1" "$2" > "$src"
    touch -d "$3 UTC" "$src"
    fx_clear_hint
    SOURCE_DATE_EPOCH=$(fx_epoch "$3") mcopy -m -i "$IMG" "$src" "::/$1"
    fx_line live-file "$2" "$3" "$1" "$(sha256sum < "$src" | cut -d' ' -f1)"
}

# fx_file_quiet path size time: writes a file that is deleted later (no line yet)
fx_file_quiet() {
    local src="$WORK/src"
    fx_content "$1" "$2" > "$src"
    touch -d "$3 UTC" "$src"
    fx_clear_hint
    SOURCE_DATE_EPOCH=$(fx_epoch "$3") mcopy -m -i "$IMG" "$src" "::/$1"
}

fx_sha() { fx_content "$1" "$2" | sha256sum | cut -d' ' -f1; }

# Rewrites the state of a recorded line (matched by path) and its shown path.
fx_mark() {  # path newstate shownpath keep-sha(yes|no)
    python3 - "$MANIFEST.tmp" "$1" "$2" "$3" "$4" <<'PY'
import sys
man, path, state, shown, keep = sys.argv[1:]
lines = open(man, encoding='utf-8').read().splitlines()
out = []
for l in lines:
    f = l.split('\t')
    if f[3] == path:
        f[0], f[3] = state, shown
        if keep != 'yes':
            f[4] = '-'
    out.append('\t'.join(f))
open(man, 'w', encoding='utf-8').write('\n'.join(out) + '\n')
PY
}

# The common tree. $1 = cluster size in bytes (sizes are given in clusters so
# that both widths exercise multi-cluster files).
fx_populate() {
    local cb=$1
    fx_dir "docs" "2021-01-02 03:04:06"
    fx_file "docs/hello.txt" 5 "2021-01-02 03:10:00"
    fx_file "docs/Long File Name With Spaces.txt" $((cb * 3 + 17)) "2021-01-03 10:20:30"
    fx_dir "docs/deep" "2021-01-04 00:00:02"
    fx_dir "docs/deep/er" "2021-01-04 00:00:04"
    fx_dir "docs/deep/er/still" "2021-01-04 00:00:06"
    fx_file "docs/deep/er/still/bottom.txt" 100 "2021-01-04 00:01:00"
    fx_dir "照片" "2019-07-01 08:00:00"
    fx_dir "照片/旅行 2019" "2019-07-01 08:00:10"
    fx_file "照片/旅行 2019/长城.jpg" $((cb * 5 + 123)) "2019-07-02 09:15:20"
    fx_file "照片/旅行 2019/故宫 夜景.png" $((cb * 2)) "2019-07-03 20:30:40"
    fx_file "EXACT.BIN" $((cb * 2)) "2022-02-02 02:02:02"
    # A system directory "$RECYCLE.BIN", shown as "回收站".
    SOURCE_DATE_EPOCH=$(fx_epoch "2022-05-05 05:05:04") mmd -i "$IMG" '::/$RECYCLE.BIN'
    mattrib -i "$IMG" +s +h '::/$RECYCLE.BIN'
    fx_clear_hint
    fx_line live-dir 0 "2022-05-05 05:05:04" "回收站" -
    fx_file '$RECYCLE.BIN/desktop.ini' 129 "2022-05-05 05:05:06"
    fx_mark '$RECYCLE.BIN/desktop.ini' live-file "回收站/desktop.ini" yes

    # mtools gives a deleted entry's slots to the next entry made in the same
    # directory; each file deleted early lives in a directory of its own that
    # nothing is written to afterwards, so its entry survives.
    fx_dir "scratch" "2022-02-28 00:00:00"
    fx_dir "reuse" "2022-02-28 00:00:02"
    # Fragmentation: A, B, delete A, then C fills A's hole and continues after B.
    fx_file_quiet "scratch/FRAG_A.BIN" $((cb * 3)) "2022-03-01 00:00:00"
    fx_file "frag b.bin" $((cb * 2)) "2022-03-01 00:00:02"
    mdel -i "$IMG" "::/scratch/FRAG_A.BIN"
    fx_line deleted-file $((cb * 3)) "2022-03-01 00:00:00" "scratch/!RAG_A.BIN" -
    fx_file "fragmented c.bin" $((cb * 6 + 99)) "2022-03-01 00:00:04"

    # A deleted file whose clusters a later file took.
    fx_file_quiet "reuse/victim file.dat" $((cb * 2)) "2022-04-01 12:00:00"
    mdel -i "$IMG" "::/reuse/victim file.dat"
    fx_line deleted-file $((cb * 2)) "2022-04-01 12:00:00" "reuse/victim file.dat" -
    fx_file "replacement.bin" $((cb * 3)) "2022-04-01 12:00:02"

    # Deleted files, nothing written after them.
    fx_file "README.TXT" 300 "2023-01-01 01:01:02"
    fx_file "删除的文档.docx" $((cb * 4 + 1)) "2023-01-02 02:02:04"
    fx_file "docs/old notes.txt" 777 "2023-01-03 03:03:06"
    # A deleted directory with content.
    fx_dir "old project" "2023-02-01 10:00:00"
    fx_file "old project/draft 1.txt" $((cb + 5)) "2023-02-01 10:00:02"
    fx_file "old project/DATA.BIN" $((cb * 2 + 7)) "2023-02-01 10:00:04"
    fx_dir "old project/nested dir" "2023-02-01 10:00:06"
    fx_file "old project/nested dir/inner file.txt" 64 "2023-02-01 10:00:08"

    mdel -i "$IMG" "::/README.TXT" "::/删除的文档.docx" "::/docs/old notes.txt"
    mdeltree -i "$IMG" "::/old project"
    fx_mark "README.TXT" deleted-file "!EADME.TXT" yes
    fx_mark "删除的文档.docx" deleted-file "删除的文档.docx" yes
    fx_mark "docs/old notes.txt" deleted-file "docs/old notes.txt" yes
    fx_mark "old project" deleted-dir "old project" no
    fx_mark "old project/draft 1.txt" deleted-file "old project/draft 1.txt" yes
    fx_mark "old project/DATA.BIN" deleted-file "old project/!ATA.BIN" yes
    fx_mark "old project/nested dir" deleted-dir "old project/nested dir" no
    fx_mark "old project/nested dir/inner file.txt" deleted-file \
        "old project/nested dir/inner file.txt" yes
}
