#!/usr/bin/env python3
"""Draws the main toolbar's button images, 16x16 each and in the toolbar's
order (separators have none), into toolbar.bmp next to this script: one strip,
32 bits per pixel with straight alpha, bottom-up. The menus show the same
images beside their commands. Standard library only; run it again after
changing a picture."""
import math
import os
import struct

SIZE = 16
# Samples per pixel edge: shapes are tested at 4 x 4 points and averaged, which
# gives smooth edges without a drawing library.
SUB = 4

INK = (45, 52, 64)
BLUE = (38, 96, 178)
LIGHT_BLUE = (170, 205, 240)
RED = (200, 42, 42)
GREEN = (40, 150, 70)
ORANGE = (226, 140, 30)
PAPER = (255, 255, 255)
GREY = (150, 156, 166)
GOLD = (240, 200, 80)


def rect(x0, y0, x1, y1):
    return lambda x, y: x0 <= x <= x1 and y0 <= y <= y1


def disc(cx, cy, r):
    return lambda x, y: (x - cx) ** 2 + (y - cy) ** 2 <= r * r


def ring(cx, cy, r0, r1, start=None, end=None):
    """Between radii r0 and r1; with start and end (degrees, counter-clockwise
    from three o'clock, y pointing up) only that arc."""
    def inside(x, y):
        d = (x - cx) ** 2 + (y - cy) ** 2
        if not r0 * r0 <= d <= r1 * r1:
            return False
        if start is None:
            return True
        angle = math.degrees(math.atan2(cy - y, x - cx)) % 360
        return (angle - start) % 360 <= (end - start) % 360
    return inside


def segment(x0, y0, x1, y1, width):
    dx, dy = x1 - x0, y1 - y0
    length2 = dx * dx + dy * dy

    def inside(x, y):
        t = max(0.0, min(1.0, ((x - x0) * dx + (y - y0) * dy) / length2))
        px, py = x0 + t * dx - x, y0 + t * dy - y
        return px * px + py * py <= (width / 2) ** 2
    return inside


def polygon(points):
    def inside(x, y):
        result = False
        j = len(points) - 1
        for i, (xi, yi) in enumerate(points):
            xj, yj = points[j]
            if (yi > y) != (yj > y) and x < (xj - xi) * (y - yi) / (yj - yi) + xi:
                result = not result
            j = i
        return result
    return inside


def framed(x0, y0, x1, y1, fill, edge=INK):
    """A filled box with a one-pixel outline."""
    return [(rect(x0, y0, x1, y1), edge), (rect(x0 + 1, y0 + 1, x1 - 1, y1 - 1), fill)]


def pause():
    return [(rect(3.5, 2.5, 6.5, 13.5), BLUE), (rect(9.5, 2.5, 12.5, 13.5), BLUE)]


def delete():
    return [(segment(3.5, 3.5, 12.5, 12.5, 2.6), RED), (segment(12.5, 3.5, 3.5, 12.5, 2.6), RED)]


def floppy(x0, y0, x1, y1):
    w = x1 - x0
    return (framed(x0, y0, x1, y1, BLUE) +
            [(rect(x0 + 0.22 * w, y0 + 1, x1 - 0.22 * w, y0 + 0.42 * w), PAPER),
             (rect(x0 + 0.28 * w, y1 - 0.36 * w, x1 - 0.28 * w, y1 - 1), GREY)])


def save():
    return floppy(1.5, 1.5, 14.5, 14.5)


def save_as():
    return (floppy(0.5, 0.5, 11.5, 11.5) +
            [(segment(7.5, 14.5, 14.0, 8.0, 3.2), INK), (segment(8.2, 13.8, 13.5, 8.5, 1.6), ORANGE),
             (polygon([(6.2, 15.8), (7.0, 12.5), (9.5, 15.0)]), INK)])


def copy():
    lines = [(rect(8.5, y, 13.0, y + 0.9), GREY) for y in (7.0, 9.5, 12.0)]
    return framed(0.5, 0.5, 9.5, 11.5, PAPER) + framed(5.5, 4.5, 15.0, 15.5, PAPER) + lines


def by_application():
    return (framed(0.5, 1.5, 15.5, 14.5, PAPER, BLUE) + [(rect(0.5, 1.5, 15.5, 5.0), BLUE)] +
            [(rect(2.5, y, 11.5, y + 0.9), GREY) for y in (7.5, 10.0)])


def by_date():
    cells = [(rect(x, y, x + 1.6, y + 1.6), INK) for x in (3.5, 7.2, 10.9) for y in (7.5, 11.0)]
    return (framed(1.5, 2.5, 14.5, 15.0, PAPER) + [(rect(1.5, 2.5, 14.5, 6.0), RED)] + cells +
            [(rect(4.0, 0.5, 5.4, 4.0), INK), (rect(10.6, 0.5, 12.0, 4.0), INK)])


