#!/usr/bin/env python3
"""Draws the setup wizard's two pictures and writes them as XPM source files.

    python3 tools/make_artwork.py [OUTPUT_DIR]     (default: app/art)

Writes icon.xpm (the window icon, 256 x 256) and side.xpm (the picture beside
every page, 158 x 286). Both have exactly 256 colours and two characters per
pixel, and are C arrays of const strings so that the program can include them
and hand them to gdk_pixbuf_new_from_xpm_data.

Only the standard library is used: the shapes are signed distance functions
shaded with analytic anti-aliasing, and the true-colour result is reduced to
256 colours by median cut. The output is deterministic, so re-running the
script on an unchanged file reproduces the committed pictures byte for byte.
"""

import math
import os
import sys

# --------------------------------------------------------------------------
# Canvas and compositing


class Canvas:
    """An RGB float canvas with a per-pixel opacity (for the icon's corners)."""

    def __init__(self, width, height):
        self.w = width
        self.h = height
        self.rgb = [[0.0, 0.0, 0.0] for _ in range(width * height)]
        self.alpha = [1.0] * (width * height)

    def fill(self, shader):
        """Sets every pixel to shader(x, y) (pixel centres)."""
        for y in range(self.h):
            for x in range(self.w):
                self.rgb[y * self.w + x] = list(shader(x + 0.5, y + 0.5))

    def draw(self, sdf, colour, bbox=None, opacity=1.0, feather=1.0):
        """Composites a shape over the canvas.

        sdf(x, y) is the signed distance to the shape's outline in pixels
        (negative inside); colour is an (r, g, b) tuple or a function of
        (x, y). feather widens the anti-aliased edge (for soft shadows).
        """
        x0, y0, x1, y1 = bbox if bbox else (0, 0, self.w, self.h)
        x0 = max(0, int(x0))
        y0 = max(0, int(y0))
        x1 = min(self.w, int(math.ceil(x1)))
        y1 = min(self.h, int(math.ceil(y1)))
        solid = not callable(colour)
        for y in range(y0, y1):
            py = y + 0.5
            row = y * self.w
            for x in range(x0, x1):
                px = x + 0.5
                d = sdf(px, py)
                cover = 0.5 - d / feather
                if cover <= 0.0:
                    continue
                if cover > 1.0:
                    cover = 1.0
                a = cover * opacity
                c = colour if solid else colour(px, py)
                p = self.rgb[row + x]
                p[0] += (c[0] - p[0]) * a
                p[1] += (c[1] - p[1]) * a
                p[2] += (c[2] - p[2]) * a

    def clip(self, sdf):
        """Keeps only the inside of a shape; the outside becomes transparent."""
        for y in range(self.h):
            for x in range(self.w):
                d = sdf(x + 0.5, y + 0.5)
                self.alpha[y * self.w + x] = min(1.0, max(0.0, 0.5 - d))


# --------------------------------------------------------------------------
# Shapes (signed distance functions) and colour helpers


def hexrgb(text):
    text = text.lstrip("#")
    return tuple(int(text[i:i + 2], 16) / 255.0 for i in (0, 2, 4))


def mix(a, b, t):
    t = min(1.0, max(0.0, t))
    return tuple(a[i] + (b[i] - a[i]) * t for i in range(3))


def rounded_box(cx, cy, hw, hh, r, angle=0.0):
    """A rectangle centred at (cx, cy), half sizes hw, hh, corner radius r,
    rotated by angle degrees (clockwise on screen)."""
    ca = math.cos(math.radians(angle))
    sa = math.sin(math.radians(angle))

    def sdf(x, y):
        dx = x - cx
        dy = y - cy
        lx = dx * ca + dy * sa
        ly = -dx * sa + dy * ca
        qx = abs(lx) - hw + r
        qy = abs(ly) - hh + r
        ox = max(qx, 0.0)
        oy = max(qy, 0.0)
        return math.hypot(ox, oy) + min(max(qx, qy), 0.0) - r

    return sdf


