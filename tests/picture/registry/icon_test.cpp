// Icons: which image is shown, how its pixels compose, writing back, and malformed files.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "builders.h"
#include "picture/bitmap.h"
#include "picture/icon.h"
#include "picture/picture.h"
#include "picture/render.h"
#include "rtl/exceptions.h"
#include "rtl/messages.h"

namespace {

void Load(TIcon& icon, const Bytes& bytes) {
  TPointerStream s(bytes.data(), static_cast<int64_t>(bytes.size()));
  icon.LoadStream(s);
}

// A 4 x 2 image at `bits` whose left half is transparent by the mask.
IconImageSpec HalfMasked(int bits) {
  IconImageSpec s = SolidImage(4, 2, bits, 0x00336699);
  s.mask = {true, true, false, false, true, true, false, false};
  for (size_t i = 0; i < s.pixels.size(); ++i)
    if (s.mask[i]) s.pixels[i] = 0;  // black (palette index 0 at 1 to 8 bits) under the mask
  return s;
}

TEST(IconLoad, ShowsTheLargestImageThenTheDeepest) {
  TIcon icon;
  Load(icon, BuildIcon({SolidImage(16, 16, 4, 0xFF0000), SolidImage(32, 32, 8, 0x00FF00),
                        SolidImage(32, 32, 24, 0x0000FF), SolidImage(24, 24, 32, 0xFF00FF00)}));
  EXPECT_EQ(icon.ImageCount(), 4);
  EXPECT_EQ(icon.ShownIndex(), 2);
  EXPECT_EQ(icon.Width(), 32);
  EXPECT_EQ(icon.Height(), 32);
  EXPECT_EQ(icon.BitCount(), 24);
  EXPECT_EQ(icon.PixelOver(5, 5, 0xFFFFFF), 0x0000FFu);
  EXPECT_FALSE(icon.IsEmpty());
}

// A stand-in for the plug-ins' PNG class: reads the size from the stream's header and gives
// a black picture of it, reporting one step of progress; or fails, or gives a wrong size.
class TPngStandIn : public TBitmap {
  KOR_GRAPHIC_CLASS(TPngStandIn)

 public:
  enum class Mode { kRead, kFail, kWrongSize };
  static Mode mode;
  void LoadStream(TStream& stream) override {
    uint8_t h[24];
    stream.ReadBuffer(h, sizeof h);
    TRect r{};
    ReportProgress(this, TProgressStage::psRunning, 50, false, r, "");
    if (mode == Mode::kFail) throw EInvalidGraphic("no picture");
    SetWidth((h[18] << 8 | h[19]) + (mode == Mode::kWrongSize ? 1 : 0));
    SetHeight(h[22] << 8 | h[23]);
    ReportProgress(this, TProgressStage::psEnding, 100, true, r, "");
  }
};
KOR_DEFINE_GRAPHIC_CLASS(TPngStandIn, TBitmap);
TPngStandIn::Mode TPngStandIn::mode = TPngStandIn::Mode::kRead;

}  // namespace

TEST(IconLoad, PngImagesAreReadByTheRegistrysPngClassElseTheLargestBmpImageIsShown) {
  IconImageSpec png;
  png.width = png.height = 0;  // 256 x 256
  png.png = true;
  const Bytes mixed = BuildIcon({SolidImage(16, 16, 8, 0x123456), png});
  const Bytes pngOnly = BuildIcon({png});
  auto expectBmpShown = [&](const char* why) {
    SCOPED_TRACE(why);
    TIcon icon;
    Load(icon, mixed);
    EXPECT_EQ(icon.ImageCount(), 2);
    EXPECT_EQ(icon.ShownIndex(), 0);
    EXPECT_EQ(icon.Width(), 16);
    TIcon only;
    try {
      Load(only, pngOnly);
      ADD_FAILURE() << "accepted";
    } catch (const EInvalidGraphic& e) {
      EXPECT_EQ(e.Message(), msg::kInvalidIcon);
    }
    EXPECT_TRUE(only.IsEmpty());
  };
  expectBmpShown("no class for PNG files");

  TPicture::RegisterFormat("png", "PNG", &TPngStandIn::Class);
  struct Unregister {
    ~Unregister() { TPicture::UnregisterFormatClass(&TPngStandIn::Class); }
  } unregister;
  TPngStandIn::mode = TPngStandIn::Mode::kRead;
  TIcon icon;
  std::vector<TProgressStage> heard;
  icon.OnProgress = [&](TObject*, TProgressStage stage, uint8_t, bool, TRect&, const std::string&) {
    heard.push_back(stage);
  };
  Load(icon, mixed);
  EXPECT_EQ(icon.ShownIndex(), 1);
  EXPECT_EQ(icon.Width(), 256);
  EXPECT_EQ(icon.Height(), 256);
  EXPECT_EQ(icon.BitCount(), 32);
  EXPECT_EQ(icon.PixelOver(200, 255, 0xFFFFFF), 0u);
  EXPECT_EQ(RenderToBitmap(icon)->PixelRGB(0, 0), 0u);
  EXPECT_EQ(heard,
            std::vector<TProgressStage>{TProgressStage::psRunning});  // the decoder's end is not the icon's
  TMemoryStream out;
  icon.SaveStream(out);
  const uint8_t* p = static_cast<const uint8_t*>(out.Memory());
  EXPECT_EQ(Bytes(p, p + out.Size()), mixed);
  TIcon only;
  Load(only, pngOnly);
  EXPECT_EQ(only.Width(), 256);

  // A load called off through the listener goes on up and leaves the icon as it was.
  only.OnProgress = [](TObject*, TProgressStage, uint8_t, bool, TRect&, const std::string&) {
    throw EAbort("");
  };
  EXPECT_THROW(Load(only, mixed), EAbort);
  EXPECT_EQ(only.ImageCount(), 1);

  TPngStandIn::mode = TPngStandIn::Mode::kFail;
  expectBmpShown("the class cannot read the stream");
  TPngStandIn::mode = TPngStandIn::Mode::kWrongSize;
  expectBmpShown("the class reads another size than the header's");
}

