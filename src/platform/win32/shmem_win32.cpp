#include <windows.h>

#include "platform/shmem.h"

namespace platform {

PeerProcess PeerProcess::Self() { return PeerProcess{::GetCurrentProcessId(), nullptr}; }

namespace {
// Maps the mapping, which the block owns from then on (it is closed on failure).
void MapHandle(HANDLE h, size_t bytes, uint8_t*& data, size_t& size, intptr_t& handle) {
  void* p = ::MapViewOfFile(h, FILE_MAP_ALL_ACCESS, 0, 0, bytes);
  if (!p) {
    ::CloseHandle(h);
    return;
  }
  data = static_cast<uint8_t*>(p);
  size = bytes;
  handle = reinterpret_cast<intptr_t>(h);
}
}  // namespace

SharedMemory SharedMemory::Create(size_t bytes) {
  if (bytes == 0) bytes = 1;
  SharedMemory m;
  const uint64_t size = bytes;
  HANDLE h = ::CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE,
                                  static_cast<DWORD>(size >> 32), static_cast<DWORD>(size), nullptr);
  if (h) MapHandle(h, bytes, m.data_, m.size_, m.handle_);
  return m;
}

SharedMemory SharedMemory::Open(const PeerProcess& owner, uint64_t token, size_t bytes) {
  SharedMemory m;
  if (bytes == 0 || token == 0) return m;
  HANDLE h = reinterpret_cast<HANDLE>(static_cast<uintptr_t>(token));
  if (owner.Handle) {
    HANDLE mine = nullptr;
    if (!::DuplicateHandle(static_cast<HANDLE>(owner.Handle), h, ::GetCurrentProcess(), &mine, 0, FALSE,
                           DUPLICATE_SAME_ACCESS))
      return m;
    h = mine;
  }
  // A view larger than the mapping fails, so a size the peer overstated is refused here.
  MapHandle(h, bytes, m.data_, m.size_, m.handle_);
  return m;
}

uint64_t SharedMemory::Lend(const PeerProcess& to) const {
  if (!to.Handle) return static_cast<uint64_t>(handle_);
  HANDLE theirs = nullptr;
  if (!::DuplicateHandle(::GetCurrentProcess(), reinterpret_cast<HANDLE>(handle_),
                         static_cast<HANDLE>(to.Handle), &theirs, 0, FALSE, DUPLICATE_SAME_ACCESS))
    return 0;
  return static_cast<uint64_t>(reinterpret_cast<uintptr_t>(theirs));
}

void SharedMemory::Reset() {
  if (data_) ::UnmapViewOfFile(data_);
  if (handle_ != -1) ::CloseHandle(reinterpret_cast<HANDLE>(handle_));
  data_ = nullptr;
  size_ = 0;
  handle_ = -1;
}

}  // namespace platform
