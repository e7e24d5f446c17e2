#include "runner/runner.h"

#include <cstring>

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
