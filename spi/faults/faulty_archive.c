/* Susie archive plug-ins that misbehave on purpose, for the host's fault tests of the archive
   calls.  One source builds every variant; the build chooses the misdeed (ARCHIVE_*).  Every
   call the misdeed does not name answers honestly, so real entries come out of them.

   Their archives are KFA1 files ("*.kfa"): the magic "KFA1", then the entries one after another,
   each a little-endian u32 name length, the name, a u32 data length and the data.  An entry's
   position is where its name length lies in the input.  As for every archive plug-in, a file's
   len is where the archive begins (GetArchiveInfo, GetFileInfo) or the entry's position
   (GetFile); memory holds the whole archive, or for GetFile the archive from the entry on.

     ARCHIVE_CRASH_GETFILE  GetFile writes through a null pointer
     ARCHIVE_LIES           GetArchiveInfo answers a block of records with no ending record, the
                            last one cut by the block's end, the first entry's file name filling
                            its 200 bytes with no NUL and the second entry's size given as 1 GiB;
                            GetFile answers a block 64 bytes longer than the entry, the entry's
                            bytes followed by 'J's
     ARCHIVE_ENDLESS_INFO   GetArchiveInfo never returns and never calls back */
#include <stdint.h>
#include <stdio.h>
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

/* No archive of the tests comes near these. */
#define KFA_MAX_INPUT (16u << 20)
#define KFA_MAX_ENTRIES 1024u
/* What the lying GetFile adds to an entry's bytes. */
#define KFA_EXTRA 64u

static volatile int g_zero;

static __attribute__((unused)) void WriteNowhere(void) {
  int* volatile nowhere = (int*)(uintptr_t)g_zero;
  *nowhere = 1;
}

FAULT_EXPORT int32_t SPI_CALL GetPluginInfo(int32_t infono, char* buf, int32_t buflen) {
  static const char* const info[] = {"00AM", "misbehaving archive fixture", "*.kfa", "trap archives"};
  if (infono < 0 || infono >= (int32_t)(sizeof info / sizeof info[0])) return 0;
  return KorSpiInfoText(info[infono], buf, buflen);
}

FAULT_EXPORT int32_t SPI_CALL IsSupported(const char* filename, spi_dw_t dw) {
  const unsigned char* p = (const unsigned char*)(uintptr_t)dw;
  (void)filename;
  return p && memcmp(p, "KFA1", 4) == 0;
}

/* The bytes a call is about: memory as given, or a file read from `len` on (at most
   KFA_MAX_INPUT bytes).  `base` is where they begin in the input. */
typedef struct Input {
  const unsigned char* p;
  size_t n;
  size_t base;
  unsigned char* owned;
} Input;

static int32_t ReadInput(const char* buf, spi_len_t len, uint32_t flag, Input* in) {
  FILE* f;
  long size;
  int32_t result;
  memset(in, 0, sizeof *in);
  if (!buf || len < 0) return SPI_INTERNAL_ERROR;
  if ((flag & 7) == SPI_INPUT_MEMORY) {
    in->p = (const unsigned char*)buf;
    in->n = (size_t)len;
    return SPI_SUCCESS;
  }
  if ((flag & 7) != SPI_INPUT_FILE) return SPI_NOT_IMPLEMENTED;
#if defined(_WIN32)
  f = fopen(buf, "rb");
#else
  {
    char path[4096];
    if (!KorSpiHostPath(buf, path, sizeof path)) return SPI_FILE_READ_ERROR;
    f = fopen(path, "rb");
  }
#endif
  if (!f) return SPI_FILE_READ_ERROR;
  if (fseek(f, 0, SEEK_END) != 0 || (size = ftell(f)) < 0 || (unsigned long)size > KFA_MAX_INPUT ||
      len > (spi_len_t)size || fseek(f, (long)len, SEEK_SET) != 0) {
    fclose(f);
    return SPI_FILE_READ_ERROR;
  }
  in->n = (size_t)(size - (long)len);
  in->base = (size_t)len;
  in->owned = (unsigned char*)malloc(in->n ? in->n : 1);
  if (!in->owned || fread(in->owned, 1, in->n, f) != in->n) {
    result = in->owned ? SPI_FILE_READ_ERROR : SPI_NO_MEMORY;
    fclose(f);
    free(in->owned);
    in->owned = NULL;
    return result;
  }
  fclose(f);
  in->p = in->owned;
  return SPI_SUCCESS;
}

