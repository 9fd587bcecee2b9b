#!/usr/bin/env python3
"""Draws the About page's banner (a 24-bit BMP) at build time: a blue-to-teal ramp with a
row of lighter blocks, 296 x 50 pixels."""
import struct
import sys

W, H = 296, 50
rows = []
for y in range(H):
    row = bytearray()
    for x in range(W):
        r = 20 + x * 40 // W
        g = 60 + x * 120 // W
        b = 150 + y * 60 // H
        if 10 <= y < 40 and (x // 24) % 2 == 0 and x < 24 * 8:
            r, g, b = min(r + 90, 255), min(g + 70, 255), min(b + 40, 255)
        row += bytes((b, g, r))
    row += b"\0" * ((4 - len(row) % 4) % 4)
    rows.append(bytes(row))
pixels = b"".join(reversed(rows))
header = struct.pack("<2sIHHI", b"BM", 54 + len(pixels), 0, 0, 54)
info = struct.pack("<IiiHHIIiiII", 40, W, H, 1, 24, 0, len(pixels), 2835, 2835, 0, 0)
with open(sys.argv[1], "wb") as f:
    f.write(header + info + pixels)
