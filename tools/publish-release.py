#!/usr/bin/env python3
"""Publishes a client release: turns a client folder and the release key into the tree that the
release server serves.

  publish-release.py publish CLIENT TREE [--key PEM] [--profile FILE] [--version V]
                     [--launcher FILE] [--linux-launcher FILE] [--package-path PATH]
                     [--min-package-bytes N]
                     [--compress-level 0-9] [--sequence N] [--previous MANIFEST]
                     [--expires-in DAYS]
  publish-release.py variant GOOD_TREE TREE --break KIND [--break KIND ...] [--key PEM]
  publish-release.py profile [--profile FILE] [--next-key PEM] [--promote]

publish checks the client and writes, under TREE (kept: the packages of earlier releases stay,
each file is written beside its place and renamed over it, the package first and the manifest
and its signature last; see docs/releases.md for the cache headers each kind of file needs):
  dl/Vorna380.release.manifest       the eight keys, URLs on the profile's origin, the
                                     release number "sequence" when one is given: N, or the
                                     previous manifest's sequence plus one, and "expires",
                                     DAYS (default 90) from now, in UTC
  dl/Vorna380.release.manifest.sig   RSASSA-PKCS1-v1_5 SHA-256 signature, 384 bytes
  PACKAGE_PATH                       the client as a zip archive of at least 100,000,000 bytes
                                     with "client-integrity.sha256" and "Tarvo.exe" at its root,
                                     named by its content (default
                                     dl/Vorna380-client-SHA256.zip, its SHA-256 in hexadecimal)
  dl/client-integrity.sha256         the client's integrity list
  dl/Moorbridge.exe, dl/Moorbridge_d.exe, dl/Vorna380.LauncherUi.dll and dl/client-delta/*
                                     the individually published client files
  dl/Vorna380-Launcher.exe           the launcher build given with --launcher (without one, a
                                     short text stands in for it, which a launcher that
                                     downloads it refuses to start and never tries again)
  dl/vorna380-launcher               with --linux-launcher, the Linux port's launcher, named by
                                     the optional keys launcher_linux_url and
                                     launcher_linux_sha256 (without them that port does not
                                     update itself)
Each launcher's build number (the text "VORNA380-BUILD-NUMBER:" and ten digits that every build
carries) is printed; a launcher without one is refused.
and prints the integrity list's digest as its last line.

The client must list at least 1,000 files in its client-integrity.sha256, every listed file must
match its digest, "Tarvo.exe" must be listed, and each individually published file must have
the digest and the size (KEY_size) that the profile pins for it. The key must be the profile's
release key or its next key. With --previous, a sequence given with --sequence must be higher than the previous
manifest's, and a previous manifest without one needs --sequence. When the
package would be smaller than the minimum, an incompressible filler file,
data/release-filler.bin, is added to the client and to its list (the client folder is changed;
the tool owns that name and replaces the file on every run).

variant makes a deliberately broken copy of a published tree for tests; files it does not change
are hard links to the good tree's. KIND is one of
  signature        the signature no longer matches the manifest
  package-size     the manifest, signed again, names a package one byte longer
  package-digest   the manifest, signed again, names another package digest
  missing:PATH     the file at PATH (relative to the tree) is left out
  content:PATH     the file at PATH holds other bytes
  flipped:PATH     the file at PATH holds other bytes of the same size
  sequence:N       the manifest, signed again, carries sequence N (empty N: no sequence)
  expires:TIME     the manifest, signed again, expires at TIME, YYYY-MM-DDTHH:MM:SSZ, which
                   may lie in the past (empty TIME: no expiry)
  resign           the manifest, unchanged, signed again with --key (the next key, say)
  package-url:PATH the manifest, signed again, names the package at PATH on the same origin
                   (the package stays where it was; the test serves it there)
  package-garbage  the package is 100,000,000 bytes that are no zip archive; the manifest, signed
                   again, names its size and digest
  package-altered-file
                   Tarvo.exe holds other bytes inside the package; the manifest, signed again,
                   names the new package's size and digest
  changed:N        N listed files, spread over the list, hold other bytes inside the package,
                   and the package's list and dl/client-integrity.sha256 say so; the manifest,
                   signed again, names the new package and list
  content-named    the package moves to dl/Vorna380-client-SHA256.zip, named by its content as
                   publish names it; the manifest, signed again, names it there
  ranges-off       the manifest, signed again, names the package under /norange/, where the
                   server answers every range request with the whole file
  launcher:FILE    the Windows launcher is FILE; the manifest, signed again, names its digest
  linux-launcher:FILE
                   the Linux launcher is FILE; the manifest, signed again, names it
  launcher-digest  the manifest, signed again, names another digest for the Windows launcher
                   and the Linux one (their files stay)

profile prints the profile (default the development profile) for the next step of a key
rotation: --next-key PEM (a public key, or a private key of which only the public half is read)
names that key as the next key, replacing any next key the profile had; --promote makes the
next key the release key and drops the old one; both together do both, in that order. The
profile it prints requires expiry, release_expiry_required=1, added or turned on: that setting
only goes one way, as launchers built with it refuse a manifest without "expires" (publish always
writes one). Every other line is kept as it stands.

Only the Python standard library and the openssl command are used.
"""

