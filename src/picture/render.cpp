#include "picture/render.h"

#include <cstring>

#include "picture/icon.h"
#include "picture/metafile.h"
#include "platform/dib.h"
#include "platform/dib_layout.h"
#include "rtl/exceptions.h"
#include "rtl/messages.h"

namespace {

constexpr uint32_t kWhite = 0x00FFFFFF;

// A white 24-bit bottom-up BMP file image of width x height in a memory stream; Rows() points
// at its pixel rows.
class BmpCanvas {
 public:
  BmpCanvas(int32_t width, int32_t height) : width_(width), height_(height) {
    rowBytes_ = KorDibRowBytes(width, 24);
    const uint64_t imageBytes = KorDibImageBytes(width, height, 24);
    uint64_t fileBytes = 14 + 40 + imageBytes;
    if (fileBytes > 0xFFFFFFFFu) throw EOutOfMemory(msg::kOutOfMemory);
    stream_.SetSize(static_cast<int64_t>(fileBytes));
    uint8_t* p = static_cast<uint8_t*>(stream_.Memory());
    platform::BitmapFileHeader fh{0x4D42, static_cast<uint32_t>(fileBytes), 0, 0, 14 + 40};
    platform::BitmapInfoHeader ih = platform::MakeInfoHeader(width, height, 24);
    ih.biXPelsPerMeter = ih.biYPelsPerMeter = 3779;  // 96 dots per inch
    std::memcpy(p, &fh, 14);
    std::memcpy(p + 14, &ih, 40);
    std::memset(p + 54, 0xFF, static_cast<size_t>(imageBytes));
  }

  uint8_t* Rows() { return static_cast<uint8_t*>(stream_.Memory()) + 54; }
  size_t RowBytes() const { return static_cast<size_t>(rowBytes_); }
  // (0, 0) is the top-left corner.
  void Set(int32_t x, int32_t y, uint32_t rgb) {
    uint8_t* px = Rows() + static_cast<size_t>(height_ - 1 - y) * RowBytes() + static_cast<size_t>(x) * 3;
    px[0] = static_cast<uint8_t>(rgb);
    px[1] = static_cast<uint8_t>(rgb >> 8);
    px[2] = static_cast<uint8_t>(rgb >> 16);
  }
  std::unique_ptr<TBitmap> ToBitmap() {
    stream_.SetPosition(0);
    auto bitmap = std::make_unique<TBitmap>();
    bitmap->LoadStream(stream_);
    return bitmap;
  }

 private:
  int32_t width_, height_;
  uint64_t rowBytes_ = 0;
  TMemoryStream stream_;
};

std::unique_ptr<TBitmap> RenderIcon(TIcon& icon) {
  BmpCanvas canvas(icon.Width(), icon.Height());
  for (int32_t y = 0; y < icon.Height(); ++y)
    for (int32_t x = 0; x < icon.Width(); ++x) canvas.Set(x, y, icon.PixelOver(x, y, kWhite));
  return canvas.ToBitmap();
}

std::unique_ptr<TBitmap> RenderMetafile(TMetafile& metafile) {
  BmpCanvas canvas(metafile.Width(), metafile.Height());
  metafile.RenderRows(canvas.Rows(), canvas.RowBytes());  // natively the picture stays white
  return canvas.ToBitmap();
}

std::unique_ptr<TBitmap> RenderOther(TGraphic& graphic) {
  // Graphics that hold a decoded picture write it as a BMP file image.
  TMemoryStream stream;
  auto bitmap = std::make_unique<TBitmap>();
  try {
    graphic.SaveStream(stream);
    stream.SetPosition(0);
    bitmap->LoadStream(stream);
  } catch (const Exception&) {
    bitmap->CopyFrom(nullptr);
  }
  if (!bitmap->IsEmpty() && bitmap->Width() == graphic.Width() && bitmap->Height() == graphic.Height())
    return bitmap;
  return BmpCanvas(graphic.Width(), graphic.Height()).ToBitmap();
}

}  // namespace

std::unique_ptr<TBitmap> RenderToBitmap(TGraphic& graphic) {
  if (graphic.IsEmpty() || graphic.Width() <= 0 || graphic.Height() <= 0) return std::make_unique<TBitmap>();
  if (graphic.InheritsFrom(&TBitmap::Class)) {
    auto copy = std::make_unique<TBitmap>();
    copy->CopyFrom(&graphic);
    return copy;
  }
  if (auto* icon = dynamic_cast<TIcon*>(&graphic)) return RenderIcon(*icon);
  if (auto* metafile = dynamic_cast<TMetafile*>(&graphic)) return RenderMetafile(*metafile);
  return RenderOther(graphic);
}

int ShownBitCount(TGraphic& graphic) {
  if (graphic.IsEmpty()) return 0;
  if (auto* bitmap = dynamic_cast<TBitmap*>(&graphic)) return bitmap->BitCount();
  if (auto* icon = dynamic_cast<TIcon*>(&graphic)) return icon->BitCount();
  if (dynamic_cast<TMetafile*>(&graphic)) return 24;
  return RenderToBitmap(graphic)->BitCount();
}
