#!/usr/bin/env python3
"""Draws the upgrade tool's pictures: the dialog banner and the program icon.

Run from anywhere (Python 3, standard library only):

    python3 tools/art/make_art.py            # writes the banners and app/res/upgrade_tool.ico
    python3 tools/art/make_art.py --out DIR  # writes them into DIR instead

The output is deterministic: the same script always writes the same bytes, so
the generated files are committed and rebuilt only when the drawing changes.

Everything is drawn from vector shapes (polygons, arcs, stroked polylines)
with a small scanline rasterizer: each pixel row is sampled on 16 sub-rows,
and every sub-row's spans are accumulated with exact horizontal coverage, so
edges are antialiased without any imaging library. The wordmark's letters are
built from the same shapes (stems, diagonals and elliptic bowls).

Banner: 421 x 55 pixels, 24 bits per pixel, BI_RGB, bottom-up (the dialog
shows it across its whole width above a white band), drawn again from the
same shapes at 150 % (banner150.bmp, 632 x 82) and 200 % (banner200.bmp,
842 x 110) for screens of higher DPI, so that the program only ever scales
a banner down to the size it needs.
Icon: one group with 48, 32, 24 and 16 pixel images, 32 bits per pixel with
alpha, stored as BMP entries with an AND mask (not PNG), which every Windows
version and every resource compiler accepts.
"""

import argparse
import math
import os
import struct

SUB_ROWS = 16

# ---------------------------------------------------------------------------
# Geometry helpers. Contours are lists of (x, y) points in pixel space, y down.
# Every filled shape is a list of contours rendered with the non-zero rule, so
# shapes built from overlapping pieces of one orientation form their union.
# ---------------------------------------------------------------------------


def signed_area(poly):
    a = 0.0
    for i in range(len(poly)):
        x0, y0 = poly[i]
        x1, y1 = poly[(i + 1) % len(poly)]
        a += x0 * y1 - x1 * y0
    return a / 2.0


def oriented(poly, positive=True):
    """The contour with a fixed winding, so that unions add up."""
    if (signed_area(poly) > 0) != positive:
        return list(reversed(poly))
    return list(poly)


def clip_half_plane(poly, inside, intersect):
    out = []
    n = len(poly)
    for i in range(n):
        cur = poly[i]
        prev = poly[i - 1]
        if inside(cur):
            if not inside(prev):
                out.append(intersect(prev, cur))
            out.append(cur)
        elif inside(prev):
            out.append(intersect(prev, cur))
    return out


def clip_y(poly, ymin=None, ymax=None):
    def at_y(y):
        def f(p, q):
            t = (y - p[1]) / (q[1] - p[1])
            return (p[0] + t * (q[0] - p[0]), y)
        return f
    if ymin is not None:
        poly = clip_half_plane(poly, lambda p: p[1] >= ymin, at_y(ymin))
    if ymax is not None and poly:
        poly = clip_half_plane(poly, lambda p: p[1] <= ymax, at_y(ymax))
    return poly


def clip_x(poly, xmin=None, xmax=None):
    def at_x(x):
        def f(p, q):
            t = (x - p[0]) / (q[0] - p[0])
            return (x, p[1] + t * (q[1] - p[1]))
        return f
    if xmin is not None:
        poly = clip_half_plane(poly, lambda p: p[0] >= xmin, at_x(xmin))
    if xmax is not None and poly:
        poly = clip_half_plane(poly, lambda p: p[0] <= xmax, at_x(xmax))
    return poly


def cubic(p0, p1, p2, p3, steps=24):
    pts = []
    for i in range(1, steps + 1):
        t = i / steps
        u = 1 - t
        pts.append((u * u * u * p0[0] + 3 * u * u * t * p1[0] + 3 * u * t * t * p2[0] + t * t * t * p3[0],
                    u * u * u * p0[1] + 3 * u * u * t * p1[1] + 3 * u * t * t * p2[1] + t * t * t * p3[1]))
    return pts


def ellipse_arc(cx, cy, rx, ry, a0, a1, steps):
    """Points of an elliptic arc in a y-up frame (angles in degrees)."""
    return [(cx + rx * math.cos(math.radians(a0 + (a1 - a0) * i / steps)),
             cy + ry * math.sin(math.radians(a0 + (a1 - a0) * i / steps))) for i in range(steps + 1)]


