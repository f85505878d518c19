#!/usr/bin/env python3
"""Generate the small pictures of the Quorvandel Corvantis task-progress window.

Original artwork, drawn procedurally with the Python 3 standard library only.
Shapes are signed-distance functions (negative inside) evaluated on a grid of
sub-samples inside every pixel, so pixel-aligned edges come out perfectly
crisp and slanted or curved edges get exact area anti-aliasing.  Each size is
laid out by hand on its own pixel grid (no downscaling).

Outputs (relative to the repository root):

  resources/TaskIcons.bmp   image strip, five 16 x 16 pictures side by side
                            (80 x 16), 32 bits per pixel with straight
                            (non-premultiplied) alpha:
                              0 hourglass      task waiting
                              1 green tick     task completed
                              2 red cross      task failed
                              3 yellow square with "!"   warning / cancelled
                              4 red square with white cross   stop notice
                            File layout: BITMAPFILEHEADER + BITMAPV5HEADER
                            (124 bytes), BI_BITFIELDS with masks
                            R 00FF0000, G 0000FF00, B 000000FF, A FF000000,
                            bottom-up rows, sRGB colour space.  Suitable for
                            LoadImage(LR_CREATEDIBSECTION) + ImageList_Add on
                            an ILC_COLOR32 image list.

  resources/TaskGears.ico   "processing" picture: two teal gear wheels under
                            a red circular arrow; 16, 32 and 48 pixel images,
                            32-bit with alpha (BMP-style entries with an AND
                            mask, like resources/Corvantis.ico).

Usage:
    python3 resources/art/make_task_icons.py [--preview DIR]

With --preview DIR the script also writes, for review, each picture at 1:1 as
PNG plus enlarged (8x, nearest neighbour) copies composited on several
backgrounds, using ImageMagick's /usr/bin/convert.
The output is deterministic.
"""

import math
import os
import struct
import subprocess
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
sys.dont_write_bytecode = True          # importing make_icon leaves no cache
from make_icon import (TEAL_TOP, TEAL_BOT, TEAL_EDGE,   # noqa: E402  shared palette
                       png_bytes, dib_bytes, ico_bytes)

# --------------------------------------------------------------------------
# Palette (straight RGB)
# --------------------------------------------------------------------------
WHITE = (0xFF, 0xFF, 0xFF)
INK = (0x1C, 0x1C, 0x1C)

FRAME = (0x5A, 0x60, 0x69)           # hourglass end caps
GLASS_EDGE = (0x7B, 0x84, 0x8F)      # hourglass glass outline
GLASS = (0xEC, 0xF3, 0xF8)           # glass interior
SAND = (0xE3, 0xA6, 0x3C)
SAND_DARK = (0xC0, 0x80, 0x22)

TICK_TOP = (0x3D, 0xB8, 0x4E)
TICK_BOT = (0x1E, 0x8C, 0x34)

FAIL = (0xA8, 0x16, 0x16)            # dark red cross
FAIL_DARK = (0x86, 0x0E, 0x0E)

WARN_TOP = (0xFF, 0xDE, 0x4A)
WARN_BOT = (0xF5, 0xB8, 0x00)
WARN_EDGE = (0xA8, 0x7A, 0x00)

STOP_TOP = (0xE8, 0x4A, 0x3E)
STOP_BOT = (0xC9, 0x2A, 0x20)
STOP_EDGE = (0x8C, 0x16, 0x10)

ARROW_TOP = (0xE5, 0x45, 0x38)       # circular arrow of the gears icon
ARROW_BOT = (0xC2, 0x26, 0x1C)
ARROW_EDGE = (0x8A, 0x15, 0x0F)
ARROW_FLAT = (0xD6, 0x35, 0x2A)

GEAR2_TOP = (0x3B, 0xAE, 0xBC)       # the smaller gear, a lighter teal
GEAR2_BOT = (0x17, 0x80, 0x8E)
TEAL_FLAT = (0x12, 0x7A, 0x88)
GEAR2_FLAT = (0x2A, 0x9D, 0xAC)


