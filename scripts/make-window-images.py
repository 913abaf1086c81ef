#!/usr/bin/env python3
"""Draws the window images in resources/: the title-bar and mini-player tiles, the dot
buttons of the main window (plain, roll-over and the grey one of inactive windows) and the
application icon (the windows' icon, also sent to the crash service).
Run from the repository root; the PNGs are committed, so the build never runs this."""
import math
import struct
import zlib


def write_png(path, width, height, pixel):
    rows = bytearray()
    for y in range(height):
        rows.append(0)
        for x in range(width):
            rows.extend(bytes(pixel(x, y)))

    def chunk(kind, data):
        body = kind + data
        return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body) & 0xFFFFFFFF)

    header = struct.pack(">IIBBBBB", width, height, 8, 6, 0, 0, 0)
    with open(path, "wb") as f:
        f.write(b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) + chunk(b"IDAT", zlib.compress(bytes(rows), 9)) +
                chunk(b"IEND", b""))


def vertical_tile(path, width, height, top, bottom, line):
    def pixel(x, y):
        if y == height - 1:
            return line + (255,)
        t = y / max(1, height - 2)
        return tuple(round(a + (b - a) * t) for a, b in zip(top, bottom)) + (255,)

    write_png(path, width, height, pixel)


def dot(path, fill, rim, glyph=None):
    size, radius = 12, 5.5

    def pixel(x, y):
        d = math.hypot(x + 0.5 - 6, y + 0.5 - 6)
        coverage = max(0.0, min(1.0, radius - d + 0.5))
        if coverage == 0:
            return (0, 0, 0, 0)
        colour = rim if d > radius - 1 else fill
        if glyph and glyph(x, y):
            colour = tuple(c // 3 for c in fill)
        return colour + (round(255 * coverage),)

    write_png(path, size, size, pixel)


def app_icon(path, size=256):
    """A teal rounded square with a white play triangle over a part-filled download bar."""
    inset, radius, samples = 8, 52, 4
    top, bottom = (52, 168, 178), (30, 70, 128)

    def in_square(x, y):
        lo, hi = inset + radius, size - inset - radius
        cx, cy = min(max(x, lo), hi), min(max(y, lo), hi)
        return math.hypot(x - cx, y - cy) <= radius

    def in_triangle(x, y):
        # (98, 70), (98, 170), (184, 120)
        return x >= 98 and (y - 70) >= (x - 98) * 50 / 86 and (170 - y) >= (x - 98) * 50 / 86

    def in_bar(x, y, right):
        r = 6
        cx, cy = min(max(x, 72 + r), right - r), 200
        return math.hypot(x - cx, y - cy) <= r

    def pixel(x, y):
        square = triangle = track = filled = 0
        for i in range(samples):
            for j in range(samples):
                sx, sy = x + (i + 0.5) / samples, y + (j + 0.5) / samples
                if not in_square(sx, sy):
                    continue
                square += 1
                if in_triangle(sx, sy):
                    triangle += 1
                elif in_bar(sx, sy, 184):
                    track += 1
                    if in_bar(sx, sy, 140):
                        filled += 1
        n = samples * samples
        if square == 0:
            return (0, 0, 0, 0)
        t = y / (size - 1)
        base = [a + (b - a) * t for a, b in zip(top, bottom)]
        # White over the square: full for the triangle and the filled bar, faint for the track.
        white = (triangle + filled + 0.35 * (track - filled)) / square
        colour = tuple(round(c + (255 - c) * white) for c in base)
        return colour + (round(255 * square / n),)

    write_png(path, size, size, pixel)


cross = lambda x, y: 3 <= x <= 8 and (x == y or x == 11 - y)
minus = lambda x, y: 3 <= x <= 8 and y in (5, 6)
plus = lambda x, y: (3 <= x <= 8 and y in (5, 6)) or (3 <= y <= 8 and x in (5, 6))

vertical_tile("resources/top_bar.png", 8, 55, (58, 58, 62), (32, 32, 35), (12, 12, 12))
vertical_tile("resources/miniplayer_body.png", 8, 80, (46, 46, 50), (20, 20, 22), (8, 8, 8))
for name, fill, rim, glyph in [("red", (236, 95, 87), (208, 70, 62), cross),
                               ("yellow", (245, 190, 52), (214, 160, 36), minus),
                               ("green", (98, 198, 72), (72, 166, 52), plus)]:
    dot(f"resources/{name}_dot.png", fill, rim)
    dot(f"resources/{name}_dot_over.png", fill, rim, glyph)
dot("resources/black_dot.png", (92, 92, 96), (70, 70, 74))
app_icon("resources/AppIcon.png")
