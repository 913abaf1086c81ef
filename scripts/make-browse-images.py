#!/usr/bin/env python3
"""Draws the browse pane's images in resources/: the navigation arrows (grey and white), the
current-playlist button in its four looks, the search field's bar and magnifier, the list pane's
bottom bar and its refresh button. Run from the repository root; the PNGs are committed, so the
build never runs this."""
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


def arrow(path, colour, left, pressed=False):
    w, h = 24, 22

    def pixel(x, y):
        # A solid triangle pointing left or right, centred.
        cx = x if left else w - 1 - x
        if 6 <= cx <= 17 and abs(y - 10.5) <= (cx - 6) * 0.75:
            c = tuple(v * 3 // 4 for v in colour) if pressed else colour
            return c + (255,)
        return (0, 0, 0, 0)

    write_png(path, w, h, pixel)


def list_button(path, fill, pressed):
    w, h = 24, 22

    def pixel(x, y):
        if 5 <= x <= 18 and y in (5, 6, 10, 11, 15, 16):
            c = tuple(v * 3 // 4 for v in fill) if pressed else fill
            return c + (255,)
        return (0, 0, 0, 0)

    write_png(path, w, h, pixel)


def vertical_tile(path, width, height, top, bottom):
    def pixel(x, y):
        t = y / max(1, height - 1)
        return tuple(round(a + (b - a) * t) for a, b in zip(top, bottom)) + (255,)

    write_png(path, width, height, pixel)


def magnifier(path, colour):
    size = 16

    def pixel(x, y):
        d = math.hypot(x + 0.5 - 6.5, y + 0.5 - 6.5)
        on_ring = 3.5 <= d <= 5.0
        on_handle = 9 <= x <= 13 and abs((x - 9) - (y - 9)) <= 1 and y >= 9
        return colour + (255,) if on_ring or on_handle else (0, 0, 0, 0)

    write_png(path, size, size, pixel)


def refresh(path, colour):
    size = 20

    def pixel(x, y):
        d = math.hypot(x + 0.5 - 10, y + 0.5 - 10)
        angle = math.atan2(y + 0.5 - 10, x + 0.5 - 10)
        ring = 5 <= d <= 7 and angle < 2.4
        head = 12 <= x <= 16 and 12 <= y <= 14
        return colour + (255,) if ring or head else (0, 0, 0, 0)

    write_png(path, size, size, pixel)


grey, white = (150, 150, 150), (255, 255, 255)
for name, left in (("back", True), ("forth", False)):
    arrow(f"resources/{name}_button.png", grey, left)
    arrow(f"resources/{name}_button_pressed.png", grey, left, pressed=True)
    arrow(f"resources/white_{name}_button.png", white, left)
list_button("resources/current_playlist_button.png", grey, False)
list_button("resources/current_playlist_button_pressed.png", grey, True)
list_button("resources/current_playlist_button_highlighted.png", (90, 170, 255), False)
list_button("resources/current_playlist_button_highlighted_pressed.png", (90, 170, 255), True)
vertical_tile("resources/search_bar.png", 8, 22, (30, 30, 30), (48, 48, 48))
magnifier("resources/search_button.png", (190, 190, 190))
magnifier("resources/search_button_pressed.png", (120, 120, 120))
vertical_tile("resources/navbottombar.png", 8, 24, (70, 70, 74), (40, 40, 43))
refresh("resources/refresh_button.png", (200, 200, 200))
refresh("resources/refresh_button_pressed.png", (130, 130, 130))
