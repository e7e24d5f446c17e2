#!/usr/bin/python3
"""BMP files from independent writers, read by our bitmap class and checked against Pillow.

Each variant is written by ImageMagick, netpbm or Pillow, or encoded here where no writer makes
it (then Pillow's decode of it is first checked against the intended pixels).  For each file:
- `bmpconv --pixels` writes what TBitmap reads for every pixel; it must equal Pillow's decode;
- the converter (korconv when built, else bmpconv) writes the file back as a BMP; Pillow's and
  ImageMagick's decodes of that output must equal their decodes of the input.
"""
import argparse
import io
import os
import shutil
import struct
import subprocess
import sys

from PIL import Image

W, H = 37, 23  # odd sizes: every row needs padding


def source_rgb():
    im = Image.new("RGB", (W, H))
    im.putdata([((x * 7 + y) & 255, (y * 11) & 255, (x * y * 3) & 255) for y in range(H) for x in range(W)])
    return im


def few_colours(n):
    """An image of exactly n colours (quantized), as a palette image."""
    return source_rgb().quantize(colors=n, method=Image.Quantize.MEDIANCUT, dither=Image.Dither.NONE)


def run(cmd, **kw):
    return subprocess.run(cmd, check=True, stdout=subprocess.PIPE, stderr=subprocess.PIPE, **kw)


# ---- files encoded here ------------------------------------------------------------------

def bmp_bytes(header_size, width, height, bits, compression, pixels, colours=(), masks=None,
              entry=4, size_image=None):
    if header_size == 12:
        info = struct.pack("<IHHHH", 12, width, height, 1, bits)
    else:
        info = struct.pack("<IiiHHIIiiII", header_size, width, height, 1, bits, compression,
                           len(pixels) if size_image is None else size_image, 2835, 2835, len(colours), 0)
        if header_size > 40:
            m = masks or (0, 0, 0)
            info += struct.pack("<III", *m) + b"\0" * (header_size - 52)
        elif masks:
            info += struct.pack("<III", *masks)
    table = b"".join(bytes((c[2], c[1], c[0])) + (b"\0" if entry == 4 else b"") for c in colours)
    off = 14 + len(info) + len(table)
    return struct.pack("<HIHHI", 0x4D42, off + len(pixels), 0, 0, off) + info + table + pixels


def rows_of(im, bits, top_down, pack):
    """Pixel rows of `im` packed by `pack(row)` and padded, in file order."""
    rows = []
    for y in range(im.height):
        r = pack([im.getpixel((x, y)) for x in range(im.width)])
        rows.append(r + b"\0" * (-len(r) % 4))
    if not top_down:
        rows.reverse()
    return b"".join(rows)


def pack_indices(bits):
    def pack(row):
        out = bytearray()
        per = 8 // bits
        for i in range(0, len(row), per):
            b = 0
            for k in range(per):
                v = row[i + k] if i + k < len(row) else 0
                b |= v << (8 - bits * (k + 1))
            out.append(b)
        return bytes(out)
    return pack


def rle(rows, bits):
    """Run-length data for index rows (bottom row first): encoded runs for repeats, absolute
    runs (odd lengths included, padded to 16 bits) for the rest, end of line after each row,
    end of bitmap at the end."""
    out = bytearray()

    def run_byte(v):
        return v if bits == 8 else (v << 4) | v

    for row in rows:
        x = 0
        while x < len(row):
            n = 1
            while x + n < len(row) and n < 255 and row[x + n] == row[x]:
                n += 1
            if n >= 2:
                out += bytes((n, run_byte(row[x])))
                x += n
                continue
            m = 1
            while x + m < len(row) and m < 255 and not (x + m + 1 < len(row) and row[x + m] == row[x + m + 1]):
                m += 1
            if m < 3:
                for v in row[x:x + m]:
                    out += bytes((1, run_byte(v)))
                x += m
                continue
            seg = row[x:x + m]
            if bits == 8:
                data = bytes(seg)
            else:
                data = bytes(((seg[i] << 4) | (seg[i + 1] if i + 1 < m else 0)) for i in range(0, m, 2))
            out += bytes((0, m)) + data + (b"\0" if len(data) % 2 else b"")
            x += m
        out += b"\0\0"
    out[-2:] = b"\0\1"
    return bytes(out)


