// The BMP bitmap graphic: reading every BMP variant, writing the BMP form, the stored form,
// copy-on-write sharing and nearest-neighbour drawing through the drawing seam.
#include "picture/bitmap.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <new>

#include "platform/dib_pixels.h"
#include "rtl/exceptions.h"
#include "rtl/messages.h"

using platform::BitmapInfoHeader;
using platform::RgbQuad;

// Rows and the kept file image live in malloc'ed memory, uninitialised where every byte is
// written anyway; resized images ask calloc for zeroed rows.
struct FreeRows {
  void operator()(uint8_t* p) const { std::free(p); }
};
using RowBuffer = std::unique_ptr<uint8_t[], FreeRows>;

struct TBitmapImage {
  BitmapInfoHeader header{};  // of the held rows: biSize 40, compression 0 or 3
  uint32_t readCompression = 0;
  std::vector<uint32_t> masks;  // red, green, blue; empty unless bit fields
  std::vector<RgbQuad> colors;
  RowBuffer rows;
  size_t rowBytes = 0;
  size_t imageBytes = 0;
  bool fromCore = false;
  RowBuffer fileImage;  // the compressed file as read, written back unchanged
  size_t fileBytes = 0;

  bool HasPixels() const { return header.biWidth > 0 && header.biHeight != 0; }
};

KOR_DEFINE_GRAPHIC_CLASS(TBitmap, TGraphic);

namespace {

// Guards every change of which image a bitmap refers to, so that bitmaps sharing one image
// after CopyFrom never see it half replaced.
std::mutex& ImageLock() {
  static std::mutex lock;
  return lock;
}

// The largest image the bitmap will hold: rows and image sizes must fit 32 bits, and more
// than this is refused before any allocation.
constexpr uint64_t kMaxImageBytes = uint64_t(1) << 30;

// A file backs at most this many bytes of rows per byte it holds, above a size every file may
// have: a header word alone never makes the reader allocate and clear gigabytes, while a
// truncated photograph still loads with its missing rows as zero.  Run-length data expands
// at most 127 times without deltas.
constexpr uint64_t kRowsPerFileByte = 256;
constexpr uint64_t kUnbackedImageBytes = uint64_t(16) << 20;

[[noreturn]] void InvalidBitmap() { throw EInvalidGraphic(msg::kInvalidBitmap); }

uint16_t Get16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
uint32_t Get32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
         (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}
void Put16(uint8_t* p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
}
void Put32(uint8_t* p, uint32_t v) {
  Put16(p, v);
  Put16(p + 2, v >> 16);
}

RowBuffer AllocateRows(size_t bytes, bool zeroed) {
  if (bytes == 0) return nullptr;
  RowBuffer rows(static_cast<uint8_t*>(zeroed ? std::calloc(bytes, 1) : std::malloc(bytes)));
  if (!rows) throw EOutOfMemory(msg::kOutOfMemory);
  return rows;
}

// Sets the geometry of an image of `width` x `height` (sign kept) at `bits` per pixel and
// allocates its rows (zeroed or not).  Sizes are computed in 64 bits; more than `backed`
// bytes is an image the file cannot stand for.
void ShapeImage(TBitmapImage& img, int32_t width, int32_t height, int bits, bool zeroed,
                uint64_t backed = kMaxImageBytes) {
  if (width < 0 || height == INT32_MIN) InvalidBitmap();
  uint64_t rowBytes = platform::DibRowBytes(width, bits);
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
  img.rows = AllocateRows(img.imageBytes, zeroed);
}

// Decodes 8-bit or 4-bit run-length data into the bottom-up rows of an image.  Runs past a
// row's end are clipped, deltas and rows past the image stop or clip; nothing is written
// outside the rows.  The cursor only moves forward through the rows, so every byte the data
// skips (the rest of a row at end of line, a delta's gap, all after end of bitmap) is zeroed
// once as the cursor passes it, and the rows need no clearing beforehand.
class RleDecoder {
 public:
  RleDecoder(TBitmapImage& img, bool rle4)
      : rows_(img.rows.get()),
        rowBytes_(img.rowBytes),
        total_(img.imageBytes),
        width_(static_cast<size_t>(img.header.biWidth)),
        height_(static_cast<size_t>(std::llabs(img.header.biHeight))),
        rle4_(rle4) {}

