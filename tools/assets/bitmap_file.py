"""24-bit BMP output and a small RGB canvas that the asset generators draw on."""

import struct


class Canvas:
    """RGB pixels, top line first, 3 bytes per pixel in red, green, blue order."""

    def __init__(self, width, height, colour=(0, 0, 0)):
        self.width = width
        self.height = height
        self.pixels = bytearray(bytes(colour) * (width * height))

    def fill(self, x0, y0, x1, y1, colour):
        """Fills columns x0..x1-1 of lines y0..y1-1, clipped to the canvas."""
        x0, x1 = max(0, x0), min(self.width, x1)
        y0, y1 = max(0, y0), min(self.height, y1)
        if x0 >= x1 or y0 >= y1:
            return
        run = bytes(colour) * (x1 - x0)
        for y in range(y0, y1):
            at = (y * self.width + x0) * 3
            self.pixels[at:at + len(run)] = run

    def put(self, x, y, colour):
        if 0 <= x < self.width and 0 <= y < self.height:
            at = (y * self.width + x) * 3
            self.pixels[at:at + 3] = bytes(colour)

    def get(self, x, y):
        at = (y * self.width + x) * 3
        return tuple(self.pixels[at:at + 3])

    def save_bmp(self, path):
        """Writes a bottom-up 24-bit BMP with rows padded to 4 bytes."""
        row = self.width * 3
        pad = (4 - row % 4) % 4
        image_size = (row + pad) * self.height
        out = bytearray()
        out += b"BM" + struct.pack("<IHHI", 54 + image_size, 0, 0, 54)
        # 2835 pixels per metre is 72 dpi; readers ignore it.
        out += struct.pack("<IiiHHIIiiII", 40, self.width, self.height, 1, 24, 0,
                           image_size, 2835, 2835, 0, 0)
        for y in range(self.height - 1, -1, -1):
            line = self.pixels[y * row:(y + 1) * row]
            # BMP stores blue, green, red.
            bgr = bytearray(row)
            bgr[0::3] = line[2::3]
            bgr[1::3] = line[1::3]
            bgr[2::3] = line[0::3]
            out += bgr + b"\0" * pad
        with open(path, "wb") as f:
            f.write(out)
