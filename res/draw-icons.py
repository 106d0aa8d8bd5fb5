#!/usr/bin/env python3
"""Draws the agent's icons and writes them as .ico files beside this script,
as icons.rc for Folderlane.exe (the pictures both share stored once), and
the pictures the README shows into ../docs.

SMALICON.ico, the small icon (the tray's, and the window class's small one):
  16x16 in 16 colours (4-bit palette, AND mask), for old displays, then the
  sizes the small icon takes at 100 to 350 % scale (16, 20, 24, 28, 32, 36,
  40, 48, 56) in 32-bit colour with an alpha channel.
MAINICON.ico, the large icon (the executable's in Explorer and the Start
  menu): 32x32 in 256 colours (8-bit palette, AND mask), then 16 up to 256 in
  32-bit colour with an alpha channel.

The picture is a folder with a clock in front of it: the folders you used
last. Every size is drawn from one scene given in 16-pixel units, never
scaled from another size: below 32 pixels the clock is larger and has no
arrow around it, so that it still reads; up to 48 pixels the outlines are
one pixel wide and the corners lie on whole pixels, so that the edges stay
crisp. The 32-bit images are supersampled: edges are blended against
transparency through the alpha channel. The palette images sample once per
pixel (16) or take the colour of the majority (32), since their mask can
only say in or out.

32-bit images are stored PNG-compressed (Windows Vista and later read
them): as bitmaps those up to 96 pixels would weigh ten times as much.

Needs nothing beyond the Python 3 standard library.
"""

import math
import os
import struct
import sys
import zlib

OUTLINE = (128, 84, 8)
BACK = (222, 160, 32)
FRONT = (255, 206, 72)
SHINE = (255, 232, 150)
RING = (24, 84, 168)
FACE = (255, 255, 255)
HAND = (32, 32, 32)
ARROW = (24, 84, 168)

SMALL_SIZES = (16, 20, 24, 28, 32, 36, 40, 48, 56)
LARGE_SIZES = (16, 20, 24, 32, 40, 48, 64, 96, 256)


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


def scene(size):
    """Shapes painted in order, later over earlier, in 16-pixel units, for an
    image of size by size pixels."""
    k = size / 16.0   # pixels per unit
    # Outlines one pixel wide, but no thinner than a quarter unit in large images.
    px = max(1.0 / k, 0.25)
    if size <= 48:
        def at(v):  # on a pixel edge
            return round(v * k) / k

        def half(v):  # on a pixel edge or centre
            return round(v * k * 2) / (k * 2)
    else:
        at = half = lambda v: v
    detailed = size >= 32
    # The folder's corners, on whole pixels where that keeps its edges crisp.
    x0, x1, x6, x7, x15, x16 = (at(v) for v in (0, 1, 6, 7, 15, 16))
    y2, y3, y6, y13, y14 = (at(v) for v in (2, 3, 6, 13, 14))
    shapes = [
        # Back of the folder with its tab.
        (polygon([(x0, y3), (x1, y2), (x6, y2), (x7, y3), (x15, y3), (x15, y13), (x0, y13)]), OUTLINE),
        (polygon([(x0 + px, y3 + px), (x1 + px / 2, y2 + px), (x6 - px / 2, y2 + px),
                  (x7 - px / 2, y3 + px), (x15 - px, y3 + px), (x15 - px, y13), (x0 + px, y13)]), BACK),
        # Front flap, leaning back a little.
        (polygon([(x0, y14), (x1, y6), (x16, y6), (x15, y14)]), OUTLINE),
        (polygon([(x0 + px, y14 - px), (x1 + px, y6 + px), (x16 - px, y6 + px), (x15 - px, y14 - px)]),
         FRONT),
    ]
    if detailed:
        shapes.append((rect(at(1.5), y6 + 2 * px, at(14.5), y6 + 3 * px), SHINE))
    # The clock, over the front flap's lower right corner.
    if detailed:
        cx, cy, r, ring, hand, up, right = 12.0, 12.0, 3.75, 1.0, 0.4, 2.1, 1.6
    else:
        cx, cy, r, ring, hand, up, right = 11.5, 11.5, 4.5, 1.0, 0.5, 3.0, 2.0
    cx, cy = half(cx), half(cy)
    shapes += [
        (disc(cx, cy, r), RING),
        (disc(cx, cy, r - ring), FACE),
        (segment(cx, cy, cx, cy - up, hand), HAND),
        (segment(cx, cy, cx + right, cy, hand), HAND),
    ]
    if detailed:
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
    """Each pixel: (r, g, b, coverage), coverage 0 to 1, the colour being the
    mean of its inked samples (black where none is)."""
    shapes = scene(size)
    scale = 16.0 / size
    offsets = [(s + 0.5) / samples for s in range(samples)]
    pixels = []
    for row in range(size):
        line = []
        for col in range(size):
            inked = []
            for oy in offsets:
                for ox in offsets:
                    x, y = (col + ox) * scale, (row + oy) * scale
                    colour = None
                    for inside, c in shapes:
                        if inside(x, y):
                            colour = c
                    if colour is not None:
                        inked.append(colour)
            if not inked:
                line.append((0, 0, 0, 0.0))
            else:
                mean = tuple(round(sum(c[i] for c in inked) / len(inked)) for i in range(3))
                line.append(mean + (len(inked) / samples ** 2,))
        pixels.append(line)
    return pixels


