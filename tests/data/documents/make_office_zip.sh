#!/bin/bash
# Makes the Office Open XML documents and the ZIP archive the document
# preview tests read, and manifest_zip.txt with the words and members put in.
# Needs LibreOffice (soffice), zip and python3; no root.
set -euo pipefail
cd "$(dirname "$0")"
. ./office_lib.sh
office_workspace
manifest=manifest_zip.txt
: > "$manifest"

# docx: the words of two paragraphs, Chinese text, and a one-letter bold run
# ("Q") between two longer runs.
cat > "$work/in/words.html" <<'HTML'
<html><head><meta charset="utf-8"></head><body>
<p>Kestrel alpha paragraph</p>
<p>Second bravo paragraph</p>
<p>中文恢复测试</p>
<p>charlie <b>Q</b> delta</p>
</body></html>
HTML
echo "docx words.docx: Kestrel alpha paragraph | Second bravo paragraph | 中文恢复测试 | charlie | delta | dropped: Q" >> "$manifest"

# xlsx: shared strings in cells of one sheet.
printf 'Name,Value\nechoword,foxtrotword\ngolfword,12\n' > "$work/in/cells.csv"
echo "xlsx cells.xlsx: Name | Value | echoword | foxtrotword | golfword" >> "$manifest"

# pptx: 25 slides, slide n holding "slideword%02d".
python3 - "$work/in/slides.fodp" <<'PY'
import sys
pages = "".join(
    '<draw:page draw:name="p%d"><draw:frame svg:x="2cm" svg:y="2cm" svg:width="20cm" '
    'svg:height="3cm"><draw:text-box><text:p>slideword%02d</text:p></draw:text-box>'
    '</draw:frame></draw:page>' % (n, n) for n in range(1, 26))
open(sys.argv[1], "w").write(
    '<?xml version="1.0" encoding="UTF-8"?>'
    '<office:document xmlns:office="urn:oasis:names:tc:opendocument:xmlns:office:1.0" '
    'xmlns:draw="urn:oasis:names:tc:opendocument:xmlns:drawing:1.0" '
    'xmlns:text="urn:oasis:names:tc:opendocument:xmlns:text:1.0" '
    'xmlns:svg="urn:oasis:names:tc:opendocument:xmlns:svg-compatible:1.0" '
    'office:version="1.2" office:mimetype="application/vnd.oasis.opendocument.presentation">'
    '<office:body><office:presentation>' + pages +
    '</office:presentation></office:body></office:document>')
PY
echo "pptx slides.pptx: slideword01..slideword25 on slides 1..25" >> "$manifest"

soffice --headless --convert-to docx:"MS Word 2007 XML" --outdir "$work/out" "$work/in/words.html" >/dev/null
soffice --headless --convert-to xlsx --outdir "$work/out" "$work/in/cells.csv" >/dev/null
soffice --headless --convert-to pptx --outdir "$work/out" "$work/in/slides.fodp" >/dev/null

# ZIP: a stored member, a deflated member, an empty member and a directory,
# with fixed modification times.
mkdir -p "$work/zip/folder"
python3 -c 'import random; r = random.Random(7); open("'"$work"'/zip/stored.bin", "wb").write(bytes(r.randrange(256) for _ in range(1500)))'
python3 -c 'import random; r = random.Random(8); w = "kestrel falcon osprey harrier merlin kite".split(); open("'"$work"'/zip/deflated.txt", "w").write(" ".join(r.choice(w) + str(r.randrange(1000)) for _ in range(500)))'
python3 -c 'open("'"$work"'/zip/repeated.txt", "w").write("kestrel deflated line\n" * 400)'
: > "$work/zip/empty.txt"
touch -d '2021-03-04 05:06:00' "$work/zip/stored.bin"
touch -d '2022-11-12 13:14:00' "$work/zip/deflated.txt" "$work/zip/repeated.txt" "$work/zip/empty.txt" "$work/zip/folder"
rm -f "$work/out/members.zip"
(cd "$work/zip" && zip -X -q -0 "$work/out/members.zip" stored.bin \
    && zip -X -q -9 "$work/out/members.zip" deflated.txt repeated.txt empty.txt folder)
unzip -Zl "$work/out/members.zip" | grep -v '^Archive' >> "$manifest"

# A presentation whose first two slides together reach the 0x20000-byte slide
# limit, written by python's zipfile (sizes in the local headers, no data
# descriptors): slide2 is left out, slide3 still shown.
python3 - "$work/out/bigslides.pptx" <<'PY'
import sys, zipfile
def slide(word, size):
    head = '<?xml version="1.0"?><p:sld><a:t>%s</a:t><p:pad v="' % word
    return head + "x" * (size - len(head) - 11) + '"/></p:sld>'
with zipfile.ZipFile(sys.argv[1], "w", zipfile.ZIP_DEFLATED) as z:
    z.writestr("[Content_Types].xml", "<Types/>")
    z.writestr("ppt/slides/slide1.xml", slide("bigslide01", 0x10000))
    z.writestr("ppt/slides/slide2.xml", slide("bigslide02", 0x10000))
    z.writestr("ppt/slides/slide3.xml", slide("bigslide03", 0x100))
PY
echo "pptx bigslides.pptx: bigslide01 (65536 bytes), bigslide02 (65536 bytes), bigslide03 (256 bytes)" >> "$manifest"

for f in words.docx cells.xlsx slides.pptx bigslides.pptx members.zip; do
    gzip -9nc "$work/out/$f" > "$f.gz"
done
