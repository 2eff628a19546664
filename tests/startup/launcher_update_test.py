#!/usr/bin/python3
"""The launcher's update of itself end to end, on the current X display, against the release
server: a release naming the installed launcher changes nothing; one naming a launcher whose
digest is wrong, one whose file is missing and one that cannot run are journalled and the
launcher goes on to the ready state (the one that cannot run is not tried again); one naming a
newer launcher hands over to it: the old launcher ends, the new one runs as the one process and
is ready, the replaced launcher is kept as the previous copy and nothing else is left; an older
build started from elsewhere starts the installed launcher instead of replacing it. Then the
key rotation: a launcher trusting the first release key only refuses a release signed by the
next key, updates itself from a release signed by the first key to a launcher trusting both,
and then accepts the next key's release.

    launcher_update_test.py --launcher PROGRAM --failing PROGRAM --fixtures FOLDER --out FOLDER
                            --flavour NAME [--wine win32|win64 --powershell STANDIN]
"""
import hashlib
import os
import re
import shutil
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
import first_run_test as run_test  # noqa: E402
from first_run_test import READY_ENDING, SKIP, Failure, close_when_ready, wait_exit, wait_until  # noqa: E402

REPO = os.path.dirname(os.path.dirname(HERE))


def digest(path):
    with open(path, "rb") as data:
        return hashlib.sha256(data.read()).hexdigest()


class Trees:
    """Release trees made from the fixtures' good release, each naming one launcher."""

    def __init__(self, args, folder):
        self.folder, self.args = folder, args
        self.good = os.path.join(args.fixtures, "releases", "good")
        self.kind = "launcher" if args.wine else "linux-launcher"
        self.served = "dl/Vorna380-Launcher.exe" if args.wine else "dl/vorna380-launcher"
        self.newer = os.path.join(folder, "newer-launcher")
        shutil.copyfile(args.launcher, self.newer)
        with open(self.newer, "ab") as newer:
            newer.write(b"\nanother build of the launcher\n")

    def make(self, name, *breaks, good=None, key=None):
        tree = os.path.join(self.folder, name)
        command = [sys.executable, os.path.join(REPO, "tools", "publish-release.py"), "variant", good or self.good, tree]
        command += ["--break=" + kind for kind in breaks] + (["--key", key] if key else [])
        subprocess.run(command, check=True, stdout=subprocess.DEVNULL)
        return tree

    def naming(self, name, launcher, *more):
        return self.make(name, "%s:%s" % (self.kind, launcher), *more)


def serve_tree(tree):
    www = os.path.join(os.environ["VORNA380_RELEASE_SERVER"], "www")
    shutil.rmtree(www, ignore_errors=True)
    subprocess.run(["cp", "-al", tree, www], check=True)


def trusting_first_key_only(args, folder):
    """The built launcher as a build from before the key rotation: the next key's modulus it
    carries is zeroed, and the signature check never uses a key that is not sound."""
    with open(os.path.join(REPO, "release", "dev.profile"), encoding="utf-8") as profile:
        values = dict(line.strip().split("=", 1) for line in profile if "=" in line and not line.startswith("#"))
    modulus = bytes.fromhex(values["release_key_next_modulus"])
    with open(args.launcher, "rb") as built:
        content = built.read()
    if modulus not in content:
        raise Failure("the next key's modulus is not in the launcher")
    path = os.path.join(folder, "key-one-launcher" + (".exe" if args.wine else ""))
    with open(path, "wb") as old:
        old.write(content.replace(modulus, bytes(len(modulus))))
    os.chmod(path, 0o755)
    return path


def rotation(args, profile, trees):
    """A launcher trusting the first key only updates itself, from a release signed by that
    key, to one trusting both; a release signed by the next key is then accepted."""
    old = trusting_first_key_only(args, trees.folder)
    next_key = os.path.join(REPO, "release", "dev-release-key-next.pem")
    signed_by_next = trees.make("next-key-current", "%s:%s" % (trees.kind, args.launcher),
                                good=os.path.join(args.fixtures, "releases", "next-key"), key=next_key)
    serve_tree(trees.naming("key-one", old))
    wait_exit(profile.start(old), 0)
    wait_until(profile.installed_runs, 10, "the installed copy is not running")
    close_when_ready(profile, profile.journal_text().count(READY_ENDING))
    if digest(profile.installed) != digest(old):
        raise Failure("the launcher trusting the first key only was not installed")
    # Before its update it refuses the next key's release.
    serve_tree(signed_by_next)
    refused = profile.start_installed()
    box = run_test.find_window("Vorna380 - securite", timeout=60)
    run_test.press(box, "Return")
    wait_exit(refused, 0)
    # A release signed by the first key names the launcher that trusts both: it takes over.
    serve_tree(trees.naming("rotation", args.launcher))
    before = profile.journal_text()
    wait_exit(profile.start_installed(), 0, timeout=120)
    wait_until(lambda: digest(profile.installed) == digest(args.launcher), 30, "the launcher did not update itself")
    wait_until(profile.installed_runs, 30, "the updated launcher does not run")
    close_when_ready(profile, before.count(READY_ENDING))
    # Nothing done by hand: the next key's release is now accepted.
    serve_tree(signed_by_next)
    start_until_ready(profile, "Client officiel valide. Pret a jouer.")


def start_until_ready(profile, expected):
    """Starts the installed launcher, waits for its ready line and closes it; the journal of that
    start must hold the expected line."""
    before = profile.journal_text()
    close_when_ready(profile, before.count(READY_ENDING), profile.start_installed())
    added = profile.journal_text()[len(before):]
    if expected not in added:
        raise Failure("no line %r in the journal of that start:\n%s" % (expected, added))
    return added


