#!/usr/bin/env python3
"""Writes the glyph sheet: 32 x 16 cells of 12 x 24 pixels (384 x 384, 24-bit BMP).

Cell rows come in bands of three (codes 32-63, 64-95, 96-126): white from row 0, red from
row 3, green from row 6, blue from row 9, yellow from row 12, and row 15 alone holds codes
32-63 inverted (dark on light) for the "#i" band. Code c sits in column c mod 32.
The cells are opaque, so their dark background keeps the text readable on any picture.
"""

import argparse
import os
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

from bitmap_file import Canvas  # noqa: E402
from font_source import CELL_H, CELL_W, glyph_mask, load_font  # noqa: E402

CELL_BACKGROUND = (16, 16, 16)

# (first cell row, ink, cell background, number of cell rows). Red and blue are lightened
# a little: pure red or blue strokes carry too little luma to read after 4:2:2 conversion.
BANDS = [
    (0, (255, 255, 255), CELL_BACKGROUND, 3),
    (3, (255, 72, 72), CELL_BACKGROUND, 3),
    (6, (64, 255, 64), CELL_BACKGROUND, 3),
    (9, (96, 160, 255), CELL_BACKGROUND, 3),
    (12, (255, 255, 64), CELL_BACKGROUND, 3),
    (15, (16, 16, 16), (224, 224, 224), 1),
]


def make_sheet(font):
    sheet = Canvas(32 * CELL_W, 16 * CELL_H, CELL_BACKGROUND)
    for first_row, ink, background, rows in BANDS:
        for code in range(32, 32 + 32 * rows):
            if code > 126:
                continue
            col = code % 32
            row = first_row + (code - 32) // 32
            x0, y0 = col * CELL_W, row * CELL_H
            sheet.fill(x0, y0, x0 + CELL_W, y0 + CELL_H, background)
            mask = glyph_mask(font, code)
            for r in range(CELL_H):
                for c in range(CELL_W):
                    if mask[r][c]:
                        sheet.put(x0 + c, y0 + r, ink)
    return sheet


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("output", help="BMP file to write")
    args = parser.parse_args()
    make_sheet(load_font()).save_bmp(args.output)


if __name__ == "__main__":
    main()
