#!/usr/bin/python3
"""ifwic.spi against Pillow over a corpus of real files: PngSuite (its names say what each file
holds; x* files are corrupt), and pictures written here by ImageMagick, Pillow and netpbm in the
variants people have: EXIF and TIFF orientations 1 to 8, GIFs with local colour tables only,
grey PNGs with a transparent grey, and the TIFF layouts many writers produce.  Every file goes
through one harness process under Wine.  Each either matches Pillow's decode (lossless: exact;
JPEG: mean difference at most 3), turned upright as its orientation tag says, or fails
with one of the plug-in's documented codes; none may crash the harness.  Pictures whose truth is
not Pillow's decode carry their own: 16-bit TIFFs written here in both byte orders against their
samples, and pictures with embedded colour profiles against Pillow's own conversion to sRGB.

  conformance_test.py --harness ifwic_harness.exe --spi ifwic.spi --wine-run scripts/wine-run
      --pngsuite DIR [--korconv korconv.exe] [--report FILE]
"""
import argparse
import io
import os
import shutil
import struct
import subprocess
import sys
import tempfile
import unittest
import zlib

import numpy as np
from PIL import Image, ImageCms

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from test_ifwic import over_white, run_harness, winpath  # noqa: E402

ARGS = None
CONVERT = '/usr/bin/convert'

# Files that may fail, each with why; every other file must match.  Wine's TIFF codec (as
# Windows' own) reads baseline chunky TIFF only.
MAY_FAIL = {
    'im_planar.tif': 'planar RGB: the codec refuses separate planes',
    'im_grey2.tif': '2-bit grey: the codec refuses it',
    'im_lab.tif': 'CIE L*a*b*: the codec refuses it',
    'im_bigtiff.tif': 'BigTIFF: its signature is not a classic TIFF one',
    'im_jpeg.tif': 'JPEG compression inside TIFF',
}
# Files that must fail with this code: a GIF whose frame has no colour table at all (the codec
# would read a table that is not there).
MUST_FAIL = {'no_table.gif': '3'}
CORRUPT_CODES = ('2', '3')  # unknown format, broken data
CLEAN_FAILURE_CODES = ('2', '3', '4')


# What each orientation tag value asks for, as Pillow's transposes.
UPRIGHT = {2: Image.Transpose.FLIP_LEFT_RIGHT, 3: Image.Transpose.ROTATE_180, 4: Image.Transpose.FLIP_TOP_BOTTOM,
           5: Image.Transpose.TRANSPOSE, 6: Image.Transpose.ROTATE_270, 7: Image.Transpose.TRANSVERSE,
           8: Image.Transpose.ROTATE_90}


def upright(im):
    """The loaded picture turned as its orientation tag says.  Pillow's TIFF reader turns its
    pictures itself while loading them; JPEG pictures stay as stored."""
    im.load()
    if im.format == 'TIFF':
        return im
    method = UPRIGHT.get(im.getexif().get(0x0112, 1))
    if method is None:
        return im
    info = dict(im.info)
    im = im.transpose(method)
    im.info.update(info)
    return im


