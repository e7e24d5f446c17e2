// Device-independent bitmap records, laid out byte for byte as on Windows (little-endian).
#ifndef KORVALE_PLATFORM_DIB_H
#define KORVALE_PLATFORM_DIB_H

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "platform/dib_layout.h"

namespace platform {

#pragma pack(push, 1)
struct BitmapFileHeader {
  uint16_t bfType;  // "BM" = 0x4D42
  uint32_t bfSize;
  uint16_t bfReserved1;
  uint16_t bfReserved2;
  uint32_t bfOffBits;
};
struct BitmapCoreHeader {
  uint32_t bcSize;  // 12
  uint16_t bcWidth;
  uint16_t bcHeight;
  uint16_t bcPlanes;
  uint16_t bcBitCount;
};
#pragma pack(pop)

struct BitmapInfoHeader {
  uint32_t biSize;
  int32_t biWidth;
  int32_t biHeight;
  uint16_t biPlanes;
  uint16_t biBitCount;
  uint32_t biCompression;
  uint32_t biSizeImage;
  int32_t biXPelsPerMeter;
  int32_t biYPelsPerMeter;
  uint32_t biClrUsed;
  uint32_t biClrImportant;
};

struct RgbQuad {
  uint8_t rgbBlue;
  uint8_t rgbGreen;
  uint8_t rgbRed;
  uint8_t rgbReserved;
};

static_assert(sizeof(BitmapFileHeader) == 14, "BITMAPFILEHEADER is 14 bytes");
static_assert(sizeof(BitmapCoreHeader) == 12, "BITMAPCOREHEADER is 12 bytes");
static_assert(sizeof(BitmapInfoHeader) == 40, "BITMAPINFOHEADER is 40 bytes");
static_assert(sizeof(RgbQuad) == 4, "RGBQUAD is 4 bytes");

enum : uint32_t { kBI_RGB = 0, kBI_RLE8 = 1, kBI_RLE4 = 2, kBI_BITFIELDS = 3 };

// The 40-byte header of an uncompressed picture of width x height at `bits` per pixel (a
// positive height: bottom-up rows, a negative one: top-down), with the image size where it fits
// 32 bits (else 0, which uncompressed pictures allow).
inline BitmapInfoHeader MakeInfoHeader(int32_t width, int32_t height, int bits) {
  BitmapInfoHeader h{};
  h.biSize = sizeof h;
  h.biWidth = width;
  h.biHeight = height;
  h.biPlanes = 1;
  h.biBitCount = static_cast<uint16_t>(bits);
  h.biCompression = kBI_RGB;
  const uint64_t image = KorDibImageBytes(width, height, bits);
  h.biSizeImage = image <= 0xFFFFFFFFu ? static_cast<uint32_t>(image) : 0;
  return h;
}

// A BITMAPINFO block as the drawing calls take it: the 40-byte `header` with biClrUsed set to
// `colorCount`, the three bit-field masks when `masks` is given, then `colorCount` 4-byte colour
// entries from `colors`.
inline std::vector<uint8_t> MakeBitmapInfo(BitmapInfoHeader header, const uint32_t* masks, const void* colors,
                                           size_t colorCount) {
  header.biClrUsed = static_cast<uint32_t>(colorCount);
  std::vector<uint8_t> info(sizeof header + (masks ? 12 : 0) + colorCount * sizeof(RgbQuad));
  std::memcpy(info.data(), &header, sizeof header);
  size_t at = sizeof header;
  if (masks) {
    std::memcpy(info.data() + at, masks, 12);  // little-endian, as the block is
    at += 12;
  }
  if (colorCount) std::memcpy(info.data() + at, colors, colorCount * sizeof(RgbQuad));
  return info;
}

}  // namespace platform

#endif
