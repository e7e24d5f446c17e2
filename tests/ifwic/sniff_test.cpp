#include "sniff.h"

#include "icc.h"

#include <gtest/gtest.h>

#include <cstring>
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
  // GIF with no global table, a graphic control extension with transparency, a 3 x 2 image
  // with a two-colour local table.
  std::vector<uint8_t> g = {'G', 'I', 'F',  '8', '9', 'a', 3, 0, 2, 0, 0, 0,    0, 0x21, 0xF9, 4, 1, 0, 0,
                            0,   0,   0x2C, 0,   0,   0,   0, 3, 0, 2, 0, 0x80, 1, 2,    3,    4, 5, 6};
  h = readHeaderInfo(Container::Gif, g.data(), g.size());
  ASSERT_TRUE(h.known);
  EXPECT_EQ(h.width, 3u);
  EXPECT_EQ(h.height, 2u);
  EXPECT_EQ(h.depth, 24);
  EXPECT_FALSE(readHeaderInfo(Container::Gif, g.data(), 25).known);  // descriptor cut short
  g[30] = 0;  // no table at all: left to the codec, which refuses it
  EXPECT_FALSE(readHeaderInfo(Container::Gif, g.data(), g.size()).known);
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

// A JPEG whose EXIF segment holds one directory entry: tag, type and value as given.
std::vector<uint8_t> exifJpeg(bool little, uint16_t tag, uint16_t type, uint16_t value, uint32_t ifd = 8) {
  auto w16 = [&](std::vector<uint8_t>& v, uint16_t x) {
    little ? v.insert(v.end(), {uint8_t(x), uint8_t(x >> 8)})
           : v.insert(v.end(), {uint8_t(x >> 8), uint8_t(x)});
  };
  auto w32 = [&](std::vector<uint8_t>& v, uint32_t x) {
    for (int i = 0; i < 4; ++i) v.push_back(uint8_t(x >> (little ? 8 * i : 24 - 8 * i)));
  };
  std::vector<uint8_t> tiff =
      little ? std::vector<uint8_t>{'I', 'I', 42, 0} : std::vector<uint8_t>{'M', 'M', 0, 42};
  w32(tiff, ifd);
  w16(tiff, 1);
  w16(tiff, tag);
  w16(tiff, type);
  w32(tiff, 1);
  w16(tiff, value);
  w16(tiff, 0);
  w32(tiff, 0);
  std::vector<uint8_t> j = {0xFF, 0xD8, 0xFF, 0xE1, 0, 0, 'E', 'x', 'i', 'f', 0, 0};
  for (uint8_t b : tiff) j.push_back(b);
  j[4] = uint8_t((j.size() - 4) >> 8);
  j[5] = uint8_t(j.size() - 4);
  j.insert(j.end(), {0xFF, 0xDA, 0, 2, 0xFF, 0xD9});
  return j;
}

TEST(Orientation, ExifOfEitherByteOrderAndTiffDirectory) {
  for (bool little : {true, false}) {
    for (uint16_t n = 1; n <= 8; ++n) {
      const auto j = exifJpeg(little, 274, 3, n);
      EXPECT_EQ(readOrientation(Container::Jpeg, j.data(), j.size()), n) << little;
      // The same directory as a TIFF file of its own.
      const std::vector<uint8_t> t(j.begin() + 12, j.end() - 6);
      EXPECT_EQ(readOrientation(Container::Tiff, t.data(), t.size()), n) << little;
    }
  }
  // An XMP segment before the EXIF one is passed over.
  auto j = exifJpeg(true, 274, 3, 6);
  const uint8_t xmp[] = {0xFF, 0xE1, 0, 6, 'h', 't', 't', 'p'};
  j.insert(j.begin() + 2, xmp, xmp + sizeof xmp);
  EXPECT_EQ(readOrientation(Container::Jpeg, j.data(), j.size()), 6);
}

TEST(Orientation, MissingOrBrokenLeavesThePictureAsStored) {
  const auto cases = {exifJpeg(true, 274, 3, 0), exifJpeg(true, 274, 3, 9), exifJpeg(false, 274, 2, 6),
                      exifJpeg(true, 275, 3, 6), exifJpeg(true, 274, 3, 6, 0xFFFFFFF0u)};
  for (const auto& j : cases) EXPECT_EQ(readOrientation(Container::Jpeg, j.data(), j.size()), 1);
  // Every cut of a good segment reads nothing past its end and gives 1 or the whole answer.
  const auto good = exifJpeg(false, 274, 3, 8);
  for (size_t n = 0; n < good.size(); ++n) {
    const std::vector<uint8_t> cut(good.begin(), good.begin() + n);
    const int o = readOrientation(Container::Jpeg, cut.data(), cut.size());
    EXPECT_TRUE(o == 1 || (o == 8 && n >= good.size() - 6)) << n;
  }
}

