// Metafiles: placeable, plain and enhanced forms, their sizes, writing back, malformed data,
// and the picture rendered for saving.
#include <gtest/gtest.h>

#include <string>

#include "builders.h"
#include "picture/metafile.h"
#include "picture/picture.h"
#include "picture/render.h"
#include "rtl/exceptions.h"
#include "rtl/messages.h"

namespace {

void Load(TMetafile& mf, const Bytes& bytes) {
  TPointerStream s(bytes.data(), static_cast<int64_t>(bytes.size()));
  mf.LoadStream(s);
}

const std::vector<WmfRecord> kWindow = {{0x020B, {20, 10}},
                                        {0x020C, {100, 200}}};  // org (10,20), ext 200x100

Bytes Emf(int32_t fr, int32_t fb, int32_t br = 0, int32_t bb = 0) {
  const int32_t bounds[4] = {0, 0, br, bb};
  const int32_t frame[4] = {0, 0, fr, fb};
  return BuildEmf(bounds, frame, {});
}

}  // namespace

TEST(MetafileSize, PlaceableUsesItsBoxAndUnitsPerInch) {
  TMetafile mf;
  Load(mf, BuildPlaceable(0, 0, 1440, 720, 1440, {}));
  EXPECT_EQ(mf.Kind(), TMetafileKind::mkPlaceable);
  EXPECT_EQ(mf.Width(), 96);
  EXPECT_EQ(mf.Height(), 48);
  EXPECT_EQ(mf.Window().orgX, 0);
  EXPECT_EQ(mf.Window().extX, 1440);
  Load(mf, BuildPlaceable(-100, 50, 900, 550, 1000, {}));  // 1000 x 500 units at 1000 per inch
  EXPECT_EQ(mf.Width(), 96);
  EXPECT_EQ(mf.Height(), 48);
  EXPECT_EQ(mf.Window().orgX, -100);
  EXPECT_EQ(mf.Window().orgY, 50);
}

TEST(MetafileSize, PlainWindowsMetafilesUseTheirLastWindowExtent) {
  TMetafile mf;
  Load(mf, BuildWmf(kWindow));
  EXPECT_EQ(mf.Kind(), TMetafileKind::mkWindows);
  EXPECT_EQ(mf.Width(), 200);
  EXPECT_EQ(mf.Height(), 100);
  EXPECT_EQ(mf.Window().orgX, 10);
  EXPECT_EQ(mf.Window().orgY, 20);
  Load(mf, BuildWmf({{0x020C, {100, 200}}, {0x020C, {-30, 40}}}));
  EXPECT_EQ(mf.Width(), 40);
  EXPECT_EQ(mf.Height(), 30);
  Load(mf, BuildWmf({}));
  EXPECT_EQ(mf.Width(), TMetafile::kDefaultSide);
  EXPECT_EQ(mf.Height(), TMetafile::kDefaultSide);
}

TEST(MetafileSize, PlainWindowsMetafilesWithoutExtentReachAsFarAsTheirDrawing) {
  TMetafile mf;
  // Rectangle (10, 10)-(300, 40), a line to (20, 150), a polygon reaching x 320.
  Load(mf, BuildWmf({{0x041B, {40, 300, 10, 10}},
                     {0x0214, {0, 0}},
                     {0x0213, {150, 20}},
                     {0x0324, {3, 0, 0, 320, 5, 7, 9}}}));
  EXPECT_EQ(mf.Width(), 320);
  EXPECT_EQ(mf.Height(), 150);
  EXPECT_EQ(mf.Window().extX, 320);
  // A polygon whose count claims more points than the record holds reads only its own.
  Load(mf, BuildWmf({{0x0324, {900, 60, 70}}, {0x0538, {2, 1, 900, 80, 90}}}));
  EXPECT_EQ(mf.Width(), 80);
  EXPECT_EQ(mf.Height(), 90);
}

