#!/usr/bin/env python3
"""Writes PNG files in every colour type and bit depth the decoders must agree
on (grey 1/2/4/8/16 bit, grey+alpha, RGB 8/16 bit, a palette with and without
transparency, RGBA, an RGB transparency key, an interlaced image, one with a
gamma chunk), with odd sizes and noise. Usage: make_pngs.py OUTDIR"""
import os
import random
import struct
import sys
import zlib


def chunk(kind, data):
    body = kind + data
    return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body) & 0xFFFFFFFF)


def rows(width, height, depth, channels, rng):
    bits = width * depth * channels
    row_bytes = (bits + 7) // 8
    return [bytes(rng.randrange(256) for _ in range(row_bytes)) for _ in range(height)]


def png(width, height, depth, colour, data_rows, extra=b"", interlace=0):
    # Every filter type in turn; palette rows stay unfiltered so that each
    # index stays inside the palette.
    filters = 1 if colour == 3 else 5
    raw = b"".join(bytes([i % filters]) + r for i, r in enumerate(data_rows))
    if interlace:
        raw = adam7(width, height, depth, colour, data_rows)
    header = struct.pack(">IIBBBBB", width, height, depth, colour, 0, 0, interlace)
    return b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) + extra + chunk(b"IDAT", zlib.compress(raw)) + chunk(b"IEND", b"")


def adam7(width, height, depth, colour, data_rows):
    # 8-bit samples only: pick the pixels of each pass out of the full rows.
    channels = {0: 1, 2: 3, 3: 1, 4: 2, 6: 4}[colour] * depth // 8
    out = b""
    for x0, y0, dx, dy in ((0, 0, 8, 8), (4, 0, 8, 8), (0, 4, 4, 8), (2, 0, 4, 4), (0, 2, 2, 4), (1, 0, 2, 2), (0, 1, 1, 2)):
        for y in range(y0, height, dy):
            line = b"".join(data_rows[y][x * channels:(x + 1) * channels] for x in range(x0, width, dx))
            if line:
                out += b"\x00" + line
    return out


def main():
    out = sys.argv[1]
    os.makedirs(out, exist_ok=True)
    rng = random.Random(12)
    cases = {}
    for depth in (1, 2, 4, 8, 16):
        cases["grey%d.png" % depth] = png(37, 19, depth, 0, rows(37, 19, depth, 1, rng))
    cases["greyalpha.png"] = png(23, 17, 8, 4, rows(23, 17, 8, 2, rng))
    cases["rgb.png"] = png(41, 13, 8, 2, rows(41, 13, 8, 3, rng))
    cases["rgb16.png"] = png(29, 11, 16, 2, rows(29, 11, 16, 3, rng))
    cases["rgba.png"] = png(31, 21, 8, 6, rows(31, 21, 8, 4, rng))
    palette = chunk(b"PLTE", bytes(rng.randrange(256) for _ in range(16 * 3)))
    index_rows = [bytes(rng.randrange(16) for _ in range(27)) for _ in range(15)]
    cases["palette.png"] = png(27, 15, 8, 3, index_rows, palette)
    cases["palette-trns.png"] = png(27, 15, 8, 3, index_rows, palette + chunk(b"tRNS", bytes(range(0, 160, 10))))
    rgb_rows = rows(16, 16, 8, 3, rng)
    key = rgb_rows[3][0:3]
    cases["rgb-key.png"] = png(16, 16, 8, 2, rgb_rows, chunk(b"tRNS", struct.pack(">HHH", *key)))
    cases["interlaced.png"] = png(33, 25, 8, 6, rows(33, 25, 8, 4, rng), interlace=1)
    cases["gamma.png"] = png(19, 19, 8, 2, rows(19, 19, 8, 3, rng), chunk(b"gAMA", struct.pack(">I", 100000)))
    for name, data in cases.items():
        with open(os.path.join(out, name), "wb") as f:
            f.write(data)


main()
