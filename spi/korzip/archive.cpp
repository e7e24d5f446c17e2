#include "archive.h"

#if defined(_WIN32)
#include <windows.h>
#else
#include "platform/posix/localmem/localmem.h"
#endif

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <limits>
#include <string>
#include <utility>
#include <vector>

#include "codepage.h"
#include "zip.h"

namespace korzip {

namespace {

// A result block of ours until it is handed to the host.
class LocalBlock {
 public:
  explicit LocalBlock(size_t bytes) : handle_(LocalAlloc(LMEM_MOVEABLE, bytes)) {}
  ~LocalBlock() {
    if (handle_) LocalFree(handle_);
  }
  LocalBlock(const LocalBlock&) = delete;
  LocalBlock& operator=(const LocalBlock&) = delete;
  HLOCAL Get() const { return handle_; }
  HLOCAL Release() {
    HLOCAL h = handle_;
    handle_ = nullptr;
    return h;
  }

 private:
  HLOCAL handle_;
};

// A block locked for as long as this lives: the host gets its blocks unlocked.
class Locked {
 public:
  explicit Locked(HLOCAL h) : handle_(h), data_(static_cast<uint8_t*>(LocalLock(h))) {}
  ~Locked() {
    if (data_) LocalUnlock(handle_);
  }
  Locked(const Locked&) = delete;
  Locked& operator=(const Locked&) = delete;
  uint8_t* Data() const { return data_; }

 private:
  HLOCAL handle_;
  uint8_t* data_;
};

// The listing's block is kept within what either edition's address space holds in one piece.
constexpr size_t kMostRecords =
    (sizeof(void*) == 4 ? size_t(64) << 20 : size_t(256) << 20) / sizeof(SPI_FILEINFO);

void MethodName(uint16_t method, unsigned char (&out)[8]) {
  static const struct {
    uint16_t method;
    const char* name;
  } kNames[] = {{0, "Stored"},  {1, "Shrunk"},  {2, "Reduced"}, {3, "Reduced"}, {4, "Reduced"},
                {5, "Reduced"}, {6, "Implode"}, {8, "Deflate"}, {9, "Def64"},   {12, "BZip2"},
                {14, "LZMA"},   {93, "Zstd"},   {95, "XZ"},     {98, "PPMd"},   {99, "AES"}};
  char text[sizeof out] = {};
  std::snprintf(text, sizeof text, "M%u", static_cast<unsigned>(method));
  for (const auto& known : kNames) {
    if (known.method == method) std::snprintf(text, sizeof text, "%s", known.name);
  }
  std::memcpy(out, text, sizeof out);
}

spi_time_t Timestamp(const Entry& e) {
  if (e.hasUnixTime) return static_cast<spi_time_t>(e.unixTime);
  // The DOS date and time are the writer's wall-clock time, read as this system's local time.
  std::tm t{};
  t.tm_year = 80 + (e.dosDate >> 9);
  t.tm_mon = ((e.dosDate >> 5) & 15) - 1;
  t.tm_mday = e.dosDate & 31;
  t.tm_hour = e.dosTime >> 11;
  t.tm_min = (e.dosTime >> 5) & 63;
  t.tm_sec = (e.dosTime & 31) * 2;
  t.tm_isdst = -1;
  if (t.tm_mon < 0 || t.tm_mon > 11 || t.tm_mday == 0) return 0;
  const std::time_t when = std::mktime(&t);
  return when == static_cast<std::time_t>(-1) ? 0 : static_cast<spi_time_t>(when);
}

// The entry's record.  False for an entry the listing leaves out: a folder; a name that is
// empty, holds a NUL, does not convert or whose path or file name does not fit its 199 bytes;
// on Win32 an entry whose place or sizes a 32-bit record cannot hold.  Names with "..", a
// leading "/" or a drive letter are listed as they are: the plug-in never makes files.
bool Describe(const Entry& e, AnsiNames& names, SPI_FILEINFO& record) {
  if (e.Folder() || e.name.empty() || e.name.find('\0') != std::string::npos) return false;
  constexpr uint64_t kMost = std::numeric_limits<spi_size_t>::max();
  if (e.header < 0 || static_cast<uint64_t>(e.header) > kMost || e.compressedSize > kMost || e.size > kMost)
    return false;
  std::string name;
  if (!e.Utf8Name()) {
    name = e.name;  // the writer's code page, passed on byte for byte
  } else if (!names.FromUtf8(e.name, name)) {
    return false;
  }
  // "/" (0x2F) is never the second byte of a double-byte character.
  const size_t slash = name.rfind('/');
  const size_t fileAt = slash == std::string::npos ? 0 : slash + 1;
  if (fileAt >= sizeof record.path || name.size() - fileAt >= sizeof record.filename) return false;
  SPI_FILEINFO r{};
  MethodName(e.method, r.method);
  r.position = static_cast<spi_size_t>(e.header);
  r.compsize = static_cast<spi_size_t>(e.compressedSize);
  r.filesize = static_cast<spi_size_t>(e.size);
  r.timestamp = Timestamp(e);
  r.crc = e.crc;
  for (size_t i = 0; i < fileAt; ++i) r.path[i] = name[i] == '/' ? '\\' : name[i];
  std::memcpy(r.filename, name.data() + fileAt, name.size() - fileAt);
  record = r;
  return true;
}

char Folded(unsigned char c) { return static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c); }

// Whether the record's path and file name are `name`; with `ignoreCase` ASCII letters match in
// either case, and double-byte characters of the code page always as they are.
bool Names(const SPI_FILEINFO& r, const char* name, bool ignoreCase) {
  const std::string mine = std::string(r.path) + r.filename;
  const char* a = mine.c_str();
  for (size_t i = 0;; ++i) {
    const unsigned char x = static_cast<unsigned char>(a[i]), y = static_cast<unsigned char>(name[i]);
    if (LeadByte(x) && a[i + 1]) {
      if (x != y || a[i + 1] != name[i + 1]) return false;
      ++i;
      continue;
    }
    if (ignoreCase ? Folded(x) != Folded(y) : x != y) return false;
    if (!x) return true;
  }
}

// Whether two entries share stored bytes: never so in an archive as written, it is how a small
// archive is made to unpack into very much more.  Each entry holds at least its local header and
// its stored bytes.
bool Overlapping(const std::vector<SPI_FILEINFO>& list) {
  std::vector<std::pair<uint64_t, uint64_t>> spans;
  spans.reserve(list.size());
  for (const SPI_FILEINFO& r : list) {
    const uint64_t at = r.position, stored = r.compsize;  // copied: the record's fields are unaligned
    spans.emplace_back(at, at + 30 + stored);
  }
  std::sort(spans.begin(), spans.end());
  for (size_t i = 1; i < spans.size(); ++i) {
    if (spans[i].first < spans[i - 1].second) return true;
  }
  return false;
}

}  // namespace

