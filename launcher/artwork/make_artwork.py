#!/usr/bin/env python3
"""Draws the launcher's artwork: the splash bitmap and the program icons.

    python3 launcher/artwork/make_artwork.py [output folder]

Writes splash.bmp (398 x 246, 8 bits a pixel with a colour table, uncompressed) and
clipvane-16.png, clipvane-20.png, clipvane-32.png (RGBA) into the folder (by default the one this
script is in). Only the standard library is used, and the output is the same on every run, so the
committed files can be checked against it: run it and `git diff --stat` shows nothing.

The picture: a quill feather on a dark blue ground, the name in a blocky lettering of our own, and
below it a thin rule; the launcher paints the version line under the rule, right-aligned at
x = 358 between y = 160 and y = 180, in light grey on the plain ground.
"""

import math
import os
import struct
import sys
import zlib

WIDTH, HEIGHT = 398, 246

# 5 x 7 letters for the name; "#" is ink.
GLYPHS = {
    "A": [".###.", "#...#", "#...#", "#####", "#...#", "#...#", "#...#"],
    "E": ["#####", "#....", "#....", "####.", "#....", "#....", "#####"],
    "I": [".###.", "..#..", "..#..", "..#..", "..#..", "..#..", ".###."],
    "L": ["#....", "#....", "#....", "#....", "#....", "#....", "#####"],
    "O": [".###.", "#...#", "#...#", "#...#", "#...#", "#...#", ".###."],
    "Q": [".###.", "#...#", "#...#", "#...#", "#.#.#", "#..#.", ".##.#"],
    "R": ["####.", "#...#", "#...#", "####.", "#.#..", "#..#.", "#...#"],
    "T": ["#####", "..#..", "..#..", "..#..", "..#..", "..#..", "..#.."],
    "U": ["#...#", "#...#", "#...#", "#...#", "#...#", "#...#", ".###."],
    "V": ["#...#", "#...#", "#...#", "#...#", "#...#", ".#.#.", "..#.."],
}


def feather(x, y):
    """How a point of the unit square lies on the feather.

    Returns None outside it, else (kind, shade): kind 0 for the vane, 1 for the shaft; shade in
    0..1 runs across the vane, with darker barbs.
    """
    # The feather's axis runs from (0.78, 0.08) down to (0.22, 0.92); u along it, v across it.
    ax, ay, bx, by = 0.78, 0.08, 0.22, 0.92
    length = math.hypot(bx - ax, by - ay)
    dx, dy = (bx - ax) / length, (by - ay) / length
    u = ((x - ax) * dx + (y - ay) * dy) / length
    v = (-(x - ax) * dy + (y - ay) * dx) / length
    if -0.01 <= u <= 1.0 and abs(v) <= 0.018:
        return 1, 0.5
    if not 0.0 <= u <= 0.8:
        return None
    half = 0.17 * math.sin(math.pi * (u / 0.8) ** 0.7)
    if abs(v) > half:
        return None
    shade = 0.35 + 0.65 * (1.0 - abs(v) / max(half, 1e-6))
    barb = (u * 16.0 + abs(v) * 22.0) % 1.0
    if barb < 0.18:
        shade *= 0.72
    return 0, shade


