#!/usr/bin/env python3
"""Generate the tip window's picture: a lit light bulb, 30 x 42 pixels.

Original artwork, drawn with the shapes of artlib.py (Python 3 standard
library only).  Written as a 32-bit BMP with straight alpha (BITMAPV5HEADER,
bottom-up rows), so that the window can blend it over the band it sits on,
whatever colour the system gives that band.

Usage:
    python3 resources/art/make_tip_picture.py OUTFILE [--preview DIR]

With --preview DIR the script also writes the picture at 1:1 as PNG and
enlarged copies on a few backgrounds, for review.  The output is
deterministic.
"""

import os
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
sys.dont_write_bytecode = True          # importing artlib leaves no cache
sys.path.insert(0, HERE)
from artlib import (WHITE, WARN_TOP, WARN_BOT, WARN_EDGE,  # noqa: E402
                    Canvas, sd_box, sd_circle, sd_polygon, sd_polyline_round,
                    shrink, union, vgrad, bmp_v5_bytes, write_previews)

W, H = 30, 42

GLOW = (0xFF, 0xF4, 0xB0)           # soft halo around the glass
FILAMENT = (0xC8, 0x5A, 0x00)
METAL_TOP = (0xC9, 0xCF, 0xD6)      # screw base
METAL_BOT = (0x8C, 0x94, 0x9E)
METAL_EDGE = (0x4E, 0x55, 0x5E)
THREAD = (0x6A, 0x72, 0x7C)
CONTACT = (0x3A, 0x3F, 0x46)


def glass(px, py):
    """The bulb: a round top narrowing into a neck."""
    return union(lambda x, y: sd_circle(x, y, 15.0, 13.0, 11.0),
                 lambda x, y: sd_polygon(x, y, [(7.5, 18.0), (22.5, 18.0),
                                                (19.5, 29.0), (10.5, 29.0)]))(px, py)


def render():
    cv = Canvas(W, H)
    # A faint halo, then the glass with its rim and inner fill.
    cv.fill(lambda x, y: sd_circle(x, y, 15.0, 13.0, 13.5), GLOW, alpha=0.55)
    cv.fill(glass, WARN_EDGE)
    cv.fill(shrink(glass, 1.0), vgrad(WARN_TOP, WARN_BOT, 2.0, 28.0))
    # The highlight on the upper left of the glass.
    cv.fill(lambda x, y: sd_polyline_round(x, y, [(8.0, 14.0), (8.5, 10.0), (11.0, 6.5)], 1.1),
            WHITE, alpha=0.85)
    # The filament on its two wires.
    cv.fill(lambda x, y: sd_polyline_round(x, y, [(12.5, 27.0), (12.5, 19.0), (14.0, 16.5),
                                                  (15.0, 19.0), (16.0, 16.5), (17.5, 19.0),
                                                  (17.5, 27.0)], 0.55), FILAMENT)
    # The screw base with its threads, and the contact under it.
    base = lambda x, y: sd_box(x, y, 10.0, 28.5, 20.0, 37.5, 1.5)  # noqa: E731
    cv.fill(base, METAL_EDGE)
    cv.fill(shrink(base, 1.0), vgrad(METAL_TOP, METAL_BOT, 29.0, 37.0))
    for ty in (31.0, 33.5, 36.0):
        cv.fill(lambda x, y, ty=ty: sd_box(x, y, 10.5, ty - 0.5, 19.5, ty + 0.5), THREAD)
    cv.fill(lambda x, y: sd_box(x, y, 12.5, 37.0, 17.5, 40.5, 1.5), CONTACT)
    return cv.rgba_rows()


def main(argv):
    if not argv or argv[0].startswith("-"):
        sys.exit("usage: make_tip_picture.py OUTFILE [--preview DIR]")
    rows = render()
    out = argv[0]
    os.makedirs(os.path.dirname(os.path.abspath(out)), exist_ok=True)
    with open(out, "wb") as f:
        f.write(bmp_v5_bytes(rows))
    if "--preview" in argv:
        preview = argv[argv.index("--preview") + 1]
        os.makedirs(preview, exist_ok=True)
        write_previews(rows, preview, "TipPicture",
                       [("workspace", (0x80, 0x80, 0x80)), ("white", (0xFF, 0xFF, 0xFF))])


if __name__ == "__main__":
    main(sys.argv[1:])