# --------------------------------------------------------------------------
# Signed distance functions (negative inside), pixel coordinates, y down
# --------------------------------------------------------------------------
def sd_box(px, py, x0, y0, x1, y1, r=0.0):
    cx, cy = (x0 + x1) * 0.5, (y0 + y1) * 0.5
    hx, hy = (x1 - x0) * 0.5 - r, (y1 - y0) * 0.5 - r
    qx, qy = abs(px - cx) - hx, abs(py - cy) - hy
    return math.hypot(max(qx, 0.0), max(qy, 0.0)) + min(max(qx, qy), 0.0) - r


def sd_circle(px, py, cx, cy, r):
    return math.hypot(px - cx, py - cy) - r


def sd_bar(px, py, ax, ay, bx, by, hw):
    """Straight stroke from A to B, half width hw, flat (butt) ends."""
    dx, dy = bx - ax, by - ay
    ln = math.hypot(dx, dy)
    ux, uy = dx / ln, dy / ln
    qx, qy = px - ax, py - ay
    along = qx * ux + qy * uy - ln * 0.5
    across = -qx * uy + qy * ux
    ex, ey = abs(along) - ln * 0.5, abs(across) - hw
    return math.hypot(max(ex, 0.0), max(ey, 0.0)) + min(max(ex, ey), 0.0)


def sd_polygon(px, py, pts):
    """Exact distance to a simple polygon (any winding)."""
    d = float("inf")
    s = 1.0
    n = len(pts)
    j = n - 1
    for i in range(n):
        xi, yi = pts[i]
        xj, yj = pts[j]
        ex, ey = xj - xi, yj - yi
        wx, wy = px - xi, py - yi
        h = (wx * ex + wy * ey) / (ex * ex + ey * ey)
        h = 0.0 if h < 0.0 else (1.0 if h > 1.0 else h)
        bx, by = wx - ex * h, wy - ey * h
        d = min(d, bx * bx + by * by)
        c1 = py >= yi
        c2 = py < yj
        c3 = ex * wy > ey * wx
        if (c1 and c2 and c3) or (not c1 and not c2 and not c3):
            s = -s
        j = i
    return s * math.sqrt(d)


def sd_polyline(px, py, pts, hw):
    """Stroke along a polyline with mitred-looking joins and flat ends."""
    d = float("inf")
    for i in range(len(pts) - 1):
        ax, ay = pts[i]
        bx, by = pts[i + 1]
        d = min(d, sd_bar(px, py, ax, ay, bx, by, hw))
    return d


def sd_gear(px, py, cx, cy, teeth, r_out, r_root, tip_w, base_w, r_hole, phase):
    """Gear wheel: a root disc plus trapezoid teeth, with a round hole.

    Only the nearest tooth is evaluated (the point is rotated into that
    tooth's frame), which keeps the field close to a true distance.
    phase: angle (radians, screen y-down) of the centre of tooth 0.
    """
    dx, dy = px - cx, py - cy
    ang = math.atan2(dy, dx)
    step = 2.0 * math.pi / teeth
    k = round((ang - phase) / step)
    a = phase + k * step
    ca, sa = math.cos(a), math.sin(a)
    u = dx * ca + dy * sa          # along the tooth axis
    v = -dx * sa + dy * ca         # across it
    tooth = sd_polygon(u, v, ((r_root - 1.0, -base_w * 0.5), (r_out, -tip_w * 0.5),
                              (r_out, tip_w * 0.5), (r_root - 1.0, base_w * 0.5)))
    r = math.hypot(dx, dy)
    body = min(r - r_root, tooth)
    return max(body, r_hole - r)


def sd_arc(px, py, cx, cy, R, hw, a_from, a_to):
    """Circular stroke of radius R, half width hw, flat ends.

    Angles in radians, measured clockwise on screen from +x (y-down atan2),
    the stroke covering the clockwise sweep from a_from to a_to.
    """
    dx, dy = px - cx, py - cy
    r = math.hypot(dx, dy)
    ang = math.atan2(dy, dx)
    sweep = (a_to - a_from) % (2.0 * math.pi)
    rel = (ang - a_from) % (2.0 * math.pi)
    if rel <= sweep:
        return abs(r - R) - hw
    d = float("inf")
    for a in (a_from, a_to):
        ca, sa = math.cos(a), math.sin(a)
        d = min(d, sd_bar(px, py, cx + (R - hw) * ca, cy + (R - hw) * sa,
                          cx + (R + hw) * ca, cy + (R + hw) * sa, 0.0))
    return d