def circle(cx, cy, r):
    return lambda x, y: math.hypot(x - cx, y - cy) - r


def ring(cx, cy, r, half_width):
    return lambda x, y: abs(math.hypot(x - cx, y - cy) - r) - half_width


def convex_polygon(points):
    """A convex polygon given clockwise on screen (y down)."""
    edges = []
    n = len(points)
    for i in range(n):
        ax, ay = points[i]
        bx, by = points[(i + 1) % n]
        ex, ey = bx - ax, by - ay
        length = math.hypot(ex, ey)
        # Outward normal for a clockwise (screen) polygon.
        edges.append((ax, ay, ey / length, -ex / length))

    def sdf(x, y):
        return max((x - ax) * nx + (y - ay) * ny for ax, ay, nx, ny in edges)

    return sdf


def union(*sdfs):
    return lambda x, y: min(s(x, y) for s in sdfs)


def subtract(a, b):
    return lambda x, y: max(a(x, y), -b(x, y))


def rotate_point(px, py, cx, cy, angle):
    ca = math.cos(math.radians(angle))
    sa = math.sin(math.radians(angle))
    dx, dy = px - cx, py - cy
    return (cx + dx * ca - dy * sa, cy + dx * sa + dy * ca)


# --------------------------------------------------------------------------
# The motif shared by both pictures: a fanned stack of template sheets with
# a folded corner, and an amber badge with an arrow that drops into a tray.

PAPER = hexrgb("#fbfcfe")
PAPER_SHADE = hexrgb("#dde6f2")
INK = hexrgb("#9fb3cc")
INK_DARK = hexrgb("#5d7899")
ACCENT = hexrgb("#2f7de1")
AMBER_TOP = hexrgb("#ffc14d")
AMBER_BOTTOM = hexrgb("#ea7a06")
SHADOW = hexrgb("#061428")


