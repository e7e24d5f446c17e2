// A bounds-checked little-endian view of a byte block, for the file formats read from memory.
// Every read outside the block calls the reader's failure function, which raises the format's
// own exception.
#ifndef KORVALE_PICTURE_READERS_H
#define KORVALE_PICTURE_READERS_H

#include <cstddef>
#include <cstdint>

#include "platform/dib_layout.h"

class ByteReader {
 public:
  using FailFn = void (*)();  // must not return

  ByteReader(const uint8_t* data, size_t size, FailFn fail = nullptr)
      : data_(data), size_(size), fail_(fail) {}

  const uint8_t* Data() const { return data_; }
  size_t Size() const { return size_; }
  // Are the count bytes from `at` inside the block (computed without overflow)?
  bool Has(uint64_t at, uint64_t count) const { return at <= size_ && count <= size_ - at; }

  uint8_t U8(size_t at) const { return Check(at, 1)[0]; }
  uint16_t U16(size_t at) const { return KorLe16(Check(at, 2)); }
  uint32_t U32(size_t at) const { return KorLe32(Check(at, 4)); }
  int16_t I16(size_t at) const { return static_cast<int16_t>(U16(at)); }
  int32_t I32(size_t at) const { return static_cast<int32_t>(U32(at)); }

 private:
  const uint8_t* Check(size_t at, size_t count) const;

  const uint8_t* data_;
  size_t size_;
  FailFn fail_;
};

#endif