import argparse
import datetime
import hashlib
import os
import random
import re
import shutil
import subprocess
import sys
import zipfile

REPO = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
DEFAULT_KEY = os.path.join(REPO, "release", "dev-release-key.pem")
DEFAULT_PROFILE = os.path.join(REPO, "release", "dev.profile")

MINIMUM_PACKAGE_BYTES = 100000000
MINIMUM_LISTED_FILES = 1000
LIST_NAME = "client-integrity.sha256"
FILLER = "data/release-filler.bin"
MANIFEST = "dl/Vorna380.release.manifest"
DEFAULT_EXPIRES_IN_DAYS = 90
UTC_TIME = "%Y-%m-%dT%H:%M:%SZ"
KEY_FIELDS = ("release_key_modulus", "release_key_exponent")
NEXT_KEY_FIELDS = ("release_key_next_modulus", "release_key_next_exponent")
EXPIRY_FIELD = "release_expiry_required"

# Individually published files: path in the client, path on the server, profile key of its pin.
PUBLISHED = [
    ("Moorbridge.exe", "dl/Moorbridge.exe", "pin_updater"),
    ("Moorbridge_d.exe", "dl/Moorbridge_d.exe", "pin_updater"),
    ("Vorna380.LauncherUi.dll", "dl/Vorna380.LauncherUi.dll", "pin_launcher_ui"),
    ("data/common/Skills.k5o", "dl/client-delta/Skills.k5o", "pin_skills"),
    ("data/common/data.meta", "dl/client-delta/common-data.meta", "pin_common_meta"),
    ("ui/Orlune_Common/Common.swf", "dl/client-delta/Common.swf", "C10"),
    ("ui/Orlune_Taxi/Taxi.swf", "dl/client-delta/Taxi.swf", "T9"),
    ("ui/Orlune_ContextMenu/ContextMenu.swf", "dl/client-delta/ContextMenu.swf", "M5"),
]
MANIFEST_KEYS = ["version", "package_url", "package_size", "package_sha256", "integrity_sha256",
                 "game_executable", "launcher_url", "launcher_sha256"]
LINE = re.compile(rb"^([0-9a-f]{64})  ([^\r\n]+)$")


def refuse(message):
    sys.exit("publish-release: " + message)


def sha256_file(path):
    digest = hashlib.sha256()
    with open(path, "rb") as data:
        for block in iter(lambda: data.read(4 * 1024 * 1024), b""):
            digest.update(block)
    return digest.hexdigest()


def read_profile(path):
    values = {}
    with open(path, encoding="utf-8") as profile:
        for line in profile.read().splitlines():
            if line.strip() and not line.lstrip().startswith("#") and "=" in line:
                key, _, value = line.partition("=")
                values[key] = value
    for key in ["origin_host", "release_key_modulus", "release_key_exponent"] + [p[2] for p in PUBLISHED] \
            + [p[2] + "_size" for p in PUBLISHED]:
        if key not in values:
            refuse("the profile %s has no %s" % (path, key))
    return values


def openssl(*args):
    return subprocess.run(["openssl"] + list(args), check=True, capture_output=True).stdout


