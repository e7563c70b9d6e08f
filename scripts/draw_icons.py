#!/usr/bin/env python3
"""Draws the viewer's small images as GIFs with a transparent background and a 16-colour palette:
the fragment list's buttons (16 x 16, from the pixel maps below) and the toolbar images (drawn with
the small primitives below, each in a colour form Name.gif and a gray form Name_g.gif made from it).
Run once after changing a drawing; the images are kept in the repository.

    draw_icons.py [folder]            write every image (default folder: webapp/viewer)
    draw_icons.py --check [folder]    re-read every image, decode it and compare it with the drawing
    draw_icons.py --preview [name]    print the drawings as text (only those whose name contains name)
"""

import os
import sys

# The list buttons' colours. Their images carry exactly this palette, so they stay as they are.
PALETTE = {
    '.': (255, 255, 255),  # transparent
    'k': (64, 64, 64),
    'b': (31, 59, 99),
    'l': (120, 160, 215),
    'y': (243, 211, 107),
    'o': (200, 150, 40),
    'r': (200, 40, 40),
    'p': (240, 130, 130),
    'g': (60, 140, 60),
}

# The toolbar images' colours: the list colours and seven more, of which four are the grays of the
# gray forms (the colour forms use them too).
TOOLBAR_PALETTE = dict(PALETTE, **{
    'w': (255, 255, 255),  # white (opaque)
    'e': (112, 196, 84),   # light green
    'u': (44, 96, 200),    # blue
    '1': (112, 112, 112),
    '2': (150, 150, 150),
    '3': (214, 214, 214),
    '4': (240, 240, 240),
})
GRAYS = '1234'

ICONS = {
    'FragmentMove.gif': """
................
................
..oooo..........
.oyyyyo.........
.oyyyyoooooooo..
.oyyyyyyyyyyyo..
.oyyyyyyyybyyo..
.oyyyyyyyybbyo..
.oybbbbbbbbbbo..
.oyyyyyyyybbyo..
.oyyyyyyyybyyo..
.oyyyyyyyyyyyo..
.ooooooooooooo..
................
................
................""",
    'FragmentDelete.gif': """
................
................
..rr.......rr...
..rrr.....rrr...
...rrr...rrr....
....rrr.rrr.....
.....rrrrr......
......rrr.......
.....rrrrr......
....rrr.rrr.....
...rrr...rrr....
..rrr.....rrr...
..rr.......rr...
................
................
................""",
    'Edit.gif': """
................
...........kk...
..........kppk..
.........kyykk..
........kyyyk...
.......kyyyk....
......kyyyk.....
.....kyyyk......
....kyyyk.......
...kyyyk........
...kkyk.........
...kkk..........
...kk...........
................
................
................""",
    'FragmentExpand.gif': """
................
................
................
................
...bbbbbbbbbb...
....bbbbbbbb....
.....bbbbbb.....
......bbbb......
.......bb.......
................
...bbbbbbbbbb...
................
................
................
................
................""",
    'FragmentCollapse.gif': """
................
................
................
................
................
...bbbbbbbbbb...
................
.......bb.......
......bbbb......
.....bbbbbb.....
....bbbbbbbb....
...bbbbbbbbbb...
................
................
................
................""",
}


# ---------------------------------------------------------------------------------------------
# Drawing primitives. Shapes are sets of (x, y) pixels; a canvas paints them. Coordinates of
# polygons and circles are in pixel-edge units: pixel (x, y) covers x..x+1, y..y+1 and belongs to a
# shape when its centre does.

def rect(x0, y0, x1, y1):
    """The pixels from (x0, y0) to (x1, y1), both included."""
    return {(x, y) for x in range(x0, x1 + 1) for y in range(y0, y1 + 1)}


