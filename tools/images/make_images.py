#!/usr/bin/python3
"""Makes the viewer's start-up picture (startup.bmp) and its icon (Korvale2.ico).

The results are committed; run this again only to change them.  The tiles come from a fixed
random seed, so the output is the same on every run with the same Pillow and fonts.
Fonts: DejaVu Serif Bold (fonts-dejavu-core) for the picture, DejaVu Sans Condensed Bold for the icon.
"""
import os
import random
import struct
import sys

from PIL import Image, ImageDraw, ImageFont

HERE = os.path.dirname(os.path.abspath(__file__))
SERIF = "/usr/share/fonts/truetype/dejavu/DejaVuSerif-Bold.ttf"
SANS = "/usr/share/fonts/truetype/dejavu/DejaVuSansCondensed-Bold.ttf"
PELS_PER_METRE = 3779

# The sixteen colours of the standard VGA palette, the icon's colour table.
VGA16 = [
    (0, 0, 0), (128, 0, 0), (0, 128, 0), (128, 128, 0),
    (0, 0, 128), (128, 0, 128), (0, 128, 128), (192, 192, 192),
    (128, 128, 128), (255, 0, 0), (0, 255, 0), (255, 255, 0),
    (0, 0, 255), (255, 0, 255), (0, 255, 255), (255, 255, 255),
]


def tiles(size, tile, shades, rng):
    img = Image.new("RGB", size)
    draw = ImageDraw.Draw(img)
    for y in range(0, size[1], tile):
        for x in range(0, size[0], tile):
            draw.rectangle([x, y, x + tile - 1, y + tile - 1], fill=rng.choice(shades))
    return img


def centred_text(img, text, font, fill, y=None):
    draw = ImageDraw.Draw(img)
    left, top, right, bottom = draw.textbbox((0, 0), text, font=font)
    x = (img.width - (right - left)) // 2 - left
    if y is None:
        y = (img.height - (bottom - top)) // 2 - top
    draw.text((x, y), text, font=font, fill=fill)


def bmp24(img):
    """A 24-bit bottom-up BMP without colour table, 3779 pixels per metre."""
    w, h = img.size
    row = (w * 3 + 3) & ~3
    pixels = bytearray()
    px = img.load()
    for y in range(h - 1, -1, -1):
        line = bytearray()
        for x in range(w):
            r, g, b = px[x, y]
            line += bytes((b, g, r))
        line += b"\0" * (row - len(line))
        pixels += line
    info = struct.pack("<IiiHHIIiiII", 40, w, h, 1, 24, 0, len(pixels), PELS_PER_METRE,
                       PELS_PER_METRE, 0, 0)
    head = struct.pack("<2sIHHI", b"BM", 14 + len(info) + len(pixels), 0, 0, 14 + len(info))
    return head + info + pixels


def ico16(img):
    """A one-image icon file: 32 x 32, 4 bits per pixel with the VGA palette, opaque mask."""
    w, h = img.size
    px = img.load()

    def nearest(c):
        return min(range(16), key=lambda i: sum((a - b) ** 2 for a, b in zip(c, VGA16[i])))

    xor = bytearray()
    for y in range(h - 1, -1, -1):
        for x in range(0, w, 2):
            xor.append(nearest(px[x, y]) << 4 | nearest(px[x + 1, y]))
    and_row = ((w + 31) // 32) * 4
    mask = b"\0" * (and_row * h)
    palette = b"".join(bytes((b, g, r, 0)) for r, g, b in VGA16)
    info = struct.pack("<IiiHHIIiiII", 40, w, h * 2, 1, 4, 0, len(xor) + len(mask), 0, 0, 16, 0)
    image = info + palette + bytes(xor) + mask
    head = struct.pack("<HHH", 0, 1, 1)
    entry = struct.pack("<BBBBHHII", w, h, 16, 0, 1, 4, len(image), 6 + 16)
    return head + entry + image


def startup(rng):
    shades = [(0, 255, 255), (64, 224, 208), (0, 191, 191), (0, 160, 96), (64, 200, 64),
              (0, 128, 64), (64, 128, 255), (32, 96, 224), (96, 160, 240), (0, 200, 160)]
    img = tiles((300, 200), 10, shades, rng)
    centred_text(img, "Korvale", ImageFont.truetype(SERIF, 62), (0, 0, 0))
    return img


def icon(rng):
    shades = [(0, 128, 0), (0, 255, 0), (0, 128, 128), (0, 255, 255)]
    img = tiles((32, 32), 4, shades, rng)
    small = ImageFont.truetype(SANS, 8)
    centred_text(img, "Korvale", small, (0, 0, 0), y=3)
    centred_text(img, "2", ImageFont.truetype(SANS, 14), (0, 0, 0), y=14)
    return img


def main():
    out = sys.argv[1] if len(sys.argv) > 1 else HERE
    rng = random.Random(20021)
    data = bmp24(startup(rng))
    assert len(data) == 180054, len(data)
    with open(os.path.join(out, "startup.bmp"), "wb") as f:
        f.write(data)
    with open(os.path.join(out, "Korvale2.ico"), "wb") as f:
        f.write(ico16(icon(rng)))


if __name__ == "__main__":
    main()
