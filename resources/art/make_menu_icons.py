#!/usr/bin/env python3
"""Draw the pictures of the Quorvandel Corvantis main window.

Original artwork in the family of the task window's pictures: the teal
component block, green for registering, red for unregistering, crisp
pixel-aligned edges.  Every size is laid out on its own pixel grid, never
scaled down from a larger picture: the design grid is 16 units, straight
edges are snapped to whole pixels of the size being drawn, outlines stay one
pixel wide, slanted and round edges get area anti-aliasing, and the smallest
marks (the "?", the "i", the 16 pixel tick and cross) are placed pixel by
pixel.

The 24 square pictures, in strip order:
   0 batch entry (page with a component)    12 move last
   1 new                                    13 register all
   2 open                                   14 unregister all
   3 save                                   15 Windows registry
   4 add file                               16 help
   5 remove file                            17 file properties
   6 cut                                    18 always on top, off
   7 copy                                   19 always on top, on
   8 paste                                  20 register file
   9 move first                             21 unregister file
  10 move up                                22 drop target: register
  11 move down                              23 drop target: unregister

Usage:
    python3 resources/art/make_menu_icons.py OUTDIR [--preview DIR]

Writes MenuIcons16.bmp, MenuIcons20.bmp, MenuIcons24.bmp and MenuIcons32.bmp
into OUTDIR: one horizontal strip per size (24 * size by size pixels),
32-bit BITMAPV5 with straight alpha, bottom-up, for LoadImage
(LR_CREATEDIBSECTION) + ImageList_Add on an ILC_COLOR32 image list.  The
enabled look is drawn; the program greys disabled pictures itself.  With
--preview DIR, also writes each strip at 1:1 (PNG) and enlarged sheets on
light and dark grey.  The output is deterministic.
"""

import math
import os
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
sys.dont_write_bytecode = True          # importing artlib leaves no cache
sys.path.insert(0, HERE)
from artlib import (WHITE, TEAL_TOP, TEAL_BOT, TEAL_EDGE,  # noqa: E402
                    BACK_TOP, BACK_BOT, BACK_EDGE, PIN_FILL,
                    TICK_TOP, TICK_BOT, BADGE_EDGE, STOP_TOP, STOP_BOT, STOP_EDGE,
                    WARN_EDGE,
                    Canvas, sd_box, sd_circle, sd_polygon, sd_polyline, sd_bar,
                    grow, shrink, union, subtract, rotate, vgrad, mix,
                    bmp_v5_bytes, png_bytes, preview_png)

SIZES = (16, 20, 24, 32)

# --------------------------------------------------------------------------
# Palette of the main window's pictures (straight RGB)
# --------------------------------------------------------------------------
PAPER_TOP = (0xFF, 0xFF, 0xFF)
PAPER_BOT = (0xE6, 0xEF, 0xF2)
PAPER_EDGE = (0x5E, 0x70, 0x7C)
FOLD = (0xCB, 0xDB, 0xE2)
TEXT = (0x93, 0xA4, 0xAF)            # text lines on a page

GREEN_EDGE = BADGE_EDGE
RED_TOP, RED_BOT, RED_EDGE = STOP_TOP, STOP_BOT, STOP_EDGE

BLUE_TOP = (0x4A, 0x9B, 0xE8)        # help, information, registry
BLUE_BOT = (0x1E, 0x66, 0xBE)
BLUE_EDGE = (0x12, 0x47, 0x8A)

FOLDER_BACK = (0xE0, 0xA8, 0x30)
FOLDER_TOP = (0xFF, 0xDC, 0x72)
FOLDER_BOT = (0xF4, 0xBC, 0x36)
FOLDER_EDGE = WARN_EDGE

STAR = (0xFF, 0xD0, 0x2E)
STAR_EDGE = (0xC0, 0x84, 0x00)

STEEL_TOP = (0xF4, 0xF7, 0xF9)
STEEL_BOT = (0xC2, 0xCC, 0xD3)
STEEL_EDGE = (0x4E, 0x5A, 0x64)