def public_half(key, public_allowed=False):
    """The key's modulus (lower-case hex) and exponent (6 hex digits), as the profile has them;
    with public_allowed, key may also be a public key alone."""
    for extra in ([], ["-pubin"]) if public_allowed else ([],):
        try:
            modulus = openssl("rsa", *extra, "-in", key, "-noout", "-modulus").decode().strip().split("=", 1)[1]
            text = openssl("rsa", *extra, "-in", key, "-noout", "-text").decode()
            break
        except (subprocess.CalledProcessError, IndexError):
            continue
    else:
        kind = "public or private" if public_allowed else "private"
        refuse("%s is not an RSA %s key that openssl can read" % (key, kind))
    exponent = int(re.search(r"^(?:publicExponent|Exponent): (\d+)", text, re.M).group(1))
    return modulus.lower(), "%06x" % exponent


def profile_keys(profile):
    """The public keys the profile trusts: its release key, then its next key when it has one."""
    keys = [(profile[KEY_FIELDS[0]].lower(), profile[KEY_FIELDS[1]].lower())]
    if NEXT_KEY_FIELDS[0] in profile or NEXT_KEY_FIELDS[1] in profile:
        keys.append((profile.get(NEXT_KEY_FIELDS[0], "").lower(), profile.get(NEXT_KEY_FIELDS[1], "").lower()))
    return keys


def check_key(key, profile):
    if public_half(key) not in profile_keys(profile):
        refuse("the key %s is neither the release key nor the next key of the profile "
               "(modulus or exponent differ)" % key)


def place(source, target):
    """Copies source to target through a temporary file renamed over it: never half a file."""
    shutil.copyfile(source, target + ".writing")
    os.replace(target + ".writing", target)


def publish_manifest(key, tree, values):
    """The manifest and its signature, last and one right after the other."""
    manifest = os.path.join(tree, *MANIFEST.split("/"))
    with open(manifest + ".writing", "wb") as out:
        out.write(manifest_text(values))
    sign(key, manifest + ".writing")
    os.replace(manifest + ".writing", manifest)
    os.replace(manifest + ".writing.sig", manifest + ".sig")


def sign(key, manifest_path):
    signature = openssl("dgst", "-sha256", "-sign", key, manifest_path)
    if len(signature) != 384:
        refuse("the signature is %d bytes, not 384: the key is not a 3072-bit RSA key" % len(signature))
    with open(manifest_path + ".sig", "wb") as out:
        out.write(signature)


def read_list(client):
    """The listed (digest, path) pairs, in list order; refuses a list that is not well formed."""
    path = os.path.join(client, LIST_NAME)
    if not os.path.isfile(path):
        refuse("%s has no %s" % (client, LIST_NAME))
    entries = []
    with open(path, "rb") as listing:
        for number, raw in enumerate(listing.read().split(b"\n"), 1):
            if raw == b"":
                continue
            match = LINE.match(raw)
            if not match:
                refuse("%s line %d is not '<64 lower-case hex digits>  <path>'" % (LIST_NAME, number))
            entries.append((match.group(1).decode(), match.group(2).decode("utf-8")))
    return entries


def client_file(client, relative):
    parts = relative.split("/")
    if relative.startswith("/") or "\\" in relative or any(part in ("", ".", "..") for part in parts):
        refuse("the listed path %r is not a plain relative path" % relative)
    return os.path.join(client, *parts)


def write_list(client, entries):
    data = "".join("%s  %s\n" % (digest, path) for digest, path in entries).encode("utf-8")
    with open(os.path.join(client, LIST_NAME), "wb") as out:
        out.write(data)


