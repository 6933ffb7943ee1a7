#!/usr/bin/env python3
"""Remakes the window's art: resources/banner.gif, resources/TromelRimbolt.ico and
resources/TromelRimbolt.png.

Plain Python, no imaging library: the pixels are computed here and the GIF, ICO and PNG
containers are written by hand, so the same script always gives the same bytes.

    python3 scripts/make-assets.py [output-dir]
"""

import math
import os
import struct
import sys
import zlib

BANNER_W, BANNER_H = 360, 278

# ---------------------------------------------------------------------------------------------
# Palette: exactly 128 colours, shared by the banner and the 8-bit icon images.

STEEL = 80  # dark olive steel, from almost black up
AMBER = 32  # title and rule
ACCENT = 16  # red sight dots and greys


def ramp(n, lo, hi, gamma=1.0):
    out = []
    for i in range(n):
        t = (i / (n - 1)) ** gamma
        out.append(tuple(round(a + (b - a) * t) for a, b in zip(lo, hi)))
    return out


PALETTE = (
    ramp(STEEL, (6, 8, 7), (118, 132, 106))
    + ramp(AMBER, (52, 30, 6), (255, 222, 138))
    + ramp(8, (70, 6, 4), (240, 52, 36))
    + ramp(8, (40, 42, 40), (232, 232, 226))
)
assert len(PALETTE) == 128 and len(set(PALETTE)) == 128

AMBER0 = STEEL
RED0 = STEEL + AMBER
GREY0 = RED0 + 8

BAYER4 = [[0, 8, 2, 10], [12, 4, 14, 6], [3, 11, 1, 9], [15, 7, 13, 5]]


def dithered(level, count, x, y):
    """Index of a ramp of `count` entries for a level in [0, 1], ordered-dithered between steps."""
    v = max(0.0, min(1.0, level)) * (count - 1)
    base = int(v)
    frac = v - base
    if base < count - 1 and frac > (BAYER4[y & 3][x & 3] + 0.5) / 16:
        base += 1
    return base


# ---------------------------------------------------------------------------------------------
# A 5x7 face for the title.

GLYPHS = {
    "T": ["#####", "..#..", "..#..", "..#..", "..#..", "..#..", "..#.."],
    "R": ["####.", "#...#", "#...#", "####.", "#.#..", "#..#.", "#...#"],
    "O": [".###.", "#...#", "#...#", "#...#", "#...#", "#...#", ".###."],
    "M": ["#...#", "##.##", "#.#.#", "#.#.#", "#...#", "#...#", "#...#"],
    "E": ["#####", "#....", "#....", "####.", "#....", "#....", "#####"],
    "L": ["#....", "#....", "#....", "#....", "#....", "#....", "#####"],
    "I": [".###.", "..#..", "..#..", "..#..", "..#..", "..#..", ".###."],
    "B": ["####.", "#...#", "#...#", "####.", "#...#", "#...#", "####."],
    " ": ["....."] * 7,
}


def text_mask(text, scale):
    """Set of (x, y) cells covered by the text, and its width and height in pixels."""
    cells = set()
    advance = 6 * scale
    for n, ch in enumerate(text):
        for gy, row in enumerate(GLYPHS[ch]):
            for gx, c in enumerate(row):
                if c == "#":
                    for dy in range(scale):
                        for dx in range(scale):
                            cells.add((n * advance + gx * scale + dx, gy * scale + dy))
    return cells, len(text) * advance - scale, 7 * scale


# ---------------------------------------------------------------------------------------------
# Banner

def banner_pixels():
    w, h = BANNER_W, BANNER_H
    px = [[0] * w for _ in range(h)]

    # Background: lit from the top left, fading to near black. Under the labels (x >= 195,
    # y >= 110) it stays dark enough for light grey and red text.
    for y in range(h):
        for x in range(w):
            fall = math.exp(-y / 62.0) * (1.0 - 0.45 * x / w)
            level = 0.03 + 0.62 * fall
            if y < 48 and (x + y) % 7 == 0:  # riveted plate hatching in the top band
                level += 0.035
            if y >= 110 and y % 2 == 1:  # faint scan lines lower down
                level -= 0.01
            px[y][x] = dithered(level, STEEL, x, y)

    # Title, with a dark drop shadow and an amber ramp from top to bottom.
    cells, tw, th = text_mask("TROMEL RIMBOLT", 3)
    ox, oy = (w - tw) // 2, 11
    for (cx, cy) in cells:
        px[oy + cy + 2][ox + cx + 2] = 0
    for (cx, cy) in cells:
        t = 1.0 - cy / (th - 1)
        edge = (cx, cy - 1) not in cells  # top edge of a stroke catches the light
        px[oy + cy][ox + cx] = AMBER0 + dithered(0.35 + 0.6 * t + (0.1 if edge else 0.0), AMBER, cx, cy)

    # Rule under the title, fading out at both ends.
    for x in range(16, w - 16):
        t = 1.0 - abs(x - w / 2) / (w / 2 - 16)
        px[40][x] = AMBER0 + dithered(0.15 + 0.55 * t, AMBER, x, 40)
        px[41][x] = dithered(0.02, STEEL, x, 41)

    # Two small gun sights beside the title.
    for cx in (28, w - 29):
        sight(px, cx, 22, 10)
    return px