def line(x0, y0, x1, y1):
    """The pixels of a straight line from (x0, y0) to (x1, y1), both ends included."""
    pixels = set()
    dx, dy = abs(x1 - x0), -abs(y1 - y0)
    sx, sy = (1 if x1 > x0 else -1), (1 if y1 > y0 else -1)
    error = dx + dy
    while True:
        pixels.add((x0, y0))
        if (x0, y0) == (x1, y1):
            return pixels
        twice = 2 * error
        if twice >= dy:
            error += dy
            x0 += sx
        if twice <= dx:
            error += dx
            y0 += sy


def disc(cx, cy, r):
    """The pixels whose centre lies within r of (cx, cy)."""
    return {(x, y) for x in range(16) for y in range(16) if (x + 0.5 - cx) ** 2 + (y + 0.5 - cy) ** 2 <= r * r}


def polygon(points):
    """The pixels whose centre lies inside the polygon through points."""
    def inside(px, py):
        result = False
        for (ax, ay), (bx, by) in zip(points, points[1:] + points[:1]):
            if (ay > py) != (by > py) and px < ax + (py - ay) * (bx - ax) / (by - ay):
                result = not result
        return result
    return {(x, y) for x in range(16) for y in range(16) if inside(x + 0.5, y + 0.5)}


def mirrored(pixels, width=16):
    """The shape flipped left to right."""
    return {(width - 1 - x, y) for x, y in pixels}


class Canvas:
    def __init__(self, width=16, height=16):
        self.width, self.height = width, height
        self.pixels = [['.'] * width for _ in range(height)]

    def paint(self, pixels, colour):
        for x, y in pixels:
            if 0 <= x < self.width and 0 <= y < self.height:
                self.pixels[y][x] = colour

    def shape(self, pixels, edge, fill=None):
        """Paints a shape: its border (the pixels with a side not on the shape) in edge, the rest in
        fill (left as it is when fill is None)."""
        pixels = set(pixels)
        border = {(x, y) for x, y in pixels
                  if not {(x - 1, y), (x + 1, y), (x, y - 1), (x, y + 1)} <= pixels}
        if fill:
            self.paint(pixels - border, fill)
        self.paint(border, edge)

    def stamp(self, x0, y0, art):
        """Paints a small pixel map with its top left corner at (x0, y0); '.' is left as it is."""
        for y, row in enumerate(art.split()):
            for x, c in enumerate(row):
                if c != '.':
                    self.paint({(x0 + x, y0 + y)}, c)

    def rows(self):
        return [''.join(row) for row in self.pixels]


# ---------------------------------------------------------------------------------------------
# Base shapes and overlay glyphs shared by the toolbar images.

def folder(c, x0=0, y0=2, x1=14, y1=13):
    """A closed yellow folder: a tab on the left over a body from (x0, y0 + 2) to (x1, y1)."""
    c.shape(rect(x0, y0, x0 + 5, y0 + 3) | rect(x0, y0 + 2, x1, y1) - {(x0, y0), (x0 + 5, y0)}, 'k', 'y')
    c.paint(line(x0 + 1, y1 - 1, x1 - 1, y1 - 1), 'o')  # a shaded bottom


def page(c, x0=2, y0=0, x1=13, y1=15, text=True, ear=3):
    """A white page with its top right corner folded over and, if text, gray lines of text."""
    fold = rect(x1 - ear, y0, x1, y0 + ear)
    c.shape(rect(x0, y0, x1, y1) - {(x, y) for x, y in fold if x - (x1 - ear) > y - y0}, 'k', 'w')
    c.shape({(x, y) for x, y in fold if x - (x1 - ear) <= y - y0}, 'k', '3')
    if text:
        for y in range(y0 + ear + 3, y1 - 1, 2):
            c.paint(line(x0 + 2, y, x1 - (2 if (y - y0) % 4 else 4), y), '2')


