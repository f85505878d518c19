#!/usr/bin/env python3
"""Generate the Quorvandel Corvantis splash-screen bitmap.

Original artwork, drawn procedurally with the Python 3 standard library only.
Every shape (including the lettering, which uses a small stroke-built sans
serif designed for this picture) is turned into polygons and filled by an
anti-aliasing scan converter: 4 sub-scanlines per pixel row, each with exact
horizontal area coverage, averaged down to the pixel.

The picture is 500 x 400 pixels.  The program paints its own text (version,
legal notice) over the lower left part, roughly x 0..480, y 270..360, so that
band is kept plain and dark.

Usage:
    python3 resources/art/make_splash.py OUT.bmp [--png OUT.png]
    python3 resources/art/make_splash.py --png OUT.png

Writes a 24-bit uncompressed bottom-up Windows BMP (BITMAPINFOHEADER), and
the same pixels as a PNG for review when asked.  The shared colours, gradients
and file writers live in artlib.py.
The output is deterministic.
"""

import math
import os
import sys

sys.dont_write_bytecode = True          # importing artlib leaves no cache
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from artlib import (WHITE, TEAL_TOP, TEAL_BOT, TEAL_EDGE,  # noqa: E402
                    BACK_TOP, BACK_BOT, BACK_EDGE, PIN_FILL, BADGE_TOP, BADGE_BOT, BADGE_EDGE,
                    mix, smoothstep, vgrad, hgrad, bmp24_bytes, png_bytes)

W, H = 500, 400
SS = 4                       # sub-scanlines per pixel row
ACCENT = (58, 110, 165)      # the program's accent blue


# --------------------------------------------------------------------------
# Polygon helpers (any orientation; orient() normalises the winding)
# --------------------------------------------------------------------------
def signed_area(poly):
    s = 0.0
    n = len(poly)
    for i in range(n):
        x0, y0 = poly[i]
        x1, y1 = poly[(i + 1) % n]
        s += x0 * y1 - x1 * y0
    return s * 0.5


def orient(poly, positive=True):
    a = signed_area(poly)
    if (a > 0) != positive:
        poly = poly[::-1]
    return poly


def rect(x0, y0, x1, y1):
    return orient([(x0, y0), (x1, y0), (x1, y1), (x0, y1)])


def circle(cx, cy, r, n=None):
    if n is None:
        n = max(24, int(r * 2.2))
    return orient([(cx + r * math.cos(2 * math.pi * i / n), cy + r * math.sin(2 * math.pi * i / n))
                   for i in range(n)])


def round_rect(x0, y0, x1, y1, r, seg=10):
    r = min(r, (x1 - x0) / 2.0, (y1 - y0) / 2.0)
    pts = []
    corners = [(x1 - r, y0 + r, -90), (x1 - r, y1 - r, 0), (x0 + r, y1 - r, 90), (x0 + r, y0 + r, 180)]
    for cx, cy, a0 in corners:
        for i in range(seg + 1):
            a = math.radians(a0 + 90.0 * i / seg)
            pts.append((cx + r * math.cos(a), cy + r * math.sin(a)))
    return orient(pts)


def thick_line(ax, ay, bx, by, w):
    dx, dy = bx - ax, by - ay
    L = math.hypot(dx, dy)
    nx, ny = -dy / L * w / 2.0, dx / L * w / 2.0
    return orient([(ax + nx, ay + ny), (bx + nx, by + ny), (bx - nx, by - ny), (ax - nx, ay - ny)])


def offset_stroke(pts, hw_fn, closed=False):
    """Outline of a stroked centre line.  hw_fn(tx, ty) -> half width for a
    unit tangent.  Open paths get butt ends; closed ones become a ring
    (outer positive, inner negative)."""
    n = len(pts)
    left, right = [], []
    for i in range(n):
        if closed:
            p0, p1 = pts[(i - 1) % n], pts[(i + 1) % n]
        else:
            p0, p1 = pts[max(i - 1, 0)], pts[min(i + 1, n - 1)]
        tx, ty = p1[0] - p0[0], p1[1] - p0[1]
        L = math.hypot(tx, ty) or 1.0
        tx, ty = tx / L, ty / L
        hw = hw_fn(tx, ty)
        x, y = pts[i]
        left.append((x - ty * hw, y + tx * hw))
        right.append((x + ty * hw, y - tx * hw))
    if closed:
        a, b = orient(left), orient(right)
        if abs(signed_area(a)) >= abs(signed_area(b)):
            return [a, orient(right, False)]
        return [b, orient(left, False)]
    return [orient(left + right[::-1])]


