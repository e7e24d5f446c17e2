#!/usr/bin/python3
"""korzip.spi through korzip_harness, against ZIP archives that Python's zipfile and Info-ZIP's
zip write here: the records, each entry's bytes and the look-up by name, from a file and from
memory, then damaged archives.  Under a Windows build the harness runs under Wine (--runner)."""
import argparse
import io
import json
import os
import random
import shutil
import struct
import subprocess
import sys
import tempfile
import time
import unittest
import zipfile
import zlib

ARGS = None
MODES = ("file", "mem")
NO_ENTRY = 8  # GetFileInfo: no entry of that name; GetFile: none at that position
METHODS = {zipfile.ZIP_STORED: "Stored", zipfile.ZIP_DEFLATED: "Deflate"}
WHEN = (2021, 5, 6, 7, 8, 10)


class Unseekable(io.RawIOBase):
    """A file that cannot seek: zipfile writes data descriptors into it."""

    def __init__(self, f):
        self.f = f

    def writable(self):
        return True

    def write(self, b):
        return self.f.write(b)


def host(path):
    return "Z:" + os.path.abspath(path).replace("/", "\\") if ARGS.runner else path


class Harness:
    """Commands run through one harness process; each result goes to the check given with it."""

    def __init__(self, folder):
        self.folder = folder
        self.commands = []

    def add(self, label, check, *fields):
        self.commands.append((label, check, "\t".join(str(f) for f in fields)))

    def run(self, test):
        path = os.path.join(self.folder, "commands.txt")
        with open(path, "w") as f:
            f.write("".join(line + "\n" for _, _, line in self.commands))
        p = subprocess.run(ARGS.runner + [ARGS.harness, host(ARGS.spi), host(path)], capture_output=True, timeout=900)
        if ARGS.runner and p.returncode == 125:  # scripts/wine-run: a 32-bit program cannot run here
            raise unittest.SkipTest(p.stderr.decode(errors="replace").strip())
        test.assertEqual(p.returncode, 0, p.stderr.decode(errors="replace"))
        results = [json.loads(line) for line in p.stdout.decode().splitlines()]
        test.assertEqual(len(results), len(self.commands), p.stderr.decode(errors="replace"))
        for (label, check, _), result in zip(self.commands, results):
            with test.subTest(label):
                check(result)


def records_of(result):
    return [dict(r, method=bytes.fromhex(r["method"]).decode(), path=bytes.fromhex(r["path"]),
                 filename=bytes.fromhex(r["filename"])) for r in result["records"]]


def expected_records(path, times=None):
    """What the listing should hold, from zipfile's reading: every entry but folders and names
    that CP932 cannot write or whose path or file name exceeds 199 bytes."""
    out = []
    with zipfile.ZipFile(path) as z:
        for i in z.infolist():
            raw = i.orig_filename.encode("utf-8" if i.flag_bits & 0x800 else "cp437")
            if raw.endswith(b"/"):
                continue
            try:
                name = raw.decode("utf-8").encode("cp932") if i.flag_bits & 0x800 else raw
            except UnicodeError:
                continue
            folder, slash, file = name.rpartition(b"/")
            folder = (folder + slash).replace(b"/", b"\\")
            if len(folder) > 199 or len(file) > 199:
                continue
            stamp = times[raw] if times else int(time.mktime(i.date_time + (0, 0, -1)))
            out.append({"method": METHODS[i.compress_type], "position": i.header_offset, "compsize": i.compress_size,
                        "filesize": i.file_size, "timestamp": stamp, "path": folder, "filename": file, "crc": i.CRC,
                        "raw": raw, "encrypted": bool(i.flag_bits & 1)})
    return out


def swapped(name):
    """The name with its ASCII letters in the other case; double-byte characters kept."""
    return "".join(c.swapcase() if c.isascii() else c for c in name.decode("cp932")).encode("cp932")


def record(r):
    return {k: v for k, v in r.items() if k not in ("raw", "encrypted")}


