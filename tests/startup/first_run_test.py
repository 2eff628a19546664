#!/usr/bin/python3
"""The launcher as a player meets it, on the current X display, in a profile of its own and
against the release server (VORNA380_RELEASE_SERVER): the built launcher installs itself and
ends; the installed copy reaches the ready state; a second start while it runs says so and
ends with 0; closing ends it and leaves no process; a start of the installed launcher is ready
at once; with the data folder named through a link or through $HOME with a trailing slash, a
start installs once and the installed copy is one process with its window; a release with a
wrong signature shows the security box, and acknowledging it ends the launcher with 0;
--apply-self-update replaces and starts the installed launcher, or ends with 3 when its root
cannot be made.

    first_run_test.py --launcher PROGRAM --fixtures FOLDER --out FOLDER --flavour NAME
                      [--wine win32|win64 --powershell STANDIN]
"""
import argparse
import os
import pwd
import shutil
import subprocess
import sys
import tempfile
import time

WINDOW_TITLE = "Vorna380 - installation securisee"
READY_LINE = "Installation terminee. Pret a jouer."
READY_ENDING = "Pret a jouer."
SKIP = 77
REPO = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
sys.path.insert(0, os.path.join(REPO, "tests", "support"))
from x_windows import Failure, click, ended, find_window, press, running, screenshot, wait_until  # noqa: E402


def serve(server, fixtures, name):
    www = os.path.join(server, "www")
    shutil.rmtree(www, ignore_errors=True)
    subprocess.run(["cp", "-al", os.path.join(fixtures, "releases", name), www], check=True)


class Profile:
    """A fresh profile for the Linux port: data and runtime folders of its own."""

    def __init__(self, args):
        self.folder = os.path.realpath(tempfile.mkdtemp(prefix="vorna380-first-run-"))
        self.out, self.flavour = args.out, args.flavour
        self.env = dict(os.environ, XDG_DATA_HOME=os.path.join(self.folder, "home", ".local", "share"),
                        XDG_RUNTIME_DIR=os.path.join(self.folder, "run"))
        os.makedirs(self.env["XDG_DATA_HOME"])
        os.makedirs(self.env["XDG_RUNTIME_DIR"], mode=0o700)
        self.root = os.path.join(self.env["XDG_DATA_HOME"], "Vorna380")
        self.installed = os.path.join(self.root, "vorna380-launcher")
        self.journal = os.path.join(self.root, "launcher.log")

    def start(self, program, *arguments):
        # No pipe: the installed copy it starts would keep it open.
        return subprocess.Popen(self.command(program) + list(arguments), env=self.env, stdout=subprocess.DEVNULL,
                                stderr=subprocess.DEVNULL)

    def command(self, program):
        return [program]

    def start_installed(self):
        return self.start(self.installed)

    def installed_runs(self):
        return running(self.installed)

    def journal_text(self):
        try:
            with open(self.journal, encoding="utf-8") as journal:
                return journal.read()
        except OSError:
            return ""

    def journal_has(self, line):
        return line in self.journal_text()

    def shot(self, name):
        path = os.path.join(self.out, "%s-%s.png" % (self.flavour, name))
        screenshot(path)
        print("screenshot:", path)

    def remove(self):
        for pid in self.installed_runs():
            os.kill(pid, 9)
        shutil.rmtree(self.folder, ignore_errors=True)


