#!/usr/bin/env python3
"""Fills a folder with a tree shaped like a real one, for the listing benchmarks.

    make_listing_tree.py ROOT [FILES] [--keep-deleted LIST]

528 folders up to six levels deep, FILES (default 100,000) files spread unevenly over them (a few big folders,
many small ones), names of varied length with some non-ASCII ones, sizes mostly small (resident on NTFS) and a
fifth of a few KiB. One file in twenty more is created and then deleted, after all the others were written, so
that the volume holds FILES / 20 deleted files whose records are not reused. With --keep-deleted the files to
delete are left in place and their paths (relative to ROOT, NUL-separated) written to LIST, for tools that
delete inside an image (mtools). Deterministic: the same arguments give the same tree.
"""
import os
import random
import sys

LEVELS = [8, 24, 72, 144, 160, 120]  # folders per depth: 528 in all
WORDS = ["Report", "Invoice", "Photo", "Backup", "Notes", "Budget", "Draft", "Scan", "Letter", "Minutes",
         "Contract", "Summary", "Holiday", "Meeting", "Project", "Design", "Schedule", "Archive", "Receipt",
         "Manual", "Übersicht", "Факт", "写真", "Résumé", "Año", "Plan", "Table", "Quote", "Order", "Statement"]
EXTENSIONS = ["txt", "docx", "xlsx", "pdf", "jpg", "png", "csv", "log", "xml", "html", "eml", "zip"]


def main():
    args = sys.argv[1:]
    keep_list = None
    if "--keep-deleted" in args:
        i = args.index("--keep-deleted")
        keep_list = args[i + 1]
        del args[i:i + 2]
    root = args[0]
    files = int(args[1]) if len(args) > 1 else 100000
    rng = random.Random(20)

    folders = [""]
    previous = [""]
    for depth, count in enumerate(LEVELS, 1):
        level = []
        for i in range(count):
            parent = rng.choice(previous)
            name = "%s %s %d" % (rng.choice(WORDS), "folder" if depth % 2 else "files", i)
            level.append(os.path.join(parent, name) if parent else name)
        folders += level
        previous = level
    for folder in folders[1:]:
        os.makedirs(os.path.join(root, folder), exist_ok=True)

    # Uneven folder sizes, none above a few thousand entries.
    weights = [min(rng.paretovariate(1.2), 25.0) for _ in folders]
    deleted_every = 21  # 1 in 21 created files is deleted: FILES/20 of them
    created = files + files // 20
    chosen = rng.choices(range(len(folders)), weights=weights, k=created)
    to_delete = []
    for i in range(created):
        word = rng.choice(WORDS)
        name = "%s %s%06d.%s" % (word, "x" * rng.randrange(0, 24), i, rng.choice(EXTENSIONS))
        path = os.path.join(folders[chosen[i]], name)
        size = rng.randrange(1024, 12288) if rng.random() < 0.2 else rng.randrange(0, 600)
        with open(os.path.join(root, path), "wb") as f:
            f.write(b"x" * size)
        if i % deleted_every == deleted_every - 1:
            to_delete.append(path)
    if keep_list:
        with open(keep_list, "wb") as f:
            f.write(b"\0".join(os.fsencode(p) for p in to_delete))
    else:
        for path in to_delete:
            os.unlink(os.path.join(root, path))


main()
