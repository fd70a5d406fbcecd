# The other GIF encoders the benchmark compares against, each given the same five
# PNG frames, 6 hundredths of a second per frame, looping forever.
import os
import shutil
import subprocess
from dataclasses import dataclass

BENCH_DIR = os.path.dirname(os.path.abspath(__file__))
REPO_DIR = os.path.dirname(BENCH_DIR)
GIFSKI = os.path.join(REPO_DIR, ".tools/node_modules/gifski/bin/debian/gifski")
IMAGEMAGICK = "convert-im6.q16"
FFMPEG = "ffmpeg"
PYTHON = "/usr/bin/python3"

DELAY_CS = 6


@dataclass
class Peer:
    key: str       # the name --skip takes
    label: str     # the name in the tables
    how: str       # one line on what it does with the frames
    program: str   # checked for presence before it runs


def all_peers():
    return [
        Peer("imagemagick", "ImageMagick", "convert -delay 6 -loop 0, its defaults", IMAGEMAGICK),
        Peer("ffmpeg", "ffmpeg",
             "palettegen stats_mode=full over all frames + paletteuse dither=sierra2_4a",
             FFMPEG),
        Peer("pillow", "Pillow", "save_all, duration 60, loop 0, its defaults", PYTHON),
        Peer("gifski", "gifski", "--fps 16.67 (6 cs), --width of the frames, quality 90", GIFSKI),
    ]


def is_available(peer):
    if os.path.sep in peer.program:
        return os.access(peer.program, os.X_OK)
    return shutil.which(peer.program) is not None


def command_for(peer, frame_names, width, output):
    """The command line that encodes `frame_names` (frame1.png .. frame5.png in the
    working folder, in order) of the given width into `output`."""
    if peer.key == "imagemagick":
        return [IMAGEMAGICK, "-delay", str(DELAY_CS), "-loop", "0"] + frame_names + [output]
    if peer.key == "ffmpeg":
        # One palette for the whole animation from every pixel of every frame, then
        # each frame mapped onto it with Sierra-2-4A error diffusion.
        graph = ("[0:v]split[a][b];[a]palettegen=stats_mode=full[p];"
                 "[b][p]paletteuse=dither=sierra2_4a")
        return [FFMPEG, "-v", "error", "-nostdin", "-y", "-framerate", f"100/{DELAY_CS}",
                "-i", "frame%d.png", "-filter_complex", graph, "-loop", "0", output]
    if peer.key == "pillow":
        return [PYTHON, os.path.join(BENCH_DIR, "pillow_encode.py"), str(DELAY_CS * 10),
                output] + frame_names
    if peer.key == "gifski":
        # Without --width it shrinks anything larger than about 800x600.
        return [GIFSKI, "--quiet", "--no-sort", "--fps", f"{100 / DELAY_CS:.2f}",
                "--width", str(width), "--output", output] + frame_names
    raise ValueError(peer.key)


def version_of(peer):
    """A short version string, or '?' when the tool does not tell."""
    try:
        if peer.key == "imagemagick":
            line = _first_line([IMAGEMAGICK, "-version"])
            return line.split()[2] if line.startswith("Version:") else line
        if peer.key == "ffmpeg":
            return _first_line([FFMPEG, "-version"]).split()[2]
        if peer.key == "pillow":
            return _first_line([PYTHON, "-c", "import PIL; print(PIL.__version__)"])
        if peer.key == "gifski":
            return _first_line([GIFSKI, "--version"]).split()[-1]
    except (OSError, IndexError, subprocess.SubprocessError):
        pass
    return "?"


def _first_line(command):
    result = subprocess.run(command, capture_output=True, text=True, timeout=30,
                            stdin=subprocess.DEVNULL)
    lines = (result.stdout or result.stderr).strip().splitlines()
    return lines[0] if lines else "?"

