#!/usr/bin/env python3
"""Draws the transfer component's pictures and writes them next to resources/webcopy.rc.

  download.avi     clip 257: a document travels from a globe into a folder, 31 frames, 15 fps
  upload.avi       clip 258: the same the other way, 26 frames, 10 fps
  loginbanner.bmp  the login form's 320 x 60 banner

Both clips are 272 x 60, 8 bits per pixel, RLE8-compressed with a positive (bottom-up)
height: the form the animate control plays without a codec. Standard library only; the
output is deterministic, so a rerun changes nothing unless this script changed.

Usage: scripts/make_resources.py [output directory]   (default: resources/)
"""
import math
import os
import struct
import sys

WIDTH, HEIGHT = 272, 60

# Clip palette (R, G, B); index 0 is the background, the dialog face colour.
PALETTE = [
    (212, 208, 200),  # 0 background
    (0, 0, 0),        # 1 outline
    (255, 255, 255),  # 2 paper
    (128, 128, 128),  # 3 text lines, shadow
    (40, 90, 200),    # 4 sea
    (60, 160, 60),    # 5 land
    (240, 200, 60),   # 6 folder
    (200, 150, 30),   # 7 folder tab, back
    (160, 160, 160),  # 8 trail
    (100, 140, 230),  # 9 sea highlight
]


class Canvas:
    def __init__(self, width, height, fill=0):
        self.width, self.height = width, height
        self.rows = [[fill] * width for _ in range(height)]

    def put(self, x, y, c):
        if 0 <= x < self.width and 0 <= y < self.height:
            self.rows[y][x] = c

    def rect(self, x0, y0, x1, y1, c):
        for y in range(y0, y1 + 1):
            for x in range(x0, x1 + 1):
                self.put(x, y, c)

    def frame(self, x0, y0, x1, y1, c):
        for x in range(x0, x1 + 1):
            self.put(x, y0, c)
            self.put(x, y1, c)
        for y in range(y0, y1 + 1):
            self.put(x0, y, c)
            self.put(x1, y, c)


def draw_globe(cv, cx, cy, r, turn):
    """A globe whose continents drift with `turn` (0..1) so that it seems to spin."""
    for y in range(cy - r, cy + r + 1):
        for x in range(cx - r, cx + r + 1):
            dx, dy = x - cx, y - cy
            d2 = dx * dx + dy * dy
            if d2 > r * r:
                continue
            if d2 > (r - 1) * (r - 1):
                cv.put(x, y, 1)
                continue
            # Longitude of the point on the sphere, shifted by the turn.
            z = math.sqrt(max(r * r - d2, 0.0))
            lon = (math.atan2(dx, z) / math.pi + turn) % 1.0
            lat = dy / r
            land = (0.10 < lon < 0.30 and -0.6 < lat < 0.3) or \
                   (0.45 < lon < 0.62 and -0.2 < lat < 0.7) or \
                   (0.75 < lon < 0.92 and -0.7 < lat < -0.1)
            shade = 9 if dx < -r // 3 and dy < -r // 3 else 4
            cv.put(x, y, 5 if land else shade)


