#!/usr/bin/env python3
# SPDX-License-Identifier: MIT
"""Draws ZeltoSoft's artwork and writes it as PNG files, with the standard library only.

    python3 data/art/make_art.py        (from anywhere; writes beside this script and into
                                          data/icons)

Output:
    product_logo.png   474 x 173  the main window's background picture
    maker_logo.png     197 x  64  the maker's logo in the About box
    window_icon.png     16 x  16  the icon of every window
    ../icons/hicolor/{16x16,32x32,48x48,128x128}/apps/zeltosoft.png   the desktop icon
    ../icons/hicolor/scalable/apps/zeltosoft.svg    the same drawing as vectors

The drawing is deterministic: running the script again gives the same bytes, so the PNGs in
the repository always match this script.
"""

import math
import os
import struct
import zlib

HERE = os.path.dirname(os.path.abspath(__file__))
SS = 4  # sub-samples per pixel side for anti-aliasing


class Image:
    def __init__(self, width, height, rgb=(255, 255, 255)):
        self.w = width
        self.h = height
        self.px = [list(rgb) + [255] for _ in range(width * height)]

    def blend(self, x, y, rgb, alpha):
        if alpha <= 0.0 or not (0 <= x < self.w and 0 <= y < self.h):
            return
        p = self.px[y * self.w + x]
        a = min(alpha, 1.0)
        for i in range(3):
            p[i] = p[i] * (1.0 - a) + rgb[i] * a

    def fill(self, inside, bbox, rgb, alpha=1.0):
        """Paints every pixel of bbox by the share of its sub-samples that inside() accepts."""
        x0, y0, x1, y1 = bbox
        x0 = max(0, int(math.floor(x0)))
        y0 = max(0, int(math.floor(y0)))
        x1 = min(self.w, int(math.ceil(x1)) + 1)
        y1 = min(self.h, int(math.ceil(y1)) + 1)
        step = 1.0 / SS
        offsets = [(i + 0.5) * step for i in range(SS)]
        for y in range(y0, y1):
            for x in range(x0, x1):
                hits = 0
                for oy in offsets:
                    for ox in offsets:
                        if inside(x + ox, y + oy):
                            hits += 1
                if hits:
                    self.blend(x, y, rgb, alpha * hits / (SS * SS))

    def write_png(self, path):
        raw = bytearray()
        for y in range(self.h):
            raw.append(0)  # filter: none
            for x in range(self.w):
                p = self.px[y * self.w + x]
                raw.extend(max(0, min(255, int(round(c)))) for c in p)

        def chunk(kind, data):
            body = kind + data
            return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body))

        header = struct.pack(">IIBBBBB", self.w, self.h, 8, 6, 0, 0, 0)  # 8-bit RGBA
        png = b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header)
        png += chunk(b"IDAT", zlib.compress(bytes(raw), 9)) + chunk(b"IEND", b"")
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as f:
            f.write(png)


# ---- shapes ---------------------------------------------------------------------------------

def seg_dist2(px, py, ax, ay, bx, by):
    dx, dy = bx - ax, by - ay
    length2 = dx * dx + dy * dy
    t = 0.0 if length2 == 0 else max(0.0, min(1.0, ((px - ax) * dx + (py - ay) * dy) / length2))
    cx, cy = ax + t * dx - px, ay + t * dy - py
    return cx * cx + cy * cy


def stroke(img, points, width, rgb, alpha=1.0):
    """A polyline of the given width with round ends and joins."""
    r = width / 2.0
    r2 = r * r
    for (ax, ay), (bx, by) in zip(points, points[1:]):
        bbox = (min(ax, bx) - r, min(ay, by) - r, max(ax, bx) + r, max(ay, by) + r)
        img.fill(lambda x, y: seg_dist2(x, y, ax, ay, bx, by) <= r2, bbox, rgb, alpha)


def polygon_inside(points):
    def inside(x, y):
        c = False
        j = len(points) - 1
        for i in range(len(points)):
            xi, yi = points[i]
            xj, yj = points[j]
            if (yi > y) != (yj > y) and x < (xj - xi) * (y - yi) / (yj - yi) + xi:
                c = not c
            j = i
        return c
    return inside


def fill_polygon(img, points, rgb, alpha=1.0):
    xs = [p[0] for p in points]
    ys = [p[1] for p in points]
    img.fill(polygon_inside(points), (min(xs), min(ys), max(xs), max(ys)), rgb, alpha)


