#!/bin/bash
# Makes the small sample files the carving tests analyse, each with a real
# tool, and writes manifest.txt (name, size, sha256). Run from this folder;
# needs imagemagick, ffmpeg, sox, lame, zip, exiftool and LibreOffice.
# RAR, CHM and HLP have no writer in Debian: the tests build those by hand.
set -euo pipefail
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT
cd "$out"
export SOURCE_DATE_EPOCH=1700000000 TZ=UTC
ff() { ffmpeg -hide_banner -loglevel error -y -fflags +bitexact "$@"; }
video=(-f lavfi -i testsrc=size=64x48:rate=5 -t 1)
tone=(-f lavfi -i sine=frequency=440:sample_rate=22050 -t 1)

/usr/bin/convert rose: -quality 85 sample.jpg
/usr/bin/convert -size 16x16 gradient:red-blue BMP3:sample.bmp
/usr/bin/convert -size 1024x1024 gradient:red-blue -depth 8 -compress none sample.tif
exiftool -q -overwrite_original -Make="PLACEHOLDERMAKER" sample.tif
/usr/bin/convert -size 64x64 gradient:red-blue -depth 8 -compress none sample_small.tif
sox -n -r 8000 -c 1 -b 16 sample.wav synth 1 sine 440
sox -n -r 44100 -c 1 -b 16 tone44.wav synth 1 sine 440
lame --quiet -b 64 --add-id3v2 --tt Kestrel --ta Carving tone44.wav sample.mp3
rm tone44.wav
ff "${video[@]}" -c:v mjpeg -q:v 8 sample.avi
ff "${video[@]}" -c:v mpeg4 -q:v 8 sample.mp4
ff "${video[@]}" -c:v mpeg4 -q:v 8 -f mov sample.mov
ff -f lavfi -i testsrc=size=128x96:rate=5 -t 1 -c:v mpeg4 -q:v 8 sample.3gp
ff "${tone[@]}" -c:a aac -b:a 32k sample.m4a
ff "${video[@]}" -c:v flv1 -q:v 8 sample.flv
ff "${video[@]}" -c:v mpeg4 -q:v 8 sample.mkv
ff -f lavfi -i testsrc=size=160x120:rate=25 -t 1 -c:v mpeg2video -q:v 4 -f vob sample.mpg
ff "${video[@]}" -c:v rv10 -q:v 8 -f rm sample.rm
ff "${video[@]}" -c:v wmv2 -q:v 8 -f asf sample.wmv

printf 'Kestrel carving sample, first member.\n' > one.txt
printf 'Second member of the sample archive.\n' > two.txt
touch -d @1700000000 one.txt two.txt
zip -q -X sample.zip one.txt two.txt
# Written to a pipe, zip cannot seek back and gives a deflated member a data descriptor.
seq 1 300 > numbers.txt
touch -d @1700000000 numbers.txt
zip -q -X - numbers.txt | cat > sample_streamed.zip
printf 'Kestrel sample document.\nSecond line.\n' > doc.txt
printf 'a,b,c\n1,2,3\n' > sheet.csv
soffice --headless --convert-to docx doc.txt > /dev/null 2>&1
soffice --headless --convert-to doc doc.txt > /dev/null 2>&1
soffice --headless --convert-to xlsx sheet.csv > /dev/null 2>&1
soffice --headless --convert-to xls sheet.csv > /dev/null 2>&1
# Impress imports no plain text: a one-slide flat presentation is its source.
cat > slide.fodp <<'XML'
<?xml version="1.0" encoding="UTF-8"?>
<office:document xmlns:office="urn:oasis:names:tc:opendocument:xmlns:office:1.0" xmlns:draw="urn:oasis:names:tc:opendocument:xmlns:drawing:1.0" xmlns:text="urn:oasis:names:tc:opendocument:xmlns:text:1.0" xmlns:svg="urn:oasis:names:tc:opendocument:xmlns:svg-compatible:1.0" office:version="1.2" office:mimetype="application/vnd.oasis.opendocument.presentation">
<office:body><office:presentation><draw:page draw:name="p1"><draw:frame svg:x="1cm" svg:y="1cm" svg:width="10cm" svg:height="2cm"><draw:text-box><text:p>Kestrel slide</text:p></draw:text-box></draw:frame></draw:page></office:presentation></office:body></office:document>
XML
soffice --headless --convert-to pptx slide.fodp > /dev/null 2>&1
soffice --headless --convert-to ppt slide.fodp > /dev/null 2>&1
# LibreOffice writes its packages with data descriptors and "_rels/.rels"
# first; Office itself writes "[Content_Types].xml" first with sizes in the
# local headers. Repacking with zip (seekable output) gives that layout.
repack() {
    mkdir parts
    (cd parts && unzip -q "../$1" && find . -exec touch -d @1700000000 {} + &&
        rm "../$1" && zip -q -X -D "../$1" '[Content_Types].xml' &&
        zip -q -X -D -r "../$1" . -x '[Content_Types].xml')
    rm -rf parts
}
repack doc.docx; repack sheet.xlsx; repack slide.pptx
mv doc.docx sample.docx; mv doc.doc sample.doc
mv sheet.xlsx sample.xlsx; mv sheet.xls sample.xls
mv slide.pptx sample.pptx; mv slide.ppt sample.ppt
rm -f one.txt two.txt numbers.txt doc.txt sheet.csv slide.fodp

dest=$(cd - > /dev/null && pwd)
: > "$dest/manifest.txt"
for f in sample*; do
    printf '%s %s %s\n' "$f" "$(stat -c %s "$f")" "$(sha256sum "$f" | cut -d' ' -f1)" >> "$dest/manifest.txt"
    gzip -9n -c "$f" > "$dest/$f.gz"
done
