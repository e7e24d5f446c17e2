// Local memory of the plug-ins' result blocks: LocalAlloc/LocalLock/LocalUnlock/LocalFree/
// LocalSize.  Win32: the system's; natively: the korlocal shared library.
#ifndef KORVALE_PLATFORM_LOCALMEM_H
#define KORVALE_PLATFORM_LOCALMEM_H

#include <cstddef>

namespace platform {

using LocalHandle = void*;

LocalHandle LocalAllocate(unsigned flags, std::size_t bytes);  // LMEM_MOVEABLE = 2, ZEROINIT = 0x40
void* LocalLockBlock(LocalHandle h);
bool LocalUnlockBlock(LocalHandle h);
void LocalFreeBlock(LocalHandle h);
std::size_t LocalBlockSize(LocalHandle h);  // 0 for a handle that is no block

}  // namespace platform

#endif
