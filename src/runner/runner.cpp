#include "runner/runner.h"

#include <cstdint>
#include <cstring>
#include <limits>
#include <type_traits>

#include "picture/bitmap_image.h"
#include "platform/localmem.h"
#include "platform/process.h"
#include "runner/plugin_call.h"

namespace spirun {

namespace {
// A helper decoding the largest picture the program holds stays within its memory cap.
static_assert(platform::kHelperMemoryLimit >= 3 * bitmap_image::kMaxImageBytes);

// Every GetPluginInfo answer lands in a buffer one byte longer than the length the plug-in is
// told, and the host writes the final NUL itself, so a plug-in that fills all it was given
// never makes the host read past the buffer.
constexpr int32_t kInfoLength = 255;
constexpr size_t kInfoBufferSize = 257;
// A plug-in that answers every number would otherwise keep the host asking for ever; no real
// plug-in declares anywhere near this many formats.
constexpr int32_t kMaxFormatPairs = 1024;

// Frees what a plug-in left in the two handles (once, should both name the same block).
void FreeLeftBlocks(spi_hlocal_t info, spi_hlocal_t bits) {
  TPluginFault ignored;
  GuardedCall(
      [&] {
        if (info) platform::LocalFreeBlock(info);
        if (bits && bits != info) platform::LocalFreeBlock(bits);
      },
      ignored);
}

// The plug-in's two blocks, locked on first request and freed with the object.
class TLocalPicture : public TDecodedPicture {
 public:
  TLocalPicture(spi_hlocal_t info, spi_hlocal_t bits) : infoHandle_(info), bitsHandle_(bits) {}
  ~TLocalPicture() override {
    if (info_) platform::LocalUnlockBlock(infoHandle_);
    if (bits_) platform::LocalUnlockBlock(bitsHandle_);
    platform::LocalFreeBlock(infoHandle_);
    if (bitsHandle_) platform::LocalFreeBlock(bitsHandle_);
  }
  const void* Info() override {
    if (!info_) info_ = platform::LocalLockBlock(infoHandle_);
    return info_;
  }
  const void* Bits() override {
    if (!bits_) bits_ = platform::LocalLockBlock(bitsHandle_);
    return bits_;
  }
  platform::LocalHandle InfoHandle() const override { return infoHandle_; }
  platform::LocalHandle BitsHandle() const override { return bitsHandle_; }
  platform::LocalHandle TakeBits() override {
    if (!bitsHandle_ || bitsHandle_ == infoHandle_) return nullptr;
    if (bits_) platform::LocalUnlockBlock(bitsHandle_);
    bits_ = nullptr;
    platform::LocalHandle bits = bitsHandle_;
    bitsHandle_ = nullptr;
    return bits;
  }
  bool Check() {
    return Info() && Bits() &&
           CheckDecodedBlocks(info_, platform::LocalBlockSize(infoHandle_),
                              platform::LocalBlockSize(bitsHandle_), layout_);
  }

