"""The bitmap font that the glyph sheet and the test card's lettering are drawn from."""

import os

# Sony's 12x24 fixed font from Debian's xfonts-base: its cell is 12 pixels wide (even, so
# 4:2:2 pixel pairs stay whole) and 24 high, readable both at 640x480 and at 1920x1080.
FONT_PACKAGE = "xfonts-base"
FONT_PATH = "/usr/share/fonts/X11/misc/12x24.pcf.gz"
CELL_W = 12
CELL_H = 24


def load_font():
    import pcf_font
    if not os.path.exists(FONT_PATH):
        raise SystemExit(f"{FONT_PATH} missing: install the Debian package {FONT_PACKAGE}")
    font = pcf_font.PcfFont(FONT_PATH)
    if font.cell_width() != CELL_W or font.ascent + font.descent != CELL_H:
        raise SystemExit(f"{FONT_PATH}: expected a {CELL_W}x{CELL_H} cell")
    return font


def glyph_mask(font, code):
    """CELL_H rows of CELL_W booleans: the character's ink placed in its cell on the baseline."""
    mask = [[False] * CELL_W for _ in range(CELL_H)]
    g = font.glyph(code)
    if g is None:
        return mask
    top = font.ascent - g.ascent
    for r, bits in enumerate(g.rows):
        y = top + r
        if not 0 <= y < CELL_H:
            continue
        for c, on in enumerate(bits):
            x = g.left + c
            if on and 0 <= x < CELL_W:
                mask[y][x] = True
    return mask


def draw_text(canvas, font, x, y, text, colour, scale=1, background=None):
    """Draws text with its top-left corner at (x, y), each font pixel a scale x scale square;
    background, when given, fills the cells first. Returns the width drawn."""
    for i, ch in enumerate(text):
        cx = x + i * CELL_W * scale
        if background is not None:
            canvas.fill(cx, y, cx + CELL_W * scale, y + CELL_H * scale, background)
        mask = glyph_mask(font, ord(ch))
        for r in range(CELL_H):
            for c in range(CELL_W):
                if mask[r][c]:
                    canvas.fill(cx + c * scale, y + r * scale,
                                cx + (c + 1) * scale, y + (r + 1) * scale, colour)
    return len(text) * CELL_W * scale
