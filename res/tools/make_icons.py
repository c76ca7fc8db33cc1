#!/usr/bin/env python3
"""Draws the program's three icons and writes them as .ico files.

    python3 res/tools/make_icons.py [OUTPUT_FOLDER]      (default: res/icons)

app.ico      (resource 128): a page under a magnifying glass; 48, 32 and 16 px at 8 and 24 bpp.
pinned.ico   (resource 129): a push pin seen from above, pressed in; 16 px, 16 colours.
unpinned.ico (resource 130): a push pin seen from the side; 16 px, 16 colours.

The generated files are kept in the repository so that the build never needs this script.
Only the standard library is used: the ICO and DIB records are written by hand.
"""

import math
import os
import struct
import sys

# The 16-colour palette every Windows display knows, as (r, g, b).
VGA16 = [
    (0x00, 0x00, 0x00), (0x80, 0x00, 0x00), (0x00, 0x80, 0x00), (0x80, 0x80, 0x00),
    (0x00, 0x00, 0x80), (0x80, 0x00, 0x80), (0x00, 0x80, 0x80), (0xC0, 0xC0, 0xC0),
    (0x80, 0x80, 0x80), (0xFF, 0x00, 0x00), (0x00, 0xFF, 0x00), (0xFF, 0xFF, 0x00),
    (0x00, 0x00, 0xFF), (0xFF, 0x00, 0xFF), (0x00, 0xFF, 0xFF), (0xFF, 0xFF, 0xFF),
]


def palette_256():
    """A 6x6x6 colour cube followed by 40 greys: good enough for smooth 8 bpp art."""
    colours = []
    steps = [0, 51, 102, 153, 204, 255]
    for r in steps:
        for g in steps:
            for b in steps:
                colours.append((r, g, b))
    for i in range(40):
        v = round(i * 255 / 39)
        colours.append((v, v, v))
    return colours


def nearest(colour, palette):
    best, best_d = 0, None
    for i, p in enumerate(palette):
        d = sum((a - b) ** 2 for a, b in zip(colour, p))
        if best_d is None or d < best_d:
            best, best_d = i, d
    return best