def bezier(p0, p1, p2, p3, n=28):
    out = []
    for i in range(n + 1):
        t = i / float(n)
        u = 1.0 - t
        a, b, c, d = u * u * u, 3 * u * u * t, 3 * u * t * t, t * t * t
        out.append((a * p0[0] + b * p1[0] + c * p2[0] + d * p3[0],
                    a * p0[1] + b * p1[1] + c * p2[1] + d * p3[1]))
    return out


def join_paths(*parts):
    out = []
    for part in parts:
        for p in part:
            if out and abs(out[-1][0] - p[0]) < 1e-6 and abs(out[-1][1] - p[1]) < 1e-6:
                continue
            out.append(p)
    return out


def se_point(cx, cy, rx, ry, ang_deg, p):
    a = math.radians(ang_deg)
    c, s = math.cos(a), math.sin(a)
    e = 2.0 / p
    return (cx + rx * math.copysign(abs(c) ** e, c), cy + ry * math.copysign(abs(s) ** e, s))


def se_arc(cx, cy, rx, ry, a0, a1, p, step=3.0):
    n = max(2, int(abs(a1 - a0) / step))
    return [se_point(cx, cy, rx, ry, a0 + (a1 - a0) * i / n, p) for i in range(n + 1)]


# --------------------------------------------------------------------------
# Scan converter: non-zero winding, SS sub-scanlines, exact x coverage
# --------------------------------------------------------------------------
def coverage(polys, clip=(0, 0, W, H)):
    xs = [p[0] for poly in polys for p in poly]
    ys = [p[1] for poly in polys for p in poly]
    if not xs:
        return None
    bx0 = max(clip[0], int(math.floor(min(xs))))
    by0 = max(clip[1], int(math.floor(min(ys))))
    bx1 = min(clip[2], int(math.ceil(max(xs))))
    by1 = min(clip[3], int(math.ceil(max(ys))))
    if bx1 <= bx0 or by1 <= by0:
        return None
    bw, bh = bx1 - bx0, by1 - by0
    nsub = bh * SS
    buckets = [[] for _ in range(nsub)]
    for poly in polys:
        m = len(poly)
        for i in range(m):
            ax, ay = poly[i]
            bx, by = poly[(i + 1) % m]
            if ay == by:
                continue
            d = 1 if by > ay else -1
            lo, hi = (ay, by) if ay < by else (by, ay)
            k0 = int(math.ceil((lo - by0) * SS - 0.5))
            k1 = int(math.ceil((hi - by0) * SS - 0.5))
            if k0 < 0:
                k0 = 0
            if k1 > nsub:
                k1 = nsub
            if k0 >= k1:
                continue
            slope = (bx - ax) / (by - ay)
            for k in range(k0, k1):
                ysub = by0 + (k + 0.5) / SS
                buckets[k].append((ax + (ysub - ay) * slope - bx0, d))
    wgt = 1.0 / SS
    rows = []
    for r in range(bh):
        acc = [0.0] * (bw + 2)
        diff = [0.0] * (bw + 2)
        any_hit = False
        for k in range(r * SS, r * SS + SS):
            lst = buckets[k]
            if not lst:
                continue
            lst.sort()
            wind = 0
            start = 0.0
            for x, d in lst:
                prev = wind
                wind += d
                if prev == 0 and wind != 0:
                    start = x
                elif prev != 0 and wind == 0:
                    xa = 0.0 if start < 0.0 else (bw if start > bw else start)
                    xb = 0.0 if x < 0.0 else (bw if x > bw else x)
                    if xb <= xa:
                        continue
                    any_hit = True
                    ia, ib = int(xa), int(xb)
                    if ia == ib:
                        acc[ia] += (xb - xa) * wgt
                    else:
                        acc[ia] += (ia + 1 - xa) * wgt
                        diff[ia + 1] += wgt
                        diff[ib] -= wgt
                        acc[ib] += (xb - ib) * wgt
        if not any_hit:
            rows.append(None)
            continue
        run = 0.0
        row = acc
        for i in range(bw):
            run += diff[i]
            row[i] += run
        rows.append(row)
    return (bx0, by0, bw, bh, rows)


