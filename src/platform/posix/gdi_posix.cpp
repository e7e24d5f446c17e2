// The drawing seam on the software canvas: palettes are plain entry lists, StretchDIBits
// decodes the DIB nearest-neighbour into the canvas, clipped, with four raster operations.
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "platform/dib_layout.h"
#include "platform/dib_pixels.h"
#include "platform/gdi.h"
#include "platform/posix/soft_canvas.h"

namespace platform {

struct SoftPalette {
  std::vector<PaletteEntry> entries;
};

namespace {

// Source index for destination step i of n, mapping n steps onto m source steps.
inline int64_t Nearest(int64_t i, int64_t n, int64_t m) { return (2 * i + 1) * m / (2 * n); }

}  // namespace

PaletteHandle CreatePalette(const PaletteEntry* entries, int count) {
  auto* p = new SoftPalette;
  if (entries && count > 0) p->entries.assign(entries, entries + count);
  return p;
}

void DeletePalette(PaletteHandle palette) { delete palette; }

int GetPaletteEntries(PaletteHandle palette, int start, int count, PaletteEntry* out) {
  if (!palette) return 0;
  const auto& e = static_cast<SoftPalette*>(palette)->entries;
  const int n = static_cast<int>(e.size());
  if (!out) return n;
  if (start < 0 || start >= n || count <= 0) return 0;
  const int copied = std::min(count, n - start);
  std::copy(e.begin() + start, e.begin() + start + copied, out);
  return copied;
}

PaletteHandle SelectPalette(Surface& surface, PaletteHandle palette, bool) {
  PaletteHandle old = surface.selectedPalette;
  surface.selectedPalette = palette;
  return old;
}

unsigned RealizePalette(Surface& surface) {
  ++surface.realizeCount;
  return static_cast<unsigned>(GetPaletteEntries(surface.selectedPalette, 0, 0, nullptr));
}

int SetStretchBltMode(Surface& surface, int mode) {
  int old = surface.stretchMode;
  surface.stretchMode = mode;
  return old;
}

int GetStretchBltMode(Surface& surface) { return surface.stretchMode; }
uint32_t CopyMode(Surface& surface) { return surface.copyMode; }
int BitsPerPixel(Surface& surface) { return surface.bitsPerPixel; }

int StretchDIBits(Surface& surface, int xDest, int yDest, int wDest, int hDest, int xSrc, int ySrc, int wSrc,
                  int hSrc, const void* bits, const void* info, unsigned usage, uint32_t rop) {
  if (!bits || !info || usage != kDIB_RGB_COLORS) return 0;
  if (rop != kSRCCOPY && rop != kSRCAND && rop != kSRCINVERT && rop != kSRCPAINT) return 0;
  const auto* in = static_cast<const uint8_t*>(info);
  const uint32_t size = KorLe32(in);
  int64_t width, height;
  int bitCount;
  uint32_t compression = kBI_RGB, clrUsed = 0;
  size_t entrySize = 4;
  if (size == 12) {
    width = KorLe16(in + 4);
    height = KorLe16(in + 6);
    bitCount = KorLe16(in + 10);
    entrySize = 3;
  } else if (size >= 40) {
    BitmapInfoHeader h;
    std::memcpy(&h, in, sizeof h);
    width = h.biWidth;
    height = h.biHeight;
    bitCount = h.biBitCount;
    compression = h.biCompression;
    clrUsed = h.biClrUsed;
  } else {
    return 0;
  }
  if (width <= 0 || height == 0 || (compression != kBI_RGB && compression != kBI_BITFIELDS)) return 0;
  if (!KorDibValidDepth(bitCount)) return 0;
  const bool topDown = height < 0;
  const int64_t rows = std::llabs(height);

  // Masks follow a 40-byte header and sit inside the longer ones; the colour table follows.
  uint32_t masks[3] = {0, 0, 0};
  const uint8_t* table = in + size;
  if (compression == kBI_BITFIELDS) {
    const uint8_t* m = in + 40;  // after a 40-byte header, or its own fields in a longer one
    for (int k = 0; k < 3; ++k) masks[k] = KorLe32(m + size_t{4} * k);
    if (size == 40) table += 12;
  }
  auto colorCount = static_cast<size_t>(KorDibColorEntries(bitCount, clrUsed));
  if (bitCount <= 8) colorCount = std::min<size_t>(colorCount, size_t(1) << bitCount);
  std::vector<RgbQuad> colors(std::min<size_t>(colorCount, 256));
  for (size_t k = 0; k < colors.size(); ++k) {
    const uint8_t* e = table + k * entrySize;
    colors[k] = RgbQuad{e[0], e[1], e[2], 0};
  }
  const size_t rowBytes = static_cast<size_t>(KorDibRowBytes(width, bitCount));
  DibPixels pixels(bitCount, compression, static_cast<const uint8_t*>(bits), rowBytes, colors.data(),
                   colors.size(), masks);

  if (wDest == 0 || hDest == 0 || wSrc == 0 || hSrc == 0) return 0;
  // Rectangles with a negative extent are mirrored: normalise them and remember the flip.
  const bool flipX = (wDest < 0) != (wSrc < 0), flipY = (hDest < 0) != (hSrc < 0);
  const int64_t dLeft = std::min<int64_t>(xDest, int64_t(xDest) + wDest),
                dTop = std::min<int64_t>(yDest, int64_t(yDest) + hDest);
  const int64_t dW = std::llabs(wDest), dH = std::llabs(hDest);
  const int64_t sLeft = std::min<int64_t>(xSrc, int64_t(xSrc) + wSrc), sW = std::llabs(wSrc),
                sH = std::llabs(hSrc);
  // Source rows are counted from the picture's top; a bottom-up source measures ySrc from its
  // bottom row, as GDI does.
  int64_t sTop = std::min<int64_t>(ySrc, int64_t(ySrc) + hSrc);
  if (!topDown) sTop = rows - (sTop + sH);

  // A source rectangle outside the picture draws nothing and reports no rows, as GDI does
  // (a top-down source asked for a negative height is such a case).
  if (sTop >= rows || sTop + sH <= 0 || sLeft >= width || sLeft + sW <= 0) return 0;
  const int64_t x0 = std::max<int64_t>(dLeft, 0), x1 = std::min<int64_t>(dLeft + dW, surface.Width());
  const int64_t y0 = std::max<int64_t>(dTop, 0), y1 = std::min<int64_t>(dTop + dH, surface.Height());
  std::vector<int64_t> column(static_cast<size_t>(std::max<int64_t>(x1 - x0, 0)));
  for (int64_t x = x0; x < x1; ++x) {
    int64_t j = Nearest(x - dLeft, dW, sW);
    if (flipX) j = sW - 1 - j;
    column[static_cast<size_t>(x - x0)] = sLeft + j;
  }
  for (int64_t y = y0; y < y1; ++y) {
    int64_t j = Nearest(y - dTop, dH, sH);
    if (flipY) j = sH - 1 - j;
    const int64_t v = sTop + j;  // row from the picture's top
    if (v < 0 || v >= rows) continue;
    const size_t stored = static_cast<size_t>(topDown ? v : rows - 1 - v);
    uint32_t* out = surface.Row(static_cast<int>(y));
    for (int64_t x = x0; x < x1; ++x) {
      const int64_t sx = column[static_cast<size_t>(x - x0)];
      if (sx < 0 || sx >= width) continue;
      const uint32_t s = pixels.RGB(static_cast<size_t>(sx), stored);
      uint32_t& d = out[x];
      switch (rop) {
        case kSRCAND:
          d &= s;
          break;
        case kSRCINVERT:
          d ^= s;
          break;
        case kSRCPAINT:
          d |= s;
          break;
        default:
          d = s;
          break;
      }
    }
  }
  return static_cast<int>(sH);
}

bool PlayEnhancedMetafile(Surface&, const void*, std::size_t, int, int, int, int) { return false; }

}  // namespace platform
