#!/usr/bin/python3
"""Steps the real viewer 600 times at 150 ms through 40 pictures of 3000 x 2000 (every other one a
PNG opened by ifwic.spi through the plug-in helper, the others BMP) and prints whether the window
kept answering, its memory after 100 and after 600 steps, and the plug-in helpers that ran
(bench_responsive.exe measures; nothing is asserted).

    bench/window/responsive.py BUILD_DIR [STEPS] [PACE_MS]

Needs a display (e.g. under xvfb-run -a -s "-screen 0 1024x768x24").  The pictures are made once
and kept in BUILD_DIR/bench/window/large.
"""
import os
import shutil
import subprocess
import sys
import time

from PIL import Image

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))


def picture(i):
    """A 3000 x 2000 picture of its own: gradients turned and mixed by its number."""
    w, h = 3000, 2000
    a = Image.linear_gradient('L').resize((w, h)).rotate(90 * (i % 4), expand=False)
    b = Image.radial_gradient('L').resize((w, h))
    c = Image.new('L', (w, h), (i * 37) & 255)
    bands = [a, b, c]
    return Image.merge('RGB', bands[i % 3:] + bands[:i % 3])


def main():
    build = os.path.abspath(sys.argv[1] if len(sys.argv) > 1 else os.path.join(ROOT, 'build', 'win64'))
    steps = sys.argv[2] if len(sys.argv) > 2 else '600'
    pace = sys.argv[3] if len(sys.argv) > 3 else '150'
    here = os.path.join(build, 'bench', 'window')
    pictures = os.path.join(here, 'large')
    if not os.path.exists(os.path.join(pictures, 's39.bmp')):
        os.makedirs(pictures, exist_ok=True)
        for i in range(40):
            picture(i).save(os.path.join(pictures, 's%02d.%s' % (i, 'png' if i % 2 == 0 else 'bmp')))
    # The viewer finds ifwic.spi and its helper beside itself.
    app = os.path.join(here, 'responsive-app')
    os.makedirs(app, exist_ok=True)
    for name in ('Korvale2.exe', 'korspi32.exe', 'korspi64.exe', 'ifwic.spi', 'ifwic.sph'):
        if os.path.exists(os.path.join(build, 'bin', name)):
            shutil.copy2(os.path.join(build, 'bin', name), app)
    wine_run = os.path.join(ROOT, 'scripts', 'wine-run')
    viewer = subprocess.Popen([wine_run, os.path.join(app, 'Korvale2.exe'),
                               'Z:' + os.path.join(pictures, 's00.png').replace('/', '\\')])
    try:
        time.sleep(3)
        subprocess.run([wine_run, os.path.join(here, 'bench_responsive.exe'), steps, pace, '100', steps],
                       check=True)
        viewer.wait(timeout=60)
    finally:
        if viewer.poll() is None:
            viewer.kill()


if __name__ == '__main__':
    main()
