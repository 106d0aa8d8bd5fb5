#!/usr/bin/env python3
"""Draws the agent's two icons and writes them as .ico files beside this script.

MAINICON.ico: one 32x32 image, 256 colours (8-bit palette) with its AND mask.
SMALICON.ico: one 16x16 image, 16 colours (4-bit palette) with its AND mask.

The picture is a folder with a clock in front of it: the folders you used
last. Both sizes come from one scene given in 16-pixel units; the large one
is supersampled so that edges between shapes are smoothed, the small one is
sampled once per pixel so that it stays crisp. Edges against the background
are never blended, since the mask can only say in or out.

Needs nothing beyond the Python 3 standard library.
"""

import math
import os
import struct
import sys

OUTLINE = (128, 84, 8)
BACK = (222, 160, 32)
FRONT = (255, 206, 72)
SHINE = (255, 232, 150)
RING = (24, 84, 168)
FACE = (255, 255, 255)
HAND = (32, 32, 32)
ARROW = (24, 84, 168)


# Shapes answer whether a point (in 16-pixel units) lies inside them.

def rect(x0, y0, x1, y1):
    return lambda x, y: x0 <= x < x1 and y0 <= y < y1


def polygon(points):
    def inside(x, y):
        hit = False
        n = len(points)
        for i in range(n):
            (ax, ay), (bx, by) = points[i], points[(i + 1) % n]
            if (ay > y) != (by > y) and x < ax + (y - ay) * (bx - ax) / (by - ay):
                hit = not hit
        return hit
    return inside


def disc(cx, cy, r):
    return lambda x, y: (x - cx) ** 2 + (y - cy) ** 2 <= r * r


def segment(ax, ay, bx, by, half_width):
    def inside(x, y):
        dx, dy = bx - ax, by - ay
        t = max(0.0, min(1.0, ((x - ax) * dx + (y - ay) * dy) / (dx * dx + dy * dy)))
        px, py = ax + t * dx, ay + t * dy
        return (x - px) ** 2 + (y - py) ** 2 <= half_width * half_width
    return inside


def arc(cx, cy, r, half_width, start_deg, end_deg):
    """A ring band between two angles, counted clockwise from 12 o'clock."""
    def inside(x, y):
        d = math.hypot(x - cx, y - cy)
        if abs(d - r) > half_width:
            return False
        a = math.degrees(math.atan2(x - cx, -(y - cy))) % 360
        return start_deg <= a <= end_deg
    return inside


def scene(large):
    """Shapes painted in order, later over earlier, in 16-pixel units."""
    # A large image has half-unit pixels: a one-pixel line there is 0.5 units.
    px = 0.5 if large else 1.0
    shapes = [
        # Back of the folder with its tab.
        (polygon([(0, 3), (1, 2), (6, 2), (7, 3), (15, 3), (15, 13), (0, 13)]), OUTLINE),
        (polygon([(px, 3 + px), (1 + px / 2, 2 + px), (6 - px / 2, 2 + px),
                  (7 - px / 2, 3 + px), (15 - px, 3 + px), (15 - px, 13), (px, 13)]), BACK),
        # Front flap, leaning back a little.
        (polygon([(0, 14), (1, 6), (16, 6), (15, 14)]), OUTLINE),
        (polygon([(px, 14 - px), (1 + px, 6 + px), (16 - px, 6 + px), (15 - px, 14 - px)]), FRONT),
    ]
    if large:
        shapes.append((rect(1.5, 7, 14.5, 7.5), SHINE))
    # The clock, over the front flap's lower right corner.
    if large:
        cx, cy, r, ring, hand, up, right = 12.0, 12.0, 3.75, 1.0, 0.4, 2.1, 1.6
    else:
        cx, cy, r, ring, hand, up, right = 11.5, 11.5, 4.5, 1.0, 0.5, 3.0, 2.0
    shapes += [
        (disc(cx, cy, r), RING),
        (disc(cx, cy, r - ring), FACE),
        (segment(cx, cy, cx, cy - up, hand), HAND),
        (segment(cx, cy, cx + right, cy, hand), HAND),
    ]
    if large:
        # The "back in time" arrow: a band around the clock's upper left,
        # its head at the left pointing anticlockwise (downwards there).
        band = r + 1.1
        shapes += [
            (arc(cx, cy, band, 0.4, 265, 355), ARROW),
            (polygon([(cx - band - 1.3, cy - 1.2), (cx - band + 1.3, cy - 1.2),
                      (cx - band, cy + 0.6)]), ARROW),
        ]
    return shapes