def blur_cov(cov, radius, passes=3):
    """Box-blur a coverage block (grows it by radius*passes on every side)."""
    bx0, by0, bw, bh, rows = cov
    g = radius * passes
    nw, nh = bw + 2 * g, bh + 2 * g
    grid = [[0.0] * nw for _ in range(nh)]
    for r in range(bh):
        row = rows[r]
        if row is None:
            continue
        dst = grid[r + g]
        for i in range(bw):
            dst[i + g] = row[i]
    span = 2 * radius + 1
    inv = 1.0 / span

    def blur_line(line):
        n = len(line)
        out = [0.0] * n
        s = sum(line[0:radius + 1])
        for i in range(n):
            out[i] = s * inv
            j = i + radius + 1
            if j < n:
                s += line[j]
            j = i - radius
            if j >= 0:
                s -= line[j]
        return out

    for _ in range(passes):
        grid = [blur_line(line) for line in grid]
        cols = [blur_line([grid[y][x] for y in range(nh)]) for x in range(nw)]
        grid = [[cols[x][y] for x in range(nw)] for y in range(nh)]
    return (bx0 - g, by0 - g, nw, nh, grid)


# --------------------------------------------------------------------------
# Image (float RGB, 0..255)
# --------------------------------------------------------------------------
class Image:
    def __init__(self):
        self.r = [0.0] * (W * H)
        self.g = [0.0] * (W * H)
        self.b = [0.0] * (W * H)

    def composite(self, cov, color, alpha=1.0):
        if cov is None:
            return
        bx0, by0, bw, bh, rows = cov
        R, G, B = self.r, self.g, self.b
        fn = color if callable(color) else None
        for r in range(bh):
            row = rows[r]
            y = by0 + r
            if row is None or y < 0 or y >= H:
                continue
            base = y * W
            for i in range(bw):
                a = row[i]
                if a <= 0.0005:
                    continue
                x = bx0 + i
                if x < 0 or x >= W:
                    continue
                a = (1.0 if a > 1.0 else a) * alpha
                c = fn(x + 0.5, y + 0.5) if fn else color
                k = 1.0 - a
                j = base + x
                R[j] = R[j] * k + c[0] * a
                G[j] = G[j] * k + c[1] * a
                B[j] = B[j] * k + c[2] * a

    def fill(self, polys, color, alpha=1.0):
        self.composite(coverage(polys), color, alpha)

    def bgr_rows(self):
        """8-bit B, G, R rows, top to bottom.  A 4x4 ordered dither keeps the
        long gradients free of banding."""
        bayer = [0, 8, 2, 10, 12, 4, 14, 6, 3, 11, 1, 9, 15, 7, 13, 5]
        R, G, B = self.r, self.g, self.b
        rows = []
        for y in range(H):
            row = bytearray(W * 3)
            base = y * W
            by = (y & 3) * 4
            for x in range(W):
                d = (bayer[by + (x & 3)] + 0.5) / 16.0
                j = base + x
                o = x * 3
                row[o] = min(255, max(0, int(B[j] + d)))
                row[o + 1] = min(255, max(0, int(G[j] + d)))
                row[o + 2] = min(255, max(0, int(R[j] + d)))
            rows.append(bytes(row))
        return rows


# --------------------------------------------------------------------------
# Lettering: a geometric sans serif built from stroked centre lines.
# Font units: baseline 0, y up; cap height 700, x-height 510.
# --------------------------------------------------------------------------
CAP, XH, ASC, DESC, OVS = 700.0, 510.0, 740.0, -205.0, 11.0
SEP = 2.25                   # superellipse exponent of the bowls


