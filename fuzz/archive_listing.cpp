// libFuzzer target: an archive plug-in's listing on both sides of the helper.  The first byte
// picks the record width (odd: 8, even: 4) and splits the rest: a block of records as the helper
// reads it out of a plug-in's local memory, and the listing bytes as the program reads them out of
// the helper's shared block, with a count from the input.  The records' entries must keep within
// their fields and travel through the listing unchanged; whatever the listing bytes hold, every
// entry the program takes is one a record can hold.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "runner/archive_entries.h"
#include "runner/protocol.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 3) return 0;
  const int width = (data[0] & 1) ? 8 : 4;
  const size_t split = 3 + (size_t{data[1]} << 8 | data[2]) % (size - 2);
  const size_t recordsEnd = split < size ? split : size;
  bool cut = false;
  const std::vector<spirun::ArchiveEntry> entries =
      spirun::ReadArchiveRecords(data + 3, recordsEnd - 3, width, cut);
  if (entries.size() > spirun::kMaxArchiveEntries) __builtin_trap();
  for (const spirun::ArchiveEntry& e : entries)
    if (!spirun::PlausibleEntry(e)) __builtin_trap();
  const std::string listing = spiproto::EncodeListing(entries);
  if (listing.size() > spiproto::kMaxListingBytes) __builtin_trap();
  std::vector<spirun::ArchiveEntry> back;
  if (!spiproto::DecodeListing(reinterpret_cast<const uint8_t*>(listing.data()), listing.size(),
                               static_cast<uint32_t>(entries.size()), back) ||
      back.size() != entries.size())
    __builtin_trap();
  for (size_t i = 0; i < back.size(); ++i)
    if (back[i].Name() != entries[i].Name() || back[i].FileSize != entries[i].FileSize ||
        back[i].Position != entries[i].Position || back[i].Crc != entries[i].Crc)
      __builtin_trap();

  const uint8_t* rest = data + recordsEnd;
  const size_t restSize = size - recordsEnd;
  const uint32_t count = restSize ? rest[0] : 0;
  std::vector<spirun::ArchiveEntry> taken;
  if (spiproto::DecodeListing(rest + (restSize ? 1 : 0), restSize ? restSize - 1 : 0, count, taken)) {
    if (taken.size() != count) __builtin_trap();
    for (const spirun::ArchiveEntry& e : taken)
      if (!spirun::PlausibleEntry(e)) __builtin_trap();
  }
  return 0;
}
