#!/usr/bin/python3
"""The launcher found and removed like a desktop program, in a profile of its own, against the
release server. The first start makes the entries: on Linux a desktop entry that
desktop-file-validate accepts, with its icon in the user's hicolor theme; under Wine the
Start-menu shortcuts and the desktop shortcut, which Wine's own menu builder turns into a
desktop entry of its own (the proof that the shell link is real). A second start changes
nothing; a deleted desktop shortcut stays deleted, an entry that no longer starts the launcher
is written again. Then --uninstall, with the launcher running, a read-only file and a link to a
folder outside planted in the root: the launcher ends, the entries and the root go, the folder
outside is untouched, and a second --uninstall finds nothing to do.

    desktop_entries_test.py --launcher PROGRAM --fixtures FOLDER --out FOLDER --flavour NAME
                            [--wine win32|win64 --powershell STANDIN]
"""
import glob
import os
import shutil
import stat
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import first_run_test as run_test  # noqa: E402
from first_run_test import READY_ENDING, Failure, close_when_ready, wait_exit, wait_until  # noqa: E402

ICON_SIZES = (16, 24, 32, 48, 64, 128, 256)


class Entries:
    """Where each build puts its entries, and what they look like."""

    def __init__(self, profile, wine):
        self.wine = wine
        self.menu_home = tempfile.mkdtemp(prefix="vorna380-menu-")
        if wine:
            # Wine's menu builder writes its desktop entries here (tests/harness/wine-run.sh).
            profile.env["VORNA380_WINE_DATA_HOME"] = self.menu_home
            user_folder = os.path.dirname(os.path.dirname(os.path.dirname(profile.root)))
            programs = os.path.join(user_folder, "AppData", "Roaming", "Microsoft", "Windows", "Start Menu", "Programs")
            self.menu = [os.path.join(programs, "Vorna380.lnk"), os.path.join(programs, "Desinstaller Vorna380.lnk")]
            self.desktop = os.path.join(user_folder, "Desktop", "Vorna380.lnk")
            for path in self.menu + [self.desktop]:
                if os.path.lexists(path):
                    os.remove(path)
        else:
            data = profile.env["XDG_DATA_HOME"]
            self.menu = [os.path.join(data, "applications", "vorna380-launcher.desktop")] + [
                os.path.join(data, "icons", "hicolor", "%dx%d" % (size, size), "apps", "vorna380-launcher.png")
                for size in ICON_SIZES]
            self.desktop = None

    def all(self):
        return self.menu + ([self.desktop] if self.desktop else [])

    def state(self):
        return {path: (os.stat(path).st_mtime_ns, open(path, "rb").read()) for path in self.all() if os.path.exists(path)}

    def check_made(self):
        missing = [path for path in self.all() if not os.path.isfile(path)]
        if missing:
            raise Failure("entries missing after the first start: %s" % missing)
        if not self.wine:
            checked = subprocess.run(["desktop-file-validate", self.menu[0]], capture_output=True, text=True)
            if checked.returncode != 0 or checked.stdout.strip():
                raise Failure("desktop-file-validate: %s%s" % (checked.stdout, checked.stderr))
            with open(self.menu[0]) as entry:
                text = entry.read()
            for needed in ("StartupWMClass=vorna380-launcher", "Icon=vorna380-launcher", "Actions=uninstall;",
                           " --uninstall\n"):
                if needed not in text:
                    raise Failure("the desktop entry lacks %r:\n%s" % (needed, text))
        else:
            made = lambda: glob.glob(os.path.join(self.menu_home, "applications", "wine", "**", "Vorna380*.desktop"),
                                     recursive=True)
            wait_until(made, 60, "Wine's menu builder made no desktop entry of the Start-menu shortcut")
            with open(made()[0], encoding="utf-8", errors="replace") as entry:
                if "Vorna380-Launcher" not in entry.read():
                    raise Failure("Wine's desktop entry does not start the launcher: " + made()[0])

    def tamper(self):
        """Deletes the desktop shortcut and makes the first menu entry start something else."""
        if self.wine:
            os.remove(self.desktop)
            shutil.copyfile(self.menu[1], self.menu[0])  # the same program, other arguments
        else:
            with open(self.menu[0], "w") as entry:
                entry.write("[Desktop Entry]\nType=Application\nName=Vorna380\nExec=/bin/false\n")
        return open(self.menu[0], "rb").read()


