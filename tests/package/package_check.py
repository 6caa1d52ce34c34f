#!/usr/bin/env python3
"""Checks for the package test.

  package_check.py formats INI LISTING   the formats `qpcap formats` printed (LISTING) are the
                                         enabled presets of INI, in order
  package_check.py frame FRAME CARD      the grabbed frame (BMP) shows the test card (BMP) at
                                         points of plain colour, away from the text lines
  package_check.py regvalue EXPORT NAME  prints value NAME ("": the default) of the first key
                                         in EXPORT, a file "reg export" wrote; exits 3 when the
                                         key has no such value
Prints what differs and exits 1 when a check fails.
"""
import re
import struct
import sys

FORMAT_NAMES = {"RG32": "RGB32", "RG24": "RGB24", "YUY2": "YUY2", "YVYU": "YVYU",
                "UYVY": "UYVY", "HDYC": "HDYC"}


def read_ini(path):
    """First section of each name, first key of each name within it; names without case."""
    sections = {}
    current = None
    with open(path, encoding="latin-1") as f:
        for line in f:
            line = line.strip()
            if not line or line.startswith(";"):
                continue
            m = re.fullmatch(r"\[(.*)\]", line)
            if m:
                name = m.group(1).strip().upper()
                current = None if name in sections else sections.setdefault(name, {})
            elif current is not None and "=" in line:
                key, value = line.split("=", 1)
                current.setdefault(key.strip().lower(), value.strip())
    return sections


def frame_time(value, previous):
    number = float(re.match(r"\s*[-+]?[0-9]*\.?[0-9]*(e[-+]?[0-9]+)?", value, re.I).group(0) or 0)
    if number >= 1000:
        return int(number)
    return int(10_000_000 / number) if number > 0 else previous


def expected_formats(ini_path):
    ini = read_ini(ini_path)
    base = {"w": 320, "h": 240, "fcc": "RG32", "frame_time": 333667}

    def apply(preset, section):
        for key in ("w", "h"):
            if key in section:
                preset[key] = int(section[key])
        fcc = section.get("fcc", "")[:4].upper()
        if fcc in FORMAT_NAMES:
            preset["fcc"] = fcc
        if "frame_time" in section:
            preset["frame_time"] = frame_time(section["frame_time"], preset["frame_time"])

    apply(base, ini.get("PRESET_DEF", {}))
    count = max(1, min(999, int(ini.get("MAIN", {}).get("preset_num", "1"))))
    formats = []
    for n in range(1, count + 1):
        section = ini.get("PRESET_%02d" % n, {})
        if section.get("enable") != "1":
            continue
        preset = dict(base)
        apply(preset, section)
        formats.append(preset)
    if not formats:
        formats.append(base)
    return [("%dx%d" % (p["w"], p["h"]), FORMAT_NAMES[p["fcc"]], 10_000_000 / p["frame_time"])
            for p in formats]


def listed_formats(listing_path):
    rows = []
    with open(listing_path, encoding="utf-8", errors="replace") as f:
        for line in f:
            m = re.match(r"\s*(\d+)\s+(\d+x\d+)\s+(\S+)\s+([0-9.]+)", line)
            if m:
                rows.append((m.group(2), m.group(3), float(m.group(4))))
    return rows


def check_formats(ini_path, listing_path):
    want = expected_formats(ini_path)
    got = listed_formats(listing_path)
    ok = len(want) == len(got) and all(
        w[0] == g[0] and w[1] == g[1] and abs(w[2] - g[2]) < 0.0015 for w, g in zip(want, got))
    if not ok:
        print("  formats listed: %s" % got)
        print("  formats of the INI: %s" % [(s, p, round(r, 3)) for s, p, r in want])
    return ok


def read_bmp(path):
    data = open(path, "rb").read()
    if data[:2] != b"BM":
        raise ValueError("%s is no BMP file" % path)
    offset, = struct.unpack_from("<I", data, 10)
    width, height = struct.unpack_from("<ii", data, 18)
    bits, = struct.unpack_from("<H", data, 28)
    if bits not in (24, 32):
        raise ValueError("%s: %d bits per pixel" % (path, bits))
    pitch = (width * bits // 8 + 3) & ~3

    def pixel(x, y):  # y counted from the top; returns (r, g, b)
        row = abs(height) - 1 - y if height > 0 else y
        at = offset + row * pitch + x * bits // 8
        return data[at + 2], data[at + 1], data[at]
    return width, abs(height), pixel


# Centres of plain areas of the 1920x1080 card: 75 % yellow and blue bars, 100 % cyan and red
# patches, the 50 % grey step. Distinct colours, so swapped channels or chroma show.
POINTS = [(450, 280), (1440, 280), (615, 402), (1150, 402), (930, 718)]
TOLERANCE = 12  # per channel: 4:2:2 round trips and limited-range scaling


def check_frame(frame_path, card_path):
    fw, fh, frame = read_bmp(frame_path)
    cw, ch, card = read_bmp(card_path)
    if (fw, fh) != (cw, ch):
        print("  frame is %dx%d, the card %dx%d" % (fw, fh, cw, ch))
        return False
    ok = True
    for x, y in POINTS:
        want, got = card(x, y), frame(x, y)
        if max(abs(a - b) for a, b in zip(want, got)) > TOLERANCE:
            print("  at (%d,%d) the frame has RGB %s, the card %s" % (x, y, got, want))
            ok = False
    return ok


def reg_value(export_path, name):
    """The data of one value of the exported key: strings unescaped, DWORDs as 0x..."""
    text = open(export_path, "rb").read().decode("utf-16")
    sections = 0
    wanted = "@" if name == "" else '"%s"' % name.replace("\\", "\\\\").replace('"', '\\"')
    for line in text.splitlines():
        if line.startswith("["):
            sections += 1
            if sections > 1:
                break
            continue
        if not line.startswith(wanted + "="):
            continue
        data = line[len(wanted) + 1:]
        if data.startswith('"') and data.endswith('"'):
            return re.sub(r"\\(.)", r"\1", data[1:-1])
        if data.startswith("dword:"):
            return "0x%x" % int(data[6:], 16)
        return data
    return None


def main(argv):
    if len(argv) == 4 and argv[1] == "regvalue":
        value = reg_value(argv[2], argv[3])
        if value is None:
            return 3
        print(value)
        return 0
    if len(argv) == 4 and argv[1] == "formats":
        return 0 if check_formats(argv[2], argv[3]) else 1
    if len(argv) == 4 and argv[1] == "frame":
        return 0 if check_frame(argv[2], argv[3]) else 1
    print(__doc__, file=sys.stderr)
    return 2


if __name__ == "__main__":
    sys.exit(main(sys.argv))
