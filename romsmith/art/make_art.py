#!/usr/bin/env python3
"""Writes Romsmith's icon (110) and the list header's sort marks (116).

Run from this folder; the outputs are committed so that the build needs no
Python. Icon: a chip with a downward arrow, 16 and 32 pixels, 32-bit.
Sort marks: 30x10, 8 bits per pixel, two 15-pixel images (ascending, then
descending triangle) on the 3-D face colour so the image list maps it.
"""
import struct


def icon_image(size):
    px = [[(0, 0, 0, 0)] * size for _ in range(size)]
    s = size / 16.0
    body, pin, arrow = (40, 60, 90, 255), (170, 170, 170, 255), (40, 170, 60, 255)
    for y in range(size):
        for x in range(size):
            fx, fy = x / s, y / s
            if 3 <= fx < 13 and 5 <= fy < 14:
                px[y][x] = body
            elif (1 <= fx < 3 or 13 <= fx < 15) and 6 <= fy < 13 and int(fy) % 2 == 0:
                px[y][x] = pin
            # arrow: shaft and head pointing down onto the chip
            if 7 <= fx < 9 and 0 <= fy < 6:
                px[y][x] = arrow
            if 4 <= fy < 9 and abs(fx - 8) < (9 - fy) and fy >= 5:
                px[y][x] = arrow
    rows = b""
    for y in reversed(range(size)):
        for r, g, b, a in px[y]:
            rows += bytes((b, g, r, a))
    mask_row = ((size + 31) // 32) * 4
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 32, 0, len(rows), 0, 0, 0, 0)
    return header + rows + b"\0" * (mask_row * size)


def write_icon(path):
    images = [icon_image(16), icon_image(32)]
    out = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for size, data in zip((16, 32), images):
        out += struct.pack("<BBBBHHII", size, size, 0, 0, 1, 32, len(data), offset)
        offset += len(data)
    open(path, "wb").write(out + b"".join(images))


def write_sort_marks(path):
    width, height = 30, 10
    face, mark = 0, 1
    pixels = [[face] * width for _ in range(height)]
    for y in range(2, 8):
        half = y - 2  # ascending: narrow at the top
        for x in range(7 - half, 8 + half):
            pixels[y][x] = mark
        half = 7 - y  # descending: narrow at the bottom
        for x in range(15 + 7 - half, 15 + 8 + half):
            pixels[y][x] = mark
    stride = (width + 3) & ~3
    data = b"".join(bytes(pixels[y]) + b"\0" * (stride - width) for y in reversed(range(height)))
    palette = bytes((192, 192, 192, 0)) + bytes((96, 96, 96, 0)) + b"\0" * 4 * 254
    info = struct.pack("<IiiHHIIiiII", 40, width, height, 1, 8, 0, len(data), 2835, 2835, 256, 0)
    offset = 14 + len(info) + len(palette)
    head = struct.pack("<2sIHHI", b"BM", offset + len(data), 0, 0, offset)
    open(path, "wb").write(head + info + palette + data)


if __name__ == "__main__":
    write_icon("romsmith.ico")
    write_sort_marks("sort_marks.bmp")