int32_t ListEntries(ByteSource& in, int64_t lowestStart, spi_hlocal_t* records) {
  Directory dir;
  int32_t result = FindDirectory(in, lowestStart, dir);
  if (result != SPI_SUCCESS) return result;
  AnsiNames names;
  std::vector<SPI_FILEINFO> list;
  int32_t failure = SPI_SUCCESS;
  result = ReadDirectory(in, dir, [&](const Entry& e) {
    // Data that cannot lie where the directory puts them: the directory is wrong.
    if (!FitsWithin(e, in.Size())) {
      failure = SPI_BROKEN_DATA;
      return false;
    }
    SPI_FILEINFO record;
    if (!Describe(e, names, record)) return true;
    if (list.size() >= kMostRecords) {
      failure = SPI_NO_MEMORY;
      return false;
    }
    list.push_back(record);
    return true;
  });
  if (result == SPI_SUCCESS) result = failure;
  if (result != SPI_SUCCESS) return result;
  if (Overlapping(list)) return SPI_BROKEN_DATA;
  LocalBlock block((list.size() + 1) * sizeof(SPI_FILEINFO));
  if (!block.Get()) return SPI_NO_MEMORY;
  {
    const Locked p(block.Get());
    if (!p.Data()) return SPI_NO_MEMORY;
    if (!list.empty()) std::memcpy(p.Data(), list.data(), list.size() * sizeof(SPI_FILEINFO));
    std::memset(p.Data() + list.size() * sizeof(SPI_FILEINFO), 0, sizeof(SPI_FILEINFO));  // the end
  }
  *records = block.Release();
  return SPI_SUCCESS;
}

int32_t FindEntry(ByteSource& in, int64_t lowestStart, const char* name, bool ignoreCase,
                  SPI_FILEINFO& record) {
  Directory dir;
  int32_t result = FindDirectory(in, lowestStart, dir);
  if (result != SPI_SUCCESS) return result;
  AnsiNames names;
  bool found = false;
  result = ReadDirectory(in, dir, [&](const Entry& e) {
    SPI_FILEINFO r;
    if (!Describe(e, names, r) || !Names(r, name, ignoreCase)) return true;
    record = r;
    found = true;
    return false;
  });
  if (result != SPI_SUCCESS) return result;
  return found ? SPI_SUCCESS : SPI_INTERNAL_ERROR;
}

int32_t ExtractEntry(ByteSource& in, int64_t at, int64_t lowestStart, spi_hlocal_t* block,
                     SPI_PROGRESS progress, spi_len_t lData) {
  Directory dir;
  int32_t result = FindDirectory(in, lowestStart, dir);
  if (result != SPI_SUCCESS) return result;
  AnsiNames names;
  Entry entry;
  bool found = false;
  result = ReadDirectory(in, dir, [&](const Entry& e) {
    SPI_FILEINFO record;
    if (e.header != at || !Describe(e, names, record)) return true;
    entry = e;
    found = true;
    return false;
  });
  if (result != SPI_SUCCESS) return result;
  if (!found) return SPI_INTERNAL_ERROR;
  // Every check before the block is made: the method, the size, the local header and the data's
  // place in the input.
  result = CheckUnpackable(entry, kLargestEntry);
  if (result != SPI_SUCCESS) return result;
  uint64_t dataAt = 0;
  result = LocateData(in, entry, dataAt);
  if (result != SPI_SUCCESS) return result;
  LocalBlock out(entry.size ? static_cast<size_t>(entry.size) : 1);
  if (!out.Get()) return SPI_NO_MEMORY;
  {
    const Locked p(out.Get());
    if (!p.Data()) return SPI_NO_MEMORY;
    const auto total = static_cast<int32_t>(entry.size);  // at most kLargestEntry
    result = Unpack(in, entry, dataAt, p.Data(), [&](uint64_t done) {
      return !progress || progress(static_cast<int32_t>(done), total, lData) == 0;
    });
  }
  if (result != SPI_SUCCESS) return result;
  *block = out.Release();
  return SPI_SUCCESS;
}

}  // namespace korzip
