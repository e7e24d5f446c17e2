#!/usr/bin/python3
"""Seed corpus for the bitmap fuzzers: the writers test's BMP files at a small size (every
depth, header and compression), each also as a stored picture record of class TBitmap; and for
the archive fuzzer small ZIP archives of zipfile's and, where it is installed, Info-ZIP's."""
import os
import shutil
import struct
import subprocess
import sys
import zipfile

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "picture", "bitmap"))
import writers_test  # noqa: E402

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "korzip"))
from korzip_test import Unseekable  # noqa: E402

out = sys.argv[1]
work = os.path.join(out, "work")
os.makedirs(work, exist_ok=True)
writers_test.W, writers_test.H = 9, 5  # small files mutate faster
files = writers_test.writer_variants(work)
for name, data, _ in writers_test.encoded_variants(work):
    path = os.path.join(work, name + ".bmp")
    with open(path, "wb") as f:
        f.write(data)
    files.append((name, path))
for name, path in files:
    with open(path, "rb") as f:
        data = f.read()
    with open(os.path.join(out, "bmp-" + name), "wb") as f:
        f.write(data)
    with open(os.path.join(out, "record-" + name), "wb") as f:
        f.write(bytes((7,)) + b"TBitmap" + struct.pack("<I", len(data)) + data)
    # A picture answer on the helper's channel and its block: two bytes ahead of the file image.
    if data[:2] == b"BM" and struct.unpack_from("<I", data, 30)[0] in (0, 3):
        off = struct.unpack_from("<I", data, 10)[0]
        payload = struct.pack("<iIQQQQQI", 0, 1, 3, 2, off - 14, len(data) - off, 2 + len(data), 0)
        frame = struct.pack("<III", 19, 1, len(payload)) + payload
        with open(os.path.join(out, "answer-" + name), "wb") as f:
            f.write(struct.pack("<H", len(frame)) + frame + b"\0\0" + data)
with open(os.path.join(out, "record-empty"), "wb") as f:
    f.write(bytes((7,)) + b"TBitmap" + struct.pack("<I", 0))


entries = [("a.txt", b"stored text\n" * 3, zipfile.ZIP_STORED), ("dir/b.bin", bytes(range(256)) * 4, zipfile.ZIP_DEFLATED),
           ("日本/写真.png", b"\x89PNG" + bytes(40), zipfile.ZIP_DEFLATED), ("empty", b"", zipfile.ZIP_STORED)]
zips = 0
for kind in ("plain", "zip64", "streamed", "empty"):
    with open(os.path.join(out, "zip-" + kind), "wb") as f:
        with zipfile.ZipFile(Unseekable(f) if kind == "streamed" else f, "w") as z:
            for name, data, method in entries if kind != "empty" else []:
                info = zipfile.ZipInfo(name, (2020, 1, 2, 3, 4, 6))
                info.compress_type = method
                with z.open(info, "w", force_zip64=kind == "zip64") as w:
                    w.write(data)
    zips += 1
if shutil.which("zip"):
    for name, data, _ in entries:
        os.makedirs(os.path.dirname(os.path.join(work, "zip", name)), exist_ok=True)
        with open(os.path.join(work, "zip", name), "wb") as f:
            f.write(data)
    for kind, options in (("infozip-zip64", ["-fz"]), ("infozip-descriptors", ["-fd"]), ("infozip-encrypted", ["-P", "x"])):
        subprocess.run(["zip", "-q", "-r"] + options + [os.path.join(out, "zip-" + kind), "."], cwd=os.path.join(work, "zip"),
                       check=True)
        zips += 1
print("%d seeds in %s" % (2 * len(files) + 1 + zips, out))
