#!/usr/bin/python3
# Writes res/wobzy.ico, the program's icon: a thick dark bar with rounded ends from the lower
# left to the upper right with a grey line along it. 32 x 32 and 16 x 16 in 16 colours with a
# mask, drawn pixel by pixel as the program has always shown them; 48 x 48 in 32-bit colour with
# smoothed edges for large icon views, and 256 x 256 as a PNG inside the .ico, as Windows keeps
# its own large icons, for high-DPI screens and the largest Explorer views.
# Run again after changing the drawing: python3 res/make_icon.py
import os
import struct
import zlib

PALETTE = [(0, 0, 0), (40, 40, 56), (168, 168, 168)] + [(0, 0, 0)] * 13
TRANSPARENT, DARK, GREY = 0, 1, 2
SUBSAMPLES = 4  # per side, for the smoothed edges of the 32-bit images


def distance_to_segment(px, py, ax, ay, bx, by):
    dx, dy = bx - ax, by - ay
    t = max(0.0, min(1.0, ((px - ax) * dx + (py - ay) * dy) / (dx * dx + dy * dy)))
    return ((px - ax - t * dx) ** 2 + (py - ay - t * dy) ** 2) ** 0.5


def colour_index(x, y, size):
    """What the drawing shows at the point (x, y) of a size x size icon."""
    a = (0.22 * size, 0.78 * size)  # lower left
    b = (0.78 * size, 0.22 * size)  # upper right
    bar = 0.17 * size
    line = max(0.5, 0.035 * size)
    d = distance_to_segment(x, y, *a, *b)
    return GREY if d <= line else DARK if d <= bar else TRANSPARENT


def draw(size):
    """Palette indices, rows from the top, one sample at each pixel's centre."""
    return [[colour_index(x + 0.5, y + 0.5, size) for x in range(size)] for y in range(size)]


def draw_smooth(size):
    """Straight (not premultiplied) RGBA pixels, rows from the top, edges averaged over subsamples."""
    rows = []
    n = SUBSAMPLES
    for y in range(size):
        row = []
        for x in range(size):
            r = g = b = covered = 0
            for sy in range(n):
                for sx in range(n):
                    index = colour_index(x + (sx + 0.5) / n, y + (sy + 0.5) / n, size)
                    if index != TRANSPARENT:
                        pr, pg, pb = PALETTE[index]
                        r, g, b, covered = r + pr, g + pg, b + pb, covered + 1
            if covered == 0:
                row.append((0, 0, 0, 0))
            else:
                row.append((r // covered, g // covered, b // covered, covered * 255 // (n * n)))
        rows.append(row)
    return rows


def padded(data):
    return data + b"\0" * (-len(data) % 4)


def mask_rows(rows, transparent):
    """The AND mask, bottom-up, one bit per pixel, rows padded to 4 bytes."""
    mask = b""
    for row in reversed(rows):
        bits = 0
        mask_row = b""
        for x, pixel in enumerate(row):
            bits = (bits << 1) | transparent(pixel)
            if x % 8 == 7:
                mask_row += bytes([bits])
                bits = 0
        mask += padded(mask_row)
    return mask


def icon_image_16_colours(size):
    rows = draw(size)
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 4, 0, 0, 0, 0, 16, 0)
    palette = b"".join(struct.pack("BBBB", b, g, r, 0) for r, g, b in PALETTE)
    colours = b""
    for row in reversed(rows):  # bottom-up
        colours += padded(bytes((row[x] << 4) | row[x + 1] for x in range(0, size, 2)))
    return header + palette + colours + mask_rows(rows, lambda index: index == TRANSPARENT)


def icon_image_32_bit(size):
    rows = draw_smooth(size)
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 32, 0, 0, 0, 0, 0, 0)
    colours = b"".join(struct.pack("BBBB", b, g, r, a) for row in reversed(rows) for r, g, b, a in row)
    return header + colours + mask_rows(rows, lambda pixel: pixel[3] == 0)


def png_chunk(kind, data):
    return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))


def icon_image_png(size):
    rows = draw_smooth(size)
    raw = b"".join(b"\0" + bytes(v for pixel in row for v in pixel) for row in rows)
    return (b"\x89PNG\r\n\x1a\n" + png_chunk(b"IHDR", struct.pack(">IIBBBBB", size, size, 8, 6, 0, 0, 0)) +
            png_chunk(b"IDAT", zlib.compress(raw, 9)) + png_chunk(b"IEND", b""))


# In this order, so that the 16-colour images keep the resource numbers 1 and 2.
IMAGES = [  # size, colours in the directory, bits per pixel, writer
    (32, 16, 4, icon_image_16_colours),
    (16, 16, 4, icon_image_16_colours),
    (48, 0, 32, icon_image_32_bit),
    (256, 0, 32, icon_image_png),
]


def main():
    images = [write(size) for size, _, _, write in IMAGES]
    out = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for (size, colours, bits, _), image in zip(IMAGES, images):
        # A size of 256 is written as 0 in the directory's byte.
        out += struct.pack("<BBBBHHII", size % 256, size % 256, colours, 0, 1, bits, len(image), offset)
        offset += len(image)
    out += b"".join(images)
    path = os.path.join(os.path.dirname(os.path.abspath(__file__)), "wobzy.ico")
    with open(path, "wb") as f:
        f.write(out)


if __name__ == "__main__":
    main()
