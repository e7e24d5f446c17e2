#!/usr/bin/python3
"""ifwic.spi under Wine: pictures made here with Pillow and ImageMagick, decoded through the
plug-in by spi_harness.exe and, through the host, by korconv.exe with the plug-in beside it,
and compared with Pillow's own decode."""
import argparse
import concurrent.futures
import os
import shutil
import struct
import subprocess
import sys
import tempfile
import unittest
import zlib

import numpy as np
from PIL import Image

ARGS = None


def winpath(path):
    return 'Z:' + os.path.abspath(path).replace('/', '\\')


def over_white(rgba):
    """Straight alpha over white, rounded as the plug-in rounds."""
    a = rgba[..., 3:4].astype(np.int64)
    c = rgba[..., :3].astype(np.int64)
    return ((c * a + 255 * (255 - a) + 127) // 255).astype(np.uint8)


def expected_rgb(path):
    with Image.open(path) as im:
        return expected_of(im)


def expected_of(im):
    if im.mode in ('RGBA', 'LA', 'PA') or 'transparency' in im.info:
        return over_white(np.asarray(im.convert('RGBA')))
    if im.mode in ('I;16', 'I;16B', 'I'):
        v = np.asarray(im).astype(np.int64)
        g = ((v * 255 + 32767) // 65535).astype(np.uint8)
        return np.dstack([g, g, g])
    return np.asarray(im.convert('RGB'))


def write_png(path, arr, colour, depth, interlace=0):
    """A PNG written by hand, for the 16-bit layouts Pillow does not write."""
    h, w = arr.shape[:2]

    def chunk(kind, data):
        return struct.pack('>I', len(data)) + kind + data + struct.pack('>I', zlib.crc32(kind + data))

    rows = b''.join(b'\0' + arr[r].astype('>u2' if depth == 16 else 'u1').tobytes() for r in range(h))
    with open(path, 'wb') as f:
        f.write(b'\x89PNG\r\n\x1a\n' + chunk(b'IHDR', struct.pack('>IIBBBBB', w, h, depth, colour, 0, 0, interlace))
                + chunk(b'IDAT', zlib.compress(rows)) + chunk(b'IEND', b''))


def gradient(w=61, h=43):
    y, x = np.mgrid[0:h, 0:w]
    return np.dstack([x * 255 // (w - 1), y * 255 // (h - 1), (x * 3 + y * 5) % 256]).astype(np.uint8)


class Pictures:
    """Makes every test picture once, runs every command through one harness process."""

    def __init__(self, folder):
        self.folder = folder
        self.lines = []
        self.results = {}
        self.make()

    def path(self, name):
        return os.path.join(self.folder, name)

    def make(self):
        rgb = Image.fromarray(gradient())
        rgb.save(self.path('rgb.png'))
        rgba = rgb.convert('RGBA')
        rgba.putalpha(Image.fromarray((np.arange(61 * 43).reshape(43, 61) % 256).astype(np.uint8)))
        rgba.save(self.path('rgba.png'))
        pal = rgb.quantize(colors=40)
        pal.save(self.path('palette.png'))
        pal.save(self.path('palette_trns.png'), transparency=bytes([0, 128] + [255] * 38))
        rgb.convert('L').save(self.path('grey.png'))
        rgb.convert('L').save(self.path('grey_trns.png'), transparency=128)
        rgb.convert('1').save(self.path('bilevel.png'))
        rgb.quantize(colors=12).save(self.path('palette4.png'), bits=4)
        pal.save(self.path('palette_opaque_trns.png'), transparency=bytes([255] * 40))
        rgb.convert('LA').save(self.path('grey_alpha.png'))
        y, x = np.mgrid[0:43, 0:61]
        g16 = (np.mgrid[0:43, 0:61][1] * 1093 + np.mgrid[0:43, 0:61][0] * 7).astype(np.uint16)
        Image.fromarray(g16).save(self.path('grey16.png'))
        # 16 bits per channel with low bytes unlike the high ones, so a truncating or
        # low-byte reduction shows.
        y, x = np.mgrid[0:43, 0:61]
        self.rgb16 = np.dstack([x * 1074 + 0x7F, y * 1523 + 0x80, (x + y) * 631 + 0x80FF]).astype(np.uint16)
        write_png(self.path('rgb16.png'), self.rgb16, 2, 16)
        subprocess.run(['/usr/bin/convert', self.path('rgb16.png'), '-interlace', 'PNG', self.path('interlaced16.png')],
                       check=True)
        subprocess.run(['/usr/bin/convert', self.path('rgb.png'), '-interlace', 'PNG', self.path('interlaced.png')],
                       check=True)
        rgb.save(self.path('dpi.png'), dpi=(72, 72))
        # JPEG pictures without sharp edges, where decoders legitimately differ most.
        smooth = Image.fromarray(np.dstack([x * 4, y * 5, 250 - x * 2 - y * 2]).astype(np.uint8))
        smooth.save(self.path('baseline.jpg'), quality=92)
        smooth.save(self.path('progressive.jpg'), quality=92, progressive=True)
        smooth.convert('L').save(self.path('grey.jpg'), quality=92)
        smooth.convert('CMYK').save(self.path('cmyk.jpg'), quality=92)
        rgb.save(self.path('dpi.jpg'), quality=92, dpi=(300, 300))
        pal.save(self.path('static.gif'))
        frames = [rgb.quantize(colors=64), Image.fromarray(255 - gradient()).quantize(colors=64)]
        frames[0].save(self.path('animated.gif'), save_all=True, append_images=frames[1:], duration=100, loop=0)
        pal.save(self.path('transparent.gif'), transparency=0)
        # First frames that cover only part of the logical screen: the rest shows the
        # background colour, or white where the frame is transparent.
        subprocess.run(['/usr/bin/convert', '-size', '20x10', 'gradient:red-yellow', '-set', 'page', '60x40+10+5',
                        self.path('partial.gif')], check=True)
        subprocess.run(['/usr/bin/convert', '-size', '20x10', 'xc:none', '-fill', 'red', '-draw', 'rectangle 3,3 12,8',
                        '-set', 'page', '50x30+25+4', self.path('partial_transparent.gif')], check=True)
        rgb.save(self.path('rgb.tif'))
        rgb.save(self.path('lzw.tif'), compression='tiff_lzw', dpi=(150, 150))
        rgb.save(self.path('multipage.tif'), save_all=True, append_images=[Image.fromarray(255 - gradient())])
        Image.fromarray(gradient(2000, 1200)).save(self.path('tall.png'))
        # More large ones for the rows' block lent by the helper: alpha composited through a strip,
        # rows with padding, and a JPEG turned upright (stored 1200 x 1999, EXIF orientation 6).
        big = Image.fromarray(gradient(1999, 1200))
        big.save(self.path('padded.png'))
        tall_rgba = Image.fromarray(gradient(2000, 1200)).convert('RGBA')
        tall_rgba.putalpha(Image.fromarray((np.arange(2000 * 1200).reshape(1200, 2000) % 256).astype(np.uint8)))
        tall_rgba.save(self.path('tall_rgba.png'))
        exif = Image.Exif()
        exif[0x0112] = 6
        big.transpose(Image.Transpose.ROTATE_90).save(self.path('turned.jpg'), quality=90, exif=exif.tobytes())
        rgb.save(self.path('not_a_plugin_format.bmp'))
        # A header that announces 60000 x 60000 pixels over a few bytes of data.
        write_png(self.path('huge.png'), np.zeros((1, 1, 3), np.uint8), 2, 8)
        with open(self.path('huge.png'), 'rb') as f:
            data = bytearray(f.read())
        data[16:24] = struct.pack('>II', 60000, 60000)
        data[29:33] = struct.pack('>I', zlib.crc32(bytes(data[12:29])))
        with open(self.path('huge.png'), 'wb') as f:
            f.write(bytes(data))
        with open(self.path('text.png'), 'wb') as f:
            f.write(b'this is not a picture at all\n' * 10)
        open(self.path('empty.png'), 'wb').close()
        with open(self.path('rgb.png'), 'rb') as f:
            png = f.read()
        with open(self.path('macbinary.png'), 'wb') as f:
            f.write(bytes((i * 37 + 11) % 256 for i in range(128)) + png)
        shutil.copy(self.path('rgb.png'), self.path('png_named.jpg'))
        # A Japanese name whose second character has 0x5C ("\\") as its trail byte.
        shutil.copy(self.path('rgb.png'), self.path('ソース画像.png'))
        # Headers that contradict themselves: no pixels, a directory beyond the end.
        with open(self.path('rgb.png'), 'rb') as f:
            data = bytearray(f.read())
        data[16:20] = b'\0\0\0\0'
        data[29:33] = struct.pack('>I', zlib.crc32(bytes(data[12:29])))
        with open(self.path('zero_width.png'), 'wb') as f:
            f.write(bytes(data))
        with open(self.path('rgb.tif'), 'rb') as f:
            data = bytearray(f.read())
        data[4:8] = struct.pack('<I', 0xFFFFFF00)
        with open(self.path('bad_directory.tif'), 'wb') as f:
            f.write(bytes(data))
        with open(self.path('baseline.jpg'), 'rb') as f:
            data = bytearray(f.read())
        sof = data.index(b'\xff\xc0')
        data[sof + 5:sof + 9] = b'\0\0\0\0'
        with open(self.path('zero_size.jpg'), 'wb') as f:
            f.write(bytes(data))
        # Broken files of each format: cut in half, and with their body overwritten.
        for name in ('rgb.png', 'baseline.jpg', 'progressive.jpg', 'static.gif', 'lzw.tif', 'interlaced.png'):
            with open(self.path(name), 'rb') as f:
                data = f.read()
            with open(self.path('cut_' + name), 'wb') as f:
                f.write(data[:len(data) // 2])
            body = bytearray(data)
            start = {'png': 33, 'jpg': 2, 'gif': 6, 'tif': 4}[name.rsplit('.', 1)[1]]
            for i in range(start, len(body) - 2):
                body[i] = (i * 151 + 89) % 256
            with open(self.path('corrupt_' + name), 'wb') as f:
                f.write(bytes(body))

    def add(self, key, command):
        self.results[key] = len(self.lines)
        self.lines.append(command)

    def run(self):
        answers = run_harness(ARGS, self.lines, self.path('commands.txt'))
        self.answers = {key: answers[n] for key, n in self.results.items()}


def run_harness(args, lines, commands):
    """The harness's answer to each of `lines`, all run by one process; 'missing ...' for those
    it never answered (it stopped)."""
    with open(commands, 'w', encoding='cp932') as f:  # the harness passes the bytes on as ANSI
        f.write('\n'.join(lines) + '\n')
    out = subprocess.run([args.wine_run, args.harness, args.spi, winpath(commands)], capture_output=True,
                         timeout=900)
    answers = {}
    for line in out.stdout.decode('latin-1').splitlines():
        n, _, text = line.partition(' ')
        if n.isdigit():
            answers[int(n)] = text
    missing = 'missing (harness stopped: %r)' % out.stderr[-300:]
    return [answers.get(n, missing) for n in range(len(lines))]


LOSSLESS = {  # file: bits per pixel the plug-in returns
    'rgb.png': 24, 'rgba.png': 24, 'palette.png': 8, 'palette4.png': 8, 'bilevel.png': 8,
    'grey_trns.png': 24, 'palette_opaque_trns.png': 8, 'palette_trns.png': 24, 'grey.png': 8,
    'grey_alpha.png': 24, 'grey16.png': 8, 'interlaced.png': 24, 'static.gif': 8, 'animated.gif': 8,
    'transparent.gif': 24, 'partial.gif': 8, 'partial_transparent.gif': 24, 'rgb.tif': 24, 'lzw.tif': 24, 'multipage.tif': 24,
    'tall.png': 24,  # large enough for the rows' block made while the codec decodes
}
# Large enough for a rows' block made while the codec decodes: each is decoded as it is, then
# into a lent block full of another picture's bytes, then lent a block of the wrong size.
LENT = {'tall.png': 2000 * 3 * 1200, 'padded.png': 6000 * 1200, 'tall_rgba.png': 2000 * 3 * 1200,
        'turned.jpg': 6000 * 1200}
# Compared with its own 16-bit samples: Pillow truncates them to their high bytes.
SIXTEEN = {'rgb16.png': 24, 'interlaced16.png': 24}
LOSSY = {'baseline.jpg': 24, 'progressive.jpg': 24, 'grey.jpg': 8, 'cmyk.jpg': 24}
BROKEN = ['cut_' + n for n in ('rgb.png', 'baseline.jpg', 'progressive.jpg', 'static.gif', 'lzw.tif',
                               'interlaced.png')] + \
         ['corrupt_' + n for n in ('rgb.png', 'baseline.jpg', 'progressive.jpg', 'static.gif', 'lzw.tif',
                                   'interlaced.png')] + \
         ['zero_width.png', 'bad_directory.tif', 'zero_size.jpg']


def setUpModule():
    global PICS, TMP
    TMP = tempfile.mkdtemp(prefix='ifwic-')
    PICS = Pictures(TMP)
    p = PICS
    for name in list(LOSSLESS) + list(LOSSY) + list(SIXTEEN):
        for mode in ('mem', 'file'):
            p.add((mode, name), 'decode %s 0 %s %s' % (mode, winpath(p.path(name)), winpath(p.path(name + '.' + mode + '.bmp'))))
        p.add(('info', name), 'pictinfo file 0 %s' % winpath(p.path(name)))
        p.add(('infomem', name), 'pictinfo mem 0 %s' % winpath(p.path(name)))
        p.add(('supported', name), 'supported 0 %s' % winpath(p.path(name)))
    for name in ('dpi.png', 'dpi.jpg'):
        p.add(('info', name), 'pictinfo file 0 %s' % winpath(p.path(name)))
        p.add(('mem', name), 'decode mem 0 %s %s' % (winpath(p.path(name)), winpath(p.path(name + '.bmp'))))
    for mode in ('mem', 'file'):
        p.add((mode, 'macbinary'), 'decode %s 128 %s %s' % (mode, winpath(p.path('macbinary.png')),
                                                               winpath(p.path('macbinary.%s.bmp' % mode))))
        p.add(('info' + mode, 'macbinary'), 'pictinfo %s 128 %s' % (mode, winpath(p.path('macbinary.png'))))
    for offset in (0, 128):
        p.add(('supported%d' % offset, 'macbinary'), 'supported %d %s' % (offset, winpath(p.path('macbinary.png'))))
        p.add(('handle%d' % offset, 'macbinary'),
              'supported-handle %d %s' % (offset, winpath(p.path('macbinary.png'))))
    for mode in ('mem', 'file'):
        p.add((mode, 'huge.png'), 'decode %s 0 %s x.bmp' % (mode, winpath(p.path('huge.png'))))
    p.add(('info', 'huge.png'), 'pictinfo mem 0 %s' % winpath(p.path('huge.png')))
    for name in ('not_a_plugin_format.bmp', 'text.png', 'empty.png', 'png_named.jpg'):
        p.add(('supported', name), 'supported 0 %s' % winpath(p.path(name)))
    for name in BROKEN + ['text.png', 'empty.png', 'not_a_plugin_format.bmp']:
        for mode in ('mem', 'file'):
            p.add((mode, name), 'decode %s 0 %s %s' % (mode, winpath(p.path(name)), winpath(p.path(name + '.bmp'))))
        p.add(('info', name), 'pictinfo file 0 %s' % winpath(p.path(name)))
    p.add(('file', 'japanese'), 'decode file 0 %s %s' % (winpath(p.path('ソース画像.png')),
                                                          winpath(p.path('japanese.file.bmp'))))
    p.add(('info', 'japanese'), 'pictinfo file 0 %s' % winpath(p.path('ソース画像.png')))
    p.add(('file', 'missing'), 'decode file 0 %s x.bmp' % winpath(p.path('no_such_file.png')))
    p.add(('info', 'missing'), 'pictinfo file 0 %s' % winpath(p.path('no_such_file.png')))
    p.add(('mem', 'past_end'), 'decode file 999999 %s x.bmp' % winpath(p.path('rgb.png')))
    p.add(('progress', 'tall'), 'decode mem 0 %s %s' % (winpath(p.path('tall.png')), winpath(p.path('tall.bmp'))))
    for at in (1, 3):
        p.add(('abort%d' % at, 'tall'), 'decode file 0 %s x.bmp %d' % (winpath(p.path('tall.png')), at))
    for model in ('none', 'sta', 'mta'):
        p.add(('com', model), 'com %s %s' % (model, winpath(p.path('baseline.jpg'))))
    for name in LENT:
        for key, arm in (('plain', None), ('lent', 'spare 165 0'), ('wrong', 'spare 90 4096')):
            if arm:
                p.add(('arm' + key, name), arm)
            p.add((key, name), 'decode mem 0 %s %s' % (winpath(p.path(name)), winpath(p.path('%s.%s.bmp' % (name, key)))))
    p.add(('preview', ''), 'preview %s' % winpath(p.path('rgb.png')))
    p.add(('plugininfo', ''), 'info')
    p.run()
    names = list(LOSSLESS) + list(LOSSY) + BROKEN + ['macbinary.png', 'text.png']
    with concurrent.futures.ThreadPoolExecutor(max_workers=2) as pool:
        PICS.korconv = dict(zip(names, pool.map(convert, names)))


def convert(name):
    """korconv.exe NAME NAME.korconv.bmp: its exit status and its error text."""
    out = subprocess.run([ARGS.wine_run, ARGS.korconv, winpath(PICS.path(name)),
                          winpath(PICS.path(name + '.korconv.bmp'))], capture_output=True, timeout=300)
    return out.returncode, out.stderr.decode('cp932', 'replace')


def tearDownModule():
    shutil.rmtree(TMP, ignore_errors=True)


def answer(key):
    return PICS.answers[key]


def fields(key):
    """The harness line as a dict of its keyword-value pairs."""
    words = answer(key).split()
    return {words[i]: words[i + 1] for i in range(0, len(words) - 1)}


def decoded(name, mode):
    return np.asarray(Image.open(PICS.path(name + '.' + mode + '.bmp')).convert('RGB'))


class DecodeTest(unittest.TestCase):
    def check_ok(self, key, bpp):
        f = fields(key)
        self.assertEqual(f.get('result'), '0', answer(key))
        self.assertEqual(f.get('bpp'), str(bpp), answer(key))
        for problem in ('locked', 'badheader', 'topdown', 'infosize', 'bitssize', 'sizeimage'):
            self.assertNotIn(problem, answer(key).split(), answer(key))

    def test_lossless_pictures_equal_pillow(self):
        for name, bpp in LOSSLESS.items():
            with self.subTest(name):
                self.check_ok(('mem', name), bpp)
                got = decoded(name, 'mem')
                want = expected_rgb(PICS.path(name))
                self.assertEqual(got.shape, want.shape)
                diff = np.abs(got.astype(int) - want.astype(int))
                self.assertEqual(int(diff.max()), 0, '%s: %d pixels differ' % (name, int((diff > 0).sum())))

    def test_16_bit_channels_are_rounded_not_truncated(self):
        self.check_ok(('mem', 'rgb16.png'), 24)
        want = ((self.rgb16().astype(np.int64) * 255 + 32767) // 65535).astype(np.uint8)
        for name in SIXTEEN:
            with self.subTest(name):
                np.testing.assert_array_equal(decoded(name, 'mem'), want)
        self.assertTrue((want != (self.rgb16() >> 8)).any(), 'the picture must tell rounding from truncation')

    def rgb16(self):
        return PICS.rgb16

    def test_jpeg_pictures_close_to_pillow(self):
        for name, bpp in LOSSY.items():
            with self.subTest(name):
                self.check_ok(('mem', name), bpp)
                got = decoded(name, 'mem').astype(int)
                want = expected_rgb(PICS.path(name)).astype(int)
                self.assertEqual(got.shape, want.shape)
                diff = np.abs(got - want)
                self.assertLess(diff.mean(), 2.5, name)
                self.assertLessEqual(int(diff.max()), 40, name)

    def test_palette_pictures_keep_their_table(self):
        f = fields(('mem', 'palette.png'))
        self.assertEqual(f['clrused'], '40')
        self.assertEqual(fields(('mem', 'grey.png'))['clrused'], '256')
        self.assertEqual(fields(('mem', 'rgb.png'))['clrused'], '0')

    def test_first_frame_and_first_page(self):
        for name in ('animated.gif', 'multipage.tif'):
            with self.subTest(name):
                got = decoded(name, 'mem').astype(int)
                self.assertEqual(int(np.abs(got - expected_rgb(PICS.path(name)).astype(int)).max()), 0)
                with Image.open(PICS.path(name)) as second:
                    second.seek(1)
                    self.assertGreater(np.abs(got - np.asarray(second.convert('RGB')).astype(int)).mean(), 50)

    def test_rows_lent_by_the_helper_are_written_whole(self):
        # The helper lends the rows' block of the last picture for the next of the same size: every
        # byte of it must be written again, and a block of another size is not used.
        for name, size in LENT.items():
            with self.subTest(name=name):
                with open(PICS.path(name + '.plain.bmp'), 'rb') as f:
                    plain = f.read()
                self.assertEqual(len(plain), 54 + size)
                for key in ('lent', 'wrong'):
                    f = fields((key, name))
                    self.assertEqual((f.get('result'), f.get('spare-asked')), ('0', str(size)), answer((key, name)))
                    self.assertEqual('spare-used' in answer((key, name)).split(), key == 'lent', answer((key, name)))
                    with open(PICS.path('%s.%s.bmp' % (name, key)), 'rb') as out:
                        self.assertTrue(out.read() == plain, '%s: the %s decode differs' % (name, key))

    def test_file_mode_equals_memory_mode(self):
        for name in list(LOSSLESS) + list(LOSSY) + list(SIXTEEN):
            with self.subTest(name):
                self.assertEqual(fields(('file', name)).get('result'), '0', answer(('file', name)))
                with open(PICS.path(name + '.mem.bmp'), 'rb') as a, open(PICS.path(name + '.file.bmp'), 'rb') as b:
                    self.assertEqual(a.read(), b.read())

    def test_file_names_in_the_ansi_code_page(self):
        self.check_ok(('file', 'japanese'), 24)
        np.testing.assert_array_equal(decoded('japanese', 'file'), expected_rgb(PICS.path('rgb.png')))
        self.assertIn('size 61x43', answer(('info', 'japanese')))

    def test_macbinary_prefix_is_skipped_at_offset_128(self):
        want = expected_rgb(PICS.path('rgb.png'))
        for mode in ('mem', 'file'):
            with self.subTest(mode):
                self.check_ok((mode, 'macbinary'), 24)
                np.testing.assert_array_equal(decoded('macbinary', mode), want)
                self.assertIn('size 61x43', answer(('info' + mode, 'macbinary')))
        self.assertEqual(answer(('supported0', 'macbinary')), 'supported 0')
        self.assertEqual(answer(('supported128', 'macbinary')), 'supported 1')


class InformationTest(unittest.TestCase):
    def test_record_matches_the_returned_picture(self):
        for name, bpp in list(LOSSLESS.items()) + list(LOSSY.items()) + list(SIXTEEN.items()):
            with self.subTest(name):
                with Image.open(PICS.path(name)) as im:
                    w, h = im.size
                for key in (('info', name), ('infomem', name)):
                    f = fields(key)
                    self.assertEqual(f.get('result'), '0', answer(key))
                    self.assertEqual(f['size'], '%dx%d' % (w, h))
                    self.assertEqual(f['depth'], str(bpp))
                    self.assertEqual(f['hinfo'], 'null')
                    self.assertEqual(f['at'], '0,0')

    def test_density_where_the_file_records_one(self):
        self.assertEqual(fields(('info', 'dpi.png'))['density'], '72x72')
        self.assertEqual(fields(('info', 'dpi.jpg'))['density'], '300x300')
        self.assertEqual(fields(('info', 'lzw.tif'))['density'], '150x150')
        self.assertEqual(fields(('info', 'rgb.png'))['density'], '0x0')
        self.assertEqual(fields(('mem', 'dpi.jpg'))['ppm'], '11811x11811')

    def test_plugin_information(self):
        items = answer(('plugininfo', '')).split('|')
        self.assertEqual(items[0], '00IN')
        self.assertIn(os.path.basename(ARGS.spi), items[1])
        self.assertIn('1.1', items[1])
        # The first item holds every pattern (a host's folder list takes only the first), the
        # later ones one format each; JPEG XR in both only where the system decodes it.
        singles = ['*.png', 'PNG', '*.jpg;*.jpeg;*.jpe;*.jfif', 'JPEG', '*.gif', 'GIF (first frame)',
                   '*.tif;*.tiff', 'TIFF (first page)']
        jxr = items[-3:-1] == ['*.jxr;*.wdp', 'JPEG XR']
        if jxr:
            singles += ['*.jxr;*.wdp', 'JPEG XR']
        self.assertEqual(items[2], ';'.join(singles[0::2]))
        self.assertEqual(items[3], ', '.join(singles[1::2]))
        self.assertEqual(items[4:-1], singles)
        self.assertEqual(items[-1], 'truncated 4 terminated')

    def test_preview_is_not_implemented(self):
        self.assertEqual(answer(('preview', '')), 'result -1')


class SignatureTest(unittest.TestCase):
    def test_each_format_by_its_signature(self):
        for name in list(LOSSLESS) + list(LOSSY) + list(SIXTEEN) + ['png_named.jpg']:
            with self.subTest(name):
                self.assertEqual(answer(('supported', name)), 'supported 1')

    def test_file_handle_from_older_hosts_is_read_and_put_back(self):
        self.assertEqual(answer(('handle0', 'macbinary')), 'supported 0 position 0')
        self.assertEqual(answer(('handle128', 'macbinary')), 'supported 1 position 128')

    def test_other_data_is_refused_whatever_its_name(self):
        for name in ('not_a_plugin_format.bmp', 'text.png', 'empty.png'):
            with self.subTest(name):
                self.assertEqual(answer(('supported', name)), 'supported 0')


class FailureTest(unittest.TestCase):
    def test_broken_files_fail_without_a_picture(self):
        for name in BROKEN:
            for mode in ('mem', 'file'):
                with self.subTest(name=name, mode=mode):
                    f = fields((mode, name))
                    self.assertIn(f.get('result'), ('2', '3'), answer((mode, name)))
                    self.assertNotIn('handles-left', answer((mode, name)))

    def test_data_of_no_format_is_unknown(self):
        for name in ('text.png', 'empty.png', 'not_a_plugin_format.bmp'):
            for mode in ('mem', 'file'):
                with self.subTest(name=name, mode=mode):
                    self.assertEqual(fields((mode, name)).get('result'), '2', answer((mode, name)))
            self.assertEqual(fields(('info', name)).get('result'), '2')

    def test_oversized_picture_is_refused_before_decoding(self):
        self.assertIn('size 60000x60000', answer(('info', 'huge.png')))
        for mode in ('mem', 'file'):
            with self.subTest(mode):
                self.assertEqual(fields((mode, 'huge.png'))['result'], '4', answer((mode, 'huge.png')))

    def test_missing_file_is_a_read_error(self):
        self.assertEqual(fields(('file', 'missing'))['result'], '6')
        self.assertEqual(fields(('info', 'missing'))['result'], '6')
        self.assertEqual(fields(('mem', 'past_end'))['result'], '2')


class ProgressTest(unittest.TestCase):
    def test_progress_follows_the_rows(self):
        f = fields(('progress', 'tall'))
        self.assertEqual(f['result'], '0')
        self.assertGreater(int(f['progress']), 3)
        self.assertEqual(answer(('progress', 'tall')).split()[4], '1200/1200')
        self.assertNotIn('disordered', answer(('progress', 'tall')))

    def test_abort_is_honoured(self):
        for at in (1, 3):
            with self.subTest(at=at):
                text = answer(('abort%d' % at, 'tall'))
                self.assertEqual(fields(('abort%d' % at, 'tall'))['result'], '1', text)
                self.assertEqual(fields(('abort%d' % at, 'tall'))['progress'], str(at), text)
                self.assertNotIn('handles-left', text)


class ComTest(unittest.TestCase):
    def test_thread_state_is_unchanged_by_a_call(self):
        self.assertEqual(answer(('com', 'none')), 'result 0 before ok after uninitialised')
        self.assertEqual(answer(('com', 'sta')), 'result 0 before ok after initialised')
        # A multithreaded host: the plug-in's own request is refused and it still decodes.
        self.assertEqual(answer(('com', 'mta')), 'result 0 before ok after initialised')


class HostTest(unittest.TestCase):
    """The same pictures opened by the host: korconv finds the plug-in in its own folder."""

    def host_decoded(self, name):
        status, error = PICS.korconv[name]
        self.assertEqual(status, 0, error)
        return np.asarray(Image.open(PICS.path(name + '.korconv.bmp')).convert('RGB')).astype(int)

    def test_host_decodes_what_pillow_decodes(self):
        for name in LOSSLESS:
            with self.subTest(name):
                want = expected_rgb(PICS.path(name)).astype(int)
                self.assertEqual(int(np.abs(self.host_decoded(name) - want).max()), 0)
        for name in LOSSY:
            with self.subTest(name):
                want = expected_rgb(PICS.path(name)).astype(int)
                self.assertLess(np.abs(self.host_decoded(name) - want).mean(), 2.5)

    def test_host_skips_a_macbinary_header(self):
        np.testing.assert_array_equal(self.host_decoded('macbinary.png'), expected_rgb(PICS.path('rgb.png')))

    def test_host_reports_files_no_plugin_decodes(self):
        # (An empty file is the host's own affair: its plain bitmap class takes it as empty.)
        for name in BROKEN + ['text.png']:
            with self.subTest(name):
                status, error = PICS.korconv[name]
                self.assertNotEqual(status, 0)
                self.assertIn('Susie Plugins could not decode', error)
                self.assertFalse(os.path.exists(PICS.path(name + '.korconv.bmp')))


if __name__ == '__main__':
    parser = argparse.ArgumentParser()
    parser.add_argument('--harness', required=True)
    parser.add_argument('--spi', required=True)
    parser.add_argument('--wine-run', required=True)
    parser.add_argument('--korconv', required=True, help='korconv.exe in the folder of ifwic.spi')
    ARGS, rest = parser.parse_known_args()
    unittest.main(argv=[sys.argv[0]] + rest, verbosity=1)