class WineProfile(Profile):
    """The Windows build in the display prefix of wine-display-run.sh, whose local
    application-data folder is emptied of the launcher first. The test's PowerShell stand-in
    lies beside the installed launcher, where its CreateProcessW looks first."""

    def __init__(self, args):
        self.out, self.flavour, self.arch = args.out, args.flavour, args.wine
        self.prefix = os.environ["VORNA380_WINEPREFIX_" + args.wine.upper()]
        user = os.environ.get("USER") or pwd.getpwuid(os.getuid()).pw_name
        self.root = os.path.join(self.prefix, "drive_c", "users", user, "AppData", "Local", "Vorna380")
        self.installed = os.path.join(self.root, "Vorna380-Launcher.exe")
        self.windows_installed = "C:\\users\\%s\\AppData\\Local\\Vorna380\\Vorna380-Launcher.exe" % user
        self.journal = os.path.join(self.root, "launcher.log")
        self.env = dict(os.environ)
        self.folder = None
        self.runner = [os.path.join(REPO, "tests", "harness", "wine-run.sh"), self.arch]
        # Boxes of an unmanaged window close at once under a bare X server.
        subprocess.run(self.runner + ["reg", "add", "HKCU\\Software\\Wine\\X11 Driver", "/v", "Managed", "/d",
                                      "N", "/f"], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, check=False)
        shutil.rmtree(self.root, ignore_errors=True)
        os.makedirs(self.root)
        shutil.copy(args.powershell, os.path.join(self.root, "powershell.exe"))

    def command(self, program):
        return self.runner + [program]

    def start_installed(self):
        # By its Windows name, as the shell would start it: the launcher compares that name.
        return self.start(self.windows_installed)

    def installed_runs(self):
        """Wine processes of this prefix running the installed launcher."""
        pids = []
        for entry in os.listdir("/proc"):
            if not entry.isdigit():
                continue
            try:
                with open("/proc/%s/cmdline" % entry, "rb") as f:
                    command = f.read().decode("utf-8", "replace").lower()
                with open("/proc/%s/environ" % entry, "rb") as f:
                    environment = f.read().split(b"\0")
            except OSError:
                continue
            if (self.windows_installed.lower() in command
                    and ("WINEPREFIX=" + self.prefix).encode() in environment):
                pids.append(int(entry))
        return pids

    def remove(self):
        for pid in self.installed_runs():
            os.kill(pid, 9)
        shutil.rmtree(self.root, ignore_errors=True)


def main_window(profile):
    """The installed launcher's window; under a full parallel test run it may take long to come,
    but not after the launcher has ended."""
    deadline = time.monotonic() + 120
    while time.monotonic() < deadline:
        try:
            return find_window(WINDOW_TITLE, timeout=5)
        except Failure:
            if not profile.installed_runs():
                raise Failure("the installed launcher ended before its window appeared; journal ends: " +
                              " | ".join(profile.journal_text().splitlines()[-5:]))
    return find_window(WINDOW_TITLE, timeout=1)


def wait_exit(process, expected, timeout=30):
    try:
        process.wait(timeout=timeout)
    except subprocess.TimeoutExpired:
        process.kill()
        raise Failure("the launcher did not end")
    if process.returncode != expected:
        raise Failure("exit code %d, expected %d" % (process.returncode, expected))


def run(args, profile):
    server = os.environ.get("VORNA380_RELEASE_SERVER", "")
    serve(server, args.fixtures, "good")

    # First start: installs itself, starts the installed copy, ends with 0.
    wait_exit(profile.start(args.launcher), 0)
    if not os.path.isfile(profile.installed) or not (args.wine or os.access(profile.installed, os.X_OK)):
        raise Failure("no executable installed launcher at " + profile.installed)
    wait_until(profile.installed_runs, 10, "the installed copy is not running")
    window = main_window(profile)
    wait_until(lambda: profile.journal_has(READY_LINE), 240, "the journal never reached the ready line")
    time.sleep(0.5)
    profile.shot("first-run-ready")

    # A second start while one runs.
    second = profile.start_installed()
    box = find_window("Vorna380", timeout=15)
    press(box, "Return")
    wait_exit(second, 0)
    if len(profile.installed_runs()) != 1:
        raise Failure("the second start disturbed the first launcher")

    # Closing the ready window ends the launcher and leaves nothing behind.
    pids = profile.installed_runs()
    click(window, 1088, 16)
    wait_closed(profile, pids, "the launcher still runs after closing")

    # The installed launcher started directly: ready at once, closed with 0.
    # Already installed, it finds the client valid: "Client officiel valide. Pret a jouer."
    lines = profile.journal_text().count(READY_ENDING)
    close_when_ready(profile, lines, profile.start_installed())
    if not args.wine:
        linked_starts(args, profile)

    # A release whose signature is wrong.
    serve(server, args.fixtures, "bad-signature")
    broken = profile.start_installed()
    box = find_window("Vorna380 - securite", timeout=60)
    time.sleep(0.3)
    profile.shot("bad-signature")
    press(box, "Return")
    wait_exit(broken, 0)

    # --apply-self-update from the build folder, with no process to wait for: it pauses, puts
    # the running executable over the installed launcher and starts that.
    serve(server, args.fixtures, "good")
    for argument in ("0", "no digits"):
        with open(profile.installed, "wb") as old:
            old.write(b"an older launcher")
        lines = profile.journal_text().count(READY_ENDING)
        started = time.monotonic()
        wait_exit(profile.start(args.launcher, "--apply-self-update", argument), 0)
        if time.monotonic() - started < 1.5:
            raise Failure("--apply-self-update %r did not pause first" % argument)
        with open(profile.installed, "rb") as new, open(args.launcher, "rb") as built:
            if new.read() != built.read():
                raise Failure("--apply-self-update %r did not install the running executable" % argument)
        wait_until(profile.installed_runs, 10, "--apply-self-update did not start the installed launcher")
        close_when_ready(profile, lines)

    # Its root taken by a file: the copy fails, exit code 3, and the file is left alone.
    aside = profile.root + ".aside"
    os.rename(profile.root, aside)
    try:
        with open(profile.root, "wb") as blocker:
            blocker.write(b"not a folder")
        wait_exit(profile.start(args.launcher, "--apply-self-update", "0"), 3)
        with open(profile.root, "rb") as blocker:
            if blocker.read() != b"not a folder":
                raise Failure("--apply-self-update changed the file at its root")
    finally:
        if os.path.isfile(profile.root):
            os.remove(profile.root)
        os.rename(aside, profile.root)