  void Run(const uint8_t* data, size_t size) {
    if (!rle4_) {
      for (unsigned v = 0; v < 256; ++v) std::memset(splat_[v], static_cast<int>(v), kChunk);
    }
    size_t i = 0;
    while (i + 1 < size && y_ < height_) {
      if (!rle4_) {
        i = Runs8(data, size, i);
        if (i + 1 >= size || y_ >= height_) break;
      }
      const uint8_t count = data[i], code = data[i + 1];
      i += 2;
      if (count > 0) {  // an encoded run: one byte (RLE4: its two nibbles alternately)
        const size_t n = std::min<size_t>(count, Room());
        if (!rle4_) {
          if (n) Fill8(code, n);
        } else {
          for (size_t k = 0; k < n; ++k) Put4((k & 1) ? code & 0x0F : code >> 4, x_ + k);
        }
        x_ += count;
      } else if (code == 0) {  // end of line
        x_ = 0;
        ++y_;
      } else if (code == 1) {  // end of bitmap
        break;
      } else if (code == 2) {  // delta: right and up by the next two bytes
        if (i + 1 >= size) break;
        x_ += data[i];
        y_ += data[i + 1];
        i += 2;
      } else {  // an absolute run of `code` pixels, padded to 16 bits
        const size_t bytes = rle4_ ? (code + 1u) / 2 : code;
        const size_t avail = std::min(bytes, size - i);
        if (!rle4_) {
          const size_t n = std::min(avail, Room());
          if (n) Copy8(data + i, n);
        } else {
          const size_t n = std::min<size_t>(std::min<size_t>(code, avail * 2), Room());
          for (size_t k = 0; k < n; ++k)
            Put4((k & 1) ? data[i + k / 2] & 0x0F : data[i + k / 2] >> 4, x_ + k);
        }
        x_ += code;
        i += bytes + (bytes & 1);
      }
    }
    ZeroTo(total_);
  }

 private:
  // Every 8-bit run is first written as one fixed chunk of this many bytes (the bytes past the
  // run are rewritten later: the cursor only moves forward), then the rest if it is longer.
  static constexpr size_t kChunk = 32;

  // Decodes 8-bit encoded and absolute runs that lie wholly inside the current row, from
  // data[i] on, and returns where it stopped: at an escape, a run to be clipped, the last
  // chunk of the rows or the last bytes of the data, which the general step handles.  One
  // bounds test per run, one fixed-size copy from the run's bytes or from a row of its
  // repeated value, and a second copy only for runs longer than the chunk.  (Choosing the
  // source by mask instead of by branch measured slower: the predicted branch lets the next
  // run's bytes load before this run is done.)
  size_t Runs8(const uint8_t* data, size_t size, size_t i) {
    if (x_ > width_) return i;
    size_t at = y_ * rowBytes_ + x_;
    ZeroTo(at);
    const size_t rowEnd = y_ * rowBytes_ + width_;
    while (i + 2 + kChunk <= size) {
      const unsigned count = data[i], code = data[i + 1];
      const size_t len = count ? count : code;
      if ((count == 0 && code < 3) || at + len > rowEnd || at + kChunk > total_) break;
      const uint8_t* from = count ? splat_[code] : data + i + 2;
      std::memcpy(rows_ + at, from, kChunk);
      if (len > kChunk) {
        if (count) {
          std::memset(rows_ + at + kChunk, static_cast<int>(code), len - kChunk);
        } else {
          if (i + 2 + len > size) break;
          std::memcpy(rows_ + at + kChunk, from + kChunk, len - kChunk);
        }
      }
      at += len;
      i += count ? 2 : 2 + code + (code & 1);
    }
    x_ = at - y_ * rowBytes_;
    filled_ = at;
    return i;
  }

