"""Drawing helpers shared by the Quorvandel Corvantis artwork scripts.

Pure Python 3 standard library.  Shapes are signed-distance functions
(negative inside, pixel coordinates, y down) filled into a premultiplied
float RGBA canvas; the writers turn straight-alpha 8-bit RGBA rows (top to
bottom, as Canvas.rgba_rows() gives them) into PNG, 32-bit BMP and ICO files.

Contents:
  palette      the colours of the program's icon family
  colour       mix, clamp01, smoothstep, vgrad, hgrad
  shapes       sd_box, sd_circle, sd_segment, sd_bar, sd_polygon, sd_polyline,
               sd_polyline_round, sd_arc, sd_gear; grow, shrink, union,
               subtract, rotate
  Canvas       fill, erase, blit, rgba_rows; from_pixels, snap_alpha
  writers      png_bytes, bmp_v5_bytes, bmp24_bytes, dib_bytes, ico_bytes
  previews     preview_png, write_previews: enlarged copies on plain
               backgrounds
"""

import math
import os
import struct
import zlib

# --------------------------------------------------------------------------
# Palette (straight RGB, 0..255)
# --------------------------------------------------------------------------
WHITE = (0xFF, 0xFF, 0xFF)
INK = (0x1C, 0x1C, 0x1C)

TEAL_TOP = (0x1F, 0x94, 0xA3)      # component block, top of the gradient
TEAL_BOT = (0x0A, 0x5E, 0x6C)      # component block, bottom of the gradient
TEAL_EDGE = (0x06, 0x41, 0x4B)     # crisp outline of the block
TEAL_FLAT = (0x12, 0x7A, 0x88)     # the block's colour where there is no gradient
BACK_TOP = (0x9C, 0xD8, 0xDF)      # lighter block stacked behind
BACK_BOT = (0x6F, 0xBD, 0xC7)
BACK_EDGE = (0x3A, 0x8E, 0x99)
PIN_FILL = (0xE9, 0xF6, 0xF7)      # connector pins
PIN_EDGE = (0x06, 0x41, 0x4B)
BADGE_TOP = (0x3C, 0xC0, 0x62)     # green "registered" badge
BADGE_BOT = (0x1A, 0x8F, 0x40)
BADGE_EDGE = (0x10, 0x6A, 0x2E)
BADGE_FLAT = (0x22, 0xA0, 0x4C)    # the badge where there is no gradient
HILITE = (0xFF, 0xFF, 0xFF)        # faint highlight inside a block

TICK_TOP = (0x3D, 0xB8, 0x4E)      # green tick
TICK_BOT = (0x1E, 0x8C, 0x34)
FAIL = (0xA8, 0x16, 0x16)          # dark red cross
FAIL_DARK = (0x86, 0x0E, 0x0E)
WARN_TOP = (0xFF, 0xDE, 0x4A)      # yellow warning square
WARN_BOT = (0xF5, 0xB8, 0x00)
WARN_EDGE = (0xA8, 0x7A, 0x00)
STOP_TOP = (0xE8, 0x4A, 0x3E)      # red stop square
STOP_BOT = (0xC9, 0x2A, 0x20)
STOP_EDGE = (0x8C, 0x16, 0x10)


# --------------------------------------------------------------------------
# Colour
# --------------------------------------------------------------------------
def mix(a, b, t):
    return tuple(a[i] + (b[i] - a[i]) * t for i in range(3))


def clamp01(v):
    return 0.0 if v < 0.0 else (1.0 if v > 1.0 else v)


def smoothstep(e0, e1, x):
    t = clamp01((x - e0) / (e1 - e0))
    return t * t * (3.0 - 2.0 * t)


def vgrad(top, bot, y0, y1):
    """Colour function (x, y) -> RGB: top at y0, bot at y1, clamped."""
    def f(x, y):
        return mix(top, bot, clamp01((y - y0) / float(y1 - y0)))
    return f


def hgrad(stops):
    """Horizontal multi-stop gradient: stops = [(x, rgb), ...]."""
    def f(x, y):
        for (xa, ca), (xb, cb) in zip(stops, stops[1:]):
            if x <= xb:
                return mix(ca, cb, clamp01((x - xa) / float(xb - xa)))
        return stops[-1][1]
    return f


