// Copies that share one image, palettes, resizing and change events.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <thread>

#include "picture/bitmap.h"
#include "picture/bitmap/bmp_builder.h"
#include "rtl/exceptions.h"
#include "wine_mode.h"

using namespace bmptest;

namespace {

Bytes Gray8() {
  Bmp b;
  b.width = 2;
  b.height = 2;
  b.bits = 8;
  for (uint32_t i = 0; i < 256; ++i) b.colors.push_back(i * 0x010101);
  b.pixels = {10, 20, 0, 0, 30, 40, 0, 0};
  return b.Build();
}

Bytes Rle8() {
  Bmp b;
  b.width = 2;
  b.height = 1;
  b.bits = 8;
  b.compression = 1;
  b.colors.assign(256, 0x808080);
  b.pixels = {2, 9, 0, 1};
  return b.Build();
}

// A graphic of another class, for the base route of CopyFrom.
class TOther : public TGraphic {
 public:
  void DrawInRect(platform::Surface&, const TRect&) override {}
  bool IsEmpty() override { return false; }
  int32_t Height() override { return 1; }
  int32_t Width() override { return 1; }
  void SetHeight(int32_t) override {}
  void SetWidth(int32_t) override {}
  void LoadStream(TStream&) override {}
  void SaveStream(TStream&) override {}
  void LoadClipboard(uint16_t, uintptr_t, platform::PaletteHandle) override {}
  void SaveClipboard(uint16_t&, uintptr_t&, platform::PaletteHandle&) override {}
};

}  // namespace

TEST(BitmapCopy, SharesOneImageUntilEitherChanges) {
  TBitmap a, b;
  Load(a, Gray8());
  int changes = 0;
  b.OnChange = [&](TObject*) { ++changes; };
  b.CopyFrom(&a);
  EXPECT_EQ(changes, 1);
  EXPECT_EQ(a.Rows(), b.Rows());
  EXPECT_EQ(b.PixelRGB(1, 0), 0x282828u);

  b.SetWidth(3);
  EXPECT_EQ(changes, 2);
  EXPECT_NE(a.Rows(), b.Rows());
  EXPECT_EQ(a.Width(), 2);
  EXPECT_EQ(b.Width(), 3);
  EXPECT_EQ(b.PixelRGB(1, 0), 0x282828u);  // the overlap is kept
  EXPECT_EQ(b.PixelRGB(2, 0), 0u);
  b.SetHeight(1);
  EXPECT_EQ(b.PixelRGB(0, 0), 0x1E1E1Eu);  // the top row stays
  EXPECT_EQ(a.Height(), 2);
}

TEST(BitmapCopy, NoneEmptiesOtherClassesTakeTheBaseRoute) {
  TBitmap a;
  Load(a, Gray8());
  int changes = 0;
  a.OnChange = [&](TObject*) { ++changes; };
  a.CopyFrom(nullptr);
  EXPECT_TRUE(a.IsEmpty());
  EXPECT_EQ(changes, 1);
  TOther other;
  EXPECT_THROW(a.CopyFrom(&other), EConvertError);
}

TEST(BitmapCopy, KeptFileImageIsSharedAndDroppedOnChange) {
  TBitmap a, b;
  Load(a, Rle8());
  b.CopyFrom(&a);
  EXPECT_EQ(Save(b), Rle8());
  b.SetWidth(4);
  EXPECT_FALSE(b.KeepsFileImage());
  EXPECT_TRUE(a.KeepsFileImage());
  const Bytes out = Save(b);
  EXPECT_EQ(Get32(out, 30), 0u);  // written uncompressed
  EXPECT_EQ(Get32(out, 18), 4u);
}

