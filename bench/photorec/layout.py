#!/usr/bin/env python3
"""Lays the files of a directory end to end into a raw disk image.

usage: layout.py FILES_DIR IMAGE MANIFEST [SEED]

Each file starts on a 512-byte sector boundary and is stored in one piece;
the slack up to the next sector and a 1 MiB lead-in and tail are zero, as on
a freshly zeroed disk. The order is a fixed shuffle, so files of different
types sit next to each other. MANIFEST gets one tab-separated line per file:
type, name, byte offset, size, sha256 ("type" is the name's part before "_").
"""
import hashlib
import os
import random
import sys

SECTOR = 512
LEAD = 1 << 20


def main() -> int:
    if len(sys.argv) not in (4, 5):
        print(__doc__.strip().splitlines()[2], file=sys.stderr)
        return 2
    files_dir, image, manifest = sys.argv[1:4]
    seed = int(sys.argv[4]) if len(sys.argv) == 5 else 1
    names = sorted(n for n in os.listdir(files_dir) if os.path.isfile(os.path.join(files_dir, n)))
    random.Random(seed).shuffle(names)
    with open(image, "wb") as img, open(manifest, "w") as man:
        img.write(bytes(LEAD))
        for name in names:
            with open(os.path.join(files_dir, name), "rb") as f:
                data = f.read()
            off = img.tell()
            img.write(data)
            img.write(bytes(-len(data) % SECTOR))
            kind = name.split("_", 1)[0]
            man.write(f"{kind}\t{name}\t{off}\t{len(data)}\t{hashlib.sha256(data).hexdigest()}\n")
        img.write(bytes(LEAD))
    return 0


if __name__ == "__main__":
    sys.exit(main())
