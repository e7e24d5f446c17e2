// The drawing seam on GDI.
#include <windows.h>

#include <vector>

#include "platform/gdi.h"
#include "platform/win32/handles.h"
#include "platform/win32/surface.h"

namespace platform {

static_assert(sizeof(PaletteEntry) == sizeof(PALETTEENTRY), "PaletteEntry is PALETTEENTRY");

PaletteHandle CreatePalette(const PaletteEntry* entries, int count) {
  if (count < 0) count = 0;
  std::vector<uint8_t> block(sizeof(LOGPALETTE) + sizeof(PALETTEENTRY) * static_cast<size_t>(count));
  auto* lp = reinterpret_cast<LOGPALETTE*>(block.data());
  lp->palVersion = 0x300;
  lp->palNumEntries = static_cast<WORD>(count);
  for (int i = 0; i < count; ++i) {
    lp->palPalEntry[i].peRed = entries[i].peRed;
    lp->palPalEntry[i].peGreen = entries[i].peGreen;
    lp->palPalEntry[i].peBlue = entries[i].peBlue;
    lp->palPalEntry[i].peFlags = entries[i].peFlags;
  }
  return ::CreatePalette(lp);
}

void DeletePalette(PaletteHandle palette) {
  if (palette) ::DeleteObject(palette);
}

int GetPaletteEntries(PaletteHandle palette, int start, int count, PaletteEntry* out) {
  if (!palette) return 0;
  return static_cast<int>(::GetPaletteEntries(palette, static_cast<UINT>(start), static_cast<UINT>(count),
                                              reinterpret_cast<PALETTEENTRY*>(out)));
}

PaletteHandle SelectPalette(Surface& surface, PaletteHandle palette, bool forceBackground) {
  return ::SelectPalette(surface.Handle(), palette, forceBackground ? TRUE : FALSE);
}

unsigned RealizePalette(Surface& surface) { return ::RealizePalette(surface.Handle()); }
int SetStretchBltMode(Surface& surface, int mode) {
  const int old = ::SetStretchBltMode(surface.Handle(), mode);
  if (mode == HALFTONE) ::SetBrushOrgEx(surface.Handle(), 0, 0, nullptr);  // as halftoning requires
  return old;
}
int GetStretchBltMode(Surface& surface) { return ::GetStretchBltMode(surface.Handle()); }
uint32_t CopyMode(Surface& surface) { return surface.copyMode; }

int BitsPerPixel(Surface& surface) {
  return ::GetDeviceCaps(surface.Handle(), BITSPIXEL) * ::GetDeviceCaps(surface.Handle(), PLANES);
}

int StretchDIBits(Surface& surface, int xDest, int yDest, int wDest, int hDest, int xSrc, int ySrc, int wSrc,
                  int hSrc, const void* bits, const void* info, unsigned usage, uint32_t rop) {
  return ::StretchDIBits(surface.Handle(), xDest, yDest, wDest, hDest, xSrc, ySrc, wSrc, hSrc, bits,
                         static_cast<const BITMAPINFO*>(info), usage, rop);
}

bool PlayEnhancedMetafile(Surface& surface, const void* emfBytes, std::size_t size, int left, int top,
                          int right, int bottom) {
  const win::EnhMetaFile emf(
      ::SetEnhMetaFileBits(static_cast<UINT>(size), static_cast<const BYTE*>(emfBytes)));
  if (!emf) return false;
  const RECT r{left, top, right, bottom};
  return ::PlayEnhMetaFile(surface.Handle(), emf.get(), &r) != FALSE;
}

}  // namespace platform