TEST(GifTable, FrameTableBecomesTheGlobalOne) {
  // 3 x 2 screen, no global table; a comment extension; a frame with a two-colour local table.
  const std::vector<uint8_t> g = {'G', 'I',  'F',  '8',  '9', 'a', 3,    0, 2, 0, 0x70, 5,
                                  0,   0x21, 0xFE, 1,    'x', 0,   0x2C, 0, 0, 0, 0,    3,
                                  0,   2,    0,    0x80, 1,   2,   3,    4, 5, 6, 2,    0x3B};
  const auto fixed = gifWithGlobalTable(g.data(), g.size());
  ASSERT_EQ(fixed.size(), g.size() + 6);
  EXPECT_EQ(fixed[10], 0xF0);  // a global table of two colours; the colour resolution kept
  EXPECT_EQ(std::vector<uint8_t>(fixed.begin() + 13, fixed.begin() + 19),
            (std::vector<uint8_t>{1, 2, 3, 4, 5, 6}));
  EXPECT_EQ(std::vector<uint8_t>(fixed.begin() + 19, fixed.end()),
            std::vector<uint8_t>(g.begin() + 13, g.end()));
  // A global table already, no table at all, or a table cut short: nothing to amend.
  auto global = fixed;
  EXPECT_TRUE(gifWithGlobalTable(global.data(), global.size()).empty());
  auto none = g;
  none[27] = 0;
  EXPECT_TRUE(gifWithGlobalTable(none.data(), none.size()).empty());
  EXPECT_TRUE(gifWithGlobalTable(g.data(), 31).empty());
}

std::vector<uint8_t> pngChunk(const char* type, const std::vector<uint8_t>& data, uint32_t crc) {
  const size_t n = data.size();
  std::vector<uint8_t> c(12 + n);
  for (int i = 0; i < 4; ++i) {
    c[i] = uint8_t(n >> (24 - 8 * i));
    c[4 + i] = uint8_t(type[i]);
    c[8 + n + i] = uint8_t(crc >> (24 - 8 * i));
  }
  for (size_t i = 0; i < n; ++i) c[8 + i] = data[i];
  return c;
}

TEST(PngChunks, CriticalChunksMustCarryTheirChecksums) {
  // CRCs of the chunks below, from zlib's crc32.
  const std::vector<uint8_t> ihdr = {0, 0, 0, 1, 0, 0, 0, 1, 8, 0, 0, 0, 0};
  auto png = bytes(std::string("\x89PNG\r\n\x1a\n", 8));
  png.reserve(128);
  auto add = [&](const std::vector<uint8_t>& c) {
    for (uint8_t b : c) png.push_back(b);
  };
  add(pngChunk("IHDR", ihdr, 0x3A7E9B55));
  add(pngChunk("tEXt", {'a', 0, 'b'}, 0x12345678));  // wrong, but ancillary
  add(pngChunk("IDAT", {0x78, 0x9C, 0x63, 0x60, 0x00, 0x00, 0x00, 0x02, 0x00, 0x01}, 0x48AFA471));
  add(pngChunk("IEND", {}, 0xAE426082));
  EXPECT_TRUE(pngChunksIntact(png.data(), png.size()));
  EXPECT_FALSE(pngChunksIntact(png.data(), png.size() - 1));  // IEND cut
  auto bad = png;
  bad[8 + 25 + 15 + 9] ^= 1;  // a byte of the IDAT data
  EXPECT_FALSE(pngChunksIntact(bad.data(), bad.size()));
  bad = png;
  bad[8 + 25 + 15] = 0x7F;  // IDAT length beyond the data
  EXPECT_FALSE(pngChunksIntact(bad.data(), bad.size()));
}

TEST(PngChunks, ColourKeyOfGreyAndTrueColour) {
  auto grey = bytes(std::string("\x89PNG\r\n\x1a\n", 8));
  const auto ihdr = pngChunk("IHDR", {0, 0, 0, 1, 0, 0, 0, 1, 4, 0, 0, 0, 0}, 0);
  grey.insert(grey.end(), ihdr.begin(), ihdr.end());
  auto colour = grey;
  colour[24] = 16;
  colour[25] = 2;
  const auto greyKey = pngChunk("tRNS", {0, 14}, 0), rgbKey = pngChunk("tRNS", {1, 2, 3, 4, 5, 6}, 0);
  grey.insert(grey.end(), greyKey.begin(), greyKey.end());
  colour.insert(colour.end(), rgbKey.begin(), rgbKey.end());
  ColourKey k = readPngColourKey(grey.data(), grey.size());
  EXPECT_TRUE(k.present && k.grey);
  EXPECT_EQ(k.depth, 4);
  EXPECT_EQ(k.value[0], 14);
  k = readPngColourKey(colour.data(), colour.size());
  EXPECT_TRUE(k.present && !k.grey);
  EXPECT_EQ(k.depth, 16);
  EXPECT_EQ(k.value[0], 0x0102);
  EXPECT_EQ(k.value[2], 0x0506);
  EXPECT_FALSE(readPngColourKey(grey.data(), grey.size() - 5).present);  // key cut short
}

