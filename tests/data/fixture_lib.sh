# Shared by the fixture scripts that fill a mounted volume and write its
# manifest. The caller sets $mnt (the mount point) and $manifest (the file the
# lines go to).

# Text that names its file and line, cut to the size: misplaced data shows at
# once, and it compresses.
content() {  # tag bytes
    python3 -c 'import sys; t, n = sys.argv[1], int(sys.argv[2]); s = "".join("%s line %05d\n" % (t, i) for i in range(n // 8 + 1)); sys.stdout.write(s[:n])' "$1" "$2"
}

# One manifest line from the file as it is now: state, size, modified UTC,
# path, sha256 (or "-" for directories and with nohash).
record() {  # state path [nohash]
    local p="$mnt/$2" size hash t
    t="$(date -u -d "@$(stat -c %Y "$p")" '+%Y-%m-%d %H:%M:%S')"
    if [ -d "$p" ]; then
        size=0; hash=-
    else
        size="$(stat -c %s "$p")"
        hash="$(sha256sum < "$p" | cut -d' ' -f1)"
        [ "${3:-}" = nohash ] && hash=-
    fi
    printf '%s\t%s\t%s\t%s\t%s\n' "$1" "$size" "$t" "$2" "$hash" >> "$manifest"
}
