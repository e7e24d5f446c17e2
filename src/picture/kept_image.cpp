#include "picture/kept_image.h"

#include <new>

#include "rtl/exceptions.h"
#include "rtl/messages.h"

void TKeptImageGraphic::CopyFrom(const TGraphic* source) {
  if (!source) {
    image_.reset();
  } else if (source->ClassType() == ClassType()) {
    if (source == this) return;
    image_ = static_cast<const TKeptImageGraphic*>(source)->image_;
  } else {
    TGraphic::CopyFrom(source);
    return;
  }
  NotifyChanged(this);
}

void TKeptImageGraphic::LoadStream(TStream& stream) {
  int64_t start = stream.Position();
  int64_t length = stream.Size() - start;
  if (length <= 0) {
    image_.reset();
    return;
  }
  std::vector<uint8_t> bytes;
  try {
    bytes.resize(static_cast<size_t>(length));
  } catch (const std::bad_alloc&) {
    throw EOutOfMemory(msg::kOutOfMemory);
  }
  stream.ReadBuffer(bytes.data(), length);
  std::shared_ptr<const Image> image = Parse(std::move(bytes));
  stream.SetPosition(start + static_cast<int64_t>(image->bytes.size()));
  image_ = std::move(image);
  NotifyChanged(this);
}

void TKeptImageGraphic::SaveStream(TStream& stream) {
  if (image_) stream.WriteBuffer(image_->bytes.data(), static_cast<int64_t>(image_->bytes.size()));
}

void TKeptImageGraphic::SaveClipboard(uint16_t& format, uintptr_t& data, platform::PaletteHandle& palette) {
  format = 0;
  data = 0;
  palette = nullptr;
}
