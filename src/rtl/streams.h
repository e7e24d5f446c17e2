// Byte streams: the abstract stream, the memory stream and the file stream.
#ifndef KORVALE_RTL_STREAMS_H
#define KORVALE_RTL_STREAMS_H

#include <cstdint>
#include <string>

#include "platform/files.h"
#include "rtl/classes.h"

enum class TSeekOrigin { soBeginning = 0, soCurrent = 1, soEnd = 2 };

class TStream : public TObject {
 public:
  // Move up to count bytes; return the number moved (0 at the end).
  virtual int64_t Read(void* buffer, int64_t count) = 0;
  virtual int64_t Write(const void* buffer, int64_t count) = 0;
  virtual int64_t Seek(int64_t offset, TSeekOrigin origin) = 0;
  virtual int64_t Size();
  virtual void SetSize(int64_t size);

  int64_t Position() { return Seek(0, TSeekOrigin::soCurrent); }
  void SetPosition(int64_t pos) { Seek(pos, TSeekOrigin::soBeginning); }
  // Exactly count bytes, or EReadError "ストリームからの読み込みエラー".
  void ReadBuffer(void* buffer, int64_t count);
  // Exactly count bytes, or EWriteError "ストリームへの書き込みエラー".
  void WriteBuffer(const void* buffer, int64_t count);
  // Copies count bytes from source's position; count 0 copies the whole source from byte 0.
  int64_t CopyFrom(TStream& source, int64_t count);
};

// A stream over one block of memory that the stream may or may not own.
class TCustomMemoryStream : public TStream {
 public:
  int64_t Read(void* buffer, int64_t count) override;
  int64_t Seek(int64_t offset, TSeekOrigin origin) override;
  int64_t Size() override { return size_; }
  void* Memory() const { return memory_; }

 protected:
  void SetPointer(void* memory, int64_t size) {
    memory_ = static_cast<uint8_t*>(memory);
    size_ = size;
  }
  uint8_t* memory_ = nullptr;
  int64_t size_ = 0;
  int64_t position_ = 0;
};

// A growable stream in memory, the toolkit's TMemoryStream.
class TMemoryStream : public TCustomMemoryStream {
 public:
  TMemoryStream() = default;
  ~TMemoryStream() override;
  TMemoryStream(const TMemoryStream&) = delete;
  TMemoryStream& operator=(const TMemoryStream&) = delete;

  int64_t Write(const void* buffer, int64_t count) override;
  void SetSize(int64_t size) override;
  void Clear();
  // Position 0, read the source from byte 0 to its end, leave the source there.
  void LoadFromStream(TStream& source);
  void LoadFromFile(const std::string& name);
  void SaveToStream(TStream& target);
  // The buffer's capacity may exceed Size(); growing beyond what memory allows raises EOutOfMemory.
  void Reserve(int64_t capacity);

 private:
  int64_t capacity_ = 0;
};

// Read-only view of memory owned elsewhere (used to hand a block to a reader without a copy).
class TPointerStream : public TCustomMemoryStream {
 public:
  TPointerStream(const void* memory, int64_t size) { SetPointer(const_cast<void*>(memory), size); }
  int64_t Write(const void*, int64_t) override { return 0; }
};

// File modes of TFileStream.
enum : unsigned {
  fmOpenRead = 0x0000,
  fmShareDenyWrite = 0x0020,
  fmCreate = 0xFF00,
  fmShareExclusive = 0x0010,
};

// A file: opened for reading shared with readers (EFOpenError "ファイル %s は開けません"), or
// created exclusively (EFCreateError "ファイル %s を作成できません").  Closed on destruction.
class TFileStream : public TStream {
 public:
  TFileStream(const std::string& name, unsigned mode);
  ~TFileStream() override;
  TFileStream(const TFileStream&) = delete;
  TFileStream& operator=(const TFileStream&) = delete;

  int64_t Read(void* buffer, int64_t count) override;
  int64_t Write(const void* buffer, int64_t count) override;
  int64_t Seek(int64_t offset, TSeekOrigin origin) override;
  const std::string& FileName() const { return name_; }

 private:
  std::string name_;
  platform::FileHandle handle_ = platform::kInvalidFile;
};

#endif