def draw_sheet(canvas, cx, cy, hw, hh, angle, corner, detail):
    """One template sheet. corner is the size of the folded corner; detail
    draws text lines and a small table on the front sheet only."""
    r = max(2.0, hw * 0.06)
    pad = hw + hh
    bbox = (cx - pad, cy - pad, cx + pad, cy + pad)
    # Soft drop shadow.
    canvas.draw(rounded_box(cx + hw * 0.06, cy + hh * 0.07, hw, hh, r, angle),
                SHADOW, bbox, opacity=0.35, feather=hw * 0.12)
    # The sheet with its top-right corner cut off for the fold.
    tx, ty = rotate_point(cx + hw, cy - hh, cx, cy, angle)
    ax, ay = rotate_point(cx + hw - corner, cy - hh, cx, cy, angle)
    bx, by = rotate_point(cx + hw, cy - hh + corner, cx, cy, angle)
    cut = convex_polygon([(ax, ay), (tx, ty), (bx, by)]) if corner > 0 else None
    body = rounded_box(cx, cy, hw, hh, r, angle)
    if cut:
        body = subtract(body, cut)
    top = rotate_point(cx, cy - hh, cx, cy, angle)
    bottom = rotate_point(cx, cy + hh, cx, cy, angle)

    def paper(x, y):
        # A faint vertical shading along the sheet.
        vx, vy = bottom[0] - top[0], bottom[1] - top[1]
        t = ((x - top[0]) * vx + (y - top[1]) * vy) / (vx * vx + vy * vy)
        return mix(PAPER, PAPER_SHADE, t * 0.8)

    canvas.draw(body, paper, bbox)
    if corner > 0:
        # The folded-over flap, a darker triangle inside the cut.
        fx, fy = rotate_point(cx + hw - corner, cy - hh + corner, cx, cy, angle)
        flap = convex_polygon([(ax, ay), (bx, by), (fx, fy)])
        canvas.draw(flap, hexrgb("#c4d2e4"), bbox)
    if not detail:
        return
    # Title bar, text lines and a small table: a template, not a letter.
    left = -hw + hw * 0.22
    line_h = max(1.2, hh * 0.035)

    def bar(x0, y0, x1, colour):
        mx = (x0 + x1) / 2.0
        px, py = rotate_point(cx + mx, cy + y0, cx, cy, angle)
        canvas.draw(rounded_box(px, py, (x1 - x0) / 2.0, line_h, line_h, angle),
                    colour, bbox)

    bar(left, -hh * 0.62, left + hw * 0.95, ACCENT)
    for i, length in enumerate((1.45, 1.2, 1.38)):
        bar(left, -hh * 0.40 + i * hh * 0.14, left + hw * length, INK)
    # The table: a ruled grid of three rows by three columns.
    gx0, gy0 = left, hh * 0.06
    gw, gh = hw * 1.56, hh * 0.52
    grid = rounded_box(*rotate_point(cx + gx0 + gw / 2, cy + gy0 + gh / 2, cx, cy, angle),
                       gw / 2, gh / 2, 1.5, angle)
    canvas.draw(grid, hexrgb("#eaf1fa"), bbox)
    canvas.draw(subtract(grid, rounded_box(*rotate_point(cx + gx0 + gw / 2, cy + gy0 + gh / 2,
                                                         cx, cy, angle),
                                           gw / 2 - line_h * 0.8, gh / 2 - line_h * 0.8,
                                           1.0, angle)), INK_DARK, bbox)
    for i in (1, 2):
        yy = gy0 + gh * i / 3.0
        px, py = rotate_point(cx + gx0 + gw / 2, cy + yy, cx, cy, angle)
        canvas.draw(rounded_box(px, py, gw / 2, line_h * 0.45, 0.0, angle), INK, bbox)
        xx = gx0 + gw * i / 3.0
        px, py = rotate_point(cx + xx, cy + gy0 + gh / 2, cx, cy, angle)
        canvas.draw(rounded_box(px, py, line_h * 0.45, gh / 2, 0.0, angle), INK, bbox)
    # One highlighted cell.
    px, py = rotate_point(cx + gx0 + gw / 6, cy + gy0 + gh / 6, cx, cy, angle)
    canvas.draw(rounded_box(px, py, gw / 6 - line_h, gh / 6 - line_h, 1.0, angle),
                hexrgb("#ffd27a"), bbox)


def draw_badge(canvas, cx, cy, r):
    """The amber install badge: a disc with an arrow dropping into a tray."""
    bbox = (cx - r * 1.4, cy - r * 1.4, cx + r * 1.4, cy + r * 1.4)
    canvas.draw(circle(cx + r * 0.08, cy + r * 0.12, r), SHADOW, bbox,
                opacity=0.45, feather=r * 0.18)
    canvas.draw(circle(cx, cy, r),
                lambda x, y: mix(AMBER_TOP, AMBER_BOTTOM, (y - (cy - r)) / (2 * r)), bbox)
    canvas.draw(ring(cx, cy, r - r * 0.05, r * 0.05), hexrgb("#fff1cf"), bbox, opacity=0.55)
    white = hexrgb("#ffffff")
    shaft = rounded_box(cx, cy - r * 0.22, r * 0.13, r * 0.30, r * 0.05)
    head = convex_polygon([(cx - r * 0.38, cy + r * 0.02), (cx + r * 0.38, cy + r * 0.02),
                           (cx, cy + r * 0.42)])
    canvas.draw(union(shaft, head), white, bbox)
    # The tray: a U under the arrow.
    tray = union(rounded_box(cx, cy + r * 0.56, r * 0.52, r * 0.07, r * 0.06),
                 rounded_box(cx - r * 0.46, cy + r * 0.42, r * 0.07, r * 0.19, r * 0.06),
                 rounded_box(cx + r * 0.46, cy + r * 0.42, r * 0.07, r * 0.19, r * 0.06))
    canvas.draw(tray, white, bbox)