// An APP2 segment carrying piece `number` of `total` of an ICC profile.
std::vector<uint8_t> iccSegment(uint8_t number, uint8_t total, const std::string& piece) {
  std::vector<uint8_t> s = {0xFF, 0xE2, 0, static_cast<uint8_t>(2 + 14 + piece.size())};
  const std::string mark("ICC_PROFILE\0", 12);
  s.insert(s.end(), mark.begin(), mark.end());
  s.push_back(number);
  s.push_back(total);
  s.insert(s.end(), piece.begin(), piece.end());
  return s;
}

std::vector<uint8_t> jpegWith(const std::vector<std::vector<uint8_t>>& segments) {
  std::vector<uint8_t> j = {0xFF, 0xD8};
  for (const auto& s : segments) j.insert(j.end(), s.begin(), s.end());
  const uint8_t scan[] = {0xFF, 0xDA, 0x00, 0x02, 0x00, 0xFF, 0xD9};
  j.insert(j.end(), scan, scan + sizeof scan);
  return j;
}

// A header and tag table of `tags` tags, all pointing at one 'desc' record holding `text`.
std::vector<uint8_t> profile(const char* space, const std::string& text, uint32_t tags = 1) {
  std::vector<uint8_t> p(128 + 4 + 12 * tags);
  std::memcpy(&p[16], space, 4);
  std::memcpy(&p[20], "XYZ ", 4);
  std::memcpy(&p[36], "acsp", 4);
  auto put32 = [&](size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) p[at + i] = static_cast<uint8_t>(v >> (24 - 8 * i));
  };
  const uint32_t record = static_cast<uint32_t>(p.size());
  put32(128, tags);
  for (uint32_t i = 0; i < tags; ++i) {
    std::memcpy(&p[132 + 12 * i], i == tags - 1 ? "desc" : "wtpt", 4);
    put32(132 + 12 * i + 4, record);
    put32(132 + 12 * i + 8, static_cast<uint32_t>(12 + text.size() + 1));
  }
  const std::string desc = std::string("desc\0\0\0\0", 8);
  p.insert(p.end(), desc.begin(), desc.end());
  p.resize(p.size() + 4);
  put32(p.size() - 4, static_cast<uint32_t>(text.size() + 1));
  p.insert(p.end(), text.begin(), text.end());
  p.push_back(0);
  put32(0, static_cast<uint32_t>(p.size()));
  return p;
}

TEST(ColourProfile, PiecesAreJoinedInOrderAndBrokenOnesRefused) {
  auto joined = [](const std::vector<uint8_t>& j) {
    const auto p = readIccProfile(Container::Jpeg, j.data(), j.size());
    return std::string(p.begin(), p.end());
  };
  EXPECT_EQ(joined(jpegWith({iccSegment(2, 2, "def"), iccSegment(1, 2, "abc")})), "abcdef");
  EXPECT_EQ(joined(jpegWith({iccSegment(1, 2, "abc")})), "");                           // a piece missing
  EXPECT_EQ(joined(jpegWith({iccSegment(1, 1, "abc"), iccSegment(1, 1, "abc")})), "");  // repeated
  EXPECT_EQ(joined(jpegWith({iccSegment(0, 1, "abc")})), "");
  EXPECT_EQ(joined(jpegWith({iccSegment(3, 2, "abc")})), "");
  // A TIFF whose profile tag points beyond the data.
  const std::vector<uint8_t> tiff = {'I',  'I', 42, 0,    8, 0, 0, 0,  1, 0, 0x73,
                                     0x87, 7,   0,  0x10, 0, 0, 0, 26, 0, 0, 0};
  EXPECT_TRUE(readIccProfile(Container::Tiff, tiff.data(), tiff.size()).empty());

  const auto adobe = profile("RGB ", "Adobe RGB (1998)", 3);
  EXPECT_EQ(profileUse(adobe.data(), adobe.size()), ProfileUse::Apply);
  const auto srgb = profile("RGB ", "sRGB IEC61966-2.1");
  EXPECT_EQ(profileUse(srgb.data(), srgb.size()), ProfileUse::Srgb);
  const auto grey = profile("GRAY", "Grey gamma 2.2");
  EXPECT_EQ(profileUse(grey.data(), grey.size()), ProfileUse::None);
  // Cut anywhere, or a tag beyond the declared size: as stored.
  for (size_t n : {size_t{0}, size_t{100}, size_t{140}, adobe.size() - 1})
    EXPECT_EQ(profileUse(adobe.data(), n), ProfileUse::None) << n;
  auto far = adobe;
  far[132 + 4] = 0x7F;
  EXPECT_EQ(profileUse(far.data(), far.size()), ProfileUse::None);
}

}  // namespace
}  // namespace ifwic
