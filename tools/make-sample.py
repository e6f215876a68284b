#!/usr/bin/env python3
"""Draws the bundled sample picture: a landscape with sky, sun, hills, a lake and a house,
with a little deterministic grain so that the blur has something to smooth. Writes a 24 bpp BMP."""
import math
import struct
import sys

WIDTH, HEIGHT = 384, 256


def grain(x, y):
    # A small integer hash: the same picture on every machine.
    h = (x * 374761393 + y * 668265263) & 0xFFFFFFFF
    h = ((h ^ (h >> 13)) * 1274126177) & 0xFFFFFFFF
    return ((h >> 16) & 0xFF) / 255.0 - 0.5


def hill(x, base, amplitude, period, phase):
    return base - amplitude * math.sin(2 * math.pi * x / period + phase)


def colour(x, y):
    sky_top, sky_bottom = (40, 90, 170), (170, 205, 235)
    t = y / HEIGHT
    r, g, b = [a + (c - a) * t * 1.6 for a, c in zip(sky_top, sky_bottom)]
    sun = math.hypot(x - 300, y - 60)
    if sun < 26:
        r, g, b = 255, 236, 160
    elif sun < 60:
        glow = (60 - sun) / 34
        r, g, b = r + (255 - r) * glow * 0.5, g + (220 - g) * glow * 0.5, b
    far = hill(x, 150, 22, 260, 0.8)
    near = hill(x, 185, 16, 170, 2.1)
    if y > far:
        r, g, b = 90, 120, 150
    if y > near:
        shade = 0.75 + 0.25 * math.sin(x / 9.0) * math.cos(y / 7.0)
        r, g, b = 60 * shade, 140 * shade, 55 * shade
    if y > 215 and 40 < x < 250 + 20 * math.sin(y / 5.0):
        ripple = 0.5 + 0.5 * math.sin(y * 1.7 + x / 15.0)
        r, g, b = 50 + 40 * ripple, 100 + 50 * ripple, 160 + 50 * ripple
    if 70 <= x < 130 and 150 <= y < 195:
        r, g, b = (225, 215, 190) if not (92 <= x < 108 and 170 <= y < 195) else (110, 60, 30)
    if 64 <= x < 136 and y < 150 and y >= 120 + abs(x - 100) * 0.85:
        r, g, b = 170, 40, 35
    n = grain(x, y) * 18
    return tuple(max(0, min(255, int(v + n))) for v in (r, g, b))


def main(path):
    row_size = (WIDTH * 3 + 3) // 4 * 4
    pixels = bytearray()
    for y in reversed(range(HEIGHT)):
        row = bytearray()
        for x in range(WIDTH):
            r, g, b = colour(x, y)
            row += bytes((b, g, r))
        pixels += row + bytes(row_size - len(row))
    header = struct.pack("<2sIHHI", b"BM", 54 + len(pixels), 0, 0, 54)
    info = struct.pack("<IiiHHIIiiII", 40, WIDTH, HEIGHT, 1, 24, 0, len(pixels), 3780, 3780, 0, 0)
    with open(path, "wb") as out:
        out.write(header + info + pixels)


if __name__ == "__main__":
    main(sys.argv[1] if len(sys.argv) > 1 else "samples/landscape.bmp")
