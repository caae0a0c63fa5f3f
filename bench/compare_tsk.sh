#!/bin/bash
# Compares the deleted files Kestrel lists with The Sleuth Kit's on every
# reader fixture: `fls -r -d -p` against `kestrel-cli ls --deleted`. Prints
# both deleted-file counts per fixture, every deleted file fls names that
# Kestrel does not list (there must be none), and the wall time of both tools
# on the largest fixture.
#
# usage: bench/compare_tsk.sh [KESTREL_CLI]   (default: build/cli/kestrel-cli)
#
# Matching: same path, or for a FAT short name whose first character the
# deletion destroyed (fls shows "_", Kestrel its own stand-in) the same path
# apart from that character. fls entries below $OrphanFiles match a deleted
# file of the same name anywhere (Kestrel files orphans under its lost-files
# folder); NTFS alternate data streams ("name:stream") are not files of
# their own and are left out, and so are the names fls invents for MFT
# records without any name ("$OrphanFiles/OrphanFile-16": the reserved,
# never used records 16..23 of every volume); those are counted as "unnamed".
set -euo pipefail
export TZ=UTC LC_ALL=C.UTF-8

root=$(cd "$(dirname "$0")/.." && pwd)
cli=${1:-${KESTREL_CLI:-$root/build/cli/kestrel-cli}}
command -v fls >/dev/null || { echo "fls (sleuthkit) is not installed" >&2; exit 2; }
[ -x "$cli" ] || { echo "no kestrel-cli at $cli" >&2; exit 2; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

now() { date +%s.%N; }
# Best of n runs of a command, in seconds.
best_time() {
    local n=$1 best="" t0 t1 d
    shift
    for _ in $(seq "$n"); do
        t0=$(now)
        "$@" >/dev/null 2>&1 || true
        t1=$(now)
        d=$(echo "$t1 - $t0" | bc -l)
        if [ -z "$best" ] || [ "$(echo "$d < $best" | bc -l)" = 1 ]; then best=$d; fi
    done
    printf '%.3f' "$best"
}

largest="" largest_size=0 total_missing=0
printf '%-8s %-10s %6s %8s %8s %8s\n' fixture image fls unnamed kestrel missing
for gz in "$root"/tests/data/{ntfs,fat16,fat32,exfat}/*.img.gz; do
    [ -f "$gz" ] || continue
    name=$(basename "$gz" .img.gz)
    img=$work/$name.img
    gzip -dc "$gz" >"$img" 2>/dev/null || { echo "$name: cannot decompress" >&2; continue; }
    size=$(stat -c %s "$img")
    if [ "$size" -gt "$largest_size" ]; then largest=$img largest_size=$size; fi

    # fls: "r/r * 123:<TAB>path" (or "-/r", "(realloc)"); files only.
    fls -r -d -p "$img" 2>/dev/null |
        awk -F'\t' '$1 ~ /^[-r]\/[-r] \*/ { print $2 }' |
        grep -v ':' >"$work/$name.fls.all" || true
    grep -vE '^\$OrphanFiles/OrphanFile-[0-9]+$' "$work/$name.fls.all" >"$work/$name.fls" || true
    unnamed=$(($(wc -l <"$work/$name.fls.all") - $(wc -l <"$work/$name.fls")))
    note=""
    if ! "$cli" ls "$img" --part 0 --deleted >"$work/$name.ls" 2>/dev/null; then
        note="  (kestrel-cli ls failed)"
    fi
    awk -F'\t' '$1 == "deleted-file" { print $4 }' "$work/$name.ls" >"$work/$name.kestrel"

    missing=$work/$name.missing
    : >"$missing"
    while IFS= read -r path; do
        [ -n "$path" ] || continue
        if grep -qxF -- "$path" "$work/$name.kestrel"; then continue; fi
        base=${path##*/}
        dir=${path%"$base"}
        if [[ $path == '$OrphanFiles/'* ]]; then
            if awk -F/ -v b="$base" '$NF == b { f = 1 } END { exit !f }' "$work/$name.kestrel"; then
                continue
            fi
        elif [[ $base == _* ]]; then
            if awk -v d="$dir" -v r="${base:1}" '
                index($0, d) == 1 && substr($0, length(d) + 2) == r && length($0) == length(d) + 1 + length(r) { f = 1 }
                END { exit !f }' "$work/$name.kestrel"; then
                continue
            fi
        fi
        echo "$path" >>"$missing"
    done <"$work/$name.fls"

    nf=$(wc -l <"$work/$name.fls")
    nk=$(wc -l <"$work/$name.kestrel")
    nm=$(wc -l <"$missing")
    total_missing=$((total_missing + nm))
    printf '%-8s %-10s %6d %8d %8d %8d%s\n' "$(basename "$(dirname "$gz")")" "$name" "$nf" \
        "$unnamed" "$nk" "$nm" "$note"
    while IFS= read -r m; do printf '    missed by kestrel: %s\n' "$m"; done <"$missing"
done

if [ -n "$largest" ]; then
    echo
    echo "wall time on the largest fixture, $(basename "$largest") ($((largest_size / 1024)) KiB), best of 5:"
    echo "  fls -r -d -p:              $(best_time 5 fls -r -d -p "$largest") s"
    echo "  kestrel-cli ls --deleted:  $(best_time 5 "$cli" ls "$largest" --part 0 --deleted) s"
fi
echo
echo "deleted files fls names that kestrel misses: $total_missing"
[ "$total_missing" -eq 0 ]