TEST(MetafileSize, EnhancedUsesItsFrameOrElseItsBounds) {
  TMetafile mf;
  Load(mf, Emf(2540, 1270));
  EXPECT_TRUE(mf.Enhanced());
  EXPECT_EQ(mf.Width(), 96);
  EXPECT_EQ(mf.Height(), 48);
  Load(mf, Emf(0, 0, 99, 49));
  EXPECT_EQ(mf.Width(), 100);
  EXPECT_EQ(mf.Height(), 50);
}

TEST(MetafileSize, HugeFramesAreScaledDownInProportion) {
  TMetafile mf;
  Load(mf, Emf(2540 * 200, 2540 * 100));  // 19200 x 9600 pixels
  EXPECT_EQ(mf.Width(), TMetafile::kMaxSide);
  EXPECT_EQ(mf.Height(), TMetafile::kMaxSide / 2);
  Load(mf, BuildWmf({{0x020C, {1, 32000}}}));
  EXPECT_EQ(mf.Width(), TMetafile::kMaxSide);
  EXPECT_EQ(mf.Height(), 1);
}

TEST(MetafileSave, WritesTheBytesBackUpToTheEndRecord) {
  for (const Bytes& original :
       {BuildPlaceable(0, 0, 100, 100, 96, kWindow), BuildWmf(kWindow), Emf(2540, 2540)}) {
    Bytes padded = original;
    padded.insert(padded.end(), {0, 0, 0, 0, 9, 9, 9, 9});
    TMetafile mf;
    TPointerStream in(padded.data(), static_cast<int64_t>(padded.size()));
    mf.LoadStream(in);
    EXPECT_EQ(in.Position(), static_cast<int64_t>(original.size()));
    TMemoryStream out;
    mf.SaveStream(out);
    const uint8_t* p = static_cast<const uint8_t*>(out.Memory());
    EXPECT_EQ(Bytes(p, p + out.Size()), original);
  }
}

TEST(MetafileCopy, CopyFromSharesAndNoneEmpties) {
  TMetafile a, b;
  Load(a, BuildWmf(kWindow));
  b.CopyFrom(&a);
  EXPECT_EQ(b.Width(), 200);
  EXPECT_TRUE(b.SameContent(a));
  b.CopyFrom(nullptr);
  EXPECT_TRUE(b.IsEmpty());
  EXPECT_EQ(b.Kind(), TMetafileKind::mkNone);
  TPicture p;
  p.SetGraphic(&a);
  EXPECT_STREQ(p.Graphic()->ClassName(), "TMetafile");
  EXPECT_EQ(p.Height(), 100);
}

class MalformedMetafile : public ::testing::Test {
 protected:
  void SetUp() override { Load(mf_, BuildWmf(kWindow)); }
  void ExpectRejected(const Bytes& bytes) {
    try {
      Load(mf_, bytes);
      ADD_FAILURE() << "accepted";
    } catch (const EInvalidGraphic& e) {
      EXPECT_EQ(e.Message(), msg::kInvalidMetafile);
    } catch (const EReadError&) {
      ADD_FAILURE() << "stream error instead of the metafile message";
    }
    EXPECT_EQ(mf_.Width(), 200);  // unchanged
  }
  TMetafile mf_;
};

TEST_F(MalformedMetafile, EveryTruncationIsRejected) {
  for (const Bytes& good : {BuildPlaceable(0, 0, 100, 100, 96, kWindow), BuildWmf(kWindow), Emf(2540, 2540)})
    for (size_t n = 1; n < good.size(); ++n) {
      SCOPED_TRACE(n);
      ExpectRejected(Bytes(good.begin(), good.begin() + static_cast<ptrdiff_t>(n)));
    }
}

