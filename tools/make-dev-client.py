#!/usr/bin/env python3
"""Builds a development client: a client folder and its integrity list. tools/publish-release.py
turns it into a release the server can serve.

Usage: make-dev-client.py [OUTDIR] [--files N] [--megabytes M] [--seed S]

Writes
  OUTDIR/Client/...                               N files (deterministic content) in sub-folders
  OUTDIR/Client/client-integrity.sha256           "<sha256>  <path>\\n" per file, sorted by path
and prints the integrity list's digest as the last line of standard output.

The client holds "Tarvo.exe" and, at their places in the client, the individually published
files with the development contents that the development profile pins (release/dev-contents.txt),
so that a light update of them succeeds on it. Only the Python standard library is used.
OUTDIR/Client is replaced on every run.
"""

import argparse
import hashlib
import math
import os
import random
import shutil
import sys

REPO = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
CONTENTS = os.path.join(REPO, "release", "dev-contents.txt")

MIB = 1024 * 1024
CHUNK = 4 * MIB            # the launcher's hashing chunk; files around it are included
LARGEST = 6 * MIB          # no generated file is larger
WRITE_BLOCK = 1 * MIB

# Sub-folders of the client and how many of the files go into each (relative weights).
FOLDERS = [
    ("data/common", 3),
    ("data/i18n", 2),
    ("data/maps", 5),
    ("content/gfx", 6),
    ("content/sfx", 3),
    ("ui/Orlune_Common", 1),
    ("ui/Orlune_Taxi/xml", 1),
    ("META-INF/AIR", 1),
]
EXTENSIONS = [".d2p", ".k5o", ".swf", ".xml", ".png", ".ogg", ".bin"]

# Client files that the release also publishes one by one, and the development content label
# whose digest the profile pins for each.
PINNED = [
    ("Moorbridge.exe", "pin_updater"),
    ("Moorbridge_d.exe", "pin_updater"),
    ("Vorna380.LauncherUi.dll", "pin_launcher_ui"),
    ("data/common/Skills.k5o", "pin_skills"),
    ("data/common/data.meta", "pin_common_meta"),
    ("ui/Orlune_Common/Common.swf", "C10"),
    ("ui/Orlune_Taxi/Taxi.swf", "T9"),
    ("ui/Orlune_ContextMenu/ContextMenu.swf", "M5"),
]


def dev_contents():
    texts = {}
    with open(CONTENTS, encoding="utf-8") as contents:
        for line in contents.read().splitlines():
            if line and not line.startswith("#"):
                name, _, text = line.partition("=")
                texts[name] = text.encode("utf-8")
    return texts


def plan_sizes(rng, count, total_bytes):
    """Sizes from 0 bytes to a few MiB summing to about total_bytes; a few fixed edge sizes."""
    fixed = [0, 1, CHUNK - 1, CHUNK, CHUNK + 1]
    fixed = [size for size in fixed if size <= total_bytes][: max(0, count - 1)]
    free = count - len(fixed)
    budget = max(0, total_bytes - sum(fixed))
    # Log-uniform raw sizes (many small files, some large), then scaled to the budget.
    raw = [math.exp(rng.uniform(math.log(16), math.log(LARGEST))) for _ in range(free)]
    scale = budget / sum(raw) if raw and sum(raw) > 0 else 0.0
    sizes = [min(LARGEST, int(size * scale)) for size in raw]
    # Whatever the cap cut off goes to the smaller files, a step at a time.
    missing = budget - sum(sizes)
    order = sorted(range(free), key=lambda i: sizes[i])
    while missing > 0 and order:
        progressed = False
        for i in order:
            room = LARGEST - sizes[i]
            if room <= 0:
                continue
            step = min(room, missing, max(1, budget // max(1, free)))
            sizes[i] += step
            missing -= step
            progressed = True
            if missing <= 0:
                break
        if not progressed:
            break
    sizes.extend(fixed)
    rng.shuffle(sizes)
    return sizes


def plan_paths(rng, count):
    weights = [weight for _, weight in FOLDERS]
    taken = {path for path, _ in PINNED}
    paths = set()
    paths.add("Tarvo.exe")
    number = 0
    while len(paths) < count:
        folder = rng.choices(FOLDERS, weights=weights)[0][0]
        name = "%s/file%05d%s" % (folder, number, rng.choice(EXTENSIONS))
        number += 1
        if name not in taken:
            paths.add(name)
    return sorted(paths)


def write_file(path, size, rng):
    digest = hashlib.sha256()
    with open(path, "wb") as out:
        left = size
        while left > 0:
            block = rng.randbytes(min(WRITE_BLOCK, left))
            out.write(block)
            digest.update(block)
            left -= len(block)
    return digest.hexdigest()


def main():
    parser = argparse.ArgumentParser(description="Development client")
    parser.add_argument("outdir", nargs="?", default=os.path.join(REPO, "build", "dev-release"),
                        help="output folder (default build/dev-release)")
    parser.add_argument("--files", type=int, default=1200, help="number of client files (default 1200)")
    parser.add_argument("--megabytes", type=float, default=48, help="total size in MiB (default 48)")
    parser.add_argument("--seed", type=int, default=380, help="content seed (default 380)")
    args = parser.parse_args()
    if args.files < len(PINNED) + 1:
        sys.exit("make-dev-client: --files must be at least %d" % (len(PINNED) + 1))

    client = os.path.join(os.path.abspath(args.outdir), "Client")
    shutil.rmtree(client, ignore_errors=True)
    os.makedirs(client)

    rng = random.Random(args.seed)
    paths = plan_paths(rng, args.files - len(PINNED))
    sizes = plan_sizes(rng, len(paths), int(args.megabytes * MIB))
    texts = dev_contents()

    entries = {}
    for relative, size in zip(paths, sizes):
        full = os.path.join(client, *relative.split("/"))
        os.makedirs(os.path.dirname(full), exist_ok=True)
        entries[relative] = write_file(full, size, rng)
    for relative, label in PINNED:
        full = os.path.join(client, *relative.split("/"))
        os.makedirs(os.path.dirname(full), exist_ok=True)
        with open(full, "wb") as out:
            out.write(texts[label])
        entries[relative] = hashlib.sha256(texts[label]).hexdigest()

    listing = "".join("%s  %s\n" % (entries[path], path) for path in sorted(entries)).encode("utf-8")
    with open(os.path.join(client, "client-integrity.sha256"), "wb") as out:
        out.write(listing)

    total = sum(sizes) + sum(len(texts[label]) for _, label in PINNED)
    print("client: %s (%d files, %d bytes)" % (client, len(entries), total))
    print(hashlib.sha256(listing).hexdigest())


if __name__ == "__main__":
    main()
