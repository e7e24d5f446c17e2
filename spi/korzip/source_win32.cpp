// The Windows build's file reading: CreateFileA with the name as the host gives it, shared with
// readers and writers (as ifwic.spi opens pictures), and ReadFile at explicit offsets.
#include <windows.h>

#include "source.h"

namespace korzip {

bool FileSource::OpenFile(const char* name) {
  HANDLE file = CreateFileA(name, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  LARGE_INTEGER size;
  if (!GetFileSizeEx(file, &size) || size.QuadPart < 0) {
    CloseHandle(file);
    return false;
  }
  handle_ = reinterpret_cast<intptr_t>(file);
  size_ = static_cast<uint64_t>(size.QuadPart);
  return true;
}

bool FileSource::ReadDirect(uint64_t at, void* out, size_t n) {
  auto* p = static_cast<BYTE*>(out);
  while (n > 0) {
    const DWORD chunk = n > (1u << 30) ? (1u << 30) : static_cast<DWORD>(n);
    OVERLAPPED where{};
    where.Offset = static_cast<DWORD>(at);
    where.OffsetHigh = static_cast<DWORD>(at >> 32);
    DWORD got = 0;
    if (!ReadFile(reinterpret_cast<HANDLE>(handle_), p, chunk, &got, &where) || got != chunk) return false;
    p += got;
    at += got;
    n -= got;
  }
  return true;
}

void FileSource::Close() {
  if (handle_ != -1) CloseHandle(reinterpret_cast<HANDLE>(handle_));
  handle_ = -1;
  size_ = 0;
  window_.clear();
}

}  // namespace korzip
