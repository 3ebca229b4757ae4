#!/usr/bin/env python3
"""Draws the program icon (a clipboard holding a written page, with a small
vault lock) at 32x32 and 16x16 pixels and writes Scrapvault.ico next to this
script. Standard library only; run it again after changing a picture."""
import os
import sys

# Running the script should leave nothing but the icon in the source tree.
sys.dont_write_bytecode = True
from icon_file import write_ico  # noqa: E402

TRANSPARENT = None
BOARD = (139, 90, 43)
BOARD_EDGE = (92, 58, 26)
PAPER = (255, 255, 255)
PAPER_EDGE = (150, 150, 150)
CLIP = (196, 204, 212)
CLIP_EDGE = (72, 80, 92)
INK = (48, 96, 192)
LOCK = (230, 180, 40)
LOCK_EDGE = (120, 86, 10)


class Canvas:
    def __init__(self, size):
        self.size = size
        self.pixels = [[TRANSPARENT] * size for _ in range(size)]

    def rect(self, left, top, right, bottom, fill, edge=None):
        """Fills the inclusive rectangle; the edge colour draws its outline."""
        for y in range(top, bottom + 1):
            for x in range(left, right + 1):
                on_edge = x in (left, right) or y in (top, bottom)
                self.pixels[y][x] = edge if (edge and on_edge) else fill

    def cut_corners(self, left, top, right, bottom):
        for x, y in ((left, top), (right, top), (left, bottom), (right, bottom)):
            self.pixels[y][x] = TRANSPARENT

    def hline(self, x0, x1, y, colour):
        for x in range(x0, x1 + 1):
            self.pixels[y][x] = colour


def draw32():
    c = Canvas(32)
    c.rect(3, 3, 27, 30, BOARD, BOARD_EDGE)
    c.cut_corners(3, 3, 27, 30)
    c.rect(6, 7, 24, 27, PAPER, PAPER_EDGE)
    for y, end in ((11, 21), (14, 19), (17, 21), (20, 17), (23, 14)):
        c.hline(8, end, y, INK)
    c.rect(10, 1, 20, 7, CLIP, CLIP_EDGE)
    c.rect(13, 3, 17, 4, CLIP_EDGE)
    # The vault lock: shackle over a body.
    c.rect(22, 17, 27, 21, TRANSPARENT, LOCK_EDGE)
    c.rect(23, 18, 26, 21, TRANSPARENT)
    c.rect(20, 21, 29, 30, LOCK, LOCK_EDGE)
    c.rect(24, 24, 25, 27, LOCK_EDGE)
    return c


def draw16():
    c = Canvas(16)
    c.rect(1, 2, 13, 15, BOARD, BOARD_EDGE)
    c.cut_corners(1, 2, 13, 15)
    c.rect(3, 4, 11, 13, PAPER, PAPER_EDGE)
    for y, end in ((6, 9), (8, 8), (10, 9)):
        c.hline(5, end, y, INK)
    c.rect(5, 0, 9, 3, CLIP, CLIP_EDGE)
    c.rect(11, 8, 14, 10, TRANSPARENT, LOCK_EDGE)
    c.rect(12, 9, 13, 10, TRANSPARENT)
    c.rect(10, 10, 15, 15, LOCK, LOCK_EDGE)
    c.rect(12, 12, 13, 13, LOCK_EDGE)
    return c


if __name__ == '__main__':
    here = os.path.dirname(os.path.abspath(__file__))
    write_ico(os.path.join(here, 'Scrapvault.ico'), [draw32(), draw16()])
