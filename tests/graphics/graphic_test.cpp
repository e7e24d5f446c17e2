// The plug-in graphic: its cached geometry per depth, the BMP file image it writes, drawing, the
// bitmaps it makes, and its state across loads.
#include <gtest/gtest.h>

#include <cstring>

#include "../../spi/decode/kvp_format.h"
#include "graphics/decode_fixtures.h"
#include "graphics/spi_graphic.h"
#include "picture/bitmap.h"
#include "rtl/exceptions.h"
#include "rtl/streams.h"
#include "wine_mode.h"

#if !defined(_WIN32)
#include "platform/posix/soft_canvas.h"
#endif

using namespace decodefx;

namespace {

uint32_t Le32(const std::string& s, size_t at) {
  uint32_t v = 0;
  for (int i = 3; i >= 0; --i) v = v << 8 | static_cast<uint8_t>(s[at + static_cast<size_t>(i)]);
  return v;
}

std::string Saved(TGraphic& g) {
  TMemoryStream out;
  g.SaveStream(out);
  return std::string(static_cast<const char*>(out.Memory()), static_cast<size_t>(out.Size()));
}

class PluginGraphic : public ::testing::Test {
 protected:
  void SetUp() override { baseline_ = LiveBlocks(); }
  void TearDown() override { EXPECT_EQ(LiveBlocks(), baseline_) << "a plug-in block was not freed"; }
  void Load(TSPIGraphic& g, const Kvp& k, const std::string& name = "photo.kvp") {
    g.LoadFile(dir.Write(name, k.File()));
  }
  PluginSet set{{"kvpdec"}};
  ScratchDir dir;
  long baseline_ = 0;
};

struct Depth {
  uint16_t bits;
  uint32_t clrUsed;
  int32_t colors;
  int32_t infoSize;
};

class Depths : public PluginGraphic, public ::testing::WithParamInterface<Depth> {};

TEST_P(Depths, SizesAndPaletteFollowTheHeader) {
  Kvp k;
  k.bits = GetParam().bits;
  k.clrUsed = GetParam().clrUsed;
  k.width = 3;
  k.height = 5;
  TSPIGraphic g;
  Load(g, k);
  EXPECT_EQ(g.ColorCount(), GetParam().colors);
  EXPECT_EQ(g.InfoSize(), GetParam().infoSize);
  EXPECT_EQ(g.BitsSize(), static_cast<int32_t>(k.RowBytes() * 5));
  EXPECT_EQ(g.FourBitPixels(), k.bits == 4);
  EXPECT_EQ(g.Width(), 3);
  EXPECT_EQ(g.Height(), 5);
  if (GetParam().colors) {
    ASSERT_NE(g.Palette(), nullptr);
  }
  KOR_SKIP_WHERE_WOW64_EMPTIES_PALETTES();
  const int n = platform::GetPaletteEntries(g.Palette(), 0, 0, nullptr);
  ASSERT_EQ(n, GetParam().colors);
  std::vector<platform::PaletteEntry> entries(static_cast<size_t>(n));
  if (n) platform::GetPaletteEntries(g.Palette(), 0, n, entries.data());
  for (int i = 0; i < n; ++i) {
    const uint32_t q = k.ColorQuad(static_cast<uint32_t>(i));
    EXPECT_EQ(entries[static_cast<size_t>(i)].peBlue, q & 0xFF);
    EXPECT_EQ(entries[static_cast<size_t>(i)].peRed, q >> 16 & 0xFF);
    EXPECT_EQ(entries[static_cast<size_t>(i)].peFlags, 0);
  }
  const std::string image = Saved(g);
  EXPECT_EQ(image.size(), 14u + static_cast<size_t>(GetParam().infoSize) + k.RowBytes() * 5);
  EXPECT_EQ(image.substr(14 + static_cast<size_t>(GetParam().infoSize)), k.DibRows());
}

INSTANTIATE_TEST_SUITE_P(Table, Depths,
                         ::testing::Values(Depth{1, 0, 2, 48}, Depth{4, 0, 16, 104}, Depth{8, 0, 256, 1064},
                                           Depth{16, 0, 0, 40}, Depth{24, 0, 0, 40}, Depth{32, 0, 0, 40},
                                           Depth{24, 16, 16, 104}, Depth{8, 5, 5, 60}),
                         [](const ::testing::TestParamInfo<Depth>& info) {
                           return std::to_string(info.param.bits) + "bit_used" +
                                  std::to_string(info.param.clrUsed);
                         });

TEST_F(PluginGraphic, TwoByTwoEightBitFileImage) {
  Kvp k;
  k.width = 2;
  k.height = 2;
  k.bits = 8;
  TSPIGraphic g;
  Load(g, k);
  const std::string image = Saved(g);
  ASSERT_EQ(image.size(), 1086u);
  EXPECT_EQ(image.substr(0, 2), "BM");
  EXPECT_EQ(Le32(image, 2), 1086u);
  EXPECT_EQ(Le32(image, 6), 0u);
  EXPECT_EQ(Le32(image, 10), 1078u);
  EXPECT_EQ(0, std::memcmp(image.data() + 14, g.Source()->BitmapInfo(), 1064));
  EXPECT_EQ(image.substr(1078), k.DibRows());
}

TEST_F(PluginGraphic, TopDownPictureKeepsItsSign) {
  Kvp k;
  k.width = 3;
  k.height = -4;
  TSPIGraphic g;
  Load(g, k);
  EXPECT_EQ(g.Height(), -4);
  EXPECT_EQ(g.BitsSize(), 48);
  const std::string image = Saved(g);
  EXPECT_EQ(static_cast<int32_t>(Le32(image, 14 + 8)), -4);
  EXPECT_EQ(image.substr(54), k.DibRows());
}

TEST_F(PluginGraphic, LargerHeaderSizeIsWrittenAsFortyBytesUnchanged) {
  Kvp k;
  k.switches = KVP_BIG_BISIZE;
  TSPIGraphic g;
  Load(g, k);
  const std::string image = Saved(g);
  EXPECT_EQ(g.InfoSize(), 40);
  EXPECT_EQ(Le32(image, 14), 108u);
  EXPECT_EQ(Le32(image, 10), 54u);
}

TEST_F(PluginGraphic, BitFieldPictureKeepsItsMasks) {
  Kvp k;
  k.bits = 16;
  k.switches = KVP_BITFIELDS;
  TSPIGraphic g;
  Load(g, k);
  EXPECT_EQ(g.InfoSize(), 52);
  const std::string image = Saved(g);
  EXPECT_EQ(Le32(image, 10), 66u);
  EXPECT_EQ(Le32(image, 54), 0x7C00u);
  EXPECT_EQ(Le32(image, 62), 0x001Fu);
  std::unique_ptr<TGraphic> b = g.MakeBitmap(&TBitmap::Class);
  auto* bitmap = dynamic_cast<TBitmap*>(b.get());
  ASSERT_NE(bitmap, nullptr);
  EXPECT_EQ(bitmap->Masks(), (std::vector<uint32_t>{0x7C00, 0x03E0, 0x001F}));
}

TEST_F(PluginGraphic, EmptyGraphic) {
  TSPIGraphic g;
  EXPECT_TRUE(g.IsEmpty());
  EXPECT_EQ(g.Width(), 0);
  EXPECT_EQ(g.Height(), 0);
  EXPECT_EQ(g.Palette(), nullptr);
  EXPECT_EQ(Saved(g), "");
  g.SetWidth(5);
  g.SetHeight(5);
  EXPECT_EQ(g.Width(), 0);
}

TEST_F(PluginGraphic, UndecodableDataFailsAndLeavesItEmpty) {
  Kvp k;
  k.switches = KVP_FAIL;
  TSPIGraphic g;
  Load(g, Kvp{});
  try {
    Load(g, k);
    FAIL() << "no failure";
  } catch (const EInvalidGraphic& e) {
    EXPECT_EQ(e.Message(), "Susie Plugins could not decode");
  }
  EXPECT_TRUE(g.IsEmpty());
  EXPECT_EQ(g.Source(), nullptr);
  EXPECT_EQ(g.Width(), 0);
}

TEST_F(PluginGraphic, SecondLoadDropsTheFirstPictureBeforeAsking) {
  TSPIGraphic g;
  Load(g, Kvp{});
  long atStart = -1;
  g.OnProgress = [&](TObject*, TProgressStage stage, uint8_t, bool, TRect&, const std::string&) {
    if (stage == TProgressStage::psStarting) atStart = LiveBlocks();
  };
  Kvp k;
  k.bits = 8;
  Load(g, k, "second.kvp");
  EXPECT_EQ(atStart, baseline_);
  EXPECT_EQ(g.ColorCount(), 256);
}

TEST_F(PluginGraphic, ListenerOfTheLoadsStartServesTheWholeDecode) {
  TSPIGraphic g;
  ProgressLog first, second;
  TProgressEvent firstListener = first.Listener();
  g.OnProgress = [&](TObject* s, TProgressStage st, uint8_t p, bool rd, TRect& r, const std::string& m) {
    firstListener(s, st, p, rd, r, m);
    g.OnProgress = second.Listener();
  };
  Load(g, Kvp{});
  EXPECT_EQ(first.steps.size(), 4u);
  EXPECT_TRUE(second.steps.empty());
  EXPECT_EQ(first.steps.front().sender, &g);
}

TEST_F(PluginGraphic, SuccessfulLoadNotifiesOnce) {
  TSPIGraphic g;
  int changes = 0;
  g.OnChange = [&](TObject* sender) {
    EXPECT_EQ(sender, &g);
    ++changes;
  };
  Load(g, Kvp{});
  EXPECT_EQ(changes, 1);
  EXPECT_TRUE(g.Modified());
  Kvp bad;
  bad.switches = KVP_FAIL;
  EXPECT_THROW(Load(g, bad), EInvalidGraphic);
  EXPECT_EQ(changes, 1);
}

TEST_F(PluginGraphic, StreamLoadUsesTheGivenName) {
  TSPIGraphic g;
  const std::string bytes = Kvp{}.File(true);
  TMemoryStream stream;
  stream.WriteBuffer(bytes.data(), static_cast<int64_t>(bytes.size()));
  g.LoadFromStreamWithName(stream, "photo.kvp");
  EXPECT_FALSE(g.IsEmpty());
  EXPECT_EQ(g.Source()->FileName(), "photo.kvp");
  g.LoadStream(stream);
  EXPECT_EQ(g.Source()->FileName(), "");
}

TEST_F(PluginGraphic, MakeBitmapKeepsThePicture) {
  Kvp k;
  k.bits = 8;
  k.width = 5;
  k.height = 3;
  TSPIGraphic g;
  Load(g, k);
  std::unique_ptr<TGraphic> b = g.MakeBitmap(&TBitmap::Class);
  EXPECT_FALSE(g.IsEmpty());
  ExpectPicture(*b, k);
}

// A bitmap whose loading fails.
class FailingBitmap : public TBitmap {
  KOR_GRAPHIC_CLASS(FailingBitmap)
 public:
  void LoadStream(TStream&) override { throw EReadError("cannot"); }
};
KOR_DEFINE_GRAPHIC_CLASS(FailingBitmap, TBitmap);

TEST_F(PluginGraphic, MakeBitmapAndReleaseLeavesItEmptyWhateverHappens) {
  Kvp k;
  TSPIGraphic g;
  Load(g, k);
  std::unique_ptr<TGraphic> b = g.MakeBitmapAndRelease(&TBitmap::Class);
  EXPECT_TRUE(g.IsEmpty());
  EXPECT_EQ(LiveBlocks(), baseline_);
  ExpectPicture(*b, k);

  Load(g, k);
  EXPECT_THROW(g.MakeBitmapAndRelease(&FailingBitmap::Class), EReadError);
  EXPECT_TRUE(g.IsEmpty());
}

TEST_F(PluginGraphic, FailedMakeBitmapKeepsThePicture) {
  TSPIGraphic g;
  Load(g, Kvp{});
  EXPECT_THROW(g.MakeBitmap(&FailingBitmap::Class), EReadError);
  EXPECT_FALSE(g.IsEmpty());
}

#if !defined(_WIN32)
TEST_F(PluginGraphic, DrawingRestoresPaletteAndStretchMode) {
  Kvp k;
  k.bits = 8;
  k.width = 4;
  k.height = 3;
  TSPIGraphic g;
  Load(g, k);
  platform::Surface canvas(8, 6, 0x123456);
  platform::PaletteEntry one{1, 2, 3, 0};
  platform::PaletteHandle before = platform::CreatePalette(&one, 1);
  canvas.selectedPalette = before;
  canvas.stretchMode = platform::kHALFTONE;
  g.DrawInRect(canvas, TRect{0, 0, 4, 3});
  EXPECT_EQ(canvas.selectedPalette, before);
  EXPECT_EQ(canvas.stretchMode, platform::kHALFTONE);
  EXPECT_EQ(canvas.realizeCount, 1);
  for (int y = 0; y < 3; ++y)
    for (int x = 0; x < 4; ++x) EXPECT_EQ(canvas.Pixel(x, y), k.RGB(x, y)) << x << "," << y;
  EXPECT_EQ(canvas.Pixel(5, 4), 0x123456u);
  platform::DeletePalette(before);
}

TEST_F(PluginGraphic, DrawingStretchesBottomUpRows) {
  Kvp k;
  k.width = 2;
  k.height = 2;
  TSPIGraphic g;
  Load(g, k);
  platform::Surface canvas(4, 4);
  g.DrawInRect(canvas, TRect{0, 0, 4, 4});
  for (int y = 0; y < 4; ++y)
    for (int x = 0; x < 4; ++x) EXPECT_EQ(canvas.Pixel(x, y), k.RGB(x / 2, y / 2)) << x << "," << y;
}

TEST_F(PluginGraphic, DrawingShowsTopDownRowsTheRightWayUp) {
  Kvp k;
  k.width = 3;
  k.height = -2;
  TSPIGraphic g;
  Load(g, k);
  EXPECT_EQ(g.Height(), -2);
  platform::Surface canvas(3, 2, 0x777777);
  g.DrawInRect(canvas, TRect{0, 0, 3, 2});
  for (int y = 0; y < 2; ++y)
    for (int x = 0; x < 3; ++x) EXPECT_EQ(canvas.Pixel(x, y), k.RGB(x, y)) << x << "," << y;
}

TEST_F(PluginGraphic, EmptyGraphicDrawsNothing) {
  TSPIGraphic g;
  platform::Surface canvas(2, 2, 0xABCDEF);
  g.DrawInRect(canvas, TRect{0, 0, 2, 2});
  EXPECT_EQ(canvas.Pixel(1, 1), 0xABCDEFu);
  EXPECT_EQ(canvas.realizeCount, 0);
}
#endif

}  // namespace
