// What the archive is read from: a block of the host's memory or a file, behind one interface,
// so that every call reads both kinds alike.
#ifndef KORVALE_SPI_KORZIP_SOURCE_H
#define KORVALE_SPI_KORZIP_SOURCE_H

#include <cstddef>
#include <cstdint>
#include <vector>

namespace korzip {

class ByteSource {
 public:
  virtual ~ByteSource() = default;
  virtual uint64_t Size() const = 0;
  // Copies n bytes from `at`; false when they do not all lie within Size() or the system
  // cannot read them.
  virtual bool Read(uint64_t at, void* out, size_t n) = 0;
};

// The host's block: read in place, never written.
class MemorySource final : public ByteSource {
 public:
  MemorySource(const void* data, uint64_t size) : data_(static_cast<const uint8_t*>(data)), size_(size) {}
  uint64_t Size() const override { return size_; }
  bool Read(uint64_t at, void* out, size_t n) override;

 private:
  const uint8_t* data_;
  uint64_t size_;
};

// A file opened for reading only, which others may go on reading and writing; closed when this
// object goes.  Small reads come from a window of the file read ahead, so that walking a
// directory of many entries costs one system call per window instead of two per entry.
class FileSource final : public ByteSource {
 public:
  FileSource() = default;
  ~FileSource() { Close(); }
  FileSource(const FileSource&) = delete;
  FileSource& operator=(const FileSource&) = delete;

  // The host's file name (Windows: the ANSI code page's bytes; natively "\" separators as the
  // host writes them).  SPI_SUCCESS, or SPI_FILE_READ_ERROR when it cannot be opened.
  int32_t Open(const char* name);
  uint64_t Size() const override { return size_; }
  bool Read(uint64_t at, void* out, size_t n) override;

 private:
  static constexpr size_t kWindow = size_t{64} << 10;

  // The system's halves: source_win32.cpp and source_posix.cpp.
  bool OpenFile(const char* name);  // sets handle_ and size_
  bool ReadDirect(uint64_t at, void* out, size_t n);
  void Close();

  intptr_t handle_ = -1;  // HANDLE or file descriptor; -1 when closed
  uint64_t size_ = 0;
  std::vector<uint8_t> window_;
  uint64_t windowAt_ = 0;
};

}  // namespace korzip

#endif