TEST(BitmapCopy, RowsReadInPlaceKeepTheirBlockUntilTheLastChangeCopiesThem) {
  const Bytes file = Gray8();
  // Two bytes ahead of the file image put its rows on a 4-byte boundary, as in the plug-in
  // helper's blocks.
  std::shared_ptr<uint8_t[]> block(new uint8_t[file.size() + 2]);
  std::memcpy(block.get() + 2, file.data(), file.size());
  const uint8_t* rows = block.get() + 2 + file.size() - 8;
  TBitmap a, b;
  a.LoadFileImage(std::shared_ptr<const uint8_t>(block, block.get() + 2), file.size());
  EXPECT_EQ(a.Rows(), rows);
  EXPECT_EQ(a.PixelRGB(1, 0), 0x282828u);
  b.CopyFrom(&a);
  a.CopyFrom(nullptr);
  EXPECT_EQ(block.use_count(), 2);  // b's image still holds it
  b.SetWidth(3);
  EXPECT_EQ(block.use_count(), 1);
  EXPECT_NE(b.Rows(), rows);
  EXPECT_EQ(b.PixelRGB(1, 0), 0x282828u);

  // Rows off a 4-byte boundary, or not all there, are copied as LoadStream copies them.
  std::memcpy(block.get(), file.data(), file.size());
  a.LoadFileImage(std::shared_ptr<const uint8_t>(block, block.get()), file.size());
  EXPECT_EQ(block.use_count(), 1);
  EXPECT_EQ(a.PixelRGB(1, 1), 0x141414u);
  std::memcpy(block.get() + 2, file.data(), file.size());
  a.LoadFileImage(std::shared_ptr<const uint8_t>(block, block.get() + 2), file.size() - 3);
  EXPECT_EQ(block.use_count(), 1);
  EXPECT_EQ(a.PixelRGB(1, 0), 0u);  // the missing last bytes read as zero
  EXPECT_EQ(a.PixelRGB(0, 0), 0x1E1E1Eu);
}

TEST(BitmapCopy, ConcurrentCopiesAndChangesStayConsistent) {
  TBitmap source;
  Load(source, Gray8());
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&source, t] {
      for (int i = 0; i < 200; ++i) {
        TBitmap copy;
        copy.CopyFrom(&source);
        copy.SetWidth(2 + (i + t) % 3);
        if (copy.PixelRGB(0, 1) != 0x0A0A0Au) ADD_FAILURE() << "lost pixels";
      }
    });
  }
  for (auto& th : threads) th.join();
  EXPECT_EQ(source.Width(), 2);
}

TEST(BitmapPalette, MadeFromTheColourTableAndReplacedByWrite) {
  TBitmap bmp;
  Load(bmp, Gray8());
  platform::PaletteHandle p = bmp.Palette();
  ASSERT_NE(p, nullptr);
  KOR_SKIP_WHERE_WOW64_EMPTIES_PALETTES();
  EXPECT_EQ(platform::GetPaletteEntries(p, 0, 0, nullptr), 256);
  platform::PaletteEntry e{};
  platform::GetPaletteEntries(p, 40, 1, &e);
  EXPECT_EQ(e.peRed, 40);
  // Its own palette handed back stays alive and is the one held.
  bmp.SetPalette(p);
  ASSERT_EQ(bmp.Palette(), p);
  EXPECT_EQ(platform::GetPaletteEntries(p, 0, 0, nullptr), 256);

  const platform::PaletteEntry two[2] = {{255, 0, 0, 0}, {0, 0, 255, 0}};
  int changes = 0;
  bmp.OnChange = [&](TObject*) { ++changes; };
  TBitmap copy;
  copy.CopyFrom(&bmp);
  bmp.SetPalette(platform::CreatePalette(two, 2));
  EXPECT_EQ(changes, 1);
  ASSERT_EQ(bmp.ColorTable().size(), 2u);
  EXPECT_EQ(bmp.ColorTable()[1].rgbBlue, 255);
  EXPECT_EQ(bmp.PixelRGB(0, 0), 0u);  // index 30 is past the two colours
  EXPECT_EQ(copy.ColorTable().size(), 256u);
  EXPECT_EQ(Get32(Save(bmp), 46), 2u);
}

TEST(BitmapPalette, DeepImageWithPaletteWritesItAsColourTable) {
  Bmp b;
  b.width = 1;
  b.height = 1;
  b.pixels = {1, 2, 3, 0};
  TBitmap bmp;
  Load(bmp, b.Build());
  EXPECT_EQ(bmp.Palette(), nullptr);
  const platform::PaletteEntry one[1] = {{1, 2, 3, 0}};
  bmp.SetPalette(platform::CreatePalette(one, 1));
  const Bytes out = Save(bmp);
  EXPECT_EQ(Get32(out, 46), 1u);
  EXPECT_EQ(out[54], 3);  // blue first
  EXPECT_EQ(out[56], 1);
  EXPECT_EQ(bmp.PixelRGB(0, 0), 0x030201u);
}