# --------------------------------------------------------------------------
# The two pictures


def make_icon():
    size = 256
    c = Canvas(size, size)
    top = hexrgb("#3b8ff0")
    bottom = hexrgb("#0d2c63")

    def background(x, y):
        t = (x * 0.35 + y) / (size * 1.35)
        base = mix(top, bottom, t)
        # A soft light in the upper left.
        glow = max(0.0, 1.0 - math.hypot(x - 70, y - 50) / 170.0)
        return mix(base, hexrgb("#7fc0ff"), glow * glow * 0.45)

    c.fill(background)
    plate = rounded_box(128, 128, 120, 120, 44)
    # A glossy arc across the upper half and a thin bright rim.
    c.draw(subtract(plate, circle(128, 330, 250)), hexrgb("#ffffff"), opacity=0.08)
    c.draw(subtract(plate, rounded_box(128, 128, 117, 117, 41)), hexrgb("#9ccbff"),
           opacity=0.55)
    draw_sheet(c, 98, 120, 50, 66, -14, 0, False)
    draw_sheet(c, 116, 118, 52, 68, -4, 0, False)
    draw_sheet(c, 134, 122, 54, 70, 7, 22, True)
    draw_badge(c, 182, 184, 46)
    c.clip(plate)
    return c


def make_side():
    w, h = 158, 286
    c = Canvas(w, h)
    top = hexrgb("#2f7fd8")
    bottom = hexrgb("#0a1f45")

    def background(x, y):
        base = mix(top, bottom, (y / h) ** 0.9)
        glow = max(0.0, 1.0 - math.hypot(x - 30, y - 20) / 190.0)
        return mix(base, hexrgb("#8cc8ff"), glow * glow * 0.5)

    c.fill(background)
    # Diagonal light bands, like a lit studio wall.
    for i, (offset, width, strength) in enumerate(((-40, 22, 0.07), (10, 12, 0.06),
                                                   (70, 30, 0.05), (150, 16, 0.05))):
        k = math.tan(math.radians(28))
        band = (lambda o, wd: lambda x, y: abs((x - o) - (y * k)) * math.cos(math.radians(28))
                - wd)(offset, width)
        c.draw(band, hexrgb("#ffffff"), opacity=strength, feather=6.0)
    # Soft discs of light.
    for (x, y, r, a) in ((128, 40, 26, 0.08), (22, 120, 14, 0.07), (140, 250, 36, 0.06),
                         (60, 268, 10, 0.09)):
        c.draw(circle(x, y, r), hexrgb("#bfe0ff"), (x - r - 8, y - r - 8, x + r + 8, y + r + 8),
               opacity=a, feather=4.0)
    # A thin arc that frames the emblem.
    c.draw(ring(82, 150, 62, 0.9), hexrgb("#cfe6ff"), opacity=0.35)
    c.draw(ring(82, 150, 70, 0.6), hexrgb("#cfe6ff"), opacity=0.18)
    draw_sheet(c, 64, 148, 28, 37, -14, 0, False)
    draw_sheet(c, 75, 146, 29, 38, -4, 0, False)
    draw_sheet(c, 86, 149, 30, 39, 7, 12, True)
    draw_badge(c, 114, 186, 23)
    # A one-pixel light edge on the right sets the picture off the page.
    c.draw(lambda x, y: (w - 1.0) - x, hexrgb("#9fc8f5"), (w - 2, 0, w, h), opacity=0.5)
    return c


# --------------------------------------------------------------------------
# Reduction to 256 colours and XPM output