# --------------------------------------------------------------------------
# Signed distance functions (negative inside), pixel coordinates, y down
# --------------------------------------------------------------------------
def sd_box(px, py, x0, y0, x1, y1, r=0.0):
    """Rectangle x0..x1, y0..y1 with corner radius r."""
    cx, cy = (x0 + x1) * 0.5, (y0 + y1) * 0.5
    hx, hy = (x1 - x0) * 0.5 - r, (y1 - y0) * 0.5 - r
    qx, qy = abs(px - cx) - hx, abs(py - cy) - hy
    return math.hypot(max(qx, 0.0), max(qy, 0.0)) + min(max(qx, qy), 0.0) - r


def sd_circle(px, py, cx, cy, r):
    return math.hypot(px - cx, py - cy) - r


def sd_segment(px, py, ax, ay, bx, by):
    """Unsigned distance to the segment A-B."""
    pax, pay = px - ax, py - ay
    bax, bay = bx - ax, by - ay
    h = (pax * bax + pay * bay) / (bax * bax + bay * bay)
    h = min(max(h, 0.0), 1.0)
    return math.hypot(pax - bax * h, pay - bay * h)


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


def sd_polyline_round(px, py, pts, hw):
    """Stroke along a polyline with round joins and round ends."""
    d = min(sd_segment(px, py, *pts[i], *pts[i + 1]) for i in range(len(pts) - 1))
    return d - hw


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


def grow(f, d):
    return lambda x, y: f(x, y) - d


def shrink(f, d):
    return lambda x, y: f(x, y) + d


def union(*fs):
    return lambda x, y: min(f(x, y) for f in fs)


def subtract(f, g):
    return lambda x, y: max(f(x, y), -g(x, y))


def rotate(f, cx, cy, deg):
    """The shape f turned by deg degrees (clockwise on screen) about (cx, cy)."""
    c, s = math.cos(math.radians(deg)), math.sin(math.radians(deg))

    def g(x, y):
        dx, dy = x - cx, y - cy
        return f(cx + dx * c + dy * s, cy - dx * s + dy * c)
    return g


# --------------------------------------------------------------------------
# Canvas: premultiplied float RGBA
# --------------------------------------------------------------------------
class Canvas:
    """w x h pixels, premultiplied float RGBA, all clear at first.

    ss > 0: a pixel's coverage is the share of ss x ss sub-samples inside
    the shape, so slanted and curved edges get area anti-aliasing (pixels
    whose centre is 0.75 px or more from the edge are taken whole).
    ss = 0: coverage is 0.5 minus the distance at the pixel centre, clamped:
    exact for straight pixel-aligned edges, a one-pixel ramp elsewhere.
    """

    def __init__(self, w, h=None, ss=8):
        if h is None:
            h = w
        self.w, self.h, self.ss = w, h, ss
        self.px = [[0.0, 0.0, 0.0, 0.0] for _ in range(w * h)]
        if ss > 0:
            k = 1.0 / ss
            self.offs = [((i + 0.5) * k, (j + 0.5) * k) for j in range(ss) for i in range(ss)]
            self.inv = 1.0 / (ss * ss)
        else:
            self._cover = self._cover_centre

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

    @staticmethod
    def _cover_centre(sdf, x, y):
        # A pixel whose centre lies 0.5 px inside a pixel-aligned edge is
        # fully covered -> crisp.
        c = 0.5 - sdf(x + 0.5, y + 0.5)
        return 0.0 if c <= 0.0 else (1.0 if c >= 1.0 else c)

    def _range(self, bbox):
        if bbox is None:
            return 0, 0, self.w, self.h
        x0, y0, x1, y1 = bbox
        return (max(0, int(math.floor(x0)) - 1), max(0, int(math.floor(y0)) - 1),
                min(self.w, int(math.ceil(x1)) + 1), min(self.h, int(math.ceil(y1)) + 1))

    def fill(self, sdf, color, alpha=1.0, bbox=None):
        """Composite a shape (source-over).  color: RGB or (x, y) -> RGB."""
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
        """Copy another canvas in, replacing the pixels under it."""
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


def from_pixels(grid, pal):
    """Canvas from hand-placed pixels: grid is a list of equal-length
    strings, pal maps a character to (RGB, alpha); "." is clear."""
    cv = Canvas(len(grid[0]), len(grid), ss=1)
    for y, line in enumerate(grid):
        assert len(line) == cv.w, (y, line)
        for x, ch in enumerate(line):
            if ch == ".":
                continue
            rgb, a = pal[ch]
            cv.px[y * cv.w + x] = [rgb[0] / 255.0 * a, rgb[1] / 255.0 * a, rgb[2] / 255.0 * a, a]
    return cv


