#!/usr/bin/python3
# Reads a GIF back with a decoder that is not ours, for the tests of the GIF encoder and of the
# image library: `read_gif.py pillow|imagemagick GIF OUT [rgb|rgba]` writes every frame, as
# composited on screen, as raw RGB (or RGBA, where alpha 0 lets the page show) to OUT and prints
# "frames width height delays_ms loop" (delays comma-separated, loop -1 when the file plays once).
import subprocess
import sys


def with_pillow(path, out, channels):
    from PIL import Image
    im = Image.open(path)
    delays, frames = [], 0
    loop = im.info.get("loop", -1)
    with open(out, "wb") as f:
        while True:
            f.write(im.convert(channels.upper()).tobytes())
            delays.append(str(im.info.get("duration", -1)))
            frames += 1
            try:
                im.seek(frames)
            except EOFError:
                break
    return frames, im.size[0], im.size[1], delays, loop


def with_imagemagick(path, out, channels):
    info = subprocess.run(["/usr/bin/identify-im6.q16", "-format", "%w %h %T\n", path],
                          check=True, capture_output=True, text=True).stdout.split("\n")
    rows = [line.split() for line in info if line.strip()]
    subprocess.run(["/usr/bin/convert-im6.q16", path, "-coalesce", "-depth", "8", channels + ":" + out],
                   check=True)
    verbose = subprocess.run(["/usr/bin/identify-im6.q16", "-verbose", path + "[0]"],
                             check=True, capture_output=True, text=True).stdout
    loop = next((line.split(":")[1].strip() for line in verbose.split("\n") if "Iterations:" in line), "")
    delays = [str(int(r[2]) * 10) for r in rows]
    return len(rows), int(rows[0][0]), int(rows[0][1]), delays, loop or "-1"


def main():
    decoder, path, out = sys.argv[1:4]
    channels = sys.argv[4] if len(sys.argv) > 4 else "rgb"
    read = {"pillow": with_pillow, "imagemagick": with_imagemagick}[decoder]
    frames, width, height, delays, loop = read(path, out, channels)
    print(frames, width, height, ",".join(delays), loop)


main()
