#!/bin/bash
# Makes real files of the carvable types with the real tools that write them
# (ImageMagick, LibreOffice, ffmpeg, sox, lame, zip, 7z) into OUTDIR, N files
# per type with varied sizes and options, named "<type>_<nnn>.<ext>". The
# same N and SEED make the same set of sizes and settings (encoders may still
# stamp times into some formats, so hashes are taken from what was made).
#
# usage: bench/photorec/make_files.sh OUTDIR [N] [SEED]
set -euo pipefail
export LC_ALL=C.UTF-8 TZ=UTC

out=${1:?usage: make_files.sh OUTDIR [N] [SEED]}
n=${2:-12}
seed=${3:-1}
for tool in convert soffice ffmpeg sox lame zip 7z; do
    command -v "$tool" >/dev/null || { echo "make_files.sh: $tool is not installed" >&2; exit 2; }
done
mkdir -p "$out"
out=$(cd "$out" && pwd)
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

# Deterministic pseudo-random numbers: r KEY MOD -> 0..MOD-1.
r() { echo $(( ($(printf '%s-%s' "$seed" "$1" | cksum | cut -d' ' -f1)) % $2 )); }
name() { printf '%s/%s_%03d.%s' "$out" "$1" "$2" "$3"; }

words=(kestrel recovery sector cluster volume record index journal bitmap signature carve
       header footer offset length partition table image stream block chain entry)
text_lines() {  # text_lines KEY LINES: lines of words, different for every KEY
    local k lines=$2 i line j
    k=$(r "$1" 1000003)
    for ((i = 0; i < lines; i++)); do
        line="$k.$i"
        for ((j = 0; j < 12; j++)); do
            line+=" ${words[$(( (k + i * 7 + j * 13 + j * i) % ${#words[@]} ))]}"
        done
        echo "$line"
    done
}

ffq() { ffmpeg -hide_banner -loglevel error -nostdin -y "$@"; }

