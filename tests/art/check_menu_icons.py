#!/usr/bin/env python3
"""Checks the main window's picture strips that the build drew.

Usage: check_menu_icons.py GENERATED_DIR

Each MenuIconsN.bmp (N = 16, 20, 24, 32) must be a 32-bit BITMAPV5 file with
an alpha mask, bottom-up, 24 * N by N pixels, holding 24 different pictures,
each with solid, clear and a fair share of drawn pixels, and nothing but zero
bytes in its fully clear pixels (straight alpha, no stray colour).
"""
import os
import struct
import sys

COUNT = 24


def check(path, n):
    data = open(path, "rb").read()
    magic, size, _, _, off = struct.unpack_from("<2sIHHI", data, 0)
    hdr, w, h, planes, bpp, comp = struct.unpack_from("<IiiHHI", data, 14)
    masks = struct.unpack_from("<4I", data, 54)
    assert magic == b"BM" and size == len(data), "not a whole BMP file"
    assert (hdr, planes, bpp, comp) == (124, 1, 32, 3), "not a 32-bit BITMAPV5 with bit fields"
    assert masks == (0xFF0000, 0xFF00, 0xFF, 0xFF000000), "unexpected colour masks %r" % (masks,)
    assert (w, h) == (COUNT * n, n), "strip is %dx%d" % (w, h)
    assert off + w * h * 4 == len(data), "pixel data size"
    pics = []
    for i in range(COUNT):
        pix = [data[off + (y * w + i * n + x) * 4:off + (y * w + i * n + x) * 4 + 4]
               for y in range(n) for x in range(n)]
        alpha = [p[3] for p in pix]
        drawn = sum(1 for a in alpha if a) / float(n * n)
        assert 0.2 <= drawn < 1.0, "picture %d at %d px: %.0f%% drawn" % (i, n, drawn * 100)
        assert 255 in alpha, "picture %d at %d px has no solid pixel" % (i, n)
        assert all(p == b"\0\0\0\0" for p in pix if p[3] == 0), \
            "picture %d at %d px: colour under clear pixels" % (i, n)
        pics.append(b"".join(pix))
    assert len(set(pics)) == COUNT, "pictures repeat at %d px" % n


def main():
    for n in (16, 20, 24, 32):
        check(os.path.join(sys.argv[1], "MenuIcons%d.bmp" % n), n)
    print("menu icon strips: 16, 20, 24 and 32 px as expected")


if __name__ == "__main__":
    main()
