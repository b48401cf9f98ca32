#!/usr/bin/env python3
"""Draws demo.png, the demo board as seen from above: 20 pixels a millimetre,
a 1 mm margin, the board's lower-left corner at pixel (20, 620).

Only the standard library, so that the picture can be drawn again anywhere."""
import struct
import sys
import zlib

SCALE, MARGIN = 20, 20
BOARD_W, BOARD_H = 40, 30
WIDTH, HEIGHT = BOARD_W * SCALE + 2 * MARGIN, BOARD_H * SCALE + 2 * MARGIN

# Pads in board mm (lower-left origin, y up), as the netlist gives them.
PADS = [(8, 22), (14, 22), (8, 16), (14, 16), (8, 10), (14, 10), (24, 22), (30, 22), (24, 10)]
BODIES = [((9, 21), (13, 23)), ((9, 15), (13, 17)), ((9, 9), (13, 11)), ((25, 21), (29, 23))]
FIDUCIALS = [(3, 3), (37, 3), (3, 27)]


def px(x, y):
    return MARGIN + x * SCALE, HEIGHT - MARGIN - y * SCALE


def main(path):
    pixels = [[(250, 250, 250)] * WIDTH for _ in range(HEIGHT)]

    def rect(x0, y0, x1, y1, colour):
        for y in range(max(0, int(y0)), min(HEIGHT, int(y1))):
            row = pixels[y]
            for x in range(max(0, int(x0)), min(WIDTH, int(x1))):
                row[x] = colour

    def disc(cx, cy, r, colour):
        for y in range(int(cy - r), int(cy + r) + 1):
            for x in range(int(cx - r), int(cx + r) + 1):
                if (x - cx) ** 2 + (y - cy) ** 2 <= r * r:
                    pixels[y][x] = colour

    rect(MARGIN, MARGIN, WIDTH - MARGIN, HEIGHT - MARGIN, (22, 110, 60))
    for (ax, ay), (bx, by) in BODIES:
        x0, y1 = px(ax, ay)
        x1, y0 = px(bx, by)
        rect(x0, y0, x1, y1, (40, 40, 40))
    for x, y in PADS:
        cx, cy = px(x, y)
        rect(cx - 18, cy - 18, cx + 18, cy + 18, (200, 160, 60))
    for x, y in FIDUCIALS:
        cx, cy = px(x, y)
        disc(cx, cy, 14, (22, 110, 60))
        disc(cx, cy, 9, (210, 210, 210))

    raw = b"".join(b"\0" + bytes(c for p in row for c in p) for row in pixels)

    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))

    png = b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", WIDTH, HEIGHT, 8, 2, 0, 0, 0))
    png += chunk(b"IDAT", zlib.compress(raw, 9)) + chunk(b"IEND", b"")
    with open(path, "wb") as f:
        f.write(png)


if __name__ == "__main__":
    main(sys.argv[1] if len(sys.argv) > 1 else "demo.png")
