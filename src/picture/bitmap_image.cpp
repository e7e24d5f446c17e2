// Shaping, allocating and copying the images bitmaps hold.
#include <cstring>

#include "picture/bitmap_image.h"
#include "platform/dib_layout.h"
#include "rtl/exceptions.h"
#include "rtl/messages.h"

namespace bitmap_image {

void InvalidBitmap() { throw EInvalidGraphic(msg::kInvalidBitmap); }

RowBuffer AllocateRows(size_t bytes, bool zeroed) {
  if (bytes == 0) return nullptr;
  RowBuffer rows(static_cast<uint8_t*>(zeroed ? std::calloc(bytes, 1) : std::malloc(bytes)));
  if (!rows) throw EOutOfMemory(msg::kOutOfMemory);
  return rows;
}

void ShapeGeometry(TBitmapImage& img, int32_t width, int32_t height, int bits, uint64_t backed) {
  if (width < 0 || height == INT32_MIN) InvalidBitmap();
  uint64_t rowBytes = KorDibRowBytes(width, bits);
  uint64_t total = rowBytes * static_cast<uint64_t>(std::llabs(height));
  if (rowBytes > 0xFFFFFFFFu || total > 0xFFFFFFFFu) InvalidBitmap();
  if (total > kMaxImageBytes) throw EOutOfMemory(msg::kOutOfMemory);
  if (total > backed) InvalidBitmap();
  img.header.biSize = 40;
  img.header.biWidth = width;
  img.header.biHeight = height;
  img.header.biPlanes = 1;
  img.header.biBitCount = static_cast<uint16_t>(bits);
  img.header.biSizeImage = static_cast<uint32_t>(total);
  img.rowBytes = static_cast<size_t>(rowBytes);
  img.imageBytes = static_cast<size_t>(total);
}

void ShapeImage(TBitmapImage& img, int32_t width, int32_t height, int bits, bool zeroed, uint64_t backed) {
  ShapeGeometry(img, width, height, bits, backed);
  img.rows = AllocateRows(img.imageBytes, zeroed);
}

std::shared_ptr<TBitmapImage> CloneImage(const TBitmapImage& from) {
  auto img = std::make_shared<TBitmapImage>();
  img->header = from.header;
  img->readCompression = from.readCompression;
  img->masks = from.masks;
  img->colors = from.colors;
  img->rowBytes = from.rowBytes;
  img->imageBytes = from.imageBytes;
  img->fromCore = from.fromCore;
  img->rows = AllocateRows(from.imageBytes, false);
  if (from.imageBytes) std::memcpy(img->rows.get(), from.rows.get(), from.imageBytes);
  return img;  // the kept file image is not taken: the copy is about to change
}

}  // namespace bitmap_image
