/* A Susie import plug-in for the KVP1 format (kvp_format.h): the fixture through which the host
   decodes real pictures of every bit depth and meets every failure path it must survive.  One
   source for both builds; the build chooses the declared extension (KVP_EXTENSION), its
   description (KVP_DESCRIPTION) and whether GetPreview is exported (KVP_NO_PREVIEW).

   Every call is recorded in a small trace that tests read through the extra exports KvpTrace and
   KvpTraceClear: "IS:1" (IsSupported and its answer), "GPI:f128" (GetPictureInfo, f for a file
   and the offset, m for memory and the length), "GP:m4000", "PV:f0", "PR:2/4=0" (a progress
   call and what the host answered). */
#include <stdint.h>
#include <stdio.h>
#include <string.h>

#if defined(_WIN32)
#include <windows.h>
#define KVP_EXPORT __declspec(dllexport)
#else
#include "platform/posix/localmem/localmem.h"
#define KVP_EXPORT __attribute__((visibility("default")))
#endif

#include "plugins/spi_api.h"
#include "kvp_format.h"
#include "../plugin_info.h"

#ifndef KVP_EXTENSION
#define KVP_EXTENSION "*.kvp"
#endif
#ifndef KVP_DESCRIPTION
#define KVP_DESCRIPTION "KVP1 fixture pictures"
#endif

/* ---- the call trace ---- */

static char g_trace[8192];
static size_t g_trace_len;

static void Trace(const char* fmt, long a, long b, long c) {
  char item[64];
  int n = snprintf(item, sizeof item, fmt, a, b, c);
  if (n <= 0) return;
  if ((size_t)n >= sizeof item) n = (int)sizeof item - 1;
  if (g_trace_len + (size_t)n + 2 > sizeof g_trace) return;
  if (g_trace_len) g_trace[g_trace_len++] = ' ';
  memcpy(g_trace + g_trace_len, item, (size_t)n);
  g_trace_len += (size_t)n;
  g_trace[g_trace_len] = 0;
}

KVP_EXPORT int32_t SPI_CALL KvpTrace(char* buf, int32_t len) {
  if (!buf || len <= 0) return (int32_t)g_trace_len;
  size_t n = g_trace_len < (size_t)len - 1 ? g_trace_len : (size_t)len - 1;
  memcpy(buf, g_trace, n);
  buf[n] = 0;
  return (int32_t)n;
}

KVP_EXPORT void SPI_CALL KvpTraceClear(void) {
  g_trace_len = 0;
  g_trace[0] = 0;
}

/* ---- input: a file from an offset, or a block of memory ---- */

typedef struct Input {
  FILE* file;
  const unsigned char* memory;
  int64_t base; /* file: offset of the picture */
  int64_t size; /* bytes from the picture's start to the end of the data */
} Input;

static int OpenInput(Input* in, const char* buf, spi_len_t len, uint32_t flag) {
  memset(in, 0, sizeof *in);
  if (!buf) return 0;
  if ((flag & 7) == SPI_INPUT_MEMORY) {
    if (len <= 0) return 0;
    in->memory = (const unsigned char*)buf;
    in->size = len;
    return 1;
  }
  if (len < 0) return 0;
#if defined(_WIN32)
  in->file = fopen(buf, "rb");
#else
  char path[4096];
  if (!KorSpiHostPath(buf, path, sizeof path)) return 0;
  in->file = fopen(path, "rb");
#endif
  if (!in->file) return 0;
  if (fseek(in->file, 0, SEEK_END) != 0) return 0;
  long end = ftell(in->file);
  if (end < 0 || end < (long)len) return 0;
  in->base = len;
  in->size = end - (long)len;
  return 1;
}

static void CloseInput(Input* in) {
  if (in->file) fclose(in->file);
  in->file = NULL;
}

