#include "zip.h"

#include <zlib.h>

#include <algorithm>
#include <initializer_list>
#include <vector>

#include "plugins/spi_api.h"

namespace korzip {

namespace {

constexpr uint32_t kLocalSignature = 0x04034B50;
constexpr uint32_t kCentralSignature = 0x02014B50;
constexpr uint32_t kEndSignature = 0x06054B50;
constexpr uint32_t kEnd64Signature = 0x06064B50;
constexpr uint32_t kLocatorSignature = 0x07064B50;
constexpr size_t kLocalSize = 30;
constexpr size_t kCentralSize = 46;
constexpr size_t kEndSize = 22;
constexpr size_t kEnd64Size = 56;
constexpr size_t kLocatorSize = 20;
constexpr size_t kLongestComment = 0xFFFF;
// No real offset or size comes near this; holding every one below it keeps each sum in range.
constexpr uint64_t kFar = uint64_t(1) << 62;
// Deflate makes at most 1032 bytes of each byte of its stream (a 258-byte match in two bits).
constexpr uint64_t kDeflateRatio = 1032;
constexpr size_t kChunk = size_t{64} << 10;
constexpr uint64_t kProgressStep = uint64_t(1) << 20;

uint16_t Le16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }
uint32_t Le32(const uint8_t* p) {
  return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}
uint64_t Le64(const uint8_t* p) { return Le32(p) | uint64_t(Le32(p + 4)) << 32; }

// Without an end record: an input that begins with a local header is a ZIP that lost its end
// (cut short), anything else is no ZIP.
int32_t WithoutEnd(ByteSource& in, uint64_t floor) {
  uint8_t head[4];
  const bool zip =
      in.Size() - floor >= sizeof head && in.Read(floor, head, sizeof head) && Le32(head) == kLocalSignature;
  return zip ? SPI_BROKEN_DATA : SPI_UNKNOWN_FORMAT;
}

// The 64-bit end record: right before its locator, where writers put it, or else where the
// locator says (counted from `floor`).
int32_t FindEnd64(ByteSource& in, uint64_t floor, uint64_t locatorAt, uint64_t stated,
                  uint8_t (&record)[kEnd64Size], uint64_t& recordAt) {
  const uint64_t candidates[] = {locatorAt - floor >= kEnd64Size ? locatorAt - kEnd64Size : kFar,
                                 stated < kFar ? floor + stated : kFar};
  for (const uint64_t at : candidates) {
    if (at > locatorAt || locatorAt - at < kEnd64Size) continue;
    if (!in.Read(at, record, kEnd64Size)) return SPI_FILE_READ_ERROR;
    if (Le32(record) == kEnd64Signature && Le64(record + 4) >= kEnd64Size - 12) {
      recordAt = at;
      return SPI_SUCCESS;
    }
  }
  return SPI_BROKEN_DATA;
}

// Applies the extra fields that matter here: the 64-bit numbers (0x0001), which stand in, in
// their order, for the fields that hold 0xFFFFFFFF, and the extended timestamp (0x5455).  False
// when a 64-bit field is too short for the numbers it must hold.  A damaged tail of the extra
// data is not read.
bool ReadExtra(const uint8_t* p, size_t length, Entry& e, uint64_t& offset) {
  for (size_t at = 0; length - at >= 4;) {
    const uint16_t id = Le16(p + at);
    const size_t size = Le16(p + at + 2);
    const uint8_t* data = p + at + 4;
    if (size > length - at - 4) break;
    if (id == 0x0001) {
      size_t used = 0;
      for (uint64_t* field : {&e.size, &e.compressedSize, &offset}) {
        if (*field != 0xFFFFFFFF) continue;
        if (size - used < 8) return false;
        *field = Le64(data + used);
        used += 8;
      }
    } else if (id == 0x5455 && size >= 5 && (data[0] & 1)) {
      e.hasUnixTime = true;
      e.unixTime = static_cast<int32_t>(Le32(data + 1));
    }
    at += 4 + size;
  }
  return true;
}

}  // namespace