def sight(px, cx, cy, r):
    for y in range(cy - r - 3, cy + r + 4):
        for x in range(cx - r - 3, cx + r + 4):
            d = math.hypot(x - cx, y - cy)
            on_ring = abs(d - r) < 0.8
            on_cross = (x == cx and 3 <= abs(y - cy) <= r + 3) or (y == cy and 3 <= abs(x - cx) <= r + 3)
            if on_ring or on_cross:
                px[y][x] = AMBER0 + (14 if on_ring else 9)
            elif d < 1.5:
                px[y][x] = RED0 + 6


def lzw(indices, min_size):
    """GIF variable-width LZW: codes packed least significant bit first."""
    clear, end = 1 << min_size, (1 << min_size) + 1
    out = bytearray()
    acc = nbits = 0

    def put(code, size):
        nonlocal acc, nbits
        acc |= code << nbits
        nbits += size
        while nbits >= 8:
            out.append(acc & 0xFF)
            acc >>= 8
            nbits -= 8

    def fresh():
        return {}, end + 1, min_size + 1

    table, next_code, size = fresh()
    put(clear, size)
    prefix = indices[0]
    for k in indices[1:]:
        key = (prefix, k)
        code = table.get(key)
        if code is not None:
            prefix = code
            continue
        put(prefix, size)
        if next_code < 4096:
            table[key] = next_code
            next_code += 1
            if next_code > (1 << size) and size < 12:
                size += 1
        else:
            put(clear, size)
            table, next_code, size = fresh()
        prefix = k
    put(prefix, size)
    put(end, size)
    if nbits:
        out.append(acc & 0xFF)
    return bytes(out)


def gif(width, height, palette, rows):
    assert len(palette) == 128
    data = bytearray(b"GIF89a")
    # Global colour table of 2^(6+1) entries, 8 bits per primary, not sorted.
    data += struct.pack("<HHBBB", width, height, 0x80 | 0x70 | 0x06, 0, 0)
    for rgb in palette:
        data += bytes(rgb)
    data += struct.pack("<BHHHHB", 0x2C, 0, 0, width, height, 0)
    data.append(7)
    stream = lzw([i for row in rows for i in row], 7)
    for i in range(0, len(stream), 255):
        block = stream[i:i + 255]
        data.append(len(block))
        data += block
    data += b"\x00\x3B"
    return bytes(data)


# ---------------------------------------------------------------------------------------------
# Icon: a gun sight on a steel plate.

def icon_sample(u, v):
    """Straight RGBA (0..1 floats) of the icon at a point of the unit square."""
    # Rounded plate
    r = 0.16
    dx = max(abs(u - 0.5) - (0.5 - r), 0.0)
    dy = max(abs(v - 0.5) - (0.5 - r), 0.0)
    if math.hypot(dx, dy) > r:
        return (0.0, 0.0, 0.0, 0.0)
    edge = r - math.hypot(dx, dy)
    inner = min(0.5 - abs(u - 0.5), 0.5 - abs(v - 0.5), edge if dx or dy else 1.0)
    if inner < 0.035:
        return (0.42, 0.48, 0.38, 1.0)
    shade = 0.24 - 0.15 * v
    rgb = (shade * 0.92, shade, shade * 0.84)

    d = math.hypot(u - 0.5, v - 0.5)
    amber = (1.0, 0.78, 0.36)
    if abs(d - 0.29) < 0.045:
        rgb = amber
    arm = abs(u - 0.5) < 0.035 and 0.09 <= abs(v - 0.5) <= 0.4 or \
        abs(v - 0.5) < 0.035 and 0.09 <= abs(u - 0.5) <= 0.4
    if arm:
        rgb = amber
    if d < 0.065:
        rgb = (0.92, 0.16, 0.1)
    return rgb + (1.0,)


