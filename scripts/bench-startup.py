#!/usr/bin/python3
"""Time from process start to the launcher's window being shown, on the current X display:
the installed launcher is started in a throwaway profile and `xdotool search` is polled for its
visible window; best and median of RUNS starts. The release server is not needed: the window
is shown before the install worker's first request.

    bench-startup.py linux LAUNCHER [RUNS]
    bench-startup.py win32|win64 LAUNCHER.exe [RUNS]   (inside scripts/wine-display-run.sh)
"""
import os
import pwd
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

TITLE = "^Vorna380 - installation securisee$"
REPO = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))


def window_shown():
    return subprocess.run(["xdotool", "search", "--onlyvisible", "--name", TITLE],
                          capture_output=True).stdout.strip() != b""


def prepare(flavour, launcher):
    """The installed launcher's command and environment, and the folder to remove afterwards."""
    if flavour == "linux":
        folder = tempfile.mkdtemp(prefix="vorna380-bench-startup-")
        data, run = os.path.join(folder, "data"), os.path.join(folder, "run")
        os.makedirs(os.path.join(data, "Vorna380"))
        os.makedirs(run, mode=0o700)
        installed = os.path.join(data, "Vorna380", "vorna380-launcher")
        shutil.copy2(launcher, installed)
        return [installed], dict(os.environ, XDG_DATA_HOME=data, XDG_RUNTIME_DIR=run), folder
    prefix = os.environ["VORNA380_WINEPREFIX_" + flavour.upper()]
    user = os.environ.get("USER") or pwd.getpwuid(os.getuid()).pw_name
    root = os.path.join(prefix, "drive_c", "users", user, "AppData", "Local", "Vorna380")
    shutil.rmtree(root, ignore_errors=True)
    os.makedirs(root)
    shutil.copy2(launcher, os.path.join(root, "Vorna380-Launcher.exe"))
    command = [os.path.join(REPO, "scripts", "wine-run.sh"), flavour,
               "C:\\users\\%s\\AppData\\Local\\Vorna380\\Vorna380-Launcher.exe" % user]
    return command, dict(os.environ), root


def main():
    flavour, launcher = sys.argv[1], sys.argv[2]
    runs = int(sys.argv[3]) if len(sys.argv) > 3 else 5
    command, env, folder = prepare(flavour, launcher)
    times = []
    try:
        for _ in range(runs):
            start = time.monotonic()
            process = subprocess.Popen(command, env=env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            while not window_shown():
                if time.monotonic() - start > 60:
                    process.kill()
                    print("bench-startup: no window within 60 s")
                    return 1
                time.sleep(0.002)
            times.append((time.monotonic() - start) * 1000)
            process.kill()
            process.wait()
            if flavour != "linux":
                subprocess.run(["pkill", "-9", "-f", "Vorna380\\\\Vorna380-Launcher.exe"], check=False)
            while window_shown():
                time.sleep(0.05)
            time.sleep(0.5)
    finally:
        shutil.rmtree(folder, ignore_errors=True)
    print("start to shown window (%s, %d runs): best %.0f ms, median %.0f ms" %
          (flavour, runs, min(times), statistics.median(times)))
    return 0


if __name__ == "__main__":
    sys.exit(main())
