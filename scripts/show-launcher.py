#!/usr/bin/python3
"""Starts the launcher in a fresh profile on the current X display against the release server
that runs, waits for the ready state, saves a screenshot, closes the window as a player would
and prints where the screenshot and the journal are.

    show-launcher.py LAUNCHER PROFILE_FOLDER SCREENSHOT
"""
import os
import shutil
import subprocess
import sys
import time

WINDOW_TITLE = "Vorna380 - installation securisee"
READY_LINE = "Installation terminee. Pret a jouer."
ERROR_BOX = "Vorna380 - securite"

sys.path.insert(0, os.path.join(os.path.dirname(os.path.dirname(os.path.abspath(__file__))), "tests", "support"))
from x_windows import click, missing_tools, running, screenshot as save_screenshot, visible_window  # noqa: E402


def main():
    launcher, profile, screenshot = sys.argv[1:4]
    missing = missing_tools()
    if missing:
        print("cannot drive and photograph the launcher without %s; scripts/setup.sh installs them"
              % " and ".join(missing))
        return 1
    shutil.rmtree(profile, ignore_errors=True)
    env = dict(os.environ, XDG_DATA_HOME=os.path.join(profile, "data"), XDG_RUNTIME_DIR=os.path.join(profile, "run"))
    os.makedirs(env["XDG_DATA_HOME"])
    os.makedirs(env["XDG_RUNTIME_DIR"], mode=0o700)
    root = os.path.join(env["XDG_DATA_HOME"], "Vorna380")
    installed, journal = os.path.join(root, "vorna380-launcher"), os.path.join(root, "launcher.log")

    code = subprocess.run([launcher], env=env).returncode
    print("launcher installed itself into %s and ended with %d" % (root, code))
    ready = False
    deadline = time.monotonic() + 300
    while time.monotonic() < deadline:
        text = open(journal, encoding="utf-8").read() if os.path.exists(journal) else ""
        if READY_LINE in text and visible_window(WINDOW_TITLE):
            ready = True
            break
        if visible_window(ERROR_BOX):
            break
        time.sleep(0.2)
    time.sleep(0.5)
    save_screenshot(screenshot)
    main_window = visible_window(WINDOW_TITLE)
    if ready and main_window:
        click(main_window, 1088, 16)
    deadline = time.monotonic() + 15
    while running(installed) and time.monotonic() < deadline:
        time.sleep(0.1)
    left = running(installed)
    for pid in left:
        os.kill(pid, 9)
    print("screenshot: %s" % screenshot)
    print("journal: %s" % journal)
    if not ready:
        print("the launcher did not reach the ready state")
        return 1
    if left:
        print("the launcher did not end after its window was closed")
        return 1
    print("the launcher reached the ready state and ended when its window was closed")
    return 0


if __name__ == "__main__":
    sys.exit(main())
