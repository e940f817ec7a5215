#!/usr/bin/env python3
"""Draws the page's installable icons (the shapes of web/icon.svg) as PNG
files with no time or text chunks, so every build gives the same bytes."""
import struct
import sys
import zlib
from pathlib import Path


def draw(size):
    s = size / 64.0
    blue, white, black = (0x1F, 0x4E, 0x79), (255, 255, 255), (0, 0, 0)
    rows = []
    for y in range(size):
        row = bytearray([0])
        for x in range(size):
            u, v = (x + 0.5) / s, (y + 0.5) / s
            colour = blue
            if 10 <= u <= 44 and 16 <= v <= 48:
                colour = white
                if (u - 25) ** 2 + (v - 38) ** 2 <= 9:
                    colour = blue
                for r in (8.5, 5.5):
                    d = ((u - 25) ** 2 + (v - 32) ** 2) ** 0.5
                    if abs(d - r) <= 1.5 and v < 30:
                        colour = blue
            for cy, lamp in ((22, (0, 255, 0)), (40, (255, 0, 0))):
                d = ((u - 52) ** 2 + (v - cy) ** 2) ** 0.5
                if d <= 6:
                    colour = black if d > 4.8 else lamp
            row += bytes(colour)
        rows.append(bytes(row))
    raw = b"".join(rows)

    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data) & 0xFFFFFFFF)

    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", size, size, 8, 2, 0, 0, 0)) +
            chunk(b"IDAT", zlib.compress(raw, 9)) + chunk(b"IEND", b""))


if __name__ == "__main__":
    out = Path(sys.argv[1])
    for size in (192, 512):
        (out / ("icon-%d.png" % size)).write_bytes(draw(size))
