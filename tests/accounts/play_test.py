#!/usr/bin/python3
"""Plays from the launcher window the way a player does, with xdotool on the current X display:
adds two accounts through the credential dialog, chooses the first in the accounts menu, clicks
play twice and checks what the stand-in game received each time; then removes both accounts
with the row's remove glyph. A second scenario clicks play with no game in the client folder.

    play_test.py --program ACCOUNTS_WINDOW --standin TARVO --out FOLDER --flavour NAME
                 --scenario add-and-play|missing-game [--wine win32|win64]
"""
import argparse
import os
import shutil
import subprocess
import sys
import tempfile
import time

from PIL import ImageGrab

sys.path.insert(0, os.path.join(os.path.dirname(os.path.dirname(os.path.abspath(__file__))), "support"))
from x_windows import window_geometry  # noqa: E402

HERE = os.path.dirname(os.path.abspath(__file__))
REPO = os.path.normpath(os.path.join(HERE, "..", ".."))
WINDOW_TITLE = "Vorna380 - installation securisee"
DIALOG_TITLE = "Ajouter un compte Vorna380"
STARTED = "Jeu lance. Le launcher reste disponible."
# Centres of the hit areas, in window pixels.
PLAY, ACCOUNTS, ADD, REMOVE, CLOSE = (376, 271), (510, 271), (925, 330), (1057, 113), (1088, 16)
FIRST = ("joueur@vorna.test", "mot de&passe", "joueur%40vorna.test&mot%20de%26passe")
SECOND = ("second@vorna.test", "autre secret", "second%40vorna.test&autre%20secret")


class Failure(Exception):
    pass