typedef struct Entry {
  size_t at; /* where its name length lies in the bytes read */
  const unsigned char* name;
  uint32_t nameLength;
  const unsigned char* data;
  uint32_t dataLength;
} Entry;

/* The entry at `at`: 0 when it is not all there, or its name does not fit a record. */
static int EntryAt(const Input* in, size_t at, Entry* e) {
  const size_t n = in->n;
  e->at = at;
  if (at > n || n - at < 4) return 0;
  e->nameLength = KorLe32(in->p + at);
  at += 4;
  if (e->nameLength == 0 || e->nameLength >= 200 || n - at < e->nameLength) return 0;
  e->name = in->p + at;
  at += e->nameLength;
  if (n - at < 4) return 0;
  e->dataLength = KorLe32(in->p + at);
  at += 4;
  if (n - at < e->dataLength) return 0;
  e->data = in->p + at;
  return 1;
}

static size_t NextAt(const Entry* e) { return e->at + 8 + e->nameLength + e->dataLength; }

/* The archive's entries into `entries` (room for KFA_MAX_ENTRIES); their count, or -1 for no
   KFA1 archive or a broken one. */
static int ListEntries(const Input* in, Entry* entries) {
  size_t at = 4;
  int count = 0;
  if (in->n < 4 || memcmp(in->p, "KFA1", 4) != 0) return -1;
  while (at < in->n) {
    if (count == (int)KFA_MAX_ENTRIES || !EntryAt(in, at, &entries[count])) return -1;
    at = NextAt(&entries[count++]);
  }
  return count;
}

static void FillRecord(SPI_FILEINFO* r, const Input* in, const Entry* e) {
  memset(r, 0, sizeof *r);
  memcpy(r->method, "KFA", 3);
  r->position = (spi_size_t)(in->base + e->at);
  r->compsize = r->filesize = e->dataLength;
  r->timestamp = 1000000000;
  memcpy(r->filename, e->name, e->nameLength);
}

FAULT_EXPORT int32_t SPI_CALL GetArchiveInfo(const char* buf, spi_len_t len, uint32_t flag,
                                             spi_hlocal_t* lphInf) {
  Input in;
  Entry* entries;
  HLOCAL block = NULL;
  SPI_FILEINFO* records;
  size_t bytes;
  int count, i;
  int32_t result;
  if (!lphInf) return SPI_INTERNAL_ERROR;
  *lphInf = NULL;
#if defined(ARCHIVE_ENDLESS_INFO)
  for (;;) g_zero = g_zero;
#endif
  result = ReadInput(buf, len, flag, &in);
  if (result != SPI_SUCCESS) return result;
  entries = (Entry*)malloc(KFA_MAX_ENTRIES * sizeof *entries);
  count = entries ? ListEntries(&in, entries) : 0;
  if (count < 0) result = SPI_UNKNOWN_FORMAT;
  /* Room for the ending record (honest) or the cut one (lying). */
  bytes = ((size_t)count + 1) * sizeof(SPI_FILEINFO);
#if defined(ARCHIVE_LIES)
  bytes -= sizeof(SPI_FILEINFO) / 2;
#endif
  if (result == SPI_SUCCESS) block = entries ? LocalAlloc(LMEM_MOVEABLE | LMEM_ZEROINIT, bytes) : NULL;
  records = block ? (SPI_FILEINFO*)LocalLock(block) : NULL;
  if (result == SPI_SUCCESS && !records) result = SPI_NO_MEMORY;
  if (result == SPI_SUCCESS) {
    for (i = 0; i < count; ++i) FillRecord(&records[i], &in, &entries[i]);
#if defined(ARCHIVE_LIES)
    {
      SPI_FILEINFO cut;
      if (count > 0) {
        memset(records[0].filename + entries[0].nameLength, 'N', 200 - entries[0].nameLength);
        /* A record that the block's end cuts in half, its method set: no ending record. */
        FillRecord(&cut, &in, &entries[0]);
        memcpy(&records[count], &cut, sizeof cut / 2);
      }
      if (count > 1) records[1].filesize = (spi_size_t)1 << 30;
    }
#endif
    LocalUnlock(block);
    *lphInf = block;
  } else if (block) {
    LocalFree(block);
  }
  free(entries);
  free(in.owned);
  return result;
}