def check_client(client, profile):
    entries = [entry for entry in read_list(client) if entry[1] != FILLER]
    filler = os.path.join(client, *FILLER.split("/"))
    if os.path.exists(filler):
        os.remove(filler)
    if len(entries) < MINIMUM_LISTED_FILES:
        refuse("the client lists %d files; a release needs at least %d" % (len(entries), MINIMUM_LISTED_FILES))
    if "Tarvo.exe" not in {path for _, path in entries}:
        refuse("the client does not list Tarvo.exe")
    for digest, relative in entries:
        full = client_file(client, relative)
        if os.path.islink(full) or not os.path.isfile(full):
            refuse("the listed file %s is missing or not a regular file" % relative)
        if sha256_file(full) != digest:
            refuse("the listed file %s does not match its digest in %s" % (relative, LIST_NAME))
    for relative, _, pin in PUBLISHED:
        full = os.path.join(client, *relative.split("/"))
        if not os.path.isfile(full):
            refuse("the individually published file %s is missing from the client" % relative)
        if sha256_file(full) != profile[pin]:
            refuse("the individually published file %s does not match the profile's %s" % (relative, pin))
        if str(os.path.getsize(full)) != profile[pin + "_size"]:
            refuse("the individually published file %s has %d bytes, not the profile's %s=%s: launchers "
                   "would refuse it" % (relative, os.path.getsize(full), pin + "_size", profile[pin + "_size"]))
    return entries


def write_filler(path, size):
    """Incompressible, deterministic bytes."""
    os.makedirs(os.path.dirname(path), exist_ok=True)
    rng = random.Random(380)
    digest = hashlib.sha256()
    with open(path, "wb") as out:
        while size > 0:
            block = rng.randbytes(min(size, 1024 * 1024))
            out.write(block)
            digest.update(block)
            size -= len(block)
    return digest.hexdigest()


def write_package(client, entries, package, minimum, level):
    """Zips the listed files, a filler when needed, and the list; returns the final entries."""
    compression = zipfile.ZIP_DEFLATED if level > 0 else zipfile.ZIP_STORED
    partial = package + ".partial"
    with zipfile.ZipFile(partial, "w", compression=compression, compresslevel=level or None,
                         allowZip64=True) as archive:
        for _, relative in entries:
            archive.write(client_file(client, relative), relative)
        archive.fp.flush()
        short = minimum - archive.fp.tell()
        if short > 0:
            digest = write_filler(os.path.join(client, *FILLER.split("/")), short)
            archive.write(os.path.join(client, *FILLER.split("/")), FILLER, compress_type=zipfile.ZIP_STORED)
            entries = sorted(entries + [(digest, FILLER)], key=lambda entry: entry[1])
        write_list(client, entries)
        archive.write(os.path.join(client, LIST_NAME), LIST_NAME)
    if os.path.getsize(partial) < minimum:
        refuse("internal error: the package came out smaller than %d bytes" % minimum)
    os.replace(partial, package)
    return entries


LINUX_LAUNCHER = "dl/vorna380-launcher"
BUILD_MARKER = re.compile(rb"VORNA380-BUILD-NUMBER:([0-9]{10});")


def build_number(path):
    """The build number a launcher file carries, or None."""
    with open(path, "rb") as launcher:
        found = BUILD_MARKER.search(launcher.read())
    return int(found.group(1)) if found else None


def place_launcher(tree, values, source, linux):
    """Puts a launcher build into the tree and names it in the manifest's values."""
    number = build_number(source)
    if number is None:
        refuse("%s carries no launcher build number" % source)
    served = LINUX_LAUNCHER if linux else "dl/Vorna380-Launcher.exe"
    target = os.path.join(tree, *served.split("/"))
    if os.path.exists(target):
        os.remove(target)  # a hard link in a variant: the good tree keeps its file
    shutil.copyfile(source, target)
    origin = "/".join(values["launcher_url"].split("/", 3)[:3]) + "/"
    prefix = "launcher_linux_" if linux else "launcher_"
    values[prefix + "url"] = origin + served
    values[prefix + "sha256"] = sha256_file(target)
    print("%s launcher: build %d, %s" % ("Linux" if linux else "Windows", number, values[prefix + "sha256"]))


def manifest_text(values):
    optional = ("launcher_linux_url", "launcher_linux_sha256", "sequence", "expires")
    keys = MANIFEST_KEYS + [key for key in optional if values.get(key)]
    return ("VORNA380-RELEASE-V1\n" + "".join("%s=%s\n" % (key, values[key]) for key in keys)).encode()


def check_sequence(text):
    if not re.fullmatch(r"[0-9]{1,19}", text) or int(text) < 1:
        refuse("a sequence is 1 to 19 decimal digits, at least 1: %r" % text)
    return text


