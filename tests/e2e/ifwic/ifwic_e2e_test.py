#!/usr/bin/python3
"""The real Korvale2.exe under Wine with the bundled ifwic.spi beside it (found by the program's
own-folder search, nothing set up in the registry), on pictures Pillow makes here: started on a
PNG of a folder that mixes BMP, PNG, JPEG, GIF and TIFF files, it shows each picture with its
caption and size, steps through its whole list with Insert and Delete (wrapping around), turns
a photo whose EXIF orientation says so upright, reports a corrupt PNG in an error box and keeps
the previous picture, and opens JPEG, GIF and TIFF files named on its command line.  The probe and the helpers are those of tests/e2e/.

  ifwic_e2e_test.py --exe Korvale2.exe --probe e2e_probe.exe --wine-run scripts/wine-run
Exit code 77 (skipped) without a display.
"""
import os
import shutil
import subprocess
import sys
import tempfile
import time
import unittest

import numpy
from PIL import Image, ImageOps

sys.path.insert(0, os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
import viewer_e2e_test as e2e  # noqa: E402

INSERT, DELETE = 0x2D, 0x2E
# The list shows BMP files and the first item of each plug-in's patterns: ifwic.spi's holds all
# of its formats.
LISTED = (".bmp", ".png", ".jpg", ".jpeg", ".jpe", ".jfif", ".gif", ".tif", ".tiff")
# EXIF orientation 6: the stored picture is turned a quarter clockwise to stand upright.
TURNED_CLOCKWISE = 6


def pattern(w, h, seed):
    """A picture with hard edges and smooth ramps, different for every seed."""
    y, x = numpy.mgrid[0:h, 0:w]
    r = (x * 5 + seed * 40) & 255
    g = (y * 7 + seed * 13) & 255
    b = numpy.where(((x // 16) + (y // 16)) % 2 == 0, 230 - seed * 20, (x + y) & 255)
    return numpy.dstack([r, g, b]).astype(numpy.uint8)


def photo(w, h, seed):
    """Smooth colour with sharp grey detail: the codecs' chroma upsampling methods agree on it."""
    y, x = numpy.mgrid[0:h, 0:w]
    base = numpy.dstack([40 + x * 150 // w, 40 + y * 150 // h, 40 + (x + y + seed * 9) * 100 // (w + h)])
    grey = numpy.where(((x // 12) + (y // 12)) % 2 == 0, 0, 50)
    return (base + grey[..., None]).astype(numpy.uint8)


def over_white(rgba):
    """Straight alpha composited over white, rounded to the nearest level."""
    c = rgba[..., :3].astype(numpy.uint32)
    a = rgba[..., 3:4].astype(numpy.uint32)
    return ((c * a + 255 * (255 - a) + 127) // 255).astype(numpy.uint8)


def corrupt_png():
    """A PNG whose header is sound and whose image data is not a deflate stream."""
    import struct
    import zlib

    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))

    head = struct.pack(">IIBBBBB", 230, 120, 8, 2, 0, 0, 0)
    return b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", head) + chunk(b"IDAT", bytes(range(7, 250)) * 4) + chunk(b"IEND", b"")


class Viewer(e2e.Viewer):
    """e2e.Viewer with the program's output kept in a file beside the pictures."""

    def __init__(self, picture, log):
        self.proc = subprocess.Popen([e2e.ARGS.wine_run, e2e.ARGS.exe, e2e.windows_path(picture)], stdout=log,
                                     stderr=subprocess.STDOUT)
        self.state = self.probe("find", "60")


class Folder:
    """The mixed folder: each picture written by Pillow and its expected look as an RGB array."""

    def __init__(self):
        self.dir = tempfile.mkdtemp(prefix="kor-e2e-ifwic-")
        self.expected = {}
        self.lossy = set()
        # Written out of list order; the names' case differs, so a case-sensitive sort shows.
        self.add_rgb("E5.bmp", 260, 170, 5, "BMP")
        self.add_rgb("B2.png", 220, 150, 2, "PNG")
        self.add_rgb("a1.bmp", 200, 140, 1, "BMP")
        self.add_rgba("c3.PNG", 240, 160, 3)
        with open(self.path("d4.png"), "wb") as f:
            f.write(corrupt_png())
        self.add_rgb("f6.jpg", 280, 180, 6, "JPEG", quality=90)
        self.add_palette("g7.gif", 300, 130, 7)
        self.add_rgb("h8.tif", 210, 190, 8, "TIFF", compression="tiff_lzw")
        exif = Image.Exif()
        exif[0x0112] = TURNED_CLOCKWISE
        self.add_rgb("i9.jpg", 150, 250, 9, "JPEG", quality=90, exif=exif.tobytes())

    def path(self, name):
        return os.path.join(self.dir, name)

    def add_rgb(self, name, w, h, seed, fmt, **options):
        pixels = photo(w, h, seed) if fmt == "JPEG" else pattern(w, h, seed)
        Image.fromarray(pixels, "RGB").save(self.path(name), fmt, **options)
        self.decoded(name)
        if fmt == "JPEG":
            self.lossy.add(name)

    def add_rgba(self, name, w, h, seed):
        rgba = numpy.dstack([pattern(w, h, seed), numpy.zeros((h, w), numpy.uint8)])
        x = numpy.arange(w)
        rgba[..., 3] = numpy.where(x < w // 4, 0, numpy.where(x >= 3 * w // 4, 255, (x * 3 + 17) & 255))
        Image.fromarray(rgba, "RGBA").save(self.path(name), "PNG")
        self.decoded(name)

    def add_palette(self, name, w, h, seed):
        Image.fromarray(pattern(w, h, seed), "RGB").quantize(200).save(self.path(name), "GIF")
        self.decoded(name)

    def decoded(self, name):
        with Image.open(self.path(name)) as im:
            im = ImageOps.exif_transpose(im)  # upright, as the viewer shows photos
            self.expected[name] = over_white(numpy.asarray(im.convert("RGBA")))

    def size(self, name):
        h, w = self.expected[name].shape[:2]
        return w, h

    def listed(self):
        names = [n for n in os.listdir(self.dir) if n.lower().endswith(LISTED)]
        return sorted(names, key=str.lower)

    def caption(self, name):
        return "Korvale2 - " + e2e.windows_path(self.path(name))


@unittest.skipUnless(os.environ.get("DISPLAY"), "needs a display (run under xvfb-run)")
class ViewerWithBundledPlugin(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.folder = Folder()

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.folder.dir, ignore_errors=True)

    def start(self, name):
        log = open(os.path.join(self.folder.dir, "viewer.log"), "ab")
        self.addCleanup(log.close)
        viewer = Viewer(self.folder.path(name), log)
        self.addCleanup(viewer.kill)
        return viewer

    def difference(self, viewer, name):
        """Screen pixels of the picture region against the expected picture: (max, mean)."""
        want = self.folder.expected[name]
        h, w = want.shape[:2]
        ox, oy = viewer.state["origin"]
        top = oy + e2e.MENU_BAR
        shot = numpy.asarray(e2e.screenshot().crop((ox, top, ox + w, top + h))).astype(int)
        diff = numpy.abs(shot - want.astype(int))
        return int(diff.max()), float(diff.mean())

    def assert_shows(self, viewer, name):
        """Caption, client size and the painted pixels are those of NAME."""
        self.assertEqual(viewer.wait_caption(self.folder.caption(name))["caption"], self.folder.caption(name))
        w, h = self.folder.size(name)
        # The caption is set before the window is fitted to the picture: on a busy machine the
        # probe can see the caption while the fitting is still under way, so the size is polled.
        end = time.time() + 10
        while viewer.state["client"] != (w, h + e2e.MENU_BAR) and time.time() < end:
            time.sleep(0.3)
            viewer.state = viewer.probe("find", "5")
        self.assertEqual(viewer.state["client"], (w, h + e2e.MENU_BAR), name)
        lossy = name in self.folder.lossy
        # Painting follows the resize: poll the screen until it matches or time runs out.
        end = time.time() + 15
        while True:
            worst, mean = self.difference(viewer, name)
            good = (worst <= 24 and mean <= 1.5) if lossy else worst == 0
            if good or time.time() > end:
                break
            time.sleep(0.3)
        if lossy:
            self.assertLessEqual(mean, 1.5, "%s: mean difference %.2f" % (name, mean))
            self.assertLessEqual(worst, 24, "%s: largest difference %d" % (name, worst))
        else:
            self.assertEqual(worst, 0, "%s: pixels differ by up to %d" % (name, worst))

    def assert_decode_error(self, viewer):
        out = subprocess.run([e2e.ARGS.wine_run, e2e.ARGS.probe, "box", "30"], capture_output=True, timeout=120)
        line = out.stdout.decode("utf-8", "replace").strip().splitlines()
        self.assertEqual(out.returncode, 0, "no error box: %r" % out.stdout)
        caption, _, text = line[-1].partition("|")
        self.assertEqual((caption, text), ("Korvale2", "Susie Plugins could not decode."))

    def test_steps_through_the_mixed_folder_both_ways(self):
        order = self.folder.listed()
        self.assertEqual(order, ["a1.bmp", "B2.png", "c3.PNG", "d4.png", "E5.bmp", "f6.jpg", "g7.gif", "h8.tif",
                                 "i9.jpg"])
        self.assertEqual(self.folder.size("i9.jpg"), (250, 150))  # stored 150 x 250
        broken = "d4.png"
        viewer = self.start("B2.png")
        self.assert_shows(viewer, "B2.png")
        for key, step in ((INSERT, 1), (DELETE, -1)):
            shown = "B2.png"
            at = order.index(shown)
            for _ in range(len(order)):
                at = (at + step) % len(order)
                with self.subTest(key=hex(key), to=order[at]):
                    viewer.key(key)
                    if order[at] == broken:
                        self.assert_decode_error(viewer)
                        self.assert_shows(viewer, shown)  # the previous picture stays
                    else:
                        shown = order[at]
                        self.assert_shows(viewer, shown)
            self.assertEqual(shown, "B2.png")  # around the whole list
        self.assertEqual(viewer.close(), 0)

    def test_then_opens_jpeg_gif_and_tiff_given_on_the_command_line(self):
        for name in ["f6.jpg", "g7.gif", "h8.tif"]:
            with self.subTest(name=name):
                viewer = self.start(name)
                self.assert_shows(viewer, name)
                self.assertEqual(viewer.close(), 0)


if __name__ == "__main__":
    # The shared driver parses the same options, skips without a display and runs this
    # module's tests.
    sys.exit(e2e.main())