def arrow(c, x, y, direction, length=9, breadth=9, shaft=3, edge='k', fill='e'):
    """An outlined arrow in the box at (x, y) that is length long in direction ('left', 'right',
    'up', 'down') and breadth wide across it; the shaft is shaft pixels wide."""
    head = (breadth + 1) // 2
    a, b = (breadth - shaft) / 2, (breadth + shaft) / 2
    along = [(0, a), (length - head, a), (length - head, 0), (length, breadth / 2), (length - head, breadth),
             (length - head, b), (0, b)]
    place = {
        'right': lambda u, v: (x + u, y + v),
        'left': lambda u, v: (x + length - u, y + v),
        'down': lambda u, v: (x + v, y + u),
        'up': lambda u, v: (x + v, y + length - u),
    }[direction]
    c.shape(polygon([place(u, v) for u, v in along]), edge, fill)


def red_x(c, x, y):
    """A bold red cross, 7 x 7."""
    c.stamp(x, y, """
        rr...rr
        rrr.rrr
        .rrrrr.
        ..rrr..
        .rrrrr.
        rrr.rrr
        rr...rr""")


def chevron(c, y, down, colour='u'):
    """A bold V across the middle, pointing down (or up) with its wide end at row y."""
    arm = line(3, 0, 7, 4) | line(4, 0, 8, 4)
    arm |= mirrored(arm)
    c.paint({(px, y + (py if down else -py)) for px, py in arm}, colour)


def text_lines(c, rows, x0=1, lengths=(14, 10, 13, 8)):
    """Dark lines of text at the given rows, of varying length, starting at column x0."""
    for row, length in zip(rows, lengths):
        c.paint(line(x0, row, x0 + length - 1, row), 'k')


# ---------------------------------------------------------------------------------------------
# The toolbar images. Each function draws the colour form on a canvas; the gray form is made from it.

TOOLBAR = {}


def toolbar(name, width=16):
    def register(draw):
        c = Canvas(width)
        draw(c)
        TOOLBAR[name] = c.rows()
        return draw
    return register


@toolbar('OpenFile.gif')
def open_file(c):
    c.shape(rect(0, 2, 4, 4) | rect(0, 3, 11, 13) - {(0, 2), (4, 2)}, 'k', 'o')  # the back, inside
    c.shape(polygon([(4, 7), (16, 7), (12, 14), (0, 14)]), 'k', 'y')  # the front, swung open


@toolbar('btn_dn.gif', width=7)
def drop_down(c):
    c.paint(polygon([(0, 6), (7, 6), (3.5, 10)]), 'k')


@toolbar('Print.gif')
def print_(c):
    c.shape(rect(4, 1, 11, 5), 'k', 'w')  # paper going in
    c.shape(rect(1, 4, 14, 10), 'k', '3')  # the body, with a lamp
    c.paint(line(2, 9, 13, 9), '2')
    c.paint({(12, 6)}, 'e')
    c.shape(rect(3, 9, 12, 14), 'k', 'w')  # the printed sheet
    c.paint(line(5, 11, 10, 11) | line(5, 13, 9, 13), '2')


@toolbar('Search.gif')
def search(c):
    c.paint(line(9, 9, 13, 13) | line(10, 9, 14, 13) | line(9, 10, 13, 14), 'k')  # the handle
    c.shape(disc(6, 6, 5), 'k', 'l')  # the lens, with a glint
    c.paint({(4, 3), (3, 4), (5, 3), (3, 5)}, 'w')


@toolbar('FileImport.gif')
def file_import(c):
    page(c, 4, 0, 14, 15)
    arrow(c, 0, 4, 'right', length=10)


@toolbar('FileExport.gif')
def file_export(c):
    page(c, 1, 0, 11, 15)
    arrow(c, 6, 6, 'right', length=10)


@toolbar('HTMLExport.gif')
def html_export(c):
    page(c, 1, 0, 12, 15, text=False)
    c.shape(disc(10, 10, 5.5), 'k', 'l')  # a globe
    c.stamp(7, 6, """
        .gg....
        gggg...
        .ggg...
        ..g....
        .....gg
        ....ggg
        ....gg.""")