def fill_round_rect(img, x0, y0, x1, y1, radius, rgb, alpha=1.0):
    def inside(x, y):
        if not (x0 <= x <= x1 and y0 <= y <= y1):
            return False
        cx = min(max(x, x0 + radius), x1 - radius)
        cy = min(max(y, y0 + radius), y1 - radius)
        return (x - cx) ** 2 + (y - cy) ** 2 <= radius * radius
    img.fill(inside, (x0, y0, x1, y1), rgb, alpha)


def ring_sector(img, cx, cy, r_in, r_out, a0, a1, rgb, alpha=1.0):
    """Part of an annulus between angles a0 and a1 (degrees, counter-clockwise, y up)."""
    def inside(x, y):
        dx, dy = x - cx, cy - y
        d2 = dx * dx + dy * dy
        if not (r_in * r_in <= d2 <= r_out * r_out):
            return False
        a = math.degrees(math.atan2(dy, dx))
        return a0 <= a <= a1
    img.fill(inside, (cx - r_out, cy - r_out, cx + r_out, cy + r_out), rgb, alpha)


def fill_ellipse(img, cx, cy, rx, ry, rgb, alpha=1.0):
    img.fill(lambda x, y: ((x - cx) / rx) ** 2 + ((y - cy) / ry) ** 2 <= 1.0,
             (cx - rx, cy - ry, cx + rx, cy + ry), rgb, alpha)


def arc_points(cx, cy, rx, ry, a0, a1, n=16):
    """Points along an elliptic arc, angles in degrees, y down as on screen."""
    return [(cx + rx * math.cos(math.radians(a0 + (a1 - a0) * i / n)),
             cy + ry * math.sin(math.radians(a0 + (a1 - a0) * i / n))) for i in range(n + 1)]


# ---- a small stroke alphabet: each glyph is a list of polylines in a 0..1 x 0..1 cell -------

GLYPHS = {
    "Z": [[(0.05, 0.0), (0.95, 0.0), (0.05, 1.0), (0.95, 1.0)]],
    "E": [[(0.9, 0.0), (0.1, 0.0), (0.1, 1.0), (0.9, 1.0)], [(0.1, 0.5), (0.75, 0.5)]],
    "L": [[(0.1, 0.0), (0.1, 1.0), (0.9, 1.0)]],
    "T": [[(0.0, 0.0), (1.0, 0.0)], [(0.5, 0.0), (0.5, 1.0)]],
    "O": [arc_points(0.5, 0.5, 0.45, 0.5, 0, 360, 32)],
    "N": [[(0.1, 1.0), (0.1, 0.0), (0.9, 1.0), (0.9, 0.0)]],
    "R": [[(0.1, 1.0), (0.1, 0.0), (0.6, 0.0)] + arc_points(0.6, 0.26, 0.3, 0.26, -90, 90, 10)
          + [(0.1, 0.52)], [(0.5, 0.52), (0.9, 1.0)]],
    "I": [[(0.5, 0.0), (0.5, 1.0)]],
    "S": [arc_points(0.5, 0.25, 0.4, 0.25, -30, -270, 14)
          + arc_points(0.5, 0.75, 0.4, 0.25, -90, 150, 14)[1:]],
}


def draw_text(img, text, x, y, height, advance, width, rgb, slant=0.0):
    for ch in text:
        for line in GLYPHS.get(ch, []):
            cell_w = height * 0.62
            pts = [(x + px * cell_w + (1.0 - py) * height * slant, y + py * height)
                   for px, py in line]
            stroke(img, pts, width, rgb)
        x += advance


# ---- the pictures -------------------------------------------------------------------------

NAVY = (0, 0, 128)
RED = (200, 30, 30)


def product_logo():
    # Pale on purpose: the main window's labels lie on top of this picture.
    w, h = 474, 173
    img = Image(w, h)
    for y in range(h):
        for x in range(w):
            t = x / (w - 1)
            shade = (255 - 14 * t, 255 - 8 * t, 255)
            img.px[y * w + x] = [shade[0], shade[1], shade[2], 255]
    # Radar waves spreading from the lower right corner.
    cx, cy = 470, 196
    for i, r in enumerate(range(40, 520, 34)):
        ring_sector(img, cx, cy, r, r + 7, 95, 178, (120, 150, 215), 0.22 - i * 0.01)
    # A thin navy rule along the bottom edge and a pale red accent above it.
    img.fill(lambda x, y: True, (0, h - 5, w - 1, h - 1), NAVY, 0.55)
    img.fill(lambda x, y: True, (0, h - 9, w - 1, h - 7), (230, 60, 60), 0.35)
    # A small sensor drawing at the far right (mostly beyond the window's edge).
    fill_round_rect(img, 408, 14, 458, 54, 8, (150, 165, 200), 0.45)
    fill_ellipse(img, 433, 34, 11, 11, (235, 90, 90), 0.6)
    return img