def line_intersection(p, d, q, e):
    """Intersection of the lines p + t d and q + s e."""
    den = d[0] * e[1] - d[1] * e[0]
    if abs(den) < 1e-12:
        return None
    t = ((q[0] - p[0]) * e[1] - (q[1] - p[1]) * e[0]) / den
    return (p[0] + t * d[0], p[1] + t * d[1])


def stroke(points, width, closed=False):
    """Outline of a polyline stroked with butt ends and mitred joins."""
    half = width / 2.0
    n = len(points)

    def seg_normal(a, b):
        dx, dy = b[0] - a[0], b[1] - a[1]
        length = math.hypot(dx, dy)
        return (-dy / length, dx / length), (dx, dy)

    segs = [(points[i], points[i + 1]) for i in range(n - 1)]
    if closed:
        segs.append((points[-1], points[0]))

    def offset_side(sign):
        lines = []
        for a, b in segs:
            nrm, d = seg_normal(a, b)
            lines.append(((a[0] + sign * half * nrm[0], a[1] + sign * half * nrm[1]), d))
        pts = []
        if not closed:
            pts.append(lines[0][0])
        for i in range(len(lines) if closed else len(lines) - 1):
            l0 = lines[i]
            l1 = lines[(i + 1) % len(lines)]
            p = line_intersection(l0[0], l0[1], l1[0], l1[1])
            pts.append(p if p is not None else l1[0])
        if not closed:
            last_p, last_d = lines[-1]
            pts.append((last_p[0] + last_d[0], last_p[1] + last_d[1]))
        return pts

    left = offset_side(1)
    right = offset_side(-1)
    if closed:
        return [oriented(left), oriented(right, False)]
    return [oriented(left + list(reversed(right)))]


# ---------------------------------------------------------------------------
# Rasterizer: coverage (0..1) per pixel of a set of contours.
# ---------------------------------------------------------------------------


def coverage(contours, width, height):
    edges = []
    for c in contours:
        n = len(c)
        for i in range(n):
            x0, y0 = c[i]
            x1, y1 = c[(i + 1) % n]
            if y0 == y1:
                continue
            d = 1
            if y0 > y1:
                x0, y0, x1, y1 = x1, y1, x0, y0
                d = -1
            edges.append((y0, y1, x0, (x1 - x0) / (y1 - y0), d))
    cov = [0.0] * (width * height)
    if not edges:
        return cov
    ymin = max(0, int(math.floor(min(e[0] for e in edges))))
    ymax = min(height, int(math.ceil(max(e[1] for e in edges))))
    scale = 1.0 / SUB_ROWS
    for py in range(ymin, ymax):
        row_edges = [e for e in edges if e[0] < py + 1 and e[1] > py]
        row = [0.0] * (width + 1)
        for s in range(SUB_ROWS):
            y = py + (s + 0.5) * scale
            xs = sorted((x0 + (y - y0) * k, d) for (y0, y1, x0, k, d) in row_edges if y0 <= y < y1)
            wind = 0
            start = 0.0
            for x, d in xs:
                before = wind
                wind += d
                if before == 0 and wind != 0:
                    start = x
                elif before != 0 and wind == 0:
                    add_span(row, start, x, width)
        base = py * width
        for px in range(width):
            v = row[px] * scale
            cov[base + px] = 1.0 if v > 1.0 else v
    return cov


def add_span(row, a, b, width):
    a = max(0.0, min(float(width), a))
    b = max(0.0, min(float(width), b))
    if b <= a:
        return
    ia, ib = int(a), int(b)
    if ia == ib:
        row[ia] += b - a
        return
    row[ia] += ia + 1 - a
    for i in range(ia + 1, ib):
        row[i] += 1.0
    if ib < width:
        row[ib] += b - ib


# ---------------------------------------------------------------------------
# Images: lists of [r, g, b, a] floats (0..1), straight alpha.
# ---------------------------------------------------------------------------