 private:
  spi_hlocal_t infoHandle_;
  spi_hlocal_t bitsHandle_;
  void* info_ = nullptr;
  void* bits_ = nullptr;
};

int32_t SPI_CALL RelayProgress(int32_t done, int32_t total, spi_len_t data) {
  const auto* progress = reinterpret_cast<const Progress*>(data);
  return progress && *progress ? (*progress)(done, total) : 0;
}

// The buf and len arguments of an attempt.
void Arguments(const Input& input, const char*& buf, spi_len_t& len) {
  if (input.Flag == SPI_INPUT_MEMORY) {
    buf = reinterpret_cast<const char*>(input.Memory) + (input.Memory ? input.Offset : 0);
    len = input.Size - input.Offset;
  } else {
    buf = input.FileName.c_str();
    len = input.Offset;
  }
}
}  // namespace

TInProcessRunner::TInProcessRunner() = default;
TInProcessRunner::~TInProcessRunner() = default;

TInProcessRunner::Module* TInProcessRunner::Find(ModuleId id) {
  auto it = modules_.find(id);
  return it == modules_.end() ? nullptr : it->second.get();
}

LoadResult TInProcessRunner::Load(const std::string& fileName, uint32_t required) {
  LoadResult r;
  auto module = std::make_unique<Module>();
  module->fileName = fileName;
  // From its start code on, the plug-in finds the libraries beside it by their bare names.
  const platform::LibraryFolderSearch search(fileName);
  module->library = platform::DynamicLibrary(fileName);
  if (!module->library) return r;
  r.FullName = module->library.FileName(255);
  for (int slot : kBindOrder) {
    module->procs[slot] = module->library.Proc(kEntryNames[slot]);
    if (module->procs[slot]) r.Bound |= 1u << slot;
  }
  r.Id = next_++;
  Module& m = *module;
  modules_[r.Id] = std::move(module);
  if ((required & kLoadOnly) || (r.Bound & required) != required) return r;
  r.Described = true;
  auto info = reinterpret_cast<SPI_GetPluginInfo>(m.procs[0]);
  auto ask = [&](int32_t n, std::string& text) {
    std::vector<char> buffer(kInfoBufferSize, '\0');
    if (info(n, buffer.data(), kInfoLength) <= 0) return false;
    buffer[kInfoLength] = '\0';
    text.assign(buffer.data(), std::strlen(buffer.data()));
    return true;
  };
  r.HasKind = ask(0, r.Kind);
  r.HasAbout = ask(1, r.About);
  for (int32_t n = 2; n < 2 + 2 * kMaxFormatPairs; n += 2) {
    std::string ext, desc;
    if (!ask(n, ext) || !ask(n + 1, desc)) break;
    r.Pairs.emplace_back(std::move(ext), std::move(desc));
  }
  return r;
}

void TInProcessRunner::Release(ModuleId id) { modules_.erase(id); }

void* TInProcessRunner::Proc(ModuleId id, const char* name) {
  Module* m = Find(id);
  return m ? m->library.Proc(name) : nullptr;
}

int32_t TInProcessRunner::IsSupported(ModuleId id, const std::string& name,
                                      const uint8_t (&header)[kHeaderBytes], int32_t offset, Fault& fault) {
  Module* m = Find(id);
  if (!m || !m->procs[1] || offset < 0 || offset >= kHeaderBytes) return 0;
  auto fn = reinterpret_cast<SPI_IsSupported>(m->procs[1]);
  const spi_dw_t dw = static_cast<spi_dw_t>(reinterpret_cast<uintptr_t>(header + offset));
  int32_t result = 0;
  TPluginFault pf;
  const platform::LibraryFolderSearch search(m->fileName);
  if (!GuardedCall([&] { result = fn(name.c_str(), dw); }, pf)) {
    fault = Fault{Fault::kException, pf.Code, "IsSupported"};
    return 0;
  }
  return result;
}

int32_t TInProcessRunner::GetPictureInfo(ModuleId id, const Input& input, PictureInfo& info, Fault& fault) {
  Module* m = Find(id);
  if (!m || !m->procs[2]) return SPI_NOT_IMPLEMENTED;
  auto fn = reinterpret_cast<SPI_GetPictureInfo>(m->procs[2]);
  const char* buf = nullptr;
  spi_len_t len = 0;
  Arguments(input, buf, len);
  int32_t result = SPI_NOT_IMPLEMENTED;
  TPluginFault pf;
  const platform::LibraryFolderSearch search(m->fileName);
  if (!GuardedCall([&] { result = fn(buf, len, input.Flag, &info.Record); }, pf)) {
    fault = Fault{Fault::kException, pf.Code, "GetPictureInfo"};
    return SPI_INTERNAL_ERROR;
  }
  return result;
}

int32_t TInProcessRunner::GetPicture(ModuleId id, bool preview, const Input& input, const Progress& progress,
                                     std::unique_ptr<TDecodedPicture>& picture, Fault& fault) {
  picture.reset();
  rejected_ = false;
  Module* m = Find(id);
  const int slot = preview ? 4 : 3;
  if (!m || !m->procs[slot]) return SPI_NOT_IMPLEMENTED;
  auto fn = reinterpret_cast<SPI_GetPicture>(m->procs[slot]);
  const char* buf = nullptr;
  spi_len_t len = 0;
  Arguments(input, buf, len);
  spi_hlocal_t info = nullptr;
  spi_hlocal_t bits = nullptr;
  int32_t result = SPI_INTERNAL_ERROR;
  TPluginFault pf;
  const spi_len_t data = reinterpret_cast<spi_len_t>(&progress);
  const platform::LibraryFolderSearch search(m->fileName);
  if (!GuardedCall([&] { result = fn(buf, len, input.Flag, &info, &bits, &RelayProgress, data); }, pf)) {
    // Whatever it handed over before the fault is freed.
    FreeLeftBlocks(info, bits);
    fault = Fault{Fault::kException, pf.Code, kEntryNames[slot]};
    return SPI_INTERNAL_ERROR;
  }
  // Blocks left set beside a failure, one block given as both, or one block missing: nothing
  // is kept and what was handed over is freed.
  if (result != SPI_SUCCESS || !info || !bits || info == bits) {
    rejected_ = result == SPI_SUCCESS || info || bits;
    FreeLeftBlocks(info, bits);
    return result;
  }
  auto local = std::make_unique<TLocalPicture>(info, bits);
  if (local->Check())
    picture = std::move(local);
  else
    rejected_ = true;
  return result;
}

}  // namespace spirun