def snap_alpha(cv, lo, hi):
    """Push nearly clear / nearly solid pixels to fully clear / solid, for a
    crisper look at small sizes."""
    for p in cv.px:
        a = p[3]
        if a <= 0.0:
            continue
        na = 0.0 if a < lo else (1.0 if a > hi else a)
        k = na / a
        for i in range(4):
            p[i] *= k


# --------------------------------------------------------------------------
# Writers.  rows: straight-alpha RGBA byte rows, top to bottom.
# --------------------------------------------------------------------------
def png_bytes(rows):
    """8-bit RGBA PNG of the rows."""
    def chunk(tag, data):
        c = struct.pack(">I", len(data)) + tag + data
        return c + struct.pack(">I", zlib.crc32(tag + data) & 0xFFFFFFFF)
    w, h = len(rows[0]) // 4, len(rows)
    raw = b"".join(b"\0" + r for r in rows)
    return (b"\x89PNG\r\n\x1a\n"
            + chunk(b"IHDR", struct.pack(">IIBBBBB", w, h, 8, 6, 0, 0, 0))
            + chunk(b"IDAT", zlib.compress(raw, 9))
            + chunk(b"IEND", b""))


def bmp_v5_bytes(rows):
    """32-bit BMP with straight alpha: BITMAPFILEHEADER + BITMAPV5HEADER
    (124 bytes), BI_BITFIELDS with masks R 00FF0000, G 0000FF00,
    B 000000FF, A FF000000, bottom-up rows, sRGB colour space.  Loads with
    LoadImage(LR_CREATEDIBSECTION) for ImageList_Add on an ILC_COLOR32
    image list."""
    w, h = len(rows[0]) // 4, len(rows)
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


def bmp24_bytes(w, h, bgr_rows):
    """24-bit uncompressed BMP (BITMAPINFOHEADER).  bgr_rows: h rows of
    w * 3 bytes in file order (bottom row first, B G R per pixel)."""
    stride = (w * 3 + 3) & ~3
    pad = b"\0" * (stride - w * 3)
    out = b"".join(bytes(r) + pad for r in bgr_rows)
    size = 14 + 40 + len(out)
    hdr = struct.pack("<2sIHHI", b"BM", size, 0, 0, 54)
    info = struct.pack("<IiiHHIIiiII", 40, w, h, 1, 24, 0, len(out), 2835, 2835, 0, 0)
    return hdr + info + out


def dib_bytes(rows):
    """32-bit BGRA DIB as stored in .ico (bottom-up, XOR + AND mask)."""
    size = len(rows)
    hdr = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 32, 0, 0, 0, 0, 0, 0)
    xor = bytearray()
    for r in reversed(rows):
        for i in range(0, len(r), 4):
            xor += bytes((r[i + 2], r[i + 1], r[i], r[i + 3]))
    stride = ((size + 31) // 32) * 4
    andm = bytearray()
    for r in reversed(rows):
        line = bytearray(stride)
        for x in range(size):
            if r[x * 4 + 3] == 0:
                line[x // 8] |= 0x80 >> (x % 8)
        andm += line
    return hdr + bytes(xor) + bytes(andm)


def ico_bytes(images):
    """images: list of (size, payload bytes: dib_bytes or png_bytes)."""
    out = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    body = b""
    for size, data in images:
        dim = 0 if size >= 256 else size
        out += struct.pack("<BBBBHHII", dim, dim, 0, 0, 1, 32, len(data), offset)
        offset += len(data)
        body += data
    return out + body


# --------------------------------------------------------------------------
# Review previews
# --------------------------------------------------------------------------
def preview_png(rows, background, scale):
    """PNG of the rows composited over a plain RGB background and enlarged
    by an integer factor (nearest neighbour), for looking at the pixels."""
    out = []
    for r in rows:
        line = bytearray()
        for i in range(0, len(r), 4):
            a = r[i + 3] / 255.0
            px = bytes(int(round(r[i + c] * a + background[c] * (1.0 - a))) for c in range(3))
            line += (px + b"\xff") * scale
        out.extend([bytes(line)] * scale)
    return png_bytes(out)


def write_previews(rows, outdir, stem, backgrounds, scale=8):
    """Write stem.png (1:1, with alpha) and, per (name, RGB) background,
    stem_NAME_xSCALE.png into outdir.  Returns the enlarged files' paths."""
    with open(os.path.join(outdir, stem + ".png"), "wb") as f:
        f.write(png_bytes(rows))
    outs = []
    for name, colour in backgrounds:
        out = os.path.join(outdir, "%s_%s_x%d.png" % (stem, name, scale))
        with open(out, "wb") as f:
            f.write(preview_png(rows, colour, scale))
        outs.append(out)
    return outs