class Image:
    def __init__(self, width, height, fill=(0.0, 0.0, 0.0, 0.0)):
        self.width = width
        self.height = height
        self.px = [list(fill) for _ in range(width * height)]

    def paint(self, contours, color, opacity=1.0):
        """color: an (r, g, b) tuple or a function (x, y) -> (r, g, b);
        opacity: a number or a function (x, y) -> 0..1."""
        cov = coverage(contours, self.width, self.height)
        for i, c in enumerate(cov):
            if c <= 0.0:
                continue
            x, y = i % self.width, i // self.width
            rgb = color(x + 0.5, y + 0.5) if callable(color) else color
            alpha = opacity(x + 0.5, y + 0.5) if callable(opacity) else opacity
            self.blend(i, rgb, c * alpha)

    def blend(self, i, rgb, a):
        dst = self.px[i]
        da = dst[3]
        oa = a + da * (1 - a)
        if oa <= 0:
            return
        for k in range(3):
            dst[k] = (rgb[k] * a + dst[k] * da * (1 - a)) / oa
        dst[3] = oa


class ScaledImage(Image):
    """An image drawn in the coordinates of a smaller one: every contour and
    every colour function works in the 100 % pixel space."""

    def __init__(self, width, height, scale):
        super().__init__(round(width * scale), round(height * scale))
        self.scale = scale

    def paint(self, contours, color, opacity=1.0):
        s = self.scale
        scaled = [[(x * s, y * s) for x, y in c] for c in contours]
        col = (lambda x, y: color(x / s, y / s)) if callable(color) else color
        opa = (lambda x, y: opacity(x / s, y / s)) if callable(opacity) else opacity
        Image.paint(self, scaled, col, opa)


def hex_rgb(h):
    return tuple(int(h[i:i + 2], 16) / 255.0 for i in (1, 3, 5))


def mix(c0, c1, t):
    t = max(0.0, min(1.0, t))
    return tuple(a + (b - a) * t for a, b in zip(c0, c1))


def smooth(t):
    t = max(0.0, min(1.0, t))
    return t * t * (3 - 2 * t)


def to_byte(v):
    return max(0, min(255, int(round(v * 255))))


# ---------------------------------------------------------------------------
# The shield emblem.
# ---------------------------------------------------------------------------


def shield_outline(x, y, w, h):
    """A shield with raised shoulders, straight sides and a pointed base."""
    top_side = y + 0.13 * h
    side_end = y + 0.52 * h
    cx = x + w / 2
    pts = [(x, top_side)]
    # Left shoulder rising to the crest, then down to the right shoulder.
    pts += cubic((x, top_side), (x + 0.22 * w, top_side), (x + 0.36 * w, y + 0.02 * h), (cx, y))
    pts += cubic((cx, y), (x + 0.64 * w, y + 0.02 * h), (x + 0.78 * w, top_side), (x + w, top_side))
    pts.append((x + w, side_end))
    pts += cubic((x + w, side_end), (x + w, y + 0.78 * h), (x + 0.74 * w, y + 0.91 * h), (cx, y + h))
    pts += cubic((cx, y + h), (x + 0.26 * w, y + 0.91 * h), (x, y + 0.78 * h), (x, side_end))
    return oriented(pts)


def check_mark(x, y, w, h, width):
    """The check inside a shield box (x, y, w, h)."""
    pts = [(x + 0.27 * w, y + 0.50 * h), (x + 0.44 * w, y + 0.655 * h), (x + 0.75 * w, y + 0.33 * h)]
    return stroke(pts, width)


def draw_shield(img, x, y, w, h, rim, rim_color, inner_light, inner_dark, check_width, check_color=(1, 1, 1)):
    outer = [shield_outline(x, y, w, h)]
    img.paint(outer, rim_color)
    ix, iy, iw, ih = x + rim, y + rim * 1.15, w - 2 * rim, h - rim * 2.75
    inner = shield_outline(ix, iy, iw, ih)
    cx = x + w / 2

    def inner_fill(px, py):
        t = (py - iy) / ih
        if px < cx:
            return mix(inner_light, mix(inner_light, inner_dark, 0.45), t)
        return mix(mix(inner_light, inner_dark, 0.55), inner_dark, t)

    img.paint([inner], inner_fill)
    img.paint(check_mark(x, y, w, h, check_width), check_color)


