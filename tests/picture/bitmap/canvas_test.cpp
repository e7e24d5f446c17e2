// Drawing through the software canvas: scaling, clipping, raster operations and the
// state the drawing restores.
#include <gtest/gtest.h>

#include "picture/bitmap.h"
#include "picture/bitmap/bmp_builder.h"
#include "platform/posix/soft_canvas.h"

using namespace bmptest;

namespace {

// 2 x 2, four colours: top row red, green; bottom row blue, white.
Bytes Four(uint16_t bits, bool topDown) {
  Bmp b;
  b.width = 2;
  b.height = topDown ? -2 : 2;
  b.bits = bits;
  const uint32_t top[2] = {0xFF0000, 0x00FF00}, bottom[2] = {0x0000FF, 0xFFFFFF};
  auto row = [&](const uint32_t* c) {
    Bytes r;
    for (int x = 0; x < 2; ++x) {
      if (bits == 24 || bits == 32) {
        r.push_back(static_cast<uint8_t>(c[x]));
        r.push_back(static_cast<uint8_t>(c[x] >> 8));
        r.push_back(static_cast<uint8_t>(c[x] >> 16));
        if (bits == 32) r.push_back(0);
      } else if (bits == 16) {
        uint32_t v = ((c[x] >> 19) << 10) | (((c[x] >> 11) & 31) << 5) | ((c[x] >> 3) & 31);
        r.push_back(static_cast<uint8_t>(v));
        r.push_back(static_cast<uint8_t>(v >> 8));
      }
    }
    if (bits == 8 || bits == 4 || bits == 1) {
      uint8_t i0 = c == top ? 0 : 2, i1 = c == top ? 1 : 3;
      if (bits == 8) r = {i0, i1};
      if (bits == 4) r = {static_cast<uint8_t>(i0 << 4 | i1)};
    }
    while (r.size() % 4) r.push_back(0);
    return r;
  };
  if (bits <= 8) b.colors = {0xFF0000, 0x00FF00, 0x0000FF, 0xFFFFFF};
  if (bits <= 8) b.clrUsed = 4;
  Bytes first = row(topDown ? top : bottom), second = row(topDown ? bottom : top);
  b.pixels = first;
  b.pixels.insert(b.pixels.end(), second.begin(), second.end());
  return b.Build();
}

void ExpectQuadrants(const platform::Surface& s, int left, int top, int w, int h) {
  const uint32_t want[2][2] = {{0xFF0000, 0x00FF00}, {0x0000FF, 0xFFFFFF}};
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x)
      ASSERT_EQ(s.Pixel(left + x, top + y), want[y * 2 / h][x * 2 / w]) << x << "," << y;
}

}  // namespace

TEST(BitmapDraw, EveryDepthAndRowOrderScalesNearestNeighbour) {
  for (uint16_t bits : {4, 8, 16, 24, 32}) {
    for (bool topDown : {false, true}) {
      SCOPED_TRACE(testing::Message() << bits << " bits, top-down " << topDown);
      TBitmap bmp;
      Load(bmp, Four(bits, topDown));
      platform::Surface s(10, 8, 0x123456);
      bmp.DrawInRect(s, TRect{1, 1, 7, 5});  // 2x2 onto 6x4
      ExpectQuadrants(s, 1, 1, 6, 4);
      EXPECT_EQ(s.Pixel(0, 0), 0x123456u);
      EXPECT_EQ(s.Pixel(7, 5), 0x123456u);
    }
  }
}

TEST(BitmapDraw, ShrinkingDropsRowsAndColumns) {
  Bmp b;
  b.width = 4;
  b.height = 1;
  b.bits = 8;
  b.colors = {0x000001, 0x000002, 0x000003, 0x000004};
  b.clrUsed = 4;
  b.pixels = {0, 1, 2, 3};
  TBitmap bmp;
  Load(bmp, b.Build());
  platform::Surface s(2, 1);
  bmp.DrawInRect(s, TRect{0, 0, 2, 1});
  EXPECT_EQ(s.Pixel(0, 0), 2u);
  EXPECT_EQ(s.Pixel(1, 0), 4u);
}

TEST(BitmapDraw, ClippedAtTheCanvasEdges) {
  TBitmap bmp;
  Load(bmp, Four(24, false));
  platform::Surface s(3, 3, 0);
  bmp.DrawInRect(s, TRect{-2, -2, 4, 4});  // 6x6, the canvas sees its middle
  EXPECT_EQ(s.Pixel(0, 0), 0xFF0000u);
  EXPECT_EQ(s.Pixel(1, 0), 0x00FF00u);
  EXPECT_EQ(s.Pixel(2, 2), 0xFFFFFFu);
  bmp.DrawInRect(s, TRect{100, 100, 200000, 200000});  // nothing inside, nothing happens
  EXPECT_EQ(s.Pixel(2, 2), 0xFFFFFFu);
}

