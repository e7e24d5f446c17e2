// Builds BMP file images field by field, so tests can make every variant and every fault.
#ifndef KORVALE_TESTS_BMP_BUILDER_H
#define KORVALE_TESTS_BMP_BUILDER_H

#include <cstdint>
#include <string>
#include <vector>

#include "picture/bitmap.h"

namespace bmptest {

using Bytes = std::vector<uint8_t>;

struct Bmp {
  uint32_t headerSize = 40;  // 12 writes a core header
  int32_t width = 2, height = 2;
  uint16_t planes = 1, bits = 24;
  uint32_t compression = 0, sizeImage = 0, clrUsed = 0, clrImportant = 0;
  int32_t xppm = 2835, yppm = 2835;
  std::vector<uint32_t> masks;   // written after a 40-byte header or inside a longer one
  std::vector<uint32_t> colors;  // 0x00RRGGBB
  Bytes pixels;                  // as they stand in the file
  uint32_t gapAfterTable = 0;    // bytes between the colour table and the pixels
  Bytes Build() const;
};

void Put16(Bytes& b, uint32_t v);
void Put32(Bytes& b, uint32_t v);
uint32_t Get32(const Bytes& b, size_t at);
uint16_t Get16(const Bytes& b, size_t at);

// Loads bytes into a bitmap through LoadStream.
void Load(TBitmap& bitmap, const Bytes& bytes);
Bytes Save(TBitmap& bitmap);

}  // namespace bmptest

#endif
