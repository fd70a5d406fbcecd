#!/usr/bin/python3
# Writes res/wobzy.ico, the program's icon: a thick dark bar with rounded ends from the lower
# left to the upper right with a grey line along it, 32 x 32 and 16 x 16, 16 colours, masked.
# Run again after changing the drawing: python3 res/make_icon.py
import os
import struct

PALETTE = [(0, 0, 0), (40, 40, 56), (168, 168, 168)] + [(0, 0, 0)] * 13
TRANSPARENT, DARK, GREY = 0, 1, 2


def distance_to_segment(px, py, ax, ay, bx, by):
    dx, dy = bx - ax, by - ay
    t = max(0.0, min(1.0, ((px - ax) * dx + (py - ay) * dy) / (dx * dx + dy * dy)))
    return ((px - ax - t * dx) ** 2 + (py - ay - t * dy) ** 2) ** 0.5


def draw(size):
    """Palette indices, rows from the top."""
    a = (0.22 * size, 0.78 * size)  # lower left
    b = (0.78 * size, 0.22 * size)  # upper right
    bar = 0.17 * size
    line = max(0.5, 0.035 * size)
    rows = []
    for y in range(size):
        row = []
        for x in range(size):
            d = distance_to_segment(x + 0.5, y + 0.5, *a, *b)
            row.append(GREY if d <= line else DARK if d <= bar else TRANSPARENT)
        rows.append(row)
    return rows


def padded(data):
    return data + b"\0" * (-len(data) % 4)


def icon_image(size):
    rows = draw(size)
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 4, 0, 0, 0, 0, 16, 0)
    palette = b"".join(struct.pack("BBBB", b, g, r, 0) for r, g, b in PALETTE)
    colours, mask = b"", b""
    for row in reversed(rows):  # bottom-up
        colours += padded(bytes((row[x] << 4) | row[x + 1] for x in range(0, size, 2)))
        bits = 0
        mask_row = b""
        for x, index in enumerate(row):
            bits = (bits << 1) | (index == TRANSPARENT)
            if x % 8 == 7:
                mask_row += bytes([bits])
                bits = 0
        mask += padded(mask_row)
    return header + palette + colours + mask


def main():
    images = [icon_image(32), icon_image(16)]
    out = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for size, image in zip((32, 16), images):
        out += struct.pack("<BBBBHHII", size, size, 16, 0, 1, 4, len(image), offset)
        offset += len(image)
    out += b"".join(images)
    path = os.path.join(os.path.dirname(os.path.abspath(__file__)), "wobzy.ico")
    with open(path, "wb") as f:
        f.write(out)


if __name__ == "__main__":
    main()
