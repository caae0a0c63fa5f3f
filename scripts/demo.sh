#!/usr/bin/env bash
# Installs what is missing, builds Kestrel and runs it on the bundled demo
# disk image (an MBR disk with a FAT32 and an NTFS partition holding deleted
# files).
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
bash "$root/scripts/install_deps.sh"

build="$root/build"
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" -j "$(nproc)" --target kestrel-cli

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