def release_sequence(args):
    """The sequence to publish: explicit, the previous manifest's plus one, or none. Once the
    previous release is numbered, the next one is numbered higher."""
    previous = None
    if args.previous:
        previous = read_manifest(args.previous).get("sequence")
        if previous is not None:
            previous = int(check_sequence(previous))
    if args.sequence is not None:
        sequence = check_sequence(args.sequence)
        if previous is not None and int(sequence) <= previous:
            refuse("the sequence %s is not higher than the previous manifest's %d: launchers that installed "
                   "it would refuse this release" % (sequence, previous))
        return sequence
    if args.previous:
        if previous is None:
            refuse("the previous manifest %s has no sequence: give --sequence" % args.previous)
        return check_sequence(str(previous + 1))
    return ""


def parse_utc_time(text):
    """The datetime of YYYY-MM-DDTHH:MM:SSZ exactly, as the launcher reads it, or None."""
    if not re.fullmatch(r"[0-9]{4}-[0-9]{2}-[0-9]{2}T[0-9]{2}:[0-9]{2}:[0-9]{2}Z", text):
        return None
    try:
        return datetime.datetime.strptime(text, UTC_TIME).replace(tzinfo=datetime.timezone.utc)
    except ValueError:
        return None


def release_expiry(days):
    """The expiry time, days from now; a release that would already have expired is refused."""
    now = datetime.datetime.now(datetime.timezone.utc).replace(microsecond=0)
    if days < 1:
        refuse("--expires-in must be at least 1 day: the release would expire before launchers see it")
    try:
        expires = now + datetime.timedelta(days=days)
    except OverflowError:
        expires = None
    if expires is None or expires.year > 9999:
        refuse("--expires-in %d ends after the year 9999" % days)
    if expires <= now:
        refuse("the release would already have expired at %s" % expires.strftime(UTC_TIME))
    return expires.strftime(UTC_TIME)


def resign(key, manifest, values):
    os.remove(manifest)  # a hard link: the good tree keeps its file
    os.remove(manifest + ".sig")
    with open(manifest, "wb") as out:
        out.write(manifest_text(values))
    sign(key, manifest)


def replace_package(tree, values, write):
    """Writes a new package through write(path) and names it in values."""
    origin_path = values["package_url"].split("/", 3)[3]
    package = os.path.join(tree, *origin_path.split("/"))
    original = package + ".original"
    os.rename(package, original)
    write(original, package)
    os.remove(original)
    values["package_size"] = str(os.path.getsize(package))
    values["package_sha256"] = sha256_file(package)


def garbage_package(_, package):
    """As large as the smallest package, and no zip archive (sparse where the system allows)."""
    with open(package, "wb") as out:
        out.write(b"not a zip archive\n")
        out.truncate(MINIMUM_PACKAGE_BYTES)


def altered_file_package(original, package):
    with zipfile.ZipFile(original) as source, zipfile.ZipFile(package, "w", allowZip64=True) as archive:
        for info in source.infolist():
            data = source.read(info)
            if info.filename == "Tarvo.exe":
                data += b"\naltered by publish-release.py variant\n"
            archive.writestr(info, data)


def changed_files_package(original, package, count):
    """Rewrites count listed files (never the individually published ones) and the list; returns
    the new list's bytes."""
    fixed = {relative for relative, _, _ in PUBLISHED} | {"Tarvo.exe", FILLER}
    with zipfile.ZipFile(original) as source:
        lines = source.read(LIST_NAME).decode("utf-8").splitlines()
        candidates = [i for i, line in enumerate(lines) if line[66:] not in fixed]
        if count < 1 or count > len(candidates):
            refuse("changed:%d: the list has %d files that may change" % (count, len(candidates)))
        step = len(candidates) // count
        changed = {lines[candidates[k * step]][66:] for k in range(count)}
        contents = {}
        for index, line in enumerate(lines):
            relative = line[66:]
            if relative in changed:
                contents[relative] = source.read(relative) + b"\nchanged by publish-release.py variant\n"
                lines[index] = "%s  %s" % (hashlib.sha256(contents[relative]).hexdigest(), relative)
        listing = ("\n".join(lines) + "\n").encode("utf-8")
        with zipfile.ZipFile(package, "w", allowZip64=True) as archive:
            for info in source.infolist():
                if info.filename == LIST_NAME:
                    data = listing
                else:
                    data = contents.get(info.filename) or source.read(info)
                archive.writestr(info, data)
    return listing


