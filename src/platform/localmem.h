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

// The bytes of address space this process has left to allocate (Win32: what the system reports
// as available virtual memory; natively: the address-space limit, if any, less what is mapped,
// or SIZE_MAX when unlimited).
unsigned long long FreeAddressSpace();

}  // namespace platform

#endif
