#!/usr/bin/python3
"""Real input against wobzy.exe running under Wine on the X display of the test run.

usage: panel_real_input_test.py CHECK WOBZY_EXE BOX_READER_EXE [--save-screenshot PNG]
  close        a real press on the close box ends the process with exit code 0
  drag         a real drag moves the panel, the grabbed pixel staying under the cursor
  drop         a real XDND drag-and-drop of two image files writes both GIFs
  screenshots  the face, the frame lines, the fixed label and "%", the prompt and close box
               shaking within their bounds between ticks, at the prefix's DPI
  keyboard     the shake edit has the keys at start and takes digits only, Tab and Shift+Tab
               move among the controls, Space toggles the checkbox, Enter changes nothing,
               Escape closes the panel
  names        files named in Japanese, with accents, with an emoji, and one whose path is over
               260 characters, dropped at once, each give their GIF beside them; a broken
               file's warning box names it as it is named
  failed_save  a GIF that cannot be written is reported with code 7 and leaves no file behind
Needs DISPLAY and WINEPREFIX (scripts/wine-env), xdotool and ImageMagick; file names are UTF-8.
BOX_READER_EXE reads the warning box from outside (box_reader.cpp).
"""
import os
import subprocess
import sys
import tempfile
import time
import urllib.parse

from Xlib import X, display
from Xlib.protocol import event

WAIT_SECONDS = 20
# "このファイルは変換できませんでした(code:N)"
BOX_TITLE = "\u3053\u306e\u30d5\u30a1\u30a4\u30eb\u306f\u5909\u63db\u3067\u304d\u307e\u305b\u3093\u3067\u3057\u305f(code:%d)"


def prefix_value(section_name, value_name):
    """A value from the prefix's user registry, as the text after the "=", or None."""
    section = None
    with open(os.path.join(os.environ["WINEPREFIX"], "user.reg"), encoding="utf-8", errors="replace") as f:
        for line in f:
            if line.startswith("["):
                section = line.split("]")[0] + "]"
            elif section == section_name and line.startswith('"%s"=' % value_name):
                return line.split("=", 1)[1].strip()
    return None


def prefix_dpi():
    """The DPI the prefix's screen has: LogPixels, 96 unless set."""
    value = prefix_value("[Control Panel\\\\Desktop]", "LogPixels")
    return int(value.split(":")[1], 16) if value and value.startswith("dword:") else 96


DPI = prefix_dpi()
if "WOBZY_SCREEN_DPI" in os.environ and DPI != int(os.environ["WOBZY_SCREEN_DPI"]):
    print("FAIL: the prefix's screen is at %d DPI, not at %s" % (DPI, os.environ["WOBZY_SCREEN_DPI"]))
    sys.exit(1)


def scaled(length):
    """A length of the panel at 96 DPI at the prefix's DPI, rounded as MulDiv rounds."""
    return (length * DPI + 48) // 96


PANEL_WIDTH, PANEL_HEIGHT = scaled(239), scaled(102)
CLOSE_BOX_POINT = (PANEL_WIDTH - scaled(18), scaled(10))


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
                wait_for_gif(source)
            check(panel.close_by_click() == 0, "exit code is not 0 after a drop")
        finally:
            panel.stop()


def make_picture(path, variant=0):
    sizes = ("64x48", "40x60", "48x48", "30x20")
    subprocess.run(["convert", "-size", sizes[variant % len(sizes)], "plasma:fractal", "-seed", str(variant + 1),
                    path], check=True)


def gif_size(gif):
    """(width, height) of the GIF's first frame."""
    out = subprocess.run(["identify", "-format", "%w %h\n", gif], check=True, capture_output=True, text=True).stdout
    return tuple(int(v) for v in out.split("\n")[0].split())


def wait_for_gif(source):
    gif = source + "_wob.gif"
    wait_for(gif, lambda: os.path.exists(gif) and frame_count(gif) == 5)
    return gif


def windows_path(path):
    """A Unix path as Wine shows it to the program: on drive Z:."""
    return "Z:" + path.replace("/", "\\")


def read_box(reader):
    """The panel's warning box as (title, text), read from outside; None while there is none."""
    result = subprocess.run(["wine", reader], capture_output=True, timeout=WAIT_SECONDS)
    if result.returncode != 0:
        return None
    lines = result.stdout.decode("utf-8").split("\n")
    return lines[0], lines[1]


def answer_box(reader, code, path):
    """Waits for the warning box, checks that it names `path` with `code`, and closes it by Enter."""
    box = wait_for("the warning box for " + path, lambda: read_box(reader))
    check(box == (BOX_TITLE % code, windows_path(path)), "the box reads %r" % (box,))
    xdotool("key", "Return")
    wait_for("the box to close", lambda: read_box(reader) is None)


