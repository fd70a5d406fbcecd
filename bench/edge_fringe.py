#!/usr/bin/python3
"""How a transparent picture's anti-aliased edge looks on a light and on a dark page.

usage: bench/edge_fringe.py [PICTURE.png] [--cli WOBZY_CLI]

Converts the picture (default: the test data's yellow_rose.png) with --shake 0, so that frame 1
is the picture itself with one-bit transparency, and composes it onto a white and a black page
beside the original composed with its full alpha. Over the edge (the pixels that are partly
transparent in the original), it prints the mean signed difference of luminance, which shows a
fringe as a bias (a light halo is positive, a dark one negative), and the mean absolute one.
For comparison it prints the same for the edge composited onto white before it was cut, which is
what putting a transparent picture on a white background does: a light fringe on a dark page.
"""
import argparse
import os
import subprocess
import sys
import tempfile

from PIL import Image

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))


def luminance(rgb):
    r, g, b = rgb
    return 0.2126 * r + 0.7152 * g + 0.0722 * b


def over(rgb, alpha, page):
    a = alpha / 255.0
    return tuple(c * a + p * (1 - a) for c, p in zip(rgb, page))


def measure(original, shown, page):
    """Mean signed and absolute luminance difference over the edge on `page`."""
    signed = absolute = 0.0
    count = 0
    for (rgb, alpha), (shown_rgb, shown_alpha) in zip(original, shown):
        if not 0 < alpha < 255:
            continue
        expected = luminance(over(rgb, alpha, page))
        got = luminance(over(shown_rgb, shown_alpha, page))
        signed += got - expected
        absolute += abs(got - expected)
        count += 1
    return signed / count, absolute / count, count


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("picture", nargs="?", default=os.path.join(ROOT, "build/testdata/photo/yellow_rose.png"))
    parser.add_argument("--cli", default=os.path.join(ROOT, "build/linux/cli/wobzy-cli"))
    args = parser.parse_args()
    source = Image.open(args.picture).convert("RGBA")
    original = [(p[:3], p[3]) for p in source.getdata()]
    with tempfile.TemporaryDirectory() as work:
        subprocess.run([args.cli, "-q", "--shake", "0", "--frames", work, "-o", os.path.join(work, "out.gif"),
                        args.picture], check=True)
        frame = Image.open(os.path.join(work, os.path.basename(args.picture) + "_frame1.png")).convert("RGBA")
        cut = [(p[:3], p[3]) for p in frame.getdata()]
    onto_white = [((255, 255, 255), 0) if a < 128 else (tuple(round(c) for c in over(rgb, a, (255,) * 3)), 255)
                  for rgb, a in original]
    print("%-34s %18s %18s" % ("edge of " + os.path.basename(args.picture), "white page", "black page"))
    for name, shown in (("kept colour, cut at half (Wobzy)", cut), ("composited onto white, then cut", onto_white)):
        figures = [measure(original, shown, page) for page in ((255, 255, 255), (0, 0, 0))]
        print("%-34s %8.2f / %6.2f  %8.2f / %6.2f" % (name, figures[0][0], figures[0][1], figures[1][0], figures[1][1]))
    print("(mean signed / mean absolute luminance difference over %d edge pixels, in levels of 255)" % figures[0][2])


if __name__ == "__main__":
    sys.exit(main())
