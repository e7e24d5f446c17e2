"""What the Windows programs of the tests are and what a Wine prefix can run: shared by the
tests that put plug-ins of both bitnesses beside a program."""
import os
import subprocess
import sys

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))


def bits_of(path):
    """The bitness a Windows program's PE header says: 32 or 64."""
    with open(path, "rb") as f:
        head = f.read(4096)
    pe = int.from_bytes(head[60:64], "little")
    return {0x14C: 32, 0x8664: 64}[int.from_bytes(head[pe + 4:pe + 6], "little")]


def win32_mode():
    """How this machine runs 32-bit Windows programs, as scripts/wine-env decides: "native",
    "wow64" (Wine's WoW64 mode, in 64-bit prefixes only) or "none"; and why."""
    out = subprocess.run(["bash", "-c", '. "$1"; printf "%s\\n%s" "$KOR_WIN32_MODE" "$KOR_WIN32_WHY"', "-",
                          os.path.join(ROOT, "scripts", "wine-env")], capture_output=True, text=True).stdout
    mode, _, why = out.partition("\n")
    return mode, why


def runs(prefix, bits):
    """Whether programs of `bits` run in the Wine prefix: 64-bit ones only in a 64-bit prefix (a
    32-bit one is a 32-bit Windows); 32-bit ones where Wine's 32-bit loader runs (the kernel's
    support for 32-bit programs), or in a 64-bit prefix in Wine's WoW64 mode."""
    arch = subprocess.run([os.path.join(ROOT, "scripts", "wine-arch"), prefix], capture_output=True, text=True)
    if bits == 64:
        return arch.stdout.strip() == "win64"
    mode, _ = win32_mode()
    return mode == "native" or (mode == "wow64" and arch.stdout.strip() == "win64")


def skip_unpainted(exe):
    """Ends the test as skipped (exit status 77, with the reason) when the Windows program `exe`
    is a 32-bit one that runs in Wine's WoW64 mode, where Wine 8.0 paints no 32-bit window: a
    test that looks at the window cannot hold there, whatever the program does."""
    if bits_of(exe) == 32 and win32_mode()[0] == "wow64":
        print("skipped: Wine's WoW64 mode paints no 32-bit window (%s)" % os.path.basename(exe))
        sys.exit(77)
