#!/usr/bin/env python3
"""Draws the settings editor's icon: a spiral notepad whose red cover is folded
back behind it. 16 colours (the classic VGA palette), 32x32 and 16x16.

Writes settings/resources/tarnwick-32.png, tarnwick-16.png and tarnwick.ico.
Python 3 standard library only; run it again after changing the drawing.
"""

import pathlib
import struct
import zlib

PALETTE = [
    (0x00, 0x00, 0x00), (0x80, 0x00, 0x00), (0x00, 0x80, 0x00), (0x80, 0x80, 0x00),
    (0x00, 0x00, 0x80), (0x80, 0x00, 0x80), (0x00, 0x80, 0x80), (0xC0, 0xC0, 0xC0),
    (0x80, 0x80, 0x80), (0xFF, 0x00, 0x00), (0x00, 0xFF, 0x00), (0xFF, 0xFF, 0x00),
    (0x00, 0x00, 0xFF), (0xFF, 0x00, 0xFF), (0x00, 0xFF, 0xFF), (0xFF, 0xFF, 0xFF),
]
BLACK, MAROON, NAVY, SILVER, GREY, RED, BLUE, WHITE = 0, 1, 4, 7, 8, 9, 12, 15
CLEAR = None


class Canvas:
    def __init__(self, size):
        self.size = size
        self.px = [[CLEAR] * size for _ in range(size)]

    def set(self, x, y, c):
        if 0 <= x < self.size and 0 <= y < self.size:
            self.px[y][x] = c

    def rect(self, x0, y0, x1, y1, fill, edge=None):
        for y in range(y0, y1 + 1):
            for x in range(x0, x1 + 1):
                on_edge = x in (x0, x1) or y in (y0, y1)
                self.set(x, y, edge if (edge is not None and on_edge) else fill)

    def hline(self, x0, x1, y, c):
        for x in range(x0, x1 + 1):
            self.set(x, y, c)


def draw(size):
    """Lays the notepad out on a grid of `size` pixels (32 or 16)."""
    c = Canvas(size)
    big = size == 32
    # The cover, folded over the spiral, shows behind the pad at the top and right.
    if big:
        c.rect(9, 1, 29, 26, RED, MAROON)
        c.hline(10, 28, 2, RED)
        for y in range(3, 26):
            c.set(28, y, MAROON)
    else:
        c.rect(5, 0, 14, 12, RED, MAROON)
    # The page: white with ruled lines and a red margin.
    if big:
        left, top, right, bottom = 3, 6, 25, 30
    else:
        left, top, right, bottom = 1, 3, 12, 15
    c.rect(left, top, right, bottom, WHITE, BLACK)
    c.hline(left + 1, right - 1, bottom - 1, SILVER)
    step = 3 if big else 2
    for y in range(top + (5 if big else 3), bottom - 1, step):
        c.hline(left + 2, right - 2, y, BLUE if big else NAVY)
    margin = left + (5 if big else 3)
    for y in range(top + 1, bottom):
        c.set(margin, y, RED)
    # The spiral: wire rings looping through holes along the top edge.
    ring_xs = range(left + 3, right - 1, 4) if big else range(left + 2, right, 3)
    for x in ring_xs:
        if big:
            c.set(x, top + 2, BLACK)  # the punched hole
            c.set(x, top - 2, GREY)
            c.set(x + 1, top - 2, SILVER)
            c.set(x - 1, top - 1, GREY)
            c.set(x + 2, top - 1, SILVER)
            for y in range(top, top + 2):
                c.set(x - 1, y, BLACK)
                c.set(x + 2, y, GREY)
            c.set(x, top + 1, GREY)
            c.set(x + 1, top + 1, GREY)
        else:
            c.set(x, top + 1, BLACK)
            c.set(x, top - 1, GREY)
            c.set(x + 1, top - 1, SILVER)
            c.set(x - 1 if x > 0 else x, top, BLACK)
            c.set(x + 1, top, GREY)
    return c


def png(canvas):
    def chunk(kind, data):
        body = kind + data
        return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body))

    raw = bytearray()
    for row in canvas.px:
        raw.append(0)
        for c in row:
            raw.extend((0, 0, 0, 0) if c is CLEAR else (*PALETTE[c], 255))
    header = struct.pack(">IIBBBBB", canvas.size, canvas.size, 8, 6, 0, 0, 0)
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header)
            + chunk(b"IDAT", zlib.compress(bytes(raw), 9)) + chunk(b"IEND", b""))


def bmp_entry(canvas):
    """One icon image: 4-bit colour bitmap plus 1-bit transparency mask, bottom-up."""
    n = canvas.size
    xor_stride = ((n * 4 + 31) // 32) * 4
    and_stride = ((n + 31) // 32) * 4
    header = struct.pack("<IiiHHIIiiII", 40, n, n * 2, 1, 4, 0,
                         (xor_stride + and_stride) * n, 0, 0, 16, 0)
    palette = b"".join(struct.pack("<BBBB", b, g, r, 0) for r, g, b in PALETTE)
    xor = bytearray()
    mask = bytearray()
    for row in reversed(canvas.px):
        line = bytearray(xor_stride)
        bits = bytearray(and_stride)
        for x, c in enumerate(row):
            index = 0 if c is CLEAR else c
            line[x // 2] |= index << (4 if x % 2 == 0 else 0)
            if c is CLEAR:
                bits[x // 8] |= 0x80 >> (x % 8)
        xor += line
        mask += bits
    return header + palette + bytes(xor) + bytes(mask)


def ico(canvases):
    images = [bmp_entry(c) for c in canvases]
    out = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for c, data in zip(canvases, images):
        out += struct.pack("<BBBBHHII", c.size, c.size, 16, 0, 1, 4, len(data), offset)
        offset += len(data)
    return out + b"".join(images)


def main():
    out = pathlib.Path(__file__).resolve().parents[2] / "settings" / "resources"
    out.mkdir(parents=True, exist_ok=True)
    icons = [draw(32), draw(16)]
    for c in icons:
        (out / f"tarnwick-{c.size}.png").write_bytes(png(c))
    (out / "tarnwick.ico").write_bytes(ico(icons))


if __name__ == "__main__":
    main()
