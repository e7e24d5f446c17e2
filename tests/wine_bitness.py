"""What the Windows programs of the tests are and what a Wine prefix can run: shared by the
tests that put plug-ins of both bitnesses beside a program."""
import os
import subprocess

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))


def bits_of(path):
    """The bitness a Windows program's PE header says: 32 or 64."""
    with open(path, "rb") as f:
        head = f.read(4096)
    pe = int.from_bytes(head[60:64], "little")
    return {0x14C: 32, 0x8664: 64}[int.from_bytes(head[pe + 4:pe + 6], "little")]


def runs(prefix, bits):
    """Whether programs of `bits` run in the Wine prefix: 64-bit ones only in a 64-bit prefix (a
    32-bit one is a 32-bit Windows); 32-bit ones where Wine's 32-bit loader runs, which needs the
    kernel's support for 32-bit programs."""
    if bits == 64:
        arch = subprocess.run([os.path.join(ROOT, "scripts", "wine-arch"), prefix], capture_output=True, text=True)
        return arch.stdout.strip() == "win64"
    try:
        return subprocess.run(["/usr/lib/wine/wine", "--version"], capture_output=True).returncode == 0
    except OSError:
        return False
