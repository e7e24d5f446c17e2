// Drawing through real GDI: a bitmap drawn into a memory device context stretches
// nearest-neighbour whatever its depth and row order.
#include <gtest/gtest.h>
#include <windows.h>

#include "picture/bitmap.h"
#include "picture/bitmap/bmp_builder.h"
#include "platform/win32/surface.h"

using namespace bmptest;

namespace {

// A 32-bit top-down DIB section selected into a memory DC, released in reverse order.
class MemoryCanvas {
 public:
  MemoryCanvas(int w, int h) : w_(w) {
    dc_ = ::CreateCompatibleDC(nullptr);
    BITMAPINFO bi{};
    bi.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    bi.bmiHeader.biWidth = w;
    bi.bmiHeader.biHeight = -h;
    bi.bmiHeader.biPlanes = 1;
    bi.bmiHeader.biBitCount = 32;
    dib_ = ::CreateDIBSection(dc_, &bi, DIB_RGB_COLORS, reinterpret_cast<void**>(&bits_), nullptr, 0);
    old_ = ::SelectObject(dc_, dib_);
    for (int i = 0; i < w * h; ++i) bits_[i] = 0x123456;
  }
  ~MemoryCanvas() {
    ::SelectObject(dc_, old_);
    ::DeleteObject(dib_);
    ::DeleteDC(dc_);
  }
  HDC dc() const { return dc_; }
  uint32_t Pixel(int x, int y) {
    ::GdiFlush();
    return bits_[y * w_ + x] & 0xFFFFFF;
  }

 private:
  int w_;
  HDC dc_;
  HBITMAP dib_;
  HGDIOBJ old_;
  uint32_t* bits_ = nullptr;
};

}  // namespace

TEST(BitmapGdiDraw, StretchesEveryRowOrderAndDepth) {
  for (uint16_t bits : {8, 24, 32}) {
    for (bool topDown : {false, true}) {
      SCOPED_TRACE(testing::Message() << bits << " bits, top-down " << topDown);
      Bmp b;
      b.width = 2;
      b.height = topDown ? -2 : 2;
      b.bits = bits;
      // Rows as stored: first row red, green; second row blue, white.
      const uint32_t c[4] = {0xFF0000, 0x00FF00, 0x0000FF, 0xFFFFFF};
      for (int r = 0; r < 2; ++r) {
        for (int x = 0; x < 2; ++x) {
          const uint32_t v = c[r * 2 + x];
          if (bits == 8) {
            b.pixels.push_back(static_cast<uint8_t>(r * 2 + x));
            continue;
          }
          b.pixels.push_back(static_cast<uint8_t>(v));
          b.pixels.push_back(static_cast<uint8_t>(v >> 8));
          b.pixels.push_back(static_cast<uint8_t>(v >> 16));
          if (bits == 32) b.pixels.push_back(0);
        }
        while (b.pixels.size() % 4) b.pixels.push_back(0);
      }
      if (bits == 8) {
        b.colors = {c[0], c[1], c[2], c[3]};
        b.clrUsed = 4;
      }
      TBitmap bmp;
      Load(bmp, b.Build());
      MemoryCanvas canvas(8, 6);
      platform::Surface s(canvas.dc());
      bmp.DrawInRect(s, TRect{1, 1, 5, 5});
      const uint32_t firstRow0 = topDown ? c[0] : c[2], firstRow1 = topDown ? c[1] : c[3];
      const uint32_t lastRow0 = topDown ? c[2] : c[0];
      EXPECT_EQ(canvas.Pixel(1, 1), firstRow0);
      EXPECT_EQ(canvas.Pixel(4, 2), firstRow1);
      EXPECT_EQ(canvas.Pixel(2, 4), lastRow0);
      EXPECT_EQ(canvas.Pixel(0, 0), 0x123456u);
      EXPECT_EQ(canvas.Pixel(5, 5), 0x123456u);
      EXPECT_EQ(bmp.PixelRGB(0, 0), firstRow0);
    }
  }
}
