#!/usr/bin/env python3
"""Draws the launcher's icon: a play triangle on a round badge, as one .ico
holding four 256-colour (8 bits per pixel) images of 64, 32, 24 and 16 pixels.

  make_icon.py OUT.ico [SIZE ...]   other sizes: a test's stand-in for a studio's icon"""
import struct
import sys

SIZES = (64, 32, 24, 16)


def palette():
    # A 6x6x6 colour cube, then a grey ramp: 216 + 40 entries.
    colours = [(r * 51, g * 51, b * 51) for r in range(6) for g in range(6) for b in range(6)]
    colours += [(int(i * 255 / 39),) * 3 for i in range(40)]
    return colours


def nearest(colours, rgb):
    return min(range(len(colours)), key=lambda i: sum((a - b) ** 2 for a, b in zip(colours[i], rgb)))


def draw(size):
    """Colour (r, g, b) or None (transparent) for each pixel, top row first."""
    pixels = []
    c = (size - 1) / 2.0
    radius = size * 0.47
    for y in range(size):
        row = []
        for x in range(size):
            dx, dy = x - c, y - c
            d = (dx * dx + dy * dy) ** 0.5
            if d > radius:
                row.append(None)
                continue
            # The triangle points right: left edge at -0.3r, tip at +0.42r.
            u, v = dx / radius, dy / radius
            inside = -0.3 <= u <= 0.42 and abs(v) <= (0.42 - u) * 0.62
            if inside:
                row.append((255, 255, 255))
            elif d > radius - max(1.0, size / 16):
                row.append((20, 40, 90))
            else:
                shade = int(60 + 120 * (1 - (y / size)))
                row.append((30, shade, 200))
        pixels.append(row)
    return pixels


def image(size, colours, lookup):
    pixels = draw(size)
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 8, 0, 0, 0, 0, 256, 0)
    pal = b"".join(struct.pack("BBBB", b, g, r, 0) for r, g, b in colours)
    xor_stride = (size + 3) & ~3
    and_stride = ((size + 31) // 32) * 4
    xor = bytearray()
    mask = bytearray()
    for row in reversed(pixels):  # bottom-up
        line = bytearray(xor_stride)
        bits = bytearray(and_stride)
        for x, px in enumerate(row):
            if px is None:
                bits[x // 8] |= 0x80 >> (x % 8)
            else:
                line[x] = lookup.setdefault(px, nearest(colours, px))
        xor += line
        mask += bits
    return header + pal + bytes(xor) + bytes(mask)


def main(out_path, sizes=SIZES):
    colours = palette()
    colours += [(0, 0, 0)] * (256 - len(colours))
    lookup = {}
    images = [image(s, colours, lookup) for s in sizes]
    data = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for s, img in zip(sizes, images):
        data += struct.pack("<BBBBHHII", s, s, 0, 0, 1, 8, len(img), offset)
        offset += len(img)
    data += b"".join(images)
    with open(out_path, "wb") as f:
        f.write(data)


if __name__ == "__main__":
    main(sys.argv[1], tuple(int(s) for s in sys.argv[2:]) or SIZES)