# ---------------------------------------------------------------------------
# The wordmark. Glyphs are designed on a cap height of 100 units, y up from the
# baseline; a glyph is a list of contours in those units.
# ---------------------------------------------------------------------------

STEM = 17.0      # vertical stems
THIN = 15.0      # tops and bottoms of bowls (optically thinner)
XH = 72.0        # x-height


def rect(x0, y0, x1, y1):
    return oriented([(x0, y0), (x1, y0), (x1, y1), (x0, y1)])


def bar(p, q, width, ymin=None, ymax=None, xmin=None):
    """A straight stroke from p to q with butt ends, optionally clipped."""
    poly = stroke([p, q], width)[0]
    poly = clip_y(poly, ymin, ymax)
    if xmin is not None:
        poly = clip_x(poly, xmin)
    return oriented(poly)


def ring(cx, cy, rx, ry, rxi, ryi):
    return [oriented(ellipse_arc(cx, cy, rx, ry, 0, 360, 96)[:-1]),
            oriented(ellipse_arc(cx, cy, rxi, ryi, 0, 360, 96)[:-1], False)]


def ring_arc(cx, cy, rx, ry, rxi, ryi, a0, a1):
    steps = max(8, int(abs(a1 - a0) / 4))
    outer = ellipse_arc(cx, cy, rx, ry, a0, a1, steps)
    inner = ellipse_arc(cx, cy, rxi, ryi, a1, a0, steps)
    return oriented(outer + inner)


def glyph_K():
    return [rect(0, 0, STEM, 100),
            bar((10, 28), (66, 104), 18.5, ymax=100, xmin=STEM / 2),
            bar((31, 58), (76, -6), 19.5, ymin=0)]


def glyph_hyphen():
    return [rect(3, 33, 37, 48)]


def glyph_V():
    slope = 0.30
    wh = 19.0 * math.sqrt(1 + slope * slope)
    width = 80.0
    apex_t = (width - 2 * wh) / (2 * slope)
    poly = [(30, 0), (50, 0), (width, 100), (width - wh, 100), (width / 2, 100 - apex_t), (wh, 100), (0, 100)]
    return [oriented(poly)]


def glyph_a():
    return ring(34, 36, 34, 37.5, 34 - STEM, 37.5 - THIN) + [rect(52, 0, 69, XH)]


def glyph_n():
    return [rect(0, 0, STEM, XH),
            ring_arc(31, 36, 31, 37.5, 31 - STEM, 37.5 - THIN, 0, 180),
            rect(62 - STEM, 0, 62, 36)]


def glyph_t():
    return [rect(9, 0, 9 + STEM, 92), rect(0, XH - THIN, 40, XH)]


def glyph_o():
    return ring(37, 36, 37, 37.5, 37 - STEM, 37.5 - THIN)


def glyph_r():
    return [rect(0, 0, STEM, XH), ring_arc(35, 36, 35, 37.5, 35 - STEM, 37.5 - THIN, 58, 180)]


def glyph_N(stem):
    return [rect(0, 0, stem, 100), rect(76 - stem, 0, 76, 100),
            oriented([(0, 100), (stem + 5, 100), (76, 0), (76 - stem - 5, 0)])]


def glyph_X(stem):
    w = 76.0
    d = stem * 1.25
    return [oriented([(0, 100), (d, 100), (w, 0), (w - d, 0)]),
            oriented([(w - d, 100), (w, 100), (d, 0), (0, 0)])]


def place(glyphs, x0, baseline, cap_px):
    """Glyph contours (units) to pixel contours; glyphs: [(contours, x_units)]."""
    s = cap_px / 100.0
    out = []
    for contours, gx in glyphs:
        for c in contours:
            out.append([(x0 + (gx + u) * s, baseline - v * s) for u, v in c])
    return out


def wordmark():
    # Advance positions tuned by eye: straight sides get more room than round ones.
    return [(glyph_K(), 0), (glyph_hyphen(), 82), (glyph_V(), 124), (glyph_a(), 199),
            (glyph_n(), 282), (glyph_t(), 354), (glyph_o(), 398), (glyph_r(), 486)]


