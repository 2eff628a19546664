#!/usr/bin/env python3
"""Builds a development client release: a client folder, its integrity list, and a release
manifest signed with the development key.

Usage: make-dev-client.py [OUTDIR] [--files N] [--megabytes M] [--seed S] [--version V]

Writes
  OUTDIR/Client/...                               N files (deterministic content) in sub-folders
  OUTDIR/Client/client-integrity.sha256           "<sha256>  <path>\\n" per file, sorted by path
  OUTDIR/release/Vorna380.release.manifest        manifest naming the list's digest
  OUTDIR/release/Vorna380.release.manifest.sig    RSA PKCS #1 v1.5 SHA-256 signature (384 bytes)
and prints the integrity list's digest as the last line of standard output.

Only the Python standard library and the openssl command are used. OUTDIR/Client and
OUTDIR/release are replaced on every run.
"""

import argparse
import hashlib
import math
import os
import random
import shutil
import subprocess
import sys

REPO = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
KEY = os.path.join(REPO, "release", "dev-release-key.pem")
PROFILE = os.path.join(REPO, "release", "dev.profile")

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


def origin_host():
    with open(PROFILE, encoding="utf-8") as profile:
        for line in profile:
            if line.startswith("origin_host="):
                return line.split("=", 1)[1].strip()
    sys.exit("make-dev-client: no origin_host in " + PROFILE)


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
    paths = set()
    paths.add("Tarvo.exe")
    number = 0
    while len(paths) < count:
        folder = rng.choices(FOLDERS, weights=weights)[0][0]
        name = "%s/file%05d%s" % (folder, number, rng.choice(EXTENSIONS))
        number += 1
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


def openssl_sign(manifest, signature):
    subprocess.run(
        ["openssl", "dgst", "-sha256", "-sign", KEY, "-out", signature, manifest],
        check=True,
    )
    if os.path.getsize(signature) != 384:
        sys.exit("make-dev-client: signature is not 384 bytes")


def main():
    parser = argparse.ArgumentParser(description="Development client release")
    parser.add_argument("outdir", nargs="?", default=os.path.join(REPO, "build", "dev-release"),
                        help="output folder (default build/dev-release)")
    parser.add_argument("--files", type=int, default=1200, help="number of client files (default 1200)")
    parser.add_argument("--megabytes", type=float, default=48, help="total size in MiB (default 48)")
    parser.add_argument("--seed", type=int, default=380, help="content seed (default 380)")
    parser.add_argument("--version", default="dev-1.0.0", help="release version text")
    args = parser.parse_args()
    if args.files < 1:
        sys.exit("make-dev-client: --files must be at least 1")

    outdir = os.path.abspath(args.outdir)
    client = os.path.join(outdir, "Client")
    release = os.path.join(outdir, "release")
    for folder in (client, release):
        shutil.rmtree(folder, ignore_errors=True)
        os.makedirs(folder)

    rng = random.Random(args.seed)
    paths = plan_paths(rng, args.files)
    sizes = plan_sizes(rng, len(paths), int(args.megabytes * MIB))

    lines = []
    for relative, size in zip(paths, sizes):
        full = os.path.join(client, *relative.split("/"))
        os.makedirs(os.path.dirname(full), exist_ok=True)
        lines.append("%s  %s\n" % (write_file(full, size, rng), relative))
    listing = "".join(lines).encode("utf-8")
    with open(os.path.join(client, "client-integrity.sha256"), "wb") as out:
        out.write(listing)
    integrity = hashlib.sha256(listing).hexdigest()

    origin = "https://%s/" % origin_host()
    # The package and launcher digests name placeholder texts: no package or launcher build
    # is made here, the fields only have to be well-formed for the manifest to be accepted.
    package_placeholder = hashlib.sha256(b"vorna380 development package placeholder").hexdigest()
    launcher_placeholder = hashlib.sha256(b"vorna380 development launcher placeholder").hexdigest()
    manifest = (
        "VORNA380-RELEASE-V1\n"
        "version=%s\n"
        "package_url=%sdl/Vorna380-client-%s.zip\n"
        "package_size=%d\n"
        "package_sha256=%s\n"
        "integrity_sha256=%s\n"
        "game_executable=Tarvo.exe\n"
        "launcher_url=%sdl/Vorna380-Launcher.exe\n"
        "launcher_sha256=%s\n"
    ) % (
        args.version,
        origin,
        args.version,
        max(100000000, sum(sizes)),  # nominal until a real package is built
        package_placeholder,
        integrity,
        origin,
        launcher_placeholder,
    )
    manifest_path = os.path.join(release, "Vorna380.release.manifest")
    with open(manifest_path, "wb") as out:
        out.write(manifest.encode("utf-8"))
    openssl_sign(manifest_path, manifest_path + ".sig")

    print("client: %s (%d files, %d bytes)" % (client, len(paths), sum(sizes)))
    print("manifest: %s" % manifest_path)
    print(integrity)


if __name__ == "__main__":
    main()