TEST(IconPixels, MaskAndXorComposeOverTheBackground) {
  for (int bits : {1, 4, 8, 24, 32}) {
    SCOPED_TRACE(bits);
    TIcon icon;
    IconImageSpec s = HalfMasked(bits);
    if (bits == 1) s.palette = {0x000000, 0x336699};
    Load(icon, BuildIcon({s}));
    EXPECT_EQ(icon.PixelOver(0, 0, 0xFFFFFF), 0xFFFFFFu);
    EXPECT_EQ(icon.PixelOver(1, 1, 0x102030), 0x102030u);
    EXPECT_EQ(icon.PixelOver(2, 0, 0xFFFFFF), 0x336699u);
    EXPECT_EQ(icon.PixelOver(3, 1, 0xFFFFFF), 0x336699u);
    EXPECT_EQ(icon.PixelOver(4, 0, 0xABCDEF), 0xABCDEFu);  // outside
  }
}

TEST(IconPixels, RowsAreBottomUpAndAlphaBlends) {
  IconImageSpec s;
  s.width = 2;
  s.height = 2;
  s.bits = 32;
  s.pixels = {0xFFFF0000, 0x80000000, 0x00000000, 0xFF00FF00};  // top: red, half black; bottom: clear, green
  TIcon icon;
  Load(icon, BuildIcon({s}));
  EXPECT_EQ(icon.PixelOver(0, 0, 0xFFFFFF), 0xFF0000u);
  EXPECT_EQ(icon.PixelOver(1, 0, 0xFFFFFF), 0x7F7F7Fu);
  EXPECT_EQ(icon.PixelOver(0, 1, 0xFFFFFF), 0xFFFFFFu);  // alpha 0 wins over an opaque mask
  EXPECT_EQ(icon.PixelOver(1, 1, 0x000000), 0x00FF00u);
}

TEST(IconPixels, ImagesWithoutAMaskAreOpaqueUnlessAlphaSaysOtherwise) {
  IconImageSpec alpha;
  alpha.width = 2;
  alpha.height = 1;
  alpha.bits = 32;
  alpha.pixels = {0x00FF0000, 0xFF0000FF};
  alpha.omitMask = true;
  IconImageSpec plain = SolidImage(3, 1, 24, 0x00ABCDEF);
  plain.omitMask = true;
  TIcon a, p;
  Load(a, BuildIcon({alpha}));
  Load(p, BuildIcon({plain}));
  EXPECT_EQ(a.PixelOver(0, 0, 0x00FF00), 0x00FF00u);
  EXPECT_EQ(a.PixelOver(1, 0, 0x00FF00), 0x0000FFu);
  EXPECT_EQ(p.PixelOver(2, 0, 0x123456), 0xABCDEFu);
}

TEST(IconSave, WritesTheFileBackByteForByteWithoutTrailingBytes) {
  Bytes ico = BuildIcon({SolidImage(16, 16, 4, 0xFF0000), SolidImage(32, 32, 32, 0xFF00FF00)});
  Bytes padded = ico;
  padded.insert(padded.end(), {1, 2, 3});
  TIcon icon;
  TPointerStream in(padded.data(), static_cast<int64_t>(padded.size()));
  icon.LoadStream(in);
  EXPECT_EQ(in.Position(), static_cast<int64_t>(ico.size()));
  TMemoryStream out;
  icon.SaveStream(out);
  const uint8_t* p = static_cast<const uint8_t*>(out.Memory());
  EXPECT_EQ(Bytes(p, p + out.Size()), ico);
}