class Face:
    def __init__(self, stem, contrast=0.80):
        self.wv = stem
        self.wh = stem * contrast
        self.hv = stem / 2.0
        self.hh = self.wh / 2.0

    def hw(self, tx, ty):
        return 0.5 * (self.wh + (self.wv - self.wh) * ty * ty)

    # primitives -----------------------------------------------------------
    def stem(self, xc, y0, y1, k=1.0):
        return [rect(xc - self.hv * k, y0, xc + self.hv * k, y1)]

    def bar(self, x0, x1, yc):
        return [rect(x0, yc - self.hh, x1, yc + self.hh)]

    def diag(self, xa, ya, xb, yb, k=0.94):
        """Diagonal with horizontal cuts and perpendicular weight stem*k."""
        L = math.hypot(xb - xa, yb - ya)
        hx = self.hv * k * L / abs(yb - ya)
        return [orient([(xa - hx, ya), (xa + hx, ya), (xb + hx, yb), (xb - hx, yb)])]

    def diag_hx(self, xa, ya, xb, yb, k=0.94):
        L = math.hypot(xb - xa, yb - ya)
        return self.hv * k * L / abs(yb - ya)

    def path(self, pts):
        return offset_stroke(pts, self.hw)

    def ring(self, cx, cy, rx, ry):
        pts = [se_point(cx, cy, rx, ry, a, SEP) for a in [i * 3.0 for i in range(120)]]
        return offset_stroke(pts, self.hw, closed=True)

    def arc(self, cx, cy, rx, ry, a0, a1):
        return self.path(se_arc(cx, cy, rx, ry, a0, a1, SEP))

    # glyphs: each returns (polys, advance) -----------------------------
    def bowl(self, x0, width, top=XH):
        """Closed bowl with its left ink edge at x0."""
        cx = x0 + width / 2.0
        rx = width / 2.0 - self.hv
        cy = top / 2.0
        ry = top / 2.0 + OVS - self.hh
        return self.ring(cx, cy, rx, ry)

    def g_o(self):
        sb, w = 42, 520
        return self.bowl(sb, w), sb + w + sb

    def g_a(self):
        sb, w = 42, 478
        xs = sb + w - self.hv
        return self.bowl(sb, w) + self.stem(xs, 0, XH), sb + w + 66

    def g_d(self):
        sb, w = 42, 478
        xs = sb + w - self.hv
        return self.bowl(sb, w) + self.stem(xs, 0, ASC), sb + w + 66

    def g_g(self):
        sb, w = 42, 478
        xs = sb + w - self.hv
        bot = DESC - OVS + self.hh          # centre line of the hook bottom
        ry = 150.0
        cy = bot + ry
        rx = (xs - (sb + 70)) / 2.0
        cx = xs - rx
        hook = self.arc(cx, cy, rx, ry, 0, -158)
        return self.bowl(sb, w) + self.stem(xs, cy, XH) + hook, sb + w + 66

    def arch(self, xl, xr, cy, top=XH):
        cx, rx = (xl + xr) / 2.0, (xr - xl) / 2.0
        ry = top + OVS - self.hh - cy
        return self.arc(cx, cy, rx, ry, 180, 0)

    def g_n(self):
        sb, w = 66, 440
        xl, xr = sb + self.hv, sb + w - self.hv
        cy = XH * 0.40
        return (self.stem(xl, 0, XH) + self.arch(xl, xr, cy) + self.stem(xr, 0, cy + 0.5),
                sb + w + sb)

    def g_u(self):
        sb, w = 66, 440
        xl, xr = sb + self.hv, sb + w - self.hv
        cy = XH * 0.60
        cx, rx = (xl + xr) / 2.0, (xr - xl) / 2.0
        ry = cy - (-OVS + self.hh)
        return (self.stem(xr, 0, XH) + self.arc(cx, cy, rx, ry, 180, 360)
                + self.stem(xl, cy - 0.5, XH), sb + w + sb)

    def g_r(self):
        sb = 66
        xl = sb + self.hv
        cy = XH * 0.36
        rx = 205.0
        ry = XH + OVS - self.hh - cy
        cx = xl + rx
        a_end = 62.0
        ex = se_point(cx, cy, rx, ry, a_end, SEP)[0]
        return self.stem(xl, 0, XH) + self.arc(cx, cy, rx, ry, 180, a_end), ex + self.hv + 14

    def g_v(self):
        sb, w = 18, 480
        hx = self.diag_hx(0, XH, w / 2.0, 0)
        xm = sb + w / 2.0
        return (self.diag(sb + hx, XH, xm, 0) + self.diag(xm, 0, sb + w - hx, XH),
                sb + w + sb)

    def g_e(self):
        sb, w = 42, 500
        cx = sb + w / 2.0
        rx = w / 2.0 - self.hv
        cy = XH / 2.0
        ry = XH / 2.0 + OVS - self.hh
        yb = cy + 8
        arc = self.arc(cx, cy, rx, ry, 2, 322)
        return arc + self.bar(cx - rx, cx + rx + self.hv, yb), sb + w + sb - 6

    def g_l(self):
        sb = 66
        return self.stem(sb + self.hv, 0, ASC), sb + self.wv + sb

    def g_i(self):
        sb = 66
        xc = sb + self.hv
        r = self.hv * 1.12
        return self.stem(xc, 0, XH) + [circle(xc, ASC - r, r, 48)], sb + self.wv + sb

    def g_t(self):
        sb = 16
        xc = sb + 96
        rxh, ryh = 118.0, 118.0
        bot = -OVS + self.hh
        cy = bot + ryh
        cxh = xc + rxh
        hook = self.arc(cxh, cy, rxh, ryh, 180, 292)
        return (self.stem(xc, cy, XH + 150) + hook + self.bar(sb, sb + 282, XH - self.hh),
                sb + 282 + 16)

    def s_curve(self, x0, w, top):
        """An S spine inside the ink box x0..x0+w, 0..top."""
        l, r = x0 + self.hv, x0 + w - self.hv
        b, t = -OVS + self.hh, top + OVS - self.hh

        def P(u, v):
            return (l + (r - l) * u, b + (t - b) * v)

        segs = [
            (P(0.97, 0.80), P(0.91, 0.96), P(0.73, 1.0), P(0.50, 1.0)),
            (P(0.50, 1.0), P(0.22, 1.0), P(0.0, 0.92), P(0.0, 0.735)),
            (P(0.0, 0.735), P(0.0, 0.50), P(1.0, 0.53), P(1.0, 0.265)),
            (P(1.0, 0.265), P(1.0, 0.07), P(0.77, 0.0), P(0.50, 0.0)),
            (P(0.50, 0.0), P(0.25, 0.0), P(0.07, 0.05), P(0.0, 0.19)),
        ]
        pts = join_paths(*[bezier(*s) for s in segs])
        return self.path(pts)

    def g_s(self):
        sb, w = 36, 396
        return self.s_curve(sb, w, XH), sb + w + sb

    # capitals ------------------------------------------------------------
    def g_O(self):
        sb, w = 44, 712
        return self.bowl(sb, w, CAP), sb + w + sb

    def g_Q(self):
        sb, w = 44, 712
        cx = sb + w / 2.0
        tail = [thick_line(cx + 95, 190, cx + 330, -120, self.wv * 0.96)]
        return self.bowl(sb, w, CAP) + tail, sb + w + sb

    def g_C(self):
        sb, w = 44, 640
        cx = sb + w / 2.0
        rx = w / 2.0 - self.hv
        cy = CAP / 2.0
        ry = CAP / 2.0 + OVS - self.hh
        return self.arc(cx, cy, rx, ry, 42, 318), sb + w + 26

    def g_M(self):
        sb, w = 70, 760
        k = 0.94
        xl, xr = sb + self.hv * k, sb + w - self.hv * k
        xm = sb + w / 2.0
        hx = self.diag_hx(0, CAP, w / 2.0, 0, 0.86)
        return (self.stem(xl, 0, CAP, k) + self.stem(xr, 0, CAP, k)
                + self.diag(sb + hx, CAP, xm, 0, 0.86) + self.diag(xm, 0, sb + w - hx, CAP, 0.86),
                sb + w + sb)

    def g_R(self):
        sb, w = 70, 520
        xl = sb + self.hv
        top = CAP - self.hh
        yb = CAP * 0.43
        ryb = (top - yb) / 2.0
        cyb = yb + ryb
        rxb = 190.0
        xb = sb + w - 28 - self.hv - rxb
        bowl = join_paths([(xl, top)], se_arc(xb, cyb, rxb, ryb, 90, -90, 2.6), [(xl, yb)])
        hx = self.diag_hx(xb + 40, yb, sb + w - 20, 0)
        leg = self.diag(xb + 40, yb, sb + w - hx, 0)
        return self.stem(xl, 0, CAP) + self.path(bowl) + leg, sb + w + 20

    def g_S(self):
        sb, w = 40, 520
        return self.s_curve(sb, w, CAP), sb + w + sb

    def g_space(self):
        return [], 230

    def glyph(self, ch):
        if ch == " ":
            return self.g_space()
        name = "g_" + ch
        return getattr(self, name)()


