#!/usr/bin/env python3
"""Writes the default background picture: a 1920 x 1080 test card as a 24-bit BMP.

Smaller frames show a window of it (left edge, centred vertically) and scrolling frames
move that window, so every part of the card carries its own coordinates: the 120-pixel
grid lines are numbered at each crossing, and the picture's edges have a border and
coloured corner markers that show the seam when it wraps. The two field patches hold
text on one line parity only, so each field of an interlaced frame shows one of them.
"""

import argparse
import math
import os
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

from bitmap_file import Canvas  # noqa: E402
from font_source import CELL_H, CELL_W, draw_text, glyph_mask, load_font  # noqa: E402

W, H = 1920, 1080
BACKGROUND = (40, 40, 40)
MINOR_LINE = (66, 66, 66)
MAJOR_LINE = (128, 128, 128)
LABEL = (160, 160, 160)
BOX = (16, 16, 16)
WHITE = (255, 255, 255)
BLACK = (0, 0, 0)

MINOR, MAJOR = 20, 120
FIELD_PATCH_W = 3 * MAJOR - 4

# Bars: 1440 pixels wide in eight columns, centred.
BARS_X0, BARS_X1 = 240, 1680
BAR_COLOURS = [("WHITE", (1, 1, 1)), ("YELLOW", (1, 1, 0)), ("CYAN", (0, 1, 1)),
               ("GREEN", (0, 1, 0)), ("MAGENTA", (1, 0, 1)), ("RED", (1, 0, 0)),
               ("BLUE", (0, 0, 1)), ("BLACK", (0, 0, 0))]


def text_width(text, scale=1):
    return len(text) * CELL_W * scale


def draw_grid(card, font):
    for x in range(0, W, MINOR):
        card.fill(x, 0, x + 1, H, MINOR_LINE)
    for y in range(0, H, MINOR):
        card.fill(0, y, W, y + 1, MINOR_LINE)
    # Major lines are two pixels thick so that both fields of an interlaced frame hold them.
    for x in range(0, W, MAJOR):
        card.fill(x, 0, x + 2, H, MAJOR_LINE)
    for y in range(0, H, MAJOR):
        card.fill(0, y, W, y + 2, MAJOR_LINE)
    for y in range(0, H, MAJOR):
        for x in range(0, W, MAJOR):
            draw_text(card, font, x + 4, y + 4, f"{x},{y}", LABEL)