TEST(IconCopy, CopyFromSharesTheImagesAndNoneEmpties) {
  TIcon a, b;
  Load(a, BuildIcon({SolidImage(16, 16, 24, 0x00FF00)}));
  int changes = 0;
  b.OnChange = [&](TObject*) { ++changes; };
  b.CopyFrom(&a);
  EXPECT_EQ(changes, 1);
  EXPECT_EQ(b.Width(), 16);
  EXPECT_TRUE(a.SameContent(b));
  b.CopyFrom(nullptr);
  EXPECT_EQ(changes, 2);
  EXPECT_TRUE(b.IsEmpty());
  EXPECT_EQ(b.Width(), 0);
  EXPECT_EQ(b.PixelOver(0, 0, 0x123456), 0x123456u);
}

TEST(IconLoad, AnEmptyStreamEmptiesTheIcon) {
  TIcon icon;
  Load(icon, BuildIcon({SolidImage(16, 16, 24, 0x00FF00)}));
  Load(icon, Bytes{});
  EXPECT_TRUE(icon.IsEmpty());
  EXPECT_EQ(icon.Height(), 0);
}

// Malformed icons: every one raises the icon message and leaves the icon as it was.
class MalformedIcon : public ::testing::Test {
 protected:
  void SetUp() override {
    good_ = BuildIcon({SolidImage(8, 8, 8, 0x0000FF), SolidImage(16, 16, 4, 0x00FF00)});
    Load(icon_, good_);
  }
  void ExpectRejected(const Bytes& bytes) {
    try {
      Load(icon_, bytes);
      ADD_FAILURE() << "accepted";
    } catch (const EInvalidGraphic& e) {
      EXPECT_EQ(e.Message(), msg::kInvalidIcon);
    } catch (const EReadError&) {
      ADD_FAILURE() << "stream error instead of the icon message";
    }
    EXPECT_EQ(icon_.Width(), 16);
    EXPECT_EQ(icon_.ImageCount(), 2);
  }
  Bytes good_;
  TIcon icon_;
};

TEST_F(MalformedIcon, EveryTruncationIsRejected) {
  for (size_t n = 1; n < good_.size(); ++n) {
    SCOPED_TRACE(n);
    ExpectRejected(Bytes(good_.begin(), good_.begin() + static_cast<ptrdiff_t>(n)));
  }
}

TEST_F(MalformedIcon, BadDirectoryAndHeaderFieldsAreRejected) {
  const size_t entry0 = 6, image0 = 6 + 2 * 16;
  auto with = [&](size_t at, uint32_t v, int width) {
    Bytes b = good_;
    for (int i = 0; i < width; ++i) b[at + static_cast<size_t>(i)] = static_cast<uint8_t>(v >> (8 * i));
    return b;
  };
  ExpectRejected(with(0, 1, 2));                     // reserved word
  ExpectRejected(with(2, 3, 2));                     // neither icon nor cursor
  ExpectRejected(with(4, 0, 2));                     // no entries
  ExpectRejected(with(4, 900, 2));                   // more entries than the file holds
  ExpectRejected(with(entry0 + 12, 0xFFFFFFF0, 4));  // offset far outside
  ExpectRejected(with(entry0 + 8, 0xFFFFFFFF, 4));   // size far outside
  ExpectRejected(with(entry0 + 8, 2, 4));            // too small for any image
  ExpectRejected(with(image0, 12, 4));               // core header
  ExpectRejected(with(image0, 0x7FFFFFFF, 4));       // header larger than the entry
  ExpectRejected(with(image0 + 4, 0, 4));            // width 0
  ExpectRejected(with(image0 + 4, 0x7FFFFFFF, 4));   // width no entry can hold
  ExpectRejected(with(image0 + 8, 0xFFFFFFF0, 4));   // negative height
  ExpectRejected(with(image0 + 8, 200, 4));          // rows beyond the entry
  ExpectRejected(with(image0 + 14, 3, 2));           // 3 bits per pixel
  ExpectRejected(with(image0 + 16, 1, 4));           // run-length compressed
  ExpectRejected(with(image0 + 32, 300, 4));         // more than 256 colours
}

TEST(IconPicture, LoadsThroughTheRegistryAndRendersOverWhite) {
  TempDir dir;
  IconImageSpec s = HalfMasked(24);
  TPicture p;
  p.LoadFile(dir.Write("half.ICO", BuildIcon({s})));
  ASSERT_NE(p.Graphic(), nullptr);
  EXPECT_STREQ(p.Graphic()->ClassName(), "TIcon");
  auto bmp = RenderToBitmap(*p.Graphic());
  EXPECT_EQ(bmp->Width(), 4);
  EXPECT_EQ(bmp->Height(), 2);
  EXPECT_EQ(bmp->BitCount(), 24);
  EXPECT_EQ(bmp->PixelRGB(0, 0), 0xFFFFFFu);
  EXPECT_EQ(bmp->PixelRGB(3, 1), 0x336699u);
  EXPECT_EQ(ShownBitCount(*p.Graphic()), 24);
  // The picture still shows the icon.
  EXPECT_STREQ(p.Graphic()->ClassName(), "TIcon");
}
