#!/usr/bin/env python3
"""Draws Velmora's seven icons and writes them as .ico files.

The artwork lives here as geometry (discs, rings, polygons, strokes, arcs) on a
32 x 32 canvas whose coordinates run from 0 to 32, y downwards.  Each pixel is
supersampled, so edges come out anti-aliased.  Every icon file holds a single
32 x 32 image, 32-bit BGRA with an AND mask, in the BITMAPINFOHEADER form that
every Windows version and Wine can read.

Usage: make_icons.py [preview.png]
Writes the .ico files beside this script; with an argument it also writes a
preview sheet (each icon magnified, and at actual size over grey, white
and dark).
Standard library only.
"""

import math
import os
import struct
import sys
import zlib

SIZE = 32
SUPERSAMPLE = 8  # samples per pixel along each axis


# ---------------------------------------------------------------------------
# Shapes: each is (bounding box, inside(x, y) -> bool).

def disc(cx, cy, r):
    r2 = r * r
    return ((cx - r, cy - r, cx + r, cy + r),
            lambda x, y: (x - cx) ** 2 + (y - cy) ** 2 <= r2)


def ring(cx, cy, r_out, r_in):
    o2, i2 = r_out * r_out, r_in * r_in
    return ((cx - r_out, cy - r_out, cx + r_out, cy + r_out),
            lambda x, y: i2 <= (x - cx) ** 2 + (y - cy) ** 2 <= o2)


def _segment_distance2(x, y, x1, y1, x2, y2):
    dx, dy = x2 - x1, y2 - y1
    length2 = dx * dx + dy * dy
    t = 0.0 if length2 == 0 else max(0.0, min(1.0, ((x - x1) * dx + (y - y1) * dy) / length2))
    px, py = x1 + t * dx - x, y1 + t * dy - y
    return px * px + py * py


def stroke(points, width):
    """A polyline of the given width with round caps and joins."""
    h = width / 2.0
    h2 = h * h
    segments = list(zip(points, points[1:])) or [(points[0], points[0])]
    xs = [p[0] for p in points]
    ys = [p[1] for p in points]

    def inside(x, y):
        for (x1, y1), (x2, y2) in segments:
            if _segment_distance2(x, y, x1, y1, x2, y2) <= h2:
                return True
        return False
    return ((min(xs) - h, min(ys) - h, max(xs) + h, max(ys) + h), inside)


def polygon(points, rounding=0.0):
    """Even-odd fill; with rounding the outline is grown by that radius."""
    n = len(points)
    edges = [(points[i], points[(i + 1) % n]) for i in range(n)]
    r2 = rounding * rounding
    xs = [p[0] for p in points]
    ys = [p[1] for p in points]

    def inside(x, y):
        crossing = False
        for (x1, y1), (x2, y2) in edges:
            if (y1 > y) != (y2 > y):
                if x < x1 + (y - y1) * (x2 - x1) / (y2 - y1):
                    crossing = not crossing
        if crossing:
            return True
        if rounding > 0:
            for (x1, y1), (x2, y2) in edges:
                if _segment_distance2(x, y, x1, y1, x2, y2) <= r2:
                    return True
        return False
    return ((min(xs) - rounding, min(ys) - rounding,
             max(xs) + rounding, max(ys) + rounding), inside)


def arc(cx, cy, r, width, start_deg, end_deg, round_caps=False):
    """A stroked arc; angles in degrees, clockwise on screen from 3 o'clock."""
    h = width / 2.0
    lo2, hi2 = (r - h) ** 2, (r + h) ** 2
    span = (end_deg - start_deg) % 360.0
    caps = []
    if round_caps:
        for a in (start_deg, end_deg):
            caps.append((cx + r * math.cos(math.radians(a)), cy + r * math.sin(math.radians(a))))
    hh = h * h

    def inside(x, y):
        d2 = (x - cx) ** 2 + (y - cy) ** 2
        if lo2 <= d2 <= hi2:
            a = (math.degrees(math.atan2(y - cy, x - cx)) - start_deg) % 360.0
            if a <= span:
                return True
        for px, py in caps:
            if (x - px) ** 2 + (y - py) ** 2 <= hh:
                return True
        return False
    return ((cx - r - h, cy - r - h, cx + r + h, cy + r + h), inside)