def linked_starts(args, profile):
    """The same data folder reached through a link, then as $HOME/.local/share with $HOME
    ending in a slash: the built launcher installs itself and ends, and the installed copy
    stays the one process, shows its window and is ready, without copying itself again."""
    link = os.path.join(profile.folder, "linked-data")
    os.symlink(os.path.dirname(profile.root), link)
    home = dict(profile.env, HOME=os.path.join(profile.folder, "home") + "/")
    del home["XDG_DATA_HOME"]
    for name, env in (("linked data folder", dict(profile.env, XDG_DATA_HOME=link)), ("HOME ending in /", home)):
        lines = profile.journal_text().count(READY_ENDING)
        wait_exit(subprocess.Popen([args.launcher], env=env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL), 0)
        installed = os.stat(profile.installed).st_ino
        wait_until(profile.installed_runs, 10, name + ": the installed copy is not running")
        close_when_ready(profile, lines, same=profile.installed_runs())
        if os.stat(profile.installed).st_ino != installed:
            raise Failure(name + ": the installed copy installed itself again")


def close_when_ready(profile, lines, process=None, same=None):
    """Waits for the running installed launcher's ready line after the first lines of them,
    closes its window and checks that nothing is left (and, for a process of ours, its exit
    code 0; with same, that these processes were the ones running)."""
    window = main_window(profile)
    wait_until(lambda: profile.journal_text().count(READY_ENDING) > lines, 120,
               "the launcher did not reach a ready line")
    if same is not None and profile.installed_runs() != same:
        raise Failure("the installed launcher was started again: %s, then %s" % (same, profile.installed_runs()))
    time.sleep(0.3)
    pids = profile.installed_runs()
    click(window, 1088, 16)
    if process is not None:
        wait_exit(process, 0)
    wait_closed(profile, pids, "a process is left after closing")


def wait_closed(profile, pids, what):
    """Waits until the processes have ended for good (their lock let go) and none runs."""
    wait_until(lambda: all(ended(pid) for pid in pids) and not profile.installed_runs(), 15, what)


def player_arguments(*extra):
    """The command line of a test that plays the launcher in a profile: its own options, then
    the extra ones (name, help) it adds."""
    parser = argparse.ArgumentParser()
    parser.add_argument("--launcher", required=True)
    for name, text in extra:
        parser.add_argument(name, required=True, help=text)
    parser.add_argument("--fixtures", required=True)
    parser.add_argument("--out", required=True)
    parser.add_argument("--flavour", required=True)
    parser.add_argument("--wine", choices=("win32", "win64"))
    parser.add_argument("--powershell", help="the PowerShell stand-in (Windows build)")
    return parser.parse_args()


def play(run_test, done):
    """Runs run_test(args, profile) in a fresh profile against the release server: 0 with the
    line done, 1 with the failure and the journal, SKIP without a server outside CI."""
    args = player_arguments()
    if not os.environ.get("VORNA380_RELEASE_SERVER"):
        if os.environ.get("CI", "") not in ("", "0", "false"):
            print("no release server: VORNA380_RELEASE_SERVER unset")
            return 1
        print("no release server: start it with tests/harness/release-server.sh (see README)")
        return SKIP
    profile = WineProfile(args) if args.wine else Profile(args)
    try:
        run_test(args, profile)
    except Failure as failure:
        print("FAILED:", failure)
        try:
            profile.shot("failure")
        except Exception:
            pass
        print("journal:\n" + profile.journal_text())
        return 1
    finally:
        profile.remove()
    print(done)
    return 0


def main():
    return play(run, "first run: installed, ready, second start refused, closed with 0, bad signature shown")


if __name__ == "__main__":
    sys.exit(main())
