// The plug-in-aware bitmap: which reader goes first, streams at a position, the palette of
// 4-bit pictures, the progress it reports, and the picture container loading plug-in formats.
#include <gtest/gtest.h>

#include "../../spi/decode/kvp_format.h"
#include "graphics/decode_fixtures.h"
#include "graphics/spi_bitmap.h"
#include "picture/picture.h"
#include "rtl/exceptions.h"
#include "rtl/streams.h"
#include "wine_mode.h"

using namespace decodefx;

namespace {

class PluginBitmap : public ::testing::Test {
 protected:
  void SetUp() override { baseline_ = LiveBlocks(); }
  void TearDown() override { EXPECT_EQ(LiveBlocks(), baseline_) << "a plug-in block was not freed"; }
  PluginSet set{{"kvpdec"}};
  ScratchDir dir;
  ProgressLog log;
  long baseline_ = 0;

  bool PluginsAsked() const {
    for (const Step& s : log.steps)
      if (s.msg == "Loading Graphic by Susie Plugin") return true;
    return false;
  }
  int Endings() const {
    int n = 0;
    for (const Step& s : log.steps) n += s.stage == TProgressStage::psEnding;
    return n;
  }
};

TEST_F(PluginBitmap, IsTheDefaultGraphicClassFromTheStart) {
  EXPECT_EQ(TSPIs::DefaultGraphicClass(), &TSPIBitmap::Class);
  EXPECT_EQ(FileFormats().FindByExtension("kvp"), &TSPIBitmap::Class);
}

TEST_F(PluginBitmap, BmpNamesGoToThePlainBitmapFirst) {
  Kvp k;
  for (const char* name : {"photo.BMP", "photo.bmp", "photo.Bmp"}) {
    log.steps.clear();
    TSPIBitmap b;
    b.OnProgress = log.Listener();
    b.LoadFile(dir.Write(name, k.Bmp()));
    ExpectPicture(b, k);
    EXPECT_FALSE(PluginsAsked()) << name;
    EXPECT_EQ(set.Trace(0), "") << name;
    EXPECT_EQ(log.Text(), "E100*:Loaded Graphic");
  }
}

TEST_F(PluginBitmap, OtherNamesGoToThePluginsFirst) {
  Kvp k;
  for (const char* name : {"photo.bmp.jpg", "photo", "photo.bmpx"}) {
    log.steps.clear();
    set.ClearTraces();
    TSPIBitmap b;
    b.OnProgress = log.Listener();
    b.LoadFile(dir.Write(name, k.Bmp()));
    ExpectPicture(b, k);
    EXPECT_TRUE(PluginsAsked()) << name;
    EXPECT_EQ(set.Trace(0), "IS:0 IS:0") << name;
  }
}

TEST_F(PluginBitmap, BmpNameThatOnlyAPluginReads) {
  Kvp k;
  k.bits = 8;
  TSPIBitmap b;
  b.LoadFile(dir.Write("photo.bmp", k.File()));
  ExpectPicture(b, k);
  EXPECT_EQ(set.Trace(0), "IS:1 GPI:f0 GP:f0");
}

TEST_F(PluginBitmap, ProgressIsRelayedWithOneEndingStep) {
  Kvp k;
  k.height = 4;
  k.switches = KVP_PROGRESS;
  TSPIBitmap b;
  b.OnProgress = log.Listener();
  b.LoadFile(dir.Write("photo.kvp", k.File()));
  EXPECT_EQ(log.Text(),
            "S0:Loading Graphic by Susie Plugin|R1:Seeking enabled Susie Plugins|R1:Loading by "
            "[kvpdec.spi]|R2:|R51:|"
            "R99:|E100*:Loaded Graphic");
  for (const Step& s : log.steps) EXPECT_EQ(s.sender, &b);
  EXPECT_EQ(log.steps.back().rect, (TRect{0, 0, 3, 4}));
}

TEST_F(PluginBitmap, FailureKeepsThePictureAndStillEnds) {
  Kvp k;
  TSPIBitmap b;
  b.LoadFile(dir.Write("first.kvp", k.File()));
  b.OnProgress = log.Listener();
  Kvp bad;
  bad.switches = KVP_FAIL;
  try {
    b.LoadFile(dir.Write("photo.kvp", bad.File()));
    FAIL() << "no failure";
  } catch (const EInvalidGraphic& e) {
    EXPECT_EQ(e.Message(), "Susie Plugins could not decode");
  }
  ExpectPicture(b, k);
  EXPECT_EQ(Endings(), 1);
  EXPECT_EQ(log.steps.back().msg, "Loaded Graphic");
  EXPECT_EQ(log.steps.back().rect, (TRect{0, 0, 3, 2}));
}

TEST_F(PluginBitmap, StreamWithBmpNameIsReadFromItsPositionFirst) {
  Kvp k;
  const std::string junk(10, 'x');
  TMemoryStream stream;
  const std::string bytes = junk + k.Bmp();
  stream.WriteBuffer(bytes.data(), static_cast<int64_t>(bytes.size()));
  stream.SetPosition(10);
  TSPIBitmap b;
  b.LoadFromStreamWithName(stream, "picture.BMP");
  ExpectPicture(b, k);
  EXPECT_EQ(set.Trace(0), "");
}

TEST_F(PluginBitmap, StreamPositionIsRestoredBeforeThePluginsReadFromByteZero) {
  Kvp k;
  const std::string bytes = k.File();
  TMemoryStream stream;
  stream.WriteBuffer(bytes.data(), static_cast<int64_t>(bytes.size()));
  stream.SetPosition(10);
  int64_t positionAtPlugins = -1;
  TSPIBitmap b;
  b.OnProgress = [&](TObject*, TProgressStage stage, uint8_t, bool, TRect&, const std::string&) {
    if (stage == TProgressStage::psStarting) positionAtPlugins = stream.Position();
  };
  b.LoadFromStreamWithName(stream, "picture.bmp");
  EXPECT_EQ(positionAtPlugins, 10);
  ExpectPicture(b, k);
  EXPECT_EQ(set.Trace(0),
            "IS:1 GPI:m" + std::to_string(bytes.size()) + " GP:m" + std::to_string(bytes.size()));
}

TEST_F(PluginBitmap, FailedStreamLoadLeavesThePositionWhereItWas) {
  TMemoryStream stream;
  const std::string bytes(300, 'z');
  stream.WriteBuffer(bytes.data(), 300);
  stream.SetPosition(33);
  TSPIBitmap b;
  EXPECT_THROW(b.LoadStream(stream), EInvalidGraphic);
  EXPECT_EQ(stream.Position(), 33);
  EXPECT_TRUE(b.IsEmpty());
}

TEST_F(PluginBitmap, EmptyFileOfAPluginFormatIsNoPicture) {
  // The plug-ins come first for photo.kvp and refuse it; the plain reader would take the empty
  // file for an empty bitmap, which must not count as read.  An empty photo.bmp still loads as
  // the empty bitmap the bitmap reader makes of it.
  TSPIBitmap b;
  Kvp k;
  b.LoadFile(dir.Write("shown.kvp", k.File()));
  try {
    b.LoadFile(dir.Write("empty.kvp", ""));
    FAIL() << "an empty file loaded";
  } catch (const EInvalidGraphic& e) {
    EXPECT_EQ(e.Message(), "Susie Plugins could not decode");
  }
  EXPECT_EQ(b.Width(), k.width);
  TSPIBitmap plain;
  plain.LoadFile(dir.Write("empty.bmp", ""));
  EXPECT_TRUE(plain.IsEmpty());
}

TEST_F(PluginBitmap, FourBitPictureTakesACopyOfThePluginPalette) {
  Kvp k;
  k.bits = 4;
  k.width = 5;
  TSPIBitmap b;
  b.LoadFile(dir.Write("photo.kvp", k.File()));
  ExpectPicture(b, k);
  ASSERT_NE(b.Palette(), nullptr);
  KOR_SKIP_WHERE_WOW64_EMPTIES_PALETTES();
  const int n = platform::GetPaletteEntries(b.Palette(), 0, 0, nullptr);
  ASSERT_EQ(n, 16);
  std::vector<platform::PaletteEntry> e(16);
  platform::GetPaletteEntries(b.Palette(), 0, 16, e.data());
  for (uint32_t i = 0; i < 16; ++i) {
    const uint32_t q = k.ColorQuad(i);
    EXPECT_EQ(e[i].peBlue, q & 0xFF);
    EXPECT_EQ(e[i].peGreen, q >> 8 & 0xFF);
    EXPECT_EQ(e[i].peRed, q >> 16 & 0xFF);
  }
}

TEST_F(PluginBitmap, CopyFromAPluginGraphicLeavesItsPicture) {
  Kvp k;
  k.bits = 4;
  TSPIGraphic g;
  g.LoadFile(dir.Write("photo.kvp", k.File()));
  TSPIBitmap b;
  b.CopyFrom(&g);
  ExpectPicture(b, k);
  EXPECT_FALSE(g.IsEmpty());
  EXPECT_NE(b.Palette(), g.Palette());
  KOR_SKIP_WHERE_WOW64_EMPTIES_PALETTES();
  EXPECT_EQ(platform::GetPaletteEntries(b.Palette(), 0, 0, nullptr), 16);
}

TEST_F(PluginBitmap, TakingNothingFails) {
  TSPIBitmap b;
  EXPECT_THROW(b.TakeGraphic(nullptr), EInvalidGraphic);
}

TEST_F(PluginBitmap, LoadWithNameHandlerIsAlwaysItsOwn) {
  TSPIBitmap b;
  bool other = false;
  b.SetOnLoadFromStreamWithName([&](TStream&, const std::string&) { other = true; });
  ASSERT_TRUE(static_cast<bool>(b.OnLoadFromStreamWithName()));
  Kvp k;
  const std::string bytes = k.File();
  TMemoryStream stream;
  stream.WriteBuffer(bytes.data(), static_cast<int64_t>(bytes.size()));
  b.OnLoadFromStreamWithName()(stream, "x.kvp");
  EXPECT_FALSE(other);
  ExpectPicture(b, k);
}

TEST_F(PluginBitmap, TryLoadReturnsNoneWhenNeitherClassReads) {
  const std::string name = dir.Write("photo.kvp", "nothing here");
  EXPECT_EQ(TryLoadFromFile(&TSPIGraphic::Class, name, &TBitmap::Class, false, nullptr), nullptr);
  std::unique_ptr<TGraphic> g =
      TryLoadFromFile(&TSPIGraphic::Class, dir.Write("p.kvp", Kvp{}.File()), &TBitmap::Class, true, nullptr);
  ASSERT_NE(g, nullptr);
  EXPECT_TRUE(g->InheritsFrom(&TSPIGraphic::Class));
}

TEST_F(PluginBitmap, PictureLoadsPluginFormatsThroughTheRegistry) {
  Kvp k;
  k.bits = 8;
  k.height = -3;
  TPicture picture;
  int changes = 0;
  picture.OnChange = [&](TObject*) { ++changes; };
  picture.LoadFile(dir.Write("photo.KVP", k.File()));
  ASSERT_NE(picture.Graphic(), nullptr);
  EXPECT_STREQ(picture.Graphic()->ClassName(), "TSPIBitmap");
  EXPECT_EQ(changes, 1);
  ExpectPicture(*picture.AsBitmap(), k);

  // Saved, it is a plain BMP of the same picture.
  const std::string out = dir.Write("saved.bmp", "");
  picture.AsBitmap()->SaveFile(out);
  TBitmap reread;
  reread.LoadFile(out);
  ExpectPicture(reread, k);

  Kvp bad;
  bad.switches = KVP_FAIL;
  EXPECT_THROW(picture.LoadFile(dir.Write("bad.kvp", bad.File())), EInvalidGraphic);
  EXPECT_EQ(changes, 1);
  ExpectPicture(*picture.AsBitmap(), k);
}

#if defined(_WIN32)
TEST_F(PluginBitmap, CrashingPluginIsNamedAndThePreviousPictureStays) {
  Kvp k;
  TPicture picture;
  picture.LoadFile(dir.Write("photo.kvp", k.File()));
  Kvp crash;
  crash.switches = KVP_CRASH;
  try {
    picture.LoadFile(dir.Write("crash.kvp", crash.File()));
    FAIL() << "no failure";
  } catch (const ESPIPluginFault& e) {
    EXPECT_NE(e.Message().find("kvpdec.spi"), std::string::npos) << e.Message();
  }
  ExpectPicture(*picture.AsBitmap(), k);
}
#endif

}  // namespace