@toolbar('SendByMail.gif')
def send_by_mail(c):
    c.shape(rect(0, 3, 15, 13), 'k', 'w')
    c.paint(line(1, 4, 7, 9) | line(14, 4, 8, 9), 'k')  # the flap
    c.paint(line(1, 12, 5, 8) | line(14, 12, 10, 8), '2')


@toolbar('FolderNew.gif')
def folder_new(c):
    folder(c, 0, 2, 13, 13)  # with a green sparkle
    c.stamp(9, 0, """
        ...k...
        .k.e.k.
        ..kek..
        keeeeek
        ..kek..
        .k.e.k.
        ...k...""")


@toolbar('FolderRename.gif')
def folder_rename(c):
    folder(c, 0, 2, 13, 13)  # with a pencil
    c.stamp(7, 6, """
        ......kk.
        .....kppk
        ....kllkk
        ...kllk..
        ..kllk...
        .kllk....
        kkkk.....
        kk.......""")


@toolbar('FolderRemove.gif')
def folder_remove(c):
    folder(c, 0, 2, 13, 13)
    red_x(c, 9, 9)


@toolbar('FolderMove.gif')
def folder_move(c):
    folder(c, 0, 2, 13, 13)
    arrow(c, 7, 7, 'right')


@toolbar('FolderFilterOff.gif')
def folder_filter_off(c):
    folder(c, 0, 4, 11, 14)  # under a funnel
    c.stamp(6, 0, """
        kkkkkkkkkk
        kwlllllllk
        .kwlllllk.
        ..kwlllk..
        ...kllk...
        ...kllk...
        ...kllk...
        ...kllk...
        ...kkkk...""")


def tree_pane(c, pointing):
    """A window whose left pane shows a folder tree, with an arrow in the right pane."""
    c.shape(rect(0, 1, 15, 14), 'k', 'w')
    c.paint(line(1, 2, 14, 2), 'u')  # the title bars
    c.paint(line(7, 2, 7, 13), 'k')  # the divider
    c.paint(line(2, 6, 2, 11), '2')  # the tree's stem and its folders
    for x, y in ((1, 4), (3, 7), (3, 10)):
        c.paint(rect(x, y, x + 2, y + 1), 'o')
    arrow(c, 8, 5, pointing, length=6, breadth=7, edge='u', fill='u')


@toolbar('FolderTreeHide.gif')
def folder_tree_hide(c):
    tree_pane(c, 'left')


@toolbar('FolderTreeShow.gif')
def folder_tree_show(c):
    tree_pane(c, 'right')


@toolbar('TBFragmentExpand.gif')
def fragment_expand(c):
    text_lines(c, (1, 3, 5))
    chevron(c, 8, down=True)


@toolbar('TBFragmentCollapse.gif')
def fragment_collapse(c):
    text_lines(c, (1, 3, 5))
    chevron(c, 13, down=False)


@toolbar('TBFragmentMove.gif')
def fragment_move(c):
    page(c, 1, 0, 11, 15)
    arrow(c, 6, 7, 'right', length=10, fill='u')


@toolbar('TBFragmentDelete.gif')
def fragment_delete(c):
    page(c, 1, 0, 11, 15)
    red_x(c, 8, 8)


@toolbar('SortingModes.gif')
def sorting_modes(c):
    for i, row in enumerate((2, 5, 8, 11)):  # bars growing longer downwards, beside a down arrow
        c.paint(rect(7, row, 8 + 2 * i, row + 1), 'u')
    c.paint(line(3, 1, 3, 13) | line(2, 1, 2, 13), 'k')
    c.paint(polygon([(0, 10), (6, 10), (3, 14.5)]), 'k')


@toolbar('VisibilityOptions.gif')
def visibility_options(c):
    lids = disc(8, 13, 9) & disc(8, 3, 9)
    c.shape(lids, 'k', 'w')
    c.paint(disc(8, 8, 3.2), 'u')  # the iris
    c.paint(rect(7, 7, 8, 8), 'k')  # the pupil
    c.paint({(7, 6), (6, 7)}, 'l')


