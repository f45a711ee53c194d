#!/usr/bin/env python3
"""Turns the program's XPM icon into a Windows .ico file: one 32 x 32 image with 24-bit colour.

    xpm2ico.py IN.xpm OUT.ico
"""
import re
import struct
import sys


def read_xpm(path):
    rows = re.findall(r'"([^"]*)"', open(path, encoding="ascii").read())
    width, height, count, chars = (int(v) for v in rows[0].split()[:4])
    colours = {}
    for line in rows[1:1 + count]:
        key, rest = line[:chars], line[chars:].split()
        value = rest[rest.index("c") + 1]
        colours[key] = tuple(int(value[i:i + 2], 16) for i in (1, 3, 5))
    pixels = []
    for line in rows[1 + count:1 + count + height]:
        pixels.append([colours[line[x * chars:(x + 1) * chars]] for x in range(width)])
    return width, height, pixels


def ico(width, height, pixels):
    row_bytes = (width * 3 + 3) & ~3
    mask_bytes = ((width + 31) // 32) * 4
    # Rows bottom up, each pixel blue, green, red, each row padded to four bytes.
    xor = b"".join(b"".join(bytes((p[2], p[1], p[0])) for p in row).ljust(row_bytes, b"\0")
                   for row in reversed(pixels))
    mask = b"\0" * (mask_bytes * height)  # every pixel opaque
    header = struct.pack("<IiiHHIIiiII", 40, width, height * 2, 1, 24, 0, len(xor) + len(mask), 0, 0, 0, 0)
    image = header + xor + mask
    directory = struct.pack("<HHH", 0, 1, 1)
    entry = struct.pack("<BBBBHHII", width % 256, height % 256, 0, 0, 1, 24, len(image), 6 + 16)
    return directory + entry + image


def main():
    if len(sys.argv) != 3:
        raise SystemExit("usage: xpm2ico.py IN.xpm OUT.ico")
    with open(sys.argv[2], "wb") as out:
        out.write(ico(*read_xpm(sys.argv[1])))


if __name__ == "__main__":
    main()
