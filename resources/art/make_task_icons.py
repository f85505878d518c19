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
backgrounds.  The drawing helpers and file writers live in artlib.py.
The output is deterministic.
"""

import math
import os
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
sys.dont_write_bytecode = True          # importing artlib leaves no cache
sys.path.insert(0, HERE)
from artlib import (WHITE, INK, TEAL_TOP, TEAL_BOT, TEAL_EDGE, TEAL_FLAT,  # noqa: E402
                    TICK_TOP, TICK_BOT, FAIL, FAIL_DARK, WARN_TOP, WARN_BOT, WARN_EDGE,
                    STOP_TOP, STOP_BOT, STOP_EDGE,
                    Canvas, sd_box, sd_bar, sd_polygon, sd_polyline, sd_gear, sd_arc,
                    grow, shrink, union, vgrad, mix, from_pixels, snap_alpha,
                    bmp_v5_bytes, dib_bytes, ico_bytes, write_previews)

# --------------------------------------------------------------------------
# Palette (straight RGB) of the pictures drawn only here
# --------------------------------------------------------------------------
FRAME = (0x5A, 0x60, 0x69)           # hourglass end caps
GLASS_EDGE = (0x7B, 0x84, 0x8F)      # hourglass glass outline
GLASS = (0xEC, 0xF3, 0xF8)           # glass interior
SAND = (0xE3, 0xA6, 0x3C)
SAND_DARK = (0xC0, 0x80, 0x22)

ARROW_TOP = (0xE5, 0x45, 0x38)       # circular arrow of the gears icon
ARROW_BOT = (0xC2, 0x26, 0x1C)
ARROW_EDGE = (0x8A, 0x15, 0x0F)
ARROW_FLAT = (0xD6, 0x35, 0x2A)

GEAR2_TOP = (0x3B, 0xAE, 0xBC)       # the smaller gear, a lighter teal
GEAR2_BOT = (0x17, 0x80, 0x8E)
GEAR2_FLAT = (0x2A, 0x9D, 0xAC)


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
# Review previews
# --------------------------------------------------------------------------
BACKGROUNDS = (("white", (0xFF, 0xFF, 0xFF)), ("selection", (0xCC, 0xE8, 0xFF)),
               ("classicsel", (0x33, 0x99, 0xFF)), ("dark", (0x20, 0x21, 0x24)))


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
        f.write(bmp_v5_bytes(rows))
    print("wrote", bmp_path)
    if preview:
        write_previews(rows, preview, "TaskIcons", BACKGROUNDS)

    images = []
    for size in (16, 32, 48):
        rows = render_gears(size).rgba_rows()
        images.append((size, dib_bytes(rows)))
        if preview:
            write_previews(rows, preview, "TaskGears_%d" % size, BACKGROUNDS)
    ico_path = os.path.join(res, "TaskGears.ico")
    with open(ico_path, "wb") as f:
        f.write(ico_bytes(images))
    print("wrote", ico_path)


if __name__ == "__main__":
    main(sys.argv[1:])