def run(args, profile, trees):
    update = os.path.join(profile.root, "Vorna380-Launcher.update.exe" if args.wine else "vorna380-launcher.update")
    serve_tree(trees.naming("current", args.launcher))
    wait_exit(profile.start(args.launcher), 0)
    wait_until(profile.installed_runs, 10, "the installed copy is not running")
    close_when_ready(profile, 0)
    installed = digest(profile.installed)

    for name, tree, expected in (
            ("wrong digest", trees.make("wrong-digest", "%s:%s" % (trees.kind, trees.newer), "launcher-digest"),
             "Launcher publie refuse: son SHA-256 n'est pas "),
            ("missing file", trees.make("missing", "%s:%s" % (trees.kind, trees.newer), "missing:" + trees.served),
             "Telechargement du launcher publie impossible: le launcher actuel continue."),
            ("cannot run", trees.naming("failing", args.failing),
             "La nouvelle version du launcher s'est arretee aussitot (code 1).")):
        serve_tree(tree)
        start_until_ready(profile, expected)
        if name == "wrong digest":
            # A second start tries once more; a third has given that publication up.
            start_until_ready(profile, expected)
            start_until_ready(profile, " deja refuse ou essaye sans succes: le launcher actuel continue.")
        if digest(profile.installed) != installed:
            raise Failure(name + ": the installed launcher changed")
        if os.path.exists(update):
            raise Failure(name + ": the update file was left behind")
    added = start_until_ready(profile, " deja refuse ou essaye sans succes: le launcher actuel continue.")
    if "Nouvelle version du launcher: telechargement..." in added:
        raise Failure("a refused launcher was downloaded again")

    # A newer launcher: the old one hands over and ends, the new one is the one process.
    serve_tree(trees.naming("newer", trees.newer))
    before = profile.journal_text()
    old = profile.start_installed()
    wait_exit(old, 0, timeout=120)
    wait_until(lambda: digest(profile.installed) == digest(trees.newer), 30, "the installed launcher was not replaced")
    wait_until(profile.installed_runs, 30, "the new launcher does not run")
    close_when_ready(profile, before.count(READY_ENDING))
    added = profile.journal_text()[len(before):]
    for line in ("Le manifeste publie un autre launcher: " + digest(trees.newer) + ".",
                 "Mise a jour du launcher confiee a la nouvelle version: ce launcher se ferme.",
                 "Launcher installe remplace par la nouvelle version (l'ancienne est gardee a cote). Demarrage...",
                 READY_ENDING):
        if line not in added:
            raise Failure("no line %r in the journal of the update:\n%s" % (line, added))
    previous = profile.installed.replace("Launcher.exe", "Launcher.previous.exe") if args.wine \
        else profile.installed + ".previous"
    if not os.path.isfile(previous) or digest(previous) != installed:
        raise Failure("the replaced launcher was not kept as " + previous)
    # The new launcher finds itself current: nothing more to do. The update file goes once the
    # update that ran from it has ended (on Windows a running program's file stays until then).
    added = start_until_ready(profile, READY_ENDING)
    if "Le manifeste publie un autre launcher" in added:
        raise Failure("the updated launcher tried to update itself again")
    left = sorted(name for name in os.listdir(profile.root) if name.endswith(".copy") or name == os.path.basename(update))
    if left:
        raise Failure("files left behind: %s" % left)

    # An older build started from elsewhere starts the installed launcher and replaces nothing.
    older = os.path.join(trees.folder, "older-launcher" + (".exe" if args.wine else ""))
    with open(args.launcher, "rb") as built:
        content = built.read()
    marker = re.search(rb"VORNA380-BUILD-NUMBER:([0-9]{10});", content)
    if marker is None or int(marker.group(1)) == 0:
        raise Failure("the built launcher carries no build number above 0")
    with open(older, "wb") as out:
        out.write(content.replace(marker.group(0), b"VORNA380-BUILD-NUMBER:0000000000;"))
    os.chmod(older, 0o755)
    current = digest(profile.installed)
    before = profile.journal_text()
    wait_exit(profile.start(older), 0)
    wait_until(profile.installed_runs, 10, "the installed launcher was not started in place of the older one")
    close_when_ready(profile, before.count(READY_ENDING))
    if digest(profile.installed) != current:
        raise Failure("an older build replaced the installed launcher")
    line = "Launcher demarre depuis un autre dossier plus ancien (build 0) que le launcher installe:"
    if line not in profile.journal_text()[len(before):]:
        raise Failure("no line %r in the journal" % line)


def main():
    args = run_test.player_arguments(("--failing", "a program that ends at once with 1"))
    if not os.environ.get("VORNA380_RELEASE_SERVER"):
        print("no release server: start it with tests/harness/release-server.sh (see README)")
        return SKIP
    folder = tempfile.mkdtemp(prefix="vorna380-launcher-update-")
    profile = run_test.WineProfile(args) if args.wine else run_test.Profile(args)
    try:
        trees = Trees(args, folder)
        run(args, profile, trees)
        profile.remove()
        profile = run_test.WineProfile(args) if args.wine else run_test.Profile(args)
        rotation(args, profile, trees)
    except Failure as failure:
        print("FAILED:", failure)
        print("root:", sorted(os.listdir(profile.root)) if os.path.isdir(profile.root) else "missing")
        print("journal:\n" + profile.journal_text())
        return 1
    finally:
        profile.remove()
        shutil.rmtree(folder, ignore_errors=True)
    print("launcher update: current kept, bad publications journalled, newer launcher took over, key rotated")
    return 0


if __name__ == "__main__":
    sys.exit(main())
