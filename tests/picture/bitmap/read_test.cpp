// Reading: every header, depth, compression and row order, and every kind of bad input.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <memory>

#include "picture/bitmap.h"
#include "picture/bitmap/bmp_builder.h"
#include "picture/call_off.h"
#include "rtl/exceptions.h"
#include "rtl/messages.h"

using namespace bmptest;

namespace {

// A 3 x 2 picture in rows of 24 bits, bottom row first as the file holds it.
Bmp Rgb24() {
  Bmp b;
  b.width = 3;
  b.height = 2;
  b.pixels = {0x01, 0x02, 0x03, 0x11, 0x12, 0x13, 0x21, 0x22, 0x23, 0, 0, 0,   // bottom
              0x31, 0x32, 0x33, 0x41, 0x42, 0x43, 0x51, 0x52, 0x53, 0, 0, 0};  // top
  return b;
}

void ExpectInvalid(const Bytes& bytes) {
  TBitmap bmp;
  try {
    Load(bmp, bytes);
    FAIL() << "loaded";
  } catch (const EInvalidGraphic& e) {
    EXPECT_EQ(e.Message(), msg::kInvalidBitmap);
  }
  EXPECT_TRUE(bmp.IsEmpty());
}

}  // namespace

TEST(BitmapRead, TwentyFourBitsBottomUpAndTopDown) {
  TBitmap bmp;
  Load(bmp, Rgb24().Build());
  EXPECT_EQ(bmp.Width(), 3);
  EXPECT_EQ(bmp.Height(), 2);
  EXPECT_EQ(bmp.BitCount(), 24);
  EXPECT_FALSE(bmp.TopDown());
  EXPECT_EQ(bmp.PixelRGB(0, 0), 0x333231u);  // the top-left pixel is the file's last row
  EXPECT_EQ(bmp.PixelRGB(2, 1), 0x232221u);

  Bmp td = Rgb24();
  td.height = -2;
  Load(bmp, td.Build());
  EXPECT_EQ(bmp.Height(), 2);
  EXPECT_TRUE(bmp.TopDown());
  EXPECT_EQ(bmp.Header().biHeight, -2);
  EXPECT_EQ(bmp.PixelRGB(0, 0), 0x030201u);
}

TEST(BitmapRead, IndexedDepthsWithInfoAndCoreHeaders) {
  for (uint32_t headerSize : {12u, 40u, 108u, 124u}) {
    SCOPED_TRACE(headerSize);
    Bmp b;
    b.headerSize = headerSize;
    b.width = 9;
    b.height = 1;
    b.bits = 1;
    b.colors = {0x102030, 0xA0B0C0};
    b.pixels = {0xA5, 0x80, 0, 0};  // 1010 0101 1
    TBitmap bmp;
    Load(bmp, b.Build());
    EXPECT_EQ(bmp.FromCoreHeader(), headerSize == 12);
    ASSERT_EQ(bmp.ColorTable().size(), 2u);
    for (int x = 0; x < 9; ++x)
      EXPECT_EQ(bmp.PixelRGB(x, 0), ((0xA580 >> (15 - x)) & 1) ? 0xA0B0C0u : 0x102030u);

    b.bits = 4;
    b.colors.assign(16, 0);
    for (uint32_t i = 0; i < 16; ++i) b.colors[i] = i * 0x010101;
    b.width = 3;
    b.pixels = {0x1F, 0x70, 0, 0};
    Load(bmp, b.Build());
    EXPECT_EQ(bmp.PixelRGB(0, 0), 0x010101u);
    EXPECT_EQ(bmp.PixelRGB(1, 0), 0x0F0F0Fu);
    EXPECT_EQ(bmp.PixelRGB(2, 0), 0x070707u);

    b.bits = 8;
    b.colors.assign(256, 0);
    b.colors[200] = 0x123456;
    b.pixels = {200, 0, 200, 0};
    Load(bmp, b.Build());
    EXPECT_EQ(bmp.PixelRGB(0, 0), 0x123456u);
    EXPECT_EQ(bmp.PixelRGB(1, 0), 0u);
  }
}