TEST_F(MalformedMetafile, BadHeadersAndRecordsAreRejected) {
  ExpectRejected(Bytes{'h', 'e', 'l', 'l', 'o', ' ', 'w', 'o', 'r', 'l', 'd', '!', '!',
                       '!', '!', '!', '!', '!', '!', '!', '!', '!', '!', '!', '!'});
  Bytes wmf = BuildWmf(kWindow);
  Bytes b = wmf;
  b[2] = 10;  // header words
  ExpectRejected(b);
  b = wmf;
  b[4] = 0x00;  // version 0x0300 -> 0x0000
  b[5] = 0x00;
  ExpectRejected(b);
  b = wmf;
  Set32(b, 18, 0);  // a record of no length would never advance
  ExpectRejected(b);
  b = wmf;
  Set32(b, 18, 0x7FFFFFFF);  // a record far past the end
  ExpectRejected(b);
  b = wmf;
  b.resize(b.size() - 6);  // no end record
  ExpectRejected(b);

  Bytes placeable = BuildPlaceable(0, 0, 100, 100, 0, {});  // units per inch 0
  ExpectRejected(placeable);
  ExpectRejected(BuildPlaceable(0, 0, 0, 100, 96, {}));  // empty box

  Bytes emf = Emf(2540, 2540);
  b = emf;
  Set32(b, 48, static_cast<uint32_t>(emf.size() + 4));  // more bytes than the file holds
  ExpectRejected(b);
  b = emf;
  Set32(b, 4, 40);  // header too short
  ExpectRejected(b);
  b = emf;
  Set32(b, 108 + 4, 6);  // end record of 6 bytes
  ExpectRejected(b);
  b = emf;
  Set32(b, 108 + 4, 0);
  ExpectRejected(b);
  ExpectRejected(Emf(-5, 100, -1, -1));  // no usable frame or bounds
}

TEST(MetafileRender, RendersAWhitePictureOfItsSizeWithTheDrawingWherePlayable) {
  const uint32_t kRed = 0x000000FF;  // COLORREF
  TMetafile wmf, emf, placeable;
  Load(wmf, BuildWmf([&] {
         auto r = kWindow;
         auto fill = WmfFilledRect(-100, -100, 1000, 1000, kRed);
         r.insert(r.end(), fill.begin(), fill.end());
         return r;
       }()));
  const int32_t bounds[4] = {0, 0, 95, 47};
  const int32_t frame[4] = {0, 0, 2540, 1270};
  Load(emf, BuildEmf(bounds, frame, EmfFilledRect(-1000, -1000, 10000, 10000, kRed)));
  Load(placeable, BuildPlaceable(0, 0, 1440, 720, 1440, WmfFilledRect(-10, -10, 2000, 2000, kRed)));
  for (TMetafile* mf : {&wmf, &emf, &placeable}) {
    auto bmp = RenderToBitmap(*mf);
    ASSERT_EQ(bmp->Width(), mf->Width());
    ASSERT_EQ(bmp->Height(), mf->Height());
    EXPECT_EQ(bmp->BitCount(), 24);
    uint32_t centre = bmp->PixelRGB(mf->Width() / 2, mf->Height() / 2);
#ifdef _WIN32
    EXPECT_EQ(centre, 0xFF0000u) << "kind " << static_cast<int>(mf->Kind());
#else
    EXPECT_EQ(centre, 0xFFFFFFu);  // nothing plays metafiles natively
#endif
    EXPECT_EQ(ShownBitCount(*mf), 24);
  }
}

TEST(MetafilePicture, OpensBothExtensionsThroughTheRegistry) {
  TempDir dir;
  TPicture p;
  p.LoadFile(dir.Write("a.WMF", BuildPlaceable(0, 0, 960, 480, 960, {})));
  EXPECT_STREQ(p.Graphic()->ClassName(), "TMetafile");
  EXPECT_EQ(p.Width(), 96);
  p.LoadFile(dir.Write("b.emf", Emf(2540, 5080)));
  EXPECT_EQ(p.Height(), 192);
  // A metafile file with bad data leaves the picture as it was.
  EXPECT_THROW(p.LoadFile(dir.Write("c.emf", Bytes(200, 0x41))), EInvalidGraphic);
  EXPECT_EQ(p.Height(), 192);
}
