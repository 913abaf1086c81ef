#!/usr/bin/env python3
"""Draws the source list's and the list rows' images in resources/: the row bars, the special
lists' icons (grey and white), the bottom bar's creation buttons, and the video row's marks
(cache state, quality, playlists, played state), its play button and backgrounds. Each mark has
its own colour so that a drawing test can tell them apart. Run from the repository root; the
PNGs are committed, so the build never runs this."""
import math
import struct
import zlib

CLEAR = (0, 0, 0, 0)


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
    with open(f"resources/{path}.png", "wb") as f:
        f.write(b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) + chunk(b"IDAT", zlib.compress(bytes(rows), 9)) +
                chunk(b"IEND", b""))


def solid(name, width, height, colour, alpha=255):
    write_png(name, width, height, lambda x, y: colour + (alpha,))


def vertical(name, width, height, top, bottom, alpha=255):
    def pixel(x, y):
        t = y / max(1, height - 1)
        return tuple(round(a + (b - a) * t) for a, b in zip(top, bottom)) + (alpha,)

    write_png(name, width, height, pixel)


def pill(name, width, height, colour):
    """A filled rounded badge."""
    r = height / 2

    def pixel(x, y):
        cx = min(max(x + 0.5, r), width - r)
        return colour + (255,) if math.hypot(x + 0.5 - cx, y + 0.5 - r) <= r else CLEAR

    write_png(name, width, height, pixel)


def disc(name, size_w, size_h, colour, half=False):
    cx, cy, r = size_w / 2, size_h / 2, min(size_w, size_h) / 2 - 0.5

    def pixel(x, y):
        inside = math.hypot(x + 0.5 - cx, y + 0.5 - cy) <= r
        if half and x + 0.5 > cx:
            inside = inside and abs(math.hypot(x + 0.5 - cx, y + 0.5 - cy) - r) < 1.2
        return colour + (255,) if inside else CLEAR

    write_png(name, size_w, size_h, pixel)


def glyph(name, colour, shape):
    """A 16-point icon drawn by `shape(x, y)` (centre-relative coordinates)."""

    def pixel(x, y):
        return colour + (255,) if shape(x + 0.5 - 8, y + 0.5 - 8) else CLEAR

    write_png(name, 16, 16, pixel)


def star(x, y):
    angle = math.atan2(y, x)
    radius = 3.2 + 3.6 * (0.5 + 0.5 * math.cos(5 * (angle + math.pi / 2)))
    return math.hypot(x, y) <= radius


def heart(x, y):
    return math.hypot(x + 2.5, y + 2) <= 3.2 or math.hypot(x - 2.5, y + 2) <= 3.2 or (y >= -2 and abs(x) <= 6 - y)


def up_arrow(x, y):
    return (y <= 0 and abs(x) <= 6 + y) or (y > 0 and abs(x) <= 2 and y <= 6)


def clock(x, y):
    d = math.hypot(x, y)
    return 5 <= d <= 6.5 or (abs(x) <= 0.8 and -4 <= y <= 0) or (abs(y) <= 0.8 and 0 <= x <= 3)


def history(x, y):
    d = math.hypot(x, y)
    return (5 <= d <= 6.5 and math.atan2(y, x) > -2.4) or (abs(x) <= 0.8 and -4 <= y <= 0)


def square(x, y):
    return max(abs(x), abs(y)) <= 5.5 and not (max(abs(x), abs(y)) <= 3.5)


def tray(x, y):
    arrow = (y >= 0 and abs(x) <= 5 - y) or (y < 0 and abs(x) <= 1.5 and y >= -6)
    base = 5 <= y <= 6.5 and abs(x) <= 7
    return arrow or base


def person(x, y):
    return math.hypot(x, y + 3) <= 3 or (y >= 1.5 and y <= 7 and abs(x) <= 2 + (y - 1.5))


def plus(x, y):
    return (abs(x) <= 1 and abs(y) <= 6) or (abs(y) <= 1 and abs(x) <= 6)


def folder_plus(x, y):
    outline = (max(abs(x), abs(y - 1)) <= 7 and not max(abs(x), abs(y - 1)) <= 5.5) or (
        -7 <= x <= -2 and -7.5 <= y <= -6)
    return outline or (abs(x) <= 0.8 and abs(y - 1) <= 3.5) or (abs(y - 1) <= 0.8 and abs(x) <= 3.5)


def button20(name, colour, shape):
    write_png(name, 20, 20, lambda x, y: colour + (255,) if shape(x + 0.5 - 10, y + 0.5 - 10) else CLEAR)


grey, white = (150, 150, 150), (255, 255, 255)

# The source list's rows.
solid("black_bar", 8, 20, (0, 0, 0))
solid("orange_bar", 8, 20, (236, 120, 24))
solid("orange_bar_out", 8, 20, (112, 76, 52))
for name, shape in (("favorites", star), ("likes", heart), ("uploads", up_arrow), ("later", clock),
                    ("history", history), ("newvideos", square), ("cachedvideos", tray)):
    glyph(f"{name}_icon_grey", grey, shape)
    glyph(f"{name}_icon_white", white, shape)
glyph("login_icon", grey, person)
button20("new_playlist_button", (200, 200, 200), plus)
button20("new_playlist_group_button", (200, 200, 200), folder_plus)

# The video row's marks.
disc("cache_cached", 11, 12, (64, 200, 84))
disc("cache_cacheing", 11, 12, (232, 196, 40))
disc("cache_queued", 11, 12, (140, 140, 150))
disc("cache_error", 11, 12, (224, 40, 40))
disc("notwatched_icon", 11, 12, (48, 140, 250))
disc("halfwatched_icon", 11, 12, (48, 140, 250), half=True)
disc("watched_icon", 11, 12, (96, 96, 96))
for height, colour in ((1080, (150, 60, 200)), (720, (40, 120, 220)), (360, (30, 160, 150)),
                       (240, (150, 110, 60))):
    pill(f"{height}_cached", 25, 12, colour)
    pill(f"{height}_cached_white", 25, 12, (236, 236, 236))
pill("is_in_favorites", 25, 12, (232, 180, 32))
pill("is_in_playlist", 25, 12, (120, 120, 120))
pill("is_in_playlist_white", 25, 12, (250, 250, 250))


def play_button(x, y):
    d = math.hypot(x + 0.5 - 25, y + 0.5 - 21.5)
    triangle = 19 <= x <= 33 and abs(y + 0.5 - 21.5) <= (33 - x) * 0.6
    if triangle:
        return (255, 255, 255, 235)
    return (0, 0, 0, 110) if d <= 18 else CLEAR


write_png("btn_play_70", 50, 43, play_button)
solid("thumbnail_bar", 110, 20, (0, 0, 0), alpha=150)
solid("thumbnail_topbar", 110, 1, (64, 64, 64))
solid("video_bar_selected", 6, 83, (236, 120, 24))
vertical("video_result_normal", 8, 83, (36, 36, 40), (26, 26, 30))
vertical("video_result_playing", 8, 83, (52, 72, 112), (40, 56, 92))
vertical("playlistresultoverlay", 8, 50, (0, 0, 0), (0, 0, 0), alpha=170)
