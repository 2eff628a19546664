"""Windows on the current X display, for the tests and scripts that drive the launcher with
xdotool: finding a window by its exact title, its place, clicks and keys, and the processes
of a program, and screenshots of the whole display."""
import os
import shutil
import subprocess
import time


class Failure(Exception):
    pass


def missing_tools():
    """What this module needs and does not find, as 'what (package)' texts."""
    missing = []
    if shutil.which("xdotool") is None:
        missing.append("the xdotool program (package xdotool)")
    try:
        from PIL import ImageGrab  # noqa: F401
    except ImportError:
        missing.append("the Python imaging library (package python3-pil)")
    return missing


def screenshot(path):
    """Saves the whole display (DISPLAY) as a PNG file."""
    from PIL import ImageGrab
    os.makedirs(os.path.dirname(os.path.abspath(path)), exist_ok=True)
    ImageGrab.grab(xdisplay=os.environ["DISPLAY"]).save(path)


def visible_window(title):
    """Id of a visible window with exactly this title, or None."""
    try:
        found = subprocess.run(["xdotool", "search", "--onlyvisible", "--name", "^%s$" % title],
                               capture_output=True, text=True, timeout=10).stdout.split()
    except subprocess.TimeoutExpired:
        return None
    return found[0] if found else None


def find_window(title, timeout=30.0, present=True):
    """Waits for the window to appear (or, when present is False, to go away)."""
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        found = visible_window(title)
        if (found is not None) == present:
            return found
        time.sleep(0.1)
    raise Failure("window %r %s" % (title, "never appeared" if present else "did not go away"))


def window_geometry(window):
    """x, y, width and height of the window on the screen."""
    text = subprocess.run(["xdotool", "getwindowgeometry", "--shell", window], capture_output=True,
                          text=True).stdout
    values = dict(line.split("=", 1) for line in text.split() if "=" in line)
    return int(values["X"]), int(values["Y"]), int(values["WIDTH"]), int(values["HEIGHT"])


def click(window, x, y):
    """A left click at (x, y) inside the window."""
    left, top, _, _ = window_geometry(window)
    subprocess.run(["xdotool", "mousemove", str(left + x), str(top + y)], check=True)
    time.sleep(0.2)
    subprocess.run(["xdotool", "click", "1"], check=True)


def press(window, key):
    """Keys go to the focused window: the pointer over it and the focus on it first."""
    left, top, width, _ = window_geometry(window)
    subprocess.run(["xdotool", "mousemove", str(left + width // 2), str(top + 5)], check=True)
    subprocess.run(["xdotool", "windowfocus", window], check=False)
    time.sleep(0.2)
    subprocess.run(["xdotool", "key", key], check=True)


def running(program):
    """PIDs of the processes whose executable is program."""
    pids = []
    for entry in filter(str.isdigit, os.listdir("/proc")):
        try:
            if os.readlink("/proc/%s/exe" % entry) == program:
                pids.append(int(entry))
        except OSError:
            pass
    return pids


def ended(pid):
    """True once the process is gone or a zombie: its files, and the locks they hold, are closed.
    Its executable link goes earlier, while it still exits."""
    try:
        with open("/proc/%d/stat" % pid) as stat:
            return stat.read().rsplit(")", 1)[1].split()[0] in ("Z", "X")
    except (OSError, IndexError):
        return True


def wait_until(condition, timeout, what):
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        if condition():
            return
        time.sleep(0.1)
    raise Failure(what)
