// Writing a bitmap's image as a BMP file: the core form for images read from a core header,
// otherwise a 40-byte header, the bit-field masks and the colour table.
#include <algorithm>
#include <cstdlib>

#include "picture/bitmap_image.h"
#include "platform/dib_layout.h"

using platform::RgbQuad;

namespace bitmap_image {

void WriteImage(const TBitmapImage& img, platform::PaletteHandle palette, TStream& stream) {
  const int bits = img.header.biBitCount;
  const bool bitfields = img.header.biCompression == platform::kBI_BITFIELDS;
  std::vector<RgbQuad> colors = img.colors;
  if (colors.size() > 256) colors.resize(256);
  if (img.header.biClrUsed != 0 && img.header.biClrUsed < colors.size()) colors.resize(img.header.biClrUsed);
  if (bits > 8 && colors.empty() && palette) {
    int n = platform::GetPaletteEntries(palette, 0, 256, nullptr);
    std::vector<platform::PaletteEntry> entries(static_cast<size_t>(std::max(0, std::min(n, 256))));
    if (!entries.empty())
      platform::GetPaletteEntries(palette, 0, static_cast<int>(entries.size()), entries.data());
    for (auto& e : entries) colors.push_back(RgbQuad{e.peBlue, e.peGreen, e.peRed, 0});
  }

  std::vector<uint8_t> head;
  if (img.fromCore) {
    const size_t entries = bits <= 8 ? (size_t(1) << bits) : 0;
    head.resize(14 + 12 + entries * 3);
    uint8_t* h = head.data() + 14;
    KorPutLe32(h, 12);
    KorPutLe16(h + 4, static_cast<uint32_t>(img.header.biWidth));
    KorPutLe16(h + 6, static_cast<uint32_t>(std::llabs(img.header.biHeight)));
    KorPutLe16(h + 8, 1);
    KorPutLe16(h + 10, static_cast<uint32_t>(bits));
    for (size_t k = 0; k < entries && k < colors.size(); ++k) {
      uint8_t* e = h + 12 + k * 3;
      e[0] = colors[k].rgbBlue;
      e[1] = colors[k].rgbGreen;
      e[2] = colors[k].rgbRed;
    }
  } else {
    const bool masks = bits > 8 && bitfields;
    head.resize(14 + 40 + (masks ? 12 : 0) + colors.size() * 4);
    uint8_t* h = head.data() + 14;
    KorPutLe32(h, 40);
    KorPutLe32(h + 4, static_cast<uint32_t>(img.header.biWidth));
    KorPutLe32(h + 8, static_cast<uint32_t>(img.header.biHeight));
    KorPutLe16(h + 12, 1);
    KorPutLe16(h + 14, static_cast<uint32_t>(bits));
    KorPutLe32(h + 16, img.header.biCompression);
    KorPutLe32(h + 20, static_cast<uint32_t>(img.imageBytes));
    KorPutLe32(h + 24, static_cast<uint32_t>(img.header.biXPelsPerMeter));
    KorPutLe32(h + 28, static_cast<uint32_t>(img.header.biYPelsPerMeter));
    KorPutLe32(h + 32, colors.empty() ? 0 : static_cast<uint32_t>(colors.size()));
    KorPutLe32(h + 36, img.header.biClrImportant);
    uint8_t* t = h + 40;
    if (masks) {
      uint32_t m[3] = {0, 0, 0};
      for (size_t k = 0; k < 3 && k < img.masks.size(); ++k) m[k] = img.masks[k];
      if (m[0] == 0) {
        if (bits == 16) {
          m[0] = 0xF800, m[1] = 0x07E0, m[2] = 0x001F;
        } else {
          m[0] = 0xFF0000, m[1] = 0x00FF00, m[2] = 0x0000FF;
        }
      }
      for (int k = 0; k < 3; ++k, t += 4) KorPutLe32(t, m[k]);
    }
    for (const RgbQuad& c : colors) {
      t[0] = c.rgbBlue, t[1] = c.rgbGreen, t[2] = c.rgbRed, t[3] = c.rgbReserved;
      t += 4;
    }
  }
  KorPutLe16(head.data(), 0x4D42);
  KorPutLe32(head.data() + 2, static_cast<uint32_t>(head.size() + img.imageBytes));
  KorPutLe32(head.data() + 6, 0);
  KorPutLe32(head.data() + 10, static_cast<uint32_t>(head.size()));
  stream.WriteBuffer(head.data(), static_cast<int64_t>(head.size()));
  if (img.imageBytes) stream.WriteBuffer(img.rows.get(), static_cast<int64_t>(img.imageBytes));
}

}  // namespace bitmap_image
