#!/usr/bin/env python3
"""Draws the list's six 20x20 pictures (bitmap, magenta as the mask colour) and the program's
icon, so that no binary image lives in the tree. Usage: make_pictures.py BMP ICO"""
import struct
import sys

MASK = (255, 0, 255)
W = H = 20


def blank(w, h, colour=MASK):
    return [[colour] * w for _ in range(h)]


def rect(px, x0, y0, x1, y1, colour, fill=None):
    for y in range(y0, y1 + 1):
        for x in range(x0, x1 + 1):
            edge = x in (x0, x1) or y in (y0, y1)
            if edge:
                px[y][x] = colour
            elif fill is not None:
                px[y][x] = fill


def check_box(state):
    px = blank(W, H)
    fill = (255, 255, 255) if state != 2 else (212, 208, 200)
    rect(px, 3, 3, 15, 15, (28, 81, 128), fill)
    if state:
        tick = (0, 0, 0) if state == 1 else (128, 128, 128)
        for x, y in [(6, 9), (7, 10), (8, 11), (9, 10), (10, 9), (11, 8), (12, 7), (13, 6)]:
            px[y][x] = px[y - 1][x] = tick
    return px


def hard_disk(warning):
    px = blank(W, H)
    rect(px, 1, 6, 18, 14, (64, 64, 64), (176, 176, 176))
    rect(px, 2, 11, 17, 13, (96, 96, 96), (144, 144, 144))
    px[12][15] = (0, 200, 0)
    if warning:
        for y in range(0, 9):
            for x in range(13 - y // 2, 14 + y // 2 + 1):
                if 0 <= x < W:
                    px[y][x] = (255, 200, 0)
        for y in (2, 3, 4, 5, 7):
            px[y][13] = (0, 0, 0)
    return px


def folder():
    px = blank(W, H)
    rect(px, 2, 5, 8, 7, (160, 120, 0), (240, 200, 80))
    rect(px, 2, 7, 17, 16, (160, 120, 0), (250, 220, 110))
    return px


def bmp(rows):
    h, w = len(rows), len(rows[0])
    stride = (w * 3 + 3) & ~3
    data = bytearray()
    for row in reversed(rows):
        line = bytearray()
        for r, g, b in row:
            line += bytes((b, g, r))
        data += line + b"\0" * (stride - len(line))
    header = struct.pack("<IiiHHIIiiII", 40, w, h, 1, 24, 0, len(data), 2835, 2835, 0, 0)
    return header, bytes(data)


def icon_image(size):
    px = [[(28, 81, 128)] * size for _ in range(size)]
    s = size / 16
    rect(px, int(2 * s), int(5 * s), int(13 * s), int(11 * s), (255, 255, 255), (176, 176, 176))
    header, xor = bmp(px)
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 24, 0, 0, 0, 0, 0, 0)
    mask_stride = ((size + 31) // 32) * 4
    return header + xor + b"\0" * (mask_stride * size)


def main():
    strip = [[None] * (W * 6) for _ in range(H)]
    pictures = [check_box(0), check_box(1), check_box(2), hard_disk(False), folder(), hard_disk(True)]
    for i, picture in enumerate(pictures):
        for y in range(H):
            strip[y][i * W:(i + 1) * W] = picture[y]
    header, data = bmp(strip)
    with open(sys.argv[1], "wb") as f:
        f.write(b"BM" + struct.pack("<IHHI", 14 + len(header) + len(data), 0, 0, 14 + len(header)))
        f.write(header + data)
    images = [icon_image(32), icon_image(16)]
    with open(sys.argv[2], "wb") as f:
        f.write(struct.pack("<HHH", 0, 1, len(images)))
        offset = 6 + 16 * len(images)
        for size, image in zip((32, 16), images):
            f.write(struct.pack("<BBBBHHII", size, size, 0, 0, 1, 24, len(image), offset))
            offset += len(image)
        for image in images:
            f.write(image)


main()
