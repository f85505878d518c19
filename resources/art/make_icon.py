#!/usr/bin/env python3
"""Generate resources/Corvantis.ico (the Quorvandel Corvantis application icon).

Original artwork, drawn procedurally with signed-distance shapes so every
size is rendered from its own hand-tuned, pixel-aligned layout (no plain
downscaling of the large image).  Pure Python 3 standard library only.

Motif: a deep-teal "component" block with two connector pins on its left
side, a lighter block stacked behind it (batch of modules), and a green
badge with a white check mark in the lower right (registered / OK).

Usage:
    python3 resources/art/make_icon.py [--preview DIR]

Writes resources/Corvantis.ico relative to the repository root.  With
--preview DIR, also writes one PNG per size into DIR for review.
"""

import os
import sys

sys.dont_write_bytecode = True          # importing artlib leaves no cache
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from artlib import (TEAL_TOP, TEAL_BOT, TEAL_EDGE, TEAL_FLAT,  # noqa: E402
                    BACK_TOP, BACK_BOT, BACK_EDGE, PIN_FILL, PIN_EDGE,
                    BADGE_TOP, BADGE_BOT, BADGE_EDGE, BADGE_FLAT, WHITE, HILITE,
                    Canvas, sd_box, sd_circle, sd_polyline_round, vgrad,
                    png_bytes, dib_bytes, ico_bytes)

# --------------------------------------------------------------------------
# Per-size layouts.  All numbers are pixel coordinates for that size; the
# small sizes are hand-placed on the pixel grid so edges stay sharp.
# --------------------------------------------------------------------------
LAYOUTS = {
    16: dict(
        back=(7, 0, 16, 9, 1.0),           # x0, y0, x1, y1, radius (None = omit)
        back_edge=0.0,
        block=(3, 3, 13, 13, 1.0),
        edge=0.0,                          # outline width of the blocks
        pins=[(0, 5, 3, 7), (0, 9, 3, 11)],
        pin_r=0.0, pin_gap=1.0, pin_solid=True,
        badge=(12.0, 12.0, 4.0), badge_gap=1.0, badge_edge=0.0,
        # hand-placed check mark pixels (x, y, opacity) for a crisp 16 px glyph
        check_pixels=[(14, 10, 1.0), (13, 10, 0.7),
                      (9, 11, 1.0), (13, 11, 1.0), (12, 11, 0.7),
                      (9, 12, 0.7), (10, 12, 1.0), (11, 12, 0.6), (12, 12, 1.0),
                      (10, 13, 0.6), (11, 13, 1.0)],
        gradient=False, highlight=False,
    ),
    24: dict(
        back=(10, 0, 24, 13, 2.0),
        block=(5, 4, 18, 17, 2.0),
        edge=1.0,
        pins=[(1, 7, 8, 10), (1, 12, 8, 15)],
        pin_r=1.0, pin_gap=1.0,
        badge=(18.0, 18.0, 6.0), badge_gap=1.0, badge_edge=0.0,
        check=[(14.8, 17.8), (17.0, 20.0), (21.2, 15.8)], check_w=2.2,
        gradient=True, highlight=False,
    ),
    32: dict(
        back=(13, 0, 32, 17, 3.0),
        block=(6, 6, 24, 24, 3.0),
        edge=1.0,
        pins=[(1, 10, 10, 14), (1, 16, 10, 20)],
        pin_r=1.5, pin_gap=1.0,
        badge=(24.0, 24.0, 8.0), badge_gap=1.5, badge_edge=1.0,
        check=[(20.0, 24.0), (22.5, 26.5), (28.0, 21.0)], check_w=2.5,
        gradient=True, highlight=True,
    ),
    48: dict(
        back=(19, 1, 47, 26, 4.0),
        block=(9, 9, 36, 36, 4.0),
        edge=1.0,
        pins=[(2, 15, 15, 20), (2, 24, 15, 29)],
        pin_r=2.0, pin_gap=1.5,
        badge=(36.0, 36.0, 11.0), badge_gap=2.0, badge_edge=1.0,
        check=[(30.5, 36.0), (34.0, 39.5), (41.5, 32.0)], check_w=3.4,
        gradient=True, highlight=True,
    ),
}


def layout_256():
    return dict(
        back=(100, 6, 250, 140, 22.0),
        block=(46, 52, 196, 202, 22.0),
        edge=4.0,
        pins=[(14, 86, 90, 112), (14, 138, 90, 164)],
        pin_r=8.0, pin_gap=7.0,
        badge=(194.0, 194.0, 58.0), badge_gap=10.0, badge_edge=4.0,
        check=[(164.0, 195.0), (184.0, 215.0), (223.0, 174.0)], check_w=17.0,
        gradient=True, highlight=True,
    )