def rle_with_delta(im, bits):
    """Rows, bottom first; the two rows above the bottom row are skipped by one delta (their
    pixels must read as index 0)."""
    idx = [[im.getpixel((x, y)) for x in range(im.width)] for y in range(im.height)]
    idx.reverse()
    body = rle(idx[:1], bits)[:-2] + b"\0\0"
    body += bytes((0, 2, 0, 2))  # delta: down two rows
    body += rle(idx[3:], bits)
    idx[1] = [0] * im.width
    idx[2] = [0] * im.width
    idx.reverse()
    expect = Image.new("P", im.size)
    expect.putdata([v for r in idx for v in r])
    expect.putpalette(im.getpalette())
    return body, expect.convert("RGB")


def encoded_variants(work):
    """Variants no writer here makes; each returns (name, bytes, intended RGB image)."""
    out = []
    src = source_rgb()
    p16 = few_colours(16)
    p256 = few_colours(200)
    pal16 = [tuple(p16.getpalette()[i * 3:i * 3 + 3]) for i in range(16)]
    pal256 = [tuple(p256.getpalette()[i * 3:i * 3 + 3]) for i in range(200)]

    data, expect = rle_with_delta(p16, 4)
    out.append(("rle4_delta", bmp_bytes(40, W, H, 4, 2, data, pal16), expect))
    idx16 = [[p16.getpixel((x, y)) for x in range(W)] for y in range(H)][::-1]
    out.append(("rle4", bmp_bytes(40, W, H, 4, 2, rle(idx16, 4), pal16), p16.convert("RGB")))
    data, expect = rle_with_delta(p256, 8)
    out.append(("rle8_delta", bmp_bytes(40, W, H, 8, 1, data, pal256), expect))

    def bgr(row):
        return b"".join(bytes((b, g, r)) for r, g, b in row)

    out.append(("topdown24", bmp_bytes(40, W, -H, 24, 0, rows_of(src, 24, True, bgr)), src))
    out.append(("topdown8", bmp_bytes(40, W, -H, 8, 0, rows_of(p256, 8, True, bytes), pal256),
                p256.convert("RGB")))
    out.append(("topdown4", bmp_bytes(40, W, -H, 4, 0, rows_of(p16, 4, True, pack_indices(4)), pal16),
                p16.convert("RGB")))

    def bgrx(row):
        return b"".join(bytes((b, g, r, 0x5A)) for r, g, b in row)

    out.append(("rgb32", bmp_bytes(40, W, H, 32, 0, rows_of(src, 32, False, bgrx)), src))
    out.append(("bitfields32", bmp_bytes(40, W, H, 32, 3, rows_of(src, 32, False, bgrx),
                                         masks=(0xFF0000, 0xFF00, 0xFF)), src))
    out.append(("bitfields32_v4", bmp_bytes(108, W, H, 32, 3, rows_of(src, 32, False, bgrx),
                                            masks=(0xFF0000, 0xFF00, 0xFF)), src))
    out.append(("rgb24_v4", bmp_bytes(108, W, H, 24, 0, rows_of(src, 24, False, bgr)), src))

    # 16 bits without masks: 5-5-5; the intended colours are what Pillow's 5-bit scaling gives.
    def x555(row):
        return b"".join(struct.pack("<H", ((r >> 3) << 10) | ((g >> 3) << 5) | (b >> 3)) for r, g, b in row)

    q = src.point(lambda v: (v >> 3) * 255 // 31)
    out.append(("rgb555", bmp_bytes(40, W, H, 16, 0, rows_of(src, 16, False, x555)), q))
    # A core header with a palette of 3-byte entries, 4 bits.
    out.append(("core4", bmp_bytes(12, W, H, 4, 0, rows_of(p16, 4, False, pack_indices(4)), pal16, entry=3),
                p16.convert("RGB")))
    return out


# ---- files from the writers -------------------------------------------------------------

def writer_variants(work):
    """(name, path) of files made by ImageMagick, netpbm and Pillow."""
    files = []
    png = os.path.join(work, "source.png")
    source_rgb().save(png)
    for n, im in (("p2", few_colours(2)), ("p16", few_colours(16)), ("p200", few_colours(200))):
        im.save(os.path.join(work, n + ".png"))
    ppm = os.path.join(work, "source.ppm")
    source_rgb().save(ppm)

    def magick(name, *args, src=png):
        path = os.path.join(work, name + ".bmp")
        run(["convert", src] + list(args[:-1]) + [args[-1] + path])
        files.append((name, path))

    magick("im_bmp2_24", "BMP2:")
    magick("im_bmp2_8", "-type", "Palette", "BMP2:", src=os.path.join(work, "p200.png"))
    magick("im_bmp3_24", "BMP3:")
    magick("im_bmp3_8", "-type", "Palette", "BMP3:", src=os.path.join(work, "p200.png"))
    magick("im_bmp3_4", "-type", "Palette", "BMP3:", src=os.path.join(work, "p16.png"))
    magick("im_bmp3_1", "-type", "Palette", "BMP3:", src=os.path.join(work, "p2.png"))
    magick("im_bmp3_rle8", "-type", "Palette", "-compress", "RLE", "BMP3:", src=os.path.join(work, "p200.png"))
    magick("im_bmp_24", "BMP:")
    magick("im_bmp_8", "-type", "Palette", "BMP:", src=os.path.join(work, "p200.png"))
    magick("im_bmp_rgb565", "-define", "bmp:subtype=RGB565", "BMP:")
    magick("im_bmp_32alpha", "-alpha", "set", "BMP:")

    for mode, flag in (("win", "-windows"), ("os2", "-os2")):
        for bpp, src in ((24, "source"), (8, "p200"), (4, "p16"), (1, "p2")):
            name = "netpbm_%s_%d" % (mode, bpp)
            path = os.path.join(work, name + ".bmp")
            pnm = os.path.join(work, src + ".ppm")
            if not os.path.exists(pnm):
                Image.open(os.path.join(work, src + ".png")).convert("RGB").save(pnm)
            with open(path, "wb") as f:
                subprocess.run(["ppmtobmp", flag, "-bpp", str(bpp), pnm], check=True, stdout=f,
                               stderr=subprocess.DEVNULL)
            files.append((name, path))

    for name, im in (("pil_1", source_rgb().convert("1")), ("pil_L", source_rgb().convert("L")),
                     ("pil_P", few_colours(200)), ("pil_P16", few_colours(16)), ("pil_RGB", source_rgb()),
                     ("pil_RGBA", source_rgb().convert("RGBA"))):
        path = os.path.join(work, name + ".bmp")
        im.save(path, "BMP")
        files.append((name, path))
    return files


# ---- checks -------------------------------------------------------------------------------

class Runner:
    def __init__(self, args):
        self.prefix = [args.runner] if args.runner else []
        self.windows = bool(args.runner)
        exe = ".exe" if self.windows else ""
        self.bmpconv = os.path.join(args.bin, "bmpconv" + exe)
        korconv = os.path.join(args.bin, "korconv" + exe)
        self.converter = korconv if os.path.exists(korconv) else self.bmpconv

    def path(self, p):
        return "Z:" + p.replace("/", "\\") if self.windows else p

    def convert(self, exe, *args):
        cmd = self.prefix + [exe] + [a if a.startswith("--") else self.path(a) for a in args]
        r = subprocess.run(cmd, stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        if r.returncode != 0:
            raise AssertionError("%s failed (%d): %s" % (" ".join(cmd), r.returncode, r.stderr[-300:]))


def pil_rgb(path):
    with Image.open(path) as im:
        return im.convert("RGB")


def magick_rgb(path, size):
    r = run(["convert", path, "-depth", "8", "rgb:-"])
    data = r.stdout
    assert len(data) == size[0] * size[1] * 3, "ImageMagick gave %d bytes for %s" % (len(data), path)
    return Image.frombytes("RGB", size, data)


def differs(a, b, tolerance=0):
    if a.size != b.size:
        return "size %s against %s" % (a.size, b.size)
    for i, (p, q) in enumerate(zip(a.getdata(), b.getdata())):
        if any(abs(u - v) > tolerance for u, v in zip(p, q)):
            return "pixel (%d, %d): %s against %s" % (i % a.width, i // a.width, p, q)
    return None


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--bin", required=True)
    ap.add_argument("--work", required=True)
    ap.add_argument("--runner", default="")
    args = ap.parse_args()
    shutil.rmtree(args.work, ignore_errors=True)
    os.makedirs(args.work)
    runner = Runner(args)
    if args.runner:
        # One wineserver for every conversion of the run (it leaves 30 s after the last one).
        env = dict(os.environ, WINEPREFIX=os.path.join(os.path.dirname(os.path.abspath(args.bin)), "wineprefix"))
        subprocess.run([args.runner, "cmd", "/c", "exit"], env=env, stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL)
        subprocess.Popen(["wineserver", "-p30"], env=env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    failures = []

    cases = [(name, path, None) for name, path in writer_variants(args.work)]
    for name, data, intended in encoded_variants(args.work):
        path = os.path.join(args.work, name + ".bmp")
        with open(path, "wb") as f:
            f.write(data)
        # The encoding must be what an independent decoder reads.  Pillow 9.4 misplaces pixels
        # after run-length deltas and in 4-bit run-length files; ImageMagick then speaks.
        problem = differs(pil_rgb(path), intended)
        if problem:
            try:
                if differs(magick_rgb(path, intended.size), intended) is None:
                    print("note %s: Pillow reads it otherwise (%s); ImageMagick as intended" % (name, problem))
                    problem = None
            except (subprocess.CalledProcessError, AssertionError):
                pass
        if problem:
            failures.append("%s: the encoded file is not read as intended: %s" % (name, problem))
            continue
        cases.append((name, path, intended))

    for name, path, intended in cases:
        try:
            pil_in = pil_rgb(path)
            expect = intended or pil_in
            # 16-bit channels are widened to 8 bits by slightly different rules.
            tol = 2 if "565" in name or "555" in name else 0
            seen = path + ".pixels.bmp"
            runner.convert(runner.bmpconv, "--pixels", path, seen)
            problem = differs(pil_rgb(seen), expect, tol)
            if problem:
                raise AssertionError("our reading differs from the independent decode: " + problem)
            out = path + ".out.bmp"
            runner.convert(runner.converter, path, out)
            problem = differs(pil_rgb(out), pil_in)
            if problem:
                raise AssertionError("Pillow reads the written file differently: " + problem)
            try:
                before = magick_rgb(path, expect.size)
            except (subprocess.CalledProcessError, AssertionError):
                before = expect  # ImageMagick cannot read this input; compare with the reference
            problem = differs(magick_rgb(out, expect.size), before)
            if problem:
                raise AssertionError("ImageMagick reads the written file differently: " + problem)
            print("ok   %s" % name)
        except (AssertionError, subprocess.CalledProcessError, OSError) as e:
            failures.append("%s: %s" % (name, e))
            print("FAIL %s: %s" % (name, e))
    print("%d files, %d failures (converter %s)" % (len(cases), len(failures), os.path.basename(runner.converter)))
    for f in failures:
        print(f, file=sys.stderr)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
