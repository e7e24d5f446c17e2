#!/usr/bin/python3
"""Times ifwic.spi on a 6000 x 4000 JPEG and PNG, the JPEG again with an EXIF orientation
that turns it a quarter (so the plug-in returns it upright, 4000 x 6000), and the JPEG with an
Adobe RGB profile embedded (converted to sRGB by the plug-in, the cost of colour management),
against the imaging
codecs alone (which return pictures as stored) in the same Wine process: called directly (ifwic_bench.exe) and through the host's TPicture::LoadFile
(ifwic_host_bench.exe); and the JPEG with the native djpeg as the peer figure.

    spi/ifwic/bench/run_bench.py BUILD_DIR [ROUNDS]
"""
import os
import shutil
import subprocess
import sys
import tempfile
import time

import numpy as np
from PIL import Image

ADOBE_RGB = '/usr/share/color/icc/colord/AdobeRGB1998.icc'  # Debian's colord-data
ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__)))))


def picture(w=6000, h=4000):
    """Smooth shapes with mild grain: compresses like a photograph, unlike pure noise."""
    y, x = np.mgrid[0:h, 0:w].astype(np.float32)
    r = 128 + 100 * np.sin(x / 300) * np.cos(y / 410)
    g = 128 + 100 * np.sin((x + y) / 520)
    b = 128 + 100 * np.cos(np.hypot(x - w / 2, y - h / 2) / 260)
    grain = np.random.RandomState(7).randint(-6, 7, size=(h, w, 1))
    return Image.fromarray(np.clip(np.dstack([r, g, b]) + grain, 0, 255).astype(np.uint8))


def main():
    build = os.path.abspath(sys.argv[1] if len(sys.argv) > 1 else os.path.join(ROOT, 'build', 'win32'))
    rounds = sys.argv[2] if len(sys.argv) > 2 else '3'
    folder = tempfile.mkdtemp(prefix='ifwic-bench-')
    im = picture()
    jpeg, png = os.path.join(folder, 'big.jpg'), os.path.join(folder, 'big.png')
    turned = os.path.join(folder, 'big_turned.jpg')
    im.save(jpeg, quality=90)
    exif = Image.Exif()
    exif[0x0112] = 6  # turned a quarter clockwise to stand upright
    im.save(turned, quality=90, exif=exif.tobytes())
    im.save(png, compress_level=6)
    adobe = os.path.join(folder, 'big_adobe.jpg')
    with open(ADOBE_RGB, 'rb') as f:
        im.save(adobe, quality=90, icc_profile=f.read())
    win = lambda p: 'Z:' + p.replace('/', '\\')
    wine_run = os.path.join(ROOT, 'scripts', 'wine-run')
    # ifwic.spi in a 32-bit build, ifwic.sph in a 64-bit one.
    spi = next(p for p in (os.path.join(build, 'bin', n) for n in ('ifwic.spi', 'ifwic.sph')) if os.path.exists(p))
    subprocess.run([wine_run, os.path.join(build, 'bin', 'ifwic_bench.exe'), win(spi),
                    rounds, win(jpeg), win(adobe), win(turned), win(png)], check=True)
    subprocess.run([wine_run, os.path.join(build, 'bin', 'ifwic_host_bench.exe'), rounds, win(jpeg), win(turned),
                    win(png)], check=True)
    best = min(_timed(['djpeg', '-bmp', '-outfile', os.devnull, jpeg]) for _ in range(int(rounds)))
    print('djpeg (native) on %s: %.1f ms' % (jpeg, best * 1e3))
    shutil.rmtree(folder, ignore_errors=True)


def _timed(cmd):
    t0 = time.perf_counter()
    subprocess.run(cmd, check=True)
    return time.perf_counter() - t0


if __name__ == '__main__':
    main()
