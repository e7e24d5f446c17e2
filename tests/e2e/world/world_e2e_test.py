#!/usr/bin/python3
"""The real Korvale2.exe under Wine as people outside Japan and on other desktops meet it.

- Under the Japanese, English, Korean and Chinese locales (ANSI code pages 932, 1252, 949, 936)
  the menu bar is the same, pixel for pixel; a folder named with the locale's own letters and an
  emoji (which no code page writes) opens from the command line, the caption shows the real
  name, and Insert steps to a picture named with an emoji.
- Under the English locale a bad BMP reached by a step gives its error box in Japanese.
- A plug-in that loads its helper library by bare name while it decodes gets the copy beside
  itself, never the one planted in the picture folder, which is also the current folder.
- At 144 dpi (a Wine prefix of its own with LogPixels 144) the menu bar is 44 pixels high and
  the picture is shown one to one.  (Two monitors side by side are checked by the window tests
  through a monitor stand-in: this Xvfb puts every screen of +xinerama at the same origin.)

  world_e2e_test.py --exe Korvale2.exe --probe e2e_probe.exe --wine-run scripts/wine-run
                    --helper-dir <build>/spi/fixtures/helper --planted-dir <build>/spi/fixtures/planted
                    [--screenshots DIR]
Exit code 77 (skipped) without a display.
"""
import argparse
import os
import shutil
import subprocess
import sys
import tempfile
import time
import unittest

from PIL import Image

