#include "source.h"

#include <cstring>

#include "plugins/spi_api.h"

namespace korzip {

bool MemorySource::Read(uint64_t at, void* out, size_t n) {
  if (at > size_ || n > size_ - at) return false;
  if (n) std::memcpy(out, data_ + at, n);
  return true;
}

int32_t FileSource::Open(const char* name) {
  Close();
  return name && OpenFile(name) ? SPI_SUCCESS : SPI_FILE_READ_ERROR;
}

bool FileSource::Read(uint64_t at, void* out, size_t n) {
  if (at > size_ || n > size_ - at) return false;
  if (n >= kWindow) return ReadDirect(at, out, n);
  if (at < windowAt_ || at - windowAt_ > window_.size() || n > window_.size() - (at - windowAt_)) {
    const uint64_t left = size_ - at;
    window_.resize(left < kWindow ? static_cast<size_t>(left) : kWindow);
    windowAt_ = at;
    if (!ReadDirect(at, window_.data(), window_.size())) {
      window_.clear();
      return false;
    }
  }
  if (n) std::memcpy(out, window_.data() + (at - windowAt_), n);
  return true;
}

}  // namespace korzip