for ((i = 0; i < n; i++)); do
    # Pictures: one fractal per index, sizes from thumbnails to camera-ish frames.
    w=$((160 + $(r "w$i" 1400))) h=$((120 + $(r "h$i" 1000)))
    convert -seed $((seed * 1000 + i)) -size "${w}x${h}" plasma:fractal "$tmp/p.ppm"
    convert "$tmp/p.ppm" -quality $((55 + $(r "q$i" 40))) "$(name jpg "$i" jpg)"
    convert "$tmp/p.ppm" -resize 60% "$(name png "$i" png)"
    convert "$tmp/p.ppm" -resize 40% -colors $((16 + $(r "c$i" 240))) "$(name gif "$i" gif)"
    convert "$tmp/p.ppm" -resize 50% "$(name bmp "$i" bmp)"
    if ((i % 2)); then tc=lzw; else tc=none; fi
    convert "$tmp/p.ppm" -resize 50% -compress "$tc" "$(name tif "$i" tif)"

    # Sound: a few seconds of tones.
    d=$((1 + $(r "d$i" 8))) f=$((200 + $(r "f$i" 1800)))
    if ((i % 3 == 0)); then rate=22050; else rate=44100; fi
    sox -n -r "$rate" -c 2 -b 16 "$(name wav "$i" wav)" synth "$d" sine "$f" sine $((f * 3 / 2)) \
        tremolo 5 40
    if ((i % 2)); then
        lame --quiet -b $((64 + 32 * (i % 4))) --tt "tone $i" --ta Kestrel --add-id3v2 \
            "$(name wav "$i" wav)" "$(name mp3 "$i" mp3)"
    else
        lame --quiet -V $((i % 9)) "$(name wav "$i" wav)" "$(name mp3 "$i" mp3)"
    fi

    # Video: test pattern plus a tone, 1..6 s.
    vd=$((1 + $(r "v$i" 6)))
    src=(-f lavfi -i "testsrc2=duration=$vd:size=320x240:rate=25" -f lavfi
         -i "sine=frequency=$f:duration=$vd:sample_rate=44100")
    ffq "${src[@]}" -c:v mpeg4 -q:v $((2 + i % 8)) -c:a libmp3lame -b:a 128k "$(name avi "$i" avi)"
    if ((i % 2)); then fs=(-movflags +faststart); else fs=(); fi
    ffq "${src[@]}" -c:v libx264 -preset veryfast -crf $((20 + i % 10)) -c:a aac -b:a 96k "${fs[@]}" \
        "$(name mp4 "$i" mp4)"
    ffq "${src[@]}" -c:v libx264 -preset veryfast -crf $((22 + i % 8)) -c:a aac -b:a 96k -f mov \
        "${fs[@]}" "$(name mov "$i" mov)"
    ffq "${src[@]}" -c:v libx264 -preset veryfast -crf $((24 + i % 6)) -c:a libvorbis \
        "$(name mkv "$i" mkv)"
    ffq "${src[@]}" -c:v flv -q:v $((2 + i % 6)) -c:a libmp3lame -ar 44100 -b:a 96k \
        "$(name flv "$i" flv)"
    ffq "${src[@]}" -c:v wmv2 -q:v $((2 + i % 6)) -c:a wmav2 -b:a 96k -f asf "$(name wmv "$i" wmv)"
    if ((i % 2)); then pf=vob; else pf=mpeg; fi
    ffq "${src[@]}" -c:v mpeg2video -q:v $((2 + i % 6)) -c:a mp2 -b:a 192k -f "$pf" \
        "$(name mpg "$i" mpg)"

    # Office sources: text for Writer, CSV for Calc, flat ODP for Impress.
    lines=$((20 + $(r "l$i" 900)))
    text_lines "t$i" "$lines" >"$tmp/doc_$i.txt"
    rows=$((10 + $(r "rows$i" 2000)))
    awk -v n="$rows" -v s="$i" 'BEGIN { for (k = 1; k <= n; k++)
        printf "%d,%s,%.3f,%d\n", k, "item" (k * 31 + s) % 977, (k * 7919 + s) % 10007 / 7.0, k * s }' \
        >"$tmp/sheet_$i.csv"
    slides=$((1 + $(r "s$i" 25)))
    {
        echo '<?xml version="1.0" encoding="UTF-8"?>'
        echo '<office:document xmlns:office="urn:oasis:names:tc:opendocument:xmlns:office:1.0"' \
            'xmlns:draw="urn:oasis:names:tc:opendocument:xmlns:drawing:1.0"' \
            'xmlns:text="urn:oasis:names:tc:opendocument:xmlns:text:1.0"' \
            'xmlns:svg="urn:oasis:names:tc:opendocument:xmlns:svg-compatible:1.0"' \
            'office:version="1.2" office:mimetype="application/vnd.oasis.opendocument.presentation">'
        echo '<office:body><office:presentation>'
        for ((k = 1; k <= slides; k++)); do
            echo "<draw:page draw:name=\"s$k\"><draw:frame svg:x=\"2cm\" svg:y=\"2cm\" svg:width=\"22cm\"" \
                "svg:height=\"14cm\"><draw:text-box>"
            text_lines "s$i$k" 8 | sed 's/.*/<text:p>&<\/text:p>/'
            echo '</draw:text-box></draw:frame></draw:page>'
        done
        echo '</office:presentation></office:body></office:document>'
    } >"$tmp/slides_$i.fodp"

    # Archives of text and a sound, so their contents are none of the originals.
    mkdir -p "$tmp/arc_$i"
    text_lines "a$i" $((50 + $(r "al$i" 3000))) >"$tmp/arc_$i/notes.txt"
    head -c $((1000 + $(r "ab$i" 400000))) /dev/urandom >"$tmp/arc_$i/blob.bin"
    cp "$tmp/doc_$i.txt" "$tmp/arc_$i/doc.txt"
    (cd "$tmp/arc_$i" && zip -q -X -$((1 + i % 9)) "$(name zip "$i" zip)" notes.txt blob.bin doc.txt)
    (cd "$tmp/arc_$i" && 7z a -bd -mx=$((1 + i % 9)) "$(name 7z "$i" 7z)" notes.txt blob.bin doc.txt \
        >/dev/null)
done

# LibreOffice converts a whole batch per call; a private profile keeps it off
# any other instance's.
lo() {
    local fmt=$1
    shift
    soffice -env:UserInstallation="file://$tmp/lo-profile" --headless --norestore \
        --convert-to "$fmt" --outdir "$tmp/lo" "$@" >/dev/null 2>&1
}
mkdir -p "$tmp/lo"
lo docx "$tmp"/doc_*.txt
lo doc "$tmp"/doc_*.txt
lo pdf "$tmp"/doc_*.txt
lo xlsx "$tmp"/sheet_*.csv
lo xls "$tmp"/sheet_*.csv
lo pptx "$tmp"/slides_*.fodp
lo ppt "$tmp"/slides_*.fodp
for ((i = 0; i < n; i++)); do
    for ext in docx doc pdf; do mv "$tmp/lo/doc_$i.$ext" "$(name "$ext" "$i" "$ext")"; done
    for ext in xlsx xls; do mv "$tmp/lo/sheet_$i.$ext" "$(name "$ext" "$i" "$ext")"; done
    for ext in pptx ppt; do mv "$tmp/lo/slides_$i.$ext" "$(name "$ext" "$i" "$ext")"; done
done
