#!/usr/bin/python3
"""Plug-ins of both bitnesses through the real korconv of one Windows edition: each runs in the
helper of its own bitness as its file's header says (a library of the program's own bitness
named with the other kind's extension included), pictures convert to the same pixels through a
32-bit and a 64-bit decoder, a misbehaving plug-in of either bitness costs only its attempt, and
a plug-in of a bitness that cannot run here is listed by `korconv --plugins` as skipped, with the
reason in the system's words.

usage: korconv_bitness_test.py PART KORCONV OWN_SPI_DIR OTHER_SPI_DIR RUNNER...
  PART own:   the edition's own bitness beside the other's plug-ins.
  PART other: decoding through the other bitness; exits 77 (skipped) where it cannot run here.
KOR_TEST_PREFIX names the Wine prefix to run in (made 64-bit when it does not exist yet: the
32-bit edition on 64-bit Windows); otherwise the one of korconv's build.
"""
import os
import shutil
import struct
import subprocess
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__)))))
from korconv_faults_test import KEY, TRAP, kvp  # noqa: E402
from wine_bitness import bits_of, runs  # noqa: E402

KORCONV = OWN = OTHER = None
RUNNER = []


def extension(bits):
    return ".sph" if bits == 64 else ".spi"


def core_path(host):
    return ("Z:" + host).replace("/", "\\")


OWN_BITS = OTHER_BITS = None


def prefix():
    return os.environ.get("KOR_TEST_PREFIX") or os.path.join(os.path.dirname(os.path.dirname(KORCONV)),
                                                              "wineprefix")


def other_reason():
    """Why the other bitness cannot run here, as korconv says it; None when it can."""
    if runs(prefix(), OTHER_BITS):
        return None
    if OTHER_BITS == 64:  # a 32-bit prefix is a 32-bit Windows
        return "64ビットのプラグインはこのシステムでは実行できません"
    return "プラグインヘルパー korspi32.exe を起動できません"


class Bitness(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.mkdtemp(prefix="korvale-bitness-")
        self.env = dict(os.environ, KORVALE_PLUGIN_TIMEOUT_MS="5000")
        self.env["WINEPREFIX"] = prefix()
        # korconv with both helpers and nothing else, so that its own-folder search finds no plug-in.
        self.app = os.path.join(self.dir, "app")
        os.mkdir(self.app)
        for name in ("korconv.exe", "korspi32.exe", "korspi64.exe"):
            shutil.copy(os.path.join(os.path.dirname(KORCONV), name), self.app)
        self.plugins = os.path.join(self.dir, "plug-ins")
        os.mkdir(self.plugins)
        p = subprocess.run(RUNNER + ["reg", "add", "HKCU\\" + KEY, "/v", "Path", "/t", "REG_SZ", "/d",
                                     core_path(self.plugins), "/f"], env=self.env, capture_output=True, timeout=120)
        self.assertEqual(p.returncode, 0, p.stderr)

    def tearDown(self):
        subprocess.run(RUNNER + ["reg", "delete", "HKCU\\" + KEY, "/f"], env=self.env, capture_output=True)
        shutil.rmtree(self.dir, ignore_errors=True)

    def add(self, spi_dir, fixture, name):
        shutil.copy(os.path.join(spi_dir, fixture + ".spi"), os.path.join(self.plugins, name))

    def korconv(self, *args):
        p = subprocess.run(RUNNER + [os.path.join(self.app, "korconv.exe")] + list(args), env=self.env,
                           capture_output=True, timeout=300)
        return p.returncode, p.stdout.decode("cp932"), p.stderr.decode("cp932")

    def listed(self):
        code, out, err = self.korconv("--plugins")
        self.assertEqual(code, 0, err)
        return {l.split("\t")[2].replace("\\", "/").rsplit("/", 1)[1]: l.split("\t") for l in out.splitlines()}

    def converts(self, name, switches):
        """Converts a KVP1 picture with `switches` and checks every pixel of the BMP it writes."""
        data, rows = kvp(9, 5, switches)
        path = os.path.join(self.dir, name)
        with open(path, "wb") as f:
            f.write(data)
        out = path + ".bmp"
        code, _, err = self.korconv(core_path(path), core_path(out))
        self.assertEqual(code, 0, name + ": " + err)
        with open(out, "rb") as f:
            bmp = f.read()
        off, = struct.unpack_from("<I", bmp, 10)
        self.assertEqual(struct.unpack_from("<iiHH", bmp, 18), (9, 5, 1, 24), name)
        self.assertEqual(bmp[off:off + len(rows)], rows, name)

    def test_own(self):
        own, other = extension(OWN_BITS), extension(OTHER_BITS)
        # The decoder; the same decoder (declaring *.png) named as the other kind; the other
        # bitness's decoder; a plug-in that crashes on the trap picture, asked first.
        self.add(OWN, "decode/kvpdec", "a_own" + own)
        self.add(OWN, "decode/kvp_png", "b_misnamed" + other)
        self.add(OTHER, "decode/kvpdec", "c_other" + other)
        self.add(OWN, "faults/fault_null", "z_fault" + own)
        listed = self.listed()
        for name in ("a_own" + own, "b_misnamed" + other, "z_fault" + own):
            self.assertEqual(listed[name][:2], ["TInSPI", "%d-bit" % OWN_BITS], name)
        reason = other_reason()
        if reason:
            self.assertEqual(listed["c_other" + other], ["skipped", "%d-bit" % OTHER_BITS,
                                                         core_path(os.path.join(self.plugins, "c_other" + other)),
                                                         reason])
        else:
            self.assertEqual(listed["c_other" + other][:2], ["TInSPI", "%d-bit" % OTHER_BITS])
        self.converts("plain.kvp", 0)
        self.converts("trap.kvp", TRAP)

    def test_other(self):
        reason = other_reason()
        if reason:
            self.skipTest("the %d-bit plug-ins cannot run here: %s" % (OTHER_BITS, reason))
        own, other = extension(OWN_BITS), extension(OTHER_BITS)
        self.add(OTHER, "decode/kvpdec", "a_other" + other)
        self.add(OTHER, "faults/fault_null", "z_fault" + other)
        listed = self.listed()
        for name in ("a_other" + other, "z_fault" + other):
            self.assertEqual(listed[name][:2], ["TInSPI", "%d-bit" % OTHER_BITS], name)
        self.converts("plain.kvp", 0)
        self.converts("trap.kvp", TRAP)
        # Both bitnesses in one folder: the own one asked first, then the other after it crashes.
        self.add(OWN, "faults/fault_null", "y_fault" + own)
        self.converts("trap2.kvp", TRAP)


if __name__ == "__main__":
    part, KORCONV, OWN, OTHER = sys.argv[1:5]
    RUNNER = sys.argv[5:]
    OWN_BITS = bits_of(KORCONV)
    OTHER_BITS = 96 - OWN_BITS
    if os.environ.get("KOR_TEST_PREFIX"):
        subprocess.run([os.path.join(os.path.dirname(RUNNER[0]), "wine-prefix"), prefix()],
                       env=dict(os.environ, WINEARCH="win64"), check=True, timeout=600)
    if part == "other" and other_reason():
        print("skipped: the %d-bit plug-ins cannot run here: %s" % (OTHER_BITS, other_reason()))
        sys.exit(77)
    suite = unittest.defaultTestLoader.loadTestsFromName("Bitness.test_" + part, sys.modules[__name__])
    sys.exit(0 if unittest.TextTestRunner(verbosity=2).run(suite).wasSuccessful() else 1)
