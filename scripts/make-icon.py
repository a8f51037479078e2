#!/usr/bin/env python3
"""make-icon.py OUT.ico: draws camfix's icon, a small circuit board with two
pads, a trace between them and drilled holes, at 16, 32 and 48 pixels, as an
.ico of 32-bit images. The committed src/program/camfix.ico was made by it."""
import struct
import sys

BOARD = (0x2E, 0x7D, 0x32, 0xFF)   # solder-mask green (R, G, B, A)
EDGE = (0x1B, 0x4D, 0x1F, 0xFF)
COPPER = (0xE0, 0xA8, 0x30, 0xFF)
HOLE = (0x10, 0x10, 0x10, 0xFF)
CLEAR = (0, 0, 0, 0)


def pixel(x, y):
    """The colour at (x, y) of a board drawn on a unit square."""
    if not (0.06 <= x <= 0.94 and 0.06 <= y <= 0.94):
        return CLEAR
    if x < 0.12 or x > 0.88 or y < 0.12 or y > 0.88:
        return EDGE
    for cx, cy in ((0.3, 0.3), (0.7, 0.7), (0.3, 0.72)):
        d = ((x - cx) ** 2 + (y - cy) ** 2) ** 0.5
        if d < 0.06:
            return HOLE
        if d < 0.14:
            return COPPER
    on_trace = (abs(y - 0.3) < 0.05 and 0.3 <= x <= 0.7) or (abs(x - 0.7) < 0.05 and 0.3 <= y <= 0.7)
    return COPPER if on_trace or (abs(x - 0.3) < 0.04 and 0.3 <= y <= 0.72) else BOARD


def image(size):
    rows = []
    for row in range(size - 1, -1, -1):  # bottom-up
        for col in range(size):
            r, g, b, a = pixel((col + 0.5) / size, (row + 0.5) / size)
            rows.append(struct.pack("BBBB", b, g, r, a))
    mask_row = ((size + 31) // 32) * 4
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 32, 0, 0, 0, 0, 0, 0)
    return header + b"".join(rows) + b"\0" * (mask_row * size)


def main(out):
    sizes = (16, 32, 48)
    images = [image(size) for size in sizes]
    data = struct.pack("<HHH", 0, 1, len(sizes))
    offset = 6 + 16 * len(sizes)
    for size, body in zip(sizes, images):
        data += struct.pack("<BBBBHHII", size, size, 0, 0, 1, 32, len(body), offset)
        offset += len(body)
    with open(out, "wb") as f:
        f.write(data + b"".join(images))


main(sys.argv[1])
