#!/usr/bin/python3
"""korconv from the outside: pictures written by Pillow and ImageMagick (and metafiles written
here byte by byte) go through `korconv --info` and `korconv INPUT OUTPUT`; every BMP it writes
is decoded by Pillow and compared pixel by pixel; failures must exit 1 with the system's
message on stderr.

usage: korconv_test.py KORCONV [RUNNER]   (RUNNER: scripts/wine-run for the win32 build)
"""
import os
import shutil
import struct
import subprocess
import sys
import tempfile
import unittest

from PIL import Image

KORCONV = None
RUNNER = []
ENCODING = "utf-8"  # of korconv's messages: UTF-8 natively, Shift-JIS (CP932) under Wine
SEP = "/"  # the folder separator in arguments: the host's ("\\" under Wine)


def run(*args, cwd):
    p = subprocess.run(RUNNER + [KORCONV] + list(args), cwd=cwd, capture_output=True, timeout=120)
    return p.returncode, p.stdout.decode(ENCODING).strip(), p.stderr.decode(ENCODING).strip()


def over_white(im):
    im = im.convert("RGBA")
    white = Image.new("RGBA", im.size, (255, 255, 255, 255))
    return Image.alpha_composite(white, im).convert("RGB")


def max_difference(a, b):
    assert a.size == b.size, (a.size, b.size)
    worst = 0
    for pa, pb in zip(a.getdata(), b.getdata()):
        worst = max(worst, max(abs(x - y) for x, y in zip(pa, pb)))
    return worst


