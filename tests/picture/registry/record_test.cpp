// The stored picture record: class name length, class name, the graphic's own stored data.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>

#include "builders.h"
#include "picture/bitmap.h"
#include "picture/icon.h"
#include "picture/picture.h"
#include "rtl/exceptions.h"
#include "test_graphics.h"

namespace {

// A 2 x 2 24-bit BMP file image: red, green / blue, white from the top.
Bytes TinyBmp() {
  Bytes b = {'B', 'M'};
  Put32(b, 14 + 40 + 16);
  Put32(b, 0);
  Put32(b, 54);
  Put32(b, 40);
  Put32(b, 2);
  Put32(b, 2);
  Put16(b, 1);
  Put16(b, 24);
  for (int i = 0; i < 6; ++i) Put32(b, 0);
  const uint8_t rows[] = {0xFF, 0, 0,    0xFF, 0xFF, 0xFF, 0, 0,   // bottom row: blue, white
                          0,    0, 0xFF, 0,    0xFF, 0,    0, 0};  // top row: red, green
  b.insert(b.end(), rows, rows + sizeof rows);
  return b;
}

Bytes Record(const std::string& name, const Bytes& data) {
  Bytes r(1 + name.size() + data.size());
  r[0] = static_cast<uint8_t>(name.size());
  std::copy(name.begin(), name.end(), r.begin() + 1);
  std::copy(data.begin(), data.end(), r.begin() + 1 + static_cast<ptrdiff_t>(name.size()));
  return r;
}

Bytes Contents(TMemoryStream& s) {
  const uint8_t* p = static_cast<const uint8_t*>(s.Memory());
  return Bytes(p, p + s.Size());
}

struct Counted {
  TPicture picture;
  int changes = 0;
  Counted() {
    picture.OnChange = [this](TObject*) { ++changes; };
  }
};

class StoredRecord : public ::testing::Test {
 protected:
  void TearDown() override { TPicture::UnregisterFormatClass(&TTextGraphic::Class); }
};

}  // namespace

TEST_F(StoredRecord, ABitmapRecordReadsAndWritesBack) {
  Bytes bmp = TinyBmp();
  Bytes count;
  Put32(count, static_cast<uint32_t>(bmp.size()));
  count.insert(count.end(), bmp.begin(), bmp.end());
  Bytes rec = Record("TBitmap", count);

  Counted c;
  TPointerStream in(rec.data(), static_cast<int64_t>(rec.size()));
  c.picture.ReadData(in);
  EXPECT_EQ(c.changes, 1);
  ASSERT_NE(c.picture.Graphic(), nullptr);
  EXPECT_STREQ(c.picture.Graphic()->ClassName(), "TBitmap");
  auto* b = static_cast<TBitmap*>(c.picture.Graphic());
  EXPECT_EQ(c.picture.Width(), 2);
  EXPECT_EQ(b->PixelRGB(0, 0), 0xFF0000u);
  EXPECT_EQ(b->PixelRGB(1, 1), 0xFFFFFFu);

  // Written back: the name, then the bitmap's count and its BMP file image.
  TMemoryStream out, image;
  c.picture.WriteData(out);
  b->SaveStream(image);
  Bytes expected;
  Put32(expected, static_cast<uint32_t>(image.Size()));
  Bytes imageBytes = Contents(image);
  expected.insert(expected.end(), imageBytes.begin(), imageBytes.end());
  EXPECT_EQ(Contents(out), Record("TBitmap", expected));
  out.SetPosition(0);
  TPicture back;
  back.ReadData(out);
  EXPECT_EQ(static_cast<TBitmap*>(back.Graphic())->PixelRGB(1, 0), 0x00FF00u);
  // A change inside the graphic read from the record reaches the picture.
  b->CopyFrom(nullptr);
  EXPECT_EQ(c.changes, 2);
}

