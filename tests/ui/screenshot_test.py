#!/usr/bin/python3
"""Opens the launcher window in one state on the current X display, checks pixels of known
colour at known places of its screenshot, saves the screenshot, and closes the window the
way a player would (xdotool), checking what happens.

    screenshot_test.py --demo PROGRAM --out FOLDER --scenario NAME [--wine win32|win64]

Scenarios: wait, download, download-rate (a growing file: the rate and time left, shot after
the warm-up), verify, ready, ready-account, error (the window), broken (a build
whose image 209 is not a PNG: the graphics message and exit code 1).
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
WIDTH, HEIGHT = 1106, 676


class Failure(Exception):
    pass


def colour(hex_text):
    value = int(hex_text.lstrip("#"), 16)
    return (value >> 16) & 255, (value >> 8) & 255, value & 255


def close_to(pixel, expected, tolerance):
    return all(abs(pixel[i] - expected[i]) <= tolerance for i in range(3))


# Checks: ("at", x, y, "#RRGGBB", label) a pixel of that colour; ("some", left, top, right,
# bottom, "#RRGGBB", count, label) at least count pixels near that colour in the rectangle;
# ("art", x, y, label) a pixel of the background art (bluish, not a fill colour).
COMMON = [
    ("at", 500, 5, "#141414", "title bar"),
    ("at", 6, 6, "#141414", "title bar inside the rounded corner"),
    ("at", 1, 1, "#000000", "rounded corner cut out of the window"),
    ("at", 1104, 674, "#000000", "rounded lower right corner cut out"),
    ("at", 38, 400, "#131313", "left rail"),
    ("at", 5, 138, "#373737", "server tile"),
    ("at", 20, 96, "#273765", "server badge fill"),
    ("at", 17, 96, "#6A84E6", "server badge outline"),
    ("some", 17, 75, 59, 117, "#A5E2FF", 6, "server badge text S2"),
    ("at", 778, 55, "#111211", "accounts panel"),
    ("at", 1070, 200, "#171817", "accounts panel body"),
    ("at", 900, 95, "#1C1D1C", "account row"),
    ("at", 790, 330, "#202C8F", "add-account button"),
    ("at", 98, 361, "#5B69FF", "information button"),
    ("at", 150, 361, "#ECECF4", "language button"),
    ("some", 144, 340, 186, 382, "#171717", 6, "language label FR"),
    ("at", 1100, 430, "#1F2484", "progress band"),
    ("at", 90, 660, "#101110", "lower panel"),
    ("some", 246, 105, 566, 157, "#86DFFF", 40, "game title"),
    ("some", 170, 476, 336, 500, "#FFFFFF", 10, "version value"),
    ("art", 300, 60, "background art"),
    ("art", 700, 380, "background art, lower left"),
]
NO_BAR = [("at", 80, 402, "#1F2484", "no progress bar")]
STATUS_LINE = [("some", 210, 238, 603, 306, "#FFFFFF", 60, "status line")]
WAIT_VALUE = [("some", 866, 476, 1032, 500, "#FFFFFF", 10, "status value in white")]
ORANGE_MARK = [("some", 814, 93, 840, 135, "#FF8F0E", 4, "orange mark: no account")]
READY = [
    ("at", 1105, 402, "#4D64E2", "full progress bar"),
    ("at", 280, 250, "#202C8F", "play button"),
    ("at", 350, 245, "#313B97", "play button outline"),
    ("at", 486, 250, "#313B97", "accounts button"),
    ("at", 510, 245, "#3A46AD", "accounts button outline"),
] + WAIT_VALUE

SCENARIOS = {
    "wait": COMMON + NO_BAR + STATUS_LINE + WAIT_VALUE + ORANGE_MARK,
    "download": COMMON + STATUS_LINE + WAIT_VALUE + [
        ("at", 80, 402, "#4D64E2", "bar start"),
        ("at", 590, 404, "#4D64E2", "last bar pixel at 515 of 1030"),
        ("at", 591, 402, "#1F2484", "band after the bar"),
        ("at", 80, 405, "#1F2484", "band below the 4-pixel bar"),
    ],
    # The figures after the warm-up: rate and time left follow them in the band's text.
    "download-rate": COMMON + STATUS_LINE + [
        ("at", 80, 402, "#4D64E2", "bar start"),
        ("some", 600, 410, 1106, 439, "#FFFFFF", 20, "band text reaching past the middle"),
    ],
    "verify": COMMON + STATUS_LINE + [
        ("at", 516, 402, "#4D64E2", "last bar pixel at 441 of 1030"),
        ("at", 517, 402, "#1F2484", "band after the bar"),
    ],
    "ready": COMMON + READY + ORANGE_MARK,
    "ready-account": COMMON + READY + [("some", 814, 93, 840, 135, "#11B823", 4, "green mark: account selected")],
    "error": [check for check in COMMON if check[0] != "art" and check[-1] not in ("game title", "add-account button")]
    + [("some", 866, 476, 1032, 500, "#FF5F5F", 10, "status value in red")],
}


class Session:
    def __init__(self, args):
        self.args = args
        self.windows = args.wine is not None
        self.scratch = tempfile.mkdtemp(prefix="vorna380-ui-")
        self.process = None
        self.origin = (0, 0)
        self.out = args.out
        os.makedirs(self.out, exist_ok=True)

    def native(self, path):
        return "Z:" + path.replace("/", "\\") if self.windows else path

    def start(self, scenario):
        command = [self.args.demo, scenario, self.native(os.path.join(self.scratch, "launcher.log")),
                   self.native(self.scratch)]
        if self.windows:
            runner = [os.path.join(REPO, "tests", "harness", "wine-run.sh"), self.args.wine]
            # Boxes of an unmanaged window close at once under a bare X server.
            subprocess.run(runner + ["reg", "add", "HKCU\\Software\\Wine\\X11 Driver", "/v", "Managed", "/d", "N",
                                     "/f"], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, check=False)
            command = runner + command
        self.process = subprocess.Popen(command, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)

    def stop(self):
        if self.process is not None and self.process.poll() is None:
            self.process.kill()
            self.process.wait()
        shutil.rmtree(self.scratch, ignore_errors=True)

    def find_window(self, title, timeout=30.0, present=True):
        """Id of the visible window with exactly this title, or None (when present is False, waits
        for it to be gone)."""
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            found = subprocess.run(["xdotool", "search", "--onlyvisible", "--name", "^%s$" % title],
                                   capture_output=True, text=True).stdout.split()
            if present and found:
                return found[0]
            if not present and not found:
                return None
            if self.process.poll() is not None and present:
                break
            time.sleep(0.1)
        if present:
            raise Failure("no window named %r appeared (program %s)" % (title, self.exit_text()))
        raise Failure("the window named %r did not go away" % title)

    def exit_text(self):
        code = self.process.poll()
        if code is None:
            return "still running"
        return "ended with %d: %s" % (code, self.process.stderr.read().decode(errors="replace")[-400:])

    def geometry(self, window):
        return window_geometry(window)

    def screen(self):
        return ImageGrab.grab(xdisplay=os.environ["DISPLAY"]).convert("RGB")

    def window_shot(self):
        x, y = self.origin
        return self.screen().crop((x, y, x + WIDTH, y + HEIGHT))

    def save(self, image, name):
        path = os.path.join(self.out, name + ".png")
        image.save(path)
        return path

    def pointer(self, x, y):
        subprocess.run(["xdotool", "mousemove", str(self.origin[0] + x), str(self.origin[1] + y)], check=True)

    def click(self, x, y):
        self.pointer(x, y)
        time.sleep(0.15)
        subprocess.run(["xdotool", "click", "1"], check=True)

    def key_to(self, window, key):
        x, y, w, h = self.geometry(window)
        subprocess.run(["xdotool", "mousemove", str(x + w // 2), str(y + 5)], check=True)
        subprocess.run(["xdotool", "windowfocus", window], check=False)
        time.sleep(0.3)
        subprocess.run(["xdotool", "key", key], check=True)

    def wait_exit(self, expected, timeout=20.0):
        try:
            code = self.process.wait(timeout=timeout)
        except subprocess.TimeoutExpired:
            raise Failure("the program did not end")
        if code != expected:
            raise Failure("exit code %d, expected %d (%s)" % (code, expected, self.exit_text()))


def failed_checks(image, checks, tolerance=6):
    failures = []
    pixels = image.load()
    for check in checks:
        kind = check[0]
        if kind == "at":
            _, x, y, expected, label = check
            got = pixels[x, y]
            if not close_to(got, colour(expected), tolerance):
                failures.append("%s: (%d, %d) is #%02X%02X%02X, expected %s" % ((label, x, y) + got + (expected,)))
        elif kind == "some":
            _, left, top, right, bottom, expected, count, label = check
            target = colour(expected)
            found = sum(1 for y in range(top, bottom) for x in range(left, right)
                        if close_to(pixels[x, y], target, 40))
            if found < count:
                failures.append("%s: %d pixels near %s in (%d, %d)-(%d, %d), expected %d or more"
                                % (label, found, expected, left, top, right, bottom, count))
        elif kind == "art":
            _, x, y, label = check
            r, g, b = pixels[x, y]
            if not (b > r + 8 and b > 24):
                failures.append("%s: (%d, %d) is #%02X%02X%02X, not the blue night art" % (label, x, y, r, g, b))
    return failures


def settle(session, checks, timeout=20.0):
    """Screenshots until every check holds (the scenario's messages arrive within moments)."""
    deadline = time.monotonic() + timeout
    while True:
        shot = session.window_shot()
        failures = failed_checks(shot, checks)
        if not failures or time.monotonic() > deadline:
            return shot, failures
        time.sleep(0.25)


def expect_checks(session, checks, name):
    shot, failures = settle(session, checks)
    path = session.save(shot, name)
    if failures:
        raise Failure("%s (screenshot %s):\n  %s" % (name, path, "\n  ".join(failures)))
    return shot


def answer_question(session, key, keep_screenshot):
    box = session.find_window("Vorna380", timeout=15)
    if keep_screenshot:
        session.save(session.screen(), "%s-%s-question" % (session.args.flavour, session.args.scenario))
    session.key_to(box, key)
    session.find_window("Vorna380", timeout=15, present=False)


def drag(session, window):
    """The top strip moves the window."""
    start = session.origin
    session.pointer(600, 16)
    subprocess.run(["xdotool", "mousedown", "1"], check=True)
    for step in range(1, 5):
        time.sleep(0.1)
        subprocess.run(["xdotool", "mousemove", str(start[0] + 600 + 10 * step), str(start[1] + 16 + 8 * step)],
                       check=True)
    time.sleep(0.2)
    subprocess.run(["xdotool", "mouseup", "1"], check=True)
    deadline = time.monotonic() + 5
    while time.monotonic() < deadline:
        x, y = session.geometry(window)[:2]
        if (x, y) == (start[0] + 40, start[1] + 32):
            session.origin = (x, y)
            return
        time.sleep(0.1)
    raise Failure("dragging the top strip by (40, 32) moved the window from %s to %s" % (start, (x, y)))


def run(session):
    scenario = session.args.scenario
    name = "%s-%s" % (session.args.flavour, scenario)
    if scenario == "broken":
        session.start("wait")
        box = session.find_window("Vorna380")
        session.save(session.screen(), name)
        if subprocess.run(["xdotool", "search", "--onlyvisible", "--name", "^%s$" % WINDOW_TITLE],
                          capture_output=True).stdout.strip():
            raise Failure("the launcher window opened although an image is broken")
        session.key_to(box, "Return")
        session.wait_exit(1)
        return

    session.start(scenario)
    window = session.find_window(WINDOW_TITLE)
    x, y, w, h = session.geometry(window)
    if (w, h) != (WIDTH, HEIGHT):
        raise Failure("window is %d x %d" % (w, h))
    if (x, y) != ((1280 - WIDTH) // 2, (800 - HEIGHT) // 2):
        raise Failure("window at (%d, %d), not centred on the 1280 x 800 screen" % (x, y))
    session.origin = (x, y)
    if scenario == "download-rate":
        time.sleep(4.5)  # past the rate's warm-up, before the file stops growing

    if scenario == "error":
        # The error state is painted before its box appears; the box covers the middle.
        box = session.find_window("Vorna380 - securite")
        expect_checks(session, SCENARIOS["error"], name)
        session.save(session.screen(), name + "-screen")
        session.key_to(box, "Return")
        session.wait_exit(0)
        return

    expect_checks(session, SCENARIOS[scenario], name)
    if scenario.startswith("ready"):
        drag(session, window)
        session.pointer(300, 270)
        expect_checks(session, [("at", 280, 250, "#2F3CB2", "play button under the pointer")], name + "-hover-play")
        session.pointer(1088, 16)
        expect_checks(session, [("at", 280, 250, "#202C8F", "play button after the pointer left"),
                                ("some", 1070, 0, 1106, 33, "#FF5F5F", 4, "close glyph under the pointer")],
                      name + "-hover-close")
        session.click(1088, 16)
        session.find_window(WINDOW_TITLE, timeout=15, present=False)
        session.wait_exit(0)
    else:
        # While work is under way the close glyph asks first: no keeps the window, yes closes it.
        no_key = "n" if session.windows else "Escape"
        session.click(1088, 16)
        answer_question(session, no_key, True)
        time.sleep(0.5)
        if session.process.poll() is not None:
            raise Failure("answering no closed the window (%s)" % session.exit_text())
        session.find_window(WINDOW_TITLE, timeout=5)
        session.click(1088, 16)
        answer_question(session, "Return", False)
        session.wait_exit(0)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--demo", required=True)
    parser.add_argument("--out", required=True)
    parser.add_argument("--scenario", required=True, choices=sorted(SCENARIOS) + ["broken"])
    parser.add_argument("--flavour", required=True)
    parser.add_argument("--wine", choices=("win32", "win64"))
    args = parser.parse_args()
    session = Session(args)
    try:
        run(session)
    except Failure as failure:
        print("FAILED: %s" % failure)
        return 1
    finally:
        session.stop()
    print("passed: %s %s, screenshots in %s" % (args.flavour, args.scenario, args.out))
    return 0


if __name__ == "__main__":
    sys.exit(main())