def maker_logo():
    # The About box's text starts 12 pixels above the picture's lower edge, so the drawing
    # keeps to the upper 48 rows and leaves the rest white.
    w, h = 197, 64
    img = Image(w, h)
    # Badge: a red rounded square with a white stylised Z and a wave.
    fill_round_rect(img, 4, 3, 48, 47, 9, RED)
    stroke(img, [(15, 14), (37, 14), (15, 36), (37, 36)], 5, (255, 255, 255))
    ring_sector(img, 26, 25, 25, 27.5, -40, 40, (255, 255, 255))
    # Name.
    draw_text(img, "ZELTO", 58, 4, 22, 22, 3.8, NAVY, slant=0.12)
    img.fill(lambda x, y: True, (58, 31, 170, 32), NAVY, 0.6)
    draw_text(img, "SENSORI", 59, 36, 10, 12.6, 1.8, RED)
    return img


def icon(size):
    s = size / 16.0
    # Colours are drawn on an opaque badge so blending has a colour to work on; the alpha
    # channel comes from the rounded outline drawn separately.
    badge = Image(size, size, (255, 255, 255))
    fill_round_rect(badge, 0.5 * s, 0.5 * s, 15.5 * s, 15.5 * s, 3 * s, NAVY)
    ring_sector(badge, 3 * s, 13 * s, 4.5 * s, 6.2 * s, 0, 90, (255, 255, 255))
    ring_sector(badge, 3 * s, 13 * s, 8.3 * s, 10.0 * s, 0, 90, (255, 255, 255))
    fill_ellipse(badge, 3.5 * s, 12.5 * s, 2.3 * s, 2.3 * s, (255, 60, 60))
    mask = Image(size, size, (0, 0, 0))
    fill_round_rect(mask, 0.5 * s, 0.5 * s, 15.5 * s, 15.5 * s, 3 * s, (255, 255, 255))
    for i in range(size * size):
        badge.px[i][3] = mask.px[i][0]
    return badge


def ring_sector_path(cx, cy, r_in, r_out):
    """SVG path of the quarter annulus from 3 o'clock to 12 o'clock, as ring_sector draws it."""
    return (f"M {cx + r_out:g} {cy:g} A {r_out:g} {r_out:g} 0 0 0 {cx:g} {cy - r_out:g} "
            f"L {cx:g} {cy - r_in:g} A {r_in:g} {r_in:g} 0 0 1 {cx + r_in:g} {cy:g} Z")


def icon_svg():
    """The icon of icon() on its 16-unit grid, for any size."""
    navy = "#%02x%02x%02x" % NAVY
    return f"""<?xml version="1.0" encoding="UTF-8"?>
<!-- SPDX-License-Identifier: MIT -->
<svg xmlns="http://www.w3.org/2000/svg" width="128" height="128" viewBox="0 0 16 16">
  <defs>
    <clipPath id="badge"><rect x="0.5" y="0.5" width="15" height="15" rx="3"/></clipPath>
  </defs>
  <rect x="0.5" y="0.5" width="15" height="15" rx="3" fill="{navy}"/>
  <g clip-path="url(#badge)" fill="#ffffff">
    <path d="{ring_sector_path(3, 13, 4.5, 6.2)}"/>
    <path d="{ring_sector_path(3, 13, 8.3, 10.0)}"/>
  </g>
  <circle cx="3.5" cy="12.5" r="2.3" fill="#ff3c3c"/>
</svg>
"""


def main():
    product_logo().write_png(os.path.join(HERE, "product_logo.png"))
    maker_logo().write_png(os.path.join(HERE, "maker_logo.png"))
    icon(16).write_png(os.path.join(HERE, "window_icon.png"))
    icons = os.path.join(HERE, "..", "icons", "hicolor")
    for size in (16, 32, 48, 128):
        folder = os.path.join(icons, f"{size}x{size}", "apps")
        os.makedirs(folder, exist_ok=True)
        icon(size).write_png(os.path.join(folder, "zeltosoft.png"))
    folder = os.path.join(icons, "scalable", "apps")
    os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, "zeltosoft.svg"), "w", encoding="utf-8") as f:
        f.write(icon_svg())


if __name__ == "__main__":
    main()