def rgba(size):
    """The 32-bit picture of this size: rows of (r, g, b, alpha 0-255)."""
    samples = 8 if size <= 48 else 4
    return [[(r, g, b, round(a * 255)) for r, g, b, a in line] for line in render(size, samples)]


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


def palette_image(size, bits, samples):
    """A bitmap image with a palette and its AND mask: (bits, colours, data)."""
    # Ink where most samples are inked; the mask cannot blend.
    pixels = [[c[:3] if c[3] >= 0.5 else None for c in line] for line in render(size, samples)]
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
    return bits, colours, header + table + xor + andmask


def png(pixels):
    """PNG bytes of rows of (r, g, b, a): 8-bit RGBA, with the one row filter
    and the deflate strategy that give the fewest bytes."""
    size = len(pixels)
    raw = [bytes(v for p in line for v in p) for line in pixels]

    def filtered(kind):
        stream = bytearray()
        prior = bytes(len(raw[0]))
        for row in raw:
            stream.append(kind)
            for i, v in enumerate(row):
                left = row[i - 4] if i >= 4 else 0
                up = prior[i]
                corner = prior[i - 4] if i >= 4 else 0
                if kind == 1:
                    guess = left
                elif kind == 2:
                    guess = up
                elif kind == 3:
                    guess = (left + up) // 2
                elif kind == 4:
                    p = left + up - corner
                    pa, pb, pc = abs(p - left), abs(p - up), abs(p - corner)
                    guess = left if pa <= pb and pa <= pc else up if pb <= pc else corner
                else:
                    guess = 0
                stream.append((v - guess) & 0xFF)
            prior = row
        return bytes(stream)

    def deflate(data, strategy):
        packer = zlib.compressobj(9, zlib.DEFLATED, 15, 9, strategy)
        return packer.compress(data) + packer.flush()

    data = min((deflate(filtered(kind), strategy) for kind in range(5)
                for strategy in (zlib.Z_DEFAULT_STRATEGY, zlib.Z_FILTERED)), key=len)

    def chunk(kind, data):
        return struct.pack('>I', len(data)) + kind + data + struct.pack('>I', zlib.crc32(kind + data))

    return (b'\x89PNG\r\n\x1a\n' + chunk(b'IHDR', struct.pack('>IIBBBBB', size, size, 8, 6, 0, 0, 0))
            + chunk(b'IDAT', data) + chunk(b'IEND', b''))


def icon_file(images):
    """An .ico of images [(size, bits, colours, data)], in this order."""
    directory = struct.pack('<HHH', 0, 1, len(images))
    offset = 6 + 16 * len(images)
    entries, blobs = b'', b''
    for size, bits, colours, data in images:
        entries += struct.pack('<BBBBHHII', size % 256, size % 256, colours % 256, 0,
                               1, bits, len(data), offset)
        blobs += data
        offset += len(data)
    return directory + entries + blobs


def raw(data):
    """Resource script data: the bytes as escaped strings, 32 to a line."""
    return ',\n'.join('  "%s"' % ''.join('\\x%02x' % b for b in data[i:i + 32])
                      for i in range(0, len(data), 32))


def icon_script(groups):
    """A resource script of icon groups [(name, images)]: images as in
    icon_file, each stored once as an RT_ICON (3), however many groups
    (RT_GROUP_ICON, 14) name it."""
    ids, lines = {}, []
    for name, images in groups:
        for image in images:
            if image not in ids:
                ids[image] = len(ids) + 1
                lines += ['%d 3\nBEGIN\n%s\nEND' % (ids[image], raw(image[3]))]
    for name, images in groups:
        directory = struct.pack('<HHH', 0, 1, len(images)) + b''.join(
            struct.pack('<BBBBHHIH', size % 256, size % 256, colours % 256, 0, 1, bits, len(data),
                        ids[(size, bits, colours, data)]) for size, bits, colours, data in images)
        lines += ['%s 14\nBEGIN\n%s\nEND' % (name, raw(directory))]
    return ('// Written by draw-icons.py: the icons of Folderlane.exe, each picture\n'
            '// stored once for both (ICON with an .ico would store the common ones twice).\n'
            + '\n'.join(lines) + '\n').encode()


def write(path, data):
    with open(path, 'wb') as f:
        f.write(data)


def main():
    folder = os.path.dirname(os.path.abspath(__file__))
    docs = os.path.join(os.path.dirname(folder), 'docs')
    pictures = {size: png(rgba(size)) for size in sorted(set(SMALL_SIZES + LARGE_SIZES))}
    outputs = [('SMALICON', (16, 4, 1), SMALL_SIZES), ('MAINICON', (32, 8, 4), LARGE_SIZES)]
    groups = []
    for name, (size, bits, samples), sizes in outputs:
        images = [(size,) + palette_image(size, bits, samples)]
        images += [(s, 32, 0, pictures[s]) for s in sizes]
        data = icon_file(images)
        write(os.path.join(folder, name + '.ico'), data)
        print('%s.ico: %d images, %d bytes' % (name, len(images), len(data)))
        groups.append((name, images))
    write(os.path.join(folder, 'icons.rc'), icon_script(groups))
    os.makedirs(docs, exist_ok=True)
    for size in (16, 32):
        write(os.path.join(docs, 'icon-%d.png' % size), pictures[size])
        # Four times as large, pixel for pixel, so that the pixels can be seen.
        big = [[p for p in line for _ in range(4)] for line in rgba(size) for _ in range(4)]
        write(os.path.join(docs, 'icon-%d-x4.png' % size), png(big))
    return 0


if __name__ == '__main__':
    sys.exit(main())
