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
     FAULT_EXIT         GetPicture ends the process (exit code 7)
     FAULT_SAME_BLOCK   GetPicture returns 0 with one block as both the info and the bits
     FAULT_LOAD         loading the library crashes (DllMain / the library's constructor)
     FAULT_PLUGININFO   GetPluginInfo crashes */
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#if defined(_WIN32)
#include <windows.h>
#define FAULT_EXPORT __declspec(dllexport)
#else
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
#elif defined(FAULT_EXIT)
#if defined(_WIN32)
  ExitProcess(7);
#else
  exit(7);
#endif
#elif defined(FAULT_SAME_BLOCK)
  {
    /* A sane 1 x 1 picture, but info and bits are one block. */
    HLOCAL block = LocalAlloc(LMEM_MOVEABLE | LMEM_ZEROINIT, 64);
    unsigned char* p = block ? (unsigned char*)LocalLock(block) : NULL;
    if (!p) return SPI_NO_MEMORY;
    p[0] = 40;
    p[4] = 1;
    p[8] = 1;
    p[12] = 1;
    p[14] = 24;
    LocalUnlock(block);
    *pHBInfo = block;
    *pHBm = block;
    return SPI_SUCCESS;
  }
#endif
  return SPI_UNKNOWN_FORMAT;
}