TEST_F(StoredRecord, CountZeroGivesAnEmptyBitmapAndUnknownClassesAnEmptyPicture) {
  Counted c;
  Bytes zero = Record("TBitmap", Bytes{0, 0, 0, 0});
  TPointerStream in(zero.data(), static_cast<int64_t>(zero.size()));
  c.picture.ReadData(in);
  ASSERT_NE(c.picture.Graphic(), nullptr);
  EXPECT_TRUE(c.picture.Graphic()->IsEmpty());
  EXPECT_EQ(c.changes, 1);

  Bytes unknown = Record("TJpegImage", Bytes{1, 2, 3, 4, 5});
  TPointerStream in2(unknown.data(), static_cast<int64_t>(unknown.size()));
  c.picture.ReadData(in2);
  EXPECT_EQ(c.picture.Graphic(), nullptr);
  EXPECT_EQ(c.changes, 2);
  EXPECT_EQ(in2.Position(), 11);  // the rest is left unread

  // An empty picture writes a name of length 0, which reads back as an empty picture.
  TMemoryStream out;
  c.picture.WriteData(out);
  EXPECT_EQ(Contents(out), Bytes{0});
  out.SetPosition(0);
  TPicture back;
  back.ReadData(out);
  EXPECT_EQ(back.Graphic(), nullptr);
}

TEST_F(StoredRecord, NamesLongerThanSixtyThreeCharactersAreRejected) {
  TPicture::RegisterFormat(
      "txt", "t", &TAVeryLongGraphicClassNameThatGoesOnAndOnBeyondTheSixtyThreeCharacterLimit::Class);
  TPicture::RegisterFormat("txt", "t", &TTextGraphic::Class);
  Counted c;
  TTextGraphic original;
  c.picture.SetGraphic(&original);
  TGraphic* before = c.picture.Graphic();
  int changes = c.changes;

  // The long name is kept whole: 64 characters are refused before any lookup.
  std::string longName(64, 'T');
  std::memcpy(&longName[0], "TAVeryLong", 10);
  Bytes rec = Record(longName, Bytes{'O', 'K', ' ', '1', ' ', '1'});
  TPointerStream in(rec.data(), static_cast<int64_t>(rec.size()));
  EXPECT_THROW(c.picture.ReadData(in), EReadError);
  EXPECT_EQ(c.picture.Graphic(), before);
  EXPECT_EQ(c.changes, changes);

  // Writing cuts a long class name to 63 characters.
  TAVeryLongGraphicClassNameThatGoesOnAndOnBeyondTheSixtyThreeCharacterLimit longGraphic;
  c.picture.SetGraphic(&longGraphic);
  TMemoryStream out;
  c.picture.WriteData(out);
  Bytes written = Contents(out);
  ASSERT_GE(written.size(), 64u);
  EXPECT_EQ(written[0], 63);
  EXPECT_EQ(std::string(written.begin() + 1, written.begin() + 64),
            std::string(longGraphic.ClassName()).substr(0, 63));
}

TEST_F(StoredRecord, TruncatedOrFailingRecordsLeaveThePictureUnchanged) {
  TPicture::RegisterFormat("txt", "t", &TTextGraphic::Class);
  Counted c;
  TTextGraphic original;
  c.picture.SetGraphic(&original);
  TGraphic* before = c.picture.Graphic();
  int live = TTextGraphic::liveCount;

  Bytes cut = Record("TTextGraphic", {});
  cut.resize(5);  // the name ends early
  TPointerStream in(cut.data(), static_cast<int64_t>(cut.size()));
  EXPECT_THROW(c.picture.ReadData(in), EReadError);

  Bytes failing = Record("TTextGraphic", Bytes{'N', 'O'});
  TPointerStream in2(failing.data(), static_cast<int64_t>(failing.size()));
  EXPECT_THROW(c.picture.ReadData(in2), EInvalidGraphic);

  TPointerStream nothing("", 0);
  EXPECT_THROW(c.picture.ReadData(nothing), EReadError);

  EXPECT_EQ(c.picture.Graphic(), before);
  EXPECT_EQ(c.changes, 1);
  EXPECT_EQ(TTextGraphic::liveCount, live);
}

TEST_F(StoredRecord, AnIconTravelsThroughTheRecord) {
  Bytes ico = BuildIcon({SolidImage(8, 8, 4, 0x0000FF), SolidImage(16, 16, 24, 0x00FF00)});
  TPicture p;
  TIcon icon;
  TPointerStream s(ico.data(), static_cast<int64_t>(ico.size()));
  icon.LoadStream(s);
  p.SetGraphic(&icon);
  TMemoryStream out;
  p.WriteData(out);
  EXPECT_EQ(Contents(out), Record("TIcon", ico));
  out.SetPosition(0);
  TPicture back;
  back.ReadData(out);
  ASSERT_NE(back.Graphic(), nullptr);
  EXPECT_STREQ(back.Graphic()->ClassName(), "TIcon");
  EXPECT_EQ(back.Width(), 16);
  EXPECT_TRUE(back.Graphic()->SameContent(icon));
}