def grow(f, d):
    return lambda x, y: f(x, y) - d


def shrink(f, d):
    return lambda x, y: f(x, y) + d


def union(*fs):
    return lambda x, y: min(f(x, y) for f in fs)


def subtract(f, g):
    return lambda x, y: max(f(x, y), -g(x, y))


def vgrad(top, bot, y0, y1):
    def f(x, y):
        t = min(max((y - y0) / float(y1 - y0), 0.0), 1.0)
        return tuple(top[i] + (bot[i] - top[i]) * t for i in range(3))
    return f


# --------------------------------------------------------------------------
# Canvas: premultiplied float RGBA, supersampled coverage
# --------------------------------------------------------------------------
class Canvas:
    def __init__(self, w, h, ss=8):
        self.w, self.h, self.ss = w, h, ss
        self.px = [[0.0, 0.0, 0.0, 0.0] for _ in range(w * h)]
        k = 1.0 / ss
        self.offs = [((i + 0.5) * k, (j + 0.5) * k) for j in range(ss) for i in range(ss)]
        self.inv = 1.0 / (ss * ss)

    def _cover(self, sdf, x, y):
        # Quick accept / reject from the centre distance, else sub-sample.
        d = sdf(x + 0.5, y + 0.5)
        if d >= 0.75:
            return 0.0
        if d <= -0.75:
            return 1.0
        n = 0
        for ox, oy in self.offs:
            if sdf(x + ox, y + oy) < 0.0:
                n += 1
        return n * self.inv

    def _range(self, bbox):
        if bbox is None:
            return 0, 0, self.w, self.h
        x0, y0, x1, y1 = bbox
        return (max(0, int(math.floor(x0)) - 1), max(0, int(math.floor(y0)) - 1),
                min(self.w, int(math.ceil(x1)) + 1), min(self.h, int(math.ceil(y1)) + 1))

    def fill(self, sdf, color, alpha=1.0, bbox=None):
        x0, y0, x1, y1 = self._range(bbox)
        for y in range(y0, y1):
            for x in range(x0, x1):
                a = self._cover(sdf, x, y) * alpha
                if a <= 0.0:
                    continue
                rgb = color(x + 0.5, y + 0.5) if callable(color) else color
                p = self.px[y * self.w + x]
                k = 1.0 - a
                p[0] = rgb[0] / 255.0 * a + p[0] * k
                p[1] = rgb[1] / 255.0 * a + p[1] * k
                p[2] = rgb[2] / 255.0 * a + p[2] * k
                p[3] = a + p[3] * k

    def erase(self, sdf, bbox=None):
        """Destination-out: punch a transparent hole."""
        x0, y0, x1, y1 = self._range(bbox)
        for y in range(y0, y1):
            for x in range(x0, x1):
                a = self._cover(sdf, x, y)
                if a <= 0.0:
                    continue
                p = self.px[y * self.w + x]
                k = 1.0 - a
                for i in range(4):
                    p[i] *= k

    def blit(self, other, ox, oy):
        for y in range(other.h):
            for x in range(other.w):
                self.px[(y + oy) * self.w + x + ox] = list(other.px[y * other.w + x])

    def rgba_rows(self):
        """Straight-alpha 8-bit RGBA rows, top to bottom; clear pixels are 0."""
        rows = []
        for y in range(self.h):
            row = bytearray()
            for x in range(self.w):
                r, g, b, a = self.px[y * self.w + x]
                a8 = int(round(min(a, 1.0) * 255))
                if a8 == 0:
                    row += b"\0\0\0\0"
                    continue
                row += bytes((min(255, int(round(r / a * 255))),
                              min(255, int(round(g / a * 255))),
                              min(255, int(round(b / a * 255))),
                              a8))
            rows.append(bytes(row))
        return rows


