#!/usr/bin/env python3
"""Draws the program's icon (resource 119) and the About picture (bitmap 120).

Run from anywhere; writes dividezurirer.ico and about.bmp beside this script. The pictures are
drawn from simple shapes (a flash chip with pins and a download arrow), supersampled 4x for smooth
edges, so the output is the same on every run. Only the Python standard library is used.
"""
import os
import struct

HERE = os.path.dirname(os.path.abspath(__file__))
SS = 4  # supersampling factor per axis

CHIP = (52, 60, 72)
CHIP_EDGE = (28, 32, 40)
PIN = (196, 200, 206)
LABEL = (232, 190, 64)
ARROW = (40, 170, 72)
ARROW_EDGE = (20, 100, 40)


def inside_round_rect(x, y, x0, y0, x1, y1, r):
    if x < x0 or x > x1 or y < y0 or y > y1:
        return False
    cx = min(max(x, x0 + r), x1 - r)
    cy = min(max(y, y0 + r), y1 - r)
    return (x - cx) ** 2 + (y - cy) ** 2 <= r * r


def inside_polygon(x, y, points):
    result = False
    j = len(points) - 1
    for i in range(len(points)):
        xi, yi = points[i]
        xj, yj = points[j]
        if (yi > y) != (yj > y) and x < (xj - xi) * (y - yi) / (yj - yi) + xi:
            result = not result
        j = i
    return result


def arrow_points(scale):
    # A downward arrow in the unit square, scaled.
    unit = [(0.38, 0.02), (0.62, 0.02), (0.62, 0.40), (0.80, 0.40), (0.50, 0.74),
            (0.20, 0.40), (0.38, 0.40)]
    return [(x * scale, y * scale) for x, y in unit]


def shade(x, y, size):
    """Colour (r, g, b, a) of the icon at (x, y) in a size x size square (0..1 coordinates)."""
    u, v = x / size, y / size
    arrow = arrow_points(1.0)
    arrow_in = inside_polygon(u, v, arrow)
    # The arrow's outline: the same shape, slightly grown.
    grown = [(0.5 + (px - 0.5) * 1.12, 0.38 + (py - 0.38) * 1.10) for px, py in arrow]
    arrow_edge = inside_polygon(u, v, grown) and not arrow_in
    if arrow_in:
        return ARROW + (255,)
    if arrow_edge:
        return ARROW_EDGE + (255,)
    # Chip body in the lower part with pins on both sides.
    if inside_round_rect(u, v, 0.18, 0.42, 0.82, 0.96, 0.06):
        if not inside_round_rect(u, v, 0.21, 0.45, 0.79, 0.93, 0.045):
            return CHIP_EDGE + (255,)
        if inside_round_rect(u, v, 0.30, 0.74, 0.70, 0.86, 0.02):
            return LABEL + (255,)
        return CHIP + (255,)
    for k in range(4):
        top = 0.50 + k * 0.115
        if top <= v <= top + 0.06 and (0.06 <= u < 0.18 or 0.82 < u <= 0.94):
            return PIN + (255,)
    return (0, 0, 0, 0)


def render(size, background=None):
    """Rows top to bottom of (r, g, b, a), supersampled; with a background colour, opaque."""
    rows = []
    n = size * SS
    for py in range(size):
        row = []
        for px in range(size):
            acc = [0, 0, 0, 0]
            for sy in range(SS):
                for sx in range(SS):
                    x = (px * SS + sx + 0.5) / SS
                    y = (py * SS + sy + 0.5) / SS
                    r, g, b, a = shade(x, y, size)
                    acc[0] += r * a
                    acc[1] += g * a
                    acc[2] += b * a
                    acc[3] += a
            count = SS * SS
            alpha = acc[3] / count
            if alpha > 0:
                colour = [c / acc[3] for c in acc[:3]]
            else:
                colour = [0, 0, 0]
            if background is not None:
                t = alpha / 255.0
                colour = [colour[i] * t + background(px, py)[i] * (1 - t) for i in range(3)]
                alpha = 255
            row.append(tuple(int(round(c)) for c in colour) + (int(round(alpha)),))
        rows.append(row)
    del n
    return rows


def icon_image(size):
    """One icon image: BITMAPINFOHEADER, 32-bit BGRA rows bottom-up, then the 1-bit AND mask."""
    rows = render(size)
    header = struct.pack('<IiiHHIIiiII', 40, size, size * 2, 1, 32, 0, 0, 0, 0, 0, 0)
    pixels = bytearray()
    for row in reversed(rows):
        for r, g, b, a in row:
            pixels += bytes((b, g, r, a))
    mask_stride = ((size + 31) // 32) * 4
    mask = bytearray()
    for row in reversed(rows):
        line = bytearray(mask_stride)
        for x, (_, _, _, a) in enumerate(row):
            if a == 0:
                line[x // 8] |= 0x80 >> (x % 8)
        mask += line
    return header + bytes(pixels) + bytes(mask)


def write_icon(path, sizes):
    images = [icon_image(s) for s in sizes]
    out = bytearray(struct.pack('<HHH', 0, 1, len(images)))
    offset = 6 + 16 * len(images)
    for size, data in zip(sizes, images):
        out += struct.pack('<BBBBHHII', size % 256, size % 256, 0, 0, 1, 32, len(data), offset)
        offset += len(data)
    for data in images:
        out += data
    with open(path, 'wb') as f:
        f.write(out)


def write_about(path, width, height):
    """A 24-bit picture: the icon drawn large on a blue gradient band."""
    def background(x, y):
        t = y / max(1, height - 1)
        return (int(24 + 40 * t), int(64 + 60 * t), int(140 + 70 * t))

    size = height
    art = render(size, background=lambda x, y: background(x, y))
    stride = (width * 3 + 3) & ~3
    pixels = bytearray()
    left = (width - size) // 2
    for y in reversed(range(height)):
        line = bytearray()
        for x in range(width):
            if left <= x < left + size:
                r, g, b, _ = art[y][x - left]
            else:
                r, g, b = background(x, y)
            line += bytes((b, g, r))
        line += bytes(stride - len(line))
        pixels += line
    info = struct.pack('<IiiHHIIiiII', 40, width, height, 1, 24, 0, len(pixels), 2835, 2835, 0, 0)
    file_header = struct.pack('<2sIHHI', b'BM', 14 + 40 + len(pixels), 0, 0, 14 + 40)
    with open(path, 'wb') as f:
        f.write(file_header + info + bytes(pixels))


if __name__ == '__main__':
    write_icon(os.path.join(HERE, 'dividezurirer.ico'), [16, 32, 48])
    write_about(os.path.join(HERE, 'about.bmp'), 96, 64)