BOARD_TOP = (0xC8, 0x8E, 0x4E)        # clipboard
BOARD_BOT = (0xA8, 0x6C, 0x30)
BOARD_EDGE = (0x6E, 0x44, 0x16)

PIN_HEAD_TOP = (0xF0, 0x5A, 0x4C)       # pushpin, pinned
PIN_HEAD_BOT = (0xC0, 0x24, 0x1A)
NEEDLE = (0x6A, 0x74, 0x7E)


# --------------------------------------------------------------------------
# A picture being drawn: design units (16 across) snapped to this size
# --------------------------------------------------------------------------
class Pic:
    def __init__(self, size):
        self.n = size
        self.k = size / 16.0
        self.cv = Canvas(size, size, ss=8)

    def u(self, v):
        """Design units -> whole pixels of this size."""
        return int(math.floor(v * self.k + 0.5))

    def us(self, *vs):
        return [self.u(v) for v in vs]

    def f(self, v):
        """Design units -> exact (unsnapped) pixels."""
        return v * self.k

    def shape(self, sdf, fill, edge=None, box=None):
        """Fill a shape, with a one-pixel edge of another colour if edge is
        given.  fill: RGB, or a (top, bottom) pair for a vertical gradient
        over box (x0, y0, x1, y1; default the whole picture)."""
        if isinstance(fill[0], tuple):
            y0, y1 = (box[1], box[3]) if box else (0, self.n)
            fill = vgrad(fill[0], fill[1], y0, y1)
        if edge is not None:
            self.cv.fill(sdf, edge, bbox=box)
            self.cv.fill(shrink(sdf, 1.0), fill, bbox=box)
        else:
            self.cv.fill(sdf, fill, bbox=box)

    def moat(self, sdf, d=1.0):
        """Clear a gap around a shape about to be drawn over others."""
        self.cv.erase(grow(sdf, d))

    def rect(self, x0, y0, x1, y1, fill, edge=None, r=0.0):
        self.shape(lambda x, y: sd_box(x, y, x0, y0, x1, y1, r), fill, edge, (x0, y0, x1, y1))

    def poly(self, pts, fill, edge=None):
        xs, ys = [q[0] for q in pts], [q[1] for q in pts]
        self.shape(lambda x, y: sd_polygon(x, y, pts), fill, edge,
                   (min(xs), min(ys), max(xs), max(ys)))

    def disc(self, cx, cy, r, fill, edge=None):
        self.shape(lambda x, y: sd_circle(x, y, cx, cy, r), fill, edge,
                   (cx - r, cy - r, cx + r, cy + r))

    def dots(self, pts, colour):
        """Single pixels, for marks too small to draw as shapes."""
        for x, y in pts:
            self.rect(x, y, x + 1, y + 1, colour)

    def glyph(self, rows, x0, y0, colour):
        """A pixel pattern ("X" set, anything else clear) at (x0, y0)."""
        self.dots([(x0 + x, y0 + y) for y, line in enumerate(rows)
                   for x, ch in enumerate(line) if ch == "X"], colour)


GREEN = ((TICK_TOP, TICK_BOT), GREEN_EDGE)
RED = ((RED_TOP, RED_BOT), RED_EDGE)
BLUE = ((BLUE_TOP, BLUE_BOT), BLUE_EDGE)


# --------------------------------------------------------------------------
# Parts
# --------------------------------------------------------------------------
def page(p, x0, y0, x1, y1, lines=False, fold=None):
    """White sheet with a folded top right corner (design units), with grey
    lines of writing if asked."""
    X0, Y0, X1, Y1 = p.us(x0, y0, x1, y1)
    c = fold if fold is not None else max(3, p.u(4))
    p.poly([(X0, Y0), (X1 - c, Y0), (X1, Y0 + c), (X1, Y1), (X0, Y1)],
           (PAPER_TOP, PAPER_BOT), PAPER_EDGE)
    p.poly([(X1 - c, Y0), (X1 - c, Y0 + c), (X1, Y0 + c)], FOLD, PAPER_EDGE)
    if lines:
        y = Y0 + 3
        while y + 1 <= Y1 - 2:
            right = X1 - 2 if y > Y0 + c else X1 - c - 1
            if right - (X0 + 2) >= 2:
                p.rect(X0 + 2, y, right, y + 1, TEXT)
            y += 2 if p.n < 24 else 3


