// Row conversions from the pixel layouts the imaging codecs hand out to the three layouts the
// plug-in returns: 8-bit palette indices, 8-bit grey levels and 24-bit BGR.  Transparent
// pixels are composited over white because the viewer draws without alpha.  Plain C++, no
// system headers, so the arithmetic is tested natively.
#ifndef KORVALE_SPI_IFWIC_PIXELS_H
#define KORVALE_SPI_IFWIC_PIXELS_H

#include <cstddef>
#include <cstdint>

namespace ifwic {

// The source layouts we convert ourselves.  Everything else goes through the codec's own
// converter to Bgra32 (or Bgrx32 when the layout has no transparency).
enum class SourceLayout {
  Indexed1,
  Indexed2,
  Indexed4,
  Indexed8,  // palette indices, most significant bits first
  Gray1,
  Gray2,
  Gray4,
  Gray8,
  Gray16,  // grey levels; Gray16 little-endian
  Bgr24,
  Rgb24,
  Bgrx32,
  Bgra32,
  Rgba32,
  Pbgra32,
  Prgba32,
  Rgb48,
  Bgr48,
  Rgba64,
  Bgra64,
  Prgba64,  // 16 bits per channel, little-endian
};

// What the returned picture holds.
enum class OutputKind { Palette8, Gray8, Bgr24 };

struct PaletteEntry {
  uint8_t b, g, r, a;  // straight alpha; 255 is opaque
};

int bitsPerPixel(SourceLayout layout);
bool hasAlphaChannel(SourceLayout layout);
bool isIndexed(SourceLayout layout);
bool isGray(SourceLayout layout);

// The output for a layout: indexed pictures stay palette pictures unless their palette has a
// transparent entry; grey stays grey; everything else, and all alpha, becomes 24-bit colour.
OutputKind outputFor(SourceLayout layout, const PaletteEntry* palette, int paletteCount);
int outputBits(OutputKind kind);

// The byte length of one packed source row of `width` pixels, or 0 when it does not fit.
uint64_t sourceRowBytes(SourceLayout layout, uint32_t width);

// 16-bit to 8-bit reduction, rounded to nearest: 0 -> 0, 65535 -> 255, v -> round(v / 257).
inline uint8_t reduce16(uint32_t v) { return static_cast<uint8_t>((v * 255u + 32767u) / 65535u); }
// Straight-alpha colour over white: round((c * a + 255 * (255 - a)) / 255).
inline uint8_t overWhite8(uint32_t c, uint32_t a) {
  return static_cast<uint8_t>((c * a + 255u * (255u - a) + 127u) / 255u);
}

// Converts one source row of `width` pixels into one output row.  For Palette8 the indices are
// copied, and an index beyond the palette (broken data) becomes 0 so that every pixel names a
// colour of the returned table; for Bgr24 from an indexed layout the palette is looked up and
// composited over white.
void convertRow(SourceLayout layout, OutputKind out, const uint8_t* src, uint8_t* dst, uint32_t width,
                const PaletteEntry* palette, int paletteCount);

// Whether a layout holds 16-bit samples (grey, colour or alpha).
bool hasWideSamples(SourceLayout layout);
// Swaps the two bytes of every 16-bit sample in `bytes` bytes of rows (an odd last byte stays).
void swapSampleBytes(uint8_t* data, size_t bytes);

// Colour keys (a PNG's tRNS on grey or true colour): whether the key can be matched in rows of
// this layout, given the file's bit depth `fileDepth` (1 to 16).  Colour rows must hold the
// file's own samples; grey rows may hold them widened by the codec (bits repeated, as PNG
// widens them), where the key is widened alike (greyKeyFor).
bool keyable(SourceLayout layout, bool greyKey, int fileDepth);
// A grey key of `fileDepth` bits as it reads in rows of a grey layout of that depth or more.
uint16_t greyKeyFor(SourceLayout layout, int fileDepth, uint16_t key);
// Whether a palette is the grey ramp of `depth` bits (entry i the grey i * 255 / (2^depth - 1)),
// as a codec hands out a grey picture as palette indices that are its samples.
bool isGreyRamp(const PaletteEntry* palette, int count, int depth);
// Converts one row of a keyable layout to 24-bit BGR: pixels whose samples equal the key (grey:
// key[0]; colour: red, green, blue) are transparent and become white.
void convertKeyedRow(SourceLayout layout, const uint8_t* src, uint8_t* dst, uint32_t width,
                     const uint16_t key[3]);

// A colour conversion sampled on a grid and interpolated between its points, for conversions
// too slow to run on every pixel of a large picture.  The grid has kGridPoints levels per
// channel, kGridStep apart (0, 5, ..., 255), so every level of a channel falls on a grid line
// or between two.
constexpr int kGridPoints = 52;
constexpr int kGridStep = 5;
constexpr size_t kGridColours = size_t{kGridPoints} * kGridPoints * kGridPoints;
// Fills `grid` (kGridColours BGR triplets) with the grid's colours, red varying fastest, then
// green, then blue; the caller converts them in place.
void fillColourGrid(uint8_t* grid);
// Converts `width` BGR pixels in place by tetrahedral interpolation in a converted grid.
void applyColourGrid(const uint8_t* grid, uint8_t* row, uint32_t width);

// The upright size of a `width` x `height` picture stored in an orientation from 1 to 8 (as the
// EXIF tag numbers them): the sides swap for 5 to 8.
void uprightSize(int orientation, uint32_t width, uint32_t height, uint32_t& uprightWidth,
                 uint32_t& uprightHeight);
// Puts `count` stored rows from row `y0` on (`rowBytes` apart) of a `width` x `height` picture,
// `bytes` per pixel, where the orientation turns them in a bottom-up DIB of the upright size
// whose rows are `stride` bytes apart.
void placeRows(int orientation, const uint8_t* rows, uint64_t rowBytes, uint32_t y0, uint32_t count,
               uint32_t width, uint32_t height, int bytes, uint8_t* dib, uint64_t stride);

}  // namespace ifwic

#endif
