#include "rtl/streams.h"

#include <cstdlib>
#include <cstring>
#include <new>
#include <vector>

#include "rtl/exceptions.h"
#include "rtl/format.h"
#include "rtl/messages.h"

int64_t TStream::Size() {
  int64_t pos = Seek(0, TSeekOrigin::soCurrent);
  int64_t end = Seek(0, TSeekOrigin::soEnd);
  Seek(pos, TSeekOrigin::soBeginning);
  return end;
}

void TStream::SetSize(int64_t) {}

void TStream::ReadBuffer(void* buffer, int64_t count) {
  if (count < 0 || (count != 0 && Read(buffer, count) != count)) throw EReadError(msg::kReadError);
}

void TStream::WriteBuffer(const void* buffer, int64_t count) {
  if (count < 0 || (count != 0 && Write(buffer, count) != count)) throw EWriteError(msg::kWriteError);
}

int64_t TStream::CopyFrom(TStream& source, int64_t count) {
  if (count == 0) {
    source.SetPosition(0);
    count = source.Size();
  }
  int64_t left = count;
  std::vector<char> buf(static_cast<size_t>(left < 65536 ? (left > 0 ? left : 1) : 65536));
  while (left > 0) {
    int64_t n = left < static_cast<int64_t>(buf.size()) ? left : static_cast<int64_t>(buf.size());
    source.ReadBuffer(buf.data(), n);
    WriteBuffer(buf.data(), n);
    left -= n;
  }
  return count;
}

int64_t TCustomMemoryStream::Read(void* buffer, int64_t count) {
  if (count <= 0 || position_ >= size_) return 0;
  int64_t n = size_ - position_;
  if (n > count) n = count;
  std::memcpy(buffer, memory_ + position_, static_cast<size_t>(n));
  position_ += n;
  return n;
}

int64_t TCustomMemoryStream::Seek(int64_t offset, TSeekOrigin origin) {
  int64_t base = origin == TSeekOrigin::soBeginning ? 0 : origin == TSeekOrigin::soCurrent ? position_ : size_;
  int64_t p = base + offset;
  if (p < 0) p = 0;
  position_ = p;
  return position_;
}

TMemoryStream::~TMemoryStream() { std::free(memory_); }

void TMemoryStream::Reserve(int64_t capacity) {
  if (capacity <= capacity_) return;
  if (capacity > static_cast<int64_t>(SIZE_MAX / 2)) throw EOutOfMemory(msg::kOutOfMemory);
  void* p = std::realloc(memory_, static_cast<size_t>(capacity));
  if (!p) throw EOutOfMemory(msg::kOutOfMemory);
  memory_ = static_cast<uint8_t*>(p);
  capacity_ = capacity;
}

void TMemoryStream::SetSize(int64_t size) {
  if (size < 0) size = 0;
  Reserve(size);
  size_ = size;
  if (position_ > size_) position_ = size_;
}

void TMemoryStream::Clear() {
  std::free(memory_);
  memory_ = nullptr;
  size_ = capacity_ = position_ = 0;
}

int64_t TMemoryStream::Write(const void* buffer, int64_t count) {
  if (count <= 0) return 0;
  int64_t end = position_ + count;
  if (end > capacity_) {
    int64_t grow = capacity_ + capacity_ / 2;
    Reserve(end > grow ? end : grow);
  }
  if (end > size_) size_ = end;
  std::memcpy(memory_ + position_, buffer, static_cast<size_t>(count));
  position_ = end;
  return count;
}

void TMemoryStream::LoadFromStream(TStream& source) {
  source.SetPosition(0);
  int64_t n = source.Size();
  SetSize(n);
  if (n) source.ReadBuffer(memory_, n);
  position_ = 0;
}

void TMemoryStream::LoadFromFile(const std::string& name) {
  TFileStream f(name, fmOpenRead | fmShareDenyWrite);
  LoadFromStream(f);
}

void TMemoryStream::SaveToStream(TStream& target) { target.WriteBuffer(memory_, size_); }

TFileStream::TFileStream(const std::string& name, unsigned mode) : name_(name) {
  if (mode == fmCreate || (mode & 0xFF00) == fmCreate) {
    handle_ = platform::FileCreate(name);
    if (handle_ == platform::kInvalidFile) throw EFCreateError(FormatMixed(msg::kFCreateError, {name}));
  } else {
    handle_ = platform::FileOpenRead(name);
    if (handle_ == platform::kInvalidFile) throw EFOpenError(FormatMixed(msg::kFOpenError, {name}));
  }
}

TFileStream::~TFileStream() { platform::FileClose(handle_); }

int64_t TFileStream::Read(void* buffer, int64_t count) {
  int64_t r = platform::FileRead(handle_, buffer, count);
  return r < 0 ? 0 : r;
}

int64_t TFileStream::Write(const void* buffer, int64_t count) {
  int64_t r = platform::FileWrite(handle_, buffer, count);
  return r < 0 ? 0 : r;
}

int64_t TFileStream::Seek(int64_t offset, TSeekOrigin origin) {
  return platform::FileSeek(handle_, offset, static_cast<int>(origin));
}
