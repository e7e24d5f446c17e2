#!/usr/bin/python3
"""The real Korvale2.exe under Wine with plug-ins that misbehave on purpose (spi/faults: a null
write, a broken heap, a stack overflow, an endless loop, an ExitProcess, one block as both
results, a crash while loading, a crash in GetPluginInfo) in the Susie folder named in the
registry, beside the good KVP1 decoder kvpdec.spi.  One more crashing plug-in lies beside the
program: the program's folder is searched after the Susie folder, so for a .kvp file it comes
first in the candidate order, ahead of kvpdec.spi.

The misbehaving plug-ins take only KVP1 pictures whose switches hold their trap; kvpdec.spi
refuses a picture whose switches ask it to.  Stepping with Insert through a folder of good BMP
and KVP1 pictures with trap pictures between them, the viewer
  - starts although two plug-ins crash while they are identified,
  - shows every good picture (caption, client size, painted pixels),
  - shows the fault's message box, naming the plug-in that crashed first, for a trap picture
    nothing decodes (once for every time the list holds it), and keeps the previous picture,
  - opens a trap picture that kvpdec.spi decodes after the plug-in ahead of it crashed,
  - closes with exit code 0.
With a plug-in that never returns as the only plug-in and a long time limit, Escape abandons the
load: no box, the previous picture stays, and the next step works; closed while a load hangs, the
viewer ends with exit code 0 and no helper outlives it.

  faults_e2e_test.py --exe Korvale2.exe --probe e2e_probe.exe --wine-run scripts/wine-run
                     --kvpdec kvpdec.spi --faults <build>/spi/faults
Exit code 77 (skipped) without a display.
"""
import argparse
import io
import os
import shutil
import struct
import subprocess
import sys
import time
import unittest

import numpy
from PIL import Image

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.dirname(HERE))
sys.path.insert(0, os.path.join(os.path.dirname(HERE), "decode"))
import viewer_e2e_test as e2e  # noqa: E402
from decode_e2e_test import bmp, kvp  # noqa: E402
from susie_folder import SusieFolderMixin, windows_path  # noqa: E402

sys.path.insert(0, os.path.dirname(os.path.dirname(HERE)))
from wine_bitness import bits_of, runs  # noqa: E402

INSERT, DELETE, ESCAPE = 0x2D, 0x2E, 0x1B
# Switches of a KVP1 picture: the misbehaving plug-ins' trap, and kvpdec.spi's refusal.
FAULT_TRAP, KVP_REFUSE = 0x8000, 0x0400
# Every misbehaving plug-in but the one that lies beside the program.
IN_SUSIE_FOLDER = ["fault_heap", "fault_stack", "fault_endless", "fault_exit", "fault_sameblock", "fault_load",
                   "fault_info"]
OPTIONS = None


def trap_kvp(width, height, switches):
    data = bytearray(kvp(24, width, height))
    data[16:20] = struct.pack("<I", switches)
    return bytes(data)