TEST(BitmapRead, ColoursUsedSetsTheTableLengthAndIndexesPastItAreBlack) {
  Bmp b;
  b.bits = 8;
  b.width = 4;
  b.height = 1;
  b.clrUsed = 2;
  b.colors = {0xFF0000, 0x00FF00};
  b.pixels = {0, 1, 7, 0};
  TBitmap bmp;
  Load(bmp, b.Build());
  EXPECT_EQ(bmp.ColorTable().size(), 2u);
  EXPECT_EQ(bmp.PixelRGB(1, 0), 0x00FF00u);
  EXPECT_EQ(bmp.PixelRGB(2, 0), 0u);
}

TEST(BitmapRead, SixteenAndThirtyTwoBitsPlainAndBitFields) {
  Bmp b;
  b.width = 2;
  b.height = 1;
  b.bits = 16;
  b.pixels = {0x00, 0x7C, 0x1F, 0x00};  // 5-5-5: pure red, pure blue
  TBitmap bmp;
  Load(bmp, b.Build());
  EXPECT_EQ(bmp.PixelRGB(0, 0), 0xFF0000u);
  EXPECT_EQ(bmp.PixelRGB(1, 0), 0x0000FFu);

  for (uint32_t headerSize : {40u, 56u, 108u, 124u}) {
    SCOPED_TRACE(headerSize);
    b.headerSize = headerSize;
    b.compression = 3;
    b.masks = {0xF800, 0x07E0, 0x001F};
    b.pixels = {0xE0, 0x07, 0x00, 0xF8};  // 5-6-5: pure green, pure red
    Load(bmp, b.Build());
    EXPECT_EQ(bmp.Masks(), (std::vector<uint32_t>{0xF800, 0x07E0, 0x001F}));
    EXPECT_EQ(bmp.PixelRGB(0, 0), 0x00FF00u);
    EXPECT_EQ(bmp.PixelRGB(1, 0), 0xFF0000u);
  }

  Bmp c;
  c.width = 1;
  c.height = 1;
  c.bits = 32;
  c.pixels = {0x33, 0x22, 0x11, 0xFF};
  Load(bmp, c.Build());
  EXPECT_EQ(bmp.PixelRGB(0, 0), 0x112233u);  // the fourth byte is not colour
  c.compression = 3;
  c.masks = {0x000000FF, 0x0000FF00, 0x00FF0000};  // red in the lowest byte
  Load(bmp, c.Build());
  EXPECT_EQ(bmp.PixelRGB(0, 0), 0x332211u);
}

// The file header's offset to the pixels, after a gap, in a file that sits inside a larger
// stream, read in place, run-length coded; offsets that do not qualify keep the pixels right
// after the colour table.
TEST(BitmapRead, PixelsStartAtTheFileHeadersOffsetWhereTheyFit) {
  Bmp b = Rgb24();
  b.gapAfterTable = 4;
  const Bytes file = b.Build();
  Bytes larger(5 + file.size() + 7, 0x77);  // 5 bytes before the file, 7 after it
  std::memcpy(larger.data() + 5, file.data(), file.size());
  TPointerStream s(larger.data(), static_cast<int64_t>(larger.size()));
  s.SetPosition(5);
  TBitmap bmp;
  bmp.LoadStream(s);
  EXPECT_EQ(bmp.PixelRGB(0, 1), 0x030201u);
  EXPECT_EQ(bmp.PixelRGB(2, 0), 0x535251u);
  EXPECT_EQ(s.Position(), static_cast<int64_t>(5 + file.size()));  // nothing read past the rows

  // Two bytes ahead of the file image put its rows (58 bytes in) on a 4-byte boundary.
  std::shared_ptr<uint8_t[]> block(new uint8_t[file.size() + 2]);
  std::memcpy(block.get() + 2, file.data(), file.size());
  TBitmap inPlace;
  inPlace.LoadFileImage(std::shared_ptr<const uint8_t>(block, block.get() + 2), file.size());
  EXPECT_EQ(inPlace.Rows(), block.get() + 2 + 58);
  EXPECT_EQ(inPlace.PixelRGB(0, 1), 0x030201u);

  Bmp rle;
  rle.width = 2;
  rle.height = 1;
  rle.bits = 8;
  rle.compression = 1;
  rle.colors = {0x000000, 0x102030};
  rle.clrUsed = 2;
  rle.pixels = {2, 1, 0, 1};  // two of colour 1, end of bitmap
  rle.gapAfterTable = 6;
  TBitmap coded;
  Load(coded, rle.Build());
  EXPECT_EQ(coded.PixelRGB(1, 0), 0x102030u);
  EXPECT_EQ(Save(coded), rle.Build());

  // An offset into the headers, or one from which the rows would run past the file.
  for (uint32_t offset : {10u, static_cast<uint32_t>(file.size() - 23)}) {
    Bytes odd = file;
    odd[10] = static_cast<uint8_t>(offset);
    TBitmap after;
    Load(after, odd);
    EXPECT_EQ(after.PixelRGB(0, 1), 0xEEEEEEu) << offset;
  }
}

