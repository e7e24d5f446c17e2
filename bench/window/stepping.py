#!/usr/bin/python3
"""Steps the real window through 8 photo-like 6000 x 4000 PNGs opened by ifwic.spi, at a reading
pace and back to back, and through a ZIP book of the same PNGs opened by korzip at a reading pace,
against the imaging codec alone (bench_stepping.exe prints the figures);
then the same picture through a plug-in that knows nothing of this program (the KVP1 fixture) in
the helper, against that plug-in's own GetPicture (bench_plugin_load.exe).

    bench/window/stepping.py BUILD_DIR [PACE_SECONDS]

Needs a display (e.g. under xvfb-run -a -s "-screen 0 1024x768x24").  The pictures are made once
and kept in BUILD_DIR/bench/window/photos.
"""
import os
import shutil
import struct
import subprocess
import sys
import zipfile

from PIL import Image

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
sys.path.insert(0, os.path.join(ROOT, 'spi', 'ifwic', 'bench'))
from run_bench import picture  # noqa: E402  the same photo-like picture as the plug-in's benchmark


def variants(im, count):
    """`count` different pictures of the same kind: flipped and with their channels turned."""
    flips = [None, Image.FLIP_LEFT_RIGHT, Image.FLIP_TOP_BOTTOM, Image.ROTATE_180]
    for i in range(count):
        v = im.transpose(flips[i % 4]) if flips[i % 4] is not None else im
        if i >= 4:
            r, g, b = v.split()
            v = Image.merge('RGB', (g, b, r))
        yield v


def write_kvp(im, path):
    """`im` as a KVP1 file of 24-bit rows, top row first (its rows are 4-byte multiples)."""
    with open(path, 'wb') as out:
        out.write(b'KVP1' + struct.pack('<iiHHII', im.width, im.height, 24, 0, 0, 0))
        out.write(im.convert('RGB').tobytes('raw', 'BGR'))


def windows_path(path):
    """`path` as the programs under Wine name it."""
    return 'Z:' + path.replace('/', '\\')


def main():
    build = os.path.abspath(sys.argv[1] if len(sys.argv) > 1 else os.path.join(ROOT, 'build', 'win64'))
    pace = sys.argv[2] if len(sys.argv) > 2 else '1.5'
    here = os.path.join(build, 'bench', 'window')
    photos = os.path.join(here, 'photos')
    if not os.path.exists(os.path.join(photos, 'p7.png')):
        os.makedirs(photos, exist_ok=True)
        for i, v in enumerate(variants(picture(), 8)):
            v.save(os.path.join(photos, 'p%d.png' % i), compress_level=6)
    # One of them as a BMP, which the viewer reads itself, in a folder of its own (the stepping
    # goes through the PNGs' folder).
    bmp = os.path.join(here, 'bmp', 'p0.bmp')
    if not os.path.exists(bmp):
        os.makedirs(os.path.dirname(bmp), exist_ok=True)
        Image.open(os.path.join(photos, 'p0.png')).save(bmp)
    # The viewer alone in a folder, without plug-ins: it then starts no helper and searches none.
    bare = os.path.join(here, 'bare')
    os.makedirs(bare, exist_ok=True)
    shutil.copy2(os.path.join(build, 'bin', 'Korvale2.exe'), bare)
    # The same pictures as a book: a ZIP of the PNGs, stored (they are compressed already).
    book = os.path.join(here, 'book', 'photos.zip')
    if not os.path.exists(book):
        os.makedirs(os.path.dirname(book), exist_ok=True)
        with zipfile.ZipFile(book, 'w', zipfile.ZIP_STORED) as z:
            for i in range(8):
                z.write(os.path.join(photos, 'p%d.png' % i), 'p%d.png' % i)
    # The window looks for plug-ins, and the plug-in helper, beside its program.
    for name in ('ifwic.spi', 'ifwic.sph', 'korzip.spi', 'korzip.sph', 'korspi32.exe', 'korspi64.exe'):
        if os.path.exists(os.path.join(build, 'bin', name)):
            shutil.copy2(os.path.join(build, 'bin', name), here)
    env = dict(os.environ, KOR_PHOTOS=windows_path(photos), KOR_PACE=pace,
               KOR_VIEWER=windows_path(os.path.join(build, 'bin', 'Korvale2.exe')),
               KOR_BARE_VIEWER=windows_path(os.path.join(bare, 'Korvale2.exe')), KOR_BMP=windows_path(bmp),
               KOR_BOOK=windows_path(book))
    wine_run = os.path.join(ROOT, 'scripts', 'wine-run')
    subprocess.run([wine_run, os.path.join(here, 'bench_stepping.exe')], env=env, check=True)
    # The fixture plug-in in a folder of its own, out of the stepping window's search.
    kvp = os.path.join(here, 'kvp')
    if not os.path.exists(os.path.join(kvp, 'p0.kvp')):
        os.makedirs(kvp, exist_ok=True)
        write_kvp(Image.open(os.path.join(photos, 'p0.png')), os.path.join(kvp, 'p0.kvp'))
    shutil.copy2(os.path.join(build, 'spi', 'decode', 'kvpdec.spi'), kvp)
    subprocess.run([wine_run, os.path.join(here, 'bench_plugin_load.exe'), '5',
                    windows_path(os.path.join(kvp, 'kvpdec.spi')), windows_path(os.path.join(kvp, 'p0.kvp'))],
                   check=True)


if __name__ == '__main__':
    main()