  size_t Room() const { return y_ < height_ && x_ < width_ ? width_ - x_ : 0; }
  void ZeroTo(size_t offset) {
    if (offset > filled_) {
      std::memset(rows_ + filled_, 0, offset - filled_);
      filled_ = offset;
    }
  }
  void Fill8(uint8_t value, size_t n) {
    const size_t at = y_ * rowBytes_ + x_;
    ZeroTo(at);
    std::memset(rows_ + at, value, n);
    filled_ = at + n;
  }
  void Copy8(const uint8_t* from, size_t n) {
    const size_t at = y_ * rowBytes_ + x_;
    ZeroTo(at);
    std::memcpy(rows_ + at, from, n);
    filled_ = at + n;
  }
  void Put4(uint32_t value, size_t x) {
    const size_t at = y_ * rowBytes_ + (x >> 1);
    if (at >= filled_) {
      ZeroTo(at);
      rows_[at] = 0;
      filled_ = at + 1;
    }
    uint8_t& b = rows_[at];
    b = (x & 1) ? static_cast<uint8_t>((b & 0xF0) | (value & 0x0F))
                : static_cast<uint8_t>((b & 0x0F) | (value << 4));
  }

  uint8_t* rows_;
  size_t rowBytes_, total_, width_, height_;
  bool rle4_;
  size_t x_ = 0, y_ = 0, filled_ = 0;
  uint8_t splat_[256][kChunk];  // row v holds kChunk bytes of value v (8-bit data only)
};

size_t ColorTableDefault(int bits) { return bits == 1 ? 2 : bits == 4 ? 16 : bits == 8 ? 256 : 0; }

bool ValidDepth(int bits) {
  return bits == 1 || bits == 4 || bits == 8 || bits == 16 || bits == 24 || bits == 32;
}

// The BMP file image of `img` as the writer lays it out.
void WriteImage(const TBitmapImage& img, platform::PaletteHandle palette, TStream& stream) {
  const int bits = img.header.biBitCount;
  const bool bitfields = img.header.biCompression == platform::kBI_BITFIELDS;
  std::vector<RgbQuad> colors = img.colors;
  if (colors.size() > 256) colors.resize(256);
  if (img.header.biClrUsed != 0 && img.header.biClrUsed < colors.size()) colors.resize(img.header.biClrUsed);
  if (bits > 8 && colors.empty() && palette) {
    int n = platform::GetPaletteEntries(palette, 0, 256, nullptr);
    std::vector<platform::PaletteEntry> entries(static_cast<size_t>(std::max(0, std::min(n, 256))));
    if (!entries.empty())
      platform::GetPaletteEntries(palette, 0, static_cast<int>(entries.size()), entries.data());
    for (auto& e : entries) colors.push_back(RgbQuad{e.peBlue, e.peGreen, e.peRed, 0});
  }

  std::vector<uint8_t> head;
  if (img.fromCore) {
    const size_t entries = bits <= 8 ? (size_t(1) << bits) : 0;
    head.resize(14 + 12 + entries * 3);
    uint8_t* h = head.data() + 14;
    Put32(h, 12);
    Put16(h + 4, static_cast<uint32_t>(img.header.biWidth));
    Put16(h + 6, static_cast<uint32_t>(std::llabs(img.header.biHeight)));
    Put16(h + 8, 1);
    Put16(h + 10, static_cast<uint32_t>(bits));
    for (size_t k = 0; k < entries && k < colors.size(); ++k) {
      uint8_t* e = h + 12 + k * 3;
      e[0] = colors[k].rgbBlue;
      e[1] = colors[k].rgbGreen;
      e[2] = colors[k].rgbRed;
    }
  } else {
    const bool masks = bits > 8 && bitfields;
    head.resize(14 + 40 + (masks ? 12 : 0) + colors.size() * 4);
    uint8_t* h = head.data() + 14;
    Put32(h, 40);
    Put32(h + 4, static_cast<uint32_t>(img.header.biWidth));
    Put32(h + 8, static_cast<uint32_t>(img.header.biHeight));
    Put16(h + 12, 1);
    Put16(h + 14, static_cast<uint32_t>(bits));
    Put32(h + 16, img.header.biCompression);
    Put32(h + 20, static_cast<uint32_t>(img.imageBytes));
    Put32(h + 24, static_cast<uint32_t>(img.header.biXPelsPerMeter));
    Put32(h + 28, static_cast<uint32_t>(img.header.biYPelsPerMeter));
    Put32(h + 32, colors.empty() ? 0 : static_cast<uint32_t>(colors.size()));
    Put32(h + 36, img.header.biClrImportant);
    uint8_t* t = h + 40;
    if (masks) {
      uint32_t m[3] = {0, 0, 0};
      for (size_t k = 0; k < 3 && k < img.masks.size(); ++k) m[k] = img.masks[k];
      if (m[0] == 0) {
        if (bits == 16) {
          m[0] = 0xF800, m[1] = 0x07E0, m[2] = 0x001F;
        } else {
          m[0] = 0xFF0000, m[1] = 0x00FF00, m[2] = 0x0000FF;
        }
      }
      for (int k = 0; k < 3; ++k, t += 4) Put32(t, m[k]);
    }
    for (const RgbQuad& c : colors) {
      t[0] = c.rgbBlue, t[1] = c.rgbGreen, t[2] = c.rgbRed, t[3] = c.rgbReserved;
      t += 4;
    }
  }
  Put16(head.data(), 0x4D42);
  Put32(head.data() + 2, static_cast<uint32_t>(head.size() + img.imageBytes));
  Put32(head.data() + 6, 0);
  Put32(head.data() + 10, static_cast<uint32_t>(head.size()));
  stream.WriteBuffer(head.data(), static_cast<int64_t>(head.size()));
  if (img.imageBytes) stream.WriteBuffer(img.rows.get(), static_cast<int64_t>(img.imageBytes));
}

// Reads a BMP file image of `length` bytes from the stream's position into a new image.
std::shared_ptr<TBitmapImage> ReadImage(TStream& stream, int64_t length) {
  auto img = std::make_shared<TBitmapImage>();
  uint8_t fileHeader[14];
  if (length < 14) throw EReadError(msg::kReadError);
  stream.ReadBuffer(fileHeader, 14);
  if (Get16(fileHeader) != 0x4D42) InvalidBitmap();
  int64_t left = length - 14;

  uint8_t sizeBytes[4];
  if (left < 4) throw EReadError(msg::kReadError);
  stream.ReadBuffer(sizeBytes, 4);
  left -= 4;
  const uint32_t h = Get32(sizeBytes);
  if (h != 12 && h < 40) InvalidBitmap();
  if (static_cast<int64_t>(h) - 4 > left) throw EReadError(msg::kReadError);
  std::vector<uint8_t> info(std::max<size_t>(h - 4, 40 - 4), 0);
  stream.ReadBuffer(info.data(), h - 4);
  left -= h - 4;

  BitmapInfoHeader hd{};
  const bool core = h == 12;
  if (core) {
    hd.biWidth = Get16(info.data());
    hd.biHeight = Get16(info.data() + 2);
    hd.biPlanes = Get16(info.data() + 4);
    hd.biBitCount = Get16(info.data() + 6);
  } else {
    const uint8_t* p = info.data() - 4;  // offsets below count from the header's start
    hd.biWidth = static_cast<int32_t>(Get32(p + 4));
    hd.biHeight = static_cast<int32_t>(Get32(p + 8));
    hd.biPlanes = Get16(p + 12);
    hd.biBitCount = Get16(p + 14);
    hd.biCompression = Get32(p + 16);
    hd.biSizeImage = Get32(p + 20);
    hd.biXPelsPerMeter = static_cast<int32_t>(Get32(p + 24));
    hd.biYPelsPerMeter = static_cast<int32_t>(Get32(p + 28));
    hd.biClrUsed = Get32(p + 32);
    hd.biClrImportant = Get32(p + 36);
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
    const int64_t got = stream.Read(f + at, left);
    if (got < left) img->fileBytes = at + static_cast<size_t>(std::max<int64_t>(got, 0));
    left = static_cast<int64_t>(img->fileBytes - at);
    kept = std::make_unique<TPointerStream>(f + at, left);
    src = kept.get();
  }

  if (hd.biPlanes != 1) InvalidBitmap();
  const int bits = hd.biBitCount;
  if (!ValidDepth(bits)) InvalidBitmap();
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
    img->masks = {Get32(m), Get32(m + 4), Get32(m + 8)};
  }

