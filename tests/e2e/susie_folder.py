"""Shared set-up of the end-to-end tests that give the viewer a Susie plug-in folder through the
registry: a scratch folder with a copy of Korvale2.exe and its plug-in helper in a folder of their
own (so that only the registry's plug-ins are found), the plug-in folder named in HKCU, and Wine
run with the build's prefix.  The registry value is removed again after each test."""
import os
import shutil
import subprocess
import tempfile

KEY = r"HKCU\Software\Dorvenik\Susie\Plug-in"


def windows_path(host):
    return "Z:" + host.replace("/", "\\")


class SusieFolderMixin:
    """Mixin for unittest.TestCase; the test module sets EXE and WINE_RUN on the class."""

    EXE = None
    WINE_RUN = None
    PREFIX = "korvale-e2e-"

    def setUp(self):
        self.dir = tempfile.mkdtemp(prefix=self.PREFIX)
        self.env = dict(os.environ)
        self.env["WINEPREFIX"] = os.path.join(os.path.dirname(os.path.dirname(self.EXE)), "wineprefix")
        self.app = os.path.join(self.dir, "app")
        os.mkdir(self.app)
        self.exe = os.path.join(self.app, "Korvale2.exe")
        shutil.copy(self.EXE, self.exe)
        # The plug-in helpers, which the viewer starts from its own folder.
        for helper in ("korspi32.exe", "korspi64.exe"):
            shutil.copy(os.path.join(os.path.dirname(self.EXE), helper), self.app)
        self.plugins = os.path.join(self.dir, "plug-ins")
        os.mkdir(self.plugins)
        self.wine("reg", "add", KEY, "/v", "Path", "/t", "REG_SZ", "/d", windows_path(self.plugins), "/f")

    def tearDown(self):
        self.wine("reg", "delete", KEY, "/f")
        shutil.rmtree(self.dir, ignore_errors=True)

    def wine(self, *args, **kw):
        return subprocess.run([self.WINE_RUN] + list(args), env=self.env, capture_output=True, timeout=120, **kw)
