#!/usr/bin/env python3
"""Writes the bitmaps of the window controls' tests as 24-bit BMP files.

usage: make_test_bitmaps.py OUTDIR
"""
import os
import struct
import sys


def write_bmp(path, width, height, pixel):
    """pixel(x, y) gives (r, g, b) for the pixel x, y (y = 0 is the top row)."""
    row_size = (width * 3 + 3) & ~3
    image = bytearray()
    for y in range(height - 1, -1, -1):  # rows are stored bottom row first
        row = bytearray()
        for x in range(width):
            r, g, b = pixel(x, y)
            row += bytes((b, g, r))
        row += b"\0" * (row_size - len(row))
        image += row
    info = struct.pack("<IiiHHIIiiII", 40, width, height, 1, 24, 0, len(image), 2835, 2835, 0, 0)
    header = struct.pack("<2sIHHI", b"BM", 14 + len(info) + len(image), 0, 0, 14 + len(info))
    with open(path, "wb") as f:
        f.write(header + info + image)


def shape(x, y):
    # A 20 x 16 white block at (10, 4) on black; a near-black border around it
    # (within 16 of black: cut away) and one dark grey pixel at (2, 2) just past
    # that range (kept).
    if 10 <= x < 30 and 4 <= y < 20:
        return (255, 255, 255)
    if 8 <= x < 32 and 2 <= y < 22:
        return (0x10, 0x0F, 0x10)
    if (x, y) == (2, 2):
        return (0x11, 0x11, 0x11)
    return (0, 0, 0)


def main():
    out = sys.argv[1]
    os.makedirs(out, exist_ok=True)
    write_bmp(os.path.join(out, "up.bmp"), 40, 24, lambda x, y: (40, 90, 200))
    write_bmp(os.path.join(out, "down.bmp"), 40, 24, lambda x, y: (200, 60, 40))
    write_bmp(os.path.join(out, "shape.bmp"), 40, 24, shape)
    write_bmp(os.path.join(out, "picture_a.bmp"), 32, 32,
              lambda x, y: (255, 200, 0) if (x // 8 + y // 8) % 2 else (20, 120, 20))
    write_bmp(os.path.join(out, "picture_b.bmp"), 32, 32, lambda x, y: (x * 8, y * 8, 128))


if __name__ == "__main__":
    main()
