#include <windows.h>

#include <cstdint>

#include "platform/localmem.h"

namespace platform {
LocalHandle LocalAllocate(unsigned flags, std::size_t bytes) { return ::LocalAlloc(flags, bytes); }
void* LocalLockBlock(LocalHandle h) { return ::LocalLock(static_cast<HLOCAL>(h)); }
bool LocalUnlockBlock(LocalHandle h) { return ::LocalUnlock(static_cast<HLOCAL>(h)) != FALSE; }
void LocalFreeBlock(LocalHandle h) { ::LocalFree(static_cast<HLOCAL>(h)); }
std::size_t LocalBlockSize(LocalHandle h) { return ::LocalSize(static_cast<HLOCAL>(h)); }
unsigned long long LargestFreeBlock() {
  SYSTEM_INFO info{};
  ::GetSystemInfo(&info);
  auto at = reinterpret_cast<uintptr_t>(info.lpMinimumApplicationAddress);
  const auto end = reinterpret_cast<uintptr_t>(info.lpMaximumApplicationAddress);
  unsigned long long largest = 0;
  MEMORY_BASIC_INFORMATION region{};
  while (at < end &&
         ::VirtualQuery(reinterpret_cast<const void*>(at), &region, sizeof region) == sizeof region) {
    const auto base = reinterpret_cast<uintptr_t>(region.BaseAddress);
    if (region.RegionSize == 0 || base + region.RegionSize <= at) break;  // no progress: stop
    if (region.State == MEM_FREE && region.RegionSize > largest) largest = region.RegionSize;
    at = base + region.RegionSize;
  }
  return largest;
}
}  // namespace platform