KERN = {
    ("Q", "u"): -30, ("r", "v"): 10, ("v", "a"): -18, ("o", "r"): 0,
    ("C", "o"): -10, ("r", "e"): -8, ("R", "e"): -28, ("t", "r"): -10,
    ("t", "i"): -6, ("r", "a"): -10, ("a", "t"): -12, ("e", "r"): -4,
    ("o", "v"): -16, ("e", "l"): 0,
}


def text_polys(text, face, x, baseline, size_px, tracking=0.0):
    """Polygons (pixel space) for text; size_px is the cap height in pixels.
    Returns (polys, advance_px)."""
    s = size_px / CAP
    out = []
    pen = 0.0
    prev = None
    for ch in text:
        if prev is not None:
            pen += KERN.get((prev, ch), 0) + tracking
        polys, adv = face.glyph(ch)
        for poly in polys:
            out.append([(x + (pen + px) * s, baseline - py * s) for (px, py) in poly])
        pen += adv
        prev = ch
    return out, pen * s


def text_width(text, face, size_px, tracking=0.0):
    return text_polys(text, face, 0, 0, size_px, tracking)[1]


# --------------------------------------------------------------------------
# Scene
# --------------------------------------------------------------------------
BG_TOP = (66, 124, 184)      # lighter accent
BG_MID = ACCENT
BG_LOW = (24, 48, 82)        # deep navy, behind the program's text
BG_BOT = (17, 34, 60)

