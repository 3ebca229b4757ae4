#!/usr/bin/env python3
"""Draws the images of the archive tree's image list and writes them next to
this script: blank.bmp, a white 16x16 square, and one icon per kind of
captured data, a coloured disc bearing the kind's initial, at 32x32 and 16x16
pixels. Standard library only; run it again after changing a picture."""
import os
import struct
import sys

# Running the script should leave nothing but the images in the source tree.
sys.dont_write_bytecode = True
from icon_file import write_ico  # noqa: E402

WHITE = (255, 255, 255)

# Hand-made capitals, 9 pixels high with two-pixel stems so that they stay
# legible on a 16x16 disc; the 32x32 images double every pixel.
GLYPHS = {
    'B': ('######.',
          '##...##',
          '##...##',
          '##...##',
          '######.',
          '##...##',
          '##...##',
          '##...##',
          '######.'),
    'H': ('##...##',
          '##...##',
          '##...##',
          '##...##',
          '#######',
          '##...##',
          '##...##',
          '##...##',
          '##...##'),
    'M': ('##....##',
          '###..###',
          '########',
          '##.##.##',
          '##....##',
          '##....##',
          '##....##',
          '##....##',
          '##....##'),
    'R': ('######.',
          '##...##',
          '##...##',
          '##...##',
          '######.',
          '##.##..',
          '##..##.',
          '##...##',
          '##...##'),
    'T': ('########',
          '...##...',
          '...##...',
          '...##...',
          '...##...',
          '...##...',
          '...##...',
          '...##...',
          '...##...'),
}

# File name, disc colour and letter of each kind of data.
KINDS = (
    ('type_bitmap.ico', (204, 32, 32), 'B'),
    ('type_html.ico', (32, 80, 200), 'H'),
    ('type_metafile.ico', (128, 48, 168), 'M'),
    ('type_rtf.ico', (24, 136, 56), 'R'),
    ('type_text.ico', (128, 16, 16), 'T'),
)

SUBSAMPLES = 4


class Canvas:
    def __init__(self, size):
        self.size = size
        self.pixels = [[None] * size for _ in range(size)]

    def disc(self, colour):
        """Fills the disc touching the four sides; edge pixels get the share
        of their area inside it as their alpha."""
        centre = self.size / 2
        radius = centre - 0.25
        for y in range(self.size):
            for x in range(self.size):
                inside = 0
                for sy in range(SUBSAMPLES):
                    for sx in range(SUBSAMPLES):
                        dx = x + (sx + 0.5) / SUBSAMPLES - centre
                        dy = y + (sy + 0.5) / SUBSAMPLES - centre
                        inside += dx * dx + dy * dy <= radius * radius
                alpha = round(255 * inside / SUBSAMPLES ** 2)
                if alpha:
                    self.pixels[y][x] = colour + (alpha,)

    def letter(self, glyph, colour):
        """Draws the glyph centred, each of its pixels as a square of pixels
        one sixteenth of the canvas across."""
        scale = self.size // 16
        height, width = len(glyph) * scale, len(glyph[0]) * scale
        top, left = (self.size - height) // 2, (self.size - width) // 2
        for row, line in enumerate(glyph):
            for column, mark in enumerate(line):
                if mark != '#':
                    continue
                for y in range(top + row * scale, top + (row + 1) * scale):
                    for x in range(left + column * scale, left + (column + 1) * scale):
                        self.pixels[y][x] = colour


def type_image(size, colour, letter):
    c = Canvas(size)
    c.disc(colour)
    c.letter(GLYPHS[letter], WHITE)
    return c


def write_blank_bmp(path, size=16):
    """A 24-bit bitmap, all white."""
    stride = (size * 3 + 3) // 4 * 4
    pixels = bytes([255]) * (stride * size)
    info = struct.pack('<IiiHHIIiiII', 40, size, size, 1, 24, 0, len(pixels), 2835, 2835, 0, 0)
    offset = 14 + len(info)
    header = struct.pack('<2sIHHI', b'BM', offset + len(pixels), 0, 0, offset)
    with open(path, 'wb') as f:
        f.write(header + info + pixels)


if __name__ == '__main__':
    here = os.path.dirname(os.path.abspath(__file__))
    write_blank_bmp(os.path.join(here, 'blank.bmp'))
    for name, colour, letter in KINDS:
        write_ico(os.path.join(here, name),
                  [type_image(32, colour, letter), type_image(16, colour, letter)])