class KorzipTest(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.mkdtemp(prefix="korzip-")
        self.harness = Harness(self.dir)
        self.outputs = 0

    def tearDown(self):
        shutil.rmtree(self.dir, ignore_errors=True)

    def path(self, name):
        return os.path.join(self.dir, name)

    def output(self):
        self.outputs += 1
        return self.path("out%d.bin" % self.outputs)

    def expect_get(self, label, archive, position, result, data=None, mode="file", abort_at=""):
        out = self.output()

        def check(r):
            self.assertEqual(r["result"], result)
            if data is None:
                self.assertEqual(r["size"], 0)
                return
            with open(out, "rb") as f:
                got = f.read()
            self.assertEqual(got[:len(data)], data)
            self.assertGreaterEqual(len(got), len(data))
            self.assertTrue(r["ordered"])
            self.assertEqual(r["last"], len(data))
            self.assertGreaterEqual(r["calls"], 3 if len(data) > 1 << 20 else 2)  # start, end, one between
        self.harness.add(label, check, "get", mode, host(archive), position, host(out), abort_at)

    def expect_archive(self, archive, contents, times=None):
        """The records from both inputs, every entry's bytes (an encrypted one refused with 2),
        and each record found by its name, case-swapped with flag 0x80 and not without it."""
        expected = expected_records(archive, times)
        self.assertTrue(expected)
        name = os.path.basename(archive)
        for mode in MODES:
            def listed(r):
                self.assertEqual((r["result"], r["ended"]), (0, 1))
                self.assertEqual(records_of(r), [record(e) for e in expected])
            self.harness.add("%s %s list" % (name, mode), listed, "list", mode, host(archive))
        for e in expected:
            label = "%s %r" % (name, e["raw"])
            for mode in MODES:
                if e["encrypted"]:
                    self.expect_get(label + " get " + mode, archive, e["position"], 2, mode=mode)
                else:
                    self.expect_get(label + " get " + mode, archive, e["position"], 0, contents[e["raw"]], mode)
            full = e["path"] + e["filename"]
            for mode, flag, query, found in (("file", 0, full, True), ("mem", 0x80, swapped(full), True),
                                             ("file", 0, swapped(full), swapped(full) == full)):
                def looked_up(r, e=e, found=found):
                    self.assertEqual(r["result"], 0 if found else NO_ENTRY)
                    if found:
                        self.assertEqual(records_of({"records": [r["record"]]})[0], record(e))
                self.harness.add("%s find %s %x %r" % (label, mode, flag, query), looked_up, "find", mode,
                                 host(archive), flag, query.hex())
        return expected

    def test_plugin_information_and_header_test(self):
        texts = [b"00AM", b"korzip.sp", b"*.zip", b"ZIP archive", b"*.cbz", b"Comic book ZIP"]

        def full(r):
            for (got, text, kept), want in zip(r["info"], texts):
                self.assertTrue(bytes.fromhex(text).startswith(want) and kept)
                self.assertEqual(got, len(bytes.fromhex(text)))
            self.assertEqual([i[0] for i in r["info"][6:]], [0, 0])  # past the last pair

        def cut(r):  # cut to the buffer with its NUL, never past it
            self.assertEqual([(i[0], bytes.fromhex(i[1]), i[2]) for i in r["info"][:4]],
                             [(3, b"00A", 1), (3, b"kor", 1), (3, b"*.z", 1), (3, b"ZIP", 1)])
        self.harness.add("info", full, "info", 200)
        self.harness.add("info cut", cut, "info", 4)
        with zipfile.ZipFile(self.path("empty.zip"), "w"):
            pass
        with zipfile.ZipFile(self.path("one.zip"), "w") as z:
            z.writestr("a.txt", b"a")
        with open(self.path("not.zip"), "wb") as f:
            f.write(b"\x89PNG\r\n\x1a\n" + bytes(100))
        for name, want in (("empty.zip", 1), ("one.zip", 1), ("not.zip", 0)):
            self.harness.add(name, lambda r, want=want: self.assertEqual(r["supported"], want), "supported",
                             host(self.path(name)))
        for mode in MODES:
            self.harness.add("empty " + mode, lambda r: self.assertEqual((r["result"], r["records"], r["ended"]),
                                                                         (0, [], 1)), "list", mode,
                             host(self.path("empty.zip")))
        self.harness.run(self)

    def test_archives_written_by_python(self):
        rng = random.Random(5)
        ramp = bytes(rng.randrange(4) + (i >> 12) % 200 for i in range(3 << 20))  # 3 MiB: progress steps
        entries = [("readme.txt", b"korzip\r\n" * 60, zipfile.ZIP_STORED),
                   ("big/ramp.bin", ramp, zipfile.ZIP_DEFLATED),
                   ("日本/写真01.png", rng.randbytes(10000), zipfile.ZIP_DEFLATED),
                   ("アイ.txt", b"katakana, a trail byte in the ASCII letters\n", zipfile.ZIP_STORED),
                   ("Zoë/ünïcode.txt", b"CP932 has no e with diaeresis", zipfile.ZIP_DEFLATED),
                   ("\U0001F600.txt", b"nor emoji", zipfile.ZIP_STORED),
                   ("empty.txt", b"", zipfile.ZIP_DEFLATED),
                   ("folder/", b"", zipfile.ZIP_STORED),
                   ("x" * 199, b"longest file name", zipfile.ZIP_STORED),
                   ("y" * 200, b"one byte too long", zipfile.ZIP_STORED),
                   ("p" * 198 + "/fits.txt", b"longest path", zipfile.ZIP_STORED),
                   ("q" * 199 + "/over.txt", b"path one byte too long", zipfile.ZIP_STORED),
                   ("../../evil.txt", b"never written anywhere", zipfile.ZIP_DEFLATED),
                   ("/abs/olute.txt", b"absolute", zipfile.ZIP_STORED),
                   ("C:/drive/x.txt", b"drive letter", zipfile.ZIP_STORED),
                   ("Mixed/Case.Bin", rng.randbytes(3000), zipfile.ZIP_DEFLATED)]
        contents = {n.encode(): data for n, data, _ in entries}

        def write(z, force_zip64=False):
            for n, data, method in entries:
                info = zipfile.ZipInfo(n, WHEN)
                info.compress_type = method
                with z.open(info, "w", force_zip64=force_zip64) as f:
                    f.write(data)

        with zipfile.ZipFile(self.path("mixed.zip"), "w") as z:
            write(z)
        with zipfile.ZipFile(self.path("zip64.zip"), "w") as z:
            write(z, force_zip64=True)
        with open(self.path("streamed.zip"), "wb") as f, zipfile.ZipFile(Unseekable(f), "w") as z:
            write(z)
        with zipfile.ZipFile(self.path("streamed.zip")) as z:
            self.assertTrue(all(i.flag_bits & 8 for i in z.infolist()))
        for name in ("mixed.zip", "zip64.zip", "streamed.zip"):
            listed = self.expect_archive(self.path(name), contents)
            self.assertEqual(len(listed), len(entries) - 5)
        big = expected_records(self.path("mixed.zip"))[1]
        self.expect_get("abort", self.path("mixed.zip"), big["position"], 1, abort_at=2)
        # Case is folded in single-byte characters only: "ア" is 83 41, and 83 61 is another letter.
        self.harness.add("trail bytes keep their case", lambda r: self.assertEqual(r["result"], NO_ENTRY), "find",
                         "file", host(self.path("mixed.zip")), 0x80, b"\x83\x61\x83\x63.txt".hex())
        self.harness.run(self)

    def test_archives_written_by_info_zip(self):
        source = self.path("src")
        rng = random.Random(9)
        files = {"photo.png": rng.randbytes(200000), "notes.txt": b"line of notes\n" * 3000, "empty.dat": b"",
                 "sub/deep/data.bin": rng.randbytes(5000), "Mixed/Case.TXT": b"case\n"}
        for n, data in files.items():
            os.makedirs(os.path.dirname(os.path.join(source, n)), exist_ok=True)
            with open(os.path.join(source, n), "wb") as f:
                f.write(data)
        contents = {n.encode(): data for n, data in files.items()}
        # A name in CP932 bytes ("表" ends in 0x5C), stored as it is, without the UTF-8 flag.
        cp932 = "表.txt".encode("cp932")
        with open(os.path.join(os.fsencode(source), cp932), "wb") as f:
            f.write(b"stored in the writer's code page")
        contents[cp932] = b"stored in the writer's code page"
        times = {}
        for k, n in enumerate(contents):
            os.utime(os.path.join(os.fsencode(source), n), (1600000000 + 7 * k, 1600000000 + 7 * k))
            times[n] = 1600000000 + 7 * k
        env = dict(os.environ, LC_ALL="C", LANG="C")
        runs = {"plain.zip": [], "stored.zip": ["-0"], "zip64.zip": ["-fz"], "descriptors.zip": ["-fd"],
                "encrypted.zip": ["-P", "secret"]}
        for name, options in runs.items():
            subprocess.run(["zip", "-q", "-r"] + options + [self.path(name), "."], cwd=source, env=env, check=True)
        piped = subprocess.run(["zip", "-q", "-r", "-", "."], cwd=source, env=env, check=True, stdout=subprocess.PIPE)
        with open(self.path("piped.zip"), "wb") as f:
            f.write(piped.stdout)
        with open(self.path("zip64.zip"), "rb") as f:
            self.assertIn(b"PK\x06\x06", f.read())
        for name in ("piped.zip", "descriptors.zip"):
            with zipfile.ZipFile(self.path(name)) as z:
                self.assertTrue(all(i.flag_bits & 8 for i in z.infolist() if not i.is_dir()))
        for name in list(runs) + ["piped.zip"]:
            listed = self.expect_archive(self.path(name), contents, times)
            self.assertEqual(sorted(e["raw"] for e in listed), sorted(contents))
            self.assertEqual(all(e["encrypted"] for e in listed), name == "encrypted.zip")
        self.harness.run(self)

    def test_damaged_archives(self):
        zeros = bytes(1 << 20)
        with zipfile.ZipFile(self.path("base.zip"), "w") as z:
            z.writestr(zipfile.ZipInfo("zeros.bin", WHEN), zeros, zipfile.ZIP_DEFLATED)
            z.writestr(zipfile.ZipInfo("text.txt", WHEN), b"plain text", zipfile.ZIP_STORED)
        with open(self.path("base.zip"), "rb") as f:
            base = f.read()
        end = base.rfind(b"PK\x05\x06")
        directory, = struct.unpack_from("<I", base, end + 16)
        central = {"zeros.bin": directory, "text.txt": base.index(b"PK\x01\x02", directory + 4)}
        local = {n: struct.unpack_from("<I", base, at + 42)[0] for n, at in central.items()}

        def patch(*changes):
            """Each change: the entry (None: the end record), the field's offset in its central and
            local header (None: the central one only), the field's format and value."""
            data = bytearray(base)
            for entry, central_at, local_at, fmt, value in changes:
                if entry is None:
                    struct.pack_into(fmt, data, end + central_at, value)
                    continue
                struct.pack_into(fmt, data, central[entry] + central_at, value)
                if local_at is not None:
                    struct.pack_into(fmt, data, local[entry] + local_at, value)
            return bytes(data)

        comp, = struct.unpack_from("<I", base, central["zeros.bin"] + 20)
        # Name, bytes, the listing's result and GetFile's for zeros.bin and text.txt, where they
        # differ given as (file, memory).  Memory input begins at the entry: past the end of what
        # is left it is empty (2), and a directory further on may be the rest of the archive's
        # own, where no entry begins at the block's start (NO_ENTRY).
        cases = [
            ("cut short", base[:len(base) // 2], 3, 3, (3, 2)),
            ("no zip", b"GIF89a" + bytes(300), 2, 2, 2),
            ("directory past the end", patch((None, 16, None, "<I", len(base) + 100)), 3, (3, NO_ENTRY),
             (3, NO_ENTRY)),
            ("data past the end", patch(("zeros.bin", 20, None, "<I", len(base))), 3, 3, 0),
            ("more than declared", patch(("zeros.bin", 24, 22, "<I", 1000), ("zeros.bin", 16, 14, "<I",
                                                                              zlib.crc32(bytes(1000)))), 0, 3, 0),
            ("more than deflate can make", patch(("zeros.bin", 24, 22, "<I", comp * 1100)), 0, 3, 0),
            ("crc mismatch", patch(("text.txt", 16, 14, "<I", zlib.crc32(b"plain text") ^ 1)), 0, 0, 3),
            ("over the size limit", patch(("zeros.bin", 24, 22, "<I", 0x7FFFFFFF)), 0, 4, 0),
            ("entries over each other", patch(("text.txt", 42, None, "<I", local["zeros.bin"])), 3, 0, NO_ENTRY),
            ("local header gone", base[:local["text.txt"]] + b"XXXX" + base[local["text.txt"] + 4:], 0, 0, 3),
        ]
        for name, data, listing, *gets in cases:
            archive = self.path(name.replace(" ", "_") + ".zip")
            with open(archive, "wb") as f:
                f.write(data)
            for mode in MODES:
                self.harness.add("%s list %s" % (name, mode), lambda r, want=listing: self.assertEqual(r["result"], want),
                                 "list", mode, host(archive))
                for entry, want in zip(("zeros.bin", "text.txt"), gets):
                    want = want[mode == "mem"] if isinstance(want, tuple) else want
                    content = (zeros if entry == "zeros.bin" else b"plain text") if want == 0 else None
                    self.expect_get("%s get %s %s" % (name, entry, mode), archive, local[entry], want, content, mode)
        folder = self.path("folder")
        os.mkdir(folder)
        self.expect_get("no entry there", self.path("base.zip"), 1, NO_ENTRY)
        self.harness.add("file output", lambda r: self.assertEqual((r["result"], os.listdir(folder)), (-1, [])),
                         "tofolder", host(self.path("base.zip")), local["text.txt"], host(folder))
        self.harness.run(self)

    def test_korconv_reads_books(self):
        """korconv with korzip as its archive plug-in lists a book's pages in the viewer's order and
        converts one page, named ARCHIVE\\ENTRY, into the very BMP the archive holds."""
        if not ARGS.korconv:
            raise unittest.SkipTest("no korconv given")
        from PIL import Image
        env = dict(os.environ)
        if not ARGS.runner:  # natively the plug-ins come from the Susie folder the registry names
            susie = self.path("susie")
            os.mkdir(susie)
            shutil.copy2(ARGS.spi, susie)
            env["KORVALE_REGISTRY"] = self.path("registry.reg")
            with open(env["KORVALE_REGISTRY"], "w") as f:
                f.write('REGEDIT4\n\n[HKEY_CURRENT_USER\\Software\\Dorvenik\\Susie\\Plug-in]\n"Path"="%s"\n' % susie)
        pages = {}
        for i, name in enumerate(("02/01.bmp", "01/02.BMP", "cover.bmp", "01/01.bmp")):
            out = io.BytesIO()
            Image.new("RGB", (7 + i, 5), (40 * i, 90, 200 - 30 * i)).save(out, "BMP")
            pages[name] = out.getvalue()
        book = self.path("book.zip")
        with zipfile.ZipFile(book, "w", zipfile.ZIP_DEFLATED) as z:
            for name, data in pages.items():
                z.writestr(name, data)
            z.writestr("notes.txt", b"not a page")

        def korconv(*args):
            return subprocess.run(ARGS.runner + [ARGS.korconv] + list(args), capture_output=True, env=env,
                                  timeout=300)
        listed = korconv(host(book), "--list")
        self.assertEqual(listed.returncode, 0, listed.stderr)
        self.assertEqual(listed.stdout.decode().split(), ["cover.bmp", "01\\01.bmp", "01\\02.BMP", "02\\01.bmp"])
        out = self.path("page.bmp")
        converted = korconv(host(book) + "\\01\\02.BMP", host(out))
        self.assertEqual(converted.returncode, 0, converted.stderr)
        with open(out, "rb") as f:
            self.assertEqual(f.read(), pages["01/02.BMP"])
        missing = korconv(host(book) + "\\01\\03.bmp", host(self.path("none.bmp")))
        self.assertEqual(missing.returncode, 1)
        self.assertIn("01\\03.bmp".encode(), missing.stderr)
        self.assertFalse(os.path.exists(self.path("none.bmp")))


if __name__ == "__main__":
    parser = argparse.ArgumentParser()
    parser.add_argument("--harness", required=True)
    parser.add_argument("--spi", required=True)
    parser.add_argument("--runner", nargs="*", default=[])
    parser.add_argument("--korconv", help="korconv, finding korzip as the viewer finds it")
    ARGS, rest = parser.parse_known_args()
    result = unittest.main(argv=sys.argv[:1] + rest, exit=False).result
    if not result.wasSuccessful():
        sys.exit(1)
    sys.exit(77 if len(result.skipped) == result.testsRun else 0)
