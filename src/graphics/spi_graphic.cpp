#include "graphics/spi_graphic.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "platform/gdi.h"

KOR_DEFINE_GRAPHIC_CLASS(TSPIGraphic, TGraphic);

TSPIGraphic::~TSPIGraphic() { ReleasePicture(); }

void TSPIGraphic::ReleasePicture() {
  source_.reset();
  if (cachedPalette_) {
    platform::DeletePalette(cachedPalette_);
    cachedPalette_ = nullptr;
  }
  infoReady_ = false;
}

bool TSPIGraphic::IsEmpty() { return !source_ || source_->IsEmpty(); }

void TSPIGraphic::UpdateInfo() {
  if (infoReady_) return;
  layout_ = TDecodedLayout{};
  cachedPalette_ = nullptr;
  if (IsEmpty()) {
    infoReady_ = true;
    return;
  }
  // The source keeps only blocks whose header passed ComputeLayout and that hold its sizes.
  const auto* info = static_cast<const uint8_t*>(source_->BitmapInfo());
  platform::BitmapInfoHeader header;
  std::memcpy(&header, info, sizeof header);
  ComputeLayout(header, layout_);
  // The colour table follows the 40-byte header (and the masks), whatever biSize says.
  const int count = std::min(layout_.ColorCount, 65535);  // a LOGPALETTE holds at most this many
  std::vector<platform::PaletteEntry> entries(static_cast<size_t>(count));
  const uint8_t* table = info + 40 + layout_.MaskBytes;
  for (int i = 0; i < count; ++i) {
    const uint8_t* q = table + 4 * static_cast<size_t>(i);
    entries[static_cast<size_t>(i)] = {q[2], q[1], q[0], 0};
  }
  cachedPalette_ = platform::CreatePalette(entries.data(), count);
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
  return cachedPalette_;
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
  platform::StretchDIBits(surface, rect.Left, rect.Top, rect.Right - rect.Left, rect.Bottom - rect.Top, 0, 0,
                          layout_.Width, layout_.Height, source_->Bits(), source_->BitmapInfo(),
                          platform::kDIB_RGB_COLORS, platform::CopyMode(surface));
  platform::SetStretchBltMode(surface, previousMode);
  if (palette) platform::SelectPalette(surface, previousPalette, true);
}

void TSPIGraphic::SaveStream(TStream& stream) {
  UpdateInfo();
  if (IsEmpty()) return;
  uint8_t head[14] = {'B', 'M'};
  const uint32_t fileSize =
      14u + static_cast<uint32_t>(layout_.InfoSize) + static_cast<uint32_t>(layout_.BitsSize);
  const uint32_t offBits = 14u + static_cast<uint32_t>(layout_.InfoSize);
  for (int i = 0; i < 4; ++i) {
    head[2 + i] = static_cast<uint8_t>(fileSize >> (8 * i));
    head[10 + i] = static_cast<uint8_t>(offBits >> (8 * i));
  }
  stream.WriteBuffer(head, sizeof head);
  stream.WriteBuffer(source_->BitmapInfo(), layout_.InfoSize);
  stream.WriteBuffer(source_->Bits(), layout_.BitsSize);
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
    TMemoryStream stream;
    UpdateInfo();
    if (!IsEmpty()) stream.Reserve(14 + static_cast<int64_t>(layout_.InfoSize) + layout_.BitsSize);
    SaveStream(stream);
    if (release) ReleasePicture();
    stream.SetPosition(0);
    bitmap->LoadStream(stream);
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
