#include <windows.h>

#include "platform/localmem.h"

namespace platform {
LocalHandle LocalAllocate(unsigned flags, std::size_t bytes) { return ::LocalAlloc(flags, bytes); }
void* LocalLockBlock(LocalHandle h) { return ::LocalLock(static_cast<HLOCAL>(h)); }
bool LocalUnlockBlock(LocalHandle h) { return ::LocalUnlock(static_cast<HLOCAL>(h)) != FALSE; }
void LocalFreeBlock(LocalHandle h) { ::LocalFree(static_cast<HLOCAL>(h)); }
std::size_t LocalBlockSize(LocalHandle h) { return ::LocalSize(static_cast<HLOCAL>(h)); }
unsigned long long FreeAddressSpace() {
  MEMORYSTATUSEX status{};
  status.dwLength = sizeof status;
  return ::GlobalMemoryStatusEx(&status) ? status.ullAvailVirtual : 0;
}
}  // namespace platform