def start_ready(profile, lines=None):
    lines = profile.journal_text().count(READY_ENDING) if lines is None else lines
    process = profile.start_installed()
    wait_until(lambda: profile.journal_text().count(READY_ENDING) > lines, 120, "the launcher was never ready")
    return process


def run(args, profile):
    server = os.environ.get("VORNA380_RELEASE_SERVER", "")
    run_test.serve(server, args.fixtures, "good")
    entries = Entries(profile, args.wine)

    wait_exit(profile.start(args.launcher), 0)
    wait_until(profile.installed_runs, 10, "the installed copy is not running")
    if not args.wine:
        # The window's class is the entry's StartupWMClass, and it carries the entry's icon.
        window = run_test.main_window(profile)
        found = subprocess.run(["xprop", "-id", str(window), "WM_CLASS", "_NET_WM_ICON"], capture_output=True,
                               text=True).stdout
        wm_class = 'WM_CLASS(STRING) = "vorna380-launcher", "vorna380-launcher"'
        if wm_class not in found or "_NET_WM_ICON(CARDINAL)" not in found:
            raise Failure("the window's class or icon is not the desktop entry's: " + found[:300])
    close_when_ready(profile, 0)
    entries.check_made()
    if not os.path.isfile(os.path.join(profile.root, "desktop-shortcut.txt")):
        raise Failure("the root does not say that the desktop shortcut was made")

    before = entries.state()
    close_when_ready(profile, profile.journal_text().count(READY_ENDING), profile.start_installed())
    if entries.state() != before:
        raise Failure("a second start changed the entries")

    tampered = entries.tamper()
    close_when_ready(profile, profile.journal_text().count(READY_ENDING), profile.start_installed())
    if open(entries.menu[0], "rb").read() == tampered:
        raise Failure("the entry that no longer started the launcher was not written again")
    if entries.desktop and os.path.exists(entries.desktop):
        raise Failure("the deleted desktop shortcut was made again")

    # --uninstall while the launcher runs, with a read-only file and a link out of the root.
    # Under Wine no Windows program can remove a link made on Linux: Wine deletes its target
    # and leaves the link (docs/wine-notes.md), so the link is planted on the Linux build only.
    outside = tempfile.mkdtemp(prefix="vorna380-outside-")
    with open(os.path.join(outside, "keep.txt"), "w") as keep:
        keep.write("not the launcher's\n")
    if not args.wine:
        os.symlink(outside, os.path.join(profile.root, "link-out"))
    read_only = os.path.join(profile.root, "Client", "read-only.txt")
    with open(read_only, "w") as planted:
        planted.write("read only\n")
    os.chmod(read_only, stat.S_IRUSR)
    running = start_ready(profile)
    try:
        uninstall = (profile.start(profile.windows_installed, "--uninstall") if args.wine
                     else profile.start(profile.installed, "--uninstall"))
        try:
            wait_exit(uninstall, 0, timeout=90)
        except Failure as failure:
            left = [os.path.join(top, name) for top, folders, files in os.walk(profile.root) for name in folders + files]
            raise Failure("--uninstall: %s; left in the root: %s" % (failure, left[:20]))
        wait_exit(running, 0, timeout=30)
        if profile.installed_runs():
            raise Failure("the launcher still runs after --uninstall")
        if os.path.lexists(profile.root):
            raise Failure("the root is still there: %s" % os.listdir(profile.root))
        left = [path for path in entries.all() if os.path.lexists(path)]
        if left:
            raise Failure("entries left after --uninstall: %s" % left)
        if open(os.path.join(outside, "keep.txt")).read() != "not the launcher's\n":
            raise Failure("the folder the link pointed at was touched")
        # The installed launcher is gone: the build's copy finds nothing left to remove.
        wait_exit(profile.start(args.launcher, "--uninstall"), 0, timeout=60)
    finally:
        shutil.rmtree(outside, ignore_errors=True)
        shutil.rmtree(entries.menu_home, ignore_errors=True)


def main():
    return run_test.play(run, "desktop entries: made, kept, repaired, the deleted one left deleted; "
                              "--uninstall removed all, twice")


if __name__ == "__main__":
    sys.exit(main())
