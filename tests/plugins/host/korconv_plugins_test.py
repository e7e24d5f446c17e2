#!/usr/bin/python3
"""korconv --plugins from the outside: plug-ins in a folder named by the registry's Susie value
(*.spi and *.sph alike) are listed, one line per module with its bitness as the file's header
says, before those of korconv's own folder; a file that is no library is skipped; a plug-in
lacking a required entry point ends korconv with the host's message and exit status 1.  Under
Wine, korconv and its helpers copied into a folder whose name the code page cannot write still
convert a PNG through the bundled ifwic beside them.

usage: korconv_plugins_test.py KORCONV FIXTURE_DIR [RUNNER]   (RUNNER: scripts/wine-run)
"""
import os
import shutil
import subprocess
import sys
import tempfile
import unittest

KORCONV = FIXTURES = None
RUNNER = []
KEY = r"Software\Dorvenik\Susie\Plug-in"


def wine():
    return bool(RUNNER)


def core_path(host):
    """The path as the plug-in host holds it (and as the registry value must name it)."""
    return ("Z:" + host if wine() else host).replace("/", "\\")


def shown_path(host):
    """The path as korconv prints it."""
    return core_path(host) if wine() else host


def bitness(path):
    """What the file's header says it is: a PE file's machine, an ELF file's class."""
    with open(path, "rb") as f:
        head = f.read(4096)
    if head[:4] == b"\x7fELF":
        return {1: "32-bit", 2: "64-bit"}[head[4]]
    pe = int.from_bytes(head[60:64], "little")
    return {0x14C: "32-bit", 0x8664: "64-bit"}[int.from_bytes(head[pe + 4:pe + 6], "little")]


def encoding():
    return "cp932" if wine() else "utf-8"


class KorconvPlugins(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.mkdtemp(prefix="korvale-korconv-plugins-")
        self.env = dict(os.environ)
        if wine():
            self.env["WINEPREFIX"] = os.path.join(os.path.dirname(os.path.dirname(KORCONV)), "wineprefix")
        else:
            self.env["KORVALE_REGISTRY"] = os.path.join(self.dir, "registry.reg")
        self.folder = os.path.join(self.dir, "plug-ins")
        os.mkdir(self.folder)

    def tearDown(self):
        if wine():
            subprocess.run(RUNNER + ["reg", "delete", "HKCU\\" + KEY, "/f"], env=self.env, capture_output=True)
        shutil.rmtree(self.dir, ignore_errors=True)

    def set_susie_folder(self, folder):
        value = core_path(folder)
        if wine():
            p = subprocess.run(RUNNER + ["reg", "add", "HKCU\\" + KEY, "/v", "Path", "/t", "REG_SZ", "/d", value, "/f"],
                               env=self.env, capture_output=True, timeout=120)
            self.assertEqual(p.returncode, 0, p.stderr)
        else:
            escaped = value.replace("\\", "\\\\")
            with open(self.env["KORVALE_REGISTRY"], "w") as f:
                f.write('REGEDIT4\n\n[HKEY_CURRENT_USER\\%s]\n"Path"="%s"\n' % (KEY, escaped))

    def add(self, fixture, name):
        shutil.copy(os.path.join(FIXTURES, fixture + ".spi"), os.path.join(self.folder, name))

    def korconv(self, *args):
        p = subprocess.run(RUNNER + [KORCONV] + list(args), env=self.env, capture_output=True, timeout=120)
        return p.returncode, p.stdout.decode(encoding()), p.stderr.decode(encoding())

    def test_lists_the_registry_folder_first(self):
        self.add("fx_in", "a.spi")
        self.add("fx_am", "b.spi")
        self.add("fx_multi", "c.spi")
        self.add("fx_xn", "d.sph")
        with open(os.path.join(self.folder, "e.spi"), "w") as f:
            f.write("not a library\n")
        self.set_susie_folder(self.folder)  # no trailing separator: added by the search
        code, out, err = self.korconv("--plugins")
        self.assertEqual(code, 0, err)
        lines = [l.split("\t") for l in out.splitlines()]
        prefix = shown_path(self.folder + "/").lower()
        ours = [l for l in lines if l[2].lower().startswith(prefix)]
        # The registry's folder is searched before korconv's own one.
        self.assertEqual(lines[:len(ours)], ours)
        expected = {
            "a.spi": ["TInSPI", "fixture plug-in", "*.fx1", "FX one", "*.fx2;*.fx3", "FX two"],
            "b.spi": ["TAmSPI", "fixture plug-in", "*.lzh", "archive"],
            "c.spi": ["TInSPI", "multi", "*.jpg;*.jpeg", "JPEG picture", "*.tif;*.tiff;*.tf", "TIFF picture",
                      "*.png", "PNG picture"],
            "d.sph": ["TXnSPI", "fixture plug-in", "*.xnx", "XN"],
        }
        got = {}
        for l in ours:
            name = l[2].replace("\\", "/").rsplit("/", 1)[1]
            self.assertEqual(l[2].lower(), shown_path(os.path.join(self.folder, name)).lower())
            self.assertEqual(l[1], bitness(os.path.join(self.folder, name)), name)
            got[name] = [l[0]] + l[3:]
        self.assertEqual(got, expected)

    def test_broken_plugin_ends_with_its_message(self):
        self.add("fx_in", "a.spi")
        self.add("fx_in_nopicture", "broken.spi")
        self.set_susie_folder(self.folder)
        code, out, err = self.korconv("--plugins")
        self.assertEqual(code, 1)
        self.assertEqual(out, "")
        path = core_path(os.path.join(self.folder, "broken.spi"))  # messages hold the core's form
        self.assertEqual(err.strip().lower(), ("GetPictureは[%s]では使えないSusie Plugin APIです" % path).lower())

    def test_programs_in_a_folder_outside_the_code_page(self):
        if not wine():
            self.skipTest("natively the program's path is the host's own bytes, never converted")
        from PIL import Image
        picture = os.path.join(self.dir, "in.png")
        Image.new("RGB", (7, 5), (10, 200, 30)).save(picture)
        # Each folder's name holds letters that its locale's code page (1252, 932) cannot write.
        for locale, folder in (("en_US.UTF-8", "写真ツール"), ("ja_JP.UTF-8", "Zoë's tools")):
            with self.subTest(locale):
                home = os.path.join(self.dir, folder)
                os.mkdir(home)
                for name in ("korconv.exe", "korspi32.exe", "korspi64.exe", "ifwic.spi", "ifwic.sph"):
                    if os.path.exists(os.path.join(os.path.dirname(KORCONV), name)):
                        shutil.copy(os.path.join(os.path.dirname(KORCONV), name), home)
                out = os.path.join(self.dir, locale + ".bmp")
                p = subprocess.run(RUNNER + [os.path.join(home, "korconv.exe"), core_path(picture), core_path(out)],
                                   env=dict(self.env, KOR_WINE_LANG=locale), capture_output=True, timeout=120)
                self.assertEqual(p.returncode, 0, p.stderr.decode("cp932", "replace"))
                with Image.open(out) as bmp:
                    self.assertEqual((bmp.size, bmp.getpixel((3, 2))), ((7, 5), (10, 200, 30)))


if __name__ == "__main__":
    KORCONV, FIXTURES = sys.argv[1], sys.argv[2]
    RUNNER = sys.argv[3:]
    unittest.main(argv=sys.argv[:1])