def splash_indices():
    """The splash as colour-table indices, top row first, and its colour table."""
    # 0..127: the ground, a vertical ramp; 128..191: the vane, dark to light; 192: the shaft;
    # 193: the lettering; 194: the rule; 195: the lettering's shadow. The rest is unused (black).
    table = []
    top, bottom = (14, 26, 52), (22, 58, 84)
    for i in range(128):
        t = i / 127.0
        table.append(tuple(round(a + (b - a) * t) for a, b in zip(top, bottom)))
    for i in range(64):
        t = i / 63.0
        table.append((round(70 + 170 * t), round(120 + 118 * t), round(140 + 100 * t)))
    table += [(236, 224, 190), (232, 238, 244), (120, 160, 190), (6, 12, 24)]
    table += [(0, 0, 0)] * (256 - len(table))

    rows = [[round(127 * y / (HEIGHT - 1)) for _ in range(WIDTH)] for y in range(HEIGHT)]

    # The feather in a 200 x 200 square at the left.
    left, top_edge, size = 4, 23, 200
    for y in range(top_edge, top_edge + size):
        for x in range(left, left + size):
            hit = feather((x - left + 0.5) / size, (y - top_edge + 0.5) / size)
            if hit is not None:
                kind, shade = hit
                rows[y][x] = 192 if kind == 1 else 128 + min(63, round(63 * shade))

    # The name, four pixels to a dot, with a one-pixel shadow.
    def letter(text, x0, y0, scale=4, gap=4):
        for n, ch in enumerate(text):
            if ch == " ":
                continue
            for gy, line in enumerate(GLYPHS[ch]):
                for gx, dot in enumerate(line):
                    if dot != "#":
                        continue
                    for py in range(scale):
                        for px in range(scale):
                            x = x0 + n * (5 * scale + gap) + gx * scale + px
                            y = y0 + gy * scale + py
                            if rows[y + 2][x + 2] < 128:
                                rows[y + 2][x + 2] = 195
                            rows[y][x] = 193

    letter("TAVRELO", 190, 56)
    letter("QUILLET", 190, 98)
    for x in range(190, 359):
        rows[146][x] = 194
    return rows, table


def write_bmp(path, rows, table):
    stride = (WIDTH + 3) & ~3
    pixels = bytearray()
    for row in reversed(rows):  # bottom-up, as BMP stores it
        pixels += bytes(row) + bytes(stride - WIDTH)
    header_size = 14 + 40 + 4 * 256
    info = struct.pack("<IiiHHIIiiII", 40, WIDTH, HEIGHT, 1, 8, 0, len(pixels), 2835, 2835, 256, 0)
    palette = b"".join(struct.pack("<BBBB", b, g, r, 0) for r, g, b in table)
    head = struct.pack("<2sIHHI", b"BM", header_size + len(pixels), 0, 0, header_size)
    with open(path, "wb") as out:
        out.write(head + info + palette + pixels)


def icon_pixels(size):
    """The icon: the feather on a rounded dark square, 4 x 4 samples a pixel."""
    samples = 4
    radius = 0.22
    out = []
    for y in range(size):
        for x in range(size):
            acc = [0.0, 0.0, 0.0, 0.0]
            for sy in range(samples):
                for sx in range(samples):
                    fx = (x + (sx + 0.5) / samples) / size
                    fy = (y + (sy + 0.5) / samples) / size
                    cx = min(max(fx, radius), 1 - radius)
                    cy = min(max(fy, radius), 1 - radius)
                    if math.hypot(fx - cx, fy - cy) > radius:
                        continue
                    colour = (18, 40, 70)
                    hit = feather((fx - 0.5) * 1.12 + 0.5, (fy - 0.5) * 1.12 + 0.5)
                    if hit is not None:
                        kind, shade = hit
                        colour = (236, 224, 190) if kind == 1 else (
                            round(70 + 170 * shade), round(120 + 118 * shade), round(140 + 100 * shade))
                    for i in range(3):
                        acc[i] += colour[i]
                    acc[3] += 1
            n = samples * samples
            if acc[3]:
                out.append(tuple(round(c / acc[3]) for c in acc[:3]) + (round(255 * acc[3] / n),))
            else:
                out.append((0, 0, 0, 0))
    return out


def write_png(path, size, pixels):
    raw = bytearray()
    for y in range(size):
        raw.append(0)
        for r, g, b, a in pixels[y * size:(y + 1) * size]:
            raw += bytes((r, g, b, a))

    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))

    with open(path, "wb") as out:
        out.write(b"\x89PNG\r\n\x1a\n")
        out.write(chunk(b"IHDR", struct.pack(">IIBBBBB", size, size, 8, 6, 0, 0, 0)))
        out.write(chunk(b"IDAT", zlib.compress(bytes(raw), 9)))
        out.write(chunk(b"IEND", b""))


def main():
    folder = sys.argv[1] if len(sys.argv) > 1 else os.path.dirname(os.path.abspath(__file__))
    rows, table = splash_indices()
    write_bmp(os.path.join(folder, "splash.bmp"), rows, table)
    for size in (16, 20, 32):
        write_png(os.path.join(folder, "clipvane-%d.png" % size), size, icon_pixels(size))


if __name__ == "__main__":
    main()
