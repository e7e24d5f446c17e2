#!/usr/bin/python3
"""korconv, the real program, with misbehaving plug-ins installed in the Susie folder ahead of
the decoder that can read the pictures: every picture converts (exit status 0, the right
pixels), those the faulty plug-ins grab as well; the plug-ins that crash while being identified
are not listed; with the decoder gone, korconv names a faulty plug-in and exits with 1.

usage: korconv_faults_test.py KORCONV SPI_DIR [RUNNER]   (SPI_DIR: <build>/spi; RUNNER: wine-run)
"""
import os
import shutil
import struct
import subprocess
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__)))))
from wine_bitness import bits_of  # noqa: E402

KORCONV = SPI = None
RUNNER = []
KEY = r"Software\Dorvenik\Susie\Plug-in"
TRAP = 0x8000  # the KVP1 switch that makes the faulty fixtures misbehave
FAULTY = ["fault_null", "fault_heap", "fault_stack", "fault_endless", "fault_exit", "fault_sameblock",
          "fault_load", "fault_info"]


def core_path(host):
    return ("Z:" + host if RUNNER else host).replace("/", "\\")


def kvp(width, height, switches):
    """A 24-bit KVP1 file and its rows bottom-up, as a BMP holds them."""
    row_bytes = (width * 3 + 3) // 4 * 4
    rows = []
    for y in range(height):
        row = bytearray(row_bytes)
        for x in range(width):
            row[3 * x:3 * x + 3] = bytes(((x * 7 + y) & 0xFF, (x + y * 5) & 0xFF, ((x * 13) ^ y) & 0xFF))
        rows.append(bytes(row))
    head = b"KVP1" + struct.pack("<iiHHII", width, height, 24, 0, switches, 0)
    return head + b"".join(rows), b"".join(reversed(rows))