def union(*shapes):
    boxes = [s[0] for s in shapes]
    tests = [s[1] for s in shapes]
    return ((min(b[0] for b in boxes), min(b[1] for b in boxes),
             max(b[2] for b in boxes), max(b[3] for b in boxes)),
            lambda x, y: any(t(x, y) for t in tests))


def intersect(shape, other):
    box, inside = shape
    _, also = other
    return (box, lambda x, y: inside(x, y) and also(x, y))


def on_circle(cx, cy, r, deg):
    a = math.radians(deg)
    return (cx + r * math.cos(a), cy + r * math.sin(a))


# ---------------------------------------------------------------------------
# Paint: a solid colour (r, g, b[, a]) with components 0..255 (alpha 0..1),
# or a function of the pixel centre returning such a colour.

def hexcolor(text, alpha=1.0):
    text = text.lstrip('#')
    return (int(text[0:2], 16), int(text[2:4], 16), int(text[4:6], 16), alpha)


def mix(c1, c2, t):
    t = max(0.0, min(1.0, t))
    return tuple(a + (b - a) * t for a, b in zip(c1, c2))


def linear(c1, c2, x1, y1, x2, y2):
    dx, dy = x2 - x1, y2 - y1
    length2 = dx * dx + dy * dy

    def paint(x, y):
        return mix(c1, c2, ((x - x1) * dx + (y - y1) * dy) / length2)
    return paint


def radial(c_inner, c_outer, cx, cy, r):
    def paint(x, y):
        return mix(c_inner, c_outer, math.hypot(x - cx, y - cy) / r)
    return paint


# ---------------------------------------------------------------------------
# Canvas: premultiplied RGBA floats, 0..1.

def new_canvas():
    return [[0.0, 0.0, 0.0, 0.0] for _ in range(SIZE * SIZE)]


_OFFSETS = [(i + 0.5) / SUPERSAMPLE for i in range(SUPERSAMPLE)]


def fill(canvas, shape, paint, opacity=1.0):
    (x0, y0, x1, y1), inside = shape
    px0, py0 = max(0, int(math.floor(x0))), max(0, int(math.floor(y0)))
    px1, py1 = min(SIZE - 1, int(math.ceil(x1))), min(SIZE - 1, int(math.ceil(y1)))
    total = SUPERSAMPLE * SUPERSAMPLE
    for py in range(py0, py1 + 1):
        for px in range(px0, px1 + 1):
            hits = 0
            for oy in _OFFSETS:
                y = py + oy
                for ox in _OFFSETS:
                    if inside(px + ox, y):
                        hits += 1
            if not hits:
                continue
            colour = paint(px + 0.5, py + 0.5) if callable(paint) else paint
            r, g, b = colour[0] / 255.0, colour[1] / 255.0, colour[2] / 255.0
            a = (colour[3] if len(colour) > 3 else 1.0) * opacity * hits / total
            dst = canvas[py * SIZE + px]
            keep = 1.0 - a
            dst[0] = r * a + dst[0] * keep
            dst[1] = g * a + dst[1] * keep
            dst[2] = b * a + dst[2] * keep
            dst[3] = a + dst[3] * keep


def to_rgba8(canvas):
    """Straight (not premultiplied) 8-bit RGBA rows, top row first."""
    rows = []
    for py in range(SIZE):
        row = []
        for px in range(SIZE):
            r, g, b, a = canvas[py * SIZE + px]
            a8 = int(round(a * 255))
            if a8 == 0:
                row.append((0, 0, 0, 0))
            else:
                row.append((min(255, int(round(r / a * 255))),
                            min(255, int(round(g / a * 255))),
                            min(255, int(round(b / a * 255))), a8))
        rows.append(row)
    return rows


# ---------------------------------------------------------------------------
# The artwork.

WHITE = (255, 255, 255, 1.0)


def badge_disc(canvas, cx, cy, r, light, dark, rim):
    """A glossy disc: gradient body, darker rim, soft highlight."""
    fill(canvas, disc(cx, cy, r), rim)
    fill(canvas, disc(cx, cy, r - 1.1), radial(light, dark, cx - r * 0.35, cy - r * 0.45, r * 1.7))
    fill(canvas, intersect(disc(cx, cy - r * 0.28, r * 0.72), disc(cx, cy, r - 1.6)),
         linear((255, 255, 255, 0.45), (255, 255, 255, 0.0), cx, cy - r, cx, cy + r * 0.1))


