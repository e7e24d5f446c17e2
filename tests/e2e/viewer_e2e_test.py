#!/usr/bin/python3
"""End-to-end tests of the real Korvale2.exe under Wine on the display in $DISPLAY.

The viewer is started with a BMP file; a Win32 probe (e2e_probe.exe, same Wine prefix) reads the
caption, the client size and origin and the picture control's size, sends keys and closes the
window; screenshots come from `import -window root`.

  viewer_e2e_test.py --exe Korvale2.exe --probe e2e_probe.exe --wine-run scripts/wine-run
                     [--screenshot shot.png]
Exit code 77 (skipped) without a display.
"""
import argparse
import io
import os
import shutil
import struct
import subprocess
import sys
import tempfile
import time
import unittest

from PIL import Image

sys.path.insert(0, os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
from wine_bitness import skip_unpainted  # noqa: E402

ARGS = None
MENU_BAR = 29


def pixel(x, y, seed):
    return ((x * 7 + seed * 31) & 255, (y * 5 + seed * 17) & 255, ((x + y) * 3 + seed * 11) & 255)


def write_bmp(path, w, h, seed):
    row = (w * 3 + 3) & ~3
    data = bytearray()
    for y in range(h - 1, -1, -1):
        line = bytearray()
        for x in range(w):
            r, g, b = pixel(x, y, seed)
            line += bytes((b, g, r))
        data += line + b"\0" * (row - len(line))
    info = struct.pack("<IiiHHIIiiII", 40, w, h, 1, 24, 0, len(data), 3779, 3779, 0, 0)
    head = struct.pack("<2sIHHI", b"BM", 54 + len(data), 0, 0, 54)
    with open(path, "wb") as f:
        f.write(head + info + data)


def windows_path(path):
    return "Z:" + path.replace("/", "\\")


class Viewer:
    """One running Korvale2.exe."""

    def __init__(self, picture):
        self.proc = subprocess.Popen([ARGS.wine_run, ARGS.exe, windows_path(picture)],
                                     stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        self.state = self.probe("find", "60")

    def probe(self, *args):
        out = subprocess.run([ARGS.wine_run, ARGS.probe, *args], capture_output=True, timeout=120)
        line = out.stdout.decode("utf-8", "replace").strip().splitlines()
        if out.returncode != 0 or not line or "|" not in line[-1]:
            raise AssertionError("probe %s: %r" % (args, out.stdout))
        caption, *numbers = line[-1].rsplit("|", 8)
        cw, ch, ox, oy, iw, ih, ww, wh = map(int, numbers)
        return {"caption": caption, "client": (cw, ch), "origin": (ox, oy), "image": (iw, ih),
                "outer": (ww, wh)}

    def key(self, vk, ctrl=False):
        self.state = self.probe("key", str(vk), *(["ctrl"] if ctrl else []))
        return self.state

    def wait_caption(self, caption, seconds=10):
        end = time.time() + seconds
        while self.state["caption"] != caption and time.time() < end:
            time.sleep(0.3)
            self.state = self.probe("find", "5")
        return self.state

    def close(self):
        subprocess.run([ARGS.wine_run, ARGS.probe, "close"], capture_output=True, timeout=120)
        return self.proc.wait(timeout=60)

    def kill(self):
        if self.proc.poll() is None:
            self.proc.kill()
            self.proc.wait()


def screenshot():
    png = subprocess.run(["import", "-window", "root", "png:-"], capture_output=True, timeout=60, check=True)
    return Image.open(io.BytesIO(png.stdout)).convert("RGB")


class ViewerEndToEnd(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.dir = tempfile.mkdtemp(prefix="kor-e2e-")
        cls.sizes = {"a.bmp": (200, 150, 1), "b.bmp": (220, 150, 2), "c.bmp": (240, 150, 3)}
        for name, (w, h, seed) in cls.sizes.items():
            write_bmp(os.path.join(cls.dir, name), w, h, seed)

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.dir, ignore_errors=True)

    def start(self, name):
        viewer = Viewer(os.path.join(self.dir, name))
        self.addCleanup(viewer.kill)
        return viewer

    def caption(self, name):
        return "Korvale2 - " + windows_path(os.path.join(self.dir, name))

    def test_shows_the_picture_and_closes_with_exit_code_0(self):
        viewer = self.start("b.bmp")
        w, h, seed = self.sizes["b.bmp"]
        self.assertEqual(viewer.state["caption"], self.caption("b.bmp"))
        self.assertEqual(viewer.state["client"], (w, h + MENU_BAR))
        time.sleep(1.0)  # let the window paint
        shot = screenshot()
        if ARGS.screenshot:
            shot.save(ARGS.screenshot)
        ox, oy = viewer.state["origin"]
        region = shot.crop((ox, oy + MENU_BAR, ox + w, oy + MENU_BAR + h))
        expected = Image.new("RGB", (w, h))
        expected.putdata([pixel(x, y, seed) for y in range(h) for x in range(w)])
        differing = sum(1 for a, b in zip(region.getdata(), expected.getdata()) if a != b)
        self.assertEqual(differing, 0, "%d of %d pixels differ" % (differing, w * h))
        self.assertEqual(viewer.close(), 0)

    def test_keys_step_through_the_folder_and_zoom(self):
        viewer = self.start("b.bmp")
        viewer.key(0x2D)  # Insert: next
        self.assertEqual(viewer.wait_caption(self.caption("c.bmp"))["caption"], self.caption("c.bmp"))
        self.assertEqual(viewer.state["client"], (240, 150 + MENU_BAR))
        viewer.key(0x2D)  # wraps to the first
        self.assertEqual(viewer.wait_caption(self.caption("a.bmp"))["caption"], self.caption("a.bmp"))
        viewer.key(0x2E)  # Delete: previous, wraps to the last
        self.assertEqual(viewer.wait_caption(self.caption("c.bmp"))["caption"], self.caption("c.bmp"))
        outer = viewer.state["outer"]
        viewer.key(ord("W"), ctrl=True)
        self.assertEqual(viewer.state["image"], (320, 200))
        self.assertEqual(viewer.state["outer"], outer)  # the window stays; scroll bars appear
        self.assertLess(viewer.state["client"][0], 240)
        viewer.key(ord("Z"), ctrl=True)
        self.assertEqual(viewer.state["image"], (240, 150))
        self.assertEqual(viewer.state["client"], (240, 150 + MENU_BAR))
        self.assertEqual(viewer.close(), 0)


def main():
    global ARGS
    parser = argparse.ArgumentParser()
    parser.add_argument("--exe", required=True)
    parser.add_argument("--probe", required=True)
    parser.add_argument("--wine-run", required=True)
    parser.add_argument("--screenshot")
    ARGS, rest = parser.parse_known_args()
    if not os.environ.get("DISPLAY"):
        print("no display: skipped")
        return 77
    skip_unpainted(ARGS.exe)
    result = unittest.main(argv=[sys.argv[0]] + rest, exit=False).result
    return 0 if result.wasSuccessful() else 1


if __name__ == "__main__":
    sys.exit(main())