def leftovers(folder):
    """Temporary files of the GIF writer anywhere under `folder`."""
    return [name for _, _, names in os.walk(folder) for name in names if ".tmp-" in name]


def check_names(exe, reader):
    with tempfile.TemporaryDirectory(prefix="wobzy-names-") as folder:
        # A folder deep enough that the last picture's path is over 260 characters.
        deep = os.path.join(folder, "\u9577\u3044" + "d" * 120, "e" * 130)
        os.makedirs(deep)
        names = ["\u65e5\u672c\u8a9e.png",           # 日本語.png
                 "\u00fcber caf\u00e9.png",           # über café.png
                 "\U0001f600 smile.png",               # 😀 smile.png
                 "\u5199\u771f \u00e9t\u00e9 \U0001f431.png"]  # 写真 été 🐱.png
        sources = [os.path.join(folder, name) for name in names]
        sources.append(os.path.join(deep, "\u9577\u3044\u540d\u524d.png"))  # 長い名前.png
        check(len(windows_path(sources[-1])) > 287, "the long path is not long")
        for variant, source in enumerate(sources):
            make_picture(source, variant)
        panel = Panel(exe)
        try:
            xdnd_drop(panel.window, sources, panel.screen_point(60, 30))
            for source in sources:
                check(frame_count(wait_for_gif(source)) == 5, source)
            check(leftovers(folder) == [], "temporary files left: %s" % leftovers(folder))
            # A file that is no picture: one name Shift_JIS can hold, one it cannot.
            for name in ("\u58ca\u308c\u305f.png", "\u58ca\u308c\u305f \U0001f600.png"):  # 壊れた
                broken = os.path.join(folder, name)
                with open(broken, "wb") as f:
                    f.write(b"no picture")
                xdnd_drop(panel.window, [broken], panel.screen_point(60, 30))
                answer_box(reader, 0, broken)
            check(panel.close_by_click() == 0, "exit code is not 0 after the drops")
        finally:
            panel.stop()


def check_failed_save(exe, reader):
    with tempfile.TemporaryDirectory(prefix="wobzy-save-") as folder:
        source = os.path.join(folder, "\u5199\u771f.png")  # 写真.png
        make_picture(source)
        os.mkdir(source + "_wob.gif")  # a folder where the GIF would go: it cannot replace it
        panel = Panel(exe)
        try:
            xdnd_drop(panel.window, [source], panel.screen_point(60, 30))
            answer_box(reader, 7, source)
            check(sorted(os.listdir(folder)) == sorted([os.path.basename(source), os.path.basename(source) + "_wob.gif"]),
                  "files left beside the picture: %s" % os.listdir(folder))
            check(os.listdir(source + "_wob.gif") == [], "something was written into the folder")
            check(panel.close_by_click() == 0, "exit code is not 0 after the failed save")
        finally:
            panel.stop()


def dark_pixels(shot, left, top, right, bottom):
    """The points of the area drawn in dark ink (text, check marks)."""
    return [(x, y) for y in range(top, bottom) for x in range(left, right) if sum(shot[y][x]) < 3 * 128]


def text_right_edge(panel, area):
    points = dark_pixels(screenshot(panel.window), *area)
    return max(x for x, _ in points) if points else -1


def check_keyboard(exe):
    s = scaled
    shake_area = (s(168), s(48), s(208), s(68))
    check_area = (s(8), s(72), s(22), s(92))  # the checkbox's square, left of its caption's focus frame
    with tempfile.TemporaryDirectory(prefix="wobzy-keys-") as folder:
        sources = [os.path.join(folder, "limited.png"), os.path.join(folder, "whole.png")]
        for source in sources:
            make_picture(source)  # 64 x 48
        panel = Panel(exe)
        try:
            time.sleep(0.3)
            before = text_right_edge(panel, shake_area)
            check(before > 0, "no text in the shake edit")
            # The shake edit has the keys from the start; it takes a digit and refuses a letter
            # (the caret may stand right of the text: a pixel or two).
            xdotool("key", "a")
            time.sleep(0.3)
            check(text_right_edge(panel, shake_area) <= before + 2, "the shake edit took a letter")
            xdotool("key", "9")
            wait_for("the digit in the shake edit", lambda: text_right_edge(panel, shake_area) >= before + 4)
            # Tab to the checkbox, Space ticks it; Tab to the limit edit, whose text is selected,
            # so that the digits replace it; Enter changes nothing.
            unticked = len(dark_pixels(screenshot(panel.window), *check_area))
            xdotool("key", "Tab", "space")
            wait_for("the tick", lambda: len(dark_pixels(screenshot(panel.window), *check_area)) > unticked + 4)
            xdotool("key", "Tab", "1", "6", "Return")
            time.sleep(0.3)
            xdnd_drop(panel.window, sources[:1], panel.screen_point(60, 30))
            check(gif_size(wait_for_gif(sources[0])) == (16, 12), "the limit 16 did not apply: %s" % (gif_size(sources[0] + "_wob.gif"),))
            # Shift+Tab back to the checkbox, Space unticks it: the next picture keeps its size.
            xdotool("key", "shift+Tab", "space")
            wait_for("no tick", lambda: len(dark_pixels(screenshot(panel.window), *check_area)) <= unticked + 4)
            xdnd_drop(panel.window, sources[1:], panel.screen_point(60, 30))
            check(gif_size(wait_for_gif(sources[1])) == (64, 48), "the limit still applied")
            xdotool("key", "Escape")
            try:
                check(panel.process.wait(timeout=WAIT_SECONDS) == 0, "exit code is not 0 after Escape")
            except subprocess.TimeoutExpired:
                fail("Escape did not close the panel")
        finally:
            panel.stop()


