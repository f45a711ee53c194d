#!/usr/bin/env python3
"""Draws the program's 32 x 32 icon and writes it as an XPM image (24-bit colours, no transparency).

Run it from anywhere: it writes brindlemark.xpm beside itself. With --png SIZE FILE (repeatable) it writes the
same picture drawn at SIZE x SIZE pixels as PNG files instead: the build makes the desktop icons so. The picture: a tile of amber with dark brindle
stripes on a night-blue ground, carrying a white letter B; a small green arrow in the corner stands for renaming.
"""
import math
import os
import struct
import sys
import zlib

SIZE = 32
SUB = 4  # supersampling per axis


def lerp(a, b, t):
    return tuple(a[i] + (b[i] - a[i]) * t for i in range(3))


def in_round_rect(x, y, x0, y0, x1, y1, r):
    if x < x0 or x > x1 or y < y0 or y > y1:
        return False
    cx = min(max(x, x0 + r), x1 - r)
    cy = min(max(y, y0 + r), y1 - r)
    return (x - cx) ** 2 + (y - cy) ** 2 <= r * r


# The letter B on a 10 x 14 grid of cells, each cell 1.3 pixels, placed from (6, 6.5).
LETTER = [
    "#######...",
    "########..",
    "##....###.",
    "##.....##.",
    "##.....##.",
    "##....###.",
    "#######...",
    "########..",
    "##.....###",
    "##......##",
    "##......##",
    "##.....###",
    "#########.",
    "########..",
]
CELL = 1.3
LX, LY = 6.0, 6.5


def letter_at(x, y):
    col = int((x - LX) / CELL)
    row = int((y - LY) / CELL)
    if x < LX or y < LY or row >= len(LETTER) or col >= len(LETTER[0]):
        return False
    return LETTER[row][col] == "#"


def letter_outline(x, y):
    for dx, dy in ((-1, 0), (1, 0), (0, -1), (0, 1), (-0.7, -0.7), (0.7, 0.7), (-0.7, 0.7), (0.7, -0.7)):
        if letter_at(x + dx, y + dy):
            return True
    return False


def arrow_at(x, y):
    # A right-pointing arrow in the lower right corner: shaft and head.
    if 22.0 <= y <= 24.5 and 19.0 <= x <= 25.0:
        return True
    # head: a triangle with its tip at (29.5, 23.25) and its base at x = 24.5, from y = 19.25 to 27.25
    if 24.5 <= x <= 29.5:
        half = (29.5 - x) / 5.0 * 4.0
        return abs(y - 23.25) <= half
    return False


def sample(x, y):
    ground = lerp((20, 32, 72), (8, 14, 36), y / SIZE)
    colour = ground
    if in_round_rect(x, y, 2.0, 2.0, 29.5, 29.5, 5.0):
        amber = lerp((240, 178, 70), (205, 120, 40), (x + y) / (2 * SIZE))
        stripe = math.sin((x * 0.55 + y * 0.9) + 1.7 * math.sin(y * 0.35 + x * 0.12))
        colour = lerp(amber, (92, 50, 20), 0.85) if stripe > 0.55 else amber
        if not in_round_rect(x, y, 3.0, 3.0, 28.5, 28.5, 4.0):
            colour = (70, 38, 14)  # the tile's rim
    if letter_outline(x, y):
        colour = (40, 22, 10)
    if letter_at(x, y):
        colour = (250, 248, 240)
    if arrow_at(x, y):
        colour = (60, 200, 90)
    return colour


def pixel(px, py, size=SIZE):
    # The picture is drawn in 32-unit coordinates; larger icons take fewer samples per pixel.
    sub = max(2, SUB * SIZE // size) if size != SIZE else SUB
    scale = SIZE / size
    total = [0.0, 0.0, 0.0]
    for sy in range(sub):
        for sx in range(sub):
            c = sample((px + (sx + 0.5) / sub) * scale, (py + (sy + 0.5) / sub) * scale)
            for i in range(3):
                total[i] += c[i]
    return tuple(max(0, min(255, round(t / (sub * sub)))) for t in total)


def write_png(path, size):
    rows = b"".join(b"\0" + bytes(v for x in range(size) for v in pixel(x, y, size)) for y in range(size))

    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data) & 0xFFFFFFFF)

    header = struct.pack(">IIBBBBB", size, size, 8, 2, 0, 0, 0)  # 8-bit RGB
    with open(path, "wb") as f:
        f.write(b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) + chunk(b"IDAT", zlib.compress(rows, 9)) +
                chunk(b"IEND", b""))


def main():
    args = sys.argv[1:]
    if args:
        if len(args) % 3 != 0 or any(args[i] != "--png" for i in range(0, len(args), 3)):
            raise SystemExit("usage: makeicon.py [--png SIZE FILE]...")
        for i in range(0, len(args), 3):
            write_png(args[i + 2], int(args[i + 1]))
        return
    pixels = [[pixel(x, y) for x in range(SIZE)] for y in range(SIZE)]
    colours = sorted({c for row in pixels for c in row})
    symbols = "".join(chr(c) for c in range(35, 127) if chr(c) not in '"\\')
    width = 1 if len(colours) <= len(symbols) else 2
    if width == 2 and len(colours) > len(symbols) ** 2:
        raise SystemExit("too many colours")

    def symbol(index):
        if width == 1:
            return symbols[index]
        return symbols[index // len(symbols)] + symbols[index % len(symbols)]

    table = {c: symbol(i) for i, c in enumerate(colours)}
    lines = ["/* XPM */", "static const char* const brindlemark_xpm[] = {",
             f'"{SIZE} {SIZE} {len(colours)} {width}",']
    for c in colours:
        lines.append(f'"{table[c]} c #{c[0]:02X}{c[1]:02X}{c[2]:02X}",')
    for y, row in enumerate(pixels):
        end = "," if y + 1 < SIZE else ""
        lines.append('"' + "".join(table[c] for c in row) + '"' + end)
    lines.append("};")
    out = os.path.join(os.path.dirname(os.path.abspath(__file__)), "brindlemark.xpm")
    with open(out, "w", newline="\n") as f:
        f.write("\n".join(lines) + "\n")
    print(f"{out}: {len(colours)} colours")


if __name__ == "__main__":
    main()
