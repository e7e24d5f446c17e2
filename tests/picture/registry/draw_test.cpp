// Drawing icons and metafiles through the drawing seam (the software canvas natively, GDI
// under Win32): an icon's mask keeps the background, its colours replace it, and the image
// is scaled into the rectangle; metafiles play into the rectangle where GDI exists.
#include <gtest/gtest.h>

#include "builders.h"
#include "picture/icon.h"
#include "picture/metafile.h"
#include "test_canvas.h"

namespace {

void Load(TGraphic& graphic, const Bytes& bytes) {
  TPointerStream s(bytes.data(), static_cast<int64_t>(bytes.size()));
  graphic.LoadStream(s);
}

}  // namespace

TEST(IconDraw, MaskedPixelsKeepTheCanvasAndTheImageIsScaled) {
  IconImageSpec s = SolidImage(2, 2, 24, 0x00336699);
  s.mask = {true, false, false, false};  // top-left transparent
  s.pixels[0] = 0;
  TIcon icon;
  Load(icon, BuildIcon({s}));
  TestCanvas canvas(6, 6, 0x00FF0000);
  icon.DrawInRect(canvas.Surface(), TRect{1, 1, 5, 5});  // each pixel becomes 2 x 2
  EXPECT_EQ(canvas.Pixel(0, 0), 0xFF0000u);              // outside
  EXPECT_EQ(canvas.Pixel(1, 1), 0xFF0000u);              // transparent
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
  TestCanvas canvas(2, 1, 0x00000080);
  icon.DrawInRect(canvas.Surface(), TRect{0, 0, 2, 1});
  EXPECT_EQ(canvas.Pixel(0, 0), 0x000080u);
  EXPECT_EQ(canvas.Pixel(1, 0), 0x00FF00u);
}

TEST(MetafileDraw, PlaysIntoTheRectangleWhereMetafilesArePlayable) {
  const uint32_t kBlue = 0x00FF0000;  // COLORREF
  std::vector<WmfRecord> records = {{0x020C, {100, 100}}};
  for (const auto& r : WmfFilledRect(0, 0, 100, 100, kBlue)) records.push_back(r);
  const int32_t bounds[4] = {0, 0, 9, 9};
  const int32_t frame[4] = {0, 0, 254, 254};
  TMetafile wmf, emf;
  Load(wmf, BuildWmf(records));
  Load(emf, BuildEmf(bounds, frame, EmfFilledRect(0, 0, 8, 8, kBlue)));  // the frame is 8.1 reference pixels
  for (TMetafile* mf : {&wmf, &emf}) {
    SCOPED_TRACE(static_cast<int>(mf->Kind()));
    TestCanvas canvas(20, 20, 0x00FFFFFF);
    mf->DrawInRect(canvas.Surface(), TRect{5, 5, 15, 15});
    EXPECT_EQ(canvas.Pixel(2, 2), 0xFFFFFFu);  // outside the rectangle: untouched
    EXPECT_EQ(canvas.Pixel(17, 17), 0xFFFFFFu);
#ifdef _WIN32
    EXPECT_EQ(canvas.Pixel(10, 10), 0x0000FFu);
#else
    EXPECT_EQ(canvas.Pixel(10, 10), 0xFFFFFFu);  // nothing plays metafiles natively
#endif
  }
}