static int SameName(const unsigned char* a, size_t n, const char* b, int ignoreCase) {
  size_t i;
  if (strlen(b) != n) return 0;
  for (i = 0; i < n; ++i) {
    int x = a[i], y = (unsigned char)b[i];
    if (ignoreCase && x >= 'A' && x <= 'Z') x += 'a' - 'A';
    if (ignoreCase && y >= 'A' && y <= 'Z') y += 'a' - 'A';
    if (x != y) return 0;
  }
  return 1;
}

FAULT_EXPORT int32_t SPI_CALL GetFileInfo(const char* buf, spi_len_t len, const char* filename, uint32_t flag,
                                          void* lpInfo) {
  Input in;
  Entry e;
  size_t at = 4;
  int32_t result;
  if (!filename || !lpInfo) return SPI_INTERNAL_ERROR;
  result = ReadInput(buf, len, flag, &in);
  if (result != SPI_SUCCESS) return result;
  result = in.n >= 4 && memcmp(in.p, "KFA1", 4) == 0 ? SPI_BROKEN_DATA : SPI_UNKNOWN_FORMAT;
  while (result == SPI_BROKEN_DATA && at < in.n && EntryAt(&in, at, &e)) {
    if (SameName(e.name, e.nameLength, filename, (flag & SPI_IGNORE_CASE) != 0)) {
      FillRecord((SPI_FILEINFO*)lpInfo, &in, &e);
      result = SPI_SUCCESS;
    }
    at = NextAt(&e);
  }
  free(in.owned);
  return result;
}

FAULT_EXPORT int32_t SPI_CALL GetFile(const char* src, spi_len_t len, char* dest, uint32_t flag,
                                      SPI_PROGRESS prgressCallback, spi_len_t lData) {
  Input in;
  Entry e;
  HLOCAL block = NULL;
  unsigned char* p = NULL;
  size_t bytes;
  int32_t result;
  (void)prgressCallback;
  (void)lData;
  if (((flag >> 8) & 7) != SPI_OUTPUT_MEMORY) return SPI_NOT_IMPLEMENTED;
  if (!dest) return SPI_INTERNAL_ERROR;
  *(spi_hlocal_t*)dest = NULL;
#if defined(ARCHIVE_CRASH_GETFILE)
  WriteNowhere();
#endif
  result = ReadInput(src, len, flag, &in);
  if (result != SPI_SUCCESS) return result;
  if (!EntryAt(&in, 0, &e)) {
    free(in.owned);
    return SPI_BROKEN_DATA;
  }
  bytes = e.dataLength;
#if defined(ARCHIVE_LIES)
  bytes += KFA_EXTRA;
#endif
  block = LocalAlloc(LMEM_MOVEABLE, bytes ? bytes : 1);
  p = block ? (unsigned char*)LocalLock(block) : NULL;
  if (p) {
    memcpy(p, e.data, e.dataLength);
    memset(p + e.dataLength, 'J', bytes - e.dataLength);
    LocalUnlock(block);
    *(spi_hlocal_t*)dest = block;
  } else {
    if (block) LocalFree(block);
    result = SPI_NO_MEMORY;
  }
  free(in.owned);
  return result;
}
