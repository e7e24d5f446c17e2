// korzip.spi: our Susie archive plug-in for ZIP archives (korzip.sph in the 64-bit
// edition).  It lists the entries of a ZIP file or of a ZIP archive in memory and hands one
// entry's bytes back in local memory; stored and deflated entries unpack, others are listed.
// It never writes a file: GetFile's file output is not implemented.
//
// Input of every call: flag & 7 is 0 for a file, whose name buf is, and 1 for memory, where buf
// holds len bytes.  For GetArchiveInfo and GetFileInfo the memory is the whole archive and a
// file's len the offset where the archive begins (0 for a plain ZIP file).  For GetFile a file's
// len is the record's position; memory holds the archive from the record's position to its end.
#if defined(_WIN32)
#define KORZIP_EXPORT extern "C" __declspec(dllexport)
#else
#define KORZIP_EXPORT extern "C" __attribute__((visibility("default")))
#endif

#include <cstring>
#include <new>

#include "../plugin_info.h"
#include "archive.h"
#include "plugins/spi_api.h"
#include "source.h"

namespace {

#if defined(_WIN64)
const char kAbout[] = "korzip.sph version 1.0: ZIP archives (Korvale2)";
#else
const char kAbout[] = "korzip.spi version 1.0: ZIP archives (Korvale2)";
#endif

const char* const kInfo[] = {"00AM", kAbout, "*.zip", "ZIP archive", "*.cbz", "Comic book ZIP"};

// A file offset given as len: on Win32 len is 32 bits and a position may reach 4 GiB.
bool FileOffset(spi_len_t len, int64_t& offset) {
#if defined(_WIN32) && !defined(_WIN64)
  offset = static_cast<uint32_t>(len);
  return true;
#else
  offset = static_cast<int64_t>(len);
  return len >= 0;
#endif
}

// Runs `call` over the input that buf, len and flag name: call(source, memory, offset), with a
// file's offset from len (0 for memory).
template <typename Call>
int32_t WithInput(const char* buf, spi_len_t len, uint32_t flag, Call call) {
  if (!buf) return SPI_INTERNAL_ERROR;
  try {
    switch (flag & 7) {
      case SPI_INPUT_FILE: {
        int64_t offset = 0;
        if (!FileOffset(len, offset)) return SPI_UNKNOWN_FORMAT;
        korzip::FileSource file;
        const int32_t result = file.Open(buf);
        return result != SPI_SUCCESS ? result : call(file, false, offset);
      }
      case SPI_INPUT_MEMORY: {
        if (len <= 0) return SPI_UNKNOWN_FORMAT;
        korzip::MemorySource memory(buf, static_cast<uint64_t>(len));
        return call(memory, true, int64_t(0));
      }
      default:
        return SPI_NOT_IMPLEMENTED;
    }
  } catch (const std::bad_alloc&) {
    return SPI_NO_MEMORY;
  } catch (...) {
    return SPI_INTERNAL_ERROR;
  }
}

}  // namespace

KORZIP_EXPORT int32_t SPI_CALL GetPluginInfo(int32_t infono, char* buf, int32_t buflen) {
  if (infono < 0 || infono >= static_cast<int32_t>(sizeof kInfo / sizeof kInfo[0])) return 0;
  return KorSpiInfoText(kInfo[infono], buf, buflen);
}

// dw is the address of the first 2 KiB of the file.  A value that cannot be an address (an
// older host's file handle) is refused rather than read.
KORZIP_EXPORT int32_t SPI_CALL IsSupported(const char* /*filename*/, spi_dw_t dw) {
  if (!(dw & ~static_cast<spi_dw_t>(0xFFFF))) return 0;
  const auto* head = reinterpret_cast<const unsigned char*>(dw);
  // A local header, or the end record of an empty archive.
  return std::memcmp(head, "PK\x03\x04", 4) == 0 || std::memcmp(head, "PK\x05\x06", 4) == 0;
}

KORZIP_EXPORT int32_t SPI_CALL GetArchiveInfo(const char* buf, spi_len_t len, uint32_t flag,
                                              spi_hlocal_t* lphInf) {
  if (!lphInf) return SPI_INTERNAL_ERROR;
  *lphInf = nullptr;
  return WithInput(buf, len, flag, [&](korzip::ByteSource& in, bool, int64_t offset) {
    return korzip::ListEntries(in, offset, lphInf);
  });
}

// filename is the entry's path and file name as the records give them; flag's bit 7 compares
// them without regard to case.  SPI_INTERNAL_ERROR when no entry has that name.
KORZIP_EXPORT int32_t SPI_CALL GetFileInfo(const char* buf, spi_len_t len, const char* filename,
                                           uint32_t flag, void* lpInfo) {
  if (!filename || !lpInfo) return SPI_INTERNAL_ERROR;
  return WithInput(buf, len, flag, [&](korzip::ByteSource& in, bool, int64_t offset) {
    SPI_FILEINFO record;
    const int32_t result = korzip::FindEntry(in, offset, filename, (flag & SPI_IGNORE_CASE) != 0, record);
    if (result == SPI_SUCCESS) std::memcpy(lpInfo, &record, sizeof record);
    return result;
  });
}

// Memory output only: dest is then a spi_hlocal_t* that receives the entry's block.
KORZIP_EXPORT int32_t SPI_CALL GetFile(const char* src, spi_len_t len, char* dest, uint32_t flag,
                                       SPI_PROGRESS prgressCallback, spi_len_t lData) {
  if (((flag >> 8) & 7) != SPI_OUTPUT_MEMORY) return SPI_NOT_IMPLEMENTED;
  if (!dest) return SPI_INTERNAL_ERROR;
  auto* block = reinterpret_cast<spi_hlocal_t*>(dest);
  *block = nullptr;
  return WithInput(src, len, flag, [&](korzip::ByteSource& in, bool memory, int64_t offset) {
    // A file: the entry's local header lies at offset.  Memory begins with it.
    return memory ? korzip::ExtractEntry(in, 0, korzip::kAnyStart, block, prgressCallback, lData)
                  : korzip::ExtractEntry(in, offset, 0, block, prgressCallback, lData);
  });
}
