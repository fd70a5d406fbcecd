#!/usr/bin/python3
"""What a browser shows of a wobbling sticker: headless Chromium draws the GIF on a coloured page.

usage: bench/browser_transparency.py [PICTURE.png] [--cli WOBZY_CLI] [--keep DIR]

Converts a transparent picture (default: the test data's yellow_rose.png) with wobzy-cli, writing
its five frames too, puts the GIF on a page of a colour no frame uses, and takes screenshots
while it plays. Wherever a pixel is transparent in every frame, the page must show through;
wherever it is opaque in every frame, the page must not. Prints the counts and exits 1 when
either is broken. Needs Debian's chromium.
"""
import argparse
import os
import subprocess
import sys
import tempfile
import time

from PIL import Image

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
PAGE = (23, 161, 89)  # a green that no frame of the rose holds
CHROMIUM_FLAGS = ["--headless", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
                  "--disable-background-networking", "--disable-component-update", "--disable-sync",
                  "--hide-scrollbars", "--force-device-scale-factor=1"]


def screenshot(page, png, width, height, work, delay_ms):
    profile = tempfile.mkdtemp(dir=work)
    subprocess.run(["chromium", *CHROMIUM_FLAGS, "--user-data-dir=" + profile,
                    "--virtual-time-budget=%d" % delay_ms, "--window-size=%d,%d" % (width, height),
                    "--screenshot=" + png, "file://" + page],
                   check=True, capture_output=True, timeout=120)
    return Image.open(png).convert("RGB")


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("picture", nargs="?", default=os.path.join(ROOT, "build/testdata/photo/yellow_rose.png"))
    parser.add_argument("--cli", default=os.path.join(ROOT, "build/linux/cli/wobzy-cli"))
    parser.add_argument("--keep", help="keep the GIF, the page and the screenshots in this folder")
    args = parser.parse_args()
    work = args.keep or tempfile.mkdtemp()
    os.makedirs(work, exist_ok=True)
    gif = os.path.join(work, "sticker.gif")
    subprocess.run([args.cli, "-q", "--frames", work, "-o", gif, args.picture], check=True)
    name = os.path.basename(args.picture)
    masks = [Image.open(os.path.join(work, "%s_frame%d.png" % (name, n))).getchannel("A") for n in range(1, 6)]
    width, height = masks[0].size
    page = os.path.join(work, "page.html")
    with open(page, "w") as f:
        f.write('<html><body style="margin:0;background:rgb(%d,%d,%d)"><img src="sticker.gif" '
                'style="display:block"></body></html>' % PAGE)
    always_clear = always_solid = 0
    page_in_clear = page_in_solid = 0
    mask_data = [m.load() for m in masks]
    shots = [screenshot(page, os.path.join(work, "shot%d.png" % n), width, height, work, delay)
             for n, delay in enumerate((10, 130, 250, 370))]
    for shot in shots:
        pixels = shot.load()
        for y in range(height):
            for x in range(width):
                alphas = [m[x, y] for m in mask_data]
                shows_page = all(abs(a - b) <= 2 for a, b in zip(pixels[x, y], PAGE))
                if max(alphas) == 0:
                    always_clear += 1
                    page_in_clear += shows_page
                elif min(alphas) == 255:
                    always_solid += 1
                    page_in_solid += shows_page
    print("transparent in every frame: %d pixel views, the page shows in %d" % (always_clear, page_in_clear))
    print("opaque in every frame:      %d pixel views, the page shows in %d" % (always_solid, page_in_solid))
    broken = page_in_clear != always_clear or page_in_solid != 0
    print("the page shows through exactly where the sticker is transparent" if not broken else "BROKEN")
    return 1 if broken else 0


if __name__ == "__main__":
    sys.exit(main())