def draw_program():
    """A magnifier looking at a golden key."""
    c = new_canvas()
    lx, ly, lr = 12.5, 12.5, 11.0
    # handle
    fill(c, stroke([(20.5, 20.5), (23.5, 23.5)], 4.6), hexcolor('8a8f98'))
    fill(c, stroke([(23.0, 23.0), (29.2, 29.2)], 5.4), hexcolor('3b2a1e'))
    fill(c, stroke([(23.6, 22.6), (28.8, 27.8)], 1.3), hexcolor('7a5a40', 0.8))
    # glass
    fill(c, disc(lx, ly, lr - 1.5), radial(hexcolor('f4fbff'), hexcolor('a9d3f2'), lx - 3, ly - 3, lr * 1.5))
    # the key seen through the glass
    gold = linear(hexcolor('ffd75a'), hexcolor('c98a10'), 6, 8, 18, 18)
    edge = hexcolor('8a5a00')
    bow = (7.6, 12.5)
    fill(c, disc(bow[0], bow[1], 3.8), edge)
    fill(c, disc(bow[0], bow[1], 3.0), gold)
    fill(c, disc(bow[0], bow[1], 1.25), hexcolor('d8ecfa'))
    fill(c, polygon([(10.6, 11.3), (19.0, 11.3), (19.0, 13.7), (10.6, 13.7)], 0.45), edge)
    fill(c, polygon([(10.6, 11.75), (18.6, 11.75), (18.6, 13.25), (10.6, 13.25)]), gold)
    fill(c, polygon([(14.6, 13.2), (16.0, 13.2), (16.0, 16.4), (14.6, 16.4)], 0.45), edge)
    fill(c, polygon([(14.95, 13.0), (15.65, 13.0), (15.65, 16.1), (14.95, 16.1)]), gold)
    fill(c, polygon([(17.4, 13.2), (18.8, 13.2), (18.8, 15.6), (17.4, 15.6)], 0.45), edge)
    fill(c, polygon([(17.75, 13.0), (18.45, 13.0), (18.45, 15.3), (17.75, 15.3)]), gold)
    # glare on the glass
    fill(c, arc(lx, ly, lr - 4.0, 1.6, 190, 250, round_caps=True), (255, 255, 255, 0.85))
    # rim
    fill(c, ring(lx, ly, lr, lr - 2.2), linear(hexcolor('9aa3ad'), hexcolor('3c434b'), 3, 3, 22, 22))
    fill(c, ring(lx, ly, lr, lr - 0.7), hexcolor('2e343a'))
    return c


def _outlined_stroke(canvas, points, width, paint, edge, edge_width=0.9):
    fill(canvas, stroke(points, width + 2 * edge_width), edge)
    fill(canvas, stroke(points, width), paint)


def draw_main_window():
    """A handshake with a green check mark."""
    c = new_canvas()
    outline = hexcolor('6e3c1e')
    light = linear(hexcolor('ffe2c4'), hexcolor('f0b27e'), 8, 13, 16, 28)
    dark = linear(hexcolor('dc955c'), hexcolor('a9602f'), 24, 14, 14, 28)
    # sleeves rising from the lower corners, with white cuffs
    fill(c, polygon([(-4.0, 26.0), (3.6, 18.4), (10.4, 25.2), (2.8, 32.8)], 0.5),
         linear(hexcolor('5a9be6'), hexcolor('1d4c93'), 2, 20, 6, 30))
    fill(c, polygon([(36.0, 26.0), (28.4, 18.4), (21.6, 25.2), (29.2, 32.8)], 0.5),
         linear(hexcolor('949eab'), hexcolor('3a434e'), 30, 20, 26, 30))
    fill(c, stroke([(3.8, 18.6), (10.2, 25.0)], 2.6), hexcolor('f4f7fb'))
    fill(c, stroke([(28.2, 18.6), (21.8, 25.0)], 2.6), hexcolor('f4f7fb'))
    # the left person's hand, whose back we see
    a_hand = [(5.6, 17.8), (10.0, 15.6), (17.0, 15.2), (20.4, 19.0), (18.0, 26.0), (11.6, 26.4)]
    fill(c, polygon(a_hand, 0.9), outline)
    fill(c, polygon(a_hand, 0.15), light)
    # the right person's hand: the back near the cuff, three fingers across the other hand
    b_hand = [(27.0, 17.6), (22.6, 13.4), (19.6, 16.0), (20.0, 24.4), (22.2, 26.0)]
    fill(c, polygon(b_hand, 0.9), outline)
    fill(c, polygon(b_hand, 0.15), dark)
    for knuckle, tip in [((21.8, 23.8), (16.0, 26.0)), ((22.4, 20.6), (13.8, 23.2)),
                         ((22.6, 17.2), (12.8, 19.8))]:
        _outlined_stroke(c, [knuckle, tip], 3.0, dark, outline, 0.7)
    # the left person's thumb lies across the top
    _outlined_stroke(c, [(7.4, 17.4), (13.0, 14.8), (21.0, 13.8)], 3.0, light, outline, 0.7)
    # check mark badge
    bx, by, br = 25.2, 6.6, 6.0
    fill(c, disc(bx, by, br + 1.2), WHITE)
    badge_disc(c, bx, by, br, hexcolor('6fd66a'), hexcolor('1f8a2a'), hexcolor('176b20'))
    fill(c, stroke([(22.2, 6.8), (24.3, 8.9), (28.3, 4.4)], 2.1), WHITE)
    return c