def row_bytes(bits_per_row):
    return ((bits_per_row + 31) // 32) * 4


def dib(size, pixels, bpp, palette=None):
    """One icon image: BITMAPINFOHEADER, palette, XOR bits and AND mask, rows bottom-up.

    `pixels` is a list of rows, top row first; an entry is None (transparent) or, for
    palette images, a palette index, else an (r, g, b) tuple."""
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, bpp, 0, 0, 0, 0,
                         len(palette) if palette else 0, 0)
    out = bytearray(header)
    if palette:
        for r, g, b in palette:
            out += bytes((b, g, r, 0))
    stride = row_bytes(size * bpp)
    for y in reversed(range(size)):
        row = bytearray(stride)
        for x in range(size):
            p = pixels[y][x]
            if bpp == 24:
                r, g, b = p if p is not None else (0, 0, 0)
                row[x * 3:x * 3 + 3] = bytes((b, g, r))
            elif bpp == 8:
                row[x] = p if p is not None else 0
            elif bpp == 4:
                v = p if p is not None else 0
                row[x // 2] |= v << 4 if x % 2 == 0 else v
        out += row
    mask_stride = row_bytes(size)
    for y in reversed(range(size)):
        row = bytearray(mask_stride)
        for x in range(size):
            if pixels[y][x] is None:
                row[x // 8] |= 0x80 >> (x % 8)
        out += row
    return bytes(out)


def write_ico(path, images):
    """images: list of (size, bpp, colour count byte, dib bytes)."""
    out = bytearray(struct.pack("<HHH", 0, 1, len(images)))
    offset = 6 + 16 * len(images)
    for size, bpp, colours, data in images:
        out += struct.pack("<BBBBHHII", size % 256, size % 256, colours, 0, 1, bpp, len(data),
                           offset)
        offset += len(data)
    for _, _, _, data in images:
        out += data
    with open(path, "wb") as f:
        f.write(out)


# ---- the application icon: vector shapes in a unit square, painted back to front ----------

PAPER = (248, 248, 244)
INK = (52, 64, 84)
TEXT = (150, 170, 196)
FOLD = (214, 220, 228)
LENS = (172, 214, 242)
RING = (38, 56, 92)
HANDLE = (176, 92, 32)


def segment_distance(px, py, ax, ay, bx, by):
    dx, dy = bx - ax, by - ay
    t = max(0.0, min(1.0, ((px - ax) * dx + (py - ay) * dy) / (dx * dx + dy * dy)))
    return math.hypot(px - ax - t * dx, py - ay - t * dy)


def app_colour(x, y):
    colour = None
    # The page, with its top right corner folded over.
    left, top, right, bottom, fold = 0.12, 0.05, 0.70, 0.88, 0.17
    if left <= x <= right and top <= y <= bottom and (x - (right - fold)) <= (y - top):
        edge = min(x - left, right - x, y - top, bottom - y)
        diagonal = ((y - top) - (x - (right - fold))) / math.sqrt(2)
        colour = INK if min(edge, diagonal) < 0.035 else PAPER
        if colour is PAPER:
            for line_y in (0.30, 0.41, 0.52, 0.63, 0.74):
                if abs(y - line_y) < 0.025 and left + 0.09 <= x <= right - 0.10:
                    colour = TEXT
    # The folded corner itself: the triangle cut off the page, drawn turned over.
    u, v = x - (right - fold), y - top
    if 0 <= u <= fold and 0 <= v <= fold and v >= u:
        colour = INK if (fold - v) < 0.035 or u < 0.035 or (v - u) / math.sqrt(2) < 0.03 else FOLD
    # The magnifying glass: handle, then ring and lens.
    cx, cy, radius = 0.58, 0.57, 0.21
    if segment_distance(x, y, 0.73, 0.72, 0.90, 0.90) < 0.075:
        colour = RING if segment_distance(x, y, 0.73, 0.72, 0.90, 0.90) > 0.048 else HANDLE
    d = math.hypot(x - cx, y - cy)
    if d <= radius:
        if d >= radius - 0.06:
            colour = RING
        else:
            base = colour or PAPER
            colour = tuple(round(0.45 * b + 0.55 * l) for b, l in zip(base, LENS))
            # A glint on the glass.
            if math.hypot(x - (cx - 0.06), y - (cy - 0.07)) < 0.045:
                colour = (250, 252, 255)
    return colour


def render(size, shape, samples=4):
    rows = []
    for py in range(size):
        row = []
        for px in range(size):
            hits = []
            for sy in range(samples):
                for sx in range(samples):
                    c = shape((px + (sx + 0.5) / samples) / size, (py + (sy + 0.5) / samples) / size)
                    if c is not None:
                        hits.append(c)
            if len(hits) * 2 < samples * samples:
                row.append(None)
            else:
                row.append(tuple(round(sum(c[i] for c in hits) / len(hits)) for i in range(3)))
        rows.append(row)
    return rows


# ---- the pins: 16x16 pixel art in the 16-colour palette ------------------------------------

PIN_KEYS = {".": None, "K": 0, "r": 1, "g": 8, "G": 7, "R": 9, "W": 15}

# Seen from above, pressed into the surface: a round red head with its shadow inside.
PINNED = [
    "................",
    "................",
    ".....KKKKKK.....",
    "....KRRRRRRK....",
    "...KRRWWRRRrK...",
    "..KRRWRRRRRRrK..",
    "..KRWRRrrrRRrK..",
    "..KRRRrKKrRRrK..",
    "..KRRRrKKrRRrK..",
    "..KRRRRrrRRRrK..",
    "..KRRRRRRRRrrK..",
    "...KrRRRRRrrK...",
    "....KrrrrrrK....",
    ".....KKKKKK.....",
    "................",
    "................",
]

# Seen from the side, standing loose: flat head, grip, base plate and needle.
UNPINNED = [
    "................",
    ".....KKKKKK.....",
    "....KRWWRRRK....",
    "....KRRRRRrK....",
    ".....KKRRKK.....",
    "......KRrK......",
    "......KWrK......",
    "......KRrK......",
    "....KKKRrKKK....",
    "...KRWRRRRRrK...",
    "...KKKKKKKKKK...",
    ".......gG.......",
    ".......gG.......",
    ".......gG.......",
    "........g.......",
    "................",
]


def pin_pixels(art):
    assert len(art) == 16 and all(len(row) == 16 for row in art), "pin art must be 16x16"
    return [[PIN_KEYS[ch] for ch in row] for row in art]


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    out_dir = sys.argv[1] if len(sys.argv) > 1 else os.path.join(here, "..", "icons")
    os.makedirs(out_dir, exist_ok=True)

    palette = palette_256()
    images = []
    for size in (48, 32, 16):
        rgb = render(size, app_colour)
        images.append((size, 24, 0, dib(size, rgb, 24)))
        indexed = [[None if c is None else nearest(c, palette) for c in row] for row in rgb]
        images.append((size, 8, 0, dib(size, indexed, 8, palette)))
    write_ico(os.path.join(out_dir, "app.ico"), images)

    for name, art in (("pinned.ico", PINNED), ("unpinned.ico", UNPINNED)):
        write_ico(os.path.join(out_dir, name), [(16, 4, 16, dib(16, pin_pixels(art), 4, VGA16))])


if __name__ == "__main__":
    main()