GLOW = (410.0, 118.0, 210.0)     # centre x, y, radius of the light behind the art


def background(img):
    R, G, B = img.r, img.g, img.b
    gx, gy, gr = GLOW
    inv_gr2 = 1.0 / (gr * gr)
    for y in range(H):
        yc = y + 0.5
        for x in range(W):
            xc = x + 0.5
            # mostly vertical gradient, slightly tilted (lighter to the upper right)
            t = (yc + (W - xc) * 0.10) / (H + W * 0.10)
            if t < 0.40:
                c = mix(BG_TOP, BG_MID, t / 0.40)
            elif t < 0.70:
                c = mix(BG_MID, BG_LOW, smoothstep(0.40, 0.70, t))
            else:
                c = mix(BG_LOW, BG_BOT, (t - 0.70) / 0.30)
            # soft light behind the artwork
            d2 = ((xc - gx) ** 2 + (yc - gy) ** 2) * inv_gr2
            if d2 < 1.0:
                k = (1.0 - d2)
                k = k * k * 0.22
                c = (c[0] + (150 - c[0]) * k, c[1] + (196 - c[1]) * k, c[2] + (236 - c[2]) * k)
            j = y * W + x
            R[j], G[j], B[j] = c


def lcg(seed):
    state = [seed & 0xFFFFFFFF]

    def rnd():
        state[0] = (1103515245 * state[0] + 12345) & 0x7FFFFFFF
        return state[0] / float(0x7FFFFFFF)
    return rnd


def network(img):
    """Faint connected nodes drifting out from the artwork."""
    rnd = lcg(20240611)
    nodes = []
    cols, rows_ = 9, 6
    for j in range(rows_):
        for i in range(cols):
            x = 262 + i * 28.0 + (rnd() - 0.5) * 18
            y = 12 + j * 40.0 + (rnd() - 0.5) * 22 + (i % 2) * 12
            nodes.append((x, y))

    def fade(x, y):
        d = math.hypot((x - GLOW[0]) / 1.15, y - GLOW[1]) / 190.0
        v = 1.0 - smoothstep(0.35, 1.0, d)
        v *= 1.0 - smoothstep(215.0, 245.0, y)
        v *= smoothstep(255.0, 320.0, x)
        return v

    lines = []
    for a in range(len(nodes)):
        for b in range(a + 1, len(nodes)):
            (x0, y0), (x1, y1) = nodes[a], nodes[b]
            d = math.hypot(x1 - x0, y1 - y0)
            if d < 44 and rnd() < 0.55:
                f = min(fade(x0, y0), fade(x1, y1))
                if f > 0.05:
                    lines.append((x0, y0, x1, y1, f))
    for (x0, y0, x1, y1, f) in lines:
        img.fill([thick_line(x0, y0, x1, y1, 1.0)], (200, 225, 250), 0.20 * f)
    for (x, y) in nodes:
        f = fade(x, y)
        if f > 0.05:
            img.fill([circle(x, y, 1.9, 20)], (215, 235, 255), 0.45 * f)