def block(p, X0, Y0, X1, Y1, pins=True, light=False):
    """The program's component: a teal block with two connector pins on
    its left (pixel coordinates of the block)."""
    top, bot, edge = (BACK_TOP, BACK_BOT, BACK_EDGE) if light else (TEAL_TOP, TEAL_BOT, TEAL_EDGE)
    p.rect(X0, Y0, X1, Y1, (top, bot), edge, 1.0 if X1 - X0 < 12 else 1.5)
    if pins:
        h = Y1 - Y0
        pw = max(2, (X1 - X0) // 3)
        ph = 1 if h < 9 else 2
        for t in (0.3, 0.7):
            py = Y0 + int(round(h * t - ph / 2.0 - 0.01))
            if ph == 1:
                p.rect(X0 - pw, py, X0, py + 1, edge)
            else:
                p.rect(X0 - pw, py - 1, X0 + 1, py + ph + 1, PIN_FILL, edge)


def moat_rect(p, X0, Y0, X1, Y1):
    p.moat(lambda x, y: sd_box(x, y, X0, Y0, X1, Y1))


def component(p, X0, Y0, X1, Y1):
    """A component drawn over others, with a clear gap around it and its pins."""
    moat_rect(p, X0 - max(2, (X1 - X0) // 3), Y0, X1, Y1)
    block(p, X0, Y0, X1, Y1)


def stack(p):
    """Two components, one behind the other, as in the program's icon."""
    block(p, p.u(6), p.u(0), p.u(15), p.u(9), pins=False, light=True)
    X0, Y0, X1, Y1 = p.us(3, 3, 12, 12)
    moat_rect(p, X0, Y0, X1, Y1)
    block(p, X0, Y0, X1, Y1)


def badge(p, colours):
    """Round badge over the lower right corner; returns centre and radius."""
    r = p.u(4)
    c = p.n - r
    p.moat(lambda x, y: sd_circle(x, y, c, c, r))
    p.disc(c, c, r, *colours)
    return c, r


def arrow(p, tip, direction, length, shaft_w, head_w, head_len, colours, moat=True):
    """Straight arrow with its tip at tip, pointing 'up', 'down', 'left'
    or 'right' (pixels)."""
    tx, ty = tip
    pts = [(0, 0), (head_w / 2.0, head_len), (shaft_w / 2.0, head_len),
           (shaft_w / 2.0, length), (-shaft_w / 2.0, length),
           (-shaft_w / 2.0, head_len), (-head_w / 2.0, head_len)]
    turn = {"up": lambda a, b: (tx + a, ty + b), "down": lambda a, b: (tx - a, ty - b),
            "left": lambda a, b: (tx + b, ty - a), "right": lambda a, b: (tx - b, ty + a)}
    pts = [turn[direction](a, b) for a, b in pts]
    if moat:
        p.moat(lambda x, y: sd_polygon(x, y, pts))
    p.poly(pts, *colours)


def cube(p, X0, Y0, s, d, top, bot, edge):
    """A block in oblique view: front face s x s at (X0, Y0 + d), top and
    right faces d deep (pixels)."""
    fx0, fy0, fx1, fy1 = X0, Y0 + d, X0 + s, Y0 + d + s
    outline = [(fx0, fy0), (fx0 + d, Y0), (fx1 + d, Y0), (fx1 + d, fy1 - d), (fx1, fy1), (fx0, fy1)]
    p.moat(lambda x, y: sd_polygon(x, y, outline))
    p.poly(outline, edge)
    p.cv.fill(lambda x, y: sd_polygon(x, y, [(fx0, fy0), (fx0 + d, Y0), (fx1 + d, Y0), (fx1, fy0)]),
              mix(top, WHITE, 0.45))
    p.cv.fill(lambda x, y: sd_polygon(x, y, [(fx1, fy0), (fx1 + d, Y0), (fx1 + d, fy1 - d), (fx1, fy1)]),
              bot)
    p.rect(fx0, fy0, fx1, fy1, (top, bot), edge)


# --------------------------------------------------------------------------
# The pictures
# --------------------------------------------------------------------------
def pic_entry(p):
    page(p, 1, 0, 12, 16, lines=True)
    n, bs = p.n, p.u(7)
    component(p, n - bs, n - bs - p.u(1), n, n - p.u(1))


def pic_new(p):
    page(p, 3, 0, 15, 16)
    # four-pointed sparkle at the top left
    c = p.u(5) - 0.5
    pts = []
    for i in range(8):
        rr = c + 0.5 if i % 2 == 0 else p.f(1.5)
        a = math.radians(-90 + 45 * i)
        pts.append((c + rr * math.cos(a), c + rr * math.sin(a)))
    p.moat(lambda x, y: sd_polygon(x, y, pts))
    p.poly(pts, STAR, STAR_EDGE)


def pic_open(p):
    u = p.u
    X0, Y0, X1, Y1 = p.us(0, 2, 16, 14)
    tab = u(6)
    # back of the folder with its tab, then the front flap opened forwards
    p.poly([(X0, Y0), (X0 + tab, Y0), (X0 + tab + u(1.5), Y0 + u(2)),
            (X1 - u(1), Y0 + u(2)), (X1 - u(1), Y1), (X0, Y1)], FOLDER_BACK, FOLDER_EDGE)
    fy = Y0 + u(5)
    p.poly([(X0 + u(3), fy), (X1, fy), (X1 - u(3), Y1), (X0, Y1)],
           (FOLDER_TOP, FOLDER_BOT), FOLDER_EDGE)


def pic_save(p):
    u = p.u
    X0, Y0, X1, Y1 = p.us(1, 1, 15, 15)
    c = max(2, u(2))
    p.poly([(X0, Y0), (X1 - c, Y0), (X1, Y0 + c), (X1, Y1), (X0, Y1)], *BLUE)
    # metal shutter with its window
    sx0, sx1, sy1 = X0 + u(3), X1 - u(3), Y0 + u(5)
    p.rect(sx0, Y0, sx1, sy1, (STEEL_TOP, STEEL_BOT), STEEL_EDGE)
    inset = 1 if p.n > 16 else 0
    p.rect(sx1 - 1 - u(1) - max(1, u(2)), Y0 + 1 + inset, sx1 - 1 - u(1), sy1 - 1 - inset, BLUE_EDGE)
    # paper label with lines of writing
    lx0, ly0, lx1 = X0 + u(2), Y0 + u(8), X1 - u(2)
    p.rect(lx0, ly0, lx1, Y1, (PAPER_TOP, PAPER_BOT), STEEL_EDGE)
    for y in range(ly0 + 2, Y1 - 2, 2 if p.n < 24 else 3):
        p.rect(lx0 + 2, y, lx1 - 2, y + 1, TEXT)


def pic_add(p):
    page(p, 1, 0, 13, 16, lines=True)
    n = p.n
    span, w = {16: (7, 3), 20: (9, 3), 24: (11, 5), 32: (15, 5)}[n]
    c, a = n - span / 2.0, span / 2.0
    plus = union(lambda x, y: sd_box(x, y, c - a, c - w / 2.0, c + a, c + w / 2.0),
                 lambda x, y: sd_box(x, y, c - w / 2.0, c - a, c + w / 2.0, c + a))
    p.moat(plus)
    p.shape(plus, *GREEN, box=(n - span, n - span, n, n))


def pic_remove(p):
    page(p, 1, 0, 13, 16, lines=True)
    n = p.n
    w = {16: 4, 20: 4, 24: 5, 32: 6}[n]
    X0, Y1 = p.u(7), n - p.u(1.5)
    p.moat(lambda x, y: sd_box(x, y, X0, Y1 - w, n, Y1))
    p.rect(X0, Y1 - w, n, Y1, *RED)


def pic_cut(p):
    f = p.f
    b1 = [(f(3), f(0)), (f(5.5), f(0)), (f(11), f(10.5)), (f(8.5), f(11.5))]
    b2 = [(f(13), f(0)), (f(10.5), f(0)), (f(5), f(10.5)), (f(7.5), f(11.5))]
    p.poly(b1, (STEEL_TOP, STEEL_BOT), STEEL_EDGE)
    p.moat(lambda x, y: sd_polygon(x, y, b2), 0.7)
    p.poly(b2, (STEEL_TOP, STEEL_BOT), STEEL_EDGE)
    # finger rings
    for cx in (4.5, 11.5):
        ring = subtract(lambda x, y, c=cx: sd_circle(x, y, f(c), f(12.5), f(3.4)),
                        lambda x, y, c=cx: sd_circle(x, y, f(c), f(12.5), f(1.6)))
        p.moat(ring, 0.7)
        p.shape(ring, *RED, box=(0, f(9), p.n, p.n))


def pic_copy(p):
    fold = max(2, p.u(3))
    page(p, 1, 0, 11, 12, lines=True, fold=fold)
    moat_rect(p, *p.us(5, 4, 15, 16))
    page(p, 5, 4, 15, 16, lines=True, fold=fold)


def pic_paste(p):
    u = p.u
    p.rect(*p.us(1, 1, 13, 16), (BOARD_TOP, BOARD_BOT), BOARD_EDGE, 1.0)
    p.rect(u(4), 0, u(10), u(3), (STEEL_TOP, STEEL_BOT), STEEL_EDGE)
    moat_rect(p, u(6), u(5), p.n, p.n)
    page(p, 6, 5, 16, 16, lines=True, fold=max(2, u(3)))


def pic_move(p, up, bar):
    """Move up / down; with bar, to the first / last place."""
    n = p.n
    head_w = n - 2 * p.u(1.5)
    shaft_w = {16: 4, 20: 6, 24: 6, 32: 8}[n]
    if bar:
        bh = max(3, p.u(3))
        p.rect(p.u(1), 0 if up else n - bh, n - p.u(1), bh if up else n, *BLUE)
        tip, length = (n / 2.0, bh + 1 if up else n - bh - 1), n - bh - 1
    else:
        tip, length = (n / 2.0, 0 if up else n), n
    arrow(p, tip, "up" if up else "down", length, shaft_w, head_w, head_w // 2, BLUE, moat=False)


def pic_register_all(p):
    stack(p)
    c, r = badge(p, GREEN)
    if p.n == 16:
        p.dots([(14, 10), (13, 11), (14, 11), (10, 11), (10, 12), (12, 12), (13, 12),
                (11, 13), (12, 13)], WHITE)
        return
    pts = [(c - r * 0.55, c + r * 0.02), (c - r * 0.12, c + r * 0.45), (c + r * 0.55, c - r * 0.38)]
    p.cv.fill(lambda x, y: sd_polyline(x, y, pts, p.f(0.75)), WHITE)


def pic_unregister_all(p):
    stack(p)
    c, r = badge(p, RED)
    if p.n == 16:
        p.dots([(10, 10), (11, 11), (12, 12), (13, 13), (13, 10), (12, 11), (11, 12), (10, 13)], WHITE)
        return
    a, hw = r * 0.4, p.f(0.75)
    p.cv.fill(union(lambda x, y: sd_bar(x, y, c - a, c - a, c + a, c + a, hw),
                    lambda x, y: sd_bar(x, y, c + a, c - a, c - a, c + a, hw)), WHITE)


def pic_registry(p):
    s, d = p.u(6), max(2, p.u(2))
    cube(p, p.u(4), p.u(0), s, d, BLUE_TOP, BLUE_BOT, BLUE_EDGE)
    cube(p, p.u(0), p.u(7), s, d, TEAL_TOP, TEAL_BOT, TEAL_EDGE)
    cube(p, p.u(8), p.u(7), s, d, TICK_TOP, TICK_BOT, GREEN_EDGE)


# The question mark of the help picture, pixel by pixel, per size.
QMARK = {
    16: ("XXXX.",
         "X..XX",
         "...XX",
         "..XX.",
         ".XX..",
         ".XX..",
         ".....",
         ".XX..",
         ".XX.."),
    20: (".XXXX.",
         "XX..XX",
         "....XX",
         "...XX.",
         "..XX..",
         "..XX..",
         "..XX..",
         "......",
         "..XX..",
         "..XX.."),
    24: (".XXXXX.",
         "XXX.XXX",
         "XX...XX",
         ".....XX",
         "....XXX",
         "...XXX.",
         "..XXX..",
         "..XXX..",
         ".......",
         "..XXX..",
         "..XXX.."),
    32: ("..XXXXX..",
         ".XXXXXXX.",
         "XXX...XXX",
         "XX.....XX",
         "......XXX",
         ".....XXX.",
         "....XXX..",
         "...XXX...",
         "...XXX...",
         "...XXX...",
         ".........",
         "...XXX...",
         "...XXX...",
         "...XXX..."),
}


def pic_help(p):
    n = p.n
    c = n / 2.0
    p.disc(c, c, c - 0.25, *BLUE)
    q = QMARK[n]
    p.glyph(q, (n - len(q[0])) // 2 + (1 if n == 16 else 0), (n - len(q)) // 2, WHITE)


# The information badge of the properties picture: its (left, top,
# diameter) and its "i", pixel by pixel, per size.
INFO = {
    16: ((7, 7, 9), ("..X..",
                     ".....",
                     "..X..",
                     "..X..",
                     "..X..",
                     "..X..")),
    20: ((9, 9, 11), ("..XX..",
                      "..XX..",
                      "......",
                      ".XXX..",
                      "..XX..",
                      "..XX..",
                      ".XXXX.")),
    24: ((11, 11, 13), ("..XX..",
                        "..XX..",
                        "......",
                        ".XXX..",
                        "..XX..",
                        "..XX..",
                        "..XX..",
                        ".XXXX.")),
    32: ((15, 15, 17), ("...XXX...",
                        "...XXX...",
                        "...XXX...",
                        ".........",
                        "..XXXX...",
                        "...XXX...",
                        "...XXX...",
                        "...XXX...",
                        "...XXX...",
                        "..XXXXX..")),
}


def pic_properties(p):
    page(p, 1, 0, 13, 16, lines=True)
    (x0, y0, d), rows = INFO[p.n]
    c, r = x0 + d / 2.0, d / 2.0
    p.moat(lambda x, y: sd_circle(x, y, c, c, r))
    p.disc(c, c, r, *BLUE)
    p.glyph(rows, x0 + (d - len(rows[0]) + 1) // 2, y0 + (d - len(rows)) // 2, WHITE)


def pic_pin(p, on):
    """Side view of a pushpin.  On: upright, point down, with a red head.
    Off: lying on its side, pale.  Drawn about the centre line
    x = n / 2 - 0.5 so that every width is odd and every edge whole."""
    n, u = p.n, p.u
    cl = n / 2.0 - 0.5

    def across(h0, h1, y0, y1, r=0.0):
        return lambda x, y: sd_box(x, y, cl - h0 - 0.5, y0, cl + h1 + 0.5, y1, r)
    head = union(across(u(4), u(4), 0, u(3), 1.0), across(u(2), u(2), u(3) - 1, u(8)),
                 across(u(5), u(5), u(7.5), u(10), 1.0))
    shine = union(across(u(3) - 1, -u(1), 1, u(3) - 1), across(u(2) - 1, -u(1), u(3), u(8) - 1))
    needle = across(0, 0, u(10) - 1, n)
    if on:
        colours = ((PIN_HEAD_TOP, PIN_HEAD_BOT), RED_EDGE)
    else:
        colours = ((BACK_TOP, BACK_BOT), TEAL_EDGE)
        head, shine, needle = (rotate(f, cl, cl, 90) for f in (head, shine, needle))
    p.cv.fill(needle, NEEDLE)
    p.shape(head, *colours)
    if n > 16:
        p.cv.fill(shine, WHITE, alpha=0.35)


def pic_register_file(p, colours, out):
    """One component with an arrow going into it (register) or out of it."""
    n, u = p.n, p.u
    block(p, u(7), u(0.5), n, u(9.5))
    shaft = {16: 3, 20: 3, 24: 4, 32: 5}[n]
    head_w = shaft + 2 * ((u(8) - shaft) // 2)
    tip = (0 if out else u(11), n - head_w / 2.0)
    arrow(p, tip, "left" if out else "right", u(11), shaft, head_w, (head_w + 1) // 2, colours)


def pic_drop(p, colours):
    """Drop target: an open tray with an arrow going down into it."""
    n, u = p.n, p.u
    Y0, lip = u(9), u(4)
    p.poly([(0, Y0), (lip, Y0), (lip, Y0 + u(2)), (n - lip, Y0 + u(2)), (n - lip, Y0),
            (n, Y0), (n, n), (0, n)], (BACK_TOP, BACK_BOT), TEAL_EDGE)
    shaft = {16: 4, 20: 6, 24: 6, 32: 8}[n]
    head_w = n - 2 * u(2)
    arrow(p, (n / 2.0, u(11.5)), "down", u(11.5), shaft, head_w, head_w // 2, colours)


PICTURES = (
    pic_entry, pic_new, pic_open, pic_save, pic_add, pic_remove, pic_cut, pic_copy, pic_paste,
    lambda p: pic_move(p, True, True), lambda p: pic_move(p, True, False),
    lambda p: pic_move(p, False, False), lambda p: pic_move(p, False, True),
    pic_register_all, pic_unregister_all, pic_registry, pic_help, pic_properties,
    lambda p: pic_pin(p, False), lambda p: pic_pin(p, True),
    lambda p: pic_register_file(p, GREEN, False), lambda p: pic_register_file(p, RED, True),
    lambda p: pic_drop(p, GREEN), lambda p: pic_drop(p, RED),
)
assert len(PICTURES) == 24


def render_strip(size):
    """Top-to-bottom RGBA rows of the strip of the given size."""
    rows = [b""] * size
    for fn in PICTURES:
        p = Pic(size)
        fn(p)
        for y, r in enumerate(p.cv.rgba_rows()):
            rows[y] += r
    return rows


# --------------------------------------------------------------------------
# Review sheets
# --------------------------------------------------------------------------
BACKGROUNDS = (("light", (0xF0, 0xF0, 0xF0)), ("dark", (0x3C, 0x3C, 0x3C)))
SCALE = {16: 8, 20: 6, 24: 5, 32: 4}


def sheet(rows, size, cols=6, gap=1):
    """The strip rearranged into a grid with clear gaps between pictures."""
    count = len(rows[0]) // 4 // size
    nrows = (count + cols - 1) // cols
    w = cols * (size + gap) + gap
    out = [bytearray(w * 4) for _ in range(nrows * (size + gap) + gap)]
    for i in range(count):
        gx, gy = gap + (i % cols) * (size + gap), gap + (i // cols) * (size + gap)
        for y in range(size):
            out[gy + y][gx * 4:(gx + size) * 4] = rows[y][i * size * 4:(i + 1) * size * 4]
    return [bytes(r) for r in out]


def main(argv):
    if not argv or argv[0].startswith("-"):
        sys.exit("usage: make_menu_icons.py OUTDIR [--preview DIR]")
    outdir = argv[0]
    preview = None
    if "--preview" in argv:
        preview = argv[argv.index("--preview") + 1]
        os.makedirs(preview, exist_ok=True)
    os.makedirs(outdir, exist_ok=True)
    for size in SIZES:
        rows = render_strip(size)
        with open(os.path.join(outdir, "MenuIcons%d.bmp" % size), "wb") as f:
            f.write(bmp_v5_bytes(rows))
        if preview:
            with open(os.path.join(preview, "MenuIcons%d.png" % size), "wb") as f:
                f.write(png_bytes(rows))
            grid = sheet(rows, size)
            for name, colour in BACKGROUNDS:
                path = os.path.join(preview, "MenuIcons%d_%s_x%d.png" % (size, name, SCALE[size]))
                with open(path, "wb") as f:
                    f.write(preview_png(grid, colour, SCALE[size]))
            for name, colour in BACKGROUNDS:
                path = os.path.join(preview, "MenuIcons%d_%s_x2.png" % (size, name))
                with open(path, "wb") as f:
                    f.write(preview_png(rows, colour, 2))


if __name__ == "__main__":
    main(sys.argv[1:])
