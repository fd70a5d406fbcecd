#!/usr/bin/python3
"""Real input against wobzy.exe running under Wine on the X display of the test run.

usage: panel_real_input_test.py CHECK WOBZY_EXE [--save-screenshot PNG]
  close        a real press on the close box ends the process with exit code 0
  drag         a real drag moves the panel, the grabbed pixel staying under the cursor
  drop         a real XDND drag-and-drop of two image files writes both GIFs
  screenshots  the face, the frame lines, the fixed label and "%", the prompt and close box
               shaking within their bounds between ticks
Needs DISPLAY and WINEPREFIX (scripts/wine-env), xdotool and ImageMagick.
"""
import os
import subprocess
import sys
import tempfile
import time
import urllib.parse

from Xlib import X, display
from Xlib.protocol import event

PANEL_WIDTH, PANEL_HEIGHT = 239, 102
CLOSE_BOX_POINT = (221, 10)
WAIT_SECONDS = 20


def fail(message):
    print("FAIL: " + message)
    sys.exit(1)


def check(condition, message):
    if not condition:
        fail(message)


def xdotool(*args):
    return subprocess.run(["xdotool", *map(str, args)], check=True, capture_output=True, text=True).stdout


def wait_for(what, probe, seconds=WAIT_SECONDS):
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        result = probe()
        if result:
            return result
        time.sleep(0.05)
    fail("gave up waiting for " + what)