# --------------------------------------------------------------------------
# The five 16 x 16 status pictures
# --------------------------------------------------------------------------
# The hourglass is small enough to be placed pixel by pixel; the glass sides
# are 45-degree steps softened with part-covered pixels.
HOURGLASS = (
    "................",
    "..kCCCCCCCCCk...",
    "..CCCCCCCCCCC...",
    "...ohggggggo....",
    "...ohggggggo....",
    "...aosssssoa....",
    "....aosssoa.....",
    ".....aosoa......",
    ".....aozoa......",
    "....aohzgoa.....",
    "...aohgzggoa....",
    "...ogysssygo....",
    "...oSSSSSSSo....",
    "..CCCCCCCCCCC...",
    "..kCCCCCCCCCk...",
    "................",
)


def pic_hourglass():
    pal = {
        "C": (FRAME, 1.0), "k": (FRAME, 0.55),
        "o": (GLASS_EDGE, 1.0), "a": (GLASS_EDGE, 0.35),
        "g": (GLASS, 1.0), "h": (WHITE, 1.0),
        "s": (SAND, 1.0), "S": (SAND_DARK, 1.0), "z": (SAND, 1.0),
        "y": (mix(SAND, GLASS, 0.5), 1.0),
    }
    return from_pixels(HOURGLASS, pal)


def mix(a, b, t):
    return tuple(a[i] + (b[i] - a[i]) * t for i in range(3))


def from_pixels(grid, pal):
    cv = Canvas(len(grid[0]), len(grid), ss=1)
    for y, line in enumerate(grid):
        assert len(line) == cv.w, (y, line)
        for x, ch in enumerate(line):
            if ch == ".":
                continue
            rgb, a = pal[ch]
            cv.px[y * cv.w + x] = [rgb[0] / 255.0 * a, rgb[1] / 255.0 * a, rgb[2] / 255.0 * a, a]
    return cv


def pic_tick():
    cv = Canvas(16, 16)
    pts = [(2.5, 7.5), (6.0, 11.0), (13.5, 3.5)]
    cv.fill(lambda x, y: sd_polyline(x, y, pts, 1.41), vgrad(TICK_TOP, TICK_BOT, 3, 13),
            bbox=(1, 2, 15, 14))
    return cv


def pic_fail():
    cv = Canvas(16, 16)
    hw = 1.25
    f = union(lambda x, y: sd_bar(x, y, 3.0, 3.0, 13.0, 13.0, hw),
              lambda x, y: sd_bar(x, y, 13.0, 3.0, 3.0, 13.0, hw))
    cv.fill(f, vgrad(FAIL, FAIL_DARK, 2, 14), bbox=(1, 1, 15, 15))
    return cv


def pic_warning():
    cv = Canvas(16, 16)
    sq = lambda x, y: sd_box(x, y, 1, 1, 15, 15, 1.5)
    cv.fill(sq, WARN_EDGE, bbox=(1, 1, 15, 15))
    cv.fill(shrink(sq, 1.0), vgrad(WARN_TOP, WARN_BOT, 2, 14), bbox=(1, 1, 15, 15))
    # Exclamation mark: a two-pixel bar and a square dot.
    cv.fill(lambda x, y: sd_box(x, y, 7, 3, 9, 10, 0.0), INK, bbox=(7, 3, 9, 10))
    cv.fill(lambda x, y: sd_box(x, y, 7, 11, 9, 13, 0.0), INK, bbox=(7, 11, 9, 13))
    return cv


def pic_stop():
    cv = Canvas(16, 16)
    sq = lambda x, y: sd_box(x, y, 1, 1, 15, 15, 1.5)
    cv.fill(sq, STOP_EDGE, bbox=(1, 1, 15, 15))
    cv.fill(shrink(sq, 1.0), vgrad(STOP_TOP, STOP_BOT, 2, 14), bbox=(1, 1, 15, 15))
    hw = 1.0
    f = union(lambda x, y: sd_bar(x, y, 4.75, 4.75, 11.25, 11.25, hw),
              lambda x, y: sd_bar(x, y, 11.25, 4.75, 4.75, 11.25, hw))
    cv.fill(f, WHITE, bbox=(3, 3, 13, 13))
    return cv


