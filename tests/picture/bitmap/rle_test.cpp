// Run-length decoding against a pixel-by-pixel model of the format: the edges where runs meet
// row ends, odd absolute runs and their padding, deltas to the last row, odd 4-bit counts, and
// long random streams of every code (the decoder takes a faster path on long data).
#include <gtest/gtest.h>

#include <algorithm>
#include <random>

#include "picture/bitmap.h"
#include "picture/bitmap/bmp_builder.h"

using namespace bmptest;

namespace {

// The rows (bottom-up, padded to 32 bits) that `data` stands for, one pixel at a time: runs
// clipped at the row's right edge and at the last row, everything not drawn zero.
Bytes ModelRows(const Bytes& data, int width, int height, bool rle4) {
  const size_t rowBytes = rle4 ? (size_t(width) * 4 + 31) / 32 * 4 : (size_t(width) + 3) / 4 * 4;
  Bytes rows(rowBytes * size_t(height), 0);
  long x = 0, y = 0;
  auto put = [&](long px, uint8_t v) {
    if (px >= width || y >= height) return;
    uint8_t& b = rows[size_t(y) * rowBytes + size_t(rle4 ? px / 2 : px)];
    if (!rle4)
      b = v;
    else if (px & 1)
      b = static_cast<uint8_t>((b & 0xF0) | (v & 0x0F));
    else
      b = static_cast<uint8_t>((b & 0x0F) | (v << 4));
  };
  size_t i = 0;
  while (i + 1 < data.size() && y < height) {
    const uint8_t count = data[i], code = data[i + 1];
    i += 2;
    if (count) {
      for (long k = 0; k < count; ++k) put(x + k, rle4 ? ((k & 1) ? code & 0x0F : code >> 4) : code);
      x += count;
    } else if (code == 0) {
      x = 0, ++y;
    } else if (code == 1) {
      break;
    } else if (code == 2) {
      if (i + 1 >= data.size()) break;
      x += data[i], y += data[i + 1];
      i += 2;
    } else {
      const size_t bytes = rle4 ? (code + 1u) / 2 : code;
      for (long k = 0; k < code; ++k) {
        const size_t at = i + size_t(rle4 ? k / 2 : k);
        if (at >= data.size()) break;
        put(x + k, rle4 ? ((k & 1) ? data[at] & 0x0F : data[at] >> 4) : data[at]);
      }
      x += code;
      i += bytes + (bytes & 1);
    }
  }
  return rows;
}

Bmp RleBmp(int width, int height, bool rle4, Bytes data) {
  Bmp b;
  b.width = width;
  b.height = height;
  b.bits = rle4 ? 4 : 8;
  b.compression = rle4 ? 2 : 1;
  for (uint32_t i = 0; i < (rle4 ? 16u : 256u); ++i) b.colors.push_back(i);
  b.pixels = std::move(data);
  return b;
}

// Loads the data and compares every row byte, padding included, with the model.
void ExpectDecodes(int width, int height, bool rle4, const Bytes& data) {
  TBitmap bmp;
  Load(bmp, RleBmp(width, height, rle4, data).Build());
  const Bytes want = ModelRows(data, width, height, rle4);
  ASSERT_EQ(bmp.RowBytes() * size_t(height), want.size());
  const Bytes got(bmp.Rows(), bmp.Rows() + want.size());
  for (size_t k = 0; k < want.size(); ++k)
    ASSERT_EQ(got[k], want[k]) << "byte " << k << " (row " << k / bmp.RowBytes() << ")";
}

// Appends an absolute run of the given pixels (nibbles for 4 bits), padded to 16 bits.
void Absolute(Bytes& d, const Bytes& pixels, bool rle4) {
  d.push_back(0);
  d.push_back(static_cast<uint8_t>(pixels.size()));
  size_t bytes = 0;
  for (size_t k = 0; k < pixels.size(); ++k) {
    if (!rle4)
      d.push_back(pixels[k]), ++bytes;
    else if (k & 1)
      d.back() = static_cast<uint8_t>(d.back() | (pixels[k] & 0x0F));
    else
      d.push_back(static_cast<uint8_t>(pixels[k] << 4)), ++bytes;
  }
  if (bytes & 1) d.push_back(0);
}

Bytes Ramp(size_t n, uint8_t from, uint8_t mask = 0xFF) {
  Bytes p(n);
  for (size_t k = 0; k < n; ++k) p[k] = static_cast<uint8_t>((from + k) & mask);
  return p;
}

}  // namespace

TEST(BitmapRunLength, RunsEndingExactlyAtTheRowEndAndOnePast) {
  for (bool rle4 : {false, true}) {
    const uint8_t mask = rle4 ? 0x0F : 0xFF;
    for (int width : {1, 3, 4, 31, 32, 33, 40, 64, 255}) {
      SCOPED_TRACE(testing::Message() << "width " << width << (rle4 ? " rle4" : " rle8"));
      for (int extra : {0, 1}) {
        Bytes d;
        // Row 0: an encoded run that fills the row exactly (or one past); row 1 likewise with
        // an absolute run when the width allows one; row 2 ends with a run cut by the edge.
        d.insert(d.end(), {static_cast<uint8_t>(std::min(width + extra, 255)), 0x5A, 0, 0});
        if (width + extra >= 3 && width + extra <= 255)
          Absolute(d, Ramp(size_t(width + extra), 1, mask), rle4);
        else
          d.insert(d.end(), {static_cast<uint8_t>(width), 0x33});
        d.insert(d.end(), {0, 0});
        d.insert(d.end(), {static_cast<uint8_t>(width > 1 ? width - 1 : 1), 0x77, 40, 0x22, 0, 0});
        d.insert(d.end(), {2, 0x44, 0, 1});
        ExpectDecodes(width, 4, rle4, d);
      }
    }
  }
}