def render(size, samples):
    """Each pixel: None (transparent) or the mean colour of its inked samples."""
    shapes = scene(size > 16)
    scale = 16.0 / size
    pixels = []
    for row in range(size):
        line = []
        for col in range(size):
            inked = []
            for sy in range(samples):
                for sx in range(samples):
                    x = (col + (sx + 0.5) / samples) * scale
                    y = (row + (sy + 0.5) / samples) * scale
                    colour = None
                    for inside, c in shapes:
                        if inside(x, y):
                            colour = c
                    if colour is not None:
                        inked.append(colour)
            if len(inked) * 2 < samples * samples:
                line.append(None)
            else:
                line.append(tuple(round(sum(c[i] for c in inked) / len(inked)) for i in range(3)))
        pixels.append(line)
    return pixels


def make_palette(pixels, limit):
    """The most frequent colours, at most limit; the rest map to the nearest."""
    counts = {}
    for line in pixels:
        for c in line:
            if c is not None:
                counts[c] = counts.get(c, 0) + 1
    palette = sorted(counts, key=lambda c: -counts[c])[:limit]
    palette += [(0, 0, 0)] * (limit - len(palette))
    return palette


def nearest(palette, colour):
    return min(range(len(palette)),
               key=lambda i: sum((palette[i][k] - colour[k]) ** 2 for k in range(3)))


def pack_rows(values, bits, size):
    """Bottom-up rows of bits-per-pixel values, each padded to four bytes."""
    stride = ((size * bits + 31) // 32) * 4
    data = bytearray()
    for line in reversed(values):
        row = bytearray(stride)
        for col, v in enumerate(line):
            bit = col * bits
            row[bit // 8] |= v << (8 - bits - bit % 8)
        data += row
    return bytes(data)


def icon_file(pixels, bits):
    size = len(pixels)
    colours = 1 << bits
    palette = make_palette(pixels, colours)
    # Transparent pixels take index 0 in the XOR image; the mask hides them.
    indices = [[0 if c is None else nearest(palette, c) for c in line] for line in pixels]
    mask = [[1 if c is None else 0 for c in line] for line in pixels]
    xor = pack_rows(indices, bits, size)
    andmask = pack_rows(mask, 1, size)
    header = struct.pack('<IiiHHIIiiII', 40, size, size * 2, 1, bits, 0,
                         len(xor) + len(andmask), 0, 0, 0, 0)
    table = b''.join(struct.pack('<BBBB', b, g, r, 0) for (r, g, b) in palette)
    image = header + table + xor + andmask
    directory = struct.pack('<HHH', 0, 1, 1)
    entry = struct.pack('<BBBBHHII', size, size, colours if colours < 256 else 0, 0,
                        1, bits, len(image), 6 + 16)
    return directory + entry + image


def main():
    folder = os.path.dirname(os.path.abspath(__file__))
    outputs = [('MAINICON.ico', 32, 8, 4), ('SMALICON.ico', 16, 4, 1)]
    for name, size, bits, samples in outputs:
        data = icon_file(render(size, samples), bits)
        with open(os.path.join(folder, name), 'wb') as f:
            f.write(data)
        print('%s: %dx%d, %d bits, %d bytes' % (name, size, size, bits, len(data)))
    return 0


if __name__ == '__main__':
    sys.exit(main())