sys.path.insert(0, os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
import susie_folder  # noqa: E402
import viewer_e2e_test as e2e  # noqa: E402

OPTIONS = None  # this test's own options; the shared ones are e2e.ARGS
INSERT, DELETE = 0x2D, 0x2E
# Each locale's own letters for a folder and a picture.
LOCALES = {
    "ja_JP.UTF-8": "写真",
    "en_US.UTF-8": "Café",
    "ko_KR.UTF-8": "사진",
    "zh_CN.UTF-8": "照片",
}
OUTSIDE = "🌸"  # in no ANSI code page


class Viewer(e2e.Viewer):
    """A Korvale2.exe with its own environment (locale, display, prefix) and current folder."""

    def __init__(self, exe, picture, env, cwd=None):
        self.env = env
        self.proc = subprocess.Popen([e2e.ARGS.wine_run, exe, e2e.windows_path(picture)], env=env, cwd=cwd,
                                     stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        self.state = self.probe("find", "60")

    def probe(self, *args):
        out = subprocess.run([e2e.ARGS.wine_run, e2e.ARGS.probe, *args], env=self.env, capture_output=True, timeout=120)
        lines = out.stdout.decode("utf-8", "replace").strip().splitlines()
        if out.returncode != 0 or not lines or "|" not in lines[-1]:
            raise AssertionError("probe %s: %r" % (args, out.stdout))
        if args[0] == "box":
            caption, text = lines[-1].split("|", 1)
            return {"caption": caption, "text": text}
        caption, *numbers = lines[-1].rsplit("|", 8)
        cw, ch, ox, oy, iw, ih, ww, wh = map(int, numbers)
        return {"caption": caption, "client": (cw, ch), "origin": (ox, oy), "image": (iw, ih),
                "outer": (ww, wh)}

    def close(self):
        subprocess.run([e2e.ARGS.wine_run, e2e.ARGS.probe, "close"], env=self.env, capture_output=True, timeout=120)
        return self.proc.wait(timeout=60)


def differing(shot, box, w, h, seed):
    region = shot.crop(box)
    expected = Image.new("RGB", (w, h))
    expected.putdata([e2e.pixel(x, y, seed) for y in range(h) for x in range(w)])
    return sum(1 for a, b in zip(region.getdata(), expected.getdata()) if a != b)


class Locales(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.mkdtemp(prefix="kor-world-")
        self.addCleanup(shutil.rmtree, self.dir, True)

    def start(self, picture, locale, cwd=None):
        env = dict(os.environ, KOR_WINE_LANG=locale)
        viewer = Viewer(e2e.ARGS.exe, picture, env, cwd)
        self.addCleanup(viewer.kill)
        return viewer

    def test_menu_bar_and_names_under_four_code_pages(self):
        bars = {}
        for locale, letters in LOCALES.items():
            with self.subTest(locale):
                folder = os.path.join(self.dir, locale[:2], letters + " " + OUTSIDE)
                os.makedirs(folder)
                own, outside = os.path.join(folder, letters + ".bmp"), os.path.join(folder, OUTSIDE + ".bmp")
                e2e.write_bmp(own, 240, 120, 1)
                e2e.write_bmp(outside, 200, 100, 2)
                viewer = self.start(own, locale)
                self.assertEqual(viewer.state["caption"], "Korvale2 - " + e2e.windows_path(own))
                self.assertEqual(viewer.state["client"], (240, 120 + e2e.MENU_BAR))
                time.sleep(1.0)  # let the window paint
                shot = e2e.screenshot()
                if OPTIONS.screenshots:
                    shot.save(os.path.join(OPTIONS.screenshots, "world-%s.png" % locale[:5]))
                ox, oy = viewer.state["origin"]
                bars[locale] = shot.crop((ox, oy, ox + 240, oy + e2e.MENU_BAR))
                self.assertEqual(differing(shot, (ox, oy + e2e.MENU_BAR, ox + 240, oy + e2e.MENU_BAR + 120),
                                           240, 120, 1), 0)
                viewer.key(INSERT)  # the other picture of the folder, named outside every code page
                caption = "Korvale2 - " + e2e.windows_path(outside)
                self.assertEqual(viewer.wait_caption(caption)["caption"], caption)
                self.assertEqual(viewer.state["client"], (200, 100 + e2e.MENU_BAR))
                self.assertEqual(viewer.close(), 0)
            viewer.kill()
        japanese = bars.get("ja_JP.UTF-8")
        for locale, bar in bars.items():
            with self.subTest("menu bar " + locale):
                self.assertIsNotNone(japanese)
                self.assertEqual(list(bar.getdata()), list(japanese.getdata()))

    def test_error_box_of_a_bad_bmp_under_english(self):
        folder = os.path.join(self.dir, "Café")
        os.makedirs(folder)
        e2e.write_bmp(os.path.join(folder, "a.bmp"), 200, 100, 3)
        e2e.write_bmp(os.path.join(folder, "b.bmp"), 20, 10, 3)
        with open(os.path.join(folder, "b.bmp"), "r+b") as f:
            f.seek(28)  # the bit count: 7 is none of a bitmap's
            f.write(b"\x07\x00")
        viewer = self.start(os.path.join(folder, "a.bmp"), "en_US.UTF-8")
        viewer.key(INSERT)
        box = viewer.probe("box", "20")
        self.assertEqual(box, {"caption": "Korvale2", "text": "ビットマップイメージが不正です."})
        # The previous picture stays.
        self.assertEqual(viewer.probe("find", "5")["client"], (200, 100 + e2e.MENU_BAR))
        self.assertEqual(viewer.close(), 0)


class PlantedLibrary(susie_folder.SusieFolderMixin, unittest.TestCase):
    PREFIX = "kor-planted-"

    def setUp(self):
        self.EXE, self.WINE_RUN = e2e.ARGS.exe, e2e.ARGS.wine_run
        super().setUp()

    def test_the_copy_in_the_picture_folder_is_never_loaded(self):
        for name in ("fx_helper.spi", "fxhelper.dll"):
            shutil.copy(os.path.join(OPTIONS.helper_dir, name), self.plugins)
        pictures = os.path.join(self.dir, "pictures")
        os.mkdir(pictures)
        shutil.copy(os.path.join(OPTIONS.planted_dir, "fxhelper.dll"), pictures)
        with open(os.path.join(pictures, "a.fxh"), "wb") as f:
            f.write(b"FXH1" + b"\0" * 60)
        e2e.write_bmp(os.path.join(pictures, "b.bmp"), 120, 80, 4)
        # Started from the picture folder, as a double-click in a file manager does.
        viewer = Viewer(self.exe, os.path.join(pictures, "b.bmp"), self.env, cwd=pictures)
        self.addCleanup(viewer.kill)
        time.sleep(1.0)  # the plug-in helper starts with the window
        viewer.state = viewer.probe("find", "20")
        viewer.key(INSERT)  # wraps to a.fxh, decoded by the plug-in
        caption = "Korvale2 - " + e2e.windows_path(os.path.join(pictures, "a.fxh"))
        self.assertEqual(viewer.wait_caption(caption)["caption"], caption)
        # The genuine helper beside the plug-in says 30 pixels; the planted one would say 70.
        self.assertEqual(viewer.state["image"], (30, 20))
        self.assertEqual(viewer.close(), 0)


class At144Dpi(unittest.TestCase):
    """A prefix of its own with LogPixels 144: the resolution is read when Wine starts."""

    @classmethod
    def setUpClass(cls):
        build = os.path.dirname(os.path.dirname(os.path.abspath(e2e.ARGS.exe)))
        cls.env = dict(os.environ, WINEPREFIX=os.path.join(build, "wineprefix-144dpi"))
        # The first run through wine-run creates the prefix (for the build's architecture).
        for key in (r"HKCU\Control Panel\Desktop",
                    r"HKLM\System\CurrentControlSet\Hardware Profiles\Current\Software\Fonts"):
            subprocess.run([e2e.ARGS.wine_run, "reg", "add", key, "/v", "LogPixels", "/t", "REG_DWORD", "/d", "144",
                            "/f"], env=cls.env, capture_output=True, timeout=600)
        # A fresh server reads the resolution (started and stopped through wine-env: a server is
        # found in the folder the scripts agree on).
        wine_env = cls.wine_env = os.path.join(os.path.dirname(os.path.abspath(e2e.ARGS.wine_run)), "wine-env")
        subprocess.run([wine_env, "wineserver", "-k"], env=cls.env, timeout=60)
        subprocess.run([wine_env, "wineserver", "-w"], env=cls.env, timeout=60)
        # Wine's services start with the first process of a server and keep its output open: start
        # them here, detached, or the viewer and the probe race for them and the probe's output
        # never ends.
        subprocess.run([wine_env, "wineserver", "-p"], env=cls.env, timeout=60)
        subprocess.run([e2e.ARGS.wine_run, "cmd.exe", "/c", "exit"], env=cls.env, stdin=subprocess.DEVNULL,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=600)
        cls.dir = tempfile.mkdtemp(prefix="kor-144dpi-")

    @classmethod
    def tearDownClass(cls):
        subprocess.run([cls.wine_env, "wineserver", "-k"], env=cls.env, timeout=60)
        shutil.rmtree(cls.dir, ignore_errors=True)

    def test_menu_bar_scales_and_the_picture_stays_one_to_one(self):
        picture = os.path.join(self.dir, "p.bmp")
        e2e.write_bmp(picture, 300, 150, 5)
        viewer = Viewer(e2e.ARGS.exe, picture, self.env)
        self.addCleanup(viewer.kill)
        bar = 44  # 29 designer pixels at 144 dpi
        self.assertEqual(viewer.state["client"], (300, 150 + bar))
        time.sleep(1.0)
        shot = e2e.screenshot()
        if OPTIONS.screenshots:
            shot.save(os.path.join(OPTIONS.screenshots, "world-144dpi.png"))
        ox, oy = viewer.state["origin"]
        self.assertEqual(differing(shot, (ox, oy + bar, ox + 300, oy + bar + 150), 300, 150, 5), 0)
        self.assertEqual(viewer.close(), 0)


def main():
    global OPTIONS
    parser = argparse.ArgumentParser()
    parser.add_argument("--helper-dir", required=True)
    parser.add_argument("--planted-dir", required=True)
    parser.add_argument("--screenshots")
    OPTIONS, rest = parser.parse_known_args()
    sys.argv = [sys.argv[0]] + rest
    # The shared driver parses the remaining options, skips without a display and runs this
    # module's tests.
    return e2e.main()


if __name__ == "__main__":
    sys.exit(main())