@toolbar('Help.gif')
def help_(c):
    c.shape(disc(8, 8, 7.8), 'k', 'u')  # a white question mark on a blue disc
    c.stamp(5, 3, """
        .www.
        ww.ww
        ...ww
        ..ww.
        ..ww.
        .....
        ..ww.
        ..ww.""")


def gray_form(rows):
    """The gray form of a colour image: each colour's luminance, moved part of the way towards white,
    becomes the nearest of the grays, so the gray image is lighter and of softer contrast."""
    def level(key):
        r, g, b = TOOLBAR_PALETTE[key]
        return 0.299 * r + 0.587 * g + 0.114 * b
    to_gray = {'.': '.'}
    for key in TOOLBAR_PALETTE:
        if key != '.':
            lifted = 255 - (255 - level(key)) * 0.7
            to_gray[key] = min(GRAYS, key=lambda gray: abs(level(gray) - lifted))
    return [''.join(to_gray[c] for c in row) for row in rows]


def gray_name(name):
    stem, extension = os.path.splitext(name)
    return stem + '_g' + extension


def drawings():
    """Every image as (file name, rows of palette keys, palette)."""
    images = [(name, pixel_map.strip('\n').split('\n'), PALETTE) for name, pixel_map in ICONS.items()]
    for name, rows in TOOLBAR.items():
        images.append((name, rows, TOOLBAR_PALETTE))
        images.append((gray_name(name), gray_form(rows), TOOLBAR_PALETTE))
    return images


# ---------------------------------------------------------------------------------------------
# GIF writing and reading.

def lzw_uncompressed(indices, code_size):
    """Pixel indices as GIF image data: a clear code before every few codes keeps each code at
    code_size + 1 bits, which every decoder reads."""
    clear, end = 1 << code_size, (1 << code_size) + 1
    width = code_size + 1
    codes = []
    run = (1 << code_size) - 2
    for i, index in enumerate(indices):
        if i % run == 0:
            codes.append(clear)
        codes.append(index)
    codes.append(end)
    bits = nbits = 0
    out = bytearray()
    for code in codes:
        bits |= code << nbits
        nbits += width
        while nbits >= 8:
            out.append(bits & 0xFF)
            bits >>= 8
            nbits -= 8
    if nbits:
        out.append(bits & 0xFF)
    blocks = bytearray([code_size])
    for at in range(0, len(out), 255):
        chunk = out[at:at + 255]
        blocks += bytes([len(chunk)]) + chunk
    return bytes(blocks + b'\x00')


def gif(rows, palette=PALETTE):
    """A GIF of the pixel map rows (one palette key a pixel) with palette index 0 transparent."""
    width, height = len(rows[0]), len(rows)
    keys = list(palette)
    table = bytearray()
    for key in keys:
        table += bytes(palette[key])
    table += bytes(3 * (16 - len(keys)))
    indices = [keys.index(c) for row in rows for c in row]
    size = width.to_bytes(2, 'little') + height.to_bytes(2, 'little')
    head = b'GIF89a' + size + bytes([0xF3, 0, 0]) + table
    control = bytes([0x21, 0xF9, 4, 1, 0, 0, 0, 0])  # transparent colour: index 0
    image = b'\x2C' + bytes(4) + size + b'\x00'
    return head + control + image + lzw_uncompressed(indices, 4) + b'\x3B'


