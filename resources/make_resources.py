#!/usr/bin/env python3
"""Writes the installer's pictures: background.bmp, track.png, fill.png, app.ico.

Standard library only. Run from anywhere:  python3 resources/make_resources.py
The output is deterministic, so the committed files can be remade byte for byte.
"""
import math
import os
import struct
import zlib

HERE = os.path.dirname(os.path.abspath(__file__))

BG_W, BG_H = 560, 310
TOP = (236, 236, 192)
BOTTOM = (107, 77, 216)


def clamp01(v):
    return 0.0 if v < 0.0 else 1.0 if v > 1.0 else v


def smooth(edge, d):
    """Coverage of a shape at signed distance d (negative inside), about 1 px soft."""
    return clamp01(0.5 - d / edge)


def rounded_rect_dist(x, y, cx, cy, hw, hh, r):
    qx = abs(x - cx) - (hw - r)
    qy = abs(y - cy) - (hh - r)
    ox, oy = max(qx, 0.0), max(qy, 0.0)
    return math.hypot(ox, oy) + min(max(qx, qy), 0.0) - r


def triangle_dist(x, y, pts):
    """Signed distance to a convex triangle (counter-clockwise or clockwise)."""
    inside = True
    best = 1e9
    n = len(pts)
    sign = None
    for i in range(n):
        ax, ay = pts[i]
        bx, by = pts[(i + 1) % n]
        ex, ey = bx - ax, by - ay
        wx, wy = x - ax, y - ay
        t = clamp01((wx * ex + wy * ey) / (ex * ex + ey * ey))
        dx, dy = wx - ex * t, wy - ey * t
        best = min(best, math.hypot(dx, dy))
        c = ex * wy - ey * wx
        s = c >= 0
        if sign is None:
            sign = s
        elif s != sign:
            inside = False
    return -best if inside else best


def background_pixel(x, y):
    """Gradient plus a soft, lighter film frame with a play mark, centred at (280, 150)."""
    px, py = x + 0.5, y + 0.5
    t = py / BG_H
    col = [TOP[i] + (BOTTOM[i] - TOP[i]) * t for i in range(3)]

    def blend(c, a, amount):
        return [c[i] + (a[i] - c[i]) * amount for i in range(3)]

    white = (255, 255, 255)
    cx, cy = 280.0, 150.0
    # Faint glow behind the artwork.
    g = math.exp(-(((px - cx) / 150.0) ** 2 + ((py - cy) / 95.0) ** 2))
    col = blend(col, white, 0.18 * g)
    # Frame: a rounded panel, x 140..420, y 60..240.
    d = rounded_rect_dist(px, py, cx, cy, 140.0, 90.0, 22.0)
    col = blend(col, white, 0.22 * smooth(1.2, d))
    # Its border ring.
    col = blend(col, white, 0.45 * smooth(1.2, abs(d + 2.0) - 1.5))
    # Sprocket holes along the top and bottom edges of the frame.
    for i in range(9):
        hx = 172.0 + i * 27.0
        for hy in (76.0, 224.0):
            dh = rounded_rect_dist(px, py, hx, hy, 7.0, 5.0, 2.5)
            col = blend(col, white, 0.40 * smooth(1.2, dh))
    # A round badge and the play triangle in it.
    dc = math.hypot(px - cx, py - cy) - 46.0
    col = blend(col, white, 0.28 * smooth(1.2, dc))
    col = blend(col, white, 0.55 * smooth(1.2, abs(dc) - 1.6))
    tri = [(cx - 14.0, cy - 22.0), (cx + 24.0, cy), (cx - 14.0, cy + 22.0)]
    col = blend(col, white, 0.85 * smooth(1.2, triangle_dist(px, py, tri) - 2.0))
    return tuple(int(round(min(255.0, max(0.0, v)))) for v in col)


def make_bmp():
    row_size = (BG_W * 3 + 3) & ~3
    pad = b"\0" * (row_size - BG_W * 3)
    rows = []
    for y in range(BG_H - 1, -1, -1):  # bottom-up
        row = bytearray()
        for x in range(BG_W):
            r, g, b = background_pixel(x, y)
            row += bytes((b, g, r))
        rows.append(bytes(row) + pad)
    pixels = b"".join(rows)
    info = struct.pack("<IiiHHIIiiII", 40, BG_W, BG_H, 1, 24, 0, len(pixels), 2835, 2835, 0, 0)
    offset = 14 + len(info)
    head = struct.pack("<2sIHHI", b"BM", offset + len(pixels), 0, 0, offset)
    return head + info + pixels


def png(width, height, rgba_rows):
    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data) & 0xFFFFFFFF)

    raw = b"".join(b"\0" + bytes(r) for r in rgba_rows)
    ihdr = struct.pack(">IIBBBBB", width, height, 8, 6, 0, 0, 0)
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", ihdr) + chunk(b"IDAT", zlib.compress(raw, 9))
            + chunk(b"IEND", b""))


def coverage(x, y, dist, n=4):
    """Anti-aliased coverage of pixel (x, y) by supersampling n x n."""
    hits = 0
    for j in range(n):
        for i in range(n):
            if dist(x + (i + 0.5) / n, y + (j + 0.5) / n) <= 0.0:
                hits += 1
    return hits / (n * n)


def capsule_png(colour, w=480, h=8, r=4.0):
    def dist(px, py):
        return rounded_rect_dist(px, py, w / 2.0, h / 2.0, w / 2.0, h / 2.0, r)

    rows = []
    for y in range(h):
        row = bytearray()
        for x in range(w):
            # Only the two rounded ends need sampling; the middle is solid.
            a = 1.0 if r <= x < w - r else coverage(x, y, dist)
            row += bytes(colour) + bytes((int(round(255 * a)),))
        rows.append(row)
    return png(w, h, rows)


def icon_rgba(size=128):
    """Rounded square in the background's colours with the white play mark."""
    rows = []
    c = size / 2.0

    def square(px, py):
        return rounded_rect_dist(px, py, c, c, c - 2.0, c - 2.0, 26.0)

    tri = [(c - 20.0, c - 30.0), (c + 32.0, c), (c - 20.0, c + 30.0)]

    def play(px, py):
        return triangle_dist(px, py, tri) - 3.0

    for y in range(size):
        row = bytearray()
        t = (y + 0.5) / size
        base = [TOP[i] + (BOTTOM[i] - TOP[i]) * t for i in range(3)]
        for x in range(size):
            a = coverage(x, y, square, 3)
            m = coverage(x, y, play, 3) if a > 0 else 0.0
            col = [base[i] + (255 - base[i]) * 0.9 * m for i in range(3)]
            row += bytes(int(round(v)) for v in col) + bytes((int(round(255 * a)),))
        rows.append(row)
    return rows


def make_ico():
    size = 128
    data = png(size, size, icon_rgba(size))
    header = struct.pack("<HHH", 0, 1, 1)
    entry = struct.pack("<BBBBHHII", size, size, 0, 0, 1, 32, len(data), 6 + 16)
    return header + entry + data


def main():
    outputs = {
        "background.bmp": make_bmp(),
        "track.png": capsule_png((239, 239, 239)),
        "fill.png": capsule_png((242, 242, 147)),
        "app.ico": make_ico(),
    }
    for name, data in outputs.items():
        with open(os.path.join(HERE, name), "wb") as f:
            f.write(data)
        print(f"{name}: {len(data)} bytes")


if __name__ == "__main__":
    main()