int32_t FindDirectory(ByteSource& in, int64_t lowestStart, Directory& dir) {
  const uint64_t size = in.Size();
  const uint64_t floor = lowestStart > 0 ? static_cast<uint64_t>(lowestStart) : 0;
  if (size >= kFar || floor > size) return SPI_UNKNOWN_FORMAT;
  if (size - floor < kEndSize) return WithoutEnd(in, floor);
  const size_t span = static_cast<size_t>(std::min<uint64_t>(size - floor, kEndSize + kLongestComment));
  const uint64_t tailAt = size - span;
  std::vector<uint8_t> tail(span);
  if (!in.Read(tailAt, tail.data(), span)) return SPI_FILE_READ_ERROR;
  // The last end record whose comment ends within the input.
  size_t at = span - kEndSize + 1;
  bool found = false;
  while (!found && at-- > 0) {
    const uint8_t* p = &tail[at];
    found = Le32(p) == kEndSignature && kEndSize + Le16(p + 20) <= span - at;
  }
  if (!found) return WithoutEnd(in, floor);
  const uint8_t* end = &tail[at];
  const uint64_t endAt = tailAt + at;
  uint64_t count = Le16(end + 10);
  uint64_t dirSize = Le32(end + 12);
  uint64_t dirOffset = Le32(end + 16);
  uint64_t dirEnd = endAt;  // the directory lies right before the end records
  const bool full = Le16(end + 4) == 0xFFFF || Le16(end + 6) == 0xFFFF || Le16(end + 8) == 0xFFFF ||
                    count == 0xFFFF || dirSize == 0xFFFFFFFF || dirOffset == 0xFFFFFFFF;
  if (full && endAt - floor >= kLocatorSize) {
    uint8_t locator[kLocatorSize];
    if (!in.Read(endAt - kLocatorSize, locator, sizeof locator)) return SPI_FILE_READ_ERROR;
    if (Le32(locator) == kLocatorSignature) {
      uint8_t record[kEnd64Size];
      const int32_t result = FindEnd64(in, floor, endAt - kLocatorSize, Le64(locator + 8), record, dirEnd);
      if (result != SPI_SUCCESS) return result;
      count = Le64(record + 32);
      dirSize = Le64(record + 40);
      dirOffset = Le64(record + 48);
    }
  }
  if (dirSize > dirEnd - floor || dirOffset >= kFar || count > dirSize / kCentralSize) return SPI_BROKEN_DATA;
  dir.offset = dirEnd - dirSize;
  dir.size = dirSize;
  dir.count = count;
  dir.start = static_cast<int64_t>(dir.offset) - static_cast<int64_t>(dirOffset);
  // A directory that says it lies further on than it does (an offset past the end).
  if (dir.start < lowestStart) return SPI_BROKEN_DATA;
  return SPI_SUCCESS;
}

int32_t ReadDirectory(ByteSource& in, const Directory& dir, const std::function<bool(const Entry&)>& visit) {
  const uint64_t end = dir.offset + dir.size;  // within the input (FindDirectory)
  uint64_t at = dir.offset;
  std::vector<uint8_t> fields;
  for (uint64_t i = 0; i < dir.count; ++i) {
    uint8_t h[kCentralSize];
    if (end - at < kCentralSize) return SPI_BROKEN_DATA;
    if (!in.Read(at, h, sizeof h)) return SPI_FILE_READ_ERROR;
    if (Le32(h) != kCentralSignature) return SPI_BROKEN_DATA;
    const size_t nameLength = Le16(h + 28), extraLength = Le16(h + 30), commentLength = Le16(h + 32);
    const uint64_t length = kCentralSize + nameLength + extraLength + commentLength;
    if (end - at < length) return SPI_BROKEN_DATA;
    fields.resize(nameLength + extraLength);
    if (!in.Read(at + kCentralSize, fields.data(), fields.size())) return SPI_FILE_READ_ERROR;
    Entry e;
    e.flags = Le16(h + 8);
    e.method = Le16(h + 10);
    e.dosTime = Le16(h + 12);
    e.dosDate = Le16(h + 14);
    e.crc = Le32(h + 16);
    e.compressedSize = Le32(h + 20);
    e.size = Le32(h + 24);
    uint64_t offset = Le32(h + 42);
    e.name.assign(reinterpret_cast<const char*>(fields.data()), nameLength);
    if (!ReadExtra(fields.data() + nameLength, extraLength, e, offset)) return SPI_BROKEN_DATA;
    if (offset >= kFar || e.compressedSize >= kFar || e.size >= kFar) return SPI_BROKEN_DATA;
    e.header = dir.start + static_cast<int64_t>(offset);
    at += length;
    if (!visit(e)) break;
  }
  return SPI_SUCCESS;
}

int32_t CheckUnpackable(const Entry& entry, uint64_t largest) {
  // An encrypted entry (either kind of encryption) needs a password, which the plug-in
  // interface has no way to ask for: such entries are listed but never unpacked.
  if (entry.Encrypted()) return SPI_UNKNOWN_FORMAT;
  if (entry.method != kStored && entry.method != kDeflated) return SPI_UNKNOWN_FORMAT;
  if (entry.size > largest) return SPI_NO_MEMORY;
  if (entry.method == kStored && entry.compressedSize != entry.size) return SPI_BROKEN_DATA;
  if (entry.method == kDeflated && entry.size / kDeflateRatio > entry.compressedSize) return SPI_BROKEN_DATA;
  return SPI_SUCCESS;
}

bool FitsWithin(const Entry& entry, uint64_t size) {
  if (entry.header < 0 || static_cast<uint64_t>(entry.header) > size) return false;
  const uint64_t left = size - static_cast<uint64_t>(entry.header);
  return left >= kLocalSize && left - kLocalSize >= entry.compressedSize;
}

