#!/usr/bin/python3
"""The launcher as a player meets it, on the current X display, in a profile of its own and
against the release server (VORNA380_RELEASE_SERVER): the built launcher installs itself and
ends; the installed copy reaches the ready state; a second start while it runs says so and
ends with 0; closing ends it and leaves no process; a start of the installed launcher is ready
at once; a release with a wrong signature shows the security box, and acknowledging it ends
the launcher with 0.

    first_run_test.py --launcher PROGRAM --fixtures FOLDER --out FOLDER --flavour NAME
"""
import argparse
import os
import shutil
import subprocess
import sys
import tempfile
import time

WINDOW_TITLE = "Vorna380 - installation securisee"
READY_LINE = "Installation terminee. Pret a jouer."
SKIP = 77


class Failure(Exception):
    pass


def find_window(title, timeout=30.0, present=True):
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        found = subprocess.run(["xdotool", "search", "--onlyvisible", "--name", "^%s$" % title],
                               capture_output=True, text=True).stdout.split()
        if bool(found) == present:
            return found[0] if found else None
        time.sleep(0.1)
    raise Failure("window %r %s" % (title, "never appeared" if present else "did not go away"))


def press(window, key):
    """Keys go to the focused window: the pointer over it and the focus on it first."""
    text = subprocess.run(["xdotool", "getwindowgeometry", "--shell", window], capture_output=True, text=True,
                          check=True).stdout
    values = dict(line.split("=", 1) for line in text.split())
    subprocess.run(["xdotool", "mousemove", str(int(values["X"]) + int(values["WIDTH"]) // 2),
                    str(int(values["Y"]) + 5)], check=True)
    subprocess.run(["xdotool", "windowfocus", window], check=False)
    time.sleep(0.2)
    subprocess.run(["xdotool", "key", key], check=True)


def click(window, x, y):
    text = subprocess.run(["xdotool", "getwindowgeometry", "--shell", window], capture_output=True, text=True,
                          check=True).stdout
    values = dict(line.split("=", 1) for line in text.split())
    subprocess.run(["xdotool", "mousemove", str(int(values["X"]) + x), str(int(values["Y"]) + y)], check=True)
    time.sleep(0.2)
    subprocess.run(["xdotool", "click", "1"], check=True)


def running(program):
    """PIDs of processes whose executable is program."""
    pids = []
    for entry in os.listdir("/proc"):
        if entry.isdigit():
            try:
                if os.readlink("/proc/%s/exe" % entry) == program:
                    pids.append(int(entry))
            except OSError:
                pass
    return pids


def wait_until(condition, timeout, what):
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        if condition():
            return
        time.sleep(0.1)
    raise Failure(what)


def serve(server, fixtures, name):
    www = os.path.join(server, "www")
    shutil.rmtree(www, ignore_errors=True)
    subprocess.run(["cp", "-al", os.path.join(fixtures, "releases", name), www], check=True)


class Profile:
    def __init__(self, out, flavour):
        self.folder = tempfile.mkdtemp(prefix="vorna380-first-run-")
        self.out, self.flavour = out, flavour
        self.env = dict(os.environ, XDG_DATA_HOME=os.path.join(self.folder, "data"),
                        XDG_RUNTIME_DIR=os.path.join(self.folder, "run"))
        os.makedirs(self.env["XDG_DATA_HOME"])
        os.makedirs(self.env["XDG_RUNTIME_DIR"], mode=0o700)
        self.root = os.path.join(self.env["XDG_DATA_HOME"], "Vorna380")
        self.installed = os.path.join(self.root, "vorna380-launcher")
        self.journal = os.path.join(self.root, "launcher.log")

    def start(self, program):
        # No pipe: the installed copy it starts would keep it open.
        return subprocess.Popen([program], env=self.env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)

    def journal_has(self, line):
        try:
            with open(self.journal, encoding="utf-8") as journal:
                return line in journal.read()
        except OSError:
            return False

    def shot(self, name):
        os.makedirs(self.out, exist_ok=True)
        path = os.path.join(self.out, "%s-%s.png" % (self.flavour, name))
        subprocess.run(["import", "-window", "root", path], check=True)
        print("screenshot:", path)

    def remove(self):
        for pid in running(self.installed):
            os.kill(pid, 9)
        shutil.rmtree(self.folder, ignore_errors=True)


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
    if not os.access(profile.installed, os.X_OK):
        raise Failure("no executable installed launcher at " + profile.installed)
    wait_until(lambda: running(profile.installed), 10, "the installed copy is not running")
    window = find_window(WINDOW_TITLE)
    wait_until(lambda: profile.journal_has(READY_LINE), 240, "the journal never reached the ready line")
    time.sleep(0.5)
    profile.shot("first-run-ready")

    # A second start while one runs.
    second = profile.start(profile.installed)
    box = find_window("Vorna380", timeout=15)
    press(box, "Return")
    wait_exit(second, 0)
    if len(running(profile.installed)) != 1:
        raise Failure("the second start disturbed the first launcher")

    # Closing the ready window ends the launcher and leaves nothing behind.
    click(window, 1088, 16)
    wait_until(lambda: not running(profile.installed), 15, "the launcher still runs after closing")

    # The installed launcher started directly: ready at once, closed with 0.
    again = profile.start(profile.installed)
    window = find_window(WINDOW_TITLE)
    lines = open(profile.journal, encoding="utf-8").read().count(READY_LINE)
    wait_until(lambda: open(profile.journal, encoding="utf-8").read().count(READY_LINE) > lines, 60,
               "the second run did not reach the ready line")
    time.sleep(0.3)
    click(window, 1088, 16)
    wait_exit(again, 0)
    if running(profile.installed):
        raise Failure("a process is left after closing")

    # A release whose signature is wrong.
    serve(server, args.fixtures, "bad-signature")
    broken = profile.start(profile.installed)
    box = find_window("Vorna380 - securite", timeout=60)
    time.sleep(0.3)
    profile.shot("bad-signature")
    press(box, "Return")
    wait_exit(broken, 0)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--launcher", required=True)
    parser.add_argument("--fixtures", required=True)
    parser.add_argument("--out", required=True)
    parser.add_argument("--flavour", required=True)
    args = parser.parse_args()
    if not os.environ.get("VORNA380_RELEASE_SERVER"):
        if os.environ.get("CI", "") not in ("", "0", "false"):
            print("no release server: VORNA380_RELEASE_SERVER unset")
            return 1
        print("no release server: start it with scripts/release-server.sh (see README)")
        return SKIP
    profile = Profile(args.out, args.flavour)
    try:
        run(args, profile)
    except Failure as failure:
        print("FAILED:", failure)
        try:
            profile.shot("failure")
        except Exception:
            pass
        print("journal:\n" + (open(profile.journal, encoding="utf-8").read() if os.path.exists(profile.journal) else ""))
        return 1
    finally:
        profile.remove()
    print("first run: installed, ready, second start refused, closed with 0, bad signature shown")
    return 0


if __name__ == "__main__":
    sys.exit(main())
