#include "pixels.h"

#include <gtest/gtest.h>

#include <utility>
#include <vector>

#include "platform/dib_layout.h"

namespace ifwic {
namespace {

TEST(PixelReduction, SixteenBitsRoundToNearest) {
  EXPECT_EQ(reduce16(0), 0);
  EXPECT_EQ(reduce16(65535), 255);
  EXPECT_EQ(reduce16(257 * 128), 128);
  // 0x10FF / 257 = 16.93: rounds up where the high byte alone would give 16.
  EXPECT_EQ(reduce16(0x10FF), 17);
  EXPECT_EQ(reduce16(128), 0);  // below half a step
  EXPECT_EQ(reduce16(129), 1);  // above half a step
  for (uint32_t v = 0; v <= 65535; v += 97) EXPECT_EQ(reduce16(v), (v * 255 + 32767) / 65535) << v;
}

TEST(PixelReduction, OverWhiteKeepsOpaqueAndWhitensTransparent) {
  EXPECT_EQ(overWhite8(10, 255), 10);
  EXPECT_EQ(overWhite8(10, 0), 255);
  EXPECT_EQ(overWhite8(0, 128), 127);  // (255 * 127 + 127) / 255
}

TEST(PixelRows, AlphaLayoutsAreCompositedInBgrOrder) {
  const uint8_t bgra[] = {10, 20, 30, 255, 10, 20, 30, 0};
  uint8_t out[6];
  convertRow(SourceLayout::Bgra32, OutputKind::Bgr24, bgra, out, 2, nullptr, 0);
  EXPECT_EQ(std::vector<uint8_t>(out, out + 6), (std::vector<uint8_t>{10, 20, 30, 255, 255, 255}));
  const uint8_t rgba[] = {30, 20, 10, 255};
  convertRow(SourceLayout::Rgba32, OutputKind::Bgr24, rgba, out, 1, nullptr, 0);
  EXPECT_EQ(std::vector<uint8_t>(out, out + 3), (std::vector<uint8_t>{10, 20, 30}));
  const uint8_t pbgra[] = {0, 50, 100, 128};  // premultiplied: c + 255 - a
  convertRow(SourceLayout::Pbgra32, OutputKind::Bgr24, pbgra, out, 1, nullptr, 0);
  EXPECT_EQ(std::vector<uint8_t>(out, out + 3), (std::vector<uint8_t>{127, 177, 227}));
}

TEST(PixelRows, SixteenBitLayoutsAreLittleEndianAndReordered) {
  // 48bppRGB: R = 0xFFFF, G = 0x0000, B = 0x10FF.
  const uint8_t rgb48[] = {0xFF, 0xFF, 0x00, 0x00, 0xFF, 0x10};
  uint8_t out[3];
  convertRow(SourceLayout::Rgb48, OutputKind::Bgr24, rgb48, out, 1, nullptr, 0);
  EXPECT_EQ(std::vector<uint8_t>(out, out + 3), (std::vector<uint8_t>{17, 0, 255}));
  // 64bppRGBA, fully transparent: white whatever the colour.
  const uint8_t rgba64[] = {0x12, 0x34, 0x56, 0x78, 0x9A, 0xBC, 0, 0};
  convertRow(SourceLayout::Rgba64, OutputKind::Bgr24, rgba64, out, 1, nullptr, 0);
  EXPECT_EQ(std::vector<uint8_t>(out, out + 3), (std::vector<uint8_t>{255, 255, 255}));
  const uint16_t grey[] = {0, 0x10FF, 0xFFFF};
  uint8_t g[3];
  convertRow(SourceLayout::Gray16, OutputKind::Gray8, reinterpret_cast<const uint8_t*>(grey), g, 3, nullptr,
             0);
  EXPECT_EQ(std::vector<uint8_t>(g, g + 3), (std::vector<uint8_t>{0, 17, 255}));
}

TEST(PixelRows, PackedSamplesUnpackMostSignificantFirst) {
  const PaletteEntry palette[4] = {{0, 0, 0, 255}, {1, 1, 1, 255}, {2, 2, 2, 255}, {3, 3, 3, 255}};
  const uint8_t twoBit[] = {0x1B};  // 00 01 10 11
  uint8_t out[4];
  convertRow(SourceLayout::Indexed2, OutputKind::Palette8, twoBit, out, 4, palette, 4);
  EXPECT_EQ(std::vector<uint8_t>(out, out + 4), (std::vector<uint8_t>{0, 1, 2, 3}));
  const uint8_t oneBit[] = {0xA0};  // 1 0 1
  convertRow(SourceLayout::Gray1, OutputKind::Gray8, oneBit, out, 3, nullptr, 0);
  EXPECT_EQ(std::vector<uint8_t>(out, out + 3), (std::vector<uint8_t>{255, 0, 255}));
  const uint8_t fourBit[] = {0xF0};
  convertRow(SourceLayout::Gray4, OutputKind::Gray8, fourBit, out, 2, nullptr, 0);
  EXPECT_EQ(std::vector<uint8_t>(out, out + 2), (std::vector<uint8_t>{255, 0}));
}

TEST(PixelRows, IndicesBeyondThePaletteBecomeZero) {
  const PaletteEntry palette[2] = {{9, 9, 9, 255}, {8, 8, 8, 255}};
  const uint8_t indices[] = {1, 7, 200};
  uint8_t out[3];
  convertRow(SourceLayout::Indexed8, OutputKind::Palette8, indices, out, 3, palette, 2);
  EXPECT_EQ(std::vector<uint8_t>(out, out + 3), (std::vector<uint8_t>{1, 0, 0}));
}

TEST(PixelOutput, TransparentPaletteBecomesColour) {
  PaletteEntry palette[3] = {{1, 2, 3, 255}, {4, 5, 6, 255}, {7, 8, 9, 255}};
  EXPECT_EQ(outputFor(SourceLayout::Indexed8, palette, 3), OutputKind::Palette8);
  palette[2].a = 0;
  EXPECT_EQ(outputFor(SourceLayout::Indexed8, palette, 3), OutputKind::Bgr24);
  uint8_t out[3];
  const uint8_t index[] = {2};
  convertRow(SourceLayout::Indexed8, OutputKind::Bgr24, index, out, 1, palette, 3);
  EXPECT_EQ(std::vector<uint8_t>(out, out + 3), (std::vector<uint8_t>{255, 255, 255}));
  EXPECT_EQ(outputFor(SourceLayout::Gray16, nullptr, 0), OutputKind::Gray8);
  EXPECT_EQ(outputFor(SourceLayout::Rgb48, nullptr, 0), OutputKind::Bgr24);
}

TEST(PixelOutput, RowSizesPadToFourBytesWithoutOverflow) {
  // The plug-in's DIB rows come from the shared layout arithmetic.
  EXPECT_EQ(KorDibRowBytes(1, 24), 4u);
  EXPECT_EQ(KorDibRowBytes(5, 24), 16u);
  EXPECT_EQ(KorDibRowBytes(5, 8), 8u);
  EXPECT_EQ(KorDibRowBytes(0x7FFFFFFF, 24), (0x7FFFFFFFull * 24 + 31) / 32 * 4);
  EXPECT_EQ(sourceRowBytes(SourceLayout::Indexed1, 9), 2u);
  EXPECT_EQ(sourceRowBytes(SourceLayout::Rgba64, 3), 24u);
}

// Where stored pixel (x, y) of a w x h picture stands upright, from the orientation tag's own
// table: which side stored row 0 and stored column 0 are shown on.
void uprightAt(int orientation, uint32_t x, uint32_t y, uint32_t w, uint32_t h, uint32_t& ux, uint32_t& uy) {
  enum Side { Top, Bottom, Left, Right };
  static const Side row0[9] = {Top, Top, Top, Bottom, Bottom, Left, Right, Right, Left};
  static const Side col0[9] = {Left, Left, Right, Right, Left, Top, Top, Bottom, Bottom};
  if (orientation <= 4) {
    uy = row0[orientation] == Top ? y : h - 1 - y;
    ux = col0[orientation] == Left ? x : w - 1 - x;
  } else {
    ux = row0[orientation] == Left ? y : h - 1 - y;
    uy = col0[orientation] == Top ? x : w - 1 - x;
  }
}

TEST(Orientation, RowsLandWhereTheTagSaysInABottomUpDib) {
  const uint32_t w = 5, h = 3;
  for (int bytes : {1, 3}) {
    for (int o = 1; o <= 8; ++o) {
      uint32_t uw, uh;
      uprightSize(o, w, h, uw, uh);
      EXPECT_EQ(uw * uh, w * h);
      EXPECT_EQ(uw, o >= 5 ? h : w) << o;
      const uint64_t stride = KorDibRowBytes(uw, 8 * bytes);
      std::vector<uint8_t> dib(stride * uh, 0xEE);
      // The stored rows, two apart by a gap of 7 bytes, placed as a strip of two and one of one.
      const uint64_t rowBytes = w * bytes + 7;
      std::vector<uint8_t> rows(rowBytes * h);
      for (uint32_t y = 0; y < h; ++y)
        for (uint32_t x = 0; x < w; ++x)
          for (int b = 0; b < bytes; ++b) rows[y * rowBytes + x * bytes + b] = uint8_t(16 * y + x + 100 * b);
      placeRows(o, rows.data(), rowBytes, 0, 2, w, h, bytes, dib.data(), stride);
      placeRows(o, rows.data() + 2 * rowBytes, rowBytes, 2, 1, w, h, bytes, dib.data(), stride);
      for (uint32_t y = 0; y < h; ++y)
        for (uint32_t x = 0; x < w; ++x) {
          uint32_t ux, uy;
          uprightAt(o, x, y, w, h, ux, uy);
          const uint8_t* p = dib.data() + (uh - 1 - uy) * stride + ux * bytes;
          for (int b = 0; b < bytes; ++b)
            EXPECT_EQ(p[b], uint8_t(16 * y + x + 100 * b)) << "orientation " << o << " at " << x << "," << y;
        }
    }
  }
}

TEST(ColourKey, KeyedSamplesBecomeWhiteAtTheFilesOwnDepth) {
  const uint16_t greyKey[3] = {2, 0, 0};
  const uint8_t grey2[] = {0x1B};  // samples 0, 1, 2, 3
  uint8_t out[12];
  convertKeyedRow(SourceLayout::Gray2, grey2, out, 4, greyKey);
  EXPECT_EQ(std::vector<uint8_t>(out, out + 12),
            (std::vector<uint8_t>{0, 0, 0, 85, 85, 85, 255, 255, 255, 255, 255, 255}));
  // 16-bit grey: the whole sample counts, not its reduction to 8 bits.
  const uint16_t key16[3] = {0x1234, 0, 0};
  const uint16_t grey16[] = {0x1234, 0x1235};
  convertKeyedRow(SourceLayout::Gray16, reinterpret_cast<const uint8_t*>(grey16), out, 2, key16);
  EXPECT_EQ(out[0], 255);
  EXPECT_EQ(out[3], reduce16(0x1235));
  // Colour: red, green, blue in the file's order, whichever order the layout stores.
  const uint16_t rgbKey[3] = {10, 20, 30};
  const uint8_t rgb[] = {10, 20, 30, 30, 20, 10};
  convertKeyedRow(SourceLayout::Rgb24, rgb, out, 2, rgbKey);
  EXPECT_EQ(std::vector<uint8_t>(out, out + 6), (std::vector<uint8_t>{255, 255, 255, 10, 20, 30}));
  convertKeyedRow(SourceLayout::Bgr24, rgb, out, 2, rgbKey);
  EXPECT_EQ(std::vector<uint8_t>(out, out + 6), (std::vector<uint8_t>{10, 20, 30, 255, 255, 255}));
  EXPECT_TRUE(keyable(SourceLayout::Gray4, true, 4));
  EXPECT_FALSE(keyable(SourceLayout::Gray2, true, 4));
  EXPECT_FALSE(keyable(SourceLayout::Gray8, true, 3));
  // Widened by the codec: 2-bit grey 2 reads as 170 in 8-bit rows, 4-bit 14 as 0xEEEE in 16-bit
  // ones; a key beyond the file's depth matches nothing.
  ASSERT_TRUE(keyable(SourceLayout::Gray8, true, 2));
  EXPECT_EQ(greyKeyFor(SourceLayout::Gray8, 2, 2), 170);
  EXPECT_EQ(greyKeyFor(SourceLayout::Gray16, 4, 14), 0xEEEE);
  EXPECT_EQ(greyKeyFor(SourceLayout::Gray8, 1, 1), 255);
  EXPECT_EQ(greyKeyFor(SourceLayout::Gray8, 2, 7), 7);
  const uint16_t widenedKey[3] = {170, 0, 0};
  const uint8_t grey8[] = {0, 85, 170, 255};
  convertKeyedRow(SourceLayout::Gray8, grey8, out, 4, widenedKey);
  EXPECT_EQ(std::vector<uint8_t>(out, out + 12),
            (std::vector<uint8_t>{0, 0, 0, 85, 85, 85, 255, 255, 255, 255, 255, 255}));
  // Indices into the grey ramp of the file's depth, and no other palette, stand for its samples.
  PaletteEntry ramp[4] = {{0, 0, 0, 255}, {85, 85, 85, 255}, {170, 170, 170, 255}, {255, 255, 255, 255}};
  EXPECT_TRUE(isGreyRamp(ramp, 4, 2));
  EXPECT_FALSE(isGreyRamp(ramp, 4, 4));
  ramp[1].r = 84;
  EXPECT_FALSE(isGreyRamp(ramp, 4, 2));
  EXPECT_FALSE(keyable(SourceLayout::Rgb24, true, 8));
  EXPECT_TRUE(keyable(SourceLayout::Rgb48, false, 16));
}

TEST(ColourGrid, InterpolatesTheGridsConversionBetweenItsPoints) {
  std::vector<uint8_t> grid(kGridColours * 3);
  fillColourGrid(grid.data());
  // Through the grid of the colours themselves every pixel stays as it is; through a grid
  // that swaps red and green every pixel has them swapped; both exactly, on and between points.
  std::vector<uint8_t> swapped(grid);
  for (size_t i = 0; i < kGridColours; ++i) std::swap(swapped[3 * i + 1], swapped[3 * i + 2]);
  for (int v = 0; v < 256; ++v) {
    const uint8_t pixel[3] = {static_cast<uint8_t>(v), static_cast<uint8_t>(255 - v),
                              static_cast<uint8_t>(v * 7 % 256)};  // blue, green, red
    uint8_t same[3] = {pixel[0], pixel[1], pixel[2]}, turned[3] = {pixel[0], pixel[1], pixel[2]};
    applyColourGrid(grid.data(), same, 1);
    applyColourGrid(swapped.data(), turned, 1);
    EXPECT_EQ(std::vector<uint8_t>(same, same + 3), std::vector<uint8_t>(pixel, pixel + 3)) << v;
    EXPECT_EQ(std::vector<uint8_t>(turned, turned + 3), (std::vector<uint8_t>{pixel[0], pixel[2], pixel[1]}))
        << v;
  }
  // A grid whose every colour is one grey gives that grey everywhere.
  std::vector<uint8_t> flat(grid.size(), 77);
  uint8_t row[6] = {1, 128, 255, 254, 3, 0};
  applyColourGrid(flat.data(), row, 2);
  EXPECT_EQ(std::vector<uint8_t>(row, row + 6), std::vector<uint8_t>(6, 77));
}

}  // namespace
}  // namespace ifwic