def rrect_shadow(img, x0, y0, x1, y1, r, blur, alpha, color=(6, 18, 36)):
    """Soft drop shadow of a rounded rectangle from its distance field."""
    R, G, B = img.r, img.g, img.b
    cx, cy = (x0 + x1) / 2.0, (y0 + y1) / 2.0
    hx, hy = (x1 - x0) / 2.0 - r, (y1 - y0) / 2.0 - r
    for y in range(max(0, int(y0 - blur * 2)), min(H, int(y1 + blur * 2) + 1)):
        for x in range(max(0, int(x0 - blur * 2)), min(W, int(x1 + blur * 2) + 1)):
            qx, qy = abs(x + 0.5 - cx) - hx, abs(y + 0.5 - cy) - hy
            d = math.hypot(max(qx, 0.0), max(qy, 0.0)) + min(max(qx, qy), 0.0) - r
            a = alpha * (1.0 - smoothstep(-blur, blur * 1.6, d))
            if a <= 0.002:
                continue
            j = y * W + x
            k = 1.0 - a
            R[j] = R[j] * k + color[0] * a
            G[j] = G[j] * k + color[1] * a
            B[j] = B[j] * k + color[2] * a


def circle_shadow(img, cx, cy, rad, blur, alpha, color=(6, 18, 36)):
    R, G, B = img.r, img.g, img.b
    for y in range(max(0, int(cy - rad - blur * 2)), min(H, int(cy + rad + blur * 2) + 1)):
        for x in range(max(0, int(cx - rad - blur * 2)), min(W, int(cx + rad + blur * 2) + 1)):
            d = math.hypot(x + 0.5 - cx, y + 0.5 - cy) - rad
            a = alpha * (1.0 - smoothstep(-blur, blur * 1.6, d))
            if a <= 0.002:
                continue
            j = y * W + x
            k = 1.0 - a
            R[j] = R[j] * k + color[0] * a
            G[j] = G[j] * k + color[1] * a
            B[j] = B[j] * k + color[2] * a


def module(img, x0, y0, size, top, bot, edge, pins=True, lines=True, alpha=1.0):
    """One component block in the icon's style."""
    r = size * 0.15
    x1, y1 = x0 + size, y0 + size
    e = max(1.2, size * 0.022)
    if alpha >= 1.0:
        rrect_shadow(img, x0 + 3, y0 + 6, x1 + 3, y1 + 6, r, size * 0.07, 0.38)
    if pins:
        ph = size * 0.14
        pw = size * 0.36
        pr = ph * 0.42
        for k in (0.36, 0.60):
            py = y0 + size * k
            px0 = x0 - pw * 0.62
            img.fill([round_rect(px0, py, px0 + pw, py + ph, pr)], edge, alpha)
            img.fill([round_rect(px0 + e, py + e, px0 + pw - e, py + ph - e, pr - e)], PIN_FILL, alpha)
    # moat, outline, gradient body, top highlight
    img.fill([round_rect(x0, y0, x1, y1, r)], edge, alpha)
    img.fill([round_rect(x0 + e, y0 + e, x1 - e, y1 - e, r - e)], vgrad(top, bot, y0, y1), alpha)
    rim = [round_rect(x0 + e, y0 + e, x1 - e, y1 - e, r - e),
           orient(round_rect(x0 + e, y0 + 2.6 * e, x1 - e, y1 - e, r - e), False)]
    img.fill(rim, WHITE, 0.35 * alpha)
    if lines:
        # a few "interface" lines on the face of the block
        lx = x0 + size * 0.30
        for k, ln in ((0.30, 0.44), (0.44, 0.30), (0.58, 0.38)):
            ly = y0 + size * k
            img.fill([round_rect(lx, ly, lx + size * ln, ly + size * 0.06, size * 0.03)], WHITE, 0.32 * alpha)


def badge(img, cx, cy, rad, moat_color):
    circle_shadow(img, cx + 2, cy + 5, rad, rad * 0.18, 0.40)
    img.fill([circle(cx, cy, rad + rad * 0.14, 96)], moat_color)
    img.fill([circle(cx, cy, rad, 96)], BADGE_EDGE)
    img.fill([circle(cx, cy, rad - max(1.5, rad * 0.06), 96)], vgrad(BADGE_TOP, BADGE_BOT, cy - rad, cy + rad))
    img.fill([circle(cx, cy - rad * 0.18, rad * 0.78, 96)], WHITE, 0.10)
    w = rad * 0.30
    pts = [(cx - rad * 0.48, cy + rad * 0.02), (cx - rad * 0.12, cy + rad * 0.38),
           (cx + rad * 0.52, cy - rad * 0.30)]
    img.fill(offset_stroke_round(pts, w / 2.0), WHITE)