def by_type():
    return [(disc(5.0, 5.0, 4.0), RED), (rect(9.0, 1.5, 15.0, 7.5), GREEN),
            (polygon([(0.8, 15.2), (9.2, 15.2), (5.0, 8.6)]), BLUE),
            (rect(9.5, 10.0, 15.0, 11.2), INK), (rect(9.5, 13.0, 15.0, 14.2), INK)]


def find():
    return [(disc(6.5, 6.5, 4.5), LIGHT_BLUE), (ring(6.5, 6.5, 3.6, 5.4), INK),
            (segment(10.4, 10.4, 14.6, 14.6, 3.0), ORANGE)]


def font():
    return [(segment(2.5, 14.5, 8.0, 1.8, 2.4), INK), (segment(8.0, 1.8, 13.5, 14.5, 2.4), INK),
            (segment(5.0, 10.0, 11.0, 10.0, 1.8), INK)]


def word_wrap():
    return [(rect(0.5, 2.0, 12.0, 3.6), INK), (rect(0.5, 12.2, 7.0, 13.8), INK),
            (ring(10.5, 6.6, 2.0, 3.6, 270, 90), BLUE), (rect(6.0, 8.4, 10.5, 10.0), BLUE),
            (polygon([(3.2, 9.2), (7.2, 5.8), (7.2, 12.6)]), BLUE)]


def external_viewer():
    return (framed(0.5, 3.5, 12.5, 15.5, PAPER) + [(rect(0.5, 3.5, 12.5, 6.0), INK)] +
            [(segment(6.5, 10.0, 12.8, 3.2, 2.0), GREEN), (polygon([(15.6, 0.4), (9.0, 1.0), (15.0, 7.0)]), GREEN)])


def options():
    steel = (96, 104, 118)
    teeth = [(segment(8 + 4.0 * math.cos(a), 8 + 4.0 * math.sin(a),
                      8 + 7.0 * math.cos(a), 8 + 7.0 * math.sin(a), 2.8), steel)
             for a in (i * math.pi / 4 for i in range(8))]
    return teeth + [(disc(8, 8, 5.2), steel), (ring(8, 8, 2.4, 3.6), (150, 158, 170)), (disc(8, 8, 2.4), None)]


def help_mark():
    return [(disc(8, 8, 7.4), BLUE), (ring(8, 6.1, 1.6, 3.3, 330, 200), PAPER),
            (segment(10.4, 8.3, 8.0, 9.6, 1.7), PAPER), (rect(7.2, 9.3, 8.8, 10.7), PAPER),
            (disc(8, 12.9, 1.15), PAPER)]


# In the toolbar's order: Pause, Delete, Save As, Save, Copy, the three
# groupings (application, date, type), Find, Font, Word Wrap, External Viewer,
# Options and Help.
BUTTONS = [pause, delete, save_as, save, copy, by_application, by_date, by_type, find, font, word_wrap,
           external_viewer, options, help_mark]


def render(layers):
    """Rows of (r, g, b, a): each sample takes the colour of the last shape
    covering it (None erases), and a pixel averages its samples."""
    rows = []
    for py in range(SIZE):
        row = []
        for px in range(SIZE):
            r = g = b = a = 0
            for sy in range(SUB):
                for sx in range(SUB):
                    x = px + (sx + 0.5) / SUB
                    y = py + (sy + 0.5) / SUB
                    colour = None
                    for inside, fill in layers:
                        if inside(x, y):
                            colour = fill
                    if colour is not None:
                        r += colour[0]
                        g += colour[1]
                        b += colour[2]
                        a += 1
            if a:
                row.append((round(r / a), round(g / a), round(b / a), round(255 * a / (SUB * SUB))))
            else:
                row.append((0, 0, 0, 0))
        rows.append(row)
    return rows


def write_strip(path, images):
    width = SIZE * len(images)
    pixels = bytearray()
    for y in reversed(range(SIZE)):
        for image in images:
            for r, g, b, a in image[y]:
                pixels += bytes((b, g, r, a))
    info = struct.pack('<IiiHHIIiiII', 40, width, SIZE, 1, 32, 0, len(pixels), 2835, 2835, 0, 0)
    header = struct.pack('<2sIHHI', b'BM', 14 + len(info) + len(pixels), 0, 0, 14 + len(info))
    with open(path, 'wb') as out:
        out.write(header + info + pixels)


if __name__ == '__main__':
    here = os.path.dirname(os.path.abspath(__file__))
    write_strip(os.path.join(here, 'toolbar.bmp'), [render(draw()) for draw in BUTTONS])
