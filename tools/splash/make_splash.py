#!/usr/bin/env python3
"""Draws the installer's splash picture (501 x 337, opaque RGB PNG) and writes it to the path
given, by default src/installer/res/Splash.png. Deterministic: the same bytes every run."""
import struct
import sys
import zlib

WIDTH, HEIGHT = 501, 337

# 5 x 7 capitals for the product name.
GLYPHS = {
    "O": ["01110", "10001", "10001", "10001", "10001", "10001", "01110"],
    "R": ["11110", "10001", "10001", "11110", "10100", "10010", "10001"],
    "V": ["10001", "10001", "10001", "10001", "10001", "01010", "00100"],
    "A": ["01110", "10001", "10001", "11111", "10001", "10001", "10001"],
    "N": ["10001", "11001", "10101", "10011", "10001", "10001", "10001"],
    "T": ["11111", "00100", "00100", "00100", "00100", "00100", "00100"],
}


def draw():
    px = [[(0, 0, 0)] * WIDTH for _ in range(HEIGHT)]
    for y in range(HEIGHT):
        for x in range(WIDTH):
            t = (x / WIDTH + y / HEIGHT) / 2
            px[y][x] = (int(14 + 20 * t), int(30 + 40 * t), int(64 + 70 * t))
    # A ring as the mark, left of the name.
    cx, cy, r1, r2 = 120, 168, 62, 44
    for y in range(cy - r1 - 1, cy + r1 + 2):
        for x in range(cx - r1 - 1, cx + r1 + 2):
            d = ((x - cx) ** 2 + (y - cy) ** 2) ** 0.5
            if r2 <= d <= r1:
                px[y][x] = (40, 200, 190)
    # The name, each font pixel a 6 x 6 block.
    scale, x0, y0 = 6, 212, 147
    for i, ch in enumerate("ORVANTA"):
        for row, bits in enumerate(GLYPHS[ch]):
            for col, bit in enumerate(bits):
                if bit == "1":
                    for dy in range(scale):
                        for dx in range(scale):
                            px[y0 + row * scale + dy][x0 + i * 6 * scale + col * scale + dx] = (236, 240, 245)
    return px


def png(px):
    raw = b"".join(b"\x00" + bytes(c for p in row for c in p) for row in px)

    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data) & 0xFFFFFFFF)

    header = struct.pack(">IIBBBBB", WIDTH, HEIGHT, 8, 2, 0, 0, 0)
    return b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) + chunk(b"IDAT", zlib.compress(raw, 9)) + chunk(b"IEND", b"")


if __name__ == "__main__":
    out = sys.argv[1] if len(sys.argv) > 1 else "src/installer/res/Splash.png"
    with open(out, "wb") as f:
        f.write(png(draw()))
