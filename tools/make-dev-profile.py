#!/usr/bin/env python3
"""Regenerates release/dev.profile from the development keys and release/dev-contents.txt.

The profile trusts dev-release-key.pem and, as its next key, dev-release-key-next.pem, so that
the tests can check a release signed by a rotated key. Every pinned digest of the development
profile is the SHA-256 of a short text kept in dev-contents.txt, so tests can write files that
carry exactly those digests (and, for the individually published files, those sizes).
"""
import hashlib
import pathlib
import re
import subprocess
import sys

LABELS = (["H0", "H1", "H2", "H3", "P0", "P1", "G1", "G2", "G3", "J1", "J2", "J3", "K1", "K2", "L1"]
          + [f"C{i}" for i in range(1, 11)] + [f"T{i}" for i in range(1, 10)]
          + [f"M{i}" for i in range(1, 6)] + [f"D{i}" for i in range(1, 5)] + ["S1"]
          + [f"U{i}" for i in range(1, 6)] + [f"V{i}" for i in range(1, 6)])
PINS = ["pin_updater", "pin_launcher_ui", "pin_skills", "pin_common_meta"]
# The individually published files: their size in bytes goes beside their digest.
SIZED = PINS + ["C10", "T9", "M5"]


def public_half(key: pathlib.Path) -> tuple:
    """The key's modulus (lower-case hex) and public exponent, as openssl reads them."""
    out = subprocess.run(["openssl", "rsa", "-in", str(key), "-noout", "-text"],
                         check=True, capture_output=True, text=True).stdout
    modulus = subprocess.run(["openssl", "rsa", "-in", str(key), "-noout", "-modulus"],
                             check=True, capture_output=True, text=True).stdout
    exponent = int(re.search(r"publicExponent: (\d+)", out).group(1))
    return modulus.strip().split("=", 1)[1].lower(), exponent


def main() -> int:
    release = pathlib.Path(__file__).resolve().parent.parent / "release"
    contents = release / "dev-contents.txt"
    if not contents.exists():
        contents.write_text("".join(f"{k}=vorna380 development content {k}\n" for k in PINS + LABELS))
    texts = {}
    for line in contents.read_text().splitlines():
        if line and not line.startswith("#"):
            name, _, text = line.partition("=")
            texts[name] = text
    modulus, exponent = public_half(release / "dev-release-key.pem")
    next_modulus, next_exponent = public_half(release / "dev-release-key-next.pem")
    lines = [
        "# Development release profile. The matching private keys, release/dev-release-key.pem and",
        "# its next key release/dev-release-key-next.pem, are for development and tests only; a real",
        "# release uses a profile of its own. Regenerate with tools/make-dev-profile.py.",
        "origin_host=localhost:8443",
        f"release_key_modulus={modulus}",
        f"release_key_exponent={exponent:06x}",
        f"release_key_next_modulus={next_modulus}",
        f"release_key_next_exponent={next_exponent:06x}",
        "release_expiry_required=1",
    ]
    for name in PINS + LABELS:
        lines.append(f"{name}={hashlib.sha256(texts[name].encode()).hexdigest()}")
        if name in SIZED:
            lines.append(f"{name}_size={len(texts[name].encode())}")
    (release / "dev.profile").write_text("\n".join(lines) + "\n")
    return 0


if __name__ == "__main__":
    sys.exit(main())
