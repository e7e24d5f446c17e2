// The BMP bitmap graphic: copy-on-write sharing of one image between bitmaps, palettes,
// resizing, nearest-neighbour drawing through the drawing seam, the stored form and loading and
// saving through the reader and writer of bitmap_read.cpp and bitmap_write.cpp.
#include "picture/bitmap.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <mutex>

#include "picture/bitmap_image.h"
#include "platform/dib_layout.h"
#include "platform/dib_pixels.h"
#include "rtl/exceptions.h"
#include "rtl/messages.h"

using namespace bitmap_image;
using platform::BitmapInfoHeader;
using platform::RgbQuad;

KOR_DEFINE_GRAPHIC_CLASS(TBitmap, TGraphic);

namespace {

// Guards every change of which image a bitmap refers to, so that bitmaps sharing one image
// after CopyFrom never see it half replaced.
std::mutex& ImageLock() {
  static std::mutex lock;
  return lock;
}

}  // namespace

TBitmap::TBitmap() = default;

TBitmap::~TBitmap() = default;

void TBitmap::Assign(std::shared_ptr<const TBitmapImage> image) {
  std::shared_ptr<const TBitmapImage> old;
  {
    std::lock_guard<std::mutex> guard(ImageLock());
    old = std::move(image_);
    image_ = std::move(image);
  }
  palette_.reset();
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
  platform::OwnedPalette palette(platform::CopyPalette(other->palette_.get()));
  Assign(std::move(shared));
  palette_ = std::move(palette);
  if (const_cast<TBitmap*>(other)->Transparent() != Transparent())
    TGraphic::SetTransparent(const_cast<TBitmap*>(other)->Transparent());
  NotifyChanged(this);
}

void TBitmap::DrawInRect(platform::Surface& surface, const TRect& rect) {
  std::shared_ptr<const TBitmapImage> img = image_;
  if (!img || !img->HasPixels()) return;
  // The header, the masks of a bit-field image and the colour table, as StretchDIBits takes them.
  const std::vector<uint8_t> info =
      platform::MakeBitmapInfo(img->header, img->masks.size() == 3 ? img->masks.data() : nullptr,
                               img->colors.data(), img->colors.size());

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
    static_assert(sizeof(RgbQuad) == 4, "colour table entries are 4 bytes");
    palette_.reset(platform::PaletteFromColorTable(reinterpret_cast<const uint8_t*>(img->colors.data()),
                                                   static_cast<int>(img->colors.size())));
  }
  return palette_.get();
}

void TBitmap::SetPalette(platform::PaletteHandle palette) {
  // The bitmap takes the palette over and frees it with its own.  It is taken before the image
  // changes (which drops the palette held), so that the bitmap's own palette handed back stays.
  platform::OwnedPalette taken(palette && palette == palette_.get() ? palette_.release() : palette);
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
  palette_ = std::move(taken);
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
  const uint32_t count = KorLe32(countBytes);
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
  KorPutLe32(countBytes, static_cast<uint32_t>(image.Size()));
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

void TBitmap::LoadFileImage(const std::shared_ptr<const uint8_t>& image, size_t bytes) {
  if (!image || bytes == 0) {
    Assign(nullptr);
    return;
  }
  TPointerStream stream(image.get(), static_cast<int64_t>(bytes));
  LoadFileImage(stream, image, 0);
}

void TBitmap::LoadFileImage(TStream& stream, const std::shared_ptr<const uint8_t>& rows, int64_t rowsAt) {
  const int64_t length = stream.Size();
  if (length <= 0) {
    Assign(nullptr);
    return;
  }
  const TRowsInPlace inPlace{rows, rowsAt};
  Assign(ReadImage(stream, length, &inPlace));
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
  WriteImage(*img, palette_.get(), stream);
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