namespace spirun {

namespace {

// A block a plug-in handed over, freed whatever happens to its reading.
class TPluginBlock {
 public:
  explicit TPluginBlock(spi_hlocal_t h) : h_(h) {}
  ~TPluginBlock() {
    if (data_) platform::LocalUnlockBlock(h_);
    if (h_) platform::LocalFreeBlock(h_);
  }
  TPluginBlock(const TPluginBlock&) = delete;
  TPluginBlock& operator=(const TPluginBlock&) = delete;
  // The block's bytes and its real size; null for a handle that is no block.
  const uint8_t* Lock(size_t& size) {
    size = platform::LocalBlockSize(h_);
    if (size) data_ = static_cast<const uint8_t*>(platform::LocalLockBlock(h_));
    if (!data_) size = 0;
    return data_;
  }

 private:
  spi_hlocal_t h_;
  const uint8_t* data_ = nullptr;
};

}  // namespace

int32_t TInProcessRunner::GetArchiveInfo(ModuleId id, const Input& input, std::vector<ArchiveEntry>& entries,
                                         bool& cut, Fault& fault) {
  entries.clear();
  cut = false;
  Module* m = Find(id);
  if (!m || !m->procs[5]) return SPI_NOT_IMPLEMENTED;
  auto fn = reinterpret_cast<SPI_GetArchiveInfo>(m->procs[5]);
  const char* buf = nullptr;
  spi_len_t len = 0;
  Arguments(input, buf, len);
  int32_t result = SPI_INTERNAL_ERROR;
  spi_hlocal_t records = nullptr;
  TPluginFault pf;
  const platform::LibraryFolderSearch search(m->fileName);
  // The block is read (and freed) under the guard too: a handle that is no block may fault.
  const bool ran = GuardedCall(
      [&] {
        result = fn(buf, len, input.Flag, &records);
        TPluginBlock block(records);
        if (result != SPI_SUCCESS || !records) return;
        size_t size = 0;
        const uint8_t* data = block.Lock(size);
        entries = ReadArchiveRecords(data, size, SPI_FILEINFO_WIDTH, cut);
        if (!data) result = SPI_MEMORY_ERROR;
      },
      pf);
  if (!ran) {
    entries.clear();
    fault = Fault{Fault::kException, pf.Code, "GetArchiveInfo"};
    return SPI_INTERNAL_ERROR;
  }
  if (result == SPI_SUCCESS && !records) result = SPI_MEMORY_ERROR;
  return result;
}

int32_t TInProcessRunner::GetFileInfo(ModuleId id, const Input& input, const std::string& name, uint32_t flag,
                                      ArchiveEntry& entry, Fault& fault) {
  Module* m = Find(id);
  if (!m || !m->procs[6]) return SPI_NOT_IMPLEMENTED;
  auto fn = reinterpret_cast<SPI_GetFileInfo>(m->procs[6]);
  const char* buf = nullptr;
  spi_len_t len = 0;
  Arguments(input, buf, len);
  // Room past the record, should the plug-in write a record of the other layout.
  alignas(8) uint8_t record[2 * SPI_FILEINFO_SIZE_OF(8)] = {};
  int32_t result = SPI_INTERNAL_ERROR;
  TPluginFault pf;
  const platform::LibraryFolderSearch search(m->fileName);
  if (!GuardedCall(
          [&] { result = fn(buf, len, name.c_str(), input.Flag | (flag & SPI_IGNORE_CASE), record); }, pf)) {
    fault = Fault{Fault::kException, pf.Code, "GetFileInfo"};
    return SPI_INTERNAL_ERROR;
  }
  if (result == SPI_SUCCESS && !ReadArchiveRecord(record, sizeof record, SPI_FILEINFO_WIDTH, entry))
    result = SPI_MEMORY_ERROR;
  return result;
}

int32_t TInProcessRunner::GetFile(ModuleId id, const Input& input, uint64_t position, uint64_t expected,
                                  uint64_t limit, const Progress& progress, std::vector<uint8_t>& bytes,
                                  Fault& fault) {
  bytes.clear();
  Module* m = Find(id);
  if (!m || !m->procs[7]) return SPI_NOT_IMPLEMENTED;
  auto fn = reinterpret_cast<SPI_GetFile>(m->procs[7]);
  // The entry's position goes where the offset of an attempt goes: len for a file, the start of
  // the data handed over for memory, counted from where the listing's data began (Offset, as
  // GetArchiveInfo was given it).
  const bool memory = input.Flag == SPI_INPUT_MEMORY;
  const uint64_t size = input.Size > 0 ? static_cast<uint64_t>(input.Size) : 0;
  const uint64_t start = memory && input.Offset > 0 ? static_cast<uint64_t>(input.Offset) : 0;
#if defined(_WIN32) && !defined(_WIN64)
  // A 32-bit record's position reaches 4 GiB: len carries its 32 bits, as the plug-ins read it.
  const uint64_t mostLen = UINT32_MAX;
#else
  const uint64_t mostLen = static_cast<uint64_t>(std::numeric_limits<spi_len_t>::max());
#endif
  if (position > (memory ? (size > start ? size - start : 0) : mostLen)) return SPI_BROKEN_DATA;
  const char* src = nullptr;
  spi_len_t len = 0;
  if (memory) {
    if (input.Memory) src = reinterpret_cast<const char*>(input.Memory) + start + position;
    len = static_cast<spi_len_t>(size - start - position);
  } else {
    src = input.FileName.c_str();
    len = static_cast<spi_len_t>(static_cast<std::make_unsigned<spi_len_t>::type>(position));
  }
  const uint32_t flag = (input.Flag & 7u) | (uint32_t{SPI_OUTPUT_MEMORY} << 8);
  spi_hlocal_t out = nullptr;
  int32_t result = SPI_INTERNAL_ERROR;
  TPluginFault pf;
  const spi_len_t data = reinterpret_cast<spi_len_t>(&progress);
  const platform::LibraryFolderSearch search(m->fileName);
  const bool ran = GuardedCall(
      [&] {
        result = fn(src, len, reinterpret_cast<char*>(&out), flag, &RelayProgress, data);
        TPluginBlock block(out);
        if (result != SPI_SUCCESS || !out) return;
        size_t size = 0;
        const uint8_t* p = block.Lock(size);
        // Up to the block's real size, and no further than the record said the entry is.
        uint64_t take = size;
        if (expected && expected < take) take = expected;
        if (!p)
          result = SPI_MEMORY_ERROR;
        else if (take > limit)
          result = SPI_NO_MEMORY;
        else
          bytes.assign(p, p + take);
      },
      pf);
  if (!ran) {
    bytes.clear();
    fault = Fault{Fault::kException, pf.Code, "GetFile"};
    return SPI_INTERNAL_ERROR;
  }
  if (result == SPI_SUCCESS && !out) result = SPI_MEMORY_ERROR;
  if (result != SPI_SUCCESS) bytes.clear();
  return result;
}

}  // namespace spirun
