#include "sniff.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace ifwic {
namespace {

std::vector<uint8_t> bytes(const std::string& s) { return std::vector<uint8_t>(s.begin(), s.end()); }

Container id(const std::string& s) { return identify(reinterpret_cast<const uint8_t*>(s.data()), s.size()); }

TEST(Signatures, EachContainerByItsLeadingBytes) {
  EXPECT_EQ(id(std::string("\x89PNG\r\n\x1a\n", 8)), Container::Png);
  EXPECT_EQ(id("\xFF\xD8\xFF\xE0"), Container::Jpeg);
  EXPECT_EQ(id("GIF87a"), Container::Gif);
  EXPECT_EQ(id("GIF89a"), Container::Gif);
  EXPECT_EQ(id(std::string("II*\0", 4)), Container::Tiff);
  EXPECT_EQ(id(std::string("MM\0*", 4)), Container::Tiff);
  EXPECT_EQ(id(std::string("II\xBC\x01", 4)), Container::JpegXr);
}

TEST(Signatures, NearMissesAndShortDataAreRefused) {
  EXPECT_EQ(id(std::string("\x89PNG\r\n\x1a", 7)), Container::None);  // one byte short
  EXPECT_EQ(id("GIF88a"), Container::None);
  EXPECT_EQ(id("BM6\0"), Container::None);
  EXPECT_EQ(id(""), Container::None);
  EXPECT_EQ(id(std::string("\xFF\xD8", 2)), Container::None);
}

// SOI, a DQT-like segment, SOS with entropy data holding a stuffed 0xFF and a restart marker.
std::vector<uint8_t> tinyJpeg() {
  return {0xFF, 0xD8, 0xFF, 0xDB, 0x00, 0x04, 0x01, 0x02, 0xFF, 0xDA, 0x00,
          0x03, 0x00, 0x11, 0xFF, 0x00, 0x22, 0xFF, 0xD0, 0x33, 0xFF, 0xD9};
}

TEST(JpegEnd, CompleteStreamReachesItsEndMarker) {
  const auto j = tinyJpeg();
  EXPECT_TRUE(jpegComplete(j.data(), j.size()));
}

TEST(JpegEnd, EveryTruncationIsDetected) {
  const auto j = tinyJpeg();
  for (size_t n = 0; n < j.size(); ++n) EXPECT_FALSE(jpegComplete(j.data(), n)) << n;
}

TEST(JpegEnd, SegmentLengthBeyondTheDataFails) {
  std::vector<uint8_t> j = {0xFF, 0xD8, 0xFF, 0xE1, 0x7F, 0xFF, 0x00, 0xFF, 0xD9};
  EXPECT_FALSE(jpegComplete(j.data(), j.size()));
}

std::vector<uint8_t> pngWithPhys(uint32_t ppm, uint8_t unit) {
  std::vector<uint8_t> p = bytes(std::string("\x89PNG\r\n\x1a\n", 8));
  const uint8_t ihdr[] = {0, 0, 0, 13, 'I', 'H', 'D', 'R', 0, 0, 0, 7, 0, 0, 0, 5, 8, 3, 0, 0, 0, 0, 0, 0, 0};
  p.insert(p.end(), ihdr, ihdr + sizeof ihdr);
  const uint8_t phys[] = {0,
                          0,
                          0,
                          9,
                          'p',
                          'H',
                          'Y',
                          's',
                          uint8_t(ppm >> 24),
                          uint8_t(ppm >> 16),
                          uint8_t(ppm >> 8),
                          uint8_t(ppm),
                          uint8_t(ppm >> 24),
                          uint8_t(ppm >> 16),
                          uint8_t(ppm >> 8),
                          uint8_t(ppm),
                          unit,
                          0,
                          0,
                          0,
                          0};
  p.insert(p.end(), phys, phys + sizeof phys);
  return p;
}

TEST(Density, PngPerMetreBecomesPerInch) {
  const auto p = pngWithPhys(2835, 1);
  const Density d = readDensity(Container::Png, p.data(), p.size());
  EXPECT_EQ(d.x, 72);
  EXPECT_EQ(d.y, 72);
  const auto aspect = pngWithPhys(2835, 0);  // unit 0: aspect ratio only
  EXPECT_EQ(readDensity(Container::Png, aspect.data(), aspect.size()).x, 0);
  // Cut inside the chunk: nothing read past the end, no density.
  EXPECT_EQ(readDensity(Container::Png, p.data(), p.size() - 8).x, 0);
}

TEST(Density, JfifUnitsOfInchAndCentimetre) {
  std::vector<uint8_t> j = {0xFF, 0xD8, 0xFF, 0xE0, 0x00, 0x10, 'J',  'F',  'I', 'F',
                            0,    1,    1,    1,    0x01, 0x2C, 0x00, 0x96, 0,   0};
  Density d = readDensity(Container::Jpeg, j.data(), j.size());
  EXPECT_EQ(d.x, 300);
  EXPECT_EQ(d.y, 150);
  j[13] = 2;  // dots per centimetre
  d = readDensity(Container::Jpeg, j.data(), j.size());
  EXPECT_EQ(d.x, 762);
  j[13] = 0;
  EXPECT_EQ(readDensity(Container::Jpeg, j.data(), j.size()).x, 0);
}

TEST(Density, TiffDirectoryWithOffsetsOutsideTheDataIsIgnored) {
  // Little-endian header, IFD at 8 with one XResolution entry pointing far past the end.
  std::vector<uint8_t> t = {'I', 'I', 42, 0, 8, 0, 0, 0, 1, 0, 26, 1, 5, 0, 1, 0, 0, 0, 0xFF, 0xFF, 0, 0};
  EXPECT_EQ(readDensity(Container::Tiff, t.data(), t.size()).x, 0);
}

TEST(HeaderInfo, PngPaletteWithTransparencyIsColour) {
  auto p = pngWithPhys(2835, 1);
  HeaderInfo h = readHeaderInfo(Container::Png, p.data(), p.size());
  ASSERT_TRUE(h.known);
  EXPECT_EQ(h.width, 7u);
  EXPECT_EQ(h.height, 5u);
  EXPECT_EQ(h.depth, 8);
  auto opaque = p;
  const uint8_t trns[] = {0, 0, 0, 2, 't', 'R', 'N', 'S', 255, 0, 0, 0, 0, 0};
  p.insert(p.end(), trns, trns + sizeof trns);
  EXPECT_EQ(readHeaderInfo(Container::Png, p.data(), p.size()).depth, 24);
  const uint8_t allOpaque[] = {0, 0, 0, 2, 't', 'R', 'N', 'S', 255, 255, 0, 0, 0, 0};
  opaque.insert(opaque.end(), allOpaque, allOpaque + sizeof allOpaque);
  EXPECT_EQ(readHeaderInfo(Container::Png, opaque.data(), opaque.size()).depth, 8);
}

TEST(HeaderInfo, JpegFrameAndGifDescriptor) {
  const std::vector<uint8_t> j = {0xFF, 0xD8, 0xFF, 0xC2, 0x00, 0x0B, 8, 0x01,
                                  0x00, 0x02, 0x00, 1,    1,    0x11, 0};
  HeaderInfo h = readHeaderInfo(Container::Jpeg, j.data(), j.size());
  ASSERT_TRUE(h.known);
  EXPECT_EQ(h.width, 512u);
  EXPECT_EQ(h.height, 256u);
  EXPECT_EQ(h.depth, 8);  // one component
  // GIF with no global table, a graphic control extension with transparency, a 3 x 2 image.
  const std::vector<uint8_t> g = {'G', 'I', 'F', '8', '9', 'a',  3, 0, 2, 0, 0, 0, 0, 0x21, 0xF9, 4,
                                  1,   0,   0,   0,   0,   0x2C, 0, 0, 0, 0, 3, 0, 2, 0,    0};
  h = readHeaderInfo(Container::Gif, g.data(), g.size());
  ASSERT_TRUE(h.known);
  EXPECT_EQ(h.width, 3u);
  EXPECT_EQ(h.height, 2u);
  EXPECT_EQ(h.depth, 24);
  EXPECT_FALSE(readHeaderInfo(Container::Gif, g.data(), 25).known);  // descriptor cut short
}

TEST(HeaderInfo, GifFrameSmallerThanTheScreenIsPlacedOnIt) {
  // A 10 x 8 screen with a two-colour global table, background index 1, and a 4 x 4 frame at
  // (3, 5) that overhangs the screen's bottom edge by one row.
  std::vector<uint8_t> g = {'G', 'I', 'F', '8', '9',  'a', 10, 0, 8, 0, 0x80, 1, 0, 0, 0,
                            0,   9,   9,   9,   0x2C, 3,   0,  5, 0, 4, 0,    4, 0, 0};
  HeaderInfo h = readHeaderInfo(Container::Gif, g.data(), g.size());
  ASSERT_TRUE(h.known);
  EXPECT_EQ(h.width, 10u);
  EXPECT_EQ(h.height, 9u);
  EXPECT_TRUE(h.framePartial);
  EXPECT_EQ(h.frameLeft, 3u);
  EXPECT_EQ(h.frameTop, 5u);
  EXPECT_EQ(h.background, 1);
  EXPECT_EQ(h.depth, 8);  // the background is in the frame's table
  g[28] = 0x80;           // a local table of its own: the background is white, in 24 bits
  h = readHeaderInfo(Container::Gif, g.data(), g.size());
  EXPECT_TRUE(h.localTable);
  EXPECT_EQ(h.depth, 24);
  g[11] = 7;  // background index outside the two-colour table
  g[28] = 0;
  EXPECT_EQ(readHeaderInfo(Container::Gif, g.data(), g.size()).background, -1);
}

}  // namespace
}  // namespace ifwic
