// Writing the BMP form and the stored form.
#include <gtest/gtest.h>

#include "picture/bitmap.h"
#include "picture/bitmap/bmp_builder.h"
#include "rtl/exceptions.h"
#include "rtl/streams.h"

using namespace bmptest;

namespace {

Bmp Indexed8(uint32_t headerSize) {
  Bmp b;
  b.headerSize = headerSize;
  b.width = 3;
  b.height = 2;
  b.bits = 8;
  for (uint32_t i = 0; i < 256; ++i) b.colors.push_back(i * 0x010101);
  b.pixels = {1, 2, 3, 0, 4, 5, 6, 0};
  return b;
}

// A stream that takes only its first `room` bytes.
class ShortStream : public TMemoryStream {
 public:
  explicit ShortStream(int64_t room) : room_(room) {}
  int64_t Write(const void* buffer, int64_t count) override {
    const int64_t n = std::min(count, room_ - Size());
    return n > 0 ? TMemoryStream::Write(buffer, n) : 0;
  }

 private:
  int64_t room_;
};

}  // namespace

TEST(BitmapWrite, InfoHeaderFileWrittenWithFortyByteHeader) {
  for (uint32_t headerSize : {40u, 108u, 124u}) {
    SCOPED_TRACE(headerSize);
    Bmp in = Indexed8(headerSize);
    in.xppm = 1234;
    in.clrImportant = 7;
    TBitmap bmp;
    Load(bmp, in.Build());
    const Bytes out = Save(bmp);
    ASSERT_EQ(out.size(), 14u + 40 + 1024 + 8);
    EXPECT_EQ(Get16(out, 0), 0x4D42);
    EXPECT_EQ(Get32(out, 2), out.size());
    EXPECT_EQ(Get32(out, 6), 0u);
    EXPECT_EQ(Get32(out, 10), 14u + 40 + 1024);
    EXPECT_EQ(Get32(out, 14), 40u);
    EXPECT_EQ(Get32(out, 34), 8u);  // image size
    EXPECT_EQ(Get32(out, 38), 1234u);
    EXPECT_EQ(Get32(out, 46), 256u);  // colours used: the entries written
    EXPECT_EQ(Get32(out, 50), 7u);
    EXPECT_EQ(Bytes(out.end() - 8, out.end()), in.pixels);
    TBitmap again;
    Load(again, out);
    for (int y = 0; y < 2; ++y)
      for (int x = 0; x < 3; ++x) EXPECT_EQ(again.PixelRGB(x, y), bmp.PixelRGB(x, y));
  }
}

TEST(BitmapWrite, CoreHeaderFileStaysCoreWithFullThreeByteTable) {
  Bmp in = Indexed8(12);
  in.bits = 4;
  in.colors.resize(16);
  in.pixels = {0x12, 0x30, 0, 0, 0x45, 0x60, 0, 0};
  TBitmap bmp;
  Load(bmp, in.Build());
  Bytes out = Save(bmp);
  EXPECT_EQ(out, in.Build());  // the same layout as the core file
  EXPECT_EQ(Get32(out, 14), 12u);
  EXPECT_EQ(out.size(), 14u + 12 + 16 * 3 + 8);

  // An info-header table of three entries is written with colours used 3.
  Bmp info = Indexed8(40);
  info.bits = 4;
  info.clrUsed = 3;
  info.colors = {0x0000FF, 0x00FF00, 0xFF0000};
  info.pixels = {0x12, 0, 0, 0, 0x01, 0, 0, 0};
  Load(bmp, info.Build());
  out = Save(bmp);
  EXPECT_EQ(Get32(out, 46), 3u);
  EXPECT_EQ(out.size(), 14u + 40 + 12 + 8);
}

TEST(BitmapWrite, BitFieldsKeepTheirMasksAndDefaultsWhenUnset) {
  Bmp in;
  in.width = 1;
  in.height = 1;
  in.bits = 16;
  in.compression = 3;
  in.masks = {0x7C00, 0x03E0, 0x001F};
  in.sizeImage = 4;
  in.pixels = {0x1F, 0x00, 0, 0};
  TBitmap bmp;
  Load(bmp, in.Build());
  Bytes out = Save(bmp);
  EXPECT_EQ(out, in.Build());

  in.headerSize = 124;  // masks inside the long header come out after the 40-byte one
  in.masks = {0, 0, 0};
  Load(bmp, in.Build());
  out = Save(bmp);
  EXPECT_EQ(Get32(out, 10), 14u + 40 + 12);
  EXPECT_EQ(Get32(out, 54), 0xF800u);
  EXPECT_EQ(Get32(out, 58), 0x07E0u);
  EXPECT_EQ(Get32(out, 62), 0x001Fu);

  in.bits = 32;
  in.pixels = {1, 2, 3, 4};
  Load(bmp, in.Build());
  out = Save(bmp);
  EXPECT_EQ(Get32(out, 54), 0xFF0000u);
  EXPECT_EQ(Get32(out, 62), 0x0000FFu);
}

TEST(BitmapWrite, TopDownRowsAreWrittenAsHeld) {
  Bmp in;
  in.width = 1;
  in.height = -2;
  in.sizeImage = 8;
  in.pixels = {1, 2, 3, 0, 4, 5, 6, 0};
  TBitmap bmp;
  Load(bmp, in.Build());
  EXPECT_EQ(Save(bmp), in.Build());
}

TEST(BitmapWrite, EmptyBitmapWritesNothingAndShortWriteFails) {
  TBitmap bmp;
  EXPECT_TRUE(Save(bmp).empty());
  Load(bmp, Indexed8(40).Build());
  ShortStream s(100);
  EXPECT_THROW(bmp.SaveStream(s), EWriteError);
}

TEST(BitmapStored, CountThenImageAndZeroForEmpty) {
  TBitmap bmp;
  TMemoryStream s;
  bmp.WriteDesignData(s);
  EXPECT_EQ(s.Size(), 4);
  s.SetPosition(0);
  Load(bmp, Indexed8(40).Build());
  bmp.ReadDesignData(s);
  EXPECT_TRUE(bmp.IsEmpty());

  Load(bmp, Indexed8(12).Build());
  TMemoryStream t;
  bmp.WriteDesignData(t);
  const Bytes image = Save(bmp);
  const auto* p = static_cast<const uint8_t*>(t.Memory());
  ASSERT_EQ(t.Size(), static_cast<int64_t>(4 + image.size()));
  EXPECT_EQ(Get32(Bytes(p, p + 4), 0), image.size());
  t.Write("tail", 4);  // the record stops at its count
  t.SetPosition(0);
  TBitmap back;
  back.ReadDesignData(t);
  EXPECT_EQ(t.Position(), static_cast<int64_t>(4 + image.size()));
  EXPECT_TRUE(back.FromCoreHeader());
  EXPECT_EQ(back.PixelRGB(2, 0), 0x060606u);
}

TEST(BitmapStored, CountPastTheStreamFails) {
  TMemoryStream s;
  const uint8_t record[] = {0xFF, 0xFF, 0xFF, 0x7F, 'B', 'M'};
  s.Write(record, sizeof record);
  s.SetPosition(0);
  TBitmap bmp;
  EXPECT_THROW(bmp.ReadDesignData(s), EReadError);
  EXPECT_TRUE(bmp.IsEmpty());
}