/* Reads exactly n bytes at pos of the picture's data; 0 when they are not all there. */
static int ReadAt(Input* in, int64_t pos, void* out, int64_t n) {
  if (pos < 0 || n < 0 || pos > in->size || n > in->size - pos) return 0;
  if (in->memory) {
    memcpy(out, in->memory + pos, (size_t)n);
    return 1;
  }
  if (fseek(in->file, (long)(in->base + pos), SEEK_SET) != 0) return 0;
  return fread(out, 1, (size_t)n, in->file) == (size_t)n;
}

/* ---- the KVP1 header ---- */

typedef struct Header {
  int32_t width;
  int32_t height;
  uint32_t bits;
  uint32_t switches;
  uint32_t clrUsed;
  uint32_t colors;
  int64_t rowBytes;
  int64_t rows;
  int64_t bitsSize;
  int64_t tableOffset; /* masks (if any) then colours */
  int64_t rowsOffset;
} Header;

/* Parses the 24 header bytes; 0 when they are no KVP1 header or describe an absurd picture. */
static int ParseHeader(const unsigned char* p, Header* h) {
  if (memcmp(p, KVP_MAGIC, 4) != 0) return 0;
  h->width = (int32_t)KorLe32(p + 4);
  h->height = (int32_t)KorLe32(p + 8);
  h->bits = KorLe16(p + 12);
  h->switches = KorLe32(p + 16);
  h->clrUsed = KorLe32(p + 20);
  h->colors = KvpColors(h->bits, h->clrUsed);
  if (h->bits == 0 || h->bits > 32 || h->colors > 65536) return 0;
  h->rowBytes = KvpRowBytes(h->width, h->bits);
  h->rows = h->height < 0 ? -(int64_t)h->height : h->height;
  if (h->rowBytes < 0) return 0;
  h->bitsSize = h->rowBytes * h->rows;
  if (h->bitsSize > ((int64_t)1 << 31)) return 0;
  h->tableOffset = KVP_HEADER_SIZE;
  h->rowsOffset = h->tableOffset + ((h->switches & KVP_BITFIELDS) ? 12 : 0) + 4 * (int64_t)h->colors;
  return 1;
}

static int ReadHeader(Input* in, Header* h) {
  unsigned char raw[KVP_HEADER_SIZE];
  return ReadAt(in, 0, raw, sizeof raw) && ParseHeader(raw, h);
}

#if defined(_WIN32)
static void Crash(void) {
  static int* volatile nowhere;
  *nowhere = 1;
}
#endif

/* ---- the entry points ---- */

KVP_EXPORT int32_t SPI_CALL GetPluginInfo(int32_t infono, char* buf, int32_t buflen) {
  const char* text;
  switch (infono) {
    case 0:
      text = "00IN";
      break;
    case 1:
      text = "KVP1 decoding fixture";
      break;
    case 2:
      text = KVP_EXTENSION;
      break;
    case 3:
      text = KVP_DESCRIPTION;
      break;
    default:
      return 0;
  }
  return KorSpiInfoText(text, buf, buflen);
}

/* The host passes the address of at least 2048 bytes of the data; only the first 24 are read. */
KVP_EXPORT int32_t SPI_CALL IsSupported(const char* filename, spi_dw_t dw) {
  (void)filename;
  Header h;
  const unsigned char* p = (const unsigned char*)(uintptr_t)dw;
  int ok = p && ParseHeader(p, &h) && !(h.switches & KVP_REFUSE);
  Trace("IS:%ld", ok, 0, 0);
  return ok;
}

static void TraceCall(const char* name, spi_len_t len, uint32_t flag) {
  char fmt[32];
  snprintf(fmt, sizeof fmt, "%s:%s%%ld", name, (flag & 7) == SPI_INPUT_MEMORY ? "m" : "f");
  Trace(fmt, (long)len, 0, 0);
}