STRIP = (pic_hourglass, pic_tick, pic_fail, pic_warning, pic_stop)


def render_strip():
    strip = Canvas(16 * len(STRIP), 16, ss=1)
    for i, fn in enumerate(STRIP):
        strip.blit(fn(), 16 * i, 0)
    return strip


def bmp_v5_bytes(w, h, rows):
    """32-bit BMP, BITMAPV5HEADER + BI_BITFIELDS with an alpha mask, bottom-up,
    straight alpha.  rows: top-to-bottom RGBA byte rows."""
    pixels = bytearray()
    for r in reversed(rows):
        for i in range(0, len(r), 4):
            pixels += bytes((r[i + 2], r[i + 1], r[i], r[i + 3]))
    BI_BITFIELDS = 3
    LCS_sRGB = 0x73524742
    LCS_GM_IMAGES = 4
    v5 = struct.pack("<IiiHHIIiiII", 124, w, h, 1, 32, BI_BITFIELDS, len(pixels),
                     2835, 2835, 0, 0)
    v5 += struct.pack("<IIII", 0x00FF0000, 0x0000FF00, 0x000000FF, 0xFF000000)
    v5 += struct.pack("<I", LCS_sRGB)
    v5 += b"\0" * 36                                 # CIEXYZTRIPLE endpoints
    v5 += struct.pack("<III", 0, 0, 0)               # gamma R, G, B
    v5 += struct.pack("<IIII", LCS_GM_IMAGES, 0, 0, 0)  # intent, profile, reserved
    assert len(v5) == 124
    off = 14 + len(v5)
    fh = struct.pack("<2sIHHI", b"BM", off + len(pixels), 0, 0, off)
    return fh + v5 + bytes(pixels)


# --------------------------------------------------------------------------
# The gears icon
# --------------------------------------------------------------------------
# Per size, all in pixels of that size:
#   big   = (cx, cy, teeth, r_out, r_root, tip_w, base_w, r_hole, phase_deg)
#   small = (direction_deg, teeth, r_out, r_root, tip_w, base_w, r_hole, play)
#           the small gear sits in the given direction from the big one, at
#           the sum of the two pitch radii plus `play`, turned to mesh;
#   arrow = (cx, cy, R, half_width, from_deg, to_deg, head_len, head_half_w)
#           angles clockwise on screen from +x; the arrow turns clockwise;
#   moat  = transparent gap around the small gear and around the arrow;
#   gear_edge / arrow_edge = darker outline width (0 = flat fill).
# At 16 pixels the arrow is placed pixel by pixel ("a": part-covered edge).
ARROW_16 = (
    "................",
    ".....aRRRRa.....",
    "...aRRRRRRRRa...",
    "..aRRa....aRRa..",
    ".aRRa......aRRa.",
    ".RRa......RRRRRR",
    ".RR.......bRRRRb",
    "...........bRRb.",
)

GEAR_LAYOUTS = {
    16: dict(
        big=(5.0, 11.0, 8, 4.8, 3.5, 2.0, 2.6, 1.0, -90.0),
        small_at=(12.0, 12.0, 6, 4.0, 2.8, 1.6, 2.4, 0.9, 0.0),
        arrow_pixels=ARROW_16, snap=(0.3, 0.7),
        moat=1.0, gear_edge=0.0, arrow_edge=0.0, gradient=False,
    ),
    32: dict(
        big=(12.0, 20.0, 8, 9.0, 6.9, 2.8, 4.4, 2.9, -90.0),
        small=(20.0, 6, 6.0, 4.3, 2.4, 3.7, 1.8, 0.4),
        arrow=(16.0, 15.5, 12.5, 1.9, 185.0, 322.0, 6.6, 4.6),
        moat=1.0, gear_edge=0.0, arrow_edge=0.0, gradient=True, snap=(0.1, 0.95),
    ),
    48: dict(
        big=(18.0, 30.0, 10, 13.5, 10.4, 4.2, 6.2, 4.3, -90.0),
        small=(20.0, 7, 9.0, 6.5, 3.6, 5.4, 2.7, 0.6),
        arrow=(24.0, 23.0, 18.8, 2.6, 185.0, 322.0, 9.8, 6.4),
        moat=1.5, gear_edge=0.0, arrow_edge=0.0, gradient=True, snap=(0.08, 0.96),
    ),
}


