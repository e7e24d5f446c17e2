#!/usr/bin/python3
"""The real Korvale2.exe under Wine with plug-ins from the Susie folder named in the registry:
both file dialogs get the filter built from each module's first pattern item, and a plug-in
lacking a required entry point ends the start with the fatal error box and exit code 1.

usage: plugins_e2e_test.py KORVALE2_EXE PROBE_EXE FIXTURE_DIR WINE_RUN   (needs $DISPLAY)
"""
import os
import shutil
import subprocess
import sys
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))
from susie_folder import SusieFolderMixin, windows_path  # noqa: E402
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", ".."))
from wine_bitness import skip_unpainted  # noqa: E402

EXE = PROBE = FIXTURES = WINE_RUN = None


@unittest.skipUnless(os.environ.get("DISPLAY"), "needs a display (run under xvfb-run)")
class ViewerWithPlugins(SusieFolderMixin, unittest.TestCase):
    PREFIX = "korvale-e2e-plugins-"

    def add(self, fixture, name):
        shutil.copy(os.path.join(FIXTURES, fixture + ".spi"), os.path.join(self.plugins, name))

    def run_with_probe(self, mode, cwd):
        viewer = subprocess.Popen([WINE_RUN, self.exe], env=self.env, cwd=cwd, stdout=subprocess.DEVNULL,
                                  stderr=subprocess.DEVNULL)
        try:
            probe = self.wine(PROBE, mode, "60000")
            code = viewer.wait(timeout=60)
        finally:
            if viewer.poll() is None:
                viewer.kill()
        return probe, code

    def test_broken_plugin_gives_the_fatal_error_box(self):
        self.add("fx_in", "a.spi")
        self.add("fx_in_nopicture", "broken.spi")
        probe, code = self.run_with_probe("fatal", self.dir)
        self.assertEqual(probe.returncode, 0, "no fatal error box appeared")
        text = probe.stdout.decode("utf-8").strip().replace("\r", "")  # the console doubles CRs
        head, _, message = text.partition("\n")
        self.assertTrue(head.startswith("ESPIInvalidAPI がモジュール Korvale2.exe の "), head)
        self.assertTrue(head.endswith(" で発生しました。"), head)
        broken = windows_path(os.path.join(self.plugins, "broken.spi"))
        self.assertEqual(message.lower(), ("GetPictureは[%s]では使えないSusie Plugin APIです." % broken).lower())
        self.assertEqual(code, 1)

    def test_both_dialogs_filter_holds_each_module_first_patterns(self):
        self.add("fx_in", "a.spi")      # items "*.fx1", "*.fx2;*.fx3"
        self.add("fx_multi", "b.spi")   # items "*.jpg;*.jpeg", "*.tif;*.tiff;*.tf", "*.png"
        self.add("fx_am", "c.spi")      # archive: "*.lzh", listed as well
        self.add("fx_nokind", "d.spi")  # no kind at all: its "*.nk" still counts
        pictures = os.path.join(self.dir, "pictures")
        os.mkdir(pictures)
        for name in ["p.bmp", "q.fx1", "r.fx2", "s.jpg", "t.jpeg", "u.tf", "v.png", "w.lzh", "x.nk", "y.txt"]:
            with open(os.path.join(pictures, name), "wb") as f:
                f.write(b"x")
        for dialog in ["open", "save"]:
            with self.subTest(dialog=dialog):
                probe, code = self.run_with_probe(dialog, pictures)
                self.assertEqual(probe.returncode, 0, "the dialog did not show its list")
                shown = sorted(n.strip().lower() for n in probe.stdout.decode("utf-8").splitlines() if n.strip())
                self.assertEqual(shown, ["p.bmp", "q.fx1", "s.jpg", "t.jpeg", "w.lzh", "x.nk"])
                self.assertEqual(code, 0)


if __name__ == "__main__":
    EXE, PROBE, FIXTURES, WINE_RUN = sys.argv[1:5]
    SusieFolderMixin.EXE, SusieFolderMixin.WINE_RUN = EXE, WINE_RUN
    skip_unpainted(EXE)
    unittest.main(argv=sys.argv[:1])