int32_t LocateData(ByteSource& in, const Entry& entry, uint64_t& dataAt) {
  const uint64_t size = in.Size();
  if (!FitsWithin(entry, size)) return SPI_BROKEN_DATA;
  const uint64_t header = static_cast<uint64_t>(entry.header);
  uint8_t h[kLocalSize];
  if (!in.Read(header, h, sizeof h)) return SPI_FILE_READ_ERROR;
  if (Le32(h) != kLocalSignature) return SPI_BROKEN_DATA;
  const uint64_t at = header + kLocalSize + Le16(h + 26) + Le16(h + 28);
  if (at > size || size - at < entry.compressedSize) return SPI_BROKEN_DATA;
  dataAt = at;
  return SPI_SUCCESS;
}

namespace {

using Progress = std::function<bool(uint64_t)>;

int32_t CopyStored(ByteSource& in, const Entry& e, uint64_t dataAt, uint8_t* out, uLong& crc,
                   const Progress& progress) {
  for (uint64_t done = 0; done < e.size;) {
    const size_t n = static_cast<size_t>(std::min<uint64_t>(e.size - done, kProgressStep));
    if (!in.Read(dataAt + done, out + done, n)) return SPI_FILE_READ_ERROR;
    crc = crc32_z(crc, out + done, n);
    done += n;
    if (done < e.size && !progress(done)) return SPI_ABORT;
  }
  return SPI_SUCCESS;
}

// zlib's inflate state for raw deflate data, given back when this goes.
class Inflater {
 public:
  Inflater() { status_ = inflateInit2(&stream_, -MAX_WBITS); }
  ~Inflater() {
    if (status_ == Z_OK) inflateEnd(&stream_);
  }
  Inflater(const Inflater&) = delete;
  Inflater& operator=(const Inflater&) = delete;
  int Status() const { return status_; }
  z_stream& Stream() { return stream_; }

 private:
  z_stream stream_{};
  int status_;
};

int32_t Inflate(ByteSource& in, const Entry& e, uint64_t dataAt, uint8_t* out, uLong& crc,
                const Progress& progress) {
  Inflater inflater;
  if (inflater.Status() == Z_MEM_ERROR) return SPI_NO_MEMORY;
  if (inflater.Status() != Z_OK) return SPI_INTERNAL_ERROR;
  z_stream& z = inflater.Stream();
  std::vector<uint8_t> chunk(kChunk);
  uint64_t read = 0, done = 0, report = kProgressStep;
  // Once the declared size is made, the stream may only end: one byte more is broken data,
  // caught in this spare byte instead of past the end of `out`.
  uint8_t spare = 0;
  for (;;) {
    if (z.avail_in == 0 && read < e.compressedSize) {
      const size_t n = static_cast<size_t>(std::min<uint64_t>(e.compressedSize - read, kChunk));
      if (!in.Read(dataAt + read, chunk.data(), n)) return SPI_FILE_READ_ERROR;
      read += n;
      z.next_in = chunk.data();
      z.avail_in = static_cast<uInt>(n);
    }
    uint8_t* const to = done < e.size ? out + done : &spare;
    const uInt room = done < e.size ? static_cast<uInt>(std::min<uint64_t>(e.size - done, 1u << 30)) : 1;
    z.next_out = to;
    z.avail_out = room;
    const int status = inflate(&z, Z_NO_FLUSH);
    const uInt made = room - z.avail_out;
    if (to == &spare && made) return SPI_BROKEN_DATA;
    crc = crc32_z(crc, to, made);
    done += made;
    if (status == Z_STREAM_END) break;
    if (status == Z_MEM_ERROR) return SPI_NO_MEMORY;
    // A damaged stream, or one cut short (no progress is possible without more input).
    if (status != Z_OK) return SPI_BROKEN_DATA;
    if (done >= report && done < e.size) {
      report = done + kProgressStep;
      if (!progress(done)) return SPI_ABORT;
    }
  }
  return done == e.size ? SPI_SUCCESS : SPI_BROKEN_DATA;
}

}  // namespace

int32_t Unpack(ByteSource& in, const Entry& entry, uint64_t dataAt, uint8_t* out, const Progress& progress) {
  if (!progress(0)) return SPI_ABORT;
  uLong crc = crc32_z(0, nullptr, 0);
  const int32_t result = entry.method == kStored ? CopyStored(in, entry, dataAt, out, crc, progress)
                                                 : Inflate(in, entry, dataAt, out, crc, progress);
  if (result != SPI_SUCCESS) return result;
  if (crc != entry.crc) return SPI_BROKEN_DATA;
  return progress(entry.size) ? SPI_SUCCESS : SPI_ABORT;
}

}  // namespace korzip