def icon_rgba(size):
    """size x size straight RGBA bytes, top row first, 4x4 supersampled."""
    n = 4
    rows = []
    for y in range(size):
        row = []
        for x in range(size):
            acc = [0.0, 0.0, 0.0, 0.0]
            for sy in range(n):
                for sx in range(n):
                    r, g, b, a = icon_sample((x + (sx + 0.5) / n) / size, (y + (sy + 0.5) / n) / size)
                    acc[0] += r * a
                    acc[1] += g * a
                    acc[2] += b * a
                    acc[3] += a
            a = acc[3] / (n * n)
            if a > 0:
                rgb = [c / acc[3] for c in acc[:3]]
            else:
                rgb = [0.0, 0.0, 0.0]
            row.append(tuple(round(c * 255) for c in rgb) + (round(a * 255),))
        rows.append(row)
    return rows


def icon_palette():
    cube = [(r * 255 // 4, g * 255 // 4, b * 255 // 4) for r in range(5) for g in range(5) for b in range(5)]
    extra = [(0, 0, 0), (255, 255, 255), (128, 128, 128)]
    pal = PALETTE + [c for c in cube + extra if c not in PALETTE]
    pal = pal[:256]
    while len(pal) < 256:
        pal.append((0, 0, 0))
    return pal


def nearest(pal, rgb):
    best, best_d = 0, None
    for i, p in enumerate(pal):
        d = (p[0] - rgb[0]) ** 2 + (p[1] - rgb[1]) ** 2 + (p[2] - rgb[2]) ** 2
        if best_d is None or d < best_d:
            best, best_d = i, d
    return best


def and_mask(rows, size):
    stride = ((size + 31) // 32) * 4
    out = bytearray()
    for row in reversed(rows):
        bits = bytearray(stride)
        for x, p in enumerate(row):
            if p[3] < 128:
                bits[x // 8] |= 0x80 >> (x % 8)
        out += bits
    return bytes(out)


def dib(rows, size, bpp, pal=None):
    if bpp == 8:
        stride = (size + 3) & ~3
        xor = bytearray()
        for row in reversed(rows):
            line = bytearray(stride)
            for x, p in enumerate(row):
                line[x] = nearest(pal, p[:3]) if p[3] >= 128 else 0
            xor += line
        colours = b"".join(bytes((b, g, r, 0)) for (r, g, b) in pal)
    else:
        xor = bytearray()
        for row in reversed(rows):
            for (r, g, b, a) in row:
                xor += bytes((b, g, r, a))
        colours = b""
    mask = and_mask(rows, size)
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, bpp, 0, len(xor) + len(mask), 0, 0, 0, 0)
    return header + colours + bytes(xor) + mask


ICON_IMAGES = [(32, 8), (16, 8), (128, 32), (48, 32), (32, 32), (16, 32)]


def ico(renders):
    pal = icon_palette()
    images = [dib(renders[size], size, bpp, pal) for size, bpp in ICON_IMAGES]
    data = bytearray(struct.pack("<HHH", 0, 1, len(images)))
    offset = 6 + 16 * len(images)
    for (size, bpp), img in zip(ICON_IMAGES, images):
        data += struct.pack("<BBBBHHII", size % 256, size % 256, 0, 0, 1, bpp, len(img), offset)
        offset += len(img)
    for img in images:
        data += img
    return bytes(data)


def png(rows):
    h, w = len(rows), len(rows[0])
    raw = bytearray()
    for row in rows:
        raw.append(0)
        for p in row:
            raw += bytes(p)

    def chunk(kind, body):
        return struct.pack(">I", len(body)) + kind + body + struct.pack(">I", zlib.crc32(kind + body))

    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", w, h, 8, 6, 0, 0, 0))
            + chunk(b"IDAT", zlib.compress(bytes(raw), 9)) + chunk(b"IEND", b""))


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    out_dir = sys.argv[1] if len(sys.argv) > 1 else os.path.join(here, "..", "resources")
    os.makedirs(out_dir, exist_ok=True)

    renders = {size: icon_rgba(size) for size in (16, 32, 48, 128)}
    outputs = {
        "banner.gif": gif(BANNER_W, BANNER_H, PALETTE, banner_pixels()),
        "TromelRimbolt.ico": ico(renders),
        "TromelRimbolt.png": png(renders[128]),
    }
    for name, data in outputs.items():
        with open(os.path.join(out_dir, name), "wb") as f:
            f.write(data)
        print(f"{name}: {len(data)} bytes")


if __name__ == "__main__":
    main()