WORDMARK_UNITS = 486 + 52


# ---------------------------------------------------------------------------
# Banner
# ---------------------------------------------------------------------------

BANNER_W, BANNER_H = 421, 55

NAVY = hex_rgb("#0a2358")
BLUE = hex_rgb("#0d4a93")
TEAL = hex_rgb("#0b8796")
ACCENT_L = hex_rgb("#1fb6e8")
ACCENT_R = hex_rgb("#47dcc0")


def banner_background(x, y):
    # A diagonal blue-to-teal sweep, darkest at the left where the emblem sits.
    t = (x + (BANNER_H - y) * 0.9) / (BANNER_W + BANNER_H * 0.9)
    if t < 0.42:
        c = mix(NAVY, BLUE, smooth(t / 0.42))
    else:
        c = mix(BLUE, TEAL, smooth((t - 0.42) / 0.38))
    # A soft glow behind the emblem.
    d = math.hypot((x - 34) / 70.0, (y - 27) / 40.0)
    glow = max(0.0, 1.0 - d) ** 2 * 0.35
    c = mix(c, hex_rgb("#2a78d0"), glow)
    # A faint darkening towards the top edge gives the band some depth.
    c = mix(c, (0, 0, 0), 0.10 * (1 - y / BANNER_H))
    # Both ends settle on one flat colour: where the dialog is wider than the
    # bitmap (other fonts, higher DPI), the centring static control fills its
    # margins with the bitmap's top-left pixel, and the banner then runs on
    # seamlessly into them.
    return mix(EDGE, c, edge_weight(x))


def edge_weight(x):
    return smooth(x / LEFT_RAMP) * smooth((BANNER_W - x) / RIGHT_RAMP)


EDGE = mix(hex_rgb("#0a2358"), (0, 0, 0), 0.12)
LEFT_RAMP = 14.0
RIGHT_RAMP = 120.0


def wave_lines():
    """Light flowing lines across the right part of the banner."""
    lines = []
    start = WAVE_START - 40
    for k in range(7):
        pts = []
        phase = k * 0.5
        amp = 4.0 + k * 1.1
        base = 10 + k * 5.5
        for i in range(0, 81):
            x = start + i * (BANNER_W + 10 - start) / 80.0
            u = (x - start) / (BANNER_W - start)
            y = base + amp * math.sin(u * 4.6 + phase) + u * 7 - 3
            pts.append((x, y))
        strength = 0.10 + 0.02 * k

        def fade(x, _y, strength=strength):
            # The lines rise out of the background to the right of the name.
            return strength * smooth((x - start) / (WAVE_START + 50 - start)) * edge_weight(x)

        lines.append((stroke(pts, 1.0), fade))
    return lines


WAVE_START = 262


def make_banner(scale=1.0):
    img = ScaledImage(BANNER_W, BANNER_H, scale)
    for i in range(img.width * img.height):
        x, y = i % img.width, i // img.width
        img.px[i] = list(banner_background((x + 0.5) / scale, (y + 0.5) / scale)) + [1.0]

    for contours, opacity in wave_lines():
        img.paint(contours, (1, 1, 1), opacity)

    # Emblem, vertically centred above the accent line.
    sw, sh = 33.0, 39.0
    sx, sy = 15.0, 6.5
    # A soft shadow under the shield lifts it off the background.
    img.paint([shield_outline(sx + 0.8, sy + 1.6, sw, sh)], (0.0, 0.03, 0.12), 0.35)
    draw_shield(img, sx, sy, sw, sh, rim=2.4, rim_color=hex_rgb("#f4f8fc"),
                inner_light=hex_rgb("#2fa3e6"), inner_dark=hex_rgb("#0c58b0"), check_width=4.3)

    cap = 22.0
    baseline = 38.5
    x0 = 62.0
    img.paint(place(wordmark(), x0, baseline, cap), (1, 1, 1))

    # The product line, set lighter in the accent colour after the name.
    nx_x = x0 + (WORDMARK_UNITS + 34) * cap / 100.0
    nx = [(glyph_N(14.0), 0), (glyph_X(14.0), 88)]
    img.paint(place(nx, nx_x, baseline, cap), hex_rgb("#6fe3e8"))

    # A thin accent line closes the banner above the white band of the dialog.
    accent = [rect(0, BANNER_H - 2, BANNER_W, BANNER_H)]

    def accent_color(x, _y):
        return mix(ACCENT_L, ACCENT_R, x / BANNER_W)

    def accent_opacity(x, _y):
        # Faded out at both ends, like the background, into the margin colour.
        return smooth(min(x, BANNER_W - x) / 60.0)

    img.paint(accent, accent_color, accent_opacity)
    return img