def read_manifest(path):
    with open(path, "rb") as manifest:
        lines = manifest.read().decode("utf-8").split("\n")
    values = {}
    for line in lines[1:]:
        key, equals, value = line.partition("=")
        if equals and key not in values:
            values[key] = value
    return values


def publish(args):
    profile = read_profile(args.profile)
    check_key(args.key, profile)
    version = args.version
    sequence = release_sequence(args)
    expires = release_expiry(args.expires_in)
    if not version or len(version.encode()) > 64 or any(c in version for c in "\r\n\0"):
        refuse("the version must be 1 to 64 bytes on one line")
    if args.min_package_bytes < MINIMUM_PACKAGE_BYTES:
        refuse("a package must be at least %d bytes" % MINIMUM_PACKAGE_BYTES)
    package_path = args.package_path
    if package_path and (package_path.startswith("/") or ".." in package_path.split("/") or "\\" in package_path):
        refuse("--package-path must be a plain path relative to the server's root")
    client = os.path.abspath(args.client)
    tree = os.path.abspath(args.tree)
    entries = check_client(client, profile)
    if args.launcher and build_number(args.launcher) is None:
        refuse("%s carries no launcher build number" % args.launcher)

    # The tree is updated in place: packages of earlier releases stay (a cache may still hold a
    # manifest that names one), the immutable package first, the manifest and signature last.
    os.makedirs(os.path.join(tree, "dl", "client-delta"), exist_ok=True)
    written = os.path.join(tree, "dl", "Vorna380-client.zip.writing")
    write_package(client, entries, written, args.min_package_bytes, args.compress_level)
    package_sha256 = sha256_file(written)
    package_path = package_path or "dl/Vorna380-client-%s.zip" % package_sha256
    package = os.path.join(tree, *package_path.split("/"))
    os.makedirs(os.path.dirname(package), exist_ok=True)
    os.replace(written, package)

    place(os.path.join(client, LIST_NAME), os.path.join(tree, "dl", LIST_NAME))
    for relative, served, _ in PUBLISHED:
        place(os.path.join(client, *relative.split("/")), os.path.join(tree, *served.split("/")))
    launcher = os.path.join(tree, "dl", "Vorna380-Launcher.exe")
    if args.launcher:
        place(args.launcher, launcher)
    else:
        with open(launcher + ".writing", "wb") as out:
            out.write(b"No launcher build was published with this development release.\n")
        os.replace(launcher + ".writing", launcher)

    origin = "https://%s/" % profile["origin_host"]
    values = {
        "version": version,
        "package_url": origin + package_path,
        "package_size": str(os.path.getsize(package)),
        "package_sha256": package_sha256,
        "integrity_sha256": sha256_file(os.path.join(tree, "dl", LIST_NAME)),
        "game_executable": "Tarvo.exe",
        "launcher_url": origin + "dl/Vorna380-Launcher.exe",
        "launcher_sha256": sha256_file(launcher),
        "sequence": sequence,
        "expires": expires,
    }
    if args.launcher:
        print("Windows launcher: build %d" % build_number(args.launcher))
    if args.linux_launcher:
        place_launcher(tree, values, args.linux_launcher, True)
    publish_manifest(args.key, tree, values)
    print("release %s: %s (expires %s)" % (version, tree, expires))
    print("package: %s (%s bytes)" % (package, values["package_size"]))
    print(values["integrity_sha256"])


