#include <windows.h>

#include <utility>

#include "platform/shmem.h"
#include "platform/win32/handles.h"

namespace platform {

PeerProcess PeerProcess::Self() { return PeerProcess{::GetCurrentProcessId(), nullptr}; }

namespace {
// Maps the mapping, which the block owns from then on (it is closed on failure).
void MapHandle(win::Handle mapping, size_t bytes, uint8_t*& data, size_t& size, intptr_t& handle) {
  win::MappedView view(::MapViewOfFile(mapping.get(), FILE_MAP_ALL_ACCESS, 0, 0, bytes));
  if (!view) return;
  data = static_cast<uint8_t*>(view.release());
  size = bytes;
  handle = reinterpret_cast<intptr_t>(mapping.release());
}
}  // namespace

SharedMemory SharedMemory::Create(size_t bytes) {
  if (bytes == 0) bytes = 1;
  SharedMemory m;
  const uint64_t size = bytes;
  win::Handle mapping(::CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE,
                                           static_cast<DWORD>(size >> 32), static_cast<DWORD>(size),
                                           nullptr));
  if (mapping) MapHandle(std::move(mapping), bytes, m.data_, m.size_, m.handle_);
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
  MapHandle(win::Handle(h), bytes, m.data_, m.size_, m.handle_);
  // A section the peer made with reserved pages maps, but touching a page it never committed
  // faults: every page of the view must be committed.
  for (size_t at = 0; m.data_ && at < bytes;) {
    MEMORY_BASIC_INFORMATION info{};
    if (::VirtualQuery(m.data_ + at, &info, sizeof info) != sizeof info || info.State != MEM_COMMIT) {
      m.Reset();
      break;
    }
    const uintptr_t regionEnd = reinterpret_cast<uintptr_t>(info.BaseAddress) + info.RegionSize -
                                reinterpret_cast<uintptr_t>(m.data_);
    if (regionEnd <= at) {
      m.Reset();
      break;
    }
    at = regionEnd;
  }
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
  // The view goes first, then the mapping.
  win::Handle mapping(handle_ != -1 ? reinterpret_cast<HANDLE>(handle_) : nullptr);
  win::MappedView view(data_);
  view.reset();
  mapping.reset();
  data_ = nullptr;
  size_ = 0;
  handle_ = -1;
}

}  // namespace platform