def pillow_rgb(path):
    """Pillow's decode of the first frame, upright, transparency over white; and the largest
    difference allowed for a lossless file (1 where Pillow keeps only the high bytes of 16-bit
    colour samples, or where CMYK is turned into RGB: both are rounding)."""
    with Image.open(path) as im:
        im.seek(0)
        depth = _png_bit_depth(path) if im.format == 'PNG' else 8
        tolerance = 1 if im.mode == 'CMYK' or (depth == 16 and im.mode not in ('I', 'I;16', 'L', 'LA')) else 0
        im.load()
        if im.format == 'PNG' and im.mode == 'L' and depth in (2, 4) and 'transparency' in im.info:
            # Pillow scales 2- and 4-bit grey to 8 bits but not their transparent grey.
            im.info['transparency'] = im.info['transparency'] * 255 // ((1 << depth) - 1)
        im = upright(im)
        if im.mode in ('I', 'I;16', 'I;16B'):
            v = np.asarray(im).astype(np.int64)
            if 'transparency' in im.info:
                g = np.where(v == im.info['transparency'], 255, (v * 255 + 32767) // 65535)
            else:
                g = (v * 255 + 32767) // 65535
            g = g.astype(np.uint8)
            return np.dstack([g, g, g]), 0
        if im.mode in ('RGBA', 'LA', 'PA', 'La', 'RGBa') or 'transparency' in im.info:
            return over_white(np.asarray(im.convert('RGBA'))), tolerance
        return np.asarray(im.convert('RGB')), tolerance


def _png_bit_depth(path):
    with open(path, 'rb') as f:
        head = f.read(26)
    return head[24] if len(head) >= 25 and head[12:16] == b'IHDR' else 8


def chunk(kind, data):
    return struct.pack('>I', len(data)) + kind + data + struct.pack('>I', zlib.crc32(kind + data))


def grey_png(path, depth, key):
    """A grey PNG of `depth` bits with the grey `key` transparent, written by hand."""
    w, h = 37, 11
    levels = 1 << depth
    y, x = np.mgrid[0:h, 0:w]
    v = (x + y * 3) % levels
    if depth < 8:
        per = 8 // depth
        rows = []
        for r in range(h):
            bits = 0
            out = bytearray()
            for c in range(w):
                bits = (bits << depth) | int(v[r, c])
                if c % per == per - 1:
                    out.append(bits)
                    bits = 0
            if w % per:
                out.append(bits << (depth * (per - w % per)))
            rows.append(b'\0' + bytes(out))
        raw = b''.join(rows)
    else:
        fmt = '>u2' if depth == 16 else 'u1'
        if depth == 16:
            v = (v * 977 + 13) % 65536
            key = int(v[0, 5])
        raw = b''.join(b'\0' + v[r].astype(fmt).tobytes() for r in range(h))
    with open(path, 'wb') as f:
        f.write(b'\x89PNG\r\n\x1a\n' + chunk(b'IHDR', struct.pack('>IIBBBBB', w, h, depth, 0, 0, 0, 0)) +
                chunk(b'tRNS', struct.pack('>H', key)) + chunk(b'IDAT', zlib.compress(raw)) + chunk(b'IEND', b''))


def local_table_gif(src, dst):
    """The GIF `src` with its global colour table moved into its first frame as a local one."""
    with open(src, 'rb') as f:
        data = bytearray(f.read())
    flags = data[10]
    assert flags & 0x80, 'source has a global table'
    size = 3 * (2 << (flags & 7))
    table = bytes(data[13:13 + size])
    body = data[13 + size:]
    data[10] = flags & 0x70  # no global table
    data[11] = 0
    pos = 0
    while body[pos] == 0x21:  # extensions
        pos += 2
        while body[pos]:
            pos += 1 + body[pos]
        pos += 1
    assert body[pos] == 0x2C
    body[pos + 9] = (body[pos + 9] & 0x40) | 0x80 | (flags & 7)
    out = bytes(data[:13]) + bytes(body[:pos + 10]) + table + bytes(body[pos + 10:])
    with open(dst, 'wb') as f:
        f.write(out)


def pattern(w=57, h=31):
    """Hard edges and ramps that no orientation maps onto itself."""
    y, x = np.mgrid[0:h, 0:w]
    return np.dstack([x * 255 // (w - 1), y * 255 // (h - 1), ((x // 8 + y // 4) % 2) * 200 + x % 7]).astype(np.uint8)


def smooth(w=64, h=40):
    y, x = np.mgrid[0:h, 0:w]
    return np.dstack([40 + x * 3, 30 + y * 4, 220 - x - y * 2]).astype(np.uint8)


class Corpus:
    """Every file of the corpus in one folder."""

    def __init__(self, folder):
        self.folder = folder
        self.names = []

    def path(self, name):
        return os.path.join(self.folder, name)

    def run(self, *command):
        subprocess.run(command, check=True, capture_output=True)

    def make(self):
        for name in sorted(os.listdir(ARGS.pngsuite)):
            if name.endswith('.png'):
                shutil.copy(os.path.join(ARGS.pngsuite, name), self.path('ps_' + name))
        rgb = Image.fromarray(pattern())
        photo = Image.fromarray(smooth())
        rgb.save(self.path('base.png'))
        rgb.save(self.path('base.ppm'))
        # Orientations: Pillow's EXIF writer on JPEG and TIFF, exiftool on a JPEG, ImageMagick's
        # TIFF orientation, and broken values that must leave the picture as stored.
        for n in range(1, 9):
            exif = Image.Exif()
            exif[0x0112] = n
            photo.save(self.path('pil_orient%d.jpg' % n), quality=95, exif=exif.tobytes())
            rgb.save(self.path('pil_orient%d.tif' % n), tiffinfo={274: n})
            self.run(CONVERT, self.path('base.png'), '-orient', ImageMagickOrientations[n], self.path('im_orient%d.tif' % n))
        # Turned pictures of one byte a pixel: grey, palette, and bilevel expanded to a palette.
        for mode in ('L', 'P', '1'):
            rgb.convert(mode).save(self.path('pil_%s_orient6.tif' % mode), tiffinfo={274: 6})
            rgb.convert(mode).save(self.path('pil_%s_orient7.tif' % mode), tiffinfo={274: 7})
        exif = Image.Exif()
        exif[0x0112] = 8
        photo.convert('L').save(self.path('pil_grey_orient8.jpg'), quality=95, exif=exif.tobytes())
        photo.save(self.path('plain.jpg'), quality=95)
        for n in (3, 6, 8):
            shutil.copy(self.path('plain.jpg'), self.path('exiftool_orient%d.jpg' % n))
            self.run('exiftool', '-q', '-overwrite_original', '-n', '-Orientation=%d' % n,
                     self.path('exiftool_orient%d.jpg' % n))
        for n in (0, 9, 255):
            exif = Image.Exif()
            exif[0x0112] = n
            photo.save(self.path('pil_bad_orient%d.jpg' % n), quality=95, exif=exif.tobytes())
        with open(self.path('pil_orient6.jpg'), 'rb') as f:
            data = bytearray(f.read())
        at = data.index(b'Exif\0\0') + 6
        data[at + 4:at + 8] = struct.pack('<I' if data[at] == ord('I') else '>I', 0x7FFFFFF0)  # directory far away
        with open(self.path('broken_exif.jpg'), 'wb') as f:
            f.write(bytes(data))
        # GIFs: Pillow's and ImageMagick's, then both with their colour tables moved into the frame.
        rgb.quantize(colors=50).save(self.path('pil.gif'))
        self.run(CONVERT, self.path('base.png'), '-colors', '100', self.path('im.gif'))
        self.run('sh', '-c', 'ppmquant 64 %s 2>/dev/null | ppmtogif > %s 2>/dev/null' %
                 (self.path('base.ppm'), self.path('netpbm.gif')))
        for name in ('pil.gif', 'im.gif', 'netpbm.gif'):
            local_table_gif(self.path(name), self.path('local_' + name))
        with open(self.path('local_pil.gif'), 'rb') as f:
            data = f.read()
        table = 3 * (2 << (data[22] & 7))
        with open(self.path('no_table.gif'), 'wb') as f:
            f.write(data[:22] + bytes([data[22] & 0x40]) + data[23 + table:])
        rgb.quantize(colors=50).save(self.path('pil_trns.gif'), transparency=3)
        local_table_gif(self.path('pil_trns.gif'), self.path('local_pil_trns.gif'))
        # Grey PNGs with a transparent grey at every bit depth, and colour with a colour key.
        for depth in (1, 2, 4, 8, 16):
            grey_png(self.path('grey%d_trns.png' % depth), depth, (1 << depth) - 2 if depth > 1 else 1)
        rgb.save(self.path('pil_rgb_trns.png'), transparency=(255, 0, 0))
        self.run(CONVERT, self.path('base.png'), '-colorspace', 'gray', '-depth', '8', '-transparent', 'black',
                 self.path('im_grey_trns.png'))
        # PNG and JPEG from netpbm and ImageMagick.
        self.run('sh', '-c', 'pnmtopng %s > %s 2>/dev/null' % (self.path('base.ppm'), self.path('netpbm.png')))
        photo.save(self.path('photo.ppm'))
        self.run('sh', '-c', 'pnmtojpeg --quality=95 %s > %s 2>/dev/null' % (self.path('photo.ppm'),
                                                                               self.path('netpbm.jpg')))
        self.run(CONVERT, self.path('photo.ppm'), '-quality', '95', '-interlace', 'JPEG', self.path('im_progressive.jpg'))
        self.run(CONVERT, self.path('photo.ppm'), '-quality', '95', '-colorspace', 'gray', self.path('im_grey.jpg'))
        # TIFF layouts from the three writers.
        tiffs = {
            'im_none.tif': ['-compress', 'none'],
            'im_lzw.tif': ['-compress', 'lzw'],
            'im_zip.tif': ['-compress', 'zip'],
            'im_packbits.tif': ['-compress', 'rle'],
            'im_predictor.tif': ['-compress', 'lzw', '-define', 'tiff:predictor=2'],
            'im_tiled.tif': ['-define', 'tiff:tile-geometry=16x16'],
            'im_16bit.tif': ['-depth', '16'],
            'im_alpha.tif': ['-alpha', 'set', '-channel', 'A', '-evaluate', 'set', '60%', '+channel'],
            'im_palette.tif': ['-type', 'Palette'],
            'im_grey8.tif': ['-colorspace', 'gray', '-depth', '8'],
            'im_grey4.tif': ['-colorspace', 'gray', '-depth', '4'],
            'im_grey2.tif': ['-colorspace', 'gray', '-depth', '2'],
            'im_bilevel.tif': ['-monochrome'],
            'im_cmyk.tif': ['-colorspace', 'cmyk'],
            'im_planar.tif': ['-interlace', 'plane'],
            'im_lab.tif': ['-colorspace', 'Lab'],
            'im_msb2lsb.tif': ['-define', 'tiff:fill-order=lsb'],
            'im_bigendian.tif': ['-endian', 'MSB'],
        }
        for name, options in tiffs.items():
            self.run(CONVERT, self.path('base.png'), *options, self.path(name))
        self.run(CONVERT, self.path('photo.ppm'), '-compress', 'jpeg', self.path('im_jpeg.tif'))
        self.run(CONVERT, self.path('base.png'), 'TIFF64:' + self.path('im_bigtiff.tif'))
        rgb.save(self.path('pil_deflate.tif'), compression='tiff_adobe_deflate')
        rgb.convert('L').save(self.path('pil_grey.tif'))
        rgb.convert('1').save(self.path('pil_bilevel_g4.tif'), compression='group4')
        rgb.convert('P').save(self.path('pil_palette.tif'))
        self.run('sh', '-c', 'pnmtotiff %s > %s 2>/dev/null' % (self.path('base.ppm'), self.path('netpbm.tif')))
        self.run('sh', '-c', 'pnmtotiff -lzw -msb2lsb %s > %s 2>/dev/null' % (self.path('base.ppm'),
                                                                               self.path('netpbm_lzw.tif')))
        self.references = sample_and_profile_cases(self)
        for leftover in ('base.ppm', 'photo.ppm'):
            os.remove(self.path(leftover))
        self.names = sorted(n for n in os.listdir(self.folder) if not n.endswith('.bmp'))


ICC_FOLDER = '/usr/share/color/icc/colord'  # Debian's colord-data


def write_tiff16(path, samples, photometric, big_endian, deflate=False, rows_per_strip=None, extra=None):
    """A TIFF of 16-bit samples (h x w x samples), written by hand in either byte order, in
    strips of `rows_per_strip` rows (the last one shorter), optionally deflated; `extra` is the
    ExtraSamples value of a fourth sample (1 associated alpha, 2 straight)."""
    o = '>' if big_endian else '<'
    h, w, n = samples.shape
    rows = rows_per_strip or h
    strips = [samples[y:y + rows].astype(o + 'u2').tobytes() for y in range(0, h, rows)]
    strips = [zlib.compress(x) for x in strips] if deflate else strips
    out = bytearray(b'MM\0*' if big_endian else b'II*\0') + bytes(4)
    offsets = []
    for x in strips:
        offsets.append(len(out))
        out += x + bytes(len(x) % 2)
    arrays = {}
    for key, fmt, values in (('bits', 'H', [16] * n), ('offsets', 'I', offsets),
                             ('counts', 'I', [len(x) for x in strips])):
        arrays[key] = len(out)
        out += struct.pack(o + '%d%s' % (len(values), fmt), *values)
    # (tag, type, values, where they lie when they do not fit the entry)
    tags = [(256, 4, [w], None), (257, 4, [h], None), (258, 3, [16] * n, arrays['bits']),
            (259, 3, [8 if deflate else 1], None), (262, 3, [photometric], None),
            (273, 4, offsets, arrays['offsets']), (277, 3, [n], None), (278, 4, [rows], None),
            (279, 4, [len(x) for x in strips], arrays['counts']), (284, 3, [1], None)]
    if extra is not None:
        tags.append((338, 3, [extra], None))
    out[4:8] = struct.pack(o + 'I', len(out))
    out += struct.pack(o + 'H', len(tags))
    for tag, kind, values, at in tags:
        size = 2 if kind == 3 else 4
        if len(values) * size <= 4:
            field = struct.pack(o + '%d%s' % (len(values), 'H' if kind == 3 else 'I'), *values).ljust(4, b'\0')
        else:
            field = struct.pack(o + 'I', at)
        out += struct.pack(o + 'HHI', tag, kind, len(values)) + field
    out += bytes(4)
    with open(path, 'wb') as f:
        f.write(out)


def sample_and_profile_cases(corpus):
    """Writes the pictures judged against a truth of their own, and returns for each its expected
    RGB, the largest difference allowed, and (for lossy or converted ones) the mean allowed."""
    refs = {}
    reduce = lambda v: ((v * 255 + 32767) // 65535).astype(np.uint8)  # noqa: E731
    h, w = 40, 100
    y, x = np.mgrid[0:h, 0:w].astype(np.int64)
    # Low bytes unlike the high ones, so a swapped or truncated sample shows.
    grey = x * 640 + y * 37 + 0x5A
    rgb = np.dstack([x * 650 + 0x7F, y * 1600 + 0x80, (x + y) * 450 + 0x81])
    alpha = (x * 7 + y * 1500) % 65536
    a = alpha[..., None]
    straight = reduce((rgb * a + 65535 * (65535 - a)) // 65535)
    premultiplied = rgb * a // 65535
    kinds = {
        'grey': (grey[..., None], 1, None, np.dstack([reduce(grey)] * 3)),
        'rgb': (rgb, 2, None, reduce(rgb)),
        'rgba': (np.dstack([rgb, alpha]), 2, 2, straight),
        'rgba_associated': (np.dstack([premultiplied, alpha]), 2, 1, reduce(premultiplied + 65535 - a)),
    }
    for kind, (samples, photometric, extra, want) in kinds.items():
        # Little-endian in plain strips; big-endian deflated, its last strip shorter.
        for big, deflate, name in ((False, False, 'tiff16_le_%s.tif'), (True, True, 'tiff16_be_%s.tif')):
            write_tiff16(corpus.path(name % kind), samples, photometric, big, deflate, 7, extra)
            refs[name % kind] = (want, 1, None)
    # Colour profiles: Adobe RGB in PNG, palette PNG, JPEG and TIFF, and a profile that swaps red
    # and green, against Pillow's conversion to sRGB; sRGB and a cut profile as stored.
    picture = Image.fromarray(smooth()).resize((96, 60))
    srgb = ImageCms.createProfile('sRGB')
    adobe = None
    # (adobe_large.png has pixels enough to go through the plug-in's grid of converted colours.)
    for profile, names in (('AdobeRGB1998.icc', ('adobe.png', 'adobe.jpg', 'adobe.tif', 'adobe_palette.png',
                                                 'adobe_large.png')),
                           ('SwappedRedAndGreen.icc', ('swapped.png',)), ('sRGB.icc', ('srgb_profile.png',))):
        with open(os.path.join(ICC_FOLDER, profile), 'rb') as f:
            icc = f.read()
        for name in names:
            im = picture.quantize(colors=60) if 'palette' in name else picture
            im = im.resize((1040, 560)) if 'large' in name else im
            im.save(corpus.path(name), icc_profile=icc, **({'quality': 95} if name.endswith('.jpg') else {}))
            with Image.open(corpus.path(name)) as saved:
                stored = saved.convert('RGB')
            if profile == 'sRGB.icc':
                refs[name] = (np.asarray(stored), 0, None)
                continue
            want = np.asarray(ImageCms.profileToProfile(stored, ImageCms.ImageCmsProfile(io.BytesIO(icc)), srgb))
            apart = np.abs(want.astype(int) - np.asarray(stored).astype(int)).mean()
            assert apart > 5, (name, apart)  # the case shows a missed conversion
            refs[name] = (want, None, 2)
            adobe = icc if profile == 'AdobeRGB1998.icc' else adobe
    picture.save(corpus.path('cut_profile.png'), icc_profile=adobe[:200])
    refs['cut_profile.png'] = (np.asarray(picture), 0, None)
    return refs


ImageMagickOrientations = {1: 'top-left', 2: 'top-right', 3: 'bottom-right', 4: 'bottom-left', 5: 'left-top',
                           6: 'right-top', 7: 'right-bottom', 8: 'left-bottom'}


def fields(text):
    words = text.split()
    return {words[i]: words[i + 1] for i in range(0, len(words) - 1)}


def decode_corpus(corpus):
    """One harness process over the whole corpus: pictinfo and decode for every file."""
    lines = []
    for name in corpus.names:
        lines.append('pictinfo file 0 %s' % winpath(corpus.path(name)))
        lines.append('decode mem 0 %s %s' % (winpath(corpus.path(name)), winpath(corpus.path(name + '.bmp'))))
    answers = run_harness(ARGS, lines, corpus.path('commands.txt'))
    os.remove(corpus.path('commands.txt'))
    return {name: (answers[2 * i], answers[2 * i + 1]) for i, name in enumerate(corpus.names)}


def judge(corpus, name, info, decoded):
    """('match' | 'fail CODE' | 'differs ...' | 'pillow cannot read', detail)."""
    f = fields(decoded)
    code = f.get('result')
    reference = getattr(corpus, 'references', {}).get(name)
    try:
        want, tolerance = reference[:2] if reference else pillow_rgb(corpus.path(name))
    except Exception as e:  # noqa: BLE001 - Pillow's refusal of a corrupt file
        want, tolerance = None, 0
        pillow_error = str(e)
    if code != '0':
        return ('fail ' + str(code), decoded)
    if want is None:
        return ('decoded what pillow cannot read', pillow_error)
    got = np.asarray(Image.open(corpus.path(name + '.bmp')).convert('RGB')).astype(int)
    if got.shape != want.shape:
        return ('differs', 'size %s, Pillow %s' % (got.shape[1::-1], want.shape[1::-1]))
    i = fields(info)
    if i.get('result') != '0' or i.get('size') != '%dx%d' % (got.shape[1], got.shape[0]):
        return ('differs', 'GetPictureInfo %s' % info)
    diff = np.abs(got - want.astype(int))
    lossy = name.endswith('.jpg') or name == 'im_jpeg.tif'
    if reference and reference[2] is not None:
        ok = diff.mean() <= reference[2]
    else:
        ok = diff.mean() <= 3 if lossy else diff.max() <= tolerance
    if ok:
        return ('match', '')
    return ('differs', 'max %d mean %.2f, %d pixels' % (diff.max(), diff.mean(), int((diff.max(axis=2) > 0).sum())))


def setUpModule():
    global CORPUS, VERDICTS
    folder = tempfile.mkdtemp(prefix='ifwic-conformance-')
    CORPUS = Corpus(folder)
    CORPUS.make()
    answers = decode_corpus(CORPUS)
    VERDICTS = {name: (judge(CORPUS, name, *answers[name]), answers[name]) for name in CORPUS.names}
    if ARGS.report:
        with open(ARGS.report, 'w') as f:
            for name, ((verdict, detail), _) in sorted(VERDICTS.items()):
                f.write('%-28s %-10s %s\n' % (name, verdict, detail))
            counts = {}
            for (verdict, _), _ in VERDICTS.values():
                counts[verdict] = counts.get(verdict, 0) + 1
            f.write('%d files: %s\n' % (len(VERDICTS), ', '.join('%s %d' % kv for kv in sorted(counts.items()))))


def tearDownModule():
    shutil.rmtree(CORPUS.folder, ignore_errors=True)


class ConformanceTest(unittest.TestCase):
    def verdicts(self, prefix=''):
        return {n: v for n, v in VERDICTS.items() if n.startswith(prefix)}

    def test_no_file_stops_the_harness(self):
        for name, (_, (info, decoded)) in VERDICTS.items():
            with self.subTest(name):
                self.assertNotIn('missing', info + decoded)
                self.assertNotIn('handles-left', decoded)

    def test_corrupt_pngsuite_files_fail_cleanly(self):
        corrupt = self.verdicts('ps_x')
        self.assertGreaterEqual(len(corrupt), 10)
        for name, ((verdict, detail), _) in corrupt.items():
            with self.subTest(name):
                self.assertIn(verdict, ['fail ' + c for c in CORRUPT_CODES], detail)

    def test_every_other_file_matches_pillow(self):
        for name, ((verdict, detail), _) in VERDICTS.items():
            if name.startswith('ps_x'):
                continue
            with self.subTest(name):
                if name in MUST_FAIL:
                    self.assertEqual(verdict, 'fail ' + MUST_FAIL[name], detail)
                elif name in MAY_FAIL and verdict != 'match':
                    self.assertIn(verdict, ['fail ' + c for c in CLEAN_FAILURE_CODES], detail)
                else:
                    self.assertEqual(verdict, 'match', detail)

    def test_orientations_are_all_present_and_distinct(self):
        # The corpus really holds eight different pictures: a writer that dropped the tag would
        # leave the orientation test without a case.
        for prefix in ('pil_orient%d.tif', 'im_orient%d.tif', 'pil_orient%d.jpg'):
            with self.subTest(prefix):
                shapes = set()
                for n in range(1, 9):
                    with Image.open(CORPUS.path(prefix % n)) as im:
                        self.assertEqual(im.getexif().get(0x0112, 1), n)
                        shapes.add(upright(im).tobytes())
                self.assertEqual(len(shapes), 8)


class HostTest(unittest.TestCase):
    """korconv with ifwic.spi beside it shows what the plug-in returns: a big-endian 16-bit TIFF,
    a keyed 2-bit grey PNG and a JPEG with an Adobe RGB profile."""

    def test_korconv_shows_what_the_plugin_returns(self):
        if not ARGS.korconv:
            self.skipTest('no --korconv given')
        for name in ('tiff16_be_rgba_associated.tif', 'grey2_trns.png', 'adobe.jpg'):
            with self.subTest(name):
                out = CORPUS.path(name + '.korconv.bmp')
                run = subprocess.run([ARGS.wine_run, ARGS.korconv, winpath(CORPUS.path(name)), winpath(out)],
                                     capture_output=True, timeout=300)
                self.assertEqual(run.returncode, 0, run.stderr.decode('cp932', 'replace'))
                self.assertEqual(VERDICTS[name][0][0], 'match')
                np.testing.assert_array_equal(np.asarray(Image.open(out).convert('RGB')),
                                              np.asarray(Image.open(CORPUS.path(name + '.bmp')).convert('RGB')))


if __name__ == '__main__':
    parser = argparse.ArgumentParser()
    parser.add_argument('--harness', required=True)
    parser.add_argument('--spi', required=True)
    parser.add_argument('--wine-run', required=True)
    parser.add_argument('--pngsuite', required=True)
    parser.add_argument('--korconv', help='korconv.exe in the folder of ifwic.spi')
    parser.add_argument('--report', help='write one line per file and a count of the verdicts')
    ARGS, rest = parser.parse_known_args()
    unittest.main(argv=[sys.argv[0]] + rest, verbosity=1)
