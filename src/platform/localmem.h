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

// The size of the largest single free block of this process's address space: what one more
// picture can be mapped into at the most, however much is free in smaller pieces (Win32: a walk
// of VirtualQuery over the application's range; natively: the largest gap between the mappings
// of /proc/self/maps, no more than the address-space limit leaves).
unsigned long long LargestFreeBlock();

}  // namespace platform

#endif
