// The ZIP container, read by hand: the end records, the central directory and an entry's data.
// Every offset and size is checked against the input's real size before it is used.
#ifndef KORVALE_SPI_KORZIP_ZIP_H
#define KORVALE_SPI_KORZIP_ZIP_H

#include <cstdint>
#include <functional>
#include <string>

#include "source.h"

namespace korzip {

// Where the central directory lies.
struct Directory {
  int64_t start = 0;    // where the archive's own offsets count from, in the input; below 0 when
                        // the input begins inside the archive (GetFile's memory input)
  uint64_t offset = 0;  // the directory's place in the input
  uint64_t size = 0;
  uint64_t count = 0;
};

// One entry of the central directory, with the 64-bit fields of its extra data applied.
struct Entry {
  uint16_t flags = 0;
  uint16_t method = 0;
  uint16_t dosTime = 0;
  uint16_t dosDate = 0;
  uint32_t crc = 0;
  uint64_t compressedSize = 0;
  uint64_t size = 0;
  int64_t header = 0;  // its local header's place in the input (Directory::start + its offset)
  bool hasUnixTime = false;
  int64_t unixTime = 0;  // from the extended timestamp field, where it has one
  std::string name;      // the stored bytes

  bool Encrypted() const { return (flags & 0x0001) != 0; }
  bool Utf8Name() const { return (flags & 0x0800) != 0; }
  bool Folder() const { return !name.empty() && name.back() == '/'; }
};

enum Method : uint16_t { kStored = 0, kDeflated = 8 };

// Finds the end record in the last 64 KiB of the input and, where its fields are full, the
// 64-bit end record.  The directory lies right before them; Directory::start follows from where
// it says it lies and may not be less than `lowestStart`.  SPI_SUCCESS, SPI_UNKNOWN_FORMAT (no
// ZIP), SPI_BROKEN_DATA (a ZIP whose end is missing or wrong) or SPI_FILE_READ_ERROR.
int32_t FindDirectory(ByteSource& in, int64_t lowestStart, Directory& dir);

// Calls `visit` for each entry in the directory's order until it answers false.  SPI_SUCCESS,
// SPI_BROKEN_DATA (an entry that runs past the directory, a 64-bit field missing) or
// SPI_FILE_READ_ERROR.
int32_t ReadDirectory(ByteSource& in, const Directory& dir, const std::function<bool(const Entry&)>& visit);

// Whether the entry can be unpacked here, before anything is allocated for it: SPI_SUCCESS,
// SPI_UNKNOWN_FORMAT (encrypted, or a method other than stored and deflated), SPI_NO_MEMORY
// (larger than `largest`) or SPI_BROKEN_DATA (sizes that its method cannot produce).
int32_t CheckUnpackable(const Entry& entry, uint64_t largest);

// Whether a local header and the entry's stored bytes can lie within an input of `size` bytes
// where the directory places them.
bool FitsWithin(const Entry& entry, uint64_t size);

// Checks the entry's local header and that its data lie within the input; dataAt is where they
// begin.  SPI_SUCCESS, SPI_BROKEN_DATA or SPI_FILE_READ_ERROR.
int32_t LocateData(ByteSource& in, const Entry& entry, uint64_t& dataAt);

// Unpacks an entry that passed both checks above into `out`, which holds entry.size bytes, and
// checks its CRC.  `progress` is told the bytes done so far (at the start, after every MiB, at
// the end) and stops the work by answering false.  SPI_SUCCESS, SPI_ABORT, SPI_BROKEN_DATA (a
// damaged stream, one that gives more or fewer bytes than declared, a CRC mismatch),
// SPI_NO_MEMORY or SPI_FILE_READ_ERROR.
int32_t Unpack(ByteSource& in, const Entry& entry, uint64_t dataAt, uint8_t* out,
               const std::function<bool(uint64_t done)>& progress);

}  // namespace korzip

#endif