TEST(BitmapDraw, ColourOnColourModeAndPaletteAreRestored) {
  TBitmap bmp;
  Load(bmp, Four(8, false));
  platform::Surface s(2, 2);
  s.stretchMode = platform::kHALFTONE;
  platform::PaletteHandle mine = platform::CreatePalette(nullptr, 0);
  s.selectedPalette = mine;
  bmp.DrawInRect(s, TRect{0, 0, 2, 2});
  EXPECT_EQ(s.stretchMode, platform::kHALFTONE);
  EXPECT_EQ(s.selectedPalette, mine);
  EXPECT_EQ(s.realizeCount, 1);
  platform::DeletePalette(mine);
}

TEST(SoftCanvas, RasterOperationsCombineWithTheCanvas) {
  // A 1x1 24-bit DIB drawn with each operation onto 0x0F0F0F.
  struct {
    uint32_t rop, want;
  } cases[] = {{platform::kSRCCOPY, 0xF0F000},
               {platform::kSRCAND, 0x000000},
               {platform::kSRCINVERT, 0xFFFF0F},
               {platform::kSRCPAINT, 0xFFFF0F}};
  for (auto c : cases) {
    platform::BitmapInfoHeader h{40, 1, 1, 1, 24, 0, 4, 0, 0, 0, 0};
    const uint8_t px[4] = {0x00, 0xF0, 0xF0, 0};
    platform::Surface s(1, 1, 0x0F0F0F);
    EXPECT_EQ(platform::StretchDIBits(s, 0, 0, 1, 1, 0, 0, 1, 1, px, &h, 0, c.rop), 1);
    EXPECT_EQ(s.Pixel(0, 0), c.want) << std::hex << c.rop;
  }
}

TEST(SoftCanvas, SourceRectanglesMirroringAndCoreHeaders) {
  // 2x1 bottom-up 24-bit: blue, red.
  platform::BitmapInfoHeader h{40, 2, 1, 1, 24, 0, 0, 0, 0, 0, 0};
  const uint8_t px[8] = {0xFF, 0, 0, 0, 0, 0xFF, 0, 0};
  platform::Surface s(2, 1, 0);
  // A negative width spans the columns left of xSrc: from 0 that is outside the picture.
  platform::StretchDIBits(s, 0, 0, 2, 1, 0, 0, -2, 1, px, &h, 0, platform::kSRCCOPY);
  EXPECT_EQ(s.Pixel(0, 0), 0u);
  platform::StretchDIBits(s, 0, 0, 2, 1, 2, 0, -2, 1, px, &h, 0, platform::kSRCCOPY);  // mirrored
  EXPECT_EQ(s.Pixel(0, 0), 0xFF0000u);
  EXPECT_EQ(s.Pixel(1, 0), 0x0000FFu);
  platform::StretchDIBits(s, 0, 0, 1, 1, 1, 0, 1, 1, px, &h, 0, platform::kSRCCOPY);  // right pixel only
  EXPECT_EQ(s.Pixel(0, 0), 0xFF0000u);

  // A top-down source asked for its negative height lies outside itself: nothing is drawn.
  platform::BitmapInfoHeader td{40, 1, -2, 1, 24, 0, 0, 0, 0, 0, 0};
  const uint8_t column[8] = {0xFF, 0, 0, 0, 0, 0xFF, 0, 0};
  platform::Surface t(1, 2, 0x777777);
  EXPECT_EQ(platform::StretchDIBits(t, 0, 0, 1, 2, 0, 0, 1, -2, column, &td, 0, platform::kSRCCOPY), 0);
  EXPECT_EQ(t.Pixel(0, 0), 0x777777u);
  EXPECT_EQ(platform::StretchDIBits(t, 0, 0, 1, 2, 0, 0, 1, 2, column, &td, 0, platform::kSRCCOPY), 2);
  EXPECT_EQ(t.Pixel(0, 0), 0x0000FFu);
  EXPECT_EQ(t.Pixel(0, 1), 0x00FF00u);

  // A core header with 3-byte colour entries.
  const uint8_t core[12 + 6] = {12, 0, 0, 0, 1, 0, 1, 0, 1, 0, 1, 0, 1, 2, 3, 4, 5, 6};
  const uint8_t bit[4] = {0x80, 0, 0, 0};
  EXPECT_EQ(platform::StretchDIBits(s, 0, 0, 1, 1, 0, 0, 1, 1, bit, core, 0, platform::kSRCCOPY), 1);
  EXPECT_EQ(s.Pixel(0, 0), 0x060504u);
  // Unknown raster operations and compressed sources are refused.
  EXPECT_EQ(platform::StretchDIBits(s, 0, 0, 1, 1, 0, 0, 1, 1, px, &h, 0, 0x00440328), 0);
  h.biCompression = 1;
  EXPECT_EQ(platform::StretchDIBits(s, 0, 0, 1, 1, 0, 0, 1, 1, px, &h, 0, platform::kSRCCOPY), 0);
}
