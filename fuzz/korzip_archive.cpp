// libFuzzer target: korzip.spi's reading of a ZIP archive in memory, as GetArchiveInfo,
// GetFileInfo and GetFile (memory output) make it: the listing, the look-up of each listed
// name, and the unpacking of the first listed entries, addressed both ways GetFile is (a
// position in the whole archive, and memory that begins at the entry), then the input itself
// as an entry's memory.  A record whose texts lack their NUL, a found record unlike the listed
// one, or a block smaller than its entry ends the run.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "korzip/archive.h"
#include "platform/localmem.h"
#include "plugins/spi_api.h"

namespace {

// Unpacks the entry at `at` and checks its block against the record (null: no record).
void Extract(korzip::ByteSource& in, int64_t at, int64_t lowestStart, const SPI_FILEINFO* record) {
  spi_hlocal_t block = nullptr;
  const int32_t result = korzip::ExtractEntry(in, at, lowestStart, &block, nullptr, 0);
  if ((result == SPI_SUCCESS) != (block != nullptr)) std::abort();
  if (!block) return;
  if (record && platform::LocalBlockSize(block) < record->filesize) std::abort();
  platform::LocalFreeBlock(block);
}

std::vector<SPI_FILEINFO> Listing(korzip::ByteSource& in) {
  std::vector<SPI_FILEINFO> records;
  spi_hlocal_t list = nullptr;
  if (korzip::ListEntries(in, 0, &list) != SPI_SUCCESS) {
    if (list) std::abort();
    return records;
  }
  const size_t room = platform::LocalBlockSize(list) / sizeof(SPI_FILEINFO);
  const auto* r = static_cast<const SPI_FILEINFO*>(platform::LocalLockBlock(list));
  size_t n = 0;
  while (n < room && r[n].method[0]) ++n;
  if (n == room) std::abort();  // no end record
  records.assign(r, r + n);
  platform::LocalUnlockBlock(list);
  platform::LocalFreeBlock(list);
  for (const SPI_FILEINFO& e : records) {
    if (!std::memchr(e.path, 0, sizeof e.path) || !std::memchr(e.filename, 0, sizeof e.filename))
      std::abort();
  }
  return records;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  korzip::MemorySource whole(data, size);
  const std::vector<SPI_FILEINFO> records = Listing(whole);
  for (size_t i = 0; i < records.size() && i < 16; ++i) {
    const SPI_FILEINFO& e = records[i];
    const std::string name = std::string(e.path) + e.filename;
    // By its own name, every other one case-insensitively; the first listed is also the first found.
    SPI_FILEINFO found;
    if (korzip::FindEntry(whole, 0, name.c_str(), i % 2 == 1, found) != SPI_SUCCESS) std::abort();
    if (i == 0 && std::memcmp(&found, &e, sizeof e) != 0) std::abort();
    Extract(whole, static_cast<int64_t>(e.position), 0, &e);
    if (e.position < size) {
      korzip::MemorySource rest(data + e.position, size - e.position);
      Extract(rest, 0, korzip::kAnyStart, &e);
    }
  }
  Extract(whole, 0, korzip::kAnyStart, nullptr);
  return 0;
}
