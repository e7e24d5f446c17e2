// Reading single pixels of an uncompressed device-independent bitmap as 0x00RRGGBB: the
// bitmap's PixelRGB and the software canvas's StretchDIBits share it.
#ifndef KORVALE_PLATFORM_DIB_PIXELS_H
#define KORVALE_PLATFORM_DIB_PIXELS_H

#include <cstddef>
#include <cstdint>

#include "platform/dib.h"
#include "platform/dib_layout.h"

namespace platform {

// One colour channel taken out of a pixel by a bit-field mask, scaled to 0..255.
struct MaskChannel {
  uint32_t mask = 0;
  int shift = 0;
  uint32_t max = 0;  // mask >> shift

  explicit MaskChannel(uint32_t m = 0) : mask(m) {
    if (m == 0) return;
    while (((m >> shift) & 1u) == 0) ++shift;
    max = m >> shift;
  }
  uint32_t Value(uint32_t pixel) const {
    if (max == 0) return 0;
    uint64_t v = (pixel & mask) >> shift;
    return static_cast<uint32_t>((v * 255 + max / 2) / max);
  }
};

// A view of pixel rows (as stored: row 0 is the first row in memory) of 1, 4, 8, 16, 24 or
// 32 bits per pixel, BI_RGB or BI_BITFIELDS.  The caller keeps rows, colours and masks alive.
class DibPixels {
 public:
  DibPixels(int bitCount, uint32_t compression, const uint8_t* rows, std::size_t rowBytes,
            const RgbQuad* colors, std::size_t colorCount, const uint32_t* masks)
      : bits_(bitCount), rows_(rows), rowBytes_(rowBytes), colors_(colors), colorCount_(colorCount) {
    if (compression == kBI_BITFIELDS && masks) {
      red_ = MaskChannel(masks[0]);
      green_ = MaskChannel(masks[1]);
      blue_ = MaskChannel(masks[2]);
    } else if (bitCount == 16) {
      red_ = MaskChannel(0x7C00);
      green_ = MaskChannel(0x03E0);
      blue_ = MaskChannel(0x001F);
    } else {
      red_ = MaskChannel(0xFF0000);
      green_ = MaskChannel(0x00FF00);
      blue_ = MaskChannel(0x0000FF);
    }
  }

  // Stored row `row`, column `x`; both must be inside the image.
  uint32_t RGB(std::size_t x, std::size_t row) const {
    const uint8_t* p = rows_ + row * rowBytes_;
    switch (bits_) {
      case 1:
        return Indexed((p[x >> 3] >> (7 - (x & 7))) & 1u);
      case 4:
        return Indexed((p[x >> 1] >> ((x & 1) ? 0 : 4)) & 0xFu);
      case 8:
        return Indexed(p[x]);
      case 16:
        return Masked(KorLe16(p + x * 2));
      case 24: {
        const uint8_t* q = p + x * 3;
        return static_cast<uint32_t>(q[0] | (q[1] << 8) | (q[2] << 16));
      }
      case 32:
        return Masked(KorLe32(p + x * 4));
      default:
        return 0;
    }
  }

 private:
  uint32_t Indexed(uint32_t i) const {
    if (i >= colorCount_) return 0;  // an index past the colour table shows black
    const RgbQuad& c = colors_[i];
    return static_cast<uint32_t>(c.rgbBlue | (c.rgbGreen << 8) | (c.rgbRed << 16));
  }
  uint32_t Masked(uint32_t px) const {
    return blue_.Value(px) | (green_.Value(px) << 8) | (red_.Value(px) << 16);
  }

  int bits_;
  const uint8_t* rows_;
  std::size_t rowBytes_;
  const RgbQuad* colors_;
  std::size_t colorCount_;
  MaskChannel red_, green_, blue_;
};

}  // namespace platform

#endif
