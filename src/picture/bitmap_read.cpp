// Reading a BMP file image: the core and the 40/108/124-byte headers, depths 1 to 32, bit
// fields, run-length data (kept whole, so an unchanged file is written back byte for byte),
// top-down rows; every size checked against the file before anything is allocated.
#include <algorithm>
#include <cstring>

#include "picture/bitmap_image.h"
#include "picture/call_off.h"
#include "platform/dib_layout.h"
#include "platform/page_toucher.h"
#include "rtl/exceptions.h"
#include "rtl/messages.h"

using platform::BitmapInfoHeader;
using platform::RgbQuad;

namespace bitmap_image {
namespace {

// A file backs at most this many bytes of rows per byte it holds, above a size every file may
// have: a header word alone never makes the reader allocate and clear gigabytes, while a
// truncated photograph still loads with its missing rows as zero.  Run-length data expands
// at most 127 times without deltas.
constexpr uint64_t kRowsPerFileByte = 256;
constexpr uint64_t kUnbackedImageBytes = uint64_t(16) << 20;

// Reads up to `count` bytes into the fresh block at `to` in strips, checking between them
// whether the work was called off; returns how many bytes the stream gave (a short read ends
// it, as it ends ReadBuffer).  A large block's pages are made on a thread of their own just
// ahead of the reading: under Wine, reading 72 MB of a file into fresh pages took 480 ms, and
// 200-250 ms into pages made that way (natively the same either way).
int64_t ReadInStrips(TStream& stream, uint8_t* to, int64_t count) {
  platform::PageToucher ahead;
  if (static_cast<uint64_t>(count) >= platform::PageToucher::kWorthTouching)
    ahead.Start(to, static_cast<size_t>(count));
  int64_t done = 0;
  while (done < count) {
    CheckCallOff();
    const int64_t want = std::min<int64_t>(count - done, static_cast<int64_t>(kCallOffStripBytes));
    ahead.WaitFor(static_cast<size_t>(done + want));
    const int64_t got = stream.Read(to + done, want);
    done += std::max<int64_t>(got, 0);
    if (got < want) break;
  }
  return done;
}

}  // namespace

std::shared_ptr<TBitmapImage> ReadImage(TStream& stream, int64_t length, const TRowsInPlace* inPlace) {
  auto img = std::make_shared<TBitmapImage>();
  uint8_t fileHeader[14];
  if (length < 14) throw EReadError(msg::kReadError);
  stream.ReadBuffer(fileHeader, 14);
  if (KorLe16(fileHeader) != 0x4D42) InvalidBitmap();
  int64_t left = length - 14;

  uint8_t sizeBytes[4];
  if (left < 4) throw EReadError(msg::kReadError);
  stream.ReadBuffer(sizeBytes, 4);
  left -= 4;
  const uint32_t h = KorLe32(sizeBytes);
  if (h != 12 && h < 40) InvalidBitmap();
  if (static_cast<int64_t>(h) - 4 > left) throw EReadError(msg::kReadError);
  std::vector<uint8_t> info(std::max<size_t>(h - 4, 40 - 4), 0);
  stream.ReadBuffer(info.data(), h - 4);
  left -= h - 4;

  BitmapInfoHeader hd{};
  const bool core = h == 12;
  if (core) {
    hd.biWidth = KorLe16(info.data());
    hd.biHeight = KorLe16(info.data() + 2);
    hd.biPlanes = KorLe16(info.data() + 4);
    hd.biBitCount = KorLe16(info.data() + 6);
  } else {
    const uint8_t* p = info.data() - 4;  // offsets below count from the header's start
    hd.biWidth = static_cast<int32_t>(KorLe32(p + 4));
    hd.biHeight = static_cast<int32_t>(KorLe32(p + 8));
    hd.biPlanes = KorLe16(p + 12);
    hd.biBitCount = KorLe16(p + 14);
    hd.biCompression = KorLe32(p + 16);
    hd.biSizeImage = KorLe32(p + 20);
    hd.biXPelsPerMeter = static_cast<int32_t>(KorLe32(p + 24));
    hd.biYPelsPerMeter = static_cast<int32_t>(KorLe32(p + 28));
    hd.biClrUsed = KorLe32(p + 32);
    hd.biClrImportant = KorLe32(p + 36);
  }

  // A compressed file is kept whole, as read, and the rest is read from that copy.
  std::unique_ptr<TPointerStream> kept;
  TStream* src = &stream;
  const bool compressed =
      hd.biCompression != platform::kBI_RGB && hd.biCompression != platform::kBI_BITFIELDS;
  if (compressed) {
    img->fileImage = AllocateRows(static_cast<size_t>(length), false);
    img->fileBytes = static_cast<size_t>(length);
    uint8_t* f = img->fileImage.get();
    std::memcpy(f, fileHeader, 14);
    std::memcpy(f + 14, sizeBytes, 4);
    std::memcpy(f + 18, info.data(), h - 4);
    const size_t at = 14 + h;
    const int64_t got = ReadInStrips(stream, f + at, left);
    if (got < left) img->fileBytes = at + static_cast<size_t>(std::max<int64_t>(got, 0));
    left = static_cast<int64_t>(img->fileBytes - at);
    kept = std::make_unique<TPointerStream>(f + at, left);
    src = kept.get();
  }

  if (hd.biPlanes != 1) InvalidBitmap();
  const int bits = hd.biBitCount;
  if (!KorDibValidDepth(bits)) InvalidBitmap();
  switch (hd.biCompression) {
    case platform::kBI_RGB:
      break;
    case platform::kBI_RLE8:
      if (bits != 8 || hd.biHeight < 0) InvalidBitmap();
      break;
    case platform::kBI_RLE4:
      if (bits != 4 || hd.biHeight < 0) InvalidBitmap();
      break;
    case platform::kBI_BITFIELDS:
      if (bits != 16 && bits != 32) InvalidBitmap();
      break;
    default:
      InvalidBitmap();  // embedded JPEG, PNG and other compressions are not decoded
  }

  if (hd.biCompression == platform::kBI_BITFIELDS) {
    uint8_t m[12];
    if (h == 40) {
      if (left < 12) throw EReadError(msg::kReadError);
      src->ReadBuffer(m, 12);
      left -= 12;
    } else if (h >= 52) {
      std::memcpy(m, info.data() + 36, 12);  // the masks are part of the longer headers
    } else {
      InvalidBitmap();
    }
    img->masks = {KorLe32(m), KorLe32(m + 4), KorLe32(m + 8)};
  }

  uint64_t colorCount = KorDibColorEntries(bits, hd.biClrUsed);
  const unsigned entrySize = core ? 3 : 4;
  if (colorCount * entrySize > static_cast<uint64_t>(left)) throw EReadError(msg::kReadError);
  if (colorCount > 256) InvalidBitmap();
  if (colorCount) {
    std::vector<uint8_t> table(static_cast<size_t>(colorCount) * entrySize);
    src->ReadBuffer(table.data(), static_cast<int64_t>(table.size()));
    left -= static_cast<int64_t>(table.size());
    img->colors.resize(static_cast<size_t>(colorCount));
    for (size_t k = 0; k < img->colors.size(); ++k) {
      const uint8_t* e = table.data() + k * entrySize;
      img->colors[k] = RgbQuad{e[0], e[1], e[2], 0};  // a core table is widened to 4-byte entries
    }
  }

  const uint64_t backed =
      std::max<uint64_t>(kUnbackedImageBytes, static_cast<uint64_t>(length) * kRowsPerFileByte);
  ShapeGeometry(*img, hd.biWidth, hd.biHeight, bits, backed);
  // The file header's offset to the pixels, counted from the file's start, wins where it
  // points past the colour table and the pixels fit in the file from there: some writers
  // leave unused bytes or align the pixels.  Otherwise they follow the table.
  const int64_t total = compressed ? static_cast<int64_t>(img->fileBytes) : length;
  const int64_t gap = static_cast<int64_t>(KorLe32(fileHeader + 10)) - (total - left);
  const uint64_t needed = !compressed ? img->imageBytes : hd.biSizeImage ? hd.biSizeImage : 1;
  if (gap > 0 && static_cast<uint64_t>(gap) + needed <= static_cast<uint64_t>(left)) {
    src->Seek(gap, TSeekOrigin::soCurrent);
    left -= gap;
  }
  // Run-length data without an image size runs to the end of the file: its length has
  // nothing to do with the size of the decoded rows.
  uint64_t count = hd.biSizeImage ? hd.biSizeImage
                   : compressed   ? static_cast<uint64_t>(left)
                                  : img->imageBytes;
  count = std::min<uint64_t>(count, static_cast<uint64_t>(left));
  // Rows that lie whole in a block the image may keep, aligned as drawing expects them, stay
  // there.
  const uint8_t* rowsThere = nullptr;
  if (inPlace && inPlace->rows && !compressed && img->imageBytes && count >= img->imageBytes) {
    const int64_t at = stream.Position() - inPlace->at;
    if (at >= 0 && stream.Position() <= length &&
        reinterpret_cast<uintptr_t>(inPlace->rows.get() + at) % 4 == 0)
      rowsThere = inPlace->rows.get() + at;
  }
  if (rowsThere) {
    img->rows = RowBuffer(const_cast<uint8_t*>(rowsThere), FreeRows{inPlace->rows});
  } else if (!compressed) {
    img->rows = AllocateRows(img->imageBytes, false);
    const size_t take = static_cast<size_t>(std::min<uint64_t>(count, img->imageBytes));
    if (take && ReadInStrips(*src, img->rows.get(), static_cast<int64_t>(take)) != static_cast<int64_t>(take))
      throw EReadError(msg::kReadError);
    // Rows the file does not hold read as zero.
    if (take < img->imageBytes) std::memset(img->rows.get() + take, 0, img->imageBytes - take);
  } else {
    img->rows = AllocateRows(img->imageBytes, false);
    const uint8_t* data = img->fileImage.get() + (img->fileBytes - static_cast<size_t>(left));
    DecodeRunLength(*img, hd.biCompression == platform::kBI_RLE4, data, static_cast<size_t>(count));
  }

  img->readCompression = hd.biCompression;
  img->header.biCompression = compressed ? platform::kBI_RGB : hd.biCompression;
  img->header.biXPelsPerMeter = hd.biXPelsPerMeter;
  img->header.biYPelsPerMeter = hd.biYPelsPerMeter;
  img->header.biClrUsed = hd.biClrUsed;
  img->header.biClrImportant = hd.biClrImportant;
  img->fromCore = core;
  return img;
}

}  // namespace bitmap_image
