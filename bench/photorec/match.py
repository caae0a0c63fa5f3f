#!/usr/bin/env python3
"""Counts the originals each carver gave back byte for byte.

usage: match.py MANIFEST IMAGE KESTREL_FINDS PHOTOREC_DIR

MANIFEST is layout.py's (type, name, offset, size, sha256). KESTREL_FINDS is
`kestrel-cli scan IMAGE --finds` output: type id, type name, status, LBA,
length; only complete finds (status 4) count, their bytes are LBA * 512 and
length long. PHOTOREC_DIR holds PhotoRec's recup directories. An original
counts as recovered by a tool when one of the tool's files has its sha256;
a type is the original's, whatever name the tool gave its copy.
"""
import collections
import hashlib
import os
import sys

SECTOR = 512
COMPLETE = 4


def sha256_range(img, off, size):
    h = hashlib.sha256()
    img.seek(off)
    left = size
    while left:
        chunk = img.read(min(left, 1 << 20))
        if not chunk:
            return None
        h.update(chunk)
        left -= len(chunk)
    return h.hexdigest()


def sha256_file(path):
    h = hashlib.sha256()
    with open(path, "rb") as f:
        for chunk in iter(lambda: f.read(1 << 20), b""):
            h.update(chunk)
    return h.hexdigest()


def main() -> int:
    if len(sys.argv) != 5:
        print(__doc__.strip().splitlines()[2], file=sys.stderr)
        return 2
    manifest, image, finds_path, photorec_dir = sys.argv[1:]
    by_hash = {}
    originals = collections.Counter()
    for line in open(manifest):
        kind, name, _off, size, digest = line.rstrip("\n").split("\t")
        by_hash.setdefault(digest, []).append((kind, name))
        originals[kind] += 1

    def note(found, digest, label, renamed, tool_type):
        for kind, name in by_hash.get(digest, []):
            found[kind].add(name)
            if tool_type and tool_type != kind:
                renamed[(kind, tool_type)] += 1
            label[0] += 1
            return

    # Kestrel: complete finds hashed straight from the image.
    k_found = collections.defaultdict(set)
    k_renamed = collections.Counter()
    k_complete = [0]
    k_status = collections.Counter()
    k_exact = [0]
    image_size = os.path.getsize(image)
    with open(image, "rb") as img:
        for line in open(finds_path):
            f = line.rstrip("\n").split("\t")
            if len(f) < 5 or not f[2].isdigit():
                continue
            if int(f[0]) < 200:  # file types; structure codes (200 up) are not files
                k_status[int(f[2])] += 1
            if int(f[2]) != COMPLETE:
                continue
            off, size = int(f[3]) * SECTOR, int(f[4])
            k_complete[0] += 1
            if size == 0 or off > image_size or size > image_size - off:
                continue
            digest = sha256_range(img, off, size)
            if digest:
                note(k_found, digest, k_exact, k_renamed, f[1])

    # PhotoRec: every file it wrote.
    p_found = collections.defaultdict(set)
    p_renamed = collections.Counter()
    p_files = 0
    p_exact = [0]
    for root, _dirs, files in os.walk(photorec_dir):
        for fn in files:
            if fn in ("report.xml", "photorec.log") or not fn.startswith(("f", "t", "b")):
                continue
            p_files += 1
            ext = fn.rsplit(".", 1)[1] if "." in fn else ""
            note(p_found, sha256_file(os.path.join(root, fn)), p_exact, p_renamed, ext)

    print(f"{'type':<6} {'originals':>9} {'kestrel':>8} {'photorec':>9}")
    tk = tp = 0
    for kind in sorted(originals):
        k, p = len(k_found[kind]), len(p_found[kind])
        tk, tp = tk + k, tp + p
        print(f"{kind:<6} {originals[kind]:>9} {k:>8} {p:>9}")
    total = sum(originals.values())
    print(f"{'total':<6} {total:>9} {tk:>8} {tp:>9}")
    print(f"recall: kestrel {100.0 * tk / total:.1f}%, photorec {100.0 * tp / total:.1f}%")
    print(f"kestrel: {k_complete[0]} complete finds (status 4), {k_exact[0]} of them exact copies "
          f"of an original")
    print("kestrel file finds by status: " +
          ", ".join(f"{st}: {c}" for st, c in sorted(k_status.items())))
    print(f"photorec: {p_files} files written, {p_exact[0]} of them exact copies of an original")
    for tool, renamed in (("kestrel", k_renamed), ("photorec", p_renamed)):
        if renamed:
            text = ", ".join(f"{o}->{t} {c}" for (o, t), c in sorted(renamed.items()))
            print(f"{tool} exact copies named as another type: {text}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