# The file of each drawing scale; the resource script gives each its id.
BANNERS = (("banner.bmp", 1.0), ("banner150.bmp", 1.5), ("banner200.bmp", 2.0))


def bmp_bytes(img):
    row_size = (img.width * 3 + 3) & ~3
    pixels = bytearray()
    for y in range(img.height - 1, -1, -1):
        row = bytearray()
        for x in range(img.width):
            r, g, b, _a = img.px[y * img.width + x]
            row += bytes((to_byte(b), to_byte(g), to_byte(r)))
        row += b"\0" * (row_size - len(row))
        pixels += row
    info = struct.pack("<IiiHHIIiiII", 40, img.width, img.height, 1, 24, 0, len(pixels), 3780, 3780, 0, 0)
    header = struct.pack("<2sIHHI", b"BM", 14 + len(info) + len(pixels), 0, 0, 14 + len(info))
    return header + info + pixels


# ---------------------------------------------------------------------------
# Icon
# ---------------------------------------------------------------------------

ICON_SIZES = (48, 32, 24, 16)


def make_icon_image(size):
    img = Image(size, size)
    # Pixel-aligned boxes per size keep the straight sides on whole pixels.
    boxes = {48: (5.0, 2.5, 38.0, 44.0, 2.5, 5.6),
             32: (3.0, 1.5, 26.0, 29.5, 2.0, 4.0),
             24: (2.0, 1.0, 20.0, 22.5, 1.5, 3.2),
             16: (1.0, 0.5, 14.0, 15.2, 1.0, 2.3)}
    x, y, w, h, rim, check = boxes[size]
    draw_shield(img, x, y, w, h, rim=rim, rim_color=hex_rgb("#0a2a66"),
                inner_light=hex_rgb("#35aef0"), inner_dark=hex_rgb("#0f5fbf"), check_width=check)
    return img


def ico_entry(img):
    w, h = img.width, img.height
    xor = bytearray()
    mask = bytearray()
    mask_row = ((w + 31) // 32) * 4
    for y in range(h - 1, -1, -1):
        bits = bytearray(mask_row)
        for x in range(w):
            r, g, b, a = img.px[y * w + x]
            ab = to_byte(a)
            if ab == 0:
                xor += b"\0\0\0\0"
                bits[x // 8] |= 0x80 >> (x % 8)
            else:
                xor += bytes((to_byte(b), to_byte(g), to_byte(r), ab))
        mask += bits
    info = struct.pack("<IiiHHIIiiII", 40, w, h * 2, 1, 32, 0, len(xor) + len(mask), 0, 0, 0, 0)
    return info + xor + mask


def ico_bytes(images):
    entries = [ico_entry(img) for img in images]
    header = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    directory = bytearray()
    for img, data in zip(images, entries):
        directory += struct.pack("<BBBBHHII", img.width % 256, img.height % 256, 0, 0, 1, 32, len(data), offset)
        offset += len(data)
    return header + directory + b"".join(entries)


def main():
    root = os.path.normpath(os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", ".."))
    parser = argparse.ArgumentParser(description="Draws the banner bitmap and the program icon.")
    parser.add_argument("--out", default=os.path.join(root, "app", "res"), help="output folder")
    args = parser.parse_args()
    os.makedirs(args.out, exist_ok=True)
    for name, scale in BANNERS:
        with open(os.path.join(args.out, name), "wb") as f:
            f.write(bmp_bytes(make_banner(scale)))
    with open(os.path.join(args.out, "upgrade_tool.ico"), "wb") as f:
        f.write(ico_bytes([make_icon_image(s) for s in ICON_SIZES]))


if __name__ == "__main__":
    main()
