// The entries of an archive as an archive plug-in lists them, read out of its records and
// checked.  A plug-in's records are read field by field with the layout of either width (the
// 32-bit interface's and the 64-bit one's), never past the block that holds them; the helper
// reads its plug-ins' records and hands the program the entries, which the program checks
// again as the words of an untrusted party.
#ifndef KORVALE_RUNNER_ARCHIVE_ENTRIES_H
#define KORVALE_RUNNER_ARCHIVE_ENTRIES_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace spirun {

struct ArchiveEntry {
  std::string Method;  // at most 8 bytes
  uint64_t Position = 0;
  uint64_t CompSize = 0;
  uint64_t FileSize = 0;
  int64_t Timestamp = 0;
  std::string Path;      // at most 200 bytes, ends with its separator unless empty
  std::string FileName;  // at most 200 bytes
  uint32_t Crc = 0;
  // Path followed by FileName: the entry's whole name inside the archive.
  std::string Name() const { return Path + FileName; }
};

// No archive of pictures comes near this many entries; a listing is cut there.
inline constexpr size_t kMaxArchiveEntries = 65536;
inline constexpr size_t kMethodBytes = 8;
inline constexpr size_t kNameBytes = 200;

// Reads the records in `block` (`size` bytes, a local-memory block's real size) of `width`
// (4 or 8) up to the first whose method is empty.  A block that ends before such a record, or
// holds more than kMaxArchiveEntries, gives the whole records before its end (or the limit)
// and `cut` set.  Text fields end at their first NUL or at the field's end.
std::vector<ArchiveEntry> ReadArchiveRecords(const uint8_t* block, size_t size, int width, bool& cut);
// One record of `width` (GetFileInfo's answer, `size` bytes of it there): false when it is
// not all there.
bool ReadArchiveRecord(const uint8_t* record, size_t size, int width, ArchiveEntry& entry);

// Whether an entry as it came through the channel is one that a record can hold: the texts
// within their fields, no NUL inside them.
bool PlausibleEntry(const ArchiveEntry& entry);

}  // namespace spirun

#endif