def draw_bars(card, font):
    n = len(BAR_COLOURS)
    for i, (name, (r, g, b)) in enumerate(BAR_COLOURS):
        x0 = BARS_X0 + i * (BARS_X1 - BARS_X0) // n
        x1 = BARS_X0 + (i + 1) * (BARS_X1 - BARS_X0) // n
        # 75 % bars above, full-intensity bars below.
        card.fill(x0, 150, x1, 390, (191 * r, 191 * g, 191 * b))
        card.fill(x0, 390, x1, 450, (255 * r, 255 * g, 255 * b))
        ink = BLACK if 0.299 * r + 0.587 * g + 0.114 * b > 0.4 else WHITE
        draw_text(card, font, (x0 + x1 - text_width(name)) // 2, 356, name, ink)
        draw_text(card, font, (x0 + x1 - text_width("75%")) // 2, 156, "75%", ink)
        draw_text(card, font, (x0 + x1 - text_width("100%")) // 2, 408, "100%", ink)


def draw_grey_scales(card, font):
    span = BARS_X1 - BARS_X0
    # A continuous ramp from black to white...
    for x in range(BARS_X0, BARS_X1):
        v = (x - BARS_X0) * 255 // (span - 1)
        card.fill(x, 630, x + 1, 690, (v, v, v))
    # ...and eleven steps of 10 %, labelled.
    for k in range(11):
        x0 = BARS_X0 + k * span // 11
        x1 = BARS_X0 + (k + 1) * span // 11
        v = round(255 * k / 10)
        card.fill(x0, 690, x1, 750, (v, v, v))
        label = f"{10 * k}%"
        draw_text(card, font, (x0 + x1 - text_width(label)) // 2, 708, label,
                  BLACK if v > 110 else WHITE)


def draw_bursts(card, font):
    # Vertical stripes of falling period: sharpness, and the comb that interlaced
    # scrolling leaves on vertical edges.
    periods = [2, 4, 6, 8, 12, 16]
    width = (BARS_X1 - BARS_X0) // len(periods)
    for i, period in enumerate(periods):
        x0 = BARS_X0 + i * width
        card.fill(x0, 780, x0 + width, 900, BLACK)
        for x in range(x0, x0 + width, period):
            card.fill(x, 810, min(x + period // 2, x0 + width), 900, WHITE)
        label = f"{period}px"
        draw_text(card, font, x0 + (width - text_width(label)) // 2, 783, label, WHITE)


def draw_ring(card, cx, cy, radius, thickness, colour):
    outer2 = radius * radius
    inner2 = (radius - thickness) ** 2
    for y in range(cy - radius, cy + radius + 1):
        dy = y + 0.5 - cy
        if dy * dy >= outer2:
            continue
        xo = math.sqrt(outer2 - dy * dy)
        xi = math.sqrt(inner2 - dy * dy) if dy * dy < inner2 else 0.0
        # Pixel centres inside the ring: |x + 0.5 - cx| in [xi, xo).
        left0, left1 = math.ceil(cx - xo - 0.5), math.ceil(cx - xi - 0.5)
        right0, right1 = math.floor(cx + xi - 0.5) + 1, math.floor(cx + xo - 0.5) + 1
        if xi == 0.0:
            card.fill(left0, y, right1, y + 1, colour)
        else:
            card.fill(left0, y, left1, y + 1, colour)
            card.fill(right0, y, right1, y + 1, colour)


def draw_crosshair(card):
    cx, cy = W // 2, H // 2
    card.fill(cx - 40, cy - 1, cx + 40, cy + 1, WHITE)
    card.fill(cx - 1, cy - 40, cx + 1, cy + 40, WHITE)


def draw_field_patch(card, font, x, y, text, parity, ink):
    """Double-size text drawn only on picture lines of the given parity (0: lines 0, 2, 4...
    from the top). The other lines stay black, so the patch is empty in the other field."""
    h = CELL_H * 2 + 8
    card.fill(x, y, x + FIELD_PATCH_W, y + h, BLACK)
    tx = x + (FIELD_PATCH_W - text_width(text, 2)) // 2
    for i, ch in enumerate(text):
        mask = glyph_mask(font, ord(ch))
        gx = tx + i * CELL_W * 2
        for r in range(CELL_H):
            for c in range(CELL_W):
                if mask[r][c]:
                    for yy in range(y + 4 + 2 * r, y + 6 + 2 * r):
                        if yy % 2 == parity:
                            card.fill(gx + 2 * c, yy, gx + 2 * c + 2, yy + 1, ink)
    # A stripe on the same lines along the top and bottom of the patch.
    for yy in list(range(y, y + 4)) + list(range(y + h - 4, y + h)):
        if yy % 2 == parity:
            card.fill(x, yy, x + FIELD_PATCH_W, yy + 1, ink)


def draw_corners(card, font):
    # Corner triangles of distinct colours: a cropped or wrapped edge is obvious.
    size = 60
    corners = [("TL", 0, 0, (255, 64, 64)), ("TR", W - 1, 0, (64, 255, 64)),
               ("BL", 0, H - 1, (80, 140, 255)), ("BR", W - 1, H - 1, (255, 255, 64))]
    for name, cx, cy, colour in corners:
        sx = 1 if cx == 0 else -1
        sy = 1 if cy == 0 else -1
        for d in range(size):
            y = cy + sy * d
            length = size - d
            x0 = cx if sx > 0 else cx - length + 1
            card.fill(x0, y, x0 + length, y + 1, colour)
        tx = cx + sx * 8 if sx > 0 else cx - 8 - text_width(name)
        ty = cy + sy * 66 if sy > 0 else cy - 66 - CELL_H
        draw_text(card, font, tx, ty, name, colour, background=BOX)
    # A two-pixel white border on the picture's own edges.
    card.fill(0, 0, W, 2, WHITE)
    card.fill(0, H - 2, W, H, WHITE)
    card.fill(0, 0, 2, H, WHITE)
    card.fill(W - 2, 0, W, H, WHITE)


def draw_title(card, font):
    title = "QUOR PLEMO TEST CARD 1920x1080"
    w = text_width(title, 2)
    x = (W - w) // 2
    card.fill(x - 16, 52, x + w + 16, 52 + CELL_H * 2 + 16, BOX)
    draw_text(card, font, x, 60, title, WHITE, scale=2)


def make_card(font):
    card = Canvas(W, H, BACKGROUND)
    draw_grid(card, font)
    draw_bars(card, font)
    draw_grey_scales(card, font)
    draw_bursts(card, font)
    draw_ring(card, W // 2, H // 2, 480, 4, WHITE)
    draw_crosshair(card)
    # Beside the circle, each just inside a grid cell so that it hides whole labels.
    for x in (MAJOR + 2, 12 * MAJOR + 2):
        draw_field_patch(card, font, x, 4 * MAJOR + 2, "TOP FIELD", 0, WHITE)
        draw_field_patch(card, font, x, 4 * MAJOR + 62, "BOTTOM FIELD", 1, (255, 200, 64))
    draw_corners(card, font)
    draw_title(card, font)
    return card


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("output", help="BMP file to write")
    args = parser.parse_args()
    make_card(load_font()).save_bmp(args.output)


if __name__ == "__main__":
    main()