def draw_success():
    c = new_canvas()
    badge_disc(c, 16, 16, 15.2, hexcolor('74dc6c'), hexcolor('1e8a2c'), hexcolor('16691f'))
    fill(c, stroke([(8.6, 16.6), (13.8, 21.8), (23.6, 10.4)], 4.4), WHITE)
    return c


def draw_warning():
    c = new_canvas()
    corners = [(16.0, 4.8), (28.6, 27.0), (3.4, 27.0)]
    fill(c, polygon(corners, 2.6), hexcolor('b35400'))
    fill(c, polygon(corners, 1.5), linear(hexcolor('ffb347'), hexcolor('f07800'), 16, 3, 16, 29))
    fill(c, stroke([(16.0, 12.0), (16.0, 19.8)], 3.8), WHITE)
    fill(c, disc(16.0, 24.4, 2.2), WHITE)
    return c


def draw_error():
    c = new_canvas()
    badge_disc(c, 16, 16, 15.2, hexcolor('ff6b5e'), hexcolor('c0161a'), hexcolor('8e0d10'))
    fill(c, stroke([(10.2, 10.2), (21.8, 21.8)], 4.4), WHITE)
    fill(c, stroke([(21.8, 10.2), (10.2, 21.8)], 4.4), WHITE)
    return c


def _question_mark(width):
    return union(arc(16.0, 10.6, 6.6, width, 160, 65, round_caps=True),
                 stroke([on_circle(16.0, 10.6, 6.6, 65), (16.0, 18.6), (16.0, 20.6)], width))


def draw_hint():
    """A bold yellow question mark with a dark outline, no background."""
    c = new_canvas()
    dark = hexcolor('9a6a00')
    fill(c, _question_mark(7.4), dark)
    fill(c, disc(16.0, 27.0, 3.8), dark)
    yellow = linear(hexcolor('fff27a'), hexcolor('f5c000'), 16, 3, 16, 30)
    fill(c, _question_mark(4.6), yellow)
    fill(c, disc(16.0, 27.0, 2.4), yellow)
    fill(c, arc(16.0, 10.6, 6.6, 1.2, 200, 250, round_caps=True), (255, 255, 255, 0.7))
    return c


def _chasing_arrow(canvas, start_deg, paint, edge):
    cx, cy, r, w = 16.0, 16.0, 9.8, 4.4
    head_deg = start_deg + 122.0  # the arrow runs clockwise to its head here
    fill(canvas, arc(cx, cy, r, w + 1.4, start_deg, head_deg + 1.0), edge)
    fill(canvas, arc(cx, cy, r, w, start_deg + 0.6, head_deg + 1.0), paint)
    # arrowhead: base across the ring at head_deg, tip further clockwise along it
    inner = on_circle(cx, cy, r - 5.2, head_deg)
    outer = on_circle(cx, cy, r + 5.2, head_deg)
    tip = on_circle(cx, cy, r, head_deg + 42.0)
    fill(canvas, polygon([inner, outer, tip], 0.7), edge)
    fill(canvas, polygon([inner, outer, tip]), paint)


