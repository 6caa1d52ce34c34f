"""Reader for the X11 PCF bitmap fonts that Debian ships (xfonts-base), enough to pull
single-byte glyphs out of a fixed-width font."""

import gzip
import struct

_PROPERTIES = 1 << 0
_ACCELERATORS = 1 << 1
_METRICS = 1 << 2
_BITMAPS = 1 << 3
_BDF_ENCODINGS = 1 << 5
_BDF_ACCELERATORS = 1 << 8

_COMPRESSED_METRICS = 0x100


class Glyph:
    """Ink of one character: rows of booleans, placed by its bearings and ascent."""

    def __init__(self, left, width, ascent, rows):
        self.left = left
        self.width = width
        self.ascent = ascent
        self.rows = rows


class PcfFont:
    def __init__(self, path):
        opener = gzip.open if path.endswith(".gz") else open
        with opener(path, "rb") as f:
            data = f.read()
        if data[:4] != b"\x01fcp":
            raise ValueError(f"{path}: not a PCF font")
        (count,) = struct.unpack_from("<i", data, 4)
        self._data = data
        self._tables = {}
        for i in range(count):
            kind, fmt, size, offset = struct.unpack_from("<iiii", data, 8 + 16 * i)
            self._tables[kind] = (fmt, offset)
        self.properties = self._read_properties()
        self.ascent, self.descent = self._read_accelerators()
        self._metrics = self._read_metrics()
        self._bitmaps = self._read_bitmaps()
        self._encoding = self._read_encodings()

    # Every table repeats its format word (always little-endian); its bit 2 says whether
    # the rest of the table is big-endian.
    def _table(self, kind):
        if kind not in self._tables:
            raise ValueError(f"PCF table {kind} missing")
        _, offset = self._tables[kind]
        (fmt,) = struct.unpack_from("<i", self._data, offset)
        endian = ">" if fmt & 4 else "<"
        return fmt, offset + 4, endian

    def _read_properties(self):
        fmt, pos, e = self._table(_PROPERTIES)
        (n,) = struct.unpack_from(e + "i", self._data, pos)
        pos += 4
        entries = [struct.unpack_from(e + "iBi", self._data, pos + 9 * i) for i in range(n)]
        pos += 9 * n
        pos += (4 - n % 4) % 4
        (strings_size,) = struct.unpack_from(e + "i", self._data, pos)
        strings = self._data[pos + 4:pos + 4 + strings_size]

        def cstr(at):
            return strings[at:strings.index(b"\0", at)].decode("latin-1")

        props = {}
        for name_off, is_string, value in entries:
            props[cstr(name_off)] = cstr(value) if is_string else value
        return props

    def _read_accelerators(self):
        kind = _BDF_ACCELERATORS if _BDF_ACCELERATORS in self._tables else _ACCELERATORS
        fmt, pos, e = self._table(kind)
        ascent, descent = struct.unpack_from(e + "ii", self._data, pos + 8)
        return ascent, descent

    def _read_metrics(self):
        fmt, pos, e = self._table(_METRICS)
        metrics = []
        if fmt & _COMPRESSED_METRICS:
            (n,) = struct.unpack_from(e + "h", self._data, pos)
            pos += 2
            for i in range(n):
                lb, rb, w, a, d = (b - 0x80 for b in self._data[pos + 5 * i:pos + 5 * i + 5])
                metrics.append((lb, rb, w, a, d))
        else:
            (n,) = struct.unpack_from(e + "i", self._data, pos)
            pos += 4
            for i in range(n):
                lb, rb, w, a, d, _ = struct.unpack_from(e + "hhhhhH", self._data, pos + 12 * i)
                metrics.append((lb, rb, w, a, d))
        return metrics

    def _read_bitmaps(self):
        fmt, pos, e = self._table(_BITMAPS)
        (n,) = struct.unpack_from(e + "i", self._data, pos)
        pos += 4
        offsets = struct.unpack_from(e + f"{n}i", self._data, pos)
        pos += 4 * n
        sizes = struct.unpack_from(e + "4i", self._data, pos)
        pos += 16
        pad = 1 << (fmt & 3)
        msb_bits = bool(fmt & 8)
        unit = 1 << ((fmt >> 4) & 3)
        data = self._data[pos:pos + sizes[fmt & 3]]
        glyph_rows = []
        for i, (lb, rb, _, a, d) in enumerate(self._metrics):
            w = rb - lb
            stride = ((w + 7) // 8 + pad - 1) // pad * pad
            rows = []
            for r in range(a + d):
                line = bytearray(data[offsets[i] + r * stride:offsets[i] + (r + 1) * stride])
                # With a scan unit above one byte and the opposite byte order, bytes are
                # swapped within each unit.
                if unit > 1 and (e == ">") != bool(fmt & 8):
                    for u in range(0, len(line), unit):
                        line[u:u + unit] = line[u:u + unit][::-1]
                bits = []
                for x in range(w):
                    byte = line[x // 8]
                    bit = (byte >> (7 - x % 8)) & 1 if msb_bits else (byte >> (x % 8)) & 1
                    bits.append(bool(bit))
                rows.append(bits)
            glyph_rows.append(rows)
        return glyph_rows

    def _read_encodings(self):
        fmt, pos, e = self._table(_BDF_ENCODINGS)
        min2, max2, min1, max1, default = struct.unpack_from(e + "5h", self._data, pos)
        pos += 10
        n = (max2 - min2 + 1) * (max1 - min1 + 1)
        indices = struct.unpack_from(e + f"{n}H", self._data, pos)
        table = {}
        for b1 in range(min1, max1 + 1):
            for b2 in range(min2, max2 + 1):
                idx = indices[(b1 - min1) * (max2 - min2 + 1) + (b2 - min2)]
                if idx != 0xFFFF:
                    table[(b1 << 8) | b2] = idx
        return table

    def glyph(self, code):
        """The glyph of a character code, or None when the font lacks it."""
        idx = self._encoding.get(code)
        if idx is None:
            return None
        lb, rb, w, a, d = self._metrics[idx]
        return Glyph(lb, w, a, self._bitmaps[idx])

    def cell_width(self):
        return self._metrics[self._encoding[ord("M")]][2]