def lzw_decode(data, code_size):
    """Decodes GIF LZW data (any encoder's: growing code widths, clear codes, table entries)."""
    clear, end = 1 << code_size, (1 << code_size) + 1
    table = [[i] for i in range(clear)] + [None, None]
    width, bits, nbits, previous, out = code_size + 1, 0, 0, None, []
    for byte in data:
        bits |= byte << nbits
        nbits += 8
        while nbits >= width:
            code = bits & ((1 << width) - 1)
            bits >>= width
            nbits -= width
            if code == clear:
                table = table[:end + 1]
                width, previous = code_size + 1, None
                continue
            if code == end:
                return out
            if previous is None:
                entry = table[code]
            else:
                entry = table[code] if code < len(table) else previous + previous[:1]
                table.append(previous + entry[:1])
                if len(table) == 1 << width and width < 12:
                    width += 1
            out += entry
            previous = entry
    raise ValueError('no end code')


def read_gif(data):
    """(width, height, palette colours, transparent index, pixel indices) of a one-image GIF."""
    if data[:6] not in (b'GIF87a', b'GIF89a'):
        raise ValueError('not a GIF')
    flags, at = data[10], 13
    colours = []
    if flags & 0x80:
        count = 2 << (flags & 7)
        colours = [tuple(data[at + 3 * i:at + 3 * i + 3]) for i in range(count)]
        at += 3 * count
    transparent = None
    while True:
        block = data[at]
        if block == 0x21:
            label, at = data[at + 1], at + 2
            if label == 0xF9 and data[at + 1] & 1:
                transparent = data[at + 4]
            while data[at]:
                at += data[at] + 1
            at += 1
        elif block == 0x2C:
            width = int.from_bytes(data[at + 5:at + 7], 'little')
            height = int.from_bytes(data[at + 7:at + 9], 'little')
            if data[at + 9] & 0xC0:
                raise ValueError('local colour table or interlacing not expected')
            code_size, at = data[at + 10], at + 11
            chunks = bytearray()
            while data[at]:
                chunks += data[at + 1:at + 1 + data[at]]
                at += data[at] + 1
            if data[at + 1] != 0x3B:
                raise ValueError('more than one image')
            return width, height, colours, transparent, lzw_decode(chunks, code_size)
        else:
            raise ValueError('unexpected block %02x' % block)


def check(folder):
    """Re-reads every image in folder and compares it with its drawing; returns the number of faults."""
    faults = 0
    for name, rows, palette in drawings():
        keys = list(palette)
        try:
            with open(os.path.join(folder, name), 'rb') as f:
                width, height, colours, transparent, indices = read_gif(f.read())
            drawn = [keys.index(c) for row in rows for c in row]
            problems = []
            if (width, height) != (len(rows[0]), len(rows)):
                problems.append('size %d x %d' % (width, height))
            if colours[:len(keys)] != [palette[k] for k in keys]:
                problems.append('palette')
            if transparent != 0:
                problems.append('transparent index %s' % transparent)
            if indices != drawn:
                problems.append('pixels')
        except IndexError:
            problems = ['cut short']
        except (OSError, ValueError) as error:
            problems = [str(error)]
        faults += bool(problems)
        print('%-26s %2d x %2d  %s' % (name, len(rows[0]), len(rows), ', '.join(problems) or 'ok'))
    return faults


def preview(part=''):
    """Prints the colour and gray form of each image side by side ('.' is transparent)."""
    images = drawings()
    for name, rows, _ in images:
        if part not in name or name.endswith('_g.gif'):
            continue
        gray = next((r for n, r, _ in images if n == gray_name(name)), None)
        print(name)
        for i, row in enumerate(rows):
            print('  ' + row + ('    ' + gray[i] if gray else ''))
        print()


if __name__ == '__main__':
    arguments = sys.argv[1:]
    default = os.path.join(os.path.dirname(os.path.abspath(__file__)), '..', 'webapp', 'viewer')
    if arguments[:1] == ['--preview']:
        preview(*arguments[1:2])
    elif arguments[:1] == ['--check']:
        sys.exit(1 if check(arguments[1] if len(arguments) > 1 else default) else 0)
    else:
        folder = arguments[0] if arguments else default
        for name, rows, palette in drawings():
            with open(os.path.join(folder, name), 'wb') as out:
                out.write(gif(rows, palette))
