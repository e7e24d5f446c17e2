#include "runner/archive_entries.h"

#include <cstring>

#include "plugins/spi_api.h"

namespace spirun {

namespace {

uint64_t Unsigned(const uint8_t* p, int width) {
  uint64_t v = 0;
  for (int i = width - 1; i >= 0; --i) v = v << 8 | p[i];
  return v;
}

int64_t Signed(const uint8_t* p, int width) {
  const uint64_t v = Unsigned(p, width);
  if (width == 8) return static_cast<int64_t>(v);
  return static_cast<int32_t>(static_cast<uint32_t>(v));
}

std::string Text(const uint8_t* p, size_t field) {
  const void* nul = std::memchr(p, 0, field);
  const size_t n = nul ? static_cast<size_t>(static_cast<const uint8_t*>(nul) - p) : field;
  return std::string(reinterpret_cast<const char*>(p), n);
}

}  // namespace

bool ReadArchiveRecord(const uint8_t* record, size_t size, int width, ArchiveEntry& entry) {
  if ((width != 4 && width != 8) || !record || size < static_cast<size_t>(SPI_FILEINFO_SIZE_OF(width)))
    return false;
  entry.Method = Text(record, kMethodBytes);
  entry.Position = Unsigned(record + SPI_FILEINFO_POSITION_AT(width), width);
  entry.CompSize = Unsigned(record + SPI_FILEINFO_COMPSIZE_AT(width), width);
  entry.FileSize = Unsigned(record + SPI_FILEINFO_FILESIZE_AT(width), width);
  entry.Timestamp = Signed(record + SPI_FILEINFO_TIMESTAMP_AT(width), width);
  entry.Path = Text(record + SPI_FILEINFO_PATH_AT(width), kNameBytes);
  entry.FileName = Text(record + SPI_FILEINFO_FILENAME_AT(width), kNameBytes);
  entry.Crc = static_cast<uint32_t>(Unsigned(record + SPI_FILEINFO_CRC_AT(width), 4));
  return true;
}

std::vector<ArchiveEntry> ReadArchiveRecords(const uint8_t* block, size_t size, int width, bool& cut) {
  std::vector<ArchiveEntry> entries;
  cut = true;
  if ((width != 4 && width != 8) || !block) return entries;
  const size_t record = static_cast<size_t>(SPI_FILEINFO_SIZE_OF(width));
  for (size_t at = 0; at <= size && size - at >= record; at += record) {
    if (block[at] == 0) {
      cut = false;
      return entries;
    }
    if (entries.size() == kMaxArchiveEntries) return entries;
    ArchiveEntry entry;
    ReadArchiveRecord(block + at, record, width, entry);
    entries.push_back(std::move(entry));
  }
  return entries;
}

bool PlausibleEntry(const ArchiveEntry& entry) {
  auto fits = [](const std::string& s, size_t field) {
    return s.size() <= field && s.find('\0') == std::string::npos;
  };
  return !entry.Method.empty() && fits(entry.Method, kMethodBytes) && fits(entry.Path, kNameBytes) &&
         fits(entry.FileName, kNameBytes);
}

}  // namespace spirun
