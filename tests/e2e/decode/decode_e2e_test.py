#!/usr/bin/python3
"""The real Korvale2.exe under Wine opening pictures through the KVP1 fixture plug-in, found in
the Susie folder named in the registry: started on a BMP file, it steps with Insert through a
folder that mixes BMP and plug-in files (one of them behind a MacBinary header), fits the window
to each picture, zooms in, and saves the shown plug-in picture; the saved BMP holds that
picture pixel for pixel.

usage: decode_e2e_test.py KORVALE2_EXE PROBE_EXE KVPDEC_SPI WINE_RUN   (needs $DISPLAY)
"""
import os
import shutil
import struct
import subprocess
import sys
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))
from susie_folder import SusieFolderMixin, windows_path  # noqa: E402
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", ".."))
from wine_bitness import skip_unpainted  # noqa: E402

from PIL import Image

EXE = PROBE = PLUGIN = WINE_RUN = None


def quad(i):
    """Colour-table entry i of the fixture pictures as (R, G, B)."""
    return ((i * 31) & 255, (255 - i) & 255, (i * 7) & 255)


def pixel(bits, x, y):
    """The fixture pattern at (x, y): a colour index for 8 bits, (R, G, B) for 24."""
    if bits == 8:
        return (x * 3 + y * 5) % 256
    return (((x * 13) ^ y) & 255, (x + y * 5) & 255, (x * 7 + y) & 255)


def rgb(bits, x, y):
    v = pixel(bits, x, y)
    return quad(v) if bits == 8 else v


def rows(bits, width, height):
    """Rows top first, each padded to 4 bytes, as DIB bytes (B, G, R for 24 bits)."""
    out = []
    for y in range(height):
        if bits == 8:
            row = bytes(pixel(8, x, y) for x in range(width))
        else:
            row = b"".join(bytes(reversed(pixel(24, x, y))) for x in range(width))
        out.append(row + b"\0" * (-len(row) % 4))
    return out


def kvp(bits, width, height, macbinary=False):
    table = b"".join(bytes((b, g, r, 0)) for r, g, b in map(quad, range(256))) if bits == 8 else b""
    head = b"KVP1" + struct.pack("<iiHHII", width, height, bits, 0, 0, 0)
    prefix = (b"\0\x05photo" + b"\0" * 121) if macbinary else b""
    return prefix + head + table + b"".join(rows(bits, width, height))


def bmp(width, height):
    data = b"".join(reversed(rows(24, width, height)))
    info = struct.pack("<IiiHHIIiiII", 40, width, height, 1, 24, 0, len(data), 0, 0, 0, 0)
    return b"BM" + struct.pack("<IHHI", 14 + 40 + len(data), 0, 0, 54) + info + data


@unittest.skipUnless(os.environ.get("DISPLAY"), "needs a display (run under xvfb-run)")
class ViewerOpensPluginPictures(SusieFolderMixin, unittest.TestCase):
    PREFIX = "korvale-e2e-decode-"

    def setUp(self):
        super().setUp()
        shutil.copy(PLUGIN, os.path.join(self.plugins, "kvpdec.spi"))

    def test_steps_zooms_and_saves_plugin_pictures(self):
        pictures = os.path.join(self.dir, "pictures")
        os.mkdir(pictures)
        sizes = {"a.bmp": (300, 200), "b.kvp": (320, 210), "c.kvp": (340, 220)}
        with open(os.path.join(pictures, "a.bmp"), "wb") as f:
            f.write(bmp(*sizes["a.bmp"]))
        with open(os.path.join(pictures, "b.kvp"), "wb") as f:
            f.write(kvp(24, *sizes["b.kvp"]))
        with open(os.path.join(pictures, "c.kvp"), "wb") as f:
            f.write(kvp(8, *sizes["c.kvp"], macbinary=True))
        out = os.path.join(self.dir, "saved.bmp")

        viewer = subprocess.Popen([WINE_RUN, self.exe, windows_path(os.path.join(pictures, "a.bmp"))], env=self.env,
                                  cwd=self.dir, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        try:
            probe = self.wine(PROBE, "60000", "2", windows_path(out))
            code = viewer.wait(timeout=60)
        finally:
            if viewer.poll() is None:
                viewer.kill()
        lines = probe.stdout.decode("utf-8").replace("\r", "").splitlines()
        self.assertEqual(probe.returncode, 0, "\n".join(lines))
        captions = [l[len("caption "):] for l in lines if l.startswith("caption ")]
        clients = [tuple(map(int, l.split()[1:])) for l in lines if l.startswith("client ")]
        children = [tuple(map(int, l.split()[1:])) for l in lines if l.startswith("child ")]
        names = ["a.bmp", "b.kvp", "c.kvp"]
        self.assertEqual(len(captions), 3, lines)
        for caption, client, name in zip(captions, clients, names):
            self.assertTrue(caption.startswith("Korvale2 - "), caption)
            self.assertTrue(caption.lower().endswith("\\" + name), caption)
            self.assertEqual(client[0], sizes[name][0], (name, client))
        # The menu bar takes the same height above every picture.
        bars = {client[1] - sizes[name][1] for client, name in zip(clients, names)}
        self.assertEqual(len(bars), 1, clients)
        # Zoomed in one step: the picture control is 4/3 of the picture, rounded down.
        width, height = sizes["c.kvp"]
        self.assertIn((width * 4 // 3, height * 4 // 3), children, children)
        self.assertEqual(code, 0)

        saved = Image.open(out).convert("RGB")
        self.assertEqual(saved.size, (width, height))
        wrong = [(x, y) for y in range(height) for x in range(width) if saved.getpixel((x, y)) != rgb(8, x, y)]
        self.assertEqual(wrong[:5], [])


if __name__ == "__main__":
    EXE, PROBE, PLUGIN, WINE_RUN = sys.argv[1:5]
    SusieFolderMixin.EXE, SusieFolderMixin.WINE_RUN = EXE, WINE_RUN
    skip_unpainted(EXE)
    unittest.main(argv=sys.argv[:1])
