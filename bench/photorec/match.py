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
    start_of = {}  # first sector -> (type, name)
    for line in open(manifest):
        kind, name, off, size, digest = line.rstrip("\n").split("\t")
        by_hash.setdefault(digest, []).append((kind, name))
        originals[kind] += 1
        start_of[int(off) // SECTOR] = (kind, name)

    def note(found, digest, label, renamed, tool_type):
        # Originals with the same bytes are credited one copy at a time.
        same = by_hash.get(digest, [])
        for kind, name in [o for o in same if o[1] not in found[o[0]]] + same[:1]:
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
    k_start = collections.defaultdict(dict)  # type -> name -> statuses seen at its first sector
    k_exact = [0]
    image_size = os.path.getsize(image)
    with open(image, "rb") as img:
        for line in open(finds_path):
            f = line.rstrip("\n").split("\t")
            if len(f) < 5 or not f[2].isdigit():
                continue
            if int(f[0]) < 200:  # file types; structure codes (200 up) are not files
                k_status[int(f[2])] += 1
                at = start_of.get(int(f[3]))
                if at:
                    k_start[at[0]].setdefault(at[1], set()).add(int(f[2]))
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
    p_start = collections.defaultdict(set)
    for root, _dirs, files in os.walk(photorec_dir):
        for fn in files:
            if fn in ("report.xml", "photorec.log") or not fn.startswith(("f", "t", "b")):
                continue
            p_files += 1
            digits = fn[1:].split(".", 1)[0].split("_", 1)[0]
            at = start_of.get(int(digits)) if digits.isdigit() else None
            if at:
                p_start[at[0]].add(at[1])
            ext = fn.rsplit(".", 1)[1] if "." in fn else ""
            note(p_found, sha256_file(os.path.join(root, fn)), p_exact, p_renamed, ext)

    # "exact": originals given back byte for byte; "at start": originals where
    # the tool put a file (any length, any status) at the original's first
    # sector, i.e. the header was recognised.
    print(f"{'':<6} {'':>9} {'exact':>17} {'at start':>17}")
    print(f"{'type':<6} {'originals':>9} {'kestrel':>8} {'photorec':>8} {'kestrel':>8} "
          f"{'photorec':>8}")
    tk = tp = sk = sp = 0
    for kind in sorted(originals):
        k, p = len(k_found[kind]), len(p_found[kind])
        a, b = len(k_start[kind]), len(p_start[kind])
        tk, tp, sk, sp = tk + k, tp + p, sk + a, sp + b
        print(f"{kind:<6} {originals[kind]:>9} {k:>8} {p:>8} {a:>8} {b:>8}")
    total = sum(originals.values())
    print(f"{'total':<6} {total:>9} {tk:>8} {tp:>8} {sk:>8} {sp:>8}")
    print(f"recall: kestrel {100.0 * tk / total:.1f}%, photorec {100.0 * tp / total:.1f}%")
    print(f"kestrel: {k_complete[0]} complete finds (status 4), {k_exact[0]} of them exact copies "
          f"of an original")
    print("kestrel file finds by status: " +
          ", ".join(f"{st}: {c}" for st, c in sorted(k_status.items())))
    print(f"photorec: {p_files} files written, {p_exact[0]} of them exact copies of an original")
    inexact = []
    for kind in sorted(k_start):
        st = collections.Counter()
        for name, statuses in k_start[kind].items():
            if name not in k_found[kind]:
                for x in statuses:
                    st[x] += 1
        if st:
            inexact.append(kind + " " + "/".join(f"st{x}:{c}" for x, c in sorted(st.items())))
    if inexact:
        print("kestrel finds at an original's start that are not exact, by status "
              "(0 undecided, 3 pending, 4 complete, 5 rejected): " + ", ".join(inexact))
    for tool, renamed in (("kestrel", k_renamed), ("photorec", p_renamed)):
        if renamed:
            text = ", ".join(f"{o}->{t} {c}" for (o, t), c in sorted(renamed.items()))
            print(f"{tool} exact copies named as another type: {text}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