KVP_EXPORT int32_t SPI_CALL GetPictureInfo(const char* buf, spi_len_t len, uint32_t flag,
                                           SPI_PICTINFO* lpInfo) {
  TraceCall("GPI", len, flag);
  Input in;
  Header h;
  int ok = OpenInput(&in, buf, len, flag) && ReadHeader(&in, &h);
  CloseInput(&in);
  if (!ok || !lpInfo) return SPI_UNKNOWN_FORMAT;
  if (h.switches & KVP_CRASH_INFO) {
#if defined(_WIN32)
    Crash();
#else
    return SPI_INTERNAL_ERROR;
#endif
  }
  memset(lpInfo, 0, sizeof *lpInfo);
  lpInfo->width = h.width;
  lpInfo->height = (int32_t)h.rows;
  lpInfo->colorDepth = (int16_t)h.bits;
  if (h.switches & KVP_TEXT) {
    static const char text[] = "KVP1 fixture picture";
    HLOCAL t = LocalAlloc(LMEM_MOVEABLE, sizeof text);
    if (t) {
      void* p = LocalLock(t);
      if (p) memcpy(p, text, sizeof text);
      LocalUnlock(t);
    }
    lpInfo->hInfo = t;
  }
  return SPI_SUCCESS;
}

static void SetLE32(unsigned char* p, uint32_t v) {
  p[0] = (unsigned char)v;
  p[1] = (unsigned char)(v >> 8);
  p[2] = (unsigned char)(v >> 16);
  p[3] = (unsigned char)(v >> 24);
}

/* The BITMAPINFO block: header, masks and colours as the file holds them. */
static HLOCAL MakeInfo(Input* in, const Header* h) {
  int64_t table = ((h->switches & KVP_BITFIELDS) ? 12 : 0) + 4 * (int64_t)h->colors;
  int64_t size = (h->switches & KVP_SHORT_INFO) ? 40 : 40 + table;
  HLOCAL block = LocalAlloc(LMEM_MOVEABLE | LMEM_ZEROINIT, (size_t)size);
  unsigned char* p = block ? (unsigned char*)LocalLock(block) : NULL;
  if (!p) {
    if (block) LocalFree(block);
    return NULL;
  }
  SetLE32(p + 0, (h->switches & KVP_BIG_BISIZE) ? 108 : 40);
  SetLE32(p + 4, (uint32_t)h->width);
  SetLE32(p + 8, (uint32_t)h->height);
  p[12] = 1;
  p[14] = (unsigned char)h->bits;
  p[15] = (unsigned char)(h->bits >> 8);
  SetLE32(p + 16, (h->switches & KVP_BITFIELDS) ? 3 : 0);
  SetLE32(p + 20, (uint32_t)h->bitsSize);
  SetLE32(p + 32, h->clrUsed);
  int ok = size == 40 || ReadAt(in, h->tableOffset, p + 40, table);
  LocalUnlock(block);
  if (!ok) {
    LocalFree(block);
    return NULL;
  }
  return block;
}

/* The rows, turned bottom-up unless the height is negative. */
static int32_t FillBits(Input* in, const Header* h, HLOCAL block, int64_t blockSize, SPI_PROGRESS progress,
                        spi_len_t lData) {
  unsigned char* p = (unsigned char*)LocalLock(block);
  if (!p) return SPI_MEMORY_ERROR;
  int32_t result = SPI_SUCCESS;
  int32_t total = (int32_t)h->rows;
  for (int64_t i = 0; i <= h->rows; ++i) {
    if ((h->switches & KVP_PROGRESS) && progress && (i == 0 || i == h->rows / 2 || i == h->rows)) {
      int32_t answer = progress((int32_t)i, total, lData);
      Trace("PR:%ld/%ld=%ld", (long)i, (long)total, answer);
      if (answer) {
        result = SPI_ABORT;
        break;
      }
    }
    if (i == h->rows) break;
    int64_t dest = (h->height > 0 ? h->rows - 1 - i : i) * h->rowBytes;
    if (dest + h->rowBytes > blockSize) continue; /* a short block keeps the rows that fit */
    if (!ReadAt(in, h->rowsOffset + i * h->rowBytes, p + dest, h->rowBytes)) {
      result = SPI_BROKEN_DATA;
      break;
    }
  }
  LocalUnlock(block);
  return result;
}