def offset_stroke_round(pts, hw):
    """Polyline with round caps and joins (union of capsules)."""
    polys = []
    for i in range(len(pts) - 1):
        polys.append(thick_line(pts[i][0], pts[i][1], pts[i + 1][0], pts[i + 1][1], hw * 2))
    for p in pts:
        polys.append(circle(p[0], p[1], hw, 40))
    return polys


def artwork(img):
    # a batch of modules: two lighter ones behind, the main one in front
    far = 0.45
    module(img, 410, 30, 68, mix(BACK_TOP, BG_TOP, far), mix(BACK_BOT, BG_TOP, far),
           mix(BACK_EDGE, BG_TOP, far), pins=False, lines=False)
    module(img, 384, 56, 84, BACK_TOP, BACK_BOT, BACK_EDGE, pins=False, lines=False)
    module(img, 350, 96, 100, TEAL_TOP, TEAL_BOT, TEAL_EDGE)
    badge(img, 446, 192, 27, mix(ACCENT, BG_LOW, 0.30))


def lettering(img):
    bold = Face(104)
    light = Face(70)
    x = 30
    # product name, two lines
    p1, w1 = text_polys("Quorvandel", light, x, 112, 36, tracking=8)
    p2, w2 = text_polys("Corvantis", bold, x, 160, 36, tracking=4)
    sub, ws = text_polys("COM Server Registration", Face(74), x + 1, 206, 13.5, tracking=40)
    shadow = blur_cov(coverage(p1 + p2), 2, 2)
    img.composite(shadow, (8, 22, 44), 0.35)
    img.fill(p1, WHITE, 0.94)
    img.fill(p2, WHITE)
    img.fill(sub, (206, 226, 246))
    # small accent rule between name and subtitle
    img.fill([round_rect(x + 1, 178, x + 45, 181, 1.5)], (60, 192, 98))
    return w1, w2, ws


def details(img):
    # hairline separating the artwork from the program's own text
    rule = coverage([rect(16, 252, 484, 253)])
    bx0, by0, bw, bh, rows = rule
    for row in rows:
        if row is None:
            continue
        for i in range(bw):
            x = bx0 + i + 0.5
            row[i] *= smoothstep(16, 150, x) * (1.0 - smoothstep(330, 484, x))
    img.composite(rule, (200, 222, 246), 0.22)
    # light footer: the program draws its version line there in the window
    # text colour (black), below the white legal notice and notice
    img.fill([rect(0, 327, W, H)], vgrad((238, 243, 249), (214, 225, 238), 327, H))
    img.fill([rect(0, 327, W, 328)], (150, 180, 212), 0.8)
    # thin brand stripe along the bottom edge
    img.fill([rect(0, H - 4, W, H)],
             hgrad([(0, (31, 148, 163)), (250, (58, 110, 165)), (500, (60, 192, 98))]))


def render():
    img = Image()
    background(img)
    network(img)
    artwork(img)
    lettering(img)
    details(img)
    return img


def main(argv):
    out_bmp = None
    out_png = None
    i = 0
    while i < len(argv):
        a = argv[i]
        if a == "--png" and i + 1 < len(argv):
            out_png = argv[i + 1]
            i += 2
            continue
        if out_bmp is None:
            out_bmp = a
        else:
            sys.exit("usage: make_splash.py OUT.bmp [--png OUT.png]")
        i += 1
    if out_bmp is None and out_png is None:
        sys.exit("usage: make_splash.py OUT.bmp [--png OUT.png]")
    rows = render().bgr_rows()
    if out_bmp:
        d = os.path.dirname(os.path.abspath(out_bmp))
        if not os.path.isdir(d):
            os.makedirs(d)
        with open(out_bmp, "wb") as f:
            f.write(bmp24_bytes(W, H, reversed(rows)))          # bottom-up
    if out_png:
        rgba = [b"".join(bytes((r[o + 2], r[o + 1], r[o], 255)) for o in range(0, W * 3, 3))
                for r in rows]
        with open(out_png, "wb") as f:
            f.write(png_bytes(rgba))


if __name__ == "__main__":
    main(sys.argv[1:])
