#!/bin/sh
# Makes demo.img.gz: a 96 MiB MBR disk image with a FAT32 partition (1) and
# an NTFS partition (2) holding documents, photos, nested folders, long and
# Chinese names, from which some files and a folder with content were then
# deleted. manifest.tsv lists every file and folder with its state, size,
# modification time (UTC), path and sha256.
#
# Needs (as root, for FUSE): fdisk (sfdisk), dosfstools, mtools, ntfs-3g,
# imagemagick, faketime, python3. Contents and times are fixed; mkfs.ntfs
# and ntfs-3g still vary a few ids and metadata times from run to run.
set -eu
export TZ=UTC LC_ALL=C.UTF-8 MTOOLS_SKIP_CHECK=1
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
mnt="$work/mnt"
cleanup() {
    if mountpoint -q "$mnt" 2>/dev/null; then umount "$mnt"; fi
    rm -rf "$work"
}
trap cleanup EXIT

# Layout in 512-byte sectors.
DISK_SECTORS=196608         # 96 MiB
P1_START=2048               # FAT32, 40 MiB
P1_SECTORS=81920
P2_START=83968              # NTFS, the rest
P2_SECTORS=$((DISK_SECTORS - P2_START))

stage1="$work/p1"
stage2="$work/p2"
mkdir -p "$stage1" "$stage2"

# --- contents ---------------------------------------------------------------
# mkfile STAGE PATH TIME KIND: writes a file of the given kind, sets its time.
mkfile() {
    f="$1/$2"
    mkdir -p "$(dirname "$f")"
    case "$4" in
    text:*) python3 - "$f" "${4#text:}" <<'PY'
import sys
path, seed = sys.argv[1], sys.argv[2]
lines = [f"{seed} 第{i}行：恢复测试文本 line {i} of the Kestrel demo document.\n" for i in range(1, 400)]
open(path, "w", encoding="utf-8").write("".join(lines))
PY
        ;;
    small:*) printf '%s\n' "${4#small:}" > "$f" ;;
    csv) python3 -c "
import sys
rows = ['month,income,cost'] + [f'2024-{m:02d},{1000 + 37 * m},{800 + 11 * m}' for m in range(1, 13)]
open(sys.argv[1], 'w').write('\n'.join(rows) + '\n')" "$f" ;;
    docx:*) python3 - "$f" "${4#docx:}" <<'PY'
import sys, zipfile
path, text = sys.argv[1], sys.argv[2]
def add(z, name, data):
    info = zipfile.ZipInfo(name, date_time=(2024, 1, 1, 0, 0, 0))
    info.compress_type = zipfile.ZIP_DEFLATED
    z.writestr(info, data)
with zipfile.ZipFile(path, "w") as z:
    add(z, "[Content_Types].xml", '<?xml version="1.0" encoding="UTF-8"?><Types xmlns="http://schemas.openxmlformats.org/package/2006/content-types"><Default Extension="rels" ContentType="application/vnd.openxmlformats-package.relationships+xml"/><Default Extension="xml" ContentType="application/xml"/><Override PartName="/word/document.xml" ContentType="application/vnd.openxmlformats-officedocument.wordprocessingml.document.main+xml"/></Types>')
    add(z, "_rels/.rels", '<?xml version="1.0" encoding="UTF-8"?><Relationships xmlns="http://schemas.openxmlformats.org/package/2006/relationships"><Relationship Id="rId1" Type="http://schemas.openxmlformats.org/officeDocument/2006/relationships/officeDocument" Target="word/document.xml"/></Relationships>')
    body = "".join(f"<w:p><w:r><w:t>{text} {i}</w:t></w:r></w:p>" for i in range(1, 60))
    add(z, "word/document.xml", '<?xml version="1.0" encoding="UTF-8"?><w:document xmlns:w="http://schemas.openxmlformats.org/wordprocessingml/2006/main"><w:body>' + body + '</w:body></w:document>')
PY
        ;;
    # Plasma is random; the seed fixes it.
    jpg:*) convert -seed 7 -size 640x480 "plasma:${4#jpg:}" -quality 85 -strip "jpeg:$f" ;;
    png:*) convert -size 160x120 "pattern:${4#png:}" -strip \
        -define png:exclude-chunks=date,time "png:$f" ;;
    *) echo "unknown kind $4" >&2; exit 1 ;;
    esac
    touch -d "$3" "$f"
}
settime() { touch -d "$2" "$1/$3"; }