TEST(BitmapRead, MissingRowsReadAsZeroAndEmptyStreamGivesEmptyBitmap) {
  Bmp b = Rgb24();
  b.pixels.resize(12);  // only the bottom row
  TBitmap bmp;
  Load(bmp, b.Build());
  EXPECT_EQ(bmp.PixelRGB(0, 1), 0x030201u);
  EXPECT_EQ(bmp.PixelRGB(0, 0), 0u);

  int changes = 0;
  bmp.OnChange = [&](TObject*) { ++changes; };
  Load(bmp, Bytes{});
  EXPECT_TRUE(bmp.IsEmpty());
  EXPECT_EQ(bmp.Width(), 0);
  EXPECT_EQ(changes, 0);
}

// Run-length data: each escape, with the runs clipped at the picture's edges.
TEST(BitmapRead, RunLength8EveryEscapeAndClipping) {
  Bmp b;
  b.width = 4;
  b.height = 3;
  b.bits = 8;
  b.compression = 1;
  b.colors.assign(256, 0);
  for (uint32_t i = 0; i < 256; ++i) b.colors[i] = i;
  b.pixels = {3, 5,               // three of 5
              0, 0,               // end of line
              0, 3, 7, 8,  9, 0,  // absolute run of 3, padded
              0, 2, 1, 1,         // delta: one right, one up
              9, 4,               // a run past the row's end is clipped
              0, 2, 0, 50,        // delta out of the picture
              2, 6,               // ignored: below the last row
              0, 1};              // end of bitmap
  TBitmap bmp;
  Load(bmp, b.Build());
  EXPECT_TRUE(bmp.KeepsFileImage());
  EXPECT_EQ(bmp.Compression(), 1u);
  EXPECT_EQ(bmp.Header().biCompression, 0u);
  // Rows from the top: row 2 of the file is y 0.
  const uint32_t expect[3][4] = {{0, 0, 0, 0}, {7, 8, 9, 0}, {5, 5, 5, 0}};
  for (int y = 0; y < 3; ++y)
    for (int x = 0; x < 4; ++x) EXPECT_EQ(bmp.PixelRGB(x, y), expect[y][x]) << x << "," << y;
  EXPECT_EQ(Save(bmp), b.Build());
}

TEST(BitmapRead, RunLength4NibblesAndOddAbsoluteRuns) {
  Bmp b;
  b.width = 5;
  b.height = 2;
  b.bits = 4;
  b.compression = 2;
  for (uint32_t i = 0; i < 16; ++i) b.colors.push_back(i);
  b.pixels = {5, 0x12,                       // 1 2 1 2 1
              0, 0,                          // end of line
              0, 3,    0x34, 0x50,           // absolute run of 3 nibbles in two bytes
              0, 5,    0x67, 0x89, 0xA0, 0,  // absolute 5 nibbles padded to 4 bytes (clipped to 2 left)
              0, 1};
  TBitmap bmp;
  Load(bmp, b.Build());
  const uint32_t bottom[5] = {1, 2, 1, 2, 1}, top[5] = {3, 4, 5, 6, 7};
  for (int x = 0; x < 5; ++x) {
    EXPECT_EQ(bmp.PixelRGB(x, 1), bottom[x]);
    EXPECT_EQ(bmp.PixelRGB(x, 0), top[x]);
  }
}