def render(size):
    L = LAYOUTS[size] if size in LAYOUTS else layout_256()
    cv = Canvas(size, ss=0)
    e = L["edge"]

    def rr(box):
        x0, y0, x1, y1, r = box
        return lambda x, y: sd_box(x, y, x0, y0, x1, y1, r)

    def rr_inset(box, d):
        x0, y0, x1, y1, r = box
        return lambda x, y: sd_box(x, y, x0 + d, y0 + d, x1 - d, y1 - d, max(r - d, 0.0))

    # 1. Stacked block behind (outline + lighter fill).
    if L.get("back"):
        b = L["back"]
        be = L.get("back_edge", e)
        fill = vgrad(BACK_TOP, BACK_BOT, b[1], b[3]) if L["gradient"] else BACK_BOT
        if be > 0:
            cv.fill(rr(b), BACK_EDGE, bbox=b[:4])
            cv.fill(rr_inset(b, be), fill, bbox=b[:4])
        else:
            cv.fill(rr(b), fill, bbox=b[:4])

    # 2. Main block; first clear a gap around it so it reads as separate.
    blk = L["block"]
    gap = L["pin_gap"]
    cv.erase(rr_inset(blk, -gap), bbox=(blk[0] - gap, blk[1] - gap, blk[2] + gap, blk[3] + gap))
    fill = vgrad(TEAL_TOP, TEAL_BOT, blk[1], blk[3]) if L["gradient"] else TEAL_FLAT
    if e > 0:
        cv.fill(rr(blk), TEAL_EDGE, bbox=blk[:4])
        cv.fill(rr_inset(blk, e), fill, bbox=blk[:4])
    else:
        cv.fill(rr(blk), fill, bbox=blk[:4])
    if L["highlight"]:
        # faint inner top edge highlight
        x0, y0, x1, y1, r = blk
        hl = lambda x, y: max(sd_box(x, y, x0 + e, y0 + e, x1 - e, y1 - e, max(r - e, 0)),
                              -sd_box(x, y, x0 + e, y0 + 2 * e, x1 - e, y1 - e, max(r - e, 0)))
        cv.fill(hl, HILITE, alpha=0.28, bbox=blk[:4])

    # 3. Connector pins, separated from the block by a transparent gap.
    pr = L["pin_r"]
    if L.get("pin_solid"):
        # tiny sizes: solid dark pins butted against the block
        for (x0, y0, x1, y1) in L["pins"]:
            cv.fill(lambda x, y, a=(x0, y0, x1, y1): sd_box(x, y, *a, pr), TEAL_EDGE,
                    bbox=(x0, y0, x1, y1))
    for (x0, y0, x1, y1) in ([] if L.get("pin_solid") else L["pins"]):
        cv.erase(lambda x, y, a=(x0, y0, x1, y1): sd_box(x, y, a[0] - gap, a[1] - gap,
                                                              a[2] + gap, a[3] + gap, pr + gap),
                 bbox=(x0 - gap, y0 - gap, x1 + gap, y1 + gap))
    for (x0, y0, x1, y1) in ([] if L.get("pin_solid") else L["pins"]):
        f = lambda x, y, a=(x0, y0, x1, y1): sd_box(x, y, *a, pr)
        cv.fill(f, PIN_EDGE, bbox=(x0, y0, x1, y1))
        f2 = lambda x, y, a=(x0, y0, x1, y1): sd_box(x, y, a[0] + e, a[1] + e,
                                                            a[2] - e, a[3] - e, max(pr - e, 0))
        cv.fill(f2, PIN_FILL, bbox=(x0, y0, x1, y1))

    # 4. Check badge with a transparent moat around it.
    bx, by, br = L["badge"]
    g = L["badge_gap"]
    bb = (bx - br - g, by - br - g, bx + br + g, by + br + g)
    cv.erase(lambda x, y: sd_circle(x, y, bx, by, br + g), bbox=bb)
    grad = vgrad(BADGE_TOP, BADGE_BOT, by - br, by + br) if L["gradient"] else BADGE_FLAT
    be = L["badge_edge"]
    if be > 0:
        cv.fill(lambda x, y: sd_circle(x, y, bx, by, br), BADGE_EDGE, bbox=bb)
        cv.fill(lambda x, y: sd_circle(x, y, bx, by, br - be), grad, bbox=bb)
    else:
        cv.fill(lambda x, y: sd_circle(x, y, bx, by, br), grad, bbox=bb)
    if "check_pixels" in L:
        for (x, y, a) in L["check_pixels"]:
            cv.fill(lambda px, py, x=x, y=y: sd_box(px, py, x, y, x + 1, y + 1, 0.0),
                    WHITE, alpha=a, bbox=(x, y, x + 1, y + 1))
    else:
        pts = L["check"]
        hw = L["check_w"] / 2.0
        cv.fill(lambda x, y: sd_polyline_round(x, y, pts, hw), WHITE, bbox=bb)
    return cv


def main(argv):
    here = os.path.dirname(os.path.abspath(__file__))
    out_path = os.path.normpath(os.path.join(here, "..", "Corvantis.ico"))
    preview = None
    if "--preview" in argv:
        preview = argv[argv.index("--preview") + 1]
        os.makedirs(preview, exist_ok=True)

    images = []
    for size in (16, 24, 32, 48, 256):
        rows = render(size).rgba_rows()
        if preview:
            with open(os.path.join(preview, "icon_%d.png" % size), "wb") as f:
                f.write(png_bytes(rows))
        images.append((size, png_bytes(rows) if size >= 256 else dib_bytes(rows)))

    with open(out_path, "wb") as f:
        f.write(ico_bytes(images))
    print("wrote", out_path)


if __name__ == "__main__":
    main(sys.argv[1:])
