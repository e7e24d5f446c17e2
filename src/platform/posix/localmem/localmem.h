/* Native stand-in for the Windows local-memory functions that Susie plug-ins allocate their
   result blocks with.  Host and plug-ins link the same shared library, so a block allocated
   by a plug-in is freed to the heap it came from.  Handles are movable-style: LocalLock gives
   the address, LocalSize the size asked for. */
#ifndef KORVALE_PLATFORM_POSIX_LOCALMEM_H
#define KORVALE_PLATFORM_POSIX_LOCALMEM_H

#include <stddef.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef void* HLOCAL;
#define LMEM_FIXED 0x0000
#define LMEM_MOVEABLE 0x0002
#define LMEM_ZEROINIT 0x0040
#define LHND (LMEM_MOVEABLE | LMEM_ZEROINIT)
#define LPTR (LMEM_FIXED | LMEM_ZEROINIT)

HLOCAL LocalAlloc(unsigned flags, size_t bytes);
void* LocalLock(HLOCAL h);
int LocalUnlock(HLOCAL h);
HLOCAL LocalFree(HLOCAL h);
size_t LocalSize(HLOCAL h);

/* For leak tests: the number of blocks allocated and not yet freed. */
long KorLocalLiveBlocks(void);

#ifdef __cplusplus
}
#endif

#endif