def median_cut(counts, boxes_wanted):
    """counts: {(r, g, b): n} with 8-bit channels. Returns up to boxes_wanted
    representative colours (count-weighted means of the boxes)."""
    boxes = [list(counts.items())]
    while len(boxes) < boxes_wanted:
        # Split the box with the largest weighted channel range.
        best, best_score, best_ch = None, -1, 0
        for i, box in enumerate(boxes):
            if len(box) < 2:
                continue
            for ch in range(3):
                lo = min(c[0][ch] for c in box)
                hi = max(c[0][ch] for c in box)
                weight = sum(c[1] for c in box)
                score = (hi - lo) * math.sqrt(weight)
                if score > best_score:
                    best, best_score, best_ch = i, score, ch
        if best is None:
            break
        box = sorted(boxes.pop(best), key=lambda c: (c[0][best_ch], c[0]))
        total = sum(c[1] for c in box)
        acc, cut = 0, 1
        for j, (_, n) in enumerate(box):
            acc += n
            if acc * 2 >= total:
                cut = max(1, min(len(box) - 1, j + 1))
                break
        boxes.append(box[:cut])
        boxes.append(box[cut:])
    palette = []
    for box in boxes:
        total = sum(n for _, n in box)
        palette.append(tuple(int(round(sum(c[ch] * n for c, n in box) / total))
                             for ch in range(3)))
    return palette


CHARS = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789.#"


def to_xpm(canvas, name, colours=256):
    """Writes the canvas as XPM text with exactly `colours` entries, two
    characters a pixel. Transparent pixels (alpha < 0.5) use "None"."""
    transparent = any(a < 0.5 for a in canvas.alpha)
    opaque_slots = colours - (1 if transparent else 0)
    pixels = []
    counts = {}
    for i, p in enumerate(canvas.rgb):
        if canvas.alpha[i] < 0.5:
            pixels.append(None)
            continue
        rgb = tuple(min(255, max(0, int(round(v * 255)))) for v in p)
        pixels.append(rgb)
        counts[rgb] = counts.get(rgb, 0) + 1
    palette = median_cut(counts, opaque_slots)
    # Pad with unused shades so the header always declares `colours` entries.
    k = 0
    while len(palette) < opaque_slots:
        palette.append((k, k, k))
        k += 1
    cache = {}

    def nearest(rgb):
        hit = cache.get(rgb)
        if hit is None:
            hit = min(range(len(palette)),
                      key=lambda i: (2 * (palette[i][0] - rgb[0]) ** 2
                                     + 4 * (palette[i][1] - rgb[1]) ** 2
                                     + 3 * (palette[i][2] - rgb[2]) ** 2))
            cache[rgb] = hit
        return hit

    codes = [CHARS[i // len(CHARS)] + CHARS[i % len(CHARS)] for i in range(colours)]
    lines = ["/* XPM */",
             "static const char* const %s[] = {" % name,
             '"%d %d %d 2",' % (canvas.w, canvas.h, colours)]
    for i, (r, g, b) in enumerate(palette):
        lines.append('"%s c #%02X%02X%02X",' % (codes[i], r, g, b))
    if transparent:
        lines.append('"%s c None",' % codes[opaque_slots])
    for y in range(canvas.h):
        row = []
        for x in range(canvas.w):
            p = pixels[y * canvas.w + x]
            row.append(codes[opaque_slots] if p is None else codes[nearest(p)])
        lines.append('"%s"%s' % ("".join(row), "," if y + 1 < canvas.h else ""))
    lines.append("};")
    return "\n".join(lines) + "\n"


def main():
    out = sys.argv[1] if len(sys.argv) > 1 else os.path.join(
        os.path.dirname(os.path.abspath(__file__)), "..", "app", "art")
    os.makedirs(out, exist_ok=True)
    for file_name, var, make in (("icon.xpm", "qxr8_icon_xpm", make_icon),
                                 ("side.xpm", "qxr8_side_xpm", make_side)):
        text = to_xpm(make(), var)
        with open(os.path.join(out, file_name), "w", encoding="ascii") as f:
            f.write(text)
        print("wrote", os.path.join(out, file_name))


if __name__ == "__main__":
    main()
