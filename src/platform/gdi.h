// The drawing seam: the few GDI calls the graphics use.  Win32: GDI itself on a device
// context (platform/win32/surface.h wraps an HDC).  POSIX: a software canvas of 32-bit
// pixels (platform/posix/soft_canvas.h) implementing the same calls, so drawing is testable.
#ifndef KORVALE_PLATFORM_GDI_H
#define KORVALE_PLATFORM_GDI_H

#include <cstddef>
#include <cstdint>
#include <memory>
#include <type_traits>

// A palette, null for none: the system's HPALETTE on Win32, the software canvas's entry list
// natively.  Both are named here without their definitions, so the seam needs no system header.
#ifdef _WIN32
struct HPALETTE__;
#endif

namespace platform {

class Surface;  // a drawing target; complete in the build's own surface header

#ifdef _WIN32
using PaletteHandle = HPALETTE__*;
#else
struct SoftPalette;
using PaletteHandle = SoftPalette*;
#endif

struct PaletteEntry {
  uint8_t peRed;
  uint8_t peGreen;
  uint8_t peBlue;
  uint8_t peFlags;
};

enum : int { kBLACKONWHITE = 1, kWHITEONBLACK = 2, kCOLORONCOLOR = 3, kHALFTONE = 4 };
enum : unsigned { kDIB_RGB_COLORS = 0 };
enum : uint32_t { kSRCCOPY = 0x00CC0020 };
// The raster operations an icon draws with: the mask ANDed in, then the colours XORed.
enum : uint32_t { kSRCAND = 0x008800C6, kSRCINVERT = 0x00660046, kSRCPAINT = 0x00EE0086 };

PaletteHandle CreatePalette(const PaletteEntry* entries, int count);  // LOGPALETTE version 0x300
// A palette of the `count` colours of a DIB colour table at `table` (blue, green, red and a
// reserved byte each; at most 65535, what a LOGPALETTE holds), and a new palette with the
// entries of `palette` (none for none).  Both build on the calls of this seam (palette.cpp).
PaletteHandle PaletteFromColorTable(const uint8_t* table, int count);
PaletteHandle CopyPalette(PaletteHandle palette);
void DeletePalette(PaletteHandle palette);
// Owns one palette and deletes it with itself.
struct PaletteDeleter {
  void operator()(PaletteHandle palette) const { DeletePalette(palette); }
};
using OwnedPalette = std::unique_ptr<std::remove_pointer_t<PaletteHandle>, PaletteDeleter>;
// Number of entries of a palette, and a copy of them (GetPaletteEntries).
int GetPaletteEntries(PaletteHandle palette, int start, int count, PaletteEntry* out);
PaletteHandle SelectPalette(Surface& surface, PaletteHandle palette, bool forceBackground);
unsigned RealizePalette(Surface& surface);
int SetStretchBltMode(Surface& surface, int mode);  // returns the previous mode
int GetStretchBltMode(Surface& surface);
uint32_t CopyMode(Surface& surface);  // the canvas's raster operation
int BitsPerPixel(Surface& surface);   // of the display behind the surface
// StretchDIBits: header + colour table at `info`, pixel rows at `bits`.  A negative source
// height is passed through (top-down rows), as GDI does.
int StretchDIBits(Surface& surface, int xDest, int yDest, int wDest, int hDest, int xSrc, int ySrc, int wSrc,
                  int hSrc, const void* bits, const void* info, unsigned usage, uint32_t rop);

// Metafiles: played through GDI on Win32; the software canvas draws nothing and returns false.
bool PlayEnhancedMetafile(Surface& surface, const void* emfBytes, std::size_t size, int left, int top,
                          int right, int bottom);

// The logical window of a Windows metafile: origin and extent in its own units, mapped onto
// the rectangle it is played into.
struct MetafileWindow {
  int orgX = 0, orgY = 0, extX = 0, extY = 0;
};
// Windows metafiles (the records without a placeable header), played like the enhanced ones.
bool PlayWindowsMetafile(Surface& surface, const void* wmfBytes, std::size_t size,
                         const MetafileWindow& window, int left, int top, int right, int bottom);
// Plays a metafile into a white picture of width x height: 24-bit rows, bottom-up, rowBytes
// apart, which the caller has filled with white.  An enhanced metafile when `window` is null,
// else a Windows metafile in that window.  False where metafiles cannot be played (the
// software canvas): the rows are left as they are.
bool RenderMetafileToRows(const void* bytes, std::size_t size, const MetafileWindow* window, int width,
                          int height, uint8_t* rows, std::size_t rowBytes);

}  // namespace platform

#endif