# Partition 1 (FAT32): even seconds, FAT keeps two-second steps. Deleted
# files all have long names: a deleted 8.3 entry loses its first letter.
mkfile "$stage1" "readme.txt" "2024-01-10 08:00:00" "small:Kestrel demo disk, FAT32 partition."
mkfile "$stage1" "文档/报告.txt" "2024-02-01 09:30:10" "text:报告"
mkfile "$stage1" "文档/A very long document name for recovery testing.docx" "2024-02-03 14:15:16" "docx:Quarterly summary"
mkfile "$stage1" "文档/会议记录 2024.txt" "2024-02-05 17:20:22" "text:会议"
mkfile "$stage1" "照片/sunset.jpg" "2024-03-01 18:45:00" "jpg:orange-purple"
mkfile "$stage1" "照片/2024/夏天的海边.png" "2024-07-14 12:00:02" "png:checkerboard"
mkfile "$stage1" "照片/2024/Beach Day.jpg" "2024-07-15 13:14:14" "jpg:skyblue-navy"
mkfile "$stage1" "旧项目/Project Plan.txt" "2023-11-20 10:00:00" "text:计划"
mkfile "$stage1" "旧项目/图表.png" "2023-11-21 11:11:10" "png:hexagons"
mkfile "$stage1" "旧项目/设计/设计草图.jpg" "2023-11-22 09:08:06" "jpg:green-yellow"
mkfile "$stage1" "deleted-report.txt" "2024-04-01 07:06:04" "text:deleted"
settime "$stage1" "2024-02-06 08:00:00" "文档"
settime "$stage1" "2024-07-16 09:00:00" "照片/2024"
settime "$stage1" "2024-03-02 10:00:00" "照片"
settime "$stage1" "2023-11-23 08:00:00" "旧项目/设计"
settime "$stage1" "2023-11-24 08:00:00" "旧项目"
DEL1="照片/2024/Beach Day.jpg|旧项目|deleted-report.txt"  # "|" between paths

# Partition 2 (NTFS).
mkfile "$stage2" "Documents/合同草案.txt" "2024-05-01 10:00:00" "text:合同"
mkfile "$stage2" "Documents/budget.csv" "2024-05-02 11:30:45" "csv"
mkfile "$stage2" "Documents/Deep/Nested/Folder/leaf note.txt" "2024-05-03 12:00:01" "small:a leaf in a nested folder"
mkfile "$stage2" "Documents/年度总结 with a rather long mixed name.docx" "2024-05-04 15:16:17" "docx:年度总结"
mkfile "$stage2" "Pictures/garden.jpg" "2024-06-01 06:30:00" "jpg:lime-darkgreen"
mkfile "$stage2" "Pictures/图标.png" "2024-06-02 07:00:00" "png:bricks"
mkfile "$stage2" "Pictures/old-photo.jpg" "2019-08-08 08:08:08" "jpg:sienna-wheat"
mkfile "$stage2" "Archive/a.txt" "2022-01-01 01:01:01" "text:archive"
mkfile "$stage2" "Archive/b.jpg" "2022-01-02 02:02:02" "jpg:gray-white"
mkfile "$stage2" "Archive/子目录/c.png" "2022-01-03 03:03:03" "png:crosshatch"
mkfile "$stage2" "临时文件.txt" "2024-06-30 23:59:58" "small:temporary"
settime "$stage2" "2024-05-03 12:00:02" "Documents/Deep/Nested/Folder"
settime "$stage2" "2024-05-03 12:00:03" "Documents/Deep/Nested"
settime "$stage2" "2024-05-03 12:00:04" "Documents/Deep"
settime "$stage2" "2024-05-05 09:00:00" "Documents"
settime "$stage2" "2024-06-03 09:00:00" "Pictures"
settime "$stage2" "2022-01-04 04:04:04" "Archive/子目录"
settime "$stage2" "2022-01-05 05:05:05" "Archive"
DEL2="Pictures/old-photo.jpg|Archive|临时文件.txt"

