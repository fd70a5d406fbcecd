# The Pillow peer of the benchmark: encodes PNG frames into one looping GIF with
# Pillow's own defaults (frames with alpha keep it). Usage: pillow_encode.py DELAY_MS OUT.gif FRAME.png...
import sys

from PIL import Image


def keep_transparency(image):
    return image.convert("RGBA" if "A" in image.getbands() else "RGB")


def main(arguments):
    if len(arguments) < 3:
        sys.exit("usage: pillow_encode.py DELAY_MS OUT.gif FRAME.png...")
    delay_ms, output, frame_paths = int(arguments[0]), arguments[1], arguments[2:]
    frames = [keep_transparency(Image.open(path)) for path in frame_paths]
    frames[0].save(output, save_all=True, append_images=frames[1:],
                   duration=delay_ms, loop=0)


if __name__ == "__main__":
    main(sys.argv[1:])
