// Drawing an icon on the software canvas: the mask keeps the background, the colours replace
// it, and the image is scaled into the rectangle.
#include <gtest/gtest.h>

#include "builders.h"
#include "picture/icon.h"
#include "platform/posix/soft_canvas.h"

namespace {

void Load(TIcon& icon, const Bytes& bytes) {
  TPointerStream s(bytes.data(), static_cast<int64_t>(bytes.size()));
  icon.LoadStream(s);
}

}  // namespace

TEST(IconDraw, MaskedPixelsKeepTheCanvasAndTheImageIsScaled) {
  IconImageSpec s = SolidImage(2, 2, 24, 0x00336699);
  s.mask = {true, false, false, false};  // top-left transparent
  s.pixels[0] = 0;
  TIcon icon;
  Load(icon, BuildIcon({s}));
  platform::Surface canvas(6, 6, 0x00FF0000);
  icon.DrawInRect(canvas, TRect{1, 1, 5, 5});  // each pixel becomes 2 x 2
  EXPECT_EQ(canvas.Pixel(0, 0), 0xFF0000u);    // outside
  EXPECT_EQ(canvas.Pixel(1, 1), 0xFF0000u);    // transparent
  EXPECT_EQ(canvas.Pixel(2, 2), 0xFF0000u);
  EXPECT_EQ(canvas.Pixel(3, 1), 0x336699u);
  EXPECT_EQ(canvas.Pixel(4, 4), 0x336699u);
  EXPECT_EQ(canvas.Pixel(5, 5), 0xFF0000u);
}

TEST(IconDraw, AlphaImagesDrawTheirOpaquePartOnly) {
  IconImageSpec s;
  s.width = 2;
  s.height = 1;
  s.bits = 32;
  s.pixels = {0x10FFFFFF, 0xFF00FF00};  // nearly clear white, opaque green
  TIcon icon;
  Load(icon, BuildIcon({s}));
  platform::Surface canvas(2, 1, 0x00000080);
  icon.DrawInRect(canvas, TRect{0, 0, 2, 1});
  EXPECT_EQ(canvas.Pixel(0, 0), 0x000080u);
  EXPECT_EQ(canvas.Pixel(1, 0), 0x00FF00u);
}
