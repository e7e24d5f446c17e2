// The three archive calls of the plug-in over an input already opened, as the entry points and
// the fuzzer make them: the records of the listing, one record by name, one entry's bytes.
#ifndef KORVALE_SPI_KORZIP_ARCHIVE_H
#define KORVALE_SPI_KORZIP_ARCHIVE_H

#include <cstdint>

#include "plugins/spi_api.h"
#include "source.h"

namespace korzip {

// The largest entry unpacked, so that one block holds it in either edition's address space.
constexpr uint64_t kLargestEntry = sizeof(void*) == 4 ? uint64_t(512) << 20 : uint64_t(1) << 30;
// GetFile's memory input begins at the entry's local header, so the archive begins before it.
constexpr int64_t kAnyStart = -(int64_t(1) << 62);

// GetArchiveInfo: a local-memory array of the records of every entry that a record can hold,
// ended by an empty one, into *records.  The archive may not begin before `lowestStart`.
// SPI_BROKEN_DATA also for a directory that places an entry's data past the end of the input
// or two entries' data over each other.
int32_t ListEntries(ByteSource& in, int64_t lowestStart, spi_hlocal_t* records);

// GetFileInfo: the record whose path and file name together are `name`, compared without
// regard to the case of ASCII letters when `ignoreCase`.  SPI_INTERNAL_ERROR when there is none.
int32_t FindEntry(ByteSource& in, int64_t lowestStart, const char* name, bool ignoreCase,
                  SPI_FILEINFO& record);

// GetFile with memory output: the bytes of the listed entry whose local header lies at `at` in
// the input, in a local-memory block stored in *block.  SPI_INTERNAL_ERROR when no entry lies
// there.  `progress` (may be null) is told the bytes done of the entry's size.
int32_t ExtractEntry(ByteSource& in, int64_t at, int64_t lowestStart, spi_hlocal_t* block,
                     SPI_PROGRESS progress, spi_len_t lData);

}  // namespace korzip

#endif