def place_small(big, small):
    """Centre and phase of the small gear so that it meshes with the big one."""
    bx, by, bt, bro, brr, _, _, _, bph = big
    dirn, st, sro, srr, stw, sbw, srh, play = small
    line = math.radians(dirn)
    dist = (bro + brr) * 0.5 + (sro + srr) * 0.5 + play
    sx, sy = bx + dist * math.cos(line), by + dist * math.sin(line)
    # Big gear: which of its gaps faces the small gear, and how far off the
    # centre line it is; the small gear then puts a tooth into that gap.
    bstep = 2.0 * math.pi / bt
    k = math.floor((line - math.radians(bph)) / bstep)
    gap = math.radians(bph) + (k + 0.5) * bstep
    err = line - gap
    sph = line + math.pi + err * bt / st
    return (sx, sy, st, sro, srr, stw, sbw, srh, math.degrees(sph))


def arrow_shape(L):
    cx, cy, R, hw, a0, a1, head_len, head_hw = L["arrow"]
    a0r, a1r = math.radians(a0), math.radians(a1)
    shaft = lambda x, y: sd_arc(x, y, cx, cy, R, hw, a0r, a1r + 0.02)
    # Head: a triangle with a radial base at the end of the shaft and its tip
    # further along the circle.
    ca, sa = math.cos(a1r), math.sin(a1r)
    tip_a = a1r + head_len / R
    tri = [(cx + (R - head_hw) * ca, cy + (R - head_hw) * sa),
           (cx + (R + head_hw) * ca, cy + (R + head_hw) * sa),
           (cx + R * math.cos(tip_a), cy + R * math.sin(tip_a))]
    head = lambda x, y: sd_polygon(x, y, tri)
    return union(shaft, head)


def snap_alpha(cv, lo, hi):
    """Push nearly clear / nearly solid pixels to fully clear / solid, for a
    crisper look at the smallest size."""
    for p in cv.px:
        a = p[3]
        if a <= 0.0:
            continue
        na = 0.0 if a < lo else (1.0 if a > hi else a)
        k = na / a
        for i in range(4):
            p[i] *= k


def render_gears(size):
    L = GEAR_LAYOUTS[size]
    cv = Canvas(size, size, ss=8)
    moat = L["moat"]
    full = (0, 0, size, size)

    big = L["big"]
    small = L["small_at"] if "small_at" in L else place_small(big, L["small"])

    def gear_fn(g):
        cx, cy, t, ro, rr, tw, bw, rh, ph = g
        return lambda x, y: sd_gear(x, y, cx, cy, t, ro, rr, tw, bw, rh, math.radians(ph))

    def gbox(g):
        return (g[0] - g[3] - 2, g[1] - g[3] - 2, g[0] + g[3] + 2, g[1] + g[3] + 2)

    def paint(fn, top, bot, flat, box, edge, edge_col):
        col = vgrad(top, bot, box[1], box[3]) if L["gradient"] else flat
        if edge > 0:
            cv.fill(fn, edge_col, bbox=box)
            cv.fill(shrink(fn, edge), col, bbox=box)
        else:
            cv.fill(fn, col, bbox=box)

    gb, gs = gear_fn(big), gear_fn(small)
    paint(gb, TEAL_TOP, TEAL_BOT, TEAL_FLAT, gbox(big), L["gear_edge"], TEAL_EDGE)
    cv.erase(grow(gs, moat), bbox=gbox(small))
    paint(gs, GEAR2_TOP, GEAR2_BOT, GEAR2_FLAT, gbox(small), L["gear_edge"], TEAL_EDGE)

    if "arrow_pixels" in L:
        snap_alpha(cv, *L["snap"])
        pal = {"R": (ARROW_FLAT, 1.0), "a": (ARROW_FLAT, 0.45), "b": (ARROW_FLAT, 0.25)}
        grid = L["arrow_pixels"]
        art = from_pixels(list(grid) + ["." * size] * (size - len(grid)), pal)
        # Moat: clear every pixel within one pixel (8-neighbourhood) of the
        # solid arrow pixels, in proportion to their coverage.
        for y in range(size):
            for x in range(size):
                m = 0.0
                for j in (-1, 0, 1):
                    for i in (-1, 0, 1):
                        if 0 <= x + i < size and 0 <= y + j < size:
                            m = max(m, art.px[(y + j) * size + x + i][3])
                if m > 0.0:
                    p = cv.px[y * size + x]
                    for k in range(4):
                        p[k] *= 1.0 - m
        for y in range(size):
            for x in range(size):
                a = art.px[y * size + x]
                if a[3] > 0.0:
                    p = cv.px[y * size + x]
                    k = 1.0 - a[3]
                    cv.px[y * size + x] = [a[i] + p[i] * k for i in range(4)]
    else:
        arrow = arrow_shape(L)
        cv.erase(grow(arrow, moat), bbox=full)
        cx, cy, R, hw = L["arrow"][:4]
        paint(arrow, ARROW_TOP, ARROW_BOT, ARROW_FLAT, (0, cy - R - hw, size, cy + R * 0.4),
              L["arrow_edge"], ARROW_EDGE)
        snap_alpha(cv, *L["snap"])
    return cv


