#!/usr/bin/env python3
"""Draws the viewer's wait indicator as an animated PNG: three dots on the logo's dark square that
light up one after the other, four frames of 300 ms, repeated. The engine's compositor draws the
window again only when the image changes frame, three times a second, while the page's script
works; a style sheet animation made it draw every frame, which without a GPU took a quarter of a
core from that work. Run once after changing the drawing; the image is kept in the repository.

    draw_wait_indicator.py [folder]    write WaitIndicator.png (default folder: webapp/viewer)
"""

import os
import struct
import sys
import zlib

SIZE = 34            # pixels, as the logo
CORNER = 6           # radius of the square's corners
DOT = 3              # radius of a dot
DOTS_X = (9, 17, 25) # centres of the dots
DOT_Y = 17
SQUARE = (0x1f, 0x3b, 0x63)
LIT = (0xf3, 0xd3, 0x6b)
DIM = 0.2            # how much of the lit colour a dot that is not lit shows
FRAME_MS = 300
SAMPLES = 4          # per pixel and axis, for smooth edges


def coverage(inside, x, y):
    """The share of the pixel at (x, y) for which inside(px, py) holds."""
    hits = 0
    for i in range(SAMPLES):
        for j in range(SAMPLES):
            if inside(x + (i + 0.5) / SAMPLES, y + (j + 0.5) / SAMPLES):
                hits += 1
    return hits / (SAMPLES * SAMPLES)


def in_square(px, py):
    cx = min(max(px, CORNER), SIZE - CORNER)
    cy = min(max(py, CORNER), SIZE - CORNER)
    return (px - cx) ** 2 + (py - cy) ** 2 <= CORNER ** 2


def in_dot(index):
    return lambda px, py: (px - DOTS_X[index] - 0.5) ** 2 + (py - DOT_Y - 0.5) ** 2 <= DOT ** 2


def mix(under, over, share):
    return tuple(round(u + (o - u) * share) for u, o in zip(under, over))


def frame(lit):
    """The pixels of the frame in which dot `lit` is lit (none for -1), as PNG scanlines."""
    lines = bytearray()
    for y in range(SIZE):
        lines.append(0)  # no filter
        for x in range(SIZE):
            colour = SQUARE
            for index in range(len(DOTS_X)):
                share = coverage(in_dot(index), x, y)
                if share:
                    colour = mix(colour, mix(SQUARE, LIT, 1.0 if index == lit else DIM), share)
            lines += bytes(colour) + bytes([round(255 * coverage(in_square, x, y))])
    return zlib.compress(bytes(lines), 9)


def chunk(kind, data):
    return struct.pack('>I', len(data)) + kind + data + struct.pack('>I', zlib.crc32(kind + data) & 0xffffffff)


def animated_png(frames):
    out = b'\x89PNG\r\n\x1a\n' + chunk(b'IHDR', struct.pack('>IIBBBBB', SIZE, SIZE, 8, 6, 0, 0, 0))
    out += chunk(b'acTL', struct.pack('>II', len(frames), 0))  # repeated without end
    sequence = 0
    for number, data in enumerate(frames):
        # Each frame covers the whole image and replaces the one before it.
        out += chunk(b'fcTL', struct.pack('>IIIIIHHBB', sequence, SIZE, SIZE, 0, 0, FRAME_MS, 1000, 0, 0))
        sequence += 1
        if number == 0:
            out += chunk(b'IDAT', data)
        else:
            out += chunk(b'fdAT', struct.pack('>I', sequence) + data)
            sequence += 1
    return out + chunk(b'IEND', b'')


def main():
    folder = sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(__file__), '..', 'webapp', 'viewer')
    path = os.path.join(folder, 'WaitIndicator.png')
    with open(path, 'wb') as out:
        out.write(animated_png([frame(lit) for lit in (0, 1, 2, -1)]))
    print(path)


if __name__ == '__main__':
    main()