TEST(BitmapRunLength, OddAbsoluteRunsAndTheirPadding) {
  for (bool rle4 : {false, true}) {
    for (size_t n : {3u, 5u, 7u, 33u, 35u, 63u, 65u, 255u}) {
      SCOPED_TRACE(testing::Message() << n << (rle4 ? " rle4" : " rle8"));
      Bytes d;
      Absolute(d, Ramp(n, 9, rle4 ? 0x0F : 0xFF), rle4);
      d.insert(d.end(), {3, 0xEE});  // must follow the padding, not read it as a code
      Absolute(d, Ramp(n, 200, rle4 ? 0x0F : 0xFF), rle4);
      d.insert(d.end(), {0, 0, 1, 0x11, 0, 1});
      ExpectDecodes(600, 2, rle4, d);
      ExpectDecodes(int(n) + 1, 2, rle4, d);  // the second run is clipped
    }
  }
}

TEST(BitmapRunLength, DeltasReachingAndPassingTheLastRow) {
  for (bool rle4 : {false, true}) {
    SCOPED_TRACE(rle4 ? "rle4" : "rle8");
    Bytes d = {4, 0x12, 0, 2, 3, 4};  // from row 0 to the last row, four pixels on
    d.insert(d.end(), {40, 0x34});    // runs past the last row's end
    d.insert(d.end(), {0, 0});        // an end of line below the last row ends the picture
    d.insert(d.end(), {5, 0x56, 0, 1});
    ExpectDecodes(20, 5, rle4, d);

    Bytes past = {2, 0x12, 0, 2, 1, 9, 5, 0x56, 0, 0, 5, 0x78};  // a delta below the picture
    ExpectDecodes(20, 5, rle4, past);
    Bytes right = {2, 0x12, 0, 2, 250, 0, 5, 0x56, 0, 2, 0, 1, 3, 0x9A};  // right out, then up
    ExpectDecodes(20, 5, rle4, right);
    Bytes last = {0, 2, 19, 4, 1, 0x9A, 0, 1};  // the very last pixel
    ExpectDecodes(20, 5, rle4, last);
  }
}

TEST(BitmapRunLength, FourBitRunsWithOddPixelCounts) {
  for (int width : {1, 2, 3, 7, 8, 9}) {
    SCOPED_TRACE(width);
    Bytes d;
    for (uint8_t n : {1, 3, 5}) d.insert(d.end(), {n, 0xC3});  // each restarts on the high nibble
    d.insert(d.end(), {0, 0});
    Absolute(d, {1, 2, 3}, true);
    Absolute(d, {4, 5, 6, 7, 8}, true);
    d.insert(d.end(), {0, 0, 7, 0xAB, 0, 2, 1, 0, 3, 0xDE, 0, 1});
    ExpectDecodes(width, 3, true, d);
  }
}

// Long streams of every code in random order, lengths and truncations: the model and the
// decoder must agree on every byte of the rows.
TEST(BitmapRunLength, RandomStreamsAgreeWithTheModel) {
  std::mt19937 random(2718);
  for (int round = 0; round < 400; ++round) {
    const bool rle4 = round % 3 == 2;
    const int width = 1 + int(random() % (round % 4 == 0 ? 12 : 400));
    const int height = 1 + int(random() % 12);
    Bytes d;
    const size_t ops = random() % 300;
    for (size_t k = 0; k < ops; ++k) {
      const uint32_t r = random() % 100;
      if (r < 40) {
        d.insert(d.end(),
                 {static_cast<uint8_t>(1 + random() % (r < 30 ? 40 : 255)), static_cast<uint8_t>(random())});
      } else if (r < 80) {
        const size_t n = 3 + random() % (r < 70 ? 40 : 253);
        Absolute(d, Ramp(n, static_cast<uint8_t>(random()), rle4 ? 0x0F : 0xFF), rle4);
      } else if (r < 92) {
        d.insert(d.end(), {0, 0});
      } else if (r < 97) {
        d.insert(d.end(), {0, 2, static_cast<uint8_t>(random() % 30), static_cast<uint8_t>(random() % 3)});
      } else if (r < 98) {
        d.insert(d.end(), {0, 1});
      } else {
        d.push_back(static_cast<uint8_t>(random()));  // misaligns everything after it
      }
    }
    if (round % 5 == 1 && !d.empty()) d.resize(random() % d.size());  // cut anywhere
    SCOPED_TRACE(testing::Message() << "round " << round << " " << width << "x" << height);
    ExpectDecodes(width, height, rle4, d);
  }
}

TEST(BitmapRunLength, RandomBytesAgreeWithTheModel) {
  std::mt19937 random(314);
  for (int round = 0; round < 200; ++round) {
    Bytes d(random() % 2000);
    for (auto& b : d) b = static_cast<uint8_t>(random() % 4 == 0 ? random() % 4 : random());
    SCOPED_TRACE(round);
    ExpectDecodes(1 + int(random() % 300), 1 + int(random() % 30), round & 1, d);
  }
}
