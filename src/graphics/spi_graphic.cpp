#include "graphics/spi_graphic.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "graphics/spi_sources.h"
#include "picture/bitmap.h"
#include "platform/gdi.h"

KOR_DEFINE_GRAPHIC_CLASS(TSPIGraphic, TGraphic);

TSPIGraphic::~TSPIGraphic() { ReleasePicture(); }

void TSPIGraphic::ReleasePicture() {
  source_.reset();
  cachedPalette_.reset();
  infoReady_ = false;
}

bool TSPIGraphic::IsEmpty() { return !source_ || source_->IsEmpty(); }

void TSPIGraphic::UpdateInfo() {
  if (infoReady_) return;
  layout_ = TDecodedLayout{};
  cachedPalette_.reset();
  if (IsEmpty()) {
    infoReady_ = true;
    return;
  }
  // The source keeps only pictures whose blocks passed the checks, which computed the layout.
  const auto* info = static_cast<const uint8_t*>(source_->BitmapInfo());
  layout_ = source_->Layout();
  // The colour table follows the header (40 bytes unless the block really holds a larger one)
  // and the masks, whatever biSize says.
  cachedPalette_.reset(
      platform::PaletteFromColorTable(info + layout_.HeaderSize + layout_.MaskBytes, layout_.ColorCount));
  infoReady_ = true;
}

int32_t TSPIGraphic::Width() {
  UpdateInfo();
  return layout_.Width;
}

int32_t TSPIGraphic::Height() {
  UpdateInfo();
  return layout_.Height;
}

platform::PaletteHandle TSPIGraphic::Palette() {
  UpdateInfo();
  return cachedPalette_.get();
}

bool TSPIGraphic::FourBitPixels() {
  UpdateInfo();
  return layout_.FourBitPixels;
}

int32_t TSPIGraphic::InfoSize() {
  UpdateInfo();
  return layout_.InfoSize;
}

int32_t TSPIGraphic::BitsSize() {
  UpdateInfo();
  return layout_.BitsSize;
}

int32_t TSPIGraphic::ColorCount() {
  UpdateInfo();
  return layout_.ColorCount;
}

void TSPIGraphic::DrawInRect(platform::Surface& surface, const TRect& rect) {
  if (IsEmpty()) return;
  UpdateInfo();
  platform::PaletteHandle palette = Palette();
  platform::PaletteHandle previousPalette = nullptr;
  if (palette) {
    previousPalette = platform::SelectPalette(surface, palette, true);
    platform::RealizePalette(surface);
  }
  const int previousMode = platform::SetStretchBltMode(surface, platform::kCOLORONCOLOR);
  // The source height is the picture's row count: a top-down picture says so by the negative
  // height in its own header, and a negative source height would name a rectangle outside it
  // (GDI then draws nothing).
  const int32_t sourceHeight = layout_.Height < 0 ? -layout_.Height : layout_.Height;
  platform::StretchDIBits(surface, rect.Left, rect.Top, rect.Right - rect.Left, rect.Bottom - rect.Top, 0, 0,
                          layout_.Width, sourceHeight, source_->Bits(), source_->BitmapInfo(),
                          platform::kDIB_RGB_COLORS, platform::CopyMode(surface));
  platform::SetStretchBltMode(surface, previousMode);
  if (palette) platform::SelectPalette(surface, previousPalette, true);
}

void TSPIGraphic::FileHeader(uint8_t (&head)[14]) {
  UpdateInfo();
  const uint32_t fileSize =
      14u + static_cast<uint32_t>(layout_.InfoSize) + static_cast<uint32_t>(layout_.BitsSize);
  const uint32_t offBits = 14u + static_cast<uint32_t>(layout_.InfoSize);
  std::memset(head, 0, sizeof head);
  head[0] = 'B';
  head[1] = 'M';
  for (int i = 0; i < 4; ++i) {
    head[2 + i] = static_cast<uint8_t>(fileSize >> (8 * i));
    head[10 + i] = static_cast<uint8_t>(offBits >> (8 * i));
  }
}

void TSPIGraphic::SaveStream(TStream& stream) {
  UpdateInfo();
  if (IsEmpty()) return;
  uint8_t head[14];
  FileHeader(head);
  stream.WriteBuffer(head, sizeof head);
  stream.WriteBuffer(source_->BitmapInfo(), layout_.InfoSize);
  stream.WriteBuffer(source_->Bits(), layout_.BitsSize);
}

