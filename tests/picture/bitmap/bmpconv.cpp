// A small converter for the writers test: `bmpconv INPUT OUTPUT` loads a BMP with TBitmap and
// writes it back with SaveFile; `bmpconv --pixels INPUT OUTPUT` writes the colours PixelRGB
// reports for every pixel as a plain 24-bit BMP, so another decoder can check the reading.
#include <cstdio>
#include <string>
#include <vector>

#include "picture/bitmap.h"
#include "rtl/exceptions.h"
#include "rtl/streams.h"

namespace {

void Put32(std::vector<uint8_t>& b, size_t at, uint32_t v) {
  for (int k = 0; k < 4; ++k) b[at + k] = static_cast<uint8_t>(v >> (8 * k));
}

void WritePixels(TBitmap& bmp, const std::string& name) {
  const int w = bmp.Width(), h = bmp.Height();
  const size_t row = (static_cast<size_t>(w) * 3 + 3) / 4 * 4;
  std::vector<uint8_t> out(54 + row * static_cast<size_t>(h), 0);
  out[0] = 'B', out[1] = 'M';
  Put32(out, 2, static_cast<uint32_t>(out.size()));
  Put32(out, 10, 54);
  Put32(out, 14, 40);
  Put32(out, 18, static_cast<uint32_t>(w));
  Put32(out, 22, static_cast<uint32_t>(-h));  // top-down, row 0 is y 0
  out[26] = 1, out[28] = 24;
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) {
      const uint32_t c = bmp.PixelRGB(x, y);
      uint8_t* p = out.data() + 54 + static_cast<size_t>(y) * row + static_cast<size_t>(x) * 3;
      p[0] = static_cast<uint8_t>(c), p[1] = static_cast<uint8_t>(c >> 8),
      p[2] = static_cast<uint8_t>(c >> 16);
    }
  }
  TFileStream f(name, fmCreate);
  f.WriteBuffer(out.data(), static_cast<int64_t>(out.size()));
}

}  // namespace

int main(int argc, char** argv) {
  const bool pixels = argc == 4 && std::string(argv[1]) == "--pixels";
  if (argc != 3 && !pixels) {
    std::fprintf(stderr, "usage: bmpconv [--pixels] INPUT OUTPUT\n");
    return 2;
  }
  try {
    TBitmap bmp;
    bmp.LoadFile(argv[argc - 2]);
    if (pixels)
      WritePixels(bmp, argv[argc - 1]);
    else
      bmp.SaveFile(argv[argc - 1]);
    return 0;
  } catch (const Exception& e) {
    std::fprintf(stderr, "%s\n", e.Message().c_str());
    return 1;
  }
}