def variant(args):
    good = os.path.abspath(args.good)
    tree = os.path.abspath(args.tree)
    shutil.rmtree(tree, ignore_errors=True)
    for folder, _, files in os.walk(good):
        target = os.path.join(tree, os.path.relpath(folder, good))
        os.makedirs(target, exist_ok=True)
        for name in files:
            try:
                os.link(os.path.join(folder, name), os.path.join(target, name))
            except OSError:
                shutil.copy2(os.path.join(folder, name), os.path.join(target, name))

    manifest = os.path.join(tree, *MANIFEST.split("/"))
    for kind in args.breaks:
        name, _, path = kind.partition(":")
        if name in ("missing", "content", "flipped"):
            full = os.path.join(tree, *path.split("/"))
            if not path or not os.path.isfile(full):
                refuse("%s: no file %s in the tree" % (kind, path))
            with open(full, "rb") as data:
                content = data.read()
            os.remove(full)  # a hard link: the good tree keeps its file
            if name == "content":
                with open(full, "wb") as out:
                    out.write(content + b"\naltered by publish-release.py variant\n")
            elif name == "flipped":
                if not content:
                    refuse("%s: the file is empty" % kind)
                with open(full, "wb") as out:
                    out.write(bytes([content[0] ^ 0x01]) + content[1:])
        elif name == "signature":
            with open(manifest + ".sig", "rb") as data:
                signature = bytearray(data.read())
            signature[len(signature) // 2] ^= 0x01
            os.remove(manifest + ".sig")
            with open(manifest + ".sig", "wb") as out:
                out.write(signature)
        elif name in ("package-size", "package-digest"):
            check_key(args.key, read_profile(args.profile))
            values = read_manifest(manifest)
            if name == "package-size":
                values["package_size"] = str(int(values["package_size"]) + 1)
            else:
                values["package_sha256"] = hashlib.sha256(b"not the package").hexdigest()
            resign(args.key, manifest, values)
        elif name in ("sequence", "expires", "resign", "package-url", "package-garbage", "package-altered-file"):
            check_key(args.key, read_profile(args.profile))
            values = read_manifest(manifest)
            if name == "sequence":
                values["sequence"] = check_sequence(path) if path else ""
            elif name == "expires":
                if path and parse_utc_time(path) is None:
                    refuse("expires:%s is not a time YYYY-MM-DDTHH:MM:SSZ" % path)
                values["expires"] = path
            elif name == "resign":
                pass
            elif name == "package-url":
                values["package_url"] = "/".join(values["package_url"].split("/", 3)[:3]) + "/" + path
            else:
                replace_package(tree, values, garbage_package if name == "package-garbage" else altered_file_package)
            resign(args.key, manifest, values)
        elif name == "changed":
            check_key(args.key, read_profile(args.profile))
            values = read_manifest(manifest)
            made = {}
            replace_package(tree, values,
                            lambda original, package: made.update(list=changed_files_package(original, package, int(path))))
            listing = os.path.join(tree, "dl", LIST_NAME)
            os.remove(listing)  # a hard link: the good tree keeps its file
            with open(listing, "wb") as out:
                out.write(made["list"])
            values["integrity_sha256"] = hashlib.sha256(made["list"]).hexdigest()
            resign(args.key, manifest, values)
        elif name in ("launcher", "linux-launcher", "launcher-digest"):
            check_key(args.key, read_profile(args.profile))
            values = read_manifest(manifest)
            if name == "launcher-digest":
                for key in ("launcher_sha256", "launcher_linux_sha256"):
                    if values.get(key):
                        values[key] = hashlib.sha256(b"not the launcher").hexdigest()
            else:
                if not path or not os.path.isfile(path):
                    refuse("%s: no file %s" % (kind, path))
                place_launcher(tree, values, path, name == "linux-launcher")
            resign(args.key, manifest, values)
        elif name == "content-named":
            check_key(args.key, read_profile(args.profile))
            values = read_manifest(manifest)
            parts = values["package_url"].split("/", 3)
            named = "dl/Vorna380-client-%s.zip" % values["package_sha256"]
            os.replace(os.path.join(tree, *parts[3].split("/")), os.path.join(tree, *named.split("/")))
            values["package_url"] = "/".join(parts[:3]) + "/" + named
            resign(args.key, manifest, values)
        elif name == "ranges-off":
            check_key(args.key, read_profile(args.profile))
            values = read_manifest(manifest)
            parts = values["package_url"].split("/", 3)
            values["package_url"] = "/".join(parts[:3]) + "/norange/" + parts[3]
            resign(args.key, manifest, values)
        else:
            refuse("unknown --break %s" % kind)
    print("variant (%s): %s" % (", ".join(args.breaks), tree))


def next_profile(args):
    """Prints the profile with the next key named (--next-key) and/or promoted (--promote)."""
    profile = read_profile(args.profile)
    if not args.next_key and not args.promote:
        refuse("profile: give --next-key PEM, --promote, or both")
    with open(args.profile, encoding="utf-8") as source:
        lines = source.read().splitlines()
    values = {}
    if args.promote:
        if NEXT_KEY_FIELDS[0] not in profile or NEXT_KEY_FIELDS[1] not in profile:
            refuse("the profile %s has no next key to promote" % args.profile)
        values = {KEY_FIELDS[0]: profile[NEXT_KEY_FIELDS[0]], KEY_FIELDS[1]: profile[NEXT_KEY_FIELDS[1]]}
    current = (values.get(KEY_FIELDS[0], profile[KEY_FIELDS[0]]).lower(),
               values.get(KEY_FIELDS[1], profile[KEY_FIELDS[1]]).lower())
    if args.next_key:
        half = public_half(args.next_key, public_allowed=True)
        if half == current:
            refuse("the key %s is already the release key" % args.next_key)
        values.update(zip(NEXT_KEY_FIELDS, half))
    values[EXPIRY_FIELD] = "1"
    out = []
    for line in lines:
        key = line.partition("=")[0] if "=" in line and not line.lstrip().startswith("#") else None
        if key in NEXT_KEY_FIELDS:
            continue  # written again after the release key, or dropped
        out.append("%s=%s" % (key, values[key]) if key in values else line)
        if key == KEY_FIELDS[1]:
            out.extend("%s=%s" % (field, values[field]) for field in NEXT_KEY_FIELDS if field in values)
            if EXPIRY_FIELD not in profile:
                out.append("%s=1" % EXPIRY_FIELD)
    sys.stdout.write("\n".join(out) + "\n")


def main():
    parser = argparse.ArgumentParser(description="Publishes a client release for the release server")
    commands = parser.add_subparsers(dest="command", required=True)
    made = commands.add_parser("publish", help="make the served tree of a client release")
    made.add_argument("client", help="client folder with its client-integrity.sha256")
    made.add_argument("tree", help="output tree (replaced), served as the server's root")
    made.add_argument("--version", default="dev-1.0.0", help="release version text")
    made.add_argument("--launcher", help="launcher build to publish at dl/Vorna380-Launcher.exe")
    made.add_argument("--linux-launcher", help="Linux launcher build to publish at " + LINUX_LAUNCHER)
    made.add_argument("--package-path", help="package path on the server (default dl/Vorna380-client-SHA256.zip)")
    made.add_argument("--min-package-bytes", type=int, default=MINIMUM_PACKAGE_BYTES,
                      help="smallest package size (default and lowest %d)" % MINIMUM_PACKAGE_BYTES)
    made.add_argument("--compress-level", type=int, default=6, choices=range(10),
                      help="deflate level of the client files, 0 to store them (default 6)")
    made.add_argument("--sequence", help="release number, 1 to 19 digits; must grow from release to release")
    made.add_argument("--previous", metavar="MANIFEST",
                      help="the previous release's manifest: publish its sequence plus one, or check "
                           "that --sequence is higher")
    made.add_argument("--expires-in", type=int, default=DEFAULT_EXPIRES_IN_DAYS, metavar="DAYS",
                      help="the manifest expires DAYS from now, at least 1 (default %d)" % DEFAULT_EXPIRES_IN_DAYS)
    broken = commands.add_parser("variant", help="make a deliberately broken copy of a published tree")
    broken.add_argument("good", help="a tree made by publish")
    broken.add_argument("tree", help="output tree (replaced)")
    broken.add_argument("--break", dest="breaks", action="append", required=True, metavar="KIND")
    rotation = commands.add_parser("profile", help="print the profile for the next step of a key rotation")
    rotation.add_argument("--next-key", metavar="PEM",
                          help="the next key: its public key, or its private key (only the public half is used)")
    rotation.add_argument("--promote", action="store_true", help="the next key becomes the release key")
    for sub in (made, broken):
        sub.add_argument("--key", default=DEFAULT_KEY, help="release private key (default the development key)")
    for sub in (made, broken, rotation):
        sub.add_argument("--profile", default=DEFAULT_PROFILE, help="release profile (default release/dev.profile)")
    args = parser.parse_args()
    {"publish": publish, "variant": variant, "profile": next_profile}[args.command](args)


if __name__ == "__main__":
    main()
