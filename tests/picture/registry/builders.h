// Builders of icon and metafile file images for the tests, written from the file layouts
// independently of the readers under test.
#ifndef KORVALE_TESTS_PICTURE_REGISTRY_BUILDERS_H
#define KORVALE_TESTS_PICTURE_REGISTRY_BUILDERS_H

#include <cstdint>
#include <string>
#include <vector>

using Bytes = std::vector<uint8_t>;

void Put16(Bytes& b, uint32_t v);
void Put32(Bytes& b, uint32_t v);
void Set32(Bytes& b, size_t at, uint32_t v);

// One image of an icon: pixels top-down as 0xAARRGGBB (alpha used at 32 bits only) or, for
// 1/4/8 bits, palette indices; mask top-down, true = transparent.
struct IconImageSpec {
  int width = 0, height = 0, bits = 32;
  std::vector<uint32_t> pixels;
  std::vector<uint32_t> palette;  // 0x00RRGGBB, for 1/4/8 bits
  std::vector<bool> mask;         // empty: all opaque
  bool png = false;               // a PNG stream's signature and RGBA header, no pixel data
  bool omitMask = false;          // end the entry after the colour rows, as some writers do
};
Bytes BuildIcon(const std::vector<IconImageSpec>& images);
// A solid image of one colour with the given mask rule.
IconImageSpec SolidImage(int w, int h, int bits, uint32_t argb);

// A Windows metafile: header, the records given (each function + 16-bit parameters), EOF.
struct WmfRecord {
  uint16_t function;
  std::vector<int16_t> params;
};
Bytes BuildWmf(const std::vector<WmfRecord>& records);
// The same records behind a placeable header with bounding box and units per inch.
Bytes BuildPlaceable(int16_t left, int16_t top, int16_t right, int16_t bottom, uint16_t inch,
                     const std::vector<WmfRecord>& records);

// An enhanced metafile: header with bounds and frame (0.01 mm), the records given (type and
// 32-bit parameters), EOF.
struct EmfRecord {
  uint32_t type;
  std::vector<uint32_t> params;
};
Bytes BuildEmf(const int32_t bounds[4], const int32_t frame[4], const std::vector<EmfRecord>& records);

// Drawing records that fill the rectangle with one colour (0x00BBGGRR as GDI's COLORREF).
std::vector<WmfRecord> WmfFilledRect(int16_t l, int16_t t, int16_t r, int16_t b, uint32_t colorref);
std::vector<EmfRecord> EmfFilledRect(int32_t l, int32_t t, int32_t r, int32_t b, uint32_t colorref);

// Files in a fresh temporary folder; names are given with "\" (the core's separator).
class TempDir {
 public:
  TempDir();
  ~TempDir();
  std::string Path(const std::string& name) const;  // folder + "\" + name
  std::string Write(const std::string& name, const Bytes& bytes) const;
  Bytes Read(const std::string& name) const;

 private:
  std::string dir_;
};

#endif
