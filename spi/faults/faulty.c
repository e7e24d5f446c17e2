/* Susie import plug-ins that misbehave on purpose, for the host's fault tests.  One source builds
   every variant; the build chooses the misdeed (FAULT_*), where it happens and the extension
   declared (FAULT_EXTENSION, "*.kvp" unless given).

   The data entry points act only on pictures that ask for it: a KVP1 file (spi/decode) whose
   switches hold FAULT_TRAP.  Everything else is refused by IsSupported, so a plug-in set holding these
   plug-ins still shows every other picture.

     FAULT_NULL_WRITE   GetPicture writes through a null pointer
     FAULT_HEAP         GetPicture overruns a heap block, then frees it twice
     FAULT_STACK        GetPicture recurses until the stack is gone
     FAULT_ENDLESS      GetPicture never returns and never reports progress
     FAULT_SLOW         GetPicture never finishes: it works 1 s without a word (as a codec that
                        decodes a whole picture in one call), then reports progress every 20 ms
                        and stops (answering 1, aborted) as soon as the callback asks
     FAULT_EXIT         GetPicture ends the process (exit code 7)
     FAULT_SAME_BLOCK   GetPicture returns 0 with one block as both the info and the bits
     FAULT_LOAD         loading the library crashes (DllMain / the library's constructor)
     FAULT_PLUGININFO   GetPluginInfo crashes
     FAULT_REACH        GetPicture reaches for what a confined helper must not have: the
                        inheritable handle (Win32: a semaphore it releases) or descriptor
                        (POSIX: a pipe it writes "x" into, once its inode matches) named by
                        KORVALE_REACH "number:inode", and (POSIX) with KORVALE_REACH_BYTES an
                        address range of that many bytes, answered by a 1 x 1 picture if had;
                        otherwise it refuses the picture */
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#if defined(_WIN32)
#include <windows.h>
#define FAULT_EXPORT __declspec(dllexport)
#else
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/posix/localmem/localmem.h"
#define FAULT_EXPORT __attribute__((visibility("default")))
#endif

#include "platform/dib_layout.h"
#include "plugins/spi_api.h"
#include "../plugin_info.h"

#ifndef FAULT_EXTENSION
#define FAULT_EXTENSION "*.kvp"
#endif
#define FAULT_TRAP 0x8000u

static volatile int g_zero;

static __attribute__((unused)) void WriteNowhere(void) {
  int* volatile nowhere = (int*)(uintptr_t)g_zero;
  *nowhere = 1;
}

#if defined(FAULT_LOAD)
#if defined(_WIN32)
BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
  (void)instance;
  (void)reserved;
  if (reason == DLL_PROCESS_ATTACH) WriteNowhere();
  return TRUE;
}
#else
__attribute__((constructor)) static void CrashOnLoad(void) { WriteNowhere(); }
#endif
#endif

FAULT_EXPORT int32_t SPI_CALL GetPluginInfo(int32_t infono, char* buf, int32_t buflen) {
  const char* text;
#if defined(FAULT_PLUGININFO)
  WriteNowhere();
#endif
  switch (infono) {
    case 0:
      text = "00IN";
      break;
    case 1:
      text = "misbehaving fixture";
      break;
    case 2:
      text = FAULT_EXTENSION;
      break;
    case 3:
      text = "trap pictures";
      break;
    default:
      return 0;
  }
  return KorSpiInfoText(text, buf, buflen);
}

/* Whether the first bytes of the data ask for the misdeed. */
static int Trapped(const unsigned char* p) {
  return memcmp(p, "KVP1", 4) == 0 && (KorLe32(p + 16) & FAULT_TRAP) != 0;
}

FAULT_EXPORT int32_t SPI_CALL IsSupported(const char* filename, spi_dw_t dw) {
  (void)filename;
  const unsigned char* p = (const unsigned char*)(uintptr_t)dw;
  return p && Trapped(p);
}

FAULT_EXPORT int32_t SPI_CALL GetPictureInfo(const char* buf, spi_len_t len, uint32_t flag,
                                             SPI_PICTINFO* lpInfo) {
  (void)buf;
  (void)len;
  (void)flag;
  if (lpInfo) memset(lpInfo, 0, sizeof *lpInfo);
  return SPI_SUCCESS;
}

