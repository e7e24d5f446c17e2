#include "picture/bitmap/bmp_builder.h"

#include "rtl/streams.h"

namespace bmptest {

void Put16(Bytes& b, uint32_t v) {
  b.push_back(static_cast<uint8_t>(v));
  b.push_back(static_cast<uint8_t>(v >> 8));
}
void Put32(Bytes& b, uint32_t v) {
  Put16(b, v);
  Put16(b, v >> 16);
}
uint16_t Get16(const Bytes& b, size_t at) { return static_cast<uint16_t>(b.at(at) | (b.at(at + 1) << 8)); }
uint32_t Get32(const Bytes& b, size_t at) {
  return Get16(b, at) | (static_cast<uint32_t>(Get16(b, at + 2)) << 16);
}

Bytes Bmp::Build() const {
  Bytes h;
  Put32(h, headerSize);
  if (headerSize == 12) {
    Put16(h, static_cast<uint32_t>(width));
    Put16(h, static_cast<uint32_t>(height));
    Put16(h, planes);
    Put16(h, bits);
  } else {
    Put32(h, static_cast<uint32_t>(width));
    Put32(h, static_cast<uint32_t>(height));
    Put16(h, planes);
    Put16(h, bits);
    Put32(h, compression);
    Put32(h, sizeImage);
    Put32(h, static_cast<uint32_t>(xppm));
    Put32(h, static_cast<uint32_t>(yppm));
    Put32(h, clrUsed);
    Put32(h, clrImportant);
    if (headerSize > 40) {
      for (size_t k = 0; k < 3; ++k) Put32(h, k < masks.size() ? masks[k] : 0);
    }
    while (h.size() < headerSize) h.push_back(0);
    if (headerSize == 40)
      for (uint32_t m : masks) Put32(h, m);
  }
  for (uint32_t c : colors) {
    h.push_back(static_cast<uint8_t>(c));
    h.push_back(static_cast<uint8_t>(c >> 8));
    h.push_back(static_cast<uint8_t>(c >> 16));
    if (headerSize != 12) h.push_back(0);
  }
  Bytes out;
  Put16(out, 0x4D42);
  Put32(out, static_cast<uint32_t>(14 + h.size() + gapAfterTable + pixels.size()));
  Put32(out, 0);
  Put32(out, static_cast<uint32_t>(14 + h.size() + gapAfterTable));
  out.insert(out.end(), h.begin(), h.end());
  out.insert(out.end(), gapAfterTable, 0xEE);
  out.insert(out.end(), pixels.begin(), pixels.end());
  return out;
}

void Load(TBitmap& bitmap, const Bytes& bytes) {
  TPointerStream s(bytes.data(), static_cast<int64_t>(bytes.size()));
  bitmap.LoadStream(s);
}

Bytes Save(TBitmap& bitmap) {
  TMemoryStream s;
  bitmap.SaveStream(s);
  const auto* p = static_cast<const uint8_t*>(s.Memory());
  return Bytes(p, p + s.Size());
}

}  // namespace bmptest