// The BMP file image that SaveStream writes, read in place: the 14-byte file header, then
// InfoSize bytes of the info block and BitsSize bytes of the bits.  Empty for an empty graphic.
TSPIGraphic::TFileImageStream::TFileImageStream(TSPIGraphic& graphic) {
  if (graphic.IsEmpty()) return;
  graphic.FileHeader(head_);
  parts_[0] = {head_, 14};
  parts_[1] = {static_cast<const uint8_t*>(graphic.source_->BitmapInfo()), graphic.layout_.InfoSize};
  parts_[2] = {static_cast<const uint8_t*>(graphic.source_->Bits()), graphic.layout_.BitsSize};
  size_ = 14 + int64_t(graphic.layout_.InfoSize) + graphic.layout_.BitsSize;
}

int64_t TSPIGraphic::TFileImageStream::Read(void* buffer, int64_t count) {
  auto* out = static_cast<uint8_t*>(buffer);
  int64_t done = 0, start = 0;
  for (const Part& part : parts_) {
    const int64_t end = start + part.size;
    if (count > done && position_ < end && position_ >= start) {
      const int64_t n = std::min(count - done, end - position_);
      std::memcpy(out + done, part.data + (position_ - start), static_cast<size_t>(n));
      done += n;
      position_ += n;
    }
    start = end;
  }
  return done;
}

int64_t TSPIGraphic::TFileImageStream::Seek(int64_t offset, TSeekOrigin origin) {
  const int64_t base = origin == TSeekOrigin::soBeginning ? 0
                       : origin == TSeekOrigin::soCurrent ? position_
                                                          : size_;
  position_ = std::max<int64_t>(0, base + offset);
  return position_;
}

void TSPIGraphic::LoadFile(const std::string& fileName) {
  ReleasePicture();
  source_ = std::make_unique<TInSPIAbleFromFile>(this, fileName);
  DecodeSource();
}

void TSPIGraphic::LoadStream(TStream& stream) { LoadFromStreamWithName(stream, std::string()); }

void TSPIGraphic::LoadFromStreamWithName(TStream& stream, const std::string& fileName) {
  ReleasePicture();
  source_ = std::make_unique<TInSPIAbleFromStream>(this, stream, fileName);
  DecodeSource();
}

void TSPIGraphic::DecodeSource() {
  source_->OnProgress = OnProgress;
  try {
    source_->Decode();
    if (source_->IsEmpty()) throw EInvalidGraphic(msg::kSusieCouldNotDecode);
  } catch (...) {
    ReleasePicture();
    throw;
  }
  NotifyChanged(this);
}

std::unique_ptr<TGraphic> TSPIGraphic::BuildBitmap(TGraphicClass bitmapClass, bool release) {
  try {
    std::unique_ptr<TGraphic> bitmap = CreateGraphic(bitmapClass);
    if (!bitmap) throw EInvalidGraphic(msg::kSusieCouldNotDecode);
    // A picture whose rows came back in a block of their own (from the helper) keeps them
    // there: the plain bitmap reads the header and colours from the source's own copy and
    // leaves the rows in place.  Otherwise the bitmap reads the BMP file image straight from
    // the plug-in's blocks: the one copy it makes is its own, and the peak is the blocks plus
    // that copy.
    std::shared_ptr<const uint8_t> rows =
        source_ && bitmap->ClassType() == &TBitmap::Class ? source_->SharedBits() : nullptr;
    TFileImageStream image(*this);
    if (rows)
      static_cast<TBitmap*>(bitmap.get())->LoadFileImage(image, rows, 14 + int64_t(layout_.InfoSize));
    else
      bitmap->LoadStream(image);
    if (release) ReleasePicture();
    return bitmap;
  } catch (...) {
    if (release) ReleasePicture();
    throw;
  }
}

std::unique_ptr<TGraphic> TSPIGraphic::MakeBitmap(TGraphicClass bitmapClass) {
  return BuildBitmap(bitmapClass, false);
}

std::unique_ptr<TGraphic> TSPIGraphic::MakeBitmapAndRelease(TGraphicClass bitmapClass) {
  return BuildBitmap(bitmapClass, true);
}