def draw_retry():
    c = new_canvas()
    edge = hexcolor('8a0c10')
    _chasing_arrow(c, 200.0, linear(hexcolor('ff5a4e'), hexcolor('d0161c'), 6, 6, 26, 26), edge)
    _chasing_arrow(c, 20.0, linear(hexcolor('ff5a4e'), hexcolor('d0161c'), 26, 26, 6, 6), edge)
    return c


# Output file, drawing, in the order of the icon ids 1..7 (res/resource_ids.h).
ICONS = [
    ('program.ico', draw_program),
    ('main.ico', draw_main_window),
    ('success.ico', draw_success),
    ('warning.ico', draw_warning),
    ('error.ico', draw_error),
    ('hint.ico', draw_hint),
    ('retry.ico', draw_retry),
]


# ---------------------------------------------------------------------------
# File formats.

def ico_bytes(rows):
    """One 32 x 32 32-bit image: ICONDIR, one entry, BITMAPINFOHEADER, BGRA
    bottom-up, AND mask bottom-up (1 where fully transparent)."""
    xor = bytearray()
    for row in reversed(rows):
        for r, g, b, a in row:
            xor += bytes((b, g, r, a))
    mask = bytearray()
    for row in reversed(rows):
        bits = 0
        for r, g, b, a in row:
            bits = (bits << 1) | (1 if a == 0 else 0)
        mask += struct.pack('>I', bits)  # 32 pixels = one DWORD, already aligned
    header = struct.pack('<IiiHHIIiiII', 40, SIZE, SIZE * 2, 1, 32, 0,
                         len(xor) + len(mask), 0, 0, 0, 0)
    image = header + bytes(xor) + bytes(mask)
    icondir = struct.pack('<HHH', 0, 1, 1)
    entry = struct.pack('<BBBBHHII', SIZE, SIZE, 0, 0, 1, 32, len(image), 6 + 16)
    return icondir + entry + image


def png_bytes(width, height, pixels):
    """pixels: rows of (r, g, b) tuples."""
    raw = bytearray()
    for row in pixels:
        raw.append(0)
        for r, g, b in row:
            raw += bytes((r, g, b))

    def chunk(kind, data):
        body = kind + data
        return struct.pack('>I', len(data)) + body + struct.pack('>I', zlib.crc32(body) & 0xFFFFFFFF)
    return (b'\x89PNG\r\n\x1a\n'
            + chunk(b'IHDR', struct.pack('>IIBBBBB', width, height, 8, 2, 0, 0, 0))
            + chunk(b'IDAT', zlib.compress(bytes(raw), 9))
            + chunk(b'IEND', b''))


def over(pixel, background):
    r, g, b, a = pixel
    return tuple(int(round((c * a + bg * (255 - a)) / 255.0)) for c, bg in zip((r, g, b), background))


def preview(images, path):
    """One column per icon: magnified 4x over a checkerboard, then actual
    size over grey, white and dark."""
    zoom, pad = 4, 8
    backgrounds = [(192, 192, 192), (255, 255, 255), (40, 44, 52)]
    column = SIZE * zoom + pad
    width = pad + column * len(images)
    height = pad + SIZE * zoom + pad + (SIZE + pad) * len(backgrounds)
    sheet = [[(210, 210, 210)] * width for _ in range(height)]
    for n, rows in enumerate(images):
        left = pad + n * column
        for y in range(SIZE * zoom):
            for x in range(SIZE * zoom):
                checker = (255, 255, 255) if ((x // 8) + (y // 8)) % 2 else (200, 200, 200)
                sheet[pad + y][left + x] = over(rows[y // zoom][x // zoom], checker)
        for k, bg in enumerate(backgrounds):
            top = pad + SIZE * zoom + pad + k * (SIZE + pad)
            for y in range(SIZE):
                for x in range(SIZE):
                    sheet[top + y][left + x] = over(rows[y][x], bg)
    with open(path, 'wb') as f:
        f.write(png_bytes(width, height, sheet))


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    images = []
    for name, draw in ICONS:
        rows = to_rgba8(draw())
        images.append(rows)
        with open(os.path.join(here, name), 'wb') as f:
            f.write(ico_bytes(rows))
    if len(sys.argv) > 1:
        preview(images, sys.argv[1])


if __name__ == '__main__':
    main()