TEST(BitmapRead, RunLengthThatEndsWithoutEndOfBitmapLeavesTheRestZero) {
  Bmp b;
  b.width = 2;
  b.height = 2;
  b.bits = 8;
  b.compression = 1;
  b.colors.assign(256, 0x010101);
  b.pixels = {2, 1, 0};  // one run, then a lone byte
  TBitmap bmp;
  Load(bmp, b.Build());
  EXPECT_EQ(bmp.PixelRGB(0, 1), 0x010101u);
  EXPECT_EQ(bmp.Rows()[2], 0u);
}

TEST(BitmapReadBad, WrongMagicPlanesHeaderSizesDepthsCompressions) {
  Bytes bytes = Rgb24().Build();
  bytes[0] = 'M';
  ExpectInvalid(bytes);

  Bmp b = Rgb24();
  b.planes = 2;
  ExpectInvalid(b.Build());

  for (uint32_t size : {0u, 4u, 16u, 20u, 39u}) {
    Bytes small = Rgb24().Build();
    small[14] = static_cast<uint8_t>(size);
    ExpectInvalid(small);
  }
  for (uint16_t bits : {0, 2, 7, 48}) {
    b = Rgb24();
    b.bits = bits;
    ExpectInvalid(b.Build());
  }
  for (uint32_t comp : {4u, 5u, 6u, 1000u}) {
    b = Rgb24();
    b.compression = comp;
    ExpectInvalid(b.Build());
  }
  b = Rgb24();
  b.compression = 1;  // 8-bit run-length on 24-bit rows
  ExpectInvalid(b.Build());
  b.compression = 3;
  b.masks = {1, 2, 4};
  ExpectInvalid(b.Build());
}

TEST(BitmapReadBad, TruncationAtEveryByteLeavesThePreviousImage) {
  Bmp variants[3] = {Rgb24(), Rgb24(), Rgb24()};
  variants[1].headerSize = 12;
  variants[1].bits = 8;
  variants[1].colors.assign(256, 0x445566);
  variants[1].pixels.assign(8, 1);
  variants[2].bits = 16;
  variants[2].compression = 3;
  variants[2].masks = {0xF800, 0x07E0, 0x001F};
  variants[2].pixels.assign(16, 0xFF);
  for (const Bmp& v : variants) {
    const Bytes full = v.Build();
    const size_t pixelsAt = full.size() - v.pixels.size();
    for (size_t n = 1; n < pixelsAt; ++n) {
      TBitmap bmp;
      Load(bmp, Rgb24().Build());
      Bytes part(full.begin(), full.begin() + static_cast<long>(n));
      EXPECT_THROW(Load(bmp, part), EReadError) << n;
      EXPECT_EQ(bmp.Width(), 3);
      EXPECT_EQ(bmp.PixelRGB(0, 0), 0x333231u);
    }
  }
}

TEST(BitmapReadBad, ColourCountsAboveTwoFiftySixOrPastTheFile) {
  Bmp b;
  b.bits = 8;
  b.width = 1;
  b.height = 1;
  b.clrUsed = 300;
  b.colors.assign(300, 0);
  b.pixels = {0, 0, 0, 0};
  ExpectInvalid(b.Build());

  b.clrUsed = 0xFFFFFFF0u;  // would be gigabytes of table
  b.colors.assign(4, 0);
  TBitmap bmp;
  EXPECT_THROW(Load(bmp, b.Build()), EReadError);
}

TEST(BitmapReadBad, HugeSizesFailWithoutAllocating) {
  struct Case {
    int32_t w, h;
    uint16_t bits;
  } cases[] = {{0x7FFFFFFF, 1, 32},  // row size past 32 bits
               {65536, 65536, 32},   // image size past 32 bits
               {30000, 30000, 24},   // more than the bitmap will hold
               {1, INT32_MIN, 8},    // no absolute value
               {-5, 1, 24}};
  for (const Case& c : cases) {
    Bmp b;
    b.width = c.w;
    b.height = c.h;
    b.bits = c.bits;
    if (c.bits == 8) b.colors.assign(256, 0);
    b.pixels = {1, 2, 3, 4};
    TBitmap bmp;
    Load(bmp, Rgb24().Build());
    try {
      Load(bmp, b.Build());
      ADD_FAILURE() << c.w << "x" << c.h;
    } catch (const EInvalidGraphic& e) {
      EXPECT_EQ(e.Message(), msg::kInvalidBitmap);
    } catch (const EOutOfMemory&) {
    }
    EXPECT_EQ(bmp.Width(), 3);
  }
}

