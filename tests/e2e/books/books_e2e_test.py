#!/usr/bin/python3
"""The real Korvale2.exe under Wine with the bundled korzip.sph beside it (found by the program's
own-folder search, nothing set up in the registry): a folder that mixes BMP files with ZIP books
(one of three pages in two subfolders, written out of order beside a text file; one with no
pictures; one whose central directory is garbage; one of two pages, a deflated BMP and a stored
PNG) is walked with Insert round the whole folder and back with Delete.  At every step the caption
names the file or the archive and entry, the window fits the picture and the client area shows
its pixels; the two archives that cannot be read each give their error box and leave the picture
shown, and the walk goes on from them.  The probe and the helpers are those of tests/e2e/.

  books_e2e_test.py --exe Korvale2.exe --probe e2e_probe.exe --wine-run scripts/wine-run
Exit code 77 (skipped) without a display.
"""
import io
import os
import shutil
import struct
import subprocess
import sys
import tempfile
import time
import unittest
import zipfile

import numpy
from PIL import Image

sys.path.insert(0, os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
import viewer_e2e_test as e2e  # noqa: E402

INSERT, DELETE = 0x2D, 0x2E
END_OF_DIRECTORY = b"PK\x05\x06"


def pattern(w, h, seed):
    """A picture with hard edges and ramps in every channel, different for every seed."""
    y, x = numpy.mgrid[0:h, 0:w]
    r = (x * 3 + seed * 37) & 255
    g = (y * 5 + seed * 71) & 255
    b = numpy.where(((x // (8 + seed)) + (y // 10)) % 2 == 0, 40 + seed * 23, (x * 2 + y + seed * 9) & 255)
    return numpy.dstack([r, g, b]).astype(numpy.uint8)


def encoded(pixels, fmt):
    out = io.BytesIO()
    Image.fromarray(pixels, "RGB").save(out, fmt)
    return out.getvalue()


def garble_directory(data):
    """The ZIP `data` with its central directory overwritten by bytes that are no records; its
    local headers and its end record stay."""
    end = data.rindex(END_OF_DIRECTORY)
    size, offset = struct.unpack("<II", data[end + 12:end + 20])
    assert offset + size == end
    junk = bytes((i * 89 + 17) & 255 for i in range(size))
    return data[:offset] + junk + data[end:]


class Folder:
    """The folder on disk and, for every picture the walk can show, its expected pixels, named by
    its path in the folder ("b_book.zip\\01\\02.bmp" for a page)."""

    def __init__(self):
        self.dir = tempfile.mkdtemp(prefix="kor-e2e-books-")
        self.expected = {}
        self.write("a.bmp", encoded(self.picture("a.bmp", 200, 140, 1), "BMP"))
        # Pages written in shuffled order, a folder record first and a text file among them.
        with zipfile.ZipFile(self.path("b_book.zip"), "w", zipfile.ZIP_DEFLATED) as z:
            z.writestr(zipfile.ZipInfo("02/"), b"")
            z.writestr("02/01.bmp", encoded(self.picture("b_book.zip\\02\\01.bmp", 250, 170, 4), "BMP"))
            z.writestr("notes.txt", b"pages scanned in two sittings\r\n" * 20)
            z.writestr("01/02.bmp", encoded(self.picture("b_book.zip\\01\\02.bmp", 230, 160, 3), "BMP"))
            z.writestr("01/01.bmp", encoded(self.picture("b_book.zip\\01\\01.bmp", 210, 150, 2), "BMP"))
        with zipfile.ZipFile(self.path("c_empty.zip"), "w", zipfile.ZIP_DEFLATED) as z:
            z.writestr("readme.txt", b"no pictures here\r\n")
            z.writestr("data.bin", bytes(range(256)) * 8)
        damaged = io.BytesIO()
        with zipfile.ZipFile(damaged, "w", zipfile.ZIP_STORED) as z:
            z.writestr("01.bmp", encoded(pattern(190, 120, 9), "BMP"))
            z.writestr("02.bmp", encoded(pattern(180, 130, 10), "BMP"))
        self.write("d_damaged.zip", garble_directory(damaged.getvalue()))
        # A deflated BMP and a stored PNG (decoded by ifwic.sph from the bytes taken out).
        with zipfile.ZipFile(self.path("e_book.zip"), "w") as z:
            z.writestr("p1.bmp", encoded(self.picture("e_book.zip\\p1.bmp", 220, 180, 5), "BMP"),
                       compress_type=zipfile.ZIP_DEFLATED)
            z.writestr("p2.png", encoded(self.picture("e_book.zip\\p2.png", 240, 130, 6), "PNG"),
                       compress_type=zipfile.ZIP_STORED)
        with zipfile.ZipFile(self.path("e_book.zip")) as z:
            assert [i.compress_type for i in z.infolist()] == [zipfile.ZIP_DEFLATED, zipfile.ZIP_STORED]
        self.write("f.bmp", encoded(self.picture("f.bmp", 260, 150, 7), "BMP"))

    def path(self, name):
        return os.path.join(self.dir, name)

    def write(self, name, data):
        with open(self.path(name), "wb") as f:
            f.write(data)

    def picture(self, name, w, h, seed):
        self.expected[name] = pattern(w, h, seed)
        return self.expected[name]

    def size(self, name):
        h, w = self.expected[name].shape[:2]
        return w, h

    def windows(self, name):
        return e2e.windows_path(self.dir) + "\\" + name

    def caption(self, name):
        return "Korvale2 - " + self.windows(name)


class Viewer(e2e.Viewer):
    """e2e.Viewer with the program's output kept in a file."""

    def __init__(self, picture, log):
        self.proc = subprocess.Popen([e2e.ARGS.wine_run, e2e.ARGS.exe, e2e.windows_path(picture)], stdout=log,
                                     stderr=subprocess.STDOUT)
        self.state = self.probe("find", "60")


@unittest.skipUnless(os.environ.get("DISPLAY"), "needs a display (run under xvfb-run)")
class ViewerReadsBooks(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.folder = Folder()

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.folder.dir, ignore_errors=True)

    def difference(self, viewer, name):
        """The largest difference between the screen under the menu bar and the picture."""
        want = self.folder.expected[name]
        h, w = want.shape[:2]
        ox, oy = viewer.state["origin"]
        top = oy + e2e.MENU_BAR
        shot = numpy.asarray(e2e.screenshot().crop((ox, top, ox + w, top + h))).astype(int)
        return int(numpy.abs(shot - want.astype(int)).max())

    def assert_shows(self, viewer, name, step):
        """Caption, client size and the painted pixels are those of NAME."""
        caption = self.folder.caption(name)
        self.assertEqual(viewer.wait_caption(caption)["caption"], caption, step)
        w, h = self.folder.size(name)
        # The caption is set before the window is fitted and painted: both are polled.
        end = time.time() + 10
        while viewer.state["client"] != (w, h + e2e.MENU_BAR) and time.time() < end:
            time.sleep(0.3)
            viewer.state = viewer.probe("find", "5")
        self.assertEqual(viewer.state["client"], (w, h + e2e.MENU_BAR), step)
        end = time.time() + 15
        while (worst := self.difference(viewer, name)) != 0 and time.time() < end:
            time.sleep(0.3)
        self.assertEqual(worst, 0, "%s: pixels differ by up to %d" % (step, worst))

    def assert_box(self, text, step):
        """The viewer shows an error box saying TEXT; it is dismissed."""
        out = subprocess.run([e2e.ARGS.wine_run, e2e.ARGS.probe, "box", "30"], capture_output=True, timeout=120)
        lines = out.stdout.decode("utf-8", "replace").strip().splitlines()
        self.assertEqual(out.returncode, 0, "%s: no error box: %r" % (step, out.stdout))
        caption, _, said = lines[-1].partition("|")
        self.assertEqual((caption, said), ("Korvale2", text), step)

    def test_walks_the_folder_and_its_books_both_ways(self):
        f = self.folder
        empty = ("box", "書庫 %s には表示できる画像がありません." % f.windows("c_empty.zip"))
        # The end record is sound, the records it points at are not: the plug-in says broken data.
        damaged = ("box", "korzip.sph:Susie Pluginは書庫を読み込めませんでした (エラー 3)")
        forward = ["b_book.zip\\01\\01.bmp", "b_book.zip\\01\\02.bmp", "b_book.zip\\02\\01.bmp", empty, damaged,
                   "e_book.zip\\p1.bmp", "e_book.zip\\p2.png", "f.bmp", "a.bmp"]
        # Backwards a book opens at its last page.
        backward = ["f.bmp", "e_book.zip\\p2.png", "e_book.zip\\p1.bmp", damaged, empty, "b_book.zip\\02\\01.bmp",
                    "b_book.zip\\01\\02.bmp", "b_book.zip\\01\\01.bmp", "a.bmp"]
        log = open(f.path("viewer.log"), "ab")
        self.addCleanup(log.close)
        viewer = Viewer(f.path("a.bmp"), log)
        self.addCleanup(viewer.kill)
        shown = "a.bmp"
        self.assert_shows(viewer, shown, "start")
        for key, walk in (("Insert", forward), ("Delete", backward)):
            for n, to in enumerate(walk, 1):
                step = "%s %d from %s" % (key, n, shown)
                viewer.key(INSERT if key == "Insert" else DELETE)
                if isinstance(to, tuple):
                    self.assert_box(to[1], step)
                    step += " (after its box)"
                else:
                    shown = to
                self.assert_shows(viewer, shown, step)
        self.assertEqual(viewer.close(), 0)


if __name__ == "__main__":
    # The shared driver parses the same options, skips without a display and runs this
    # module's tests.
    sys.exit(e2e.main())