class Session:
    def __init__(self, args):
        self.args = args
        self.windows = args.wine is not None
        self.root = tempfile.mkdtemp(prefix="vorna380-play-")
        self.records = tempfile.mkdtemp(prefix="vorna380-records-")
        self.client = os.path.join(self.root, "Client")
        os.makedirs(self.client)
        os.makedirs(args.out, exist_ok=True)
        self.process = None
        self.origin = (0, 0)

    def native(self, path):
        return "Z:" + path.replace("/", "\\") if self.windows else path

    def start(self):
        command = [self.args.program, self.native(self.root)]
        if self.windows:
            runner = [os.path.join(REPO, "tests", "harness", "wine-run.sh"), self.args.wine]
            subprocess.run(runner + ["reg", "add", "HKCU\\Software\\Wine\\X11 Driver", "/v", "Managed", "/d", "N",
                                     "/f"], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, check=False)
            command = runner + command
        environment = dict(os.environ, VORNA380_TARVO_RECORDS=self.native(self.records))
        self.process = subprocess.Popen(command, env=environment, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
        window = self.find_window(WINDOW_TITLE)
        self.origin = self.geometry(window)[:2]
        self.until(lambda: self.pixel(280, 250) == (0x20, 0x2C, 0x8F), "the window in the ready state", 30)

    def stop(self):
        if self.process is not None and self.process.poll() is None:
            self.process.kill()
            self.process.wait()
        shutil.rmtree(self.root, ignore_errors=True)
        shutil.rmtree(self.records, ignore_errors=True)

    def until(self, condition, what, timeout=15.0):
        deadline = time.monotonic() + timeout
        while not condition():
            if time.monotonic() > deadline:
                raise Failure("waited in vain for %s" % what)
            time.sleep(0.1)

    def find_window(self, title, timeout=30.0, present=True):
        """Id of the visible window with exactly this title (present), or None once it is gone."""
        deadline = time.monotonic() + timeout
        while True:
            found = subprocess.run(["xdotool", "search", "--onlyvisible", "--name", "^%s$" % title],
                                   capture_output=True, text=True).stdout.split()
            if present and found:
                return found[0]
            if not present and not found:
                return None
            if present and self.ended():
                raise Failure("the program ended before %r appeared: %s" % (title, self.exit_text()))
            if time.monotonic() > deadline:
                raise Failure("the window %r did not %s" % (title, "appear" if present else "go away"))
            time.sleep(0.1)

    def ended(self):
        return self.process.poll() is not None

    def exit_text(self):
        code = self.process.poll()
        return "still running" if code is None else "exit code %d: %s" % (
            code, self.process.stderr.read().decode(errors="replace")[-400:])

    def geometry(self, window):
        return window_geometry(window)

    def screen(self):
        return ImageGrab.grab(xdisplay=os.environ["DISPLAY"]).convert("RGB")

    def pixel(self, x, y):
        return self.screen().getpixel((self.origin[0] + x, self.origin[1] + y))

    def click(self, point):
        subprocess.run(["xdotool", "mousemove", str(self.origin[0] + point[0]), str(self.origin[1] + point[1])],
                       check=True)
        time.sleep(0.2)
        subprocess.run(["xdotool", "click", "1"], check=True)

    def keys(self, *keys):
        time.sleep(0.4)
        for key in keys:
            subprocess.run(["xdotool", "key", key], check=True)
            time.sleep(0.1)

    def type_into(self, window, text):
        subprocess.run(["xdotool", "windowfocus", window], check=False)
        time.sleep(0.3)
        subprocess.run(["xdotool", "type", "--delay", "40", text], check=True)

    def selection(self):
        path = os.path.join(self.root, "selected-account.txt")
        return open(path, "rb").read().decode("utf-16-le") if os.path.exists(path) else None

    def journal(self):
        path = os.path.join(self.root, "launcher.log")
        return open(path, "rb").read().decode("utf-8") if os.path.exists(path) else ""

    def record(self, n, timeout=60.0):
        path = os.path.join(self.records, "record-%d.txt" % n)
        self.until(lambda: os.path.exists(path), "record %d of the stand-in game" % n, timeout)
        time.sleep(0.2)
        folder, _, reply = open(path, "rb").read().decode("utf-8").partition("\n")
        return folder, reply.partition("\r\n\r\n")[2]

    def add_account(self, login, password):
        self.click(ADD)
        dialog = self.find_window(DIALOG_TITLE)
        shot = self.screen()
        self.type_into(dialog, login)
        self.keys("Tab")
        self.type_into(dialog, password)
        self.keys("Return")
        self.find_window(DIALOG_TITLE, present=False)
        self.until(lambda: self.selection() == login, "%s to become the selected account" % login)
        return shot

    def choose_in_menu(self, login):
        """Opens the accounts menu and picks entries from the top until the login is selected."""
        for position in range(1, 3):
            self.click(ACCOUNTS)
            self.keys(*(["Down"] * position + ["Return"]))
            time.sleep(0.5)
            if self.selection() == login:
                return
        raise Failure("%s could not be chosen in the accounts menu (selection: %r)" % (login, self.selection()))

    def close_window(self):
        self.click(CLOSE)
        try:
            code = self.process.wait(timeout=30)
        except subprocess.TimeoutExpired:
            raise Failure("the window did not close")
        if code != 0:
            raise Failure("the launcher ended with %s" % self.exit_text())


def same_folder(a, b, windows):
    return a.lower().rstrip("\\") == b.lower().rstrip("\\") if windows else a == b


def add_and_play(session):
    shutil.copy(session.args.standin, os.path.join(session.client, "Tarvo.exe"))
    os.chmod(os.path.join(session.client, "Tarvo.exe"), 0o755)
    session.start()
    dialog_shot = session.add_account(*FIRST[:2])
    dialog_shot.save(os.path.join(session.args.out, "%s-account-dialog.png" % session.args.flavour))
    session.add_account(*SECOND[:2])
    session.choose_in_menu(FIRST[0])
    time.sleep(0.3)
    session.screen().save(os.path.join(session.args.out, "%s-account-chosen.png" % session.args.flavour))

    for click in (1, 2):
        session.click(PLAY)
        folder, body = session.record(click)
        if not same_folder(folder, session.native(session.client), session.windows):
            raise Failure("the game ran in %r, not in the client folder" % folder)
        if body != FIRST[2]:
            raise Failure("play %d handed the game %r, expected %r" % (click, body, FIRST[2]))
    time.sleep(2)
    if os.path.exists(os.path.join(session.records, "record-3.txt")):
        raise Failure("two clicks started more than two games")

    # Clean up through the window: the row's glyph removes the selected account.
    session.click(REMOVE)
    session.until(lambda: session.selection() == "", "the selection to be emptied")
    session.choose_in_menu(SECOND[0])
    session.click(REMOVE)
    session.until(lambda: session.selection() == "", "the selection to be emptied")
    session.close_window()

    journal = session.journal()
    if journal.count(STARTED) != 2:
        raise Failure("the journal shows %d game starts, expected 2:\n%s" % (journal.count(STARTED), journal))
    for password in (FIRST[1], SECOND[1]):
        for folder, _, files in os.walk(session.root):
            for name in files:
                path = os.path.join(folder, name)
                data = open(path, "rb").read()
                if name != "Tarvo.exe" and (password.encode() in data or password.encode("utf-16-le") in data):
                    raise Failure("a password was written to %s" % path)


def missing_game(session):
    session.start()
    session.click(PLAY)
    box = session.find_window("Vorna380", timeout=15)
    session.screen().save(os.path.join(session.args.out, "%s-missing-game.png" % session.args.flavour))
    subprocess.run(["xdotool", "windowfocus", box], check=False)
    session.keys("Return")
    session.find_window("Vorna380", present=False)
    session.close_window()
    if "Tarvo" in session.journal() or os.listdir(session.records):
        raise Failure("a missing game left a journal line or a record:\n%s" % session.journal())


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--program", required=True)
    parser.add_argument("--standin", required=True)
    parser.add_argument("--out", required=True)
    parser.add_argument("--flavour", required=True)
    parser.add_argument("--scenario", required=True, choices=("add-and-play", "missing-game"))
    parser.add_argument("--wine", choices=("win32", "win64"))
    args = parser.parse_args()
    session = Session(args)
    try:
        (add_and_play if args.scenario == "add-and-play" else missing_game)(session)
    except Failure as failure:
        print("FAILED: %s" % failure)
        return 1
    finally:
        session.stop()
    print("passed: %s %s" % (args.flavour, args.scenario))
    return 0


if __name__ == "__main__":
    sys.exit(main())
