// The image a TBitmap holds, and the jobs around it that the bitmap's files share: shaping and
// allocating rows, reading a BMP file image (bitmap_read.cpp), decoding run-length data
// (bitmap_rle.cpp) and writing the BMP form (bitmap_write.cpp).  Internal to src/picture.
#ifndef KORVALE_PICTURE_BITMAP_IMAGE_H
#define KORVALE_PICTURE_BITMAP_IMAGE_H

#include <cstdint>
#include <cstdlib>
#include <memory>
#include <vector>

#include "platform/dib.h"
#include "platform/gdi.h"
#include "rtl/streams.h"

// Rows and the kept file image live in malloc'ed memory, uninitialised where every byte is
// written anyway; resized images ask calloc for zeroed rows.  Rows read in place from a block
// that outlives the reader (a picture handed over in shared memory) are not freed: the buffer
// shares in that block's owner instead and lets go of it with the rows.  Such rows are never
// written: every change makes a new image first.
struct FreeRows {
  std::shared_ptr<const void> keeper;
  void operator()(uint8_t* p) const {
    if (!keeper) std::free(p);
  }
};
using RowBuffer = std::unique_ptr<uint8_t[], FreeRows>;

struct TBitmapImage {
  platform::BitmapInfoHeader header{};  // of the held rows: biSize 40, compression 0 or 3
  uint32_t readCompression = 0;
  std::vector<uint32_t> masks;  // red, green, blue; empty unless bit fields
  std::vector<platform::RgbQuad> colors;
  RowBuffer rows;
  size_t rowBytes = 0;
  size_t imageBytes = 0;
  bool fromCore = false;
  RowBuffer fileImage;  // the compressed file as read, written back unchanged
  size_t fileBytes = 0;

  bool HasPixels() const { return header.biWidth > 0 && header.biHeight != 0; }
};

namespace bitmap_image {

// The largest image the bitmap will hold: rows and image sizes must fit 32 bits, and more
// than this is refused before any allocation.
constexpr uint64_t kMaxImageBytes = uint64_t(1) << 30;

[[noreturn]] void InvalidBitmap();

// `bytes` of rows (zeroed or not); none for 0.  EOutOfMemory when the system has no memory.
RowBuffer AllocateRows(size_t bytes, bool zeroed);

// Sets the geometry of an image of `width` x `height` (sign kept) at `bits` per pixel, without
// rows.  Sizes are computed in 64 bits; more than `backed` bytes is an image the file cannot
// stand for.
void ShapeGeometry(TBitmapImage& img, int32_t width, int32_t height, int bits,
                   uint64_t backed = kMaxImageBytes);
// The same, and allocates its rows (zeroed or not).
void ShapeImage(TBitmapImage& img, int32_t width, int32_t height, int bits, bool zeroed,
                uint64_t backed = kMaxImageBytes);

// A copy of the image's pixels, colours and masks, without the kept file image.
std::shared_ptr<TBitmapImage> CloneImage(const TBitmapImage& from);

// A block whose bytes the stream reads from its position `at` on: rows that lie in it may stay.
struct TRowsInPlace {
  std::shared_ptr<const uint8_t> rows;
  int64_t at = 0;
};

// Reads a BMP file image of `length` bytes from the stream's position into a new image.  When
// `inPlace` is given, the stream reads from its start, and the bytes from its position
// inPlace->at on are those of inPlace->rows: rows that lie there exactly as the image holds them
// (uncompressed, every row there, on a 4-byte boundary) stay there, and the image shares in the
// block's owner rather than copying them.  Headers and colours are always copied.
std::shared_ptr<TBitmapImage> ReadImage(TStream& stream, int64_t length,
                                        const TRowsInPlace* inPlace = nullptr);

// Decodes `size` bytes of 8-bit or 4-bit run-length data into the image's bottom-up rows.
void DecodeRunLength(TBitmapImage& img, bool rle4, const uint8_t* data, size_t size);

// Writes the BMP file image of `img`; a depth above 8 bits without colours takes the colour
// table from `palette` when there is one.
void WriteImage(const TBitmapImage& img, platform::PaletteHandle palette, TStream& stream);

}  // namespace bitmap_image

#endif
