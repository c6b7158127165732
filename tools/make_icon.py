#!/usr/bin/env python3
"""Draws the program icon: a 32 x 32 image in 16 colours, a carton with a
downward arrow, and writes it as a Windows .ico file (one image)."""
import struct
import sys

# The standard 16-colour palette, as blue, green, red, reserved.
PALETTE = [
    (0, 0, 0), (128, 0, 0), (0, 128, 0), (128, 128, 0),
    (0, 0, 128), (128, 0, 128), (0, 128, 128), (192, 192, 192),
    (128, 128, 128), (255, 0, 0), (0, 255, 0), (255, 255, 0),
    (0, 0, 255), (255, 0, 255), (0, 255, 255), (255, 255, 255),
]  # indices as RGB
BLACK, DARK_YELLOW, GREY, BLUE, YELLOW, WHITE, DARK_BLUE = 0, 3, 8, 12, 11, 15, 4

SIZE = 32


def draw():
    pixels = [[None] * SIZE for _ in range(SIZE)]  # None is transparent

    def rect(x0, y0, x1, y1, colour):
        for y in range(y0, y1 + 1):
            for x in range(x0, x1 + 1):
                pixels[y][x] = colour

    # Carton: front face, darker side, outline.
    rect(4, 14, 23, 29, YELLOW)
    rect(24, 12, 27, 27, DARK_YELLOW)
    for x in range(4, 24):
        pixels[14][x] = BLACK
        pixels[29][x] = BLACK
    for y in range(14, 30):
        pixels[y][4] = BLACK
        pixels[y][23] = BLACK
    for i in range(4):
        pixels[13 - i][5 + i] = BLACK       # top-left edge of the lid
        pixels[13 - i][24 + i] = BLACK      # top-right edge
        pixels[28 - i][24 + i] = BLACK      # bottom-right edge
    for x in range(8, 28):
        pixels[10][x] = BLACK
    for y in range(10, 26):
        pixels[y][27] = BLACK
    rect(6, 11, 25, 13, DARK_YELLOW)
    # Arrow into the carton.
    rect(12, 1, 16, 12, BLUE)
    for i in range(6):
        for x in range(9 + i, 20 - i):
            pixels[13 + i][x] = BLUE
    for y in range(1, 13):
        pixels[y][11] = DARK_BLUE
        pixels[y][17] = DARK_BLUE
    for x in range(11, 18):
        pixels[0][x] = DARK_BLUE
    return pixels


def ico(pixels):
    xor_rows, and_rows = [], []
    for row in reversed(pixels):  # bottom-up DIB
        nibbles = [0 if c is None else c for c in row]
        xor_rows.append(bytes((nibbles[i] << 4) | nibbles[i + 1] for i in range(0, SIZE, 2)))
        mask = 0
        for c in row:
            mask = (mask << 1) | (1 if c is None else 0)
        and_rows.append(mask.to_bytes(4, "big"))
    header = struct.pack("<IiiHHIIiiII", 40, SIZE, SIZE * 2, 1, 4, 0,
                         len(xor_rows) * 16 + len(and_rows) * 4, 0, 0, 16, 0)
    palette = b"".join(struct.pack("BBBB", b, g, r, 0) for r, g, b in PALETTE)
    image = header + palette + b"".join(xor_rows) + b"".join(and_rows)
    directory = struct.pack("<HHH", 0, 1, 1)
    entry = struct.pack("<BBBBHHII", SIZE, SIZE, 16, 0, 1, 4, len(image), 6 + 16)
    return directory + entry + image


if __name__ == "__main__":
    import os
    os.makedirs(os.path.dirname(os.path.abspath(sys.argv[1])), exist_ok=True)
    with open(sys.argv[1], "wb") as out:
        out.write(ico(draw()))