class Viewer(e2e.Viewer):
    """e2e.Viewer started from the scratch copy of the program, with the test's environment."""

    def __init__(self, exe, picture, env):
        self.proc = subprocess.Popen([e2e.ARGS.wine_run, exe, windows_path(picture)], env=env,
                                     stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        self.state = self.probe("find", "90")


@unittest.skipUnless(os.environ.get("DISPLAY"), "needs a display (run under xvfb-run)")
class ViewerLivesThroughMisbehavingPlugins(SusieFolderMixin, unittest.TestCase):
    PREFIX = "korvale-e2e-faults-"

    def setUp(self):
        self.EXE, self.WINE_RUN = e2e.ARGS.exe, e2e.ARGS.wine_run
        super().setUp()
        # The probe runs in the same prefix as the viewer.
        os.environ["WINEPREFIX"] = self.env["WINEPREFIX"]
        self.pictures = os.path.join(self.dir, "pictures")
        os.mkdir(self.pictures)
        self.expected = {}

    def add(self, name, data, size=None):
        with open(os.path.join(self.pictures, name), "wb") as f:
            f.write(data)
        if size:  # a picture the viewer shows: the fixtures' pattern at this size
            self.expected[name] = numpy.asarray(Image.open(io.BytesIO(bmp(*size))).convert("RGB"))

    def fault(self, name, folder):
        shutil.copy(os.path.join(OPTIONS.faults, name + ".spi"), folder)

    def start(self, name, timeout_ms):
        env = dict(self.env)
        env["KORVALE_PLUGIN_TIMEOUT_MS"] = str(timeout_ms)
        viewer = Viewer(self.exe, os.path.join(self.pictures, name), env)
        self.addCleanup(viewer.kill)
        return viewer

    def caption(self, name):
        return "Korvale2 - " + windows_path(os.path.join(self.pictures, name))

    def assert_shows(self, viewer, name):
        """Caption, client size and the painted pixels are those of NAME."""
        self.assertEqual(viewer.wait_caption(self.caption(name), 60)["caption"], self.caption(name))
        want = self.expected[name]
        h, w = want.shape[:2]
        # The caption is set before the window is fitted to the picture: the size is polled.
        end = time.time() + 10
        while viewer.state["client"] != (w, h + e2e.MENU_BAR) and time.time() < end:
            time.sleep(0.3)
            viewer.state = viewer.probe("find", "5")
        self.assertEqual(viewer.state["client"], (w, h + e2e.MENU_BAR), name)
        ox, oy = viewer.state["origin"]
        top = oy + e2e.MENU_BAR
        # Painting follows the resize: poll the screen until it matches or time runs out.
        end = time.time() + 15
        while True:
            shot = numpy.asarray(e2e.screenshot().crop((ox, top, ox + w, top + h)))
            worst = int(numpy.abs(shot.astype(int) - want.astype(int)).max())
            if worst == 0 or time.time() > end:
                break
            time.sleep(0.3)
        self.assertEqual(worst, 0, "%s: pixels differ by up to %d" % (name, worst))

    def box(self, seconds):
        """The viewer's message box as (caption, text), closed with OK; None when none came."""
        out = subprocess.run([e2e.ARGS.wine_run, e2e.ARGS.probe, "box", str(seconds)], capture_output=True,
                             timeout=seconds + 120)
        lines = out.stdout.decode("utf-8", "replace").replace("\r", "").strip().splitlines()
        if out.returncode != 0:
            self.assertEqual(lines[-1:], ["no box"])
            return None
        caption, _, text = lines[-1].partition("|")
        return caption, text

    def test_steps_through_trap_pictures_and_closes(self):
        shutil.copy(OPTIONS.kvpdec, os.path.join(self.plugins, "kvpdec.spi"))
        for name in IN_SUSIE_FOLDER:
            self.fault(name, self.plugins)
        self.fault("fault_null", self.app)
        self.add("a1.bmp", bmp(300, 200), (300, 200))
        self.add("b2.bmp", bmp(320, 210), (320, 210))
        self.add("c3.kvp", trap_kvp(330, 215, FAULT_TRAP | KVP_REFUSE))
        self.add("d4.bmp", bmp(340, 220), (340, 220))
        self.add("e5.kvp", trap_kvp(350, 225, FAULT_TRAP), (350, 225))
        # Short enough for the endless loop, long enough for a helper's start under Wine.
        viewer = self.start("a1.bmp", 3000)
        self.assert_shows(viewer, "a1.bmp")
        viewer.key(INSERT)
        self.assert_shows(viewer, "b2.bmp")
        # The list holds a .kvp file once for every plug-in whose first pattern is *.kvp, so the
        # trap picture is stepped onto several times: every visit costs the whole candidate order,
        # every one ends in the box naming the plug-in that crashed first, and the previous
        # picture stays.
        crashed = "fault_null.spi:Susie PluginがGetPictureの実行中に異常終了しました (例外 C0000005)"
        viewer.key(INSERT)
        visits = 0
        while visits < 12:
            box = self.box(30 if visits else 90)
            if box is None:
                break
            visits += 1
            self.assertEqual(box, ("Korvale2", crashed))
            self.assertEqual(viewer.probe("find", "5")["caption"], self.caption("b2.bmp"))
            viewer.key(INSERT)
        self.assertGreaterEqual(visits, 1)
        self.assert_shows(viewer, "b2.bmp" if visits == 0 else "d4.bmp")
        # fault_null.spi, beside the program, comes ahead of kvpdec.spi: it crashes, and kvpdec.spi
        # decodes the picture.
        viewer.key(INSERT)
        self.assert_shows(viewer, "e5.kvp")
        # The steps after it go on: the list holds e5.kvp once for each .kvp plug-in, then wraps.
        for _ in range(len(IN_SUSIE_FOLDER) + 2):
            viewer.key(INSERT)
            if viewer.wait_caption(self.caption("a1.bmp"), 20)["caption"] == self.caption("a1.bmp"):
                break
        self.assertIsNone(self.box(1))
        self.assert_shows(viewer, "a1.bmp")
        self.assertEqual(viewer.close(), 0)

    def test_a_fault_met_while_preparing_does_not_stall_the_steps_after_it(self):
        # The plug-in beside the program crashes on the picture while it is prepared in the
        # background; kvpdec.spi then decodes it.  The steps after it go on as without the crash.
        shutil.copy(OPTIONS.kvpdec, os.path.join(self.plugins, "kvpdec.spi"))
        self.fault("fault_null", self.app)
        self.add("a1.bmp", bmp(300, 200), (300, 200))
        self.add("m2.kvp", trap_kvp(330, 215, FAULT_TRAP), (330, 215))
        self.add("z3.bmp", bmp(340, 220), (340, 220))
        viewer = self.start("a1.bmp", 3000)
        self.assert_shows(viewer, "a1.bmp")
        viewer.key(INSERT)
        self.assert_shows(viewer, "m2.kvp")
        # The list holds the .kvp file once for each of the two plug-ins: one more step may stay on it.
        for _ in range(2):
            viewer.key(INSERT)
            if viewer.wait_caption(self.caption("z3.bmp"), 20)["caption"] == self.caption("z3.bmp"):
                break
        self.assertIsNone(self.box(1))
        self.assert_shows(viewer, "z3.bmp")
        viewer.key(INSERT)
        self.assert_shows(viewer, "a1.bmp")
        self.assertEqual(viewer.close(), 0)

    def test_steps_through_plugins_of_both_bitnesses(self):
        # A .kvp decoder of the viewer's own bitness and a .png one (KVP1 pictures named .png) of
        # the other, each in the helper of its bitness: the pictures need one and the other in
        # turn, forwards, across the wrap and backwards.  (A crash of either bitness costing only
        # its attempt is korconv's test: here a crashing .kvp plug-in would list every .kvp twice.)
        if not OPTIONS.other:
            self.skipTest("no build of the other bitness")
        if not runs(self.env["WINEPREFIX"], 96 - bits_of(e2e.ARGS.exe)):
            self.skipTest("the other bitness cannot run here (a 32-bit prefix, or no 32-bit program support)")
        shutil.copy(OPTIONS.kvpdec, os.path.join(self.plugins, "own.spi"))
        shutil.copy(os.path.join(OPTIONS.other, "spi", "decode", "kvp_png.spi"),
                    os.path.join(self.plugins, "other.sph"))
        self.add("p1.kvp", kvp(24, 300, 200), (300, 200))
        self.add("p2.png", kvp(24, 310, 205), (310, 205))
        self.add("p3.kvp", kvp(24, 320, 210), (320, 210))
        self.add("p4.png", kvp(24, 330, 215), (330, 215))
        viewer = self.start("p1.kvp", 10000)
        self.assert_shows(viewer, "p1.kvp")
        for name in ("p2.png", "p3.kvp", "p4.png", "p1.kvp", "p2.png"):
            viewer.key(INSERT)
            self.assert_shows(viewer, name)
        viewer.key(DELETE)
        self.assert_shows(viewer, "p1.kvp")
        self.assertIsNone(self.box(1))
        self.assertEqual(viewer.close(), 0)

    def test_escape_abandons_a_load_that_hangs(self):
        # The only plug-in: a trap picture is listed once and nothing else could decode it.
        self.fault("fault_endless", self.app)
        self.add("a1.bmp", bmp(300, 200), (300, 200))
        self.add("b2.kvp", trap_kvp(320, 210, FAULT_TRAP))
        self.add("c3.bmp", bmp(340, 220), (340, 220))
        # The call never returns: only Escape ends this load before the time limit.
        viewer = self.start("a1.bmp", 600000)
        self.assert_shows(viewer, "a1.bmp")
        self.assertEqual(viewer.key(INSERT)["caption"], self.caption("a1.bmp"))
        viewer.key(ESCAPE)
        self.assertIsNone(self.box(5))
        self.assert_shows(viewer, "a1.bmp")
        # The load is over: the next step is taken, not dropped as input during a load.
        viewer.key(INSERT)
        self.assert_shows(viewer, "c3.bmp")
        # Closed while a load hangs, the viewer ends at once with exit code 0 and takes the
        # helper with it.
        viewer.key(DELETE)
        self.assertEqual(viewer.close(), 0)
        self.assertEqual(self.helpers(), [])

    def helpers(self):
        """Plug-in helpers started from this test's copy of the program that still run."""
        helper = (windows_path(self.app) + "\\korspi").lower()
        end = time.time() + 10
        while True:
            running = []
            for pid in filter(str.isdigit, os.listdir("/proc")):
                try:
                    with open("/proc/%s/cmdline" % pid, "rb") as f:
                        command = f.read().decode("utf-8", "replace").lower()
                except OSError:
                    continue
                if helper in command:
                    running.append(int(pid))
            if not running or time.time() > end:
                return running
            time.sleep(0.5)


def main():
    global OPTIONS
    parser = argparse.ArgumentParser()
    parser.add_argument("--kvpdec", required=True)
    parser.add_argument("--faults", required=True)
    parser.add_argument("--other", help="the build of the other bitness (its plug-ins)")
    OPTIONS, rest = parser.parse_known_args()
    sys.argv = [sys.argv[0]] + rest
    # The shared driver parses the remaining options, skips without a display and runs this
    # module's tests.
    return e2e.main()


if __name__ == "__main__":
    sys.exit(main())