class KorconvFaults(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.mkdtemp(prefix="korvale-korconv-faults-")
        self.env = dict(os.environ)
        self.env["KORVALE_PLUGIN_TIMEOUT_MS"] = "2000"
        if RUNNER:
            self.env["WINEPREFIX"] = os.path.join(os.path.dirname(os.path.dirname(KORCONV)), "wineprefix")
        else:
            self.env["KORVALE_REGISTRY"] = os.path.join(self.dir, "registry.reg")
        self.plugins = os.path.join(self.dir, "plug-ins")
        os.mkdir(self.plugins)
        for name in FAULTY:
            shutil.copy(os.path.join(SPI, "faults", name + ".spi"), self.plugins)
        self.set_susie_folder(self.plugins)

    def tearDown(self):
        if RUNNER:
            subprocess.run(RUNNER + ["reg", "delete", "HKCU\\" + KEY, "/f"], env=self.env, capture_output=True)
        shutil.rmtree(self.dir, ignore_errors=True)

    def set_susie_folder(self, folder):
        value = core_path(folder)
        if RUNNER:
            p = subprocess.run(RUNNER + ["reg", "add", "HKCU\\" + KEY, "/v", "Path", "/t", "REG_SZ", "/d", value, "/f"],
                               env=self.env, capture_output=True, timeout=120)
            self.assertEqual(p.returncode, 0, p.stderr)
        else:
            with open(self.env["KORVALE_REGISTRY"], "w") as f:
                f.write('REGEDIT4\n\n[HKEY_CURRENT_USER\\%s]\n"Path"="%s"\n' % (KEY, value.replace("\\", "\\\\")))

    def korconv(self, *args):
        p = subprocess.run(RUNNER + [KORCONV] + list(args), env=self.env, capture_output=True, timeout=300)
        enc = "cp932" if RUNNER else "utf-8"
        return p.returncode, p.stdout.decode(enc), p.stderr.decode(enc)

    def picture(self, name, width, height, switches):
        data, rows = kvp(width, height, switches)
        path = os.path.join(self.dir, name)
        with open(path, "wb") as f:
            f.write(data)
        return path, rows

    def test_pictures_convert_through_every_misdeed(self):
        shutil.copy(os.path.join(SPI, "decode", "kvpdec.spi"), os.path.join(self.plugins, "a_kvpdec.spi"))
        code, out, err = self.korconv("--plugins")
        self.assertEqual(code, 0, err)
        # Only the Susie folder's plug-ins: the Windows builds also find ifwic.spi beside korconv.
        paths = [l.split("\t")[2].replace("\\", "/").rsplit("/", 1) for l in out.splitlines()]
        listed = sorted(name for folder, name in paths if folder.endswith("/plug-ins"))
        self.assertEqual(listed, sorted(["a_kvpdec.spi"] + [n + ".spi" for n in FAULTY
                                                             if n not in ("fault_load", "fault_info")]))
        for name, w, h, switches in [("first.kvp", 7, 3, 0), ("trap.kvp", 5, 4, TRAP), ("last.kvp", 2, 9, 0)]:
            path, rows = self.picture(name, w, h, switches)
            out_path = os.path.join(self.dir, name + ".bmp")
            code, _, err = self.korconv(core_path(path), core_path(out_path))
            self.assertEqual(code, 0, name + ": " + err)
            with open(out_path, "rb") as f:
                bmp = f.read()
            off, = struct.unpack_from("<I", bmp, 10)
            width, height, _, bits = struct.unpack_from("<iiHH", bmp, 18)
            self.assertEqual((width, height, bits), (w, h, 24), name)
            self.assertEqual(bmp[off:off + len(rows)], rows, name)

    def test_without_a_decoder_the_faulty_plugin_is_named(self):
        path, _ = self.picture("trap.kvp", 3, 3, TRAP)
        code, out, err = self.korconv(core_path(path), core_path(os.path.join(self.dir, "out.bmp")))
        self.assertEqual(code, 1)
        self.assertIn("Susie Plugin", err)
        self.assertRegex(err, r"fault_[a-z]+\.spi:")
        self.assertFalse(os.path.exists(os.path.join(self.dir, "out.bmp")))

    def test_without_the_helper_korconv_names_it_once_and_still_reads_bmp(self):
        alone = os.path.join(self.dir, "alone")
        os.mkdir(alone)
        program = os.path.join(alone, os.path.basename(KORCONV))
        shutil.copy(KORCONV, program)
        # The helper of korconv's own bitness.
        helper = "korspi%d.exe" % bits_of(KORCONV) if RUNNER else "korspi"
        p = subprocess.run(RUNNER + [program, "--plugins"], env=self.env, capture_output=True, timeout=300)
        err = p.stderr.decode("cp932" if RUNNER else "utf-8")
        self.assertEqual(p.returncode, 1, err)
        self.assertEqual(err.count("プラグインヘルパー"), 1, err)
        self.assertIn(helper + " を起動できません", err)
        # The Susie folder's plug-ins are listed as left out, each with that reason.
        out = p.stdout.decode("cp932" if RUNNER else "utf-8").splitlines()
        self.assertTrue(out, err)
        for line in out:
            self.assertEqual(line.split("\t")[::3], ["skipped", "プラグインヘルパー %s を起動できません" % helper], line)
        bmp = os.path.join(self.dir, "one.bmp")
        with open(bmp, "wb") as f:
            f.write(b"BM" + struct.pack("<IHHI", 58, 0, 0, 54) +
                    struct.pack("<IiiHHIIiiII", 40, 1, 1, 1, 24, 0, 4, 0, 0, 0, 0) + b"\x10\x20\x30\x00")
        out = os.path.join(self.dir, "copy.bmp")
        p = subprocess.run(RUNNER + [program, core_path(bmp), core_path(out)], env=self.env, capture_output=True,
                           timeout=300)
        self.assertEqual(p.returncode, 0, p.stderr)
        self.assertTrue(os.path.exists(out))


if __name__ == "__main__":
    KORCONV, SPI = sys.argv[1], sys.argv[2]
    RUNNER = sys.argv[3:]
    unittest.main(argv=sys.argv[:1])