TEST(BitmapReadBad, ImagesTheFileCannotBackAreRefusedTruncatedOnesLoad) {
  Bmp b;
  b.width = 3000;
  b.height = 3000;  // 27 MB of rows
  b.pixels.assign(200000, 0x7F);
  TBitmap bmp;
  Load(bmp, b.Build());  // 1/135 of the rows present: a truncated file, the rest is zero
  EXPECT_EQ(bmp.PixelRGB(0, 2999), 0x7F7F7Fu);
  EXPECT_EQ(bmp.PixelRGB(0, 0), 0u);

  b.pixels.assign(50000, 0x7F);  // 1/540: the header alone speaks for the size
  try {
    Load(bmp, b.Build());
    FAIL() << "loaded";
  } catch (const EInvalidGraphic& e) {
    EXPECT_EQ(e.Message(), msg::kInvalidBitmap);
  }
  EXPECT_EQ(bmp.PixelRGB(0, 2999), 0x7F7F7Fu);
}

TEST(BitmapReadBad, RunLengthTopDownIsRefused) {
  Bmp b;
  b.bits = 8;
  b.compression = 1;
  b.height = -2;
  b.colors.assign(256, 0);
  b.pixels = {0, 1};
  ExpectInvalid(b.Build());
}

// A read called off in the middle, from the stream as it is read: the rows of a large plain
// picture stop at the next strip, run-length data (read whole first) at the next strip of
// decoded rows; the bitmap keeps what it had.  Not called off, the same pictures load, the
// plain one large enough for its pages to be made ahead of the reading, which must leave
// every byte read as it was.
TEST(BitmapRead, CalledOffBetweenStrips) {
  struct CallingOff : TPointerStream {
    CallingOff(const Bytes& b, std::atomic<bool>& flag, int64_t after)
        : TPointerStream(b.data(), static_cast<int64_t>(b.size())), flag_(flag), after_(after) {}
    int64_t Read(void* buffer, int64_t count) override {
      const int64_t got = TPointerStream::Read(buffer, count);
      if (Position() >= after_) flag_ = true;
      return got;
    }
    std::atomic<bool>& flag_;
    int64_t after_;
  };
  Bmp plain;
  plain.width = 1024;
  plain.height = 1500;  // 4.6 MB of rows: five strips
  plain.pixels.assign(size_t(1024) * 3 * 1500, 0x40);
  Bmp rle;
  rle.width = 4000;
  rle.height = 600;  // 2.4 MB of rows from a few kilobytes of runs
  rle.bits = 8;
  rle.compression = 1;
  rle.colors.assign(256, 0x102030);
  for (int y = 0; y < 600; ++y) {
    for (int k = 0; k < 31; ++k) rle.pixels.insert(rle.pixels.end(), {255, 7});
    rle.pixels.insert(rle.pixels.end(), {0, 0});
  }
  struct Case {
    const Bmp& bmp;
    int64_t after;  // the stream position at which the flag is set
  };
  for (const Case& c : {Case{plain, 64 * 1024}, Case{rle, -1}}) {
    const Bytes bytes = c.bmp.Build();
    const int64_t after = c.after < 0 ? static_cast<int64_t>(bytes.size()) : c.after;
    std::atomic<bool> flag{false};
    TBitmap bmp;
    Load(bmp, Rgb24().Build());
    {
      const TCallOffScope scope(flag);
      CallingOff stream(bytes, flag, after);
      EXPECT_THROW(bmp.LoadStream(stream), EAbort) << c.bmp.width;
    }
    EXPECT_EQ(bmp.Width(), 3);
    // The same read with the flag left alone (and after the scope, with it set) loads.
    flag = false;
    {
      const TCallOffScope scope(flag);
      Load(bmp, bytes);
    }
    EXPECT_EQ(bmp.Width(), c.bmp.width);
    if (&c.bmp == &plain) {
      const size_t bytes = plain.pixels.size();
      EXPECT_EQ(std::count(bmp.Rows(), bmp.Rows() + bytes, 0x40), static_cast<std::ptrdiff_t>(bytes));
    }
    flag = true;
    Load(bmp, bytes);
    EXPECT_EQ(bmp.Height(), c.bmp.height);
  }
}