def draw_folder(cv, x0, y0):
    """An open folder 44 x 34 with its tab at the top left."""
    cv.rect(x0, y0 + 4, x0 + 43, y0 + 33, 7)
    cv.rect(x0 + 1, y0, x0 + 16, y0 + 4, 7)
    cv.frame(x0, y0 + 4, x0 + 43, y0 + 33, 1)
    cv.frame(x0 + 1, y0, x0 + 16, y0 + 4, 1)
    # Front flap, slanted.
    for y in range(y0 + 12, y0 + 34):
        slant = (y0 + 34 - y) // 4
        for x in range(x0 + slant, x0 + 44 - slant // 2):
            cv.put(x, y, 6)
        cv.put(x0 + slant, y, 1)
        cv.put(x0 + 43 - slant // 2, y, 1)
    for x in range(x0 + 5, x0 + 42):
        cv.put(x, y0 + 12, 1)


def draw_document(cv, x0, y0):
    """A 16 x 20 page with a folded corner and a few lines of text."""
    w, h, fold = 16, 20, 5
    for y in range(h):
        for x in range(w):
            if x >= w - fold and y < fold - (w - 1 - x):
                continue  # cut-off corner
            cv.put(x0 + x, y0 + y, 2)
    for x in range(w - fold):
        cv.put(x0 + x, y0, 1)
    for y in range(h):
        cv.put(x0, y0 + y, 1)
        if y >= fold:
            cv.put(x0 + w - 1, y0 + y, 1)
    for x in range(w):
        cv.put(x0 + x, y0 + h - 1, 1)
    for i in range(fold + 1):
        cv.put(x0 + w - fold - 1 + i, y0 + i, 1)  # the fold's diagonal
        cv.put(x0 + w - fold - 1, y0 + i, 1)
        cv.put(x0 + w - fold - 1 + i, y0 + fold, 1)
    for row in range(7, h - 3, 3):
        cv.rect(x0 + 3, y0 + row, x0 + w - 4, y0 + row, 3)
    # Shadow on the right and below.
    for y in range(2, h + 1):
        cv.put(x0 + w, y0 + y, 3)
    for x in range(2, w + 1):
        cv.put(x0 + x, y0 + h, 3)


GLOBE = (34, 30, 24)   # centre x, centre y, radius
FOLDER = (218, 13)     # top left
PATH_START, PATH_END = 62, 196  # document's left edge at both ends of the trip


def clip_frame(t, upload):
    """One frame; t runs from 0 (departure) to 1 (arrival)."""
    cv = Canvas(WIDTH, HEIGHT)
    draw_globe(cv, *GLOBE, turn=t * 0.5)
    draw_folder(cv, *FOLDER)
    for x in range(PATH_START + 4, PATH_END + 12, 6):  # dotted trail along the arc
        s = (x - PATH_START) / (PATH_END - PATH_START)
        cv.put(x, int(round(34 - 22 * math.sin(math.pi * s))) + 10, 8)
    s = 1.0 - t if upload else t
    x = int(round(PATH_START + (PATH_END - PATH_START) * s))
    y = int(round(34 - 22 * math.sin(math.pi * s)))
    draw_document(cv, x, y)
    return cv


def rle8(cv):
    """Bottom-up RLE8: encoded runs only, end of line after each row, end of bitmap last."""
    out = bytearray()
    for row in reversed(cv.rows):
        x = 0
        while x < len(row):
            c = row[x]
            n = 1
            while x + n < len(row) and row[x + n] == c and n < 255:
                n += 1
            out += bytes((n, c))
            x += n
        out += b"\x00\x00"
    out[-2:] = b"\x00\x01"  # the last row's end of line becomes end of bitmap
    return bytes(out)


def chunk(fourcc, data):
    pad = b"\x00" if len(data) % 2 else b""
    return fourcc + struct.pack("<I", len(data)) + data + pad


def palette_bytes(palette):
    return b"".join(struct.pack("<BBBB", b, g, r, 0) for (r, g, b) in palette)


def avi(frames, fps, usec_per_frame):
    biggest = max(len(f) for f in frames)
    avih = struct.pack("<10I4I", usec_per_frame, biggest * fps, 0, 0x10,  # AVIF_HASINDEX
                       len(frames), 0, 1, biggest, WIDTH, HEIGHT, 0, 0, 0, 0)
    strh = b"vids" + b"RLE " + struct.pack("<IHHIIIIIIII4h", 0, 0, 0, 0, 1, fps, 0,
                                             len(frames), biggest, 0xFFFFFFFF, 0,
                                             0, 0, WIDTH, HEIGHT)
    # BITMAPINFOHEADER: positive height (bottom-up), 8 bpp, BI_RLE8; the image size is the
    # largest frame so that every frame decodes in full.
    strf = struct.pack("<IiiHHIIiiII", 40, WIDTH, HEIGHT, 1, 8, 1, biggest, 0, 0,
                       len(PALETTE), len(PALETTE)) + palette_bytes(PALETTE)
    strl = chunk(b"LIST", b"strl" + chunk(b"strh", strh) + chunk(b"strf", strf))
    hdrl = chunk(b"LIST", b"hdrl" + chunk(b"avih", avih) + strl)

    movi_body = bytearray(b"movi")
    index = bytearray()
    for f in frames:
        offset = len(movi_body)  # from the "movi" fourcc, as idx1 counts
        movi_body += chunk(b"00dc", f)
        index += b"00dc" + struct.pack("<III", 0x10, offset, len(f))  # AVIIF_KEYFRAME
    movi = chunk(b"LIST", bytes(movi_body))
    body = b"AVI " + hdrl + movi + chunk(b"idx1", bytes(index))
    return b"RIFF" + struct.pack("<I", len(body)) + body


def make_clip(count, fps, usec, upload):
    frames = [rle8(clip_frame(i / (count - 1), upload)) for i in range(count)]
    return avi(frames, fps, usec)


# --- banner

GLYPHS = {  # 5 x 7, one string per row
    "L": ["10000", "10000", "10000", "10000", "10000", "10000", "11111"],
    "o": ["00000", "00000", "01110", "10001", "10001", "10001", "01110"],
    "g": ["00000", "01111", "10001", "10001", "01111", "00001", "01110"],
    "i": ["00100", "00000", "01100", "00100", "00100", "00100", "01110"],
    "n": ["00000", "00000", "10110", "11001", "10001", "10001", "10001"],
}


def banner():
    w, h = 320, 60
    shades = 64
    # Palette: a blue gradient, then white text, its shadow and the padlock colours.
    pal = [(int(10 + 60 * i / (shades - 1)), int(40 + 110 * i / (shades - 1)),
            int(110 + 145 * i / (shades - 1))) for i in range(shades)]
    white, shadow, gold, dark = shades, shades + 1, shades + 2, shades + 3
    pal += [(255, 255, 255), (20, 30, 70), (230, 190, 60), (90, 70, 20)]
    cv = Canvas(w, h)
    for y in range(h):
        for x in range(w):
            cv.rows[y][x] = min(shades - 1, (x * (shades - 1)) // (w - 1))

    def text(s, x0, y0, scale, c):
        for ch in s:
            for gy, line in enumerate(GLYPHS[ch]):
                for gx, bit in enumerate(line):
                    if bit == "1":
                        cv.rect(x0 + gx * scale, y0 + gy * scale,
                                x0 + gx * scale + scale - 1, y0 + gy * scale + scale - 1, c)
            x0 += 6 * scale

    text("Login", 22, 12, 5, shadow)
    text("Login", 20, 10, 5, white)
    # Padlock at the right: shackle and body.
    cx, top = 280, 10
    for a in range(0, 181, 3):
        for rr in (9, 10, 11):
            x = cx + int(round(rr * math.cos(math.radians(a))))
            y = top + 12 - int(round(rr * math.sin(math.radians(a))))
            cv.put(x, y, dark)
    cv.rect(cx - 11, top + 12, cx - 9, top + 18, dark)
    cv.rect(cx + 9, top + 12, cx + 11, top + 18, dark)
    cv.rect(cx - 16, top + 18, cx + 16, top + 42, gold)
    cv.frame(cx - 16, top + 18, cx + 16, top + 42, dark)
    cv.rect(cx - 2, top + 26, cx + 2, top + 34, dark)

    pixels = b"".join(bytes(row) for row in reversed(cv.rows))  # 320 is a multiple of 4
    header = struct.pack("<IiiHHIIiiII", 40, w, h, 1, 8, 0, len(pixels), 2835, 2835,
                         len(pal), len(pal))
    pal_bytes = palette_bytes(pal)
    offset = 14 + len(header) + len(pal_bytes)
    file_header = b"BM" + struct.pack("<IHHI", offset + len(pixels), 0, 0, offset)
    return file_header + header + pal_bytes + pixels


def main():
    root = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
    out = sys.argv[1] if len(sys.argv) > 1 else os.path.join(root, "resources")
    outputs = {
        "download.avi": make_clip(31, 15, 66667, upload=False),
        "upload.avi": make_clip(26, 10, 100000, upload=True),
        "loginbanner.bmp": banner(),
    }
    for name, data in outputs.items():
        with open(os.path.join(out, name), "wb") as f:
            f.write(data)
        print(f"{name}: {len(data)} bytes")


if __name__ == "__main__":
    main()