static int32_t Decode(const char* name, const char* buf, spi_len_t len, uint32_t flag, spi_hlocal_t* pHBInfo,
                      spi_hlocal_t* pHBm, SPI_PROGRESS progress, spi_len_t lData) {
  TraceCall(name, len, flag);
  Input in;
  Header h;
  if (!OpenInput(&in, buf, len, flag) || !ReadHeader(&in, &h)) {
    CloseInput(&in);
    return SPI_UNKNOWN_FORMAT;
  }
  int32_t result = SPI_SUCCESS;
  HLOCAL info = NULL, bits = NULL;
  if (h.switches & KVP_FAIL) {
    result = SPI_BROKEN_DATA;
    goto done;
  }
  if (h.rowsOffset + h.bitsSize > in.size) {
    result = SPI_BROKEN_DATA;
    goto done;
  }
  info = MakeInfo(&in, &h);
  if (!info) {
    result = SPI_NO_MEMORY;
    goto done;
  }
  if (h.switches & KVP_CRASH) {
#if defined(_WIN32)
    *pHBInfo = info; /* handed over before the fault: the host must free it */
    CloseInput(&in);
    Crash();
#endif
    result = SPI_INTERNAL_ERROR;
    goto done;
  }
  int64_t bitsSize = (h.switches & KVP_SHORT_BITS) ? h.bitsSize / 2 : h.bitsSize;
  bits = LocalAlloc(LMEM_MOVEABLE, (size_t)(bitsSize ? bitsSize : 1));
  if (!bits) {
    result = SPI_NO_MEMORY;
    goto done;
  }
  result = FillBits(&in, &h, bits, bitsSize, progress, lData);
done:
  CloseInput(&in);
  if (result != SPI_SUCCESS) {
    if (info) LocalFree(info);
    if (bits) LocalFree(bits);
    return result;
  }
  if (h.switches & KVP_NO_INFO) {
    LocalFree(info);
  } else {
    *pHBInfo = info;
  }
  if (h.switches & KVP_NO_BITS) {
    LocalFree(bits);
  } else {
    *pHBm = bits;
  }
  return SPI_SUCCESS;
}

KVP_EXPORT int32_t SPI_CALL GetPicture(const char* buf, spi_len_t len, uint32_t flag, spi_hlocal_t* pHBInfo,
                                       spi_hlocal_t* pHBm, SPI_PROGRESS lpPrgressCallback, spi_len_t lData) {
  if (!pHBInfo || !pHBm) return SPI_INTERNAL_ERROR;
  return Decode("GP", buf, len, flag, pHBInfo, pHBm, lpPrgressCallback, lData);
}

#ifndef KVP_NO_PREVIEW
KVP_EXPORT int32_t SPI_CALL GetPreview(const char* buf, spi_len_t len, uint32_t flag, spi_hlocal_t* pHBInfo,
                                       spi_hlocal_t* pHBm, SPI_PROGRESS lpPrgressCallback, spi_len_t lData) {
  if (!pHBInfo || !pHBm) return SPI_INTERNAL_ERROR;
  Header h;
  Input in;
  int ok = OpenInput(&in, buf, len, flag) && ReadHeader(&in, &h);
  CloseInput(&in);
  if (!ok || !(h.switches & KVP_PREVIEW)) {
    TraceCall("PV", len, flag);
    return SPI_NOT_IMPLEMENTED;
  }
  return Decode("PV", buf, len, flag, pHBInfo, pHBm, lpPrgressCallback, lData);
}
#endif