def largest_bmp_image(path):
    """(width, height, bits) of the BMP-based icon image with most pixels, then most bits."""
    with open(path, "rb") as f:
        data = f.read()
    best = None
    for i in range(struct.unpack_from("<H", data, 4)[0]):
        size, offset = struct.unpack_from("<II", data, 6 + 16 * i + 8)
        if data[offset:offset + 4] == b"\x89PNG":
            continue
        _, w, h2, _, bits = struct.unpack_from("<IiiHH", data, offset)
        key = (w * (h2 // 2), bits)
        if best is None or key > best[0]:
            best = (key, (w, h2 // 2, bits))
    return best[1]


def merged_icon(paths, out):
    """One icon of every entry of the icons at `paths`, the entries' data copied unchanged."""
    entries, blobs = [], []
    for path in paths:
        with open(path, "rb") as f:
            data = f.read()
        for i in range(struct.unpack_from("<H", data, 4)[0]):
            entry = data[6 + 16 * i:6 + 16 * i + 16]
            size, offset = struct.unpack_from("<II", entry, 8)
            entries.append(entry[:8])
            blobs.append(data[offset:offset + size])
    at = 6 + 16 * len(entries)
    with open(out, "wb") as f:
        f.write(struct.pack("<HHH", 0, 1, len(entries)))
        for entry, blob in zip(entries, blobs):
            f.write(entry + struct.pack("<II", len(blob), at))
            at += len(blob)
        for blob in blobs:
            f.write(blob)


def placeable_wmf(right, bottom, inch, records=b""):
    head = struct.pack("<IHhhhhHI", 0x9AC6CDD7, 0, 0, 0, right, bottom, inch, 0)
    checksum = 0
    for (w,) in struct.iter_unpack("<H", head):
        checksum ^= w
    body = records + struct.pack("<IH", 3, 0)  # EOF record
    header = struct.pack("<HHHIHIH", 1, 9, 0x0300, (18 + len(body)) // 2, 0, 3, 0)
    return head + struct.pack("<H", checksum) + header + body


def emf(frame_right, frame_bottom):
    eof = struct.pack("<IIIII", 14, 20, 0, 16, 20)
    header = struct.pack("<II4i4iIIIIHHIIIiiii", 1, 88, 0, 0, 99, 49, 0, 0, frame_right, frame_bottom,
                         0x464D4520, 0x10000, 88 + len(eof), 2, 1, 0, 0, 0, 0, 1024, 768, 320, 240)
    return header + eof


class Korconv(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.mkdtemp(prefix="korconv-test-")

    def tearDown(self):
        shutil.rmtree(self.dir, ignore_errors=True)

    def path(self, name):
        return os.path.join(self.dir, name)

    def korconv(self, *args):
        return run(*args, cwd=self.dir)

    def convert_and_compare(self, name, expected, tolerance=0):
        code, out, err = self.korconv(name, "out.bmp")
        self.assertEqual((code, err), (0, ""))
        with Image.open(self.path("out.bmp")) as written:
            self.assertEqual(written.format, "BMP")
            self.assertLessEqual(max_difference(written.convert("RGB"), expected), tolerance)

    def test_bitmaps_keep_size_depth_and_pixels(self):
        im = Image.effect_mandelbrot((300, 200), (-2, -1, 1, 1), 50).convert("RGB")
        im.save(self.path("m.bmp"))
        self.assertEqual(self.korconv("--info", "m.bmp"), (0, "300x200 24 bpp TBitmap", ""))
        self.convert_and_compare("m.bmp", im)
        pal = im.convert("P", palette=Image.ADAPTIVE, colors=16)
        pal.save(self.path("p.BMP"))
        self.assertEqual(self.korconv("--info", "p.BMP"), (0, "300x200 8 bpp TBitmap", ""))
        self.convert_and_compare("p.BMP", pal.convert("RGB"))
        # Unused bytes between the colour table and the pixels, which the file header's offset
        # to the pixels steps over.
        with open(self.path("p.BMP"), "rb") as f:
            data = f.read()
        offset = struct.unpack_from("<I", data, 10)[0]
        gapped = bytearray(data[:offset] + b"\xa5" * 20 + data[offset:])
        struct.pack_into("<II", gapped, 2, len(gapped), 0)
        struct.pack_into("<I", gapped, 10, offset + 20)
        with open(self.path("gap.bmp"), "wb") as f:
            f.write(gapped)
        self.convert_and_compare("gap.bmp", pal.convert("RGB"))

    def test_icons_show_their_largest_image_over_white(self):
        src = Image.new("RGBA", (48, 48))
        for y in range(48):
            for x in range(48):
                src.putpixel((x, y), (x * 5, y * 5, 128, (x * 11 + y * 3) % 256))
        src.save(self.path("pillow.ico"), sizes=[(16, 16), (48, 48), (32, 32)], bitmap_format="bmp")
        src.save(self.path("magick.png"))
        subprocess.run(["convert", self.path("magick.png"), "-define", "icon:auto-resize=16,32,48",
                        self.path("magick.ico")], check=True)
        subprocess.run(["convert", "-size", "20x12", "xc:red", "-fill", "blue", "-draw", "rectangle 0,0 9,5",
                        "-type", "palette", "-colors", "2", self.path("two.png")], check=True)
        subprocess.run(["convert", self.path("two.png"), self.path("two.ico")], check=True)
        for name, size in (("pillow.ico", (48, 48)), ("magick.ico", (48, 48)), ("two.ico", (20, 12))):
            with self.subTest(name):
                w, h, bits = largest_bmp_image(self.path(name))
                self.assertEqual((w, h), size)
                self.assertEqual(self.korconv("--info", name), (0, f"{w}x{h} {bits} bpp TIcon", ""))
                with Image.open(self.path(name)) as ico:
                    self.convert_and_compare(name, over_white(ico), tolerance=1)

    def test_icons_with_png_images_show_the_largest_through_a_png_plugin(self):
        src = Image.new("RGBA", (256, 256))
        src.putdata([(x, y, (x * y) % 256, (x + 2 * y) % 256) for y in range(256) for x in range(256)])
        src.save(self.path("bmps.ico"), sizes=[(16, 16), (48, 48)], bitmap_format="bmp")
        src.save(self.path("pngs.ico"), sizes=[(32, 32), (256, 256)])  # Pillow stores them as PNG
        merged_icon([self.path("bmps.ico"), self.path("pngs.ico")], self.path("mixed.ico"))
        code, plugins, _ = self.korconv("--plugins")
        readers = [line.split("\t")[3::2] for line in plugins.splitlines()]
        png_plugin = code == 0 and any("png" in items.lower() for line in readers for items in line)
        with Image.open(self.path("pngs.ico")) as ico:
            largest_png = over_white(ico)
        if png_plugin:
            for name in ("pngs.ico", "mixed.ico"):
                with self.subTest(name):
                    self.assertEqual(self.korconv("--info", name), (0, "256x256 32 bpp TIcon", ""))
                    self.convert_and_compare(name, largest_png, tolerance=1)
        else:  # the BMP images alone, or the icon's message when it has none
            self.assertEqual(self.korconv("--info", "mixed.ico"), (0, "48x48 32 bpp TIcon", ""))
            with Image.open(self.path("bmps.ico")) as ico:
                self.convert_and_compare("mixed.ico", over_white(ico), tolerance=1)
            self.assertEqual(self.korconv("pngs.ico", "out.bmp"), (1, "", "アイコンイメージが不正です"))

    def test_metafiles_are_written_as_pictures_of_their_size(self):
        with open(self.path("box.wmf"), "wb") as f:
            f.write(placeable_wmf(1440, 720, 1440))
        with open(self.path("frame.emf"), "wb") as f:
            f.write(emf(2540, 1270))
        for name in ("box.wmf", "frame.emf"):
            with self.subTest(name):
                self.assertEqual(self.korconv("--info", name), (0, "96x48 24 bpp TMetafile", ""))
                code, out, err = self.korconv(name, "out.bmp")
                self.assertEqual((code, err), (0, ""))
                with Image.open(self.path("out.bmp")) as written:
                    self.assertEqual(written.size, (96, 48))
                    # Nothing is drawn by these metafiles: a white picture, never an empty file.
                    self.assertEqual(written.convert("RGB").getextrema(), ((255, 255), (255, 255), (255, 255)))

    def test_names_in_any_script_are_read_and_written(self):
        # Letters that Shift-JIS writes, letters it lacks, and one outside the basic plane.
        os.mkdir(self.path("写真 café"))
        im = Image.effect_mandelbrot((40, 30), (-2, -1, 1, 1), 20).convert("RGB")
        im.save(self.path("写真 café/naïve 🌸.bmp"))
        source, target = f"写真 café{SEP}naïve 🌸.bmp", f"写真 café{SEP}出力 ü.bmp"
        self.assertEqual(self.korconv("--info", source), (0, "40x30 24 bpp TBitmap", ""))
        self.assertEqual(self.korconv(source, target)[::2], (0, ""))
        with Image.open(self.path("写真 café/出力 ü.bmp")) as written:
            self.assertEqual(max_difference(written.convert("RGB"), im), 0)
        code, _, err = self.korconv("--info", f"写真 café{SEP}none ü.bmp")
        self.assertEqual(code, 1)
        if not RUNNER:  # the real name, letters and all, natively; Wine's console has code page 932
            self.assertEqual(err, "ファイル 写真 café\\none ü.bmp は開けません")

    def test_failures_exit_1_with_the_systems_message(self):
        # An extension that neither the registry nor any plug-in beside korconv declares.
        Image.new("RGB", (4, 4)).save(self.path("a.qqz"), format="PNG")
        with open(self.path("bad.ico"), "wb") as f:
            f.write(b"\0\0\1\0\1\0" + b"\xff" * 16)
        with open(self.path("bad.wmf"), "wb") as f:
            f.write(b"not a metafile at all")
        Image.new("RGB", (4, 4)).save(self.path("ok.bmp"))
        cases = [
            (("--info", "a.qqz"), "拡張子 .qqz の画像形式は処理できません"),
            (("a.QQZ", "out.bmp"), "拡張子 .QQZ の画像形式は処理できません"),
            (("--info", "noext"), "拡張子 . の画像形式は処理できません"),
            (("--info", "missing.bmp"), "ファイル missing.bmp は開けません"),
            (("--info", f"sub{SEP}missing.bmp"), "ファイル sub\\missing.bmp は開けません"),
            (("bad.ico", "out.bmp"), "アイコンイメージが不正です"),
            (("--info", "bad.wmf"), "メタファイルが不正です"),
            (("ok.bmp", f"no{SEP}such{SEP}dir.bmp"), "ファイル no\\such\\dir.bmp を作成できません"),
        ]
        for args, message in cases:
            with self.subTest(args):
                self.assertEqual(self.korconv(*args), (1, "", message))
        self.assertFalse(os.path.exists(self.path("out.bmp")))
        for args in ((), ("--info",), ("one",), ("a", "b", "c"), ("--info", "a", "b")):
            with self.subTest(args):
                code, out, err = self.korconv(*args)
                self.assertEqual(code, 1)
                self.assertIn("usage", err)


if __name__ == "__main__":
    KORCONV = os.path.abspath(sys.argv[1])
    if len(sys.argv) > 2:
        RUNNER = [os.path.abspath(sys.argv[2])]
        ENCODING = "cp932"
        SEP = "\\"
    unittest.main(argv=sys.argv[:1], verbosity=2)
