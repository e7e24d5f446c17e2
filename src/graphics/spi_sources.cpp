#include "graphics/spi_sources.h"

#include <algorithm>
#include <cstring>
#include <limits>

#include "platform/files.h"

// ---- TInSPIAbleFromFile ----

TInSPIAbleFromFile::TInSPIAbleFromFile(TObject* owner, const std::string& fileName)
    : TInSPIAbleData(owner, fileName) {}

void TInSPIAbleFromFile::ReadHeader(uint8_t* buffer, int32_t count) {
  // FileRead reads on to the count or the end of the file; any failure leaves the zeros: the
  // plug-ins are asked all the same.
  const platform::File f(platform::FileOpenRead(FileName()));
  if (f) platform::FileRead(f.Get(), buffer, count);
}

bool TInSPIAbleFromFile::Locate(int32_t offset, spirun::Input& input) {
  input.Flag = SPI_INPUT_FILE;
  input.FileName = FileName();
  input.Offset = offset;
  return true;
}

// ---- TInSPIAbleFromStream ----

TInSPIAbleFromStream::TInSPIAbleFromStream(TObject* owner, TStream& stream, const std::string& fileName)
    : TInSPIAbleData(owner, fileName) {
  TCustomMemoryStream* memory = dynamic_cast<TCustomMemoryStream*>(&stream);
  if (!memory) {
    ownedCopy_ = std::make_unique<TMemoryStream>();
    ownedCopy_->LoadFromStream(stream);
    memory = ownedCopy_.get();
  }
  memory_ = static_cast<const uint8_t*>(memory->Memory());
  // Plug-ins take a 32-bit length: a larger stream is offered as its first 2 GB.
  size_ = static_cast<int32_t>(std::min<int64_t>(memory->Size(), std::numeric_limits<int32_t>::max()));
}

// The copy goes first, then the base frees the plug-in's blocks.
TInSPIAbleFromStream::~TInSPIAbleFromStream() { ownedCopy_.reset(); }

void TInSPIAbleFromStream::ReadHeader(uint8_t* buffer, int32_t count) {
  const int32_t n = std::min(size_, count);
  if (n > 0 && memory_) std::memcpy(buffer, memory_, static_cast<size_t>(n));
}

bool TInSPIAbleFromStream::Locate(int32_t offset, spirun::Input& input) {
  if (size_ < offset) return false;
  input.Flag = SPI_INPUT_MEMORY;
  input.Memory = memory_;
  input.Size = size_;
  input.Offset = offset;
  return true;
}