#if defined(FAULT_STACK)
static int Recurse(volatile char* previous, int depth) {
  volatile char frame[512];
  frame[0] = (char)depth;
  frame[511] = (char)(previous ? previous[0] : 0);
  /* g_zero is always 0; the test keeps the compiler from proving the recursion endless. */
  return g_zero == 0 ? Recurse(frame, depth + 1) + frame[511] : depth;
}
#endif

#if defined(FAULT_REACH)
static void ReachHandle(void) {
  const char* named = getenv("KORVALE_REACH");
  unsigned long long number = 0, inode = 0;
  if (!named || sscanf(named, "%llu:%llu", &number, &inode) != 2) return;
#if defined(_WIN32)
  (void)inode;
  ReleaseSemaphore((HANDLE)(uintptr_t)number, 1, NULL);
#else
  {
    struct stat st;
    if (fstat((int)number, &st) == 0 && S_ISFIFO(st.st_mode) && (unsigned long long)st.st_ino == inode)
      (void)!write((int)number, "x", 1);
  }
#endif
}

/* Whether an address range of KORVALE_REACH_BYTES could be had (POSIX, where the helper's
   cap is on address space). */
static int ReachMemory(void) {
#if defined(_WIN32)
  return 0;
#else
  const char* bytes = getenv("KORVALE_REACH_BYTES");
  size_t n = bytes ? (size_t)strtoull(bytes, NULL, 10) : 0;
  void* p = n ? mmap(NULL, n, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0) : MAP_FAILED;
  if (p != MAP_FAILED) munmap(p, n);
  return p != MAP_FAILED;
#endif
}
#endif

#if defined(FAULT_REACH) || defined(FAULT_SAME_BLOCK)
/* A 24-bit 1 x 1 picture: its header in `block`, handed over as the info, and a zeroed row as
   the bits, or (`same`) `block` as both. */
static int32_t OneByOne(HLOCAL block, int same, spi_hlocal_t* pHBInfo, spi_hlocal_t* pHBm) {
  unsigned char* p = block ? (unsigned char*)LocalLock(block) : NULL;
  HLOCAL bits = same ? block : LocalAlloc(LMEM_MOVEABLE | LMEM_ZEROINIT, 4);
  if (!p || !bits) return SPI_NO_MEMORY;
  p[0] = 40;
  p[4] = 1;
  p[8] = 1;
  p[12] = 1;
  p[14] = 24;
  LocalUnlock(block);
  *pHBInfo = block;
  *pHBm = bits;
  return SPI_SUCCESS;
}
#endif

FAULT_EXPORT int32_t SPI_CALL GetPicture(const char* buf, spi_len_t len, uint32_t flag, spi_hlocal_t* pHBInfo,
                                         spi_hlocal_t* pHBm, SPI_PROGRESS progress, spi_len_t lData) {
  (void)buf;
  (void)len;
  (void)flag;
  (void)progress;
  (void)lData;
  if (!pHBInfo || !pHBm) return SPI_INTERNAL_ERROR;
#if defined(FAULT_NULL_WRITE)
  WriteNowhere();
#elif defined(FAULT_HEAP)
  {
    char* volatile block = (char*)malloc(16);
    memset(block, 0x5A, 4096);
    free(block);
    free(block);
  }
#elif defined(FAULT_STACK)
  return Recurse(NULL, 0);
#elif defined(FAULT_ENDLESS)
  for (;;) g_zero = g_zero;
#elif defined(FAULT_SLOW)
  for (int32_t done = 0;; ++done) {
    if (done >= 50 && progress && progress(done % 100, 100, lData)) return SPI_ABORT;
#if defined(_WIN32)
    Sleep(20);
#else
    usleep(20000);
#endif
  }
#elif defined(FAULT_EXIT)
#if defined(_WIN32)
  ExitProcess(7);
#else
  exit(7);
#endif
#elif defined(FAULT_REACH)
  ReachHandle();
  /* Had it more room than it may have, a sane 1 x 1 picture says so. */
  if (ReachMemory()) return OneByOne(LocalAlloc(LMEM_MOVEABLE | LMEM_ZEROINIT, 40), 0, pHBInfo, pHBm);
#elif defined(FAULT_SAME_BLOCK)
  /* A sane 1 x 1 picture, but info and bits are one block. */
  return OneByOne(LocalAlloc(LMEM_MOVEABLE | LMEM_ZEROINIT, 64), 1, pHBInfo, pHBm);
#endif
  return SPI_UNKNOWN_FORMAT;
}
