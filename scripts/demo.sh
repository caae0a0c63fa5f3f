#!/usr/bin/env bash
# Installs what is missing, builds Kestrel and runs it on the bundled demo
# disk image (an MBR disk with a FAT32 and an NTFS partition holding deleted
# files).
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
bash "$root/scripts/install_deps.sh"

build="$root/build"
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" -j "$(nproc)" --target kestrel-cli | grep -v "^\[" || true

# The persistent values live in a small file of our own; the program opens it
# and never creates it, so set-up does, as an installer would.
bash "$root/scripts/create_registry.sh"

demo="$root/out/demo.img"
mkdir -p "$root/out"
if [ ! -s "$demo" ]; then
    gzip -dc "$root/tests/data/demo/demo.img.gz" > "$demo"
fi
cli="$build/cli/kestrel-cli"
echo "== kestrel-cli partitions out/demo.img"
"$cli" partitions "$demo"

# List the deleted files of every partition with a known file system and copy
# each one out through the engine's export path.
recovered="$root/out/demo-recovered"
rm -rf "$recovered"
for part in $("$cli" partitions "$demo" | awk -F'\t' '$5 != 0 {print $1}'); do
    echo
    echo "== kestrel-cli ls out/demo.img --part $part --deleted"
    "$cli" ls "$demo" --part "$part" --deleted
    "$cli" ls "$demo" --part "$part" --deleted | awk -F'\t' '$1 == "deleted-file" {print $4}' |
    while IFS= read -r path; do
        # Names come from the disk: never let one climb out of the folder.
        case "/$path/" in */../*|*/./*) echo "  skipped unsafe name: $path"; continue ;; esac
        mkdir -p "$recovered/$part/$(dirname "$path")"
        "$cli" cat "$demo" --part "$part" "$path" > "$recovered/$part/$path"
    done
done
echo
echo "== deleted files copied to out/demo-recovered/, checked against the demo's manifest:"
ok=0; bad=0
while IFS=$'\t' read -r part state size mtime path sha; do
    [ "$state" = "deleted-file" ] && [ "$sha" != "-" ] || continue
    got=$(sha256sum "$recovered/$part/$path" 2>/dev/null | cut -d' ' -f1)
    if [ "$got" = "$sha" ]; then ok=$((ok + 1)); echo "  ok      $part/$path"
    else bad=$((bad + 1)); echo "  MISSING $part/$path"; fi
done < <(tail -n +2 "$root/tests/data/demo/manifest.tsv")
echo "$ok recovered intact, $bad missing"

echo
echo "== kestrel-cli scan out/demo.img  (deep scan of the whole disk)"
"$cli" scan "$demo"