  uint64_t colorCount = hd.biClrUsed ? hd.biClrUsed : ColorTableDefault(bits);
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
  ShapeImage(*img, hd.biWidth, hd.biHeight, bits, false, backed);
  // Run-length data without an image size runs to the end of the file: its length has
  // nothing to do with the size of the decoded rows.
  uint64_t count = hd.biSizeImage ? hd.biSizeImage
                   : compressed   ? static_cast<uint64_t>(left)
                                  : img->imageBytes;
  count = std::min<uint64_t>(count, static_cast<uint64_t>(left));
  if (!compressed) {
    const size_t take = static_cast<size_t>(std::min<uint64_t>(count, img->imageBytes));
    if (take) src->ReadBuffer(img->rows.get(), static_cast<int64_t>(take));
    // Rows the file does not hold read as zero.
    if (take < img->imageBytes) std::memset(img->rows.get() + take, 0, img->imageBytes - take);
  } else {
    const uint8_t* data = img->fileImage.get() + (img->fileBytes - static_cast<size_t>(left));
    RleDecoder(*img, hd.biCompression == platform::kBI_RLE4).Run(data, static_cast<size_t>(count));
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

// A copy of the palette's entries as a new palette, or none.
platform::PaletteHandle CopyPalette(platform::PaletteHandle palette) {
  if (!palette) return nullptr;
  int n = platform::GetPaletteEntries(palette, 0, 0, nullptr);
  std::vector<platform::PaletteEntry> entries(static_cast<size_t>(std::max(n, 0)));
  if (!entries.empty()) platform::GetPaletteEntries(palette, 0, n, entries.data());
  return platform::CreatePalette(entries.data(), n);
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

}  // namespace

TBitmap::TBitmap() = default;

TBitmap::~TBitmap() {
  if (palette_) platform::DeletePalette(palette_);
}

void TBitmap::Assign(std::shared_ptr<const TBitmapImage> image) {
  std::shared_ptr<const TBitmapImage> old;
  {
    std::lock_guard<std::mutex> guard(ImageLock());
    old = std::move(image_);
    image_ = std::move(image);
  }
  if (palette_) platform::DeletePalette(palette_);
  palette_ = nullptr;
}

void TBitmap::CopyFrom(const TGraphic* source) {
  if (!source) {
    Assign(nullptr);
    NotifyChanged(this);
    return;
  }
  const auto* other = dynamic_cast<const TBitmap*>(source);
  if (!other) {
    TGraphic::CopyFrom(source);
    return;
  }
  if (other == this) return;
  std::shared_ptr<const TBitmapImage> shared;
  {
    std::lock_guard<std::mutex> guard(ImageLock());
    shared = other->image_;
  }
  platform::PaletteHandle palette = CopyPalette(other->palette_);
  Assign(std::move(shared));
  palette_ = palette;
  if (const_cast<TBitmap*>(other)->Transparent() != Transparent())
    TGraphic::SetTransparent(const_cast<TBitmap*>(other)->Transparent());
  NotifyChanged(this);
}

void TBitmap::DrawInRect(platform::Surface& surface, const TRect& rect) {
  std::shared_ptr<const TBitmapImage> img = image_;
  if (!img || !img->HasPixels()) return;
  // The header, the masks of a bit-field image and the colour table, as StretchDIBits takes them.
  std::vector<uint8_t> info(40 + (img->masks.size() == 3 ? 12 : 0) + img->colors.size() * 4);
  BitmapInfoHeader hd = img->header;
  hd.biClrUsed = static_cast<uint32_t>(img->colors.size());
  std::memcpy(info.data(), &hd, 40);
  size_t at = 40;
  if (img->masks.size() == 3) {
    for (uint32_t m : img->masks) Put32(info.data() + at, m), at += 4;
  }
  if (!img->colors.empty()) std::memcpy(info.data() + at, img->colors.data(), img->colors.size() * 4);

  platform::PaletteHandle palette = Palette();
  platform::PaletteHandle oldPalette = nullptr;
  if (palette) {
    oldPalette = platform::SelectPalette(surface, palette, true);
    platform::RealizePalette(surface);
  }
  const int display = platform::BitsPerPixel(surface);
  const int mode =
      display <= 8 && display < img->header.biBitCount ? platform::kHALFTONE : platform::kCOLORONCOLOR;
  const int oldMode = platform::SetStretchBltMode(surface, mode);
  platform::StretchDIBits(surface, rect.Left, rect.Top, rect.Right - rect.Left, rect.Bottom - rect.Top, 0, 0,
                          img->header.biWidth, static_cast<int>(std::llabs(img->header.biHeight)),
                          img->rows.get(), info.data(), platform::kDIB_RGB_COLORS,
                          platform::CopyMode(surface));
  platform::SetStretchBltMode(surface, oldMode);
  if (palette) platform::SelectPalette(surface, oldPalette, true);
}

bool TBitmap::IsEmpty() {
  std::shared_ptr<const TBitmapImage> img = image_;
  return !img || (!img->HasPixels() && !img->fileBytes);
}

int32_t TBitmap::Height() {
  std::shared_ptr<const TBitmapImage> img = image_;
  return img ? static_cast<int32_t>(std::llabs(img->header.biHeight)) : 0;
}

int32_t TBitmap::Width() {
  std::shared_ptr<const TBitmapImage> img = image_;
  return img ? img->header.biWidth : 0;
}

platform::PaletteHandle TBitmap::Palette() {
  std::shared_ptr<const TBitmapImage> img = image_;
  if (!palette_ && img && !img->colors.empty()) {
    std::vector<platform::PaletteEntry> entries;
    for (const RgbQuad& c : img->colors) entries.push_back({c.rgbRed, c.rgbGreen, c.rgbBlue, 0});
    palette_ = platform::CreatePalette(entries.data(), static_cast<int>(entries.size()));
  }
  return palette_;
}

void TBitmap::SetPalette(platform::PaletteHandle palette) {
  std::shared_ptr<const TBitmapImage> img = image_;
  if (img && img->header.biBitCount <= 8 && palette) {
    auto copy = CloneImage(*img);
    int n = std::min(platform::GetPaletteEntries(palette, 0, 0, nullptr), 256);
    std::vector<platform::PaletteEntry> entries(static_cast<size_t>(std::max(n, 0)));
    if (!entries.empty()) platform::GetPaletteEntries(palette, 0, n, entries.data());
    copy->colors.clear();
    for (auto& e : entries) copy->colors.push_back(RgbQuad{e.peBlue, e.peGreen, e.peRed, 0});
    copy->header.biClrUsed = static_cast<uint32_t>(copy->colors.size());
    Assign(std::move(copy));
  } else if (img && img->fileBytes) {
    Assign(CloneImage(*img));  // the display changes: the kept file no longer stands for it
  }
  // The bitmap takes the palette over and frees it with its own.
  if (palette_ && palette_ != palette) platform::DeletePalette(palette_);
  palette_ = palette;
  NotifyChanged(this);
}

// Resizing keeps depth, colours and masks and the overlapping top-left part of the picture;
// new pixels are zero.
static std::shared_ptr<TBitmapImage> Resized(const std::shared_ptr<const TBitmapImage>& from, int32_t width,
                                             int32_t height) {
  auto img = std::make_shared<TBitmapImage>();
  int bits = 24;
  bool topDown = false;
  if (from) {
    bits = from->header.biBitCount;
    topDown = from->header.biHeight < 0;
    img->masks = from->masks;
    img->colors = from->colors;
    img->fromCore = from->fromCore;
    img->header = from->header;
  }
  ShapeImage(*img, width, topDown ? -height : height, bits, true);
  if (from && from->HasPixels() && img->imageBytes) {
    const size_t oldH = static_cast<size_t>(std::llabs(from->header.biHeight));
    const size_t newH = static_cast<size_t>(height);
    const size_t copyRows = std::min(oldH, newH);
    const size_t copyBytes = std::min(from->rowBytes, img->rowBytes);
    for (size_t v = 0; v < copyRows; ++v) {  // v counts from the top of the picture
      const size_t so = topDown ? v : oldH - 1 - v;
      const size_t d = topDown ? v : newH - 1 - v;
      std::memcpy(img->rows.get() + d * img->rowBytes, from->rows.get() + so * from->rowBytes, copyBytes);
    }
  }
  return img;
}

void TBitmap::SetHeight(int32_t value) {
  if (value < 0) InvalidBitmap();
  if (value == Height()) return;
  Assign(Resized(image_, Width(), value));
  NotifyChanged(this);
}

void TBitmap::SetWidth(int32_t value) {
  if (value < 0) InvalidBitmap();
  if (value == Width()) return;
  Assign(Resized(image_, value, Height()));
  NotifyChanged(this);
}

void TBitmap::ReadDesignData(TStream& stream) {
  uint8_t countBytes[4];
  stream.ReadBuffer(countBytes, 4);
  const uint32_t count = Get32(countBytes);
  if (count == 0) {
    Assign(nullptr);
    NotifyChanged(this);
    return;
  }
  const int64_t available = stream.Size() - stream.Position();
  if (static_cast<int64_t>(count) > available) throw EReadError(msg::kReadError);
  std::vector<uint8_t> data(count);
  stream.ReadBuffer(data.data(), count);
  TPointerStream image(data.data(), count);
  LoadStream(image);
}

void TBitmap::WriteDesignData(TStream& stream) {
  TMemoryStream image;
  SaveStream(image);
  uint8_t countBytes[4];
  Put32(countBytes, static_cast<uint32_t>(image.Size()));
  stream.WriteBuffer(countBytes, 4);
  if (image.Size()) stream.WriteBuffer(image.Memory(), image.Size());
}

void TBitmap::LoadStream(TStream& stream) {
  const int64_t length = stream.Size() - stream.Position();
  if (length <= 0) {
    Assign(nullptr);
    return;
  }
  std::shared_ptr<TBitmapImage> img = ReadImage(stream, length);
  Assign(std::move(img));
  NotifyChanged(this);
}

void TBitmap::SaveStream(TStream& stream) {
  std::shared_ptr<const TBitmapImage> img = image_;
  if (!img) return;
  if (img->fileBytes) {
    stream.WriteBuffer(img->fileImage.get(), static_cast<int64_t>(img->fileBytes));
    return;
  }
  if (!img->HasPixels()) return;
  WriteImage(*img, palette_, stream);
}

void TBitmap::LoadClipboard(uint16_t, uintptr_t, platform::PaletteHandle) { InvalidBitmap(); }

void TBitmap::SaveClipboard(uint16_t&, uintptr_t&, platform::PaletteHandle&) { InvalidBitmap(); }

uintptr_t TBitmap::Handle() { return 0; }
uintptr_t TBitmap::MaskHandle() { return 0; }
int TBitmap::HandleType() { return 1; }  // a device-independent image

int TBitmap::BitCount() const { return image_ ? image_->header.biBitCount : 0; }
uint32_t TBitmap::Compression() const { return image_ ? image_->readCompression : 0; }
bool TBitmap::TopDown() const { return image_ && image_->header.biHeight < 0; }
bool TBitmap::FromCoreHeader() const { return image_ && image_->fromCore; }
bool TBitmap::KeepsFileImage() const { return image_ && image_->fileBytes; }

const BitmapInfoHeader& TBitmap::Header() const {
  static const BitmapInfoHeader empty{};
  return image_ ? image_->header : empty;
}

const std::vector<RgbQuad>& TBitmap::ColorTable() const {
  static const std::vector<RgbQuad> none;
  return image_ ? image_->colors : none;
}

const std::vector<uint32_t>& TBitmap::Masks() const {
  static const std::vector<uint32_t> none;
  return image_ ? image_->masks : none;
}

const uint8_t* TBitmap::Rows() const { return image_ ? image_->rows.get() : nullptr; }
size_t TBitmap::RowBytes() const { return image_ ? image_->rowBytes : 0; }

uint32_t TBitmap::PixelRGB(int32_t x, int32_t y) const {
  const TBitmapImage* img = image_.get();
  if (!img || !img->HasPixels() || x < 0 || y < 0 || x >= img->header.biWidth) return 0;
  const size_t height = static_cast<size_t>(std::llabs(img->header.biHeight));
  if (static_cast<size_t>(y) >= height) return 0;
  const size_t row = img->header.biHeight < 0 ? static_cast<size_t>(y) : height - 1 - static_cast<size_t>(y);
  platform::DibPixels pixels(img->header.biBitCount, img->header.biCompression, img->rows.get(),
                             img->rowBytes, img->colors.data(), img->colors.size(),
                             img->masks.empty() ? nullptr : img->masks.data());
  return pixels.RGB(static_cast<size_t>(x), row);
}