def system_colours():
    """The colours that Wine's registry gives the prefix: face, dark shadow and shadow."""
    colours = [prefix_value("[Control Panel\\\\Colors]", name) for name in ("ButtonFace", "ButtonDkShadow", "ButtonShadow")]
    check(None not in colours, "system colours not found in the prefix")
    return [tuple(int(v) for v in colour.strip('"').split()) for colour in colours]


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
        # Places at 96 DPI, scaled to the prefix's; the frame lines stay one pixel wide.
        w, h, s = PANEL_WIDTH, PANEL_HEIGHT, scaled
        label_area = (s(90), s(46), s(166), s(70))
        percent_area = (s(209), s(46), w - 2, s(70))
        for shot in shots:
            check(len(shot) == h and len(shot[0]) == w, "screenshot size")
            for x in (0, w // 2, w - 1):
                check(shot[0][x] == dark_shadow and shot[h - 1][x] == dark_shadow, "outer frame row at x %d" % x)
            for y in (0, h // 2, h - 1):
                check(shot[y][0] == dark_shadow and shot[y][w - 1] == dark_shadow, "outer frame column at y %d" % y)
            for x in (1, w // 2, w - 2):
                check(shot[1][x] == shadow and shot[h - 2][x] == shadow, "inner frame row at x %d" % x)
            for y in (1, h // 2, h - 2):
                check(shot[y][1] == shadow and shot[y][w - 2] == shadow, "inner frame column at y %d" % y)
            for x, y in ((2, 2), (w - 3, h - 3), (s(150), s(40)), (s(220), s(70)), (s(60), s(60))):
                check(shot[y][x] == face, "face colour at (%d, %d): %s" % (x, y, shot[y][x]))
            # The prompt's characters begin at x 8 + 12 i to 11 + 12 i (+1), y 14 to 17; the
            # close box's marks at x 215 to 219, y 4 to 7; nothing else is drawn in the band.
            prompt = ink(shot, 2, 2, s(200), s(46), face)
            close = ink(shot, s(200), 2, w - 2, s(46), face)
            check(prompt is not None and close is not None, "prompt or close box missing")
            check(prompt[0] >= s(8) and prompt[1] >= s(14) and prompt[3] <= s(46), "prompt out of bounds: %s" % (prompt,))
            check(close[0] >= w - s(24) and close[1] >= s(4) and close[3] <= s(46), "close box out of bounds: %s" % (close,))
            label = ink(shot, *label_area, face)
            percent = ink(shot, *percent_area, face)
            check(label is not None and label[0] >= s(96) and label[1] >= s(47), "shake label at %s" % (label,))
            check(percent is not None and percent[0] >= s(210) and percent[1] >= s(48), "%% at %s" % (percent,))
        # Redrawn in place at every tick without an erase: smoothed edges may darken, the place
        # stays.
        fixed = [(ink(shot, *label_area, face), ink(shot, *percent_area, face)) for shot in shots]
        check(all(f == fixed[0] for f in fixed), "the shake label or the %% moved: %s" % (fixed,))
        bands = [crop(shot, 2, 2, w - 2, s(46)) for shot in shots]
        check(any(b != bands[0] for b in bands), "the prompt and the close box did not shake")
        check(panel.close_by_click() == 0, "exit code is not 0")
    finally:
        panel.stop()


def main():
    if len(sys.argv) < 4:
        print(__doc__)
        return 2
    check_name, exe, reader = sys.argv[1:4]
    save_path = sys.argv[5] if len(sys.argv) > 5 and sys.argv[4] == "--save-screenshot" else None
    checks = {"close": check_close, "drag": check_drag, "drop": check_drop,
              "screenshots": lambda e: check_screenshots(e, save_path), "keyboard": check_keyboard,
              "names": lambda e: check_names(e, reader), "failed_save": lambda e: check_failed_save(e, reader)}
    checks[check_name](exe)
    print("ok: " + check_name)
    return 0


if __name__ == "__main__":
    sys.exit(main())
