#include "platform/localmem.h"
#include "platform/posix/localmem/localmem.h"

namespace platform {
LocalHandle LocalAllocate(unsigned flags, std::size_t bytes) { return ::LocalAlloc(flags, bytes); }
void* LocalLockBlock(LocalHandle h) { return ::LocalLock(h); }
bool LocalUnlockBlock(LocalHandle h) { return ::LocalUnlock(h) != 0; }
void LocalFreeBlock(LocalHandle h) { ::LocalFree(h); }
std::size_t LocalBlockSize(LocalHandle h) { return ::LocalSize(h); }
}  // namespace platform
