#!/usr/bin/python3
"""Time from process start to the launcher's window being shown, on the current X display:
the installed launcher is started in a throwaway profile while `xev` watches the root window,
and the first top-level window mapped counts (then checked by its title with `xdotool`); best
and median of RUNS starts, and the highest resident set of the started process. With
BENCH_STARTUP_OUT set, "BEST_SECONDS PEAK_KIB" is also written to that file. Polling with a program per look would itself slow the start down. The release server is not needed: the window
is shown before the install worker's first request.

    bench-startup.py linux LAUNCHER [RUNS]
    bench-startup.py win32|win64 LAUNCHER.exe [RUNS]   (inside tests/harness/wine-display-run.sh)
"""
import os
import pwd
import shutil
import statistics
import subprocess
import sys
import tempfile
import threading
import time

TITLE = "Vorna380 - installation securisee"
REPO = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, os.path.join(REPO, "tests", "support"))
from x_windows import visible_window  # noqa: E402


def window_shown():
    return visible_window(TITLE) is not None


class MapWatch:
    """Monotonic times of the MapNotify events of the root window's children."""

    def __init__(self):
        self.times = []
        self.event = threading.Event()
        self.xev = subprocess.Popen(["xev", "-root", "-event", "substructure"], stdout=subprocess.PIPE,
                                    stderr=subprocess.DEVNULL, bufsize=0)
        threading.Thread(target=self.read, daemon=True).start()
        time.sleep(0.5)

    def read(self):
        for line in self.xev.stdout:
            if line.startswith(b"MapNotify"):
                self.times.append(time.monotonic())
                self.event.set()

    def first_after(self, start, timeout):
        deadline = start + timeout
        while time.monotonic() < deadline:
            self.event.wait(0.05)
            later = [t for t in self.times if t > start]
            if later:
                return later[0]
        return None

    def stop(self):
        self.xev.kill()
        self.xev.wait()


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
    command = [os.path.join(REPO, "tests", "harness", "wine-run.sh"), flavour,
               "C:\\users\\%s\\AppData\\Local\\Vorna380\\Vorna380-Launcher.exe" % user]
    return command, dict(os.environ), root


def main():
    flavour, launcher = sys.argv[1], sys.argv[2]
    runs = int(sys.argv[3]) if len(sys.argv) > 3 else 5
    command, env, folder = prepare(flavour, launcher)
    times = []
    peak = 0
    watch = MapWatch()
    try:
        for _ in range(runs):
            start = time.monotonic()
            process = subprocess.Popen(command, env=env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            mapped = watch.first_after(start, 60)
            deadline = time.monotonic() + 30
            while mapped is not None and not window_shown() and time.monotonic() < deadline:
                time.sleep(0.05)
            if mapped is None or not window_shown():
                process.kill()
                print("bench-startup: no launcher window within 60 s")
                return 1
            times.append((mapped - start) * 1000)
            process.kill()
            _, _, usage = os.wait4(process.pid, 0)
            process.returncode = -9
            peak = max(peak, usage.ru_maxrss)
            if flavour != "linux":
                subprocess.run(["pkill", "-9", "-f", "Vorna380\\\\Vorna380-Launcher.exe"], check=False)
            while window_shown():
                time.sleep(0.05)
            time.sleep(0.5)
    finally:
        watch.stop()
        shutil.rmtree(folder, ignore_errors=True)
    print("start to shown window (%s, %d runs): best %.0f ms, median %.0f ms, peak %d KiB" %
          (flavour, runs, min(times), statistics.median(times), peak))
    if os.environ.get("BENCH_STARTUP_OUT"):
        with open(os.environ["BENCH_STARTUP_OUT"], "w", encoding="utf-8") as out:
            out.write("%.3f %d\n" % (min(times) / 1000, peak))
    return 0


if __name__ == "__main__":
    sys.exit(main())