# --- manifest ---------------------------------------------------------------
python3 - "$here/manifest.tsv" "$stage1" "$DEL1" "$stage2" "$DEL2" <<'PY'
import hashlib, os, sys, time
out, groups = sys.argv[1], [(1, sys.argv[2], sys.argv[3]), (2, sys.argv[4], sys.argv[5])]
rows = []
for number, root, deleted in groups:
    gone = deleted.split("|")
    for dirpath, dirs, files in os.walk(root):
        for name in dirs + files:
            full = os.path.join(dirpath, name)
            rel = os.path.relpath(full, root)
            dead = any(rel == d or rel.startswith(d + "/") for d in gone)
            isdir = os.path.isdir(full)
            state = ("deleted-" if dead else "live-") + ("dir" if isdir else "file")
            st = os.stat(full)
            size = 0 if isdir else st.st_size
            mtime = time.strftime("%Y-%m-%d %H:%M:%S", time.gmtime(st.st_mtime))
            sha = "-" if isdir else hashlib.sha256(open(full, "rb").read()).hexdigest()
            rows.append((number, rel, f"{number}\t{state}\t{size}\t{mtime}\t{rel}\t{sha}"))
rows.sort(key=lambda r: (r[0], r[1]))
with open(out, "w", encoding="utf-8") as f:
    f.write("#partition\tstate\tsize\tmodified\tpath\tsha256\n")
    f.writelines(r[2] + "\n" for r in rows)
PY

# --- partition 1: FAT32 through mtools --------------------------------------
fat="$work/p1.img"
truncate -s $((P1_SECTORS * 512)) "$fat"
mkfs.fat -F 32 -s 1 -g 255/63 -h $P1_START --invariant -n "KESTREL" "$fat" >/dev/null
# Folders first, parents before children, each made at its own time; then files in order.
(cd "$stage1" && find . -mindepth 1 -type d | sort) | while read -r d; do
    d=${d#./}
    faketime "$(date -u -r "$stage1/$d" '+%Y-%m-%d %H:%M:%S')" mmd -i "$fat" "::/$d"
done
(cd "$stage1" && find . -type f | sort) | while read -r f; do
    f=${f#./}
    mcopy -m -i "$fat" "$stage1/$f" "::/$f"
done
echo "$DEL1" | tr '|' '\n' | while read -r d; do
    if [ -d "$stage1/$d" ]; then mdeltree -i "$fat" "::/$d"; else mdel -i "$fat" "::/$d"; fi
done

# --- partition 2: NTFS through ntfs-3g ---------------------------------------
ntfs="$work/p2.img"
truncate -s $((P2_SECTORS * 512)) "$ntfs"
mkfs.ntfs -F -Q -q -H 255 -S 63 -p $P2_START -L "数据盘" "$ntfs" >/dev/null 2>&1
mkdir -p "$mnt"
ntfs-3g "$ntfs" "$mnt"
cp -r --preserve=timestamps "$stage2/." "$mnt/"
echo "$DEL2" | tr '|' '\n' | while read -r d; do rm -rf "${mnt:?}/$d"; done
# Removing entries touched the parents; put the surviving folders' times back.
(cd "$stage2" && find . -mindepth 1 -type d | sort -r) | while read -r d; do
    d=${d#./}
    if [ -d "$mnt/$d" ]; then touch -d "@$(stat -c %Y "$stage2/$d")" "$mnt/$d"; fi
done
umount "$mnt"
# ntfs-3g runs on until its last write is out.
while pgrep -f "ntfs-3g $ntfs" >/dev/null; do sleep 0.2; done

# --- the disk ----------------------------------------------------------------
disk="$work/demo.img"
truncate -s $((DISK_SECTORS * 512)) "$disk"
sfdisk -q "$disk" <<EOT
label: dos
label-id: 0x4b455354
start=$P1_START, size=$P1_SECTORS, type=c
start=$P2_START, size=$P2_SECTORS, type=7
EOT
dd if="$fat" of="$disk" bs=512 seek=$P1_START conv=notrunc,sparse status=none
dd if="$ntfs" of="$disk" bs=512 seek=$P2_START conv=notrunc,sparse status=none
gzip -9n < "$disk" > "$here/demo.img.gz"
ls -l "$here/demo.img.gz"
