#include "platform/posix/localmem/localmem.h"

#include <stdint.h>
#include <stdlib.h>
#include <string.h>

/* Each block carries a small header in front of the caller's bytes; the handle is the
   header's address, so a handle that is not ours is recognised by its magic word. */
enum { kMagic = 0x4B4C4D31 /* "KLM1" */ };

typedef struct Block {
  uint32_t magic;
  uint32_t locks;
  size_t size;
  max_align_t data[];
} Block;

static long g_live;

static Block* AsBlock(HLOCAL h) {
  Block* b = (Block*)h;
  return b && b->magic == kMagic ? b : NULL;
}

HLOCAL LocalAlloc(unsigned flags, size_t bytes) {
  if (bytes > SIZE_MAX - sizeof(Block)) return NULL;
  Block* b = (Block*)malloc(sizeof(Block) + bytes);
  if (!b) return NULL;
  b->magic = kMagic;
  b->locks = 0;
  b->size = bytes;
  if (flags & LMEM_ZEROINIT) memset(b->data, 0, bytes);
  __atomic_add_fetch(&g_live, 1, __ATOMIC_RELAXED);
  return b;
}

void* LocalLock(HLOCAL h) {
  Block* b = AsBlock(h);
  if (!b) return NULL;
  b->locks++;
  return b->data;
}

int LocalUnlock(HLOCAL h) {
  Block* b = AsBlock(h);
  if (!b || b->locks == 0) return 0;
  b->locks--;
  return b->locks != 0;
}

HLOCAL LocalFree(HLOCAL h) {
  Block* b = AsBlock(h);
  if (!b) return h;
  b->magic = 0;
  free(b);
  __atomic_sub_fetch(&g_live, 1, __ATOMIC_RELAXED);
  return NULL;
}

size_t LocalSize(HLOCAL h) {
  Block* b = AsBlock(h);
  return b ? b->size : 0;
}

long KorLocalLiveBlocks(void) { return __atomic_load_n(&g_live, __ATOMIC_RELAXED); }
