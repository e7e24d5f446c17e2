#!/usr/bin/python3
"""The start-up plug-in search with both kinds of plug-ins present against one kind alone:
korconv of an edition lists a Susie folder holding the fixture decoders and ifwic of its own
bitness, then the same folder with the other bitness's copies beside them (each kind runs in the
helper of its bitness).  Timed from outside, the whole `korconv --plugins` run, median of RUNS
runs of each, alternating; printed as a ratio of the two medians measured in this run.

    bench/window/search_kinds.py BUILD_DIR [RUNS]

Needs a Wine prefix that runs both bitnesses (a 64-bit one, on a machine that runs 32-bit
programs): the build's own for win64, KOR_TEST_PREFIX (made when missing) for win32.
"""
import os
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
KEY = r"HKCU\Software\Dorvenik\Susie\Plug-in"
DECODERS = ("kvpdec", "kvp_lower", "kvp_upper", "kvp_png", "kvp_nopreview")


def main():
    build = os.path.abspath(sys.argv[1] if len(sys.argv) > 1 else os.path.join(ROOT, "build", "win64"))
    runs = int(sys.argv[2]) if len(sys.argv) > 2 else 7
    wine_run = os.path.join(ROOT, "scripts", "wine-run")
    prefix = os.environ.get("KOR_TEST_PREFIX") or os.path.join(build, "wineprefix")
    subprocess.run([os.path.join(ROOT, "scripts", "wine-prefix"), prefix], check=True,
                   env=dict(os.environ, WINEARCH="win64"))
    env = dict(os.environ, WINEPREFIX=prefix)
    own_bits = 64 if "x86_64" in open(os.path.join(build, "CMakeCache.txt")).read() else 32
    kinds = {own_bits: (os.path.join(build, "spi"), os.path.join(build, "bin")),
             96 - own_bits: (os.path.join(build, "other", "spi"), os.path.join(build, "other", "bin"))}

    work = tempfile.mkdtemp(prefix="korvale-search-kinds-")
    try:
        app = os.path.join(work, "app")
        os.mkdir(app)
        for name in ("korconv.exe", "korspi32.exe", "korspi64.exe"):
            shutil.copy(os.path.join(build, "bin", name), app)
        folders = {}
        for label, bits in (("one", [own_bits]), ("both", [own_bits, 96 - own_bits])):
            folder = os.path.join(work, label)
            os.mkdir(folder)
            for b in bits:
                spi, binary = kinds[b]
                ext = ".sph" if b == 64 else ".spi"
                for d in DECODERS:
                    shutil.copy(os.path.join(spi, "decode", d + ".spi"), os.path.join(folder, "%s%d%s" % (d, b, ext)))
                ifwic = os.path.join(binary, "ifwic" + ext)
                if os.path.exists(ifwic):
                    shutil.copy(ifwic, os.path.join(folder, "ifwic%d%s" % (b, ext)))
            folders[label] = folder

        def listing(folder):
            subprocess.run([wine_run, "reg", "add", KEY, "/v", "Path", "/t", "REG_SZ", "/d",
                            "Z:" + folder.replace("/", "\\"), "/f"], env=env, check=True, capture_output=True)
            t0 = time.perf_counter()
            p = subprocess.run([wine_run, os.path.join(app, "korconv.exe"), "--plugins"], env=env,
                               capture_output=True)
            t = time.perf_counter() - t0
            lines = [l for l in p.stdout.decode("cp932").splitlines() if l.startswith("TInSPI")]
            if p.returncode != 0:
                sys.exit("korconv --plugins failed: " + p.stderr.decode("cp932", "replace"))
            return t, len(lines)

        times = {"one": [], "both": []}
        counts = {}
        listing(folders["one"])  # the prefix's server and caches warmed once
        for _ in range(runs):
            for label in ("one", "both"):
                t, n = listing(folders[label])
                times[label].append(t)
                counts[label] = n
        subprocess.run([wine_run, "reg", "delete", KEY, "/f"], env=env, capture_output=True)
        one, both = statistics.median(times["one"]), statistics.median(times["both"])
        print("korconv (%d-bit) --plugins, median of %d runs:" % (own_bits, runs))
        print("  one kind:   %d plug-ins listed, %.0f ms" % (counts["one"], one * 1000))
        print("  both kinds: %d plug-ins listed, %.0f ms = %.2f x one kind" % (counts["both"], both * 1000,
                                                                          both / one))
    finally:
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
