// Run-length decoding of 8-bit and 4-bit BMP data into an image's rows.
#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "picture/bitmap_image.h"
#include "picture/call_off.h"

namespace bitmap_image {
namespace {

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
    // Checked for a call-off at every strip of rows: a run only ever moves within one row.
    const size_t stripRows = std::max<size_t>(1, kCallOffStripBytes / std::max<size_t>(1, rowBytes_));
    size_t checkAt = 0;
    while (i + 1 < size && y_ < height_) {
      if (y_ >= checkAt) {
        CheckCallOff();
        checkAt = y_ + stripRows;
      }
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

}  // namespace

void DecodeRunLength(TBitmapImage& img, bool rle4, const uint8_t* data, size_t size) {
  RleDecoder(img, rle4).Run(data, size);
}

}  // namespace bitmap_image