class Panel:
    """wobzy.exe started under Wine, and its panel window on the X display."""

    def __init__(self, exe):
        self.process = subprocess.Popen(["wine", exe], stdin=subprocess.DEVNULL,
                                        stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        self.window = wait_for("the panel window", self._find_window)

    def _find_window(self):
        found = subprocess.run(["xdotool", "search", "--onlyvisible", "--pid", str(self.process.pid),
                                "--name", "^Wobzy$"], capture_output=True, text=True).stdout.split()
        if not found:
            # Wine may report the pid of its preloader's child; the name alone then.
            found = subprocess.run(["xdotool", "search", "--onlyvisible", "--name", "^Wobzy$"],
                                   capture_output=True, text=True).stdout.split()
        for window in found:
            if self.geometry(int(window))[2:] == (PANEL_WIDTH, PANEL_HEIGHT):
                return int(window)
        return None

    def geometry(self, window=None):
        values = dict(line.split("=") for line in
                      xdotool("getwindowgeometry", "--shell", window or self.window).split())
        return int(values["X"]), int(values["Y"]), int(values["WIDTH"]), int(values["HEIGHT"])

    def origin(self):
        return self.geometry()[:2]

    def screen_point(self, client_x, client_y):
        x, y = self.origin()
        return x + client_x, y + client_y

    def close_by_click(self):
        xdotool("mousemove", *self.screen_point(*CLOSE_BOX_POINT), "click", "1")
        try:
            return self.process.wait(timeout=WAIT_SECONDS)
        except subprocess.TimeoutExpired:
            fail("the panel did not close on a press on its close box")

    def stop(self):
        if self.process.poll() is None:
            self.process.kill()
            self.process.wait()


def check_close(exe):
    panel = Panel(exe)
    check(panel.close_by_click() == 0, "exit code is not 0")


def check_drag(exe):
    panel = Panel(exe)
    try:
        grab = (60, 30)
        start = panel.screen_point(*grab)
        xdotool("mousemove", *start, "mousedown", "1")
        for step in range(1, 6):
            cursor = (start[0] - 40 * step, start[1] + 25 * step)
            xdotool("mousemove", *cursor)
            expected = (cursor[0] - grab[0], cursor[1] - grab[1])
            wait_for("the panel at %s" % (expected,), lambda: panel.origin() == expected, seconds=5)
        xdotool("mouseup", "1")
        released = panel.origin()
        xdotool("mousemove", released[0] + 150, released[1] + 100)
        time.sleep(0.3)
        check(panel.origin() == released, "the panel follows the mouse after the release")
        check(panel.close_by_click() == 0, "exit code is not 0 after a drag")
    finally:
        panel.stop()


def xdnd_drop(window_id, paths, point):
    """Drags `paths` from a helper X window onto the window, as a file manager does (XDND)."""
    conn = display.Display()
    root = conn.screen().root
    atom = lambda name: conn.intern_atom(name)
    source = root.create_window(0, 0, 1, 1, 0, X.CopyFromParent)
    uri_list = "".join("file://" + urllib.parse.quote(p) + "\r\n" for p in paths).encode()
    source.set_selection_owner(atom("XdndSelection"), X.CurrentTime)

    target = conn.create_resource_object("window", window_id)
    aware = None
    while aware is None:  # the top-level window carrying XdndAware, the panel's or a parent
        aware = target.get_full_property(atom("XdndAware"), X.AnyPropertyType)
        if aware is None:
            parent = target.query_tree().parent
            check(parent.id != root.id, "no XdndAware window above the panel")
            target = parent
    version = min(5, aware.value[0])

    def send(name, data):
        message = event.ClientMessage(window=target, client_type=atom(name), data=(32, data))
        target.send_event(message, event_mask=0)
        conn.flush()

    send("XdndEnter", [source.id, version << 24, atom("text/uri-list"), 0, 0])
    send("XdndPosition", [source.id, 0, (point[0] << 16) | point[1], X.CurrentTime, atom("XdndActionCopy")])
    deadline = time.monotonic() + WAIT_SECONDS
    dropped = False
    while time.monotonic() < deadline:
        if not conn.pending_events():
            time.sleep(0.01)
            continue
        e = conn.next_event()
        if e.type == X.SelectionRequest:
            e.requestor.change_property(e.property, e.target, 8, uri_list)
            notify = event.SelectionNotify(time=e.time, requestor=e.requestor, selection=e.selection,
                                           target=e.target, property=e.property)
            e.requestor.send_event(notify)
            conn.flush()
        elif e.type == X.ClientMessage and e.client_type == atom("XdndStatus"):
            if e.data[1][1] & 1 and not dropped:
                send("XdndDrop", [source.id, 0, X.CurrentTime, 0, 0])
                dropped = True
            elif not dropped:
                fail("the panel refused the drop")
        elif e.type == X.ClientMessage and e.client_type == atom("XdndFinished"):
            conn.close()
            return
    fail("the drop did not finish")


def frame_count(gif):
    result = subprocess.run(["identify", gif], capture_output=True, text=True)
    return len(result.stdout.splitlines()) if result.returncode == 0 else 0


def check_drop(exe):
    with tempfile.TemporaryDirectory(prefix="wobzy-drop-") as folder:
        sources = [os.path.join(folder, "first.png"), os.path.join(folder, "second picture.png")]
        subprocess.run(["convert", "-size", "64x48", "gradient:navy-yellow", sources[0]], check=True)
        subprocess.run(["convert", "-size", "40x60", "plasma:fractal", "-seed", "3", sources[1]], check=True)
        panel = Panel(exe)
        try:
            xdnd_drop(panel.window, sources, panel.screen_point(60, 30))
            for source in sources:
                gif = source + "_wob.gif"
                wait_for(gif, lambda: os.path.exists(gif) and frame_count(gif) == 5)
            check(panel.close_by_click() == 0, "exit code is not 0 after a drop")
        finally:
            panel.stop()


def system_colours():
    """The colours that Wine's registry gives the prefix: face, dark shadow and shadow."""
    colours = {}
    section = None
    with open(os.path.join(os.environ["WINEPREFIX"], "user.reg"), encoding="utf-8", errors="replace") as f:
        for line in f:
            if line.startswith("["):
                section = line.split("]")[0] + "]"
            if section != "[Control Panel\\\\Colors]":
                continue
            for name in ("ButtonFace", "ButtonDkShadow", "ButtonShadow"):
                if line.startswith('"%s"=' % name):
                    colours[name] = tuple(int(v) for v in line.split("=")[1].strip().strip('"').split())
    check(len(colours) == 3, "system colours not found in the prefix")
    return colours["ButtonFace"], colours["ButtonDkShadow"], colours["ButtonShadow"]


def screenshot(window):
    """The window's pixels as rows of (r, g, b)."""
    ppm = subprocess.run(["import", "-window", str(window), "-depth", "8", "ppm:-"],
                         check=True, capture_output=True).stdout
    fields = ppm.split(maxsplit=4)
    width, height, pixels = int(fields[1]), int(fields[2]), fields[4]
    return [[tuple(pixels[(y * width + x) * 3:(y * width + x) * 3 + 3]) for x in range(width)]
            for y in range(height)]


def ink(shot, left, top, right, bottom, face):
    """Bounds (left, top, right, bottom, exclusive) of the pixels in the area that are not the face."""
    points = [(x, y) for y in range(top, bottom) for x in range(left, right) if shot[y][x] != face]
    if not points:
        return None
    xs, ys = [p[0] for p in points], [p[1] for p in points]
    return min(xs), min(ys), max(xs) + 1, max(ys) + 1


def crop(shot, left, top, right, bottom):
    return [row[left:right] for row in shot[top:bottom]]


def check_screenshots(exe, save_path=None):
    face, dark_shadow, shadow = system_colours()
    panel = Panel(exe)
    try:
        time.sleep(0.3)
        shots = []
        for _ in range(8):
            shots.append(screenshot(panel.window))
            time.sleep(0.12)  # two or three ticks of 50 ms apart
        if save_path:
            subprocess.run(["import", "-window", str(panel.window), save_path], check=True)
        for shot in shots:
            check(len(shot) == PANEL_HEIGHT and len(shot[0]) == PANEL_WIDTH, "screenshot size")
            for x in (0, 119, 238):
                check(shot[0][x] == dark_shadow and shot[101][x] == dark_shadow, "outer frame row at x %d" % x)
            for y in (0, 50, 101):
                check(shot[y][0] == dark_shadow and shot[y][238] == dark_shadow, "outer frame column at y %d" % y)
            for x in (1, 119, 237):
                check(shot[1][x] == shadow and shot[100][x] == shadow, "inner frame row at x %d" % x)
            for y in (1, 50, 100):
                check(shot[y][1] == shadow and shot[y][237] == shadow, "inner frame column at y %d" % y)
            for x, y in ((2, 2), (236, 99), (150, 40), (220, 70), (60, 60)):
                check(shot[y][x] == face, "face colour at (%d, %d): %s" % (x, y, shot[y][x]))
            # The prompt's characters begin at x 8 + 12 i to 11 + 12 i (+1), y 14 to 17; the
            # close box's marks at x 215 to 219, y 4 to 7; nothing else is drawn in the band.
            prompt = ink(shot, 2, 2, 200, 46, face)
            close = ink(shot, 200, 2, 237, 46, face)
            check(prompt is not None and close is not None, "prompt or close box missing")
            check(prompt[0] >= 8 and prompt[1] >= 14 and prompt[3] <= 46, "prompt out of bounds: %s" % (prompt,))
            check(close[0] >= 215 and close[1] >= 4 and close[3] <= 46, "close box out of bounds: %s" % (close,))
            label = ink(shot, 90, 46, 166, 70, face)
            percent = ink(shot, 209, 46, 237, 70, face)
            check(label is not None and label[0] >= 96 and label[1] >= 47, "shake label at %s" % (label,))
            check(percent is not None and percent[0] >= 210 and percent[1] >= 48, "%% at %s" % (percent,))
        # Redrawn in place at every tick without an erase: smoothed edges may darken, the place
        # stays.
        fixed = [(ink(s, 90, 46, 166, 70, face), ink(s, 209, 46, 237, 70, face)) for s in shots]
        check(all(f == fixed[0] for f in fixed), "the shake label or the %% moved: %s" % (fixed,))
        bands = [crop(s, 2, 2, 237, 46) for s in shots]
        check(any(b != bands[0] for b in bands), "the prompt and the close box did not shake")
        check(panel.close_by_click() == 0, "exit code is not 0")
    finally:
        panel.stop()


def main():
    if len(sys.argv) < 3:
        print(__doc__)
        return 2
    check_name, exe = sys.argv[1], sys.argv[2]
    save_path = sys.argv[4] if len(sys.argv) > 4 and sys.argv[3] == "--save-screenshot" else None
    checks = {"close": check_close, "drag": check_drag, "drop": check_drop,
              "screenshots": lambda e: check_screenshots(e, save_path)}
    checks[check_name](exe)
    print("ok: " + check_name)
    return 0


if __name__ == "__main__":
    sys.exit(main())