# --------------------------------------------------------------------------
# Review previews (ImageMagick)
# --------------------------------------------------------------------------
CONVERT = "/usr/bin/convert"
BACKGROUNDS = (("white", "#FFFFFF"), ("selection", "#CCE8FF"),
               ("classicsel", "#3399FF"), ("dark", "#202124"))


def previews(png_path, outdir, stem, w, h):
    outs = []
    for name, colour in BACKGROUNDS:
        out = os.path.join(outdir, "%s_%s_x8.png" % (stem, name))
        subprocess.check_call([CONVERT, "-size", "%dx%d" % (w, h), "xc:" + colour,
                               png_path, "-compose", "over", "-composite",
                               "-filter", "point", "-resize", "800%", out])
        outs.append(out)
    return outs


def main(argv):
    res = os.path.normpath(os.path.join(HERE, ".."))
    preview = None
    if "--preview" in argv:
        preview = argv[argv.index("--preview") + 1]
        os.makedirs(preview, exist_ok=True)

    strip = render_strip()
    rows = strip.rgba_rows()
    bmp_path = os.path.join(res, "TaskIcons.bmp")
    with open(bmp_path, "wb") as f:
        f.write(bmp_v5_bytes(strip.w, strip.h, rows))
    print("wrote", bmp_path)
    if preview:
        p = os.path.join(preview, "TaskIcons.png")
        with open(p, "wb") as f:
            f.write(png_bytes_wh(strip.w, strip.h, rows))
        previews(p, preview, "TaskIcons", strip.w, strip.h)

    images = []
    for size in (16, 32, 48):
        rows = render_gears(size).rgba_rows()
        images.append((size, dib_bytes(size, rows)))
        if preview:
            p = os.path.join(preview, "TaskGears_%d.png" % size)
            with open(p, "wb") as f:
                f.write(png_bytes(size, rows))
            previews(p, preview, "TaskGears_%d" % size, size, size)
    ico_path = os.path.join(res, "TaskGears.ico")
    with open(ico_path, "wb") as f:
        f.write(ico_bytes(images))
    print("wrote", ico_path)


def png_bytes_wh(w, h, rows):
    """PNG writer for a non-square image (make_icon's writer is square)."""
    import zlib

    def chunk(tag, data):
        c = struct.pack(">I", len(data)) + tag + data
        return c + struct.pack(">I", zlib.crc32(tag + data) & 0xFFFFFFFF)
    raw = b"".join(b"\0" + r for r in rows)
    return (b"\x89PNG\r\n\x1a\n"
            + chunk(b"IHDR", struct.pack(">IIBBBBB", w, h, 8, 6, 0, 0, 0))
            + chunk(b"IDAT", zlib.compress(raw, 9))
            + chunk(b"IEND", b""))


if __name__ == "__main__":
    main(sys.argv[1:])
