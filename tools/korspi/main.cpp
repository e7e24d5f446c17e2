// korspi: the plug-in helper.  The viewer and korconv start it and send it every call into a
// Susie plug-in (protocol.h); it loads the plug-ins into its own process and runs the calls
// through the in-process runner, so whatever a plug-in does (crash, break its heap, overflow
// its stack, end the process, never return) ends at most this process.  It checks each
// picture before handing it over, copies it once into shared memory as a BMP file image and
// frees the plug-in's blocks itself.  A fault it catches is reported and ends it: nothing of
// a plug-in that stopped half-way is trusted for another call.
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/dynlib.h"
#include "platform/localmem.h"
#include "platform/process.h"
#include "platform/shmem.h"
#include "plugins/protocol.h"
#include "plugins/runner.h"

namespace {

using spiproto::Reader;
using spiproto::Writer;

class Helper {
 public:
  Helper() : parent_{channel_.ParentId(), nullptr} {}
  int Run();

 private:
  bool Send(Writer& w) { return channel_.Write(w.Done().data(), w.Done().size()); }
  [[noreturn]] void Fault(const spirun::Fault& fault);
  spirun::ModuleId ModuleFor(const std::string& path);
  bool ReadInput(Reader& r, spirun::Input& input);
  void Load(Reader& r);
  void AddRef(Reader& r);
  void Release(Reader& r);
  void IsSupported(Reader& r);
  void PictureInfo(Reader& r);
  void Picture(Reader& r);
  int32_t ProgressCall(int32_t done, int32_t total);

  platform::ParentChannel channel_;
  platform::PeerProcess parent_;
  spirun::TInProcessRunner runner_;
  platform::SharedMemory control_;
  std::map<std::string, std::vector<spirun::ModuleId>> loads_;  // references of Load
  std::map<std::string, spirun::ModuleId> reloaded_;            // loaded for a call
  platform::SharedMemory data_;
  uint64_t dataId_ = 0;
  platform::SharedMemory image_;  // the last picture, kept until the next request
};

void Helper::Fault(const spirun::Fault& fault) {
  Writer w(spiproto::kFault);
  w.Str(fault.Entry).U32(fault.Code);
  Send(w);
  platform::EndProcessNow(3);
}

spirun::ModuleId Helper::ModuleFor(const std::string& path) {
  auto it = loads_.find(path);
  if (it != loads_.end() && !it->second.empty()) return it->second.back();
  auto re = reloaded_.find(path);
  if (re != reloaded_.end()) return re->second;
  const spirun::ModuleId id = runner_.Load(path, spirun::kLoadOnly).Id;
  if (id) reloaded_[path] = id;
  return id;
}

bool Helper::ReadInput(Reader& r, spirun::Input& input) {
  input.Flag = r.U32();
  input.FileName = r.Str();
  input.Offset = r.I32();
  const uint64_t id = r.U64();
  const uint64_t token = r.U64();
  const uint64_t mapped = r.U64();
  const int32_t size = r.I32();
  if (!r.Ok()) return false;
  if (input.Flag != SPI_INPUT_MEMORY) return true;
  if (id != dataId_ || !data_) {
    data_ = platform::SharedMemory::Open(parent_, token, static_cast<size_t>(mapped));
    dataId_ = data_ ? id : 0;
  }
  if (!data_ || size < 0 || static_cast<uint64_t>(size) > data_.Size()) return false;
  input.Memory = data_.Data();
  input.Size = size;
  return true;
}

void Helper::Load(Reader& r) {
  const std::string path = r.Str();
  const uint32_t required = r.U32();
  spirun::LoadResult loaded = runner_.Load(path, required & ~spirun::kLoadOnly);
  if (loaded.Id) loads_[path].push_back(loaded.Id);
  Writer w(spiproto::kLoaded);
  w.U32(loaded.Id ? 1 : 0).U32(loaded.Bound).Str(loaded.FullName).U32(loaded.Described ? 1 : 0);
  w.U32(loaded.HasKind ? 1 : 0).Str(loaded.Kind).U32(loaded.HasAbout ? 1 : 0).Str(loaded.About);
  w.U32(static_cast<uint32_t>(loaded.Pairs.size()));
  for (const auto& pair : loaded.Pairs) w.Str(pair.first).Str(pair.second);
  Send(w);
}

void Helper::AddRef(Reader& r) {
  const std::string path = r.Str();
  const spirun::ModuleId id = runner_.Load(path, spirun::kLoadOnly).Id;
  if (id) loads_[path].push_back(id);
}

void Helper::Release(Reader& r) {
  auto it = loads_.find(r.Str());
  if (it == loads_.end() || it->second.empty()) return;
  runner_.Release(it->second.back());
  it->second.pop_back();
}

void Helper::IsSupported(Reader& r) {
  const std::string path = r.Str();
  const std::string name = r.Str();
  const int32_t offset = r.I32();
  const uint8_t* bytes = r.Bytes(spirun::kHeaderBytes);
  int32_t result = 0;
  if (r.Ok() && bytes) {
    static uint8_t header[spirun::kHeaderBytes];
    std::memcpy(header, bytes, sizeof header);
    spirun::Fault fault;
    result = runner_.IsSupported(ModuleFor(path), name, header, offset, fault);
    if (fault) Fault(fault);
  }
  Writer w(spiproto::kResult);
  w.I32(result);
  Send(w);
}

void Helper::PictureInfo(Reader& r) {
  const std::string path = r.Str();
  spirun::Input input;
  spirun::PictureInfo info;
  int32_t result = SPI_MEMORY_ERROR;
  if (ReadInput(r, input)) {
    spirun::Fault fault;
    result = runner_.GetPictureInfo(ModuleFor(path), input, info, fault);
    if (fault) Fault(fault);
    // The text handle is the helper's to free; the program never sees it.
    if (info.Record.hInfo) platform::LocalFreeBlock(info.Record.hInfo);
  }
  const SPI_PICTINFO& p = info.Record;
  Writer w(spiproto::kInfo);
  w.I32(result)
      .I32(p.left)
      .I32(p.top)
      .I32(p.width)
      .I32(p.height)
      .U32(p.x_density)
      .U32(p.y_density)
      .I32(p.colorDepth);
  Send(w);
}

int32_t Helper::ProgressCall(int32_t done, int32_t total) {
  auto* control = reinterpret_cast<spiproto::Control*>(control_.Data());
  if (!control) return 0;
  control->Done = done;
  control->Total = total;
  __atomic_add_fetch(&control->Calls, 1u, __ATOMIC_RELEASE);
  return __atomic_load_n(&control->Abort, __ATOMIC_ACQUIRE) ? 1 : 0;
}

void Helper::Picture(Reader& r) {
  const std::string path = r.Str();
  const bool preview = r.U32() != 0;
  spirun::Input input;
  int32_t result = SPI_MEMORY_ERROR;
  std::unique_ptr<TDecodedPicture> picture;
  if (ReadInput(r, input)) {
    spirun::Fault fault;
    result = runner_.GetPicture(
        ModuleFor(path), preview, input,
        [this](int32_t done, int32_t total) { return ProgressCall(done, total); }, picture, fault);
    if (fault) Fault(fault);
  }
  Writer w(spiproto::kPictureDone);
  const uint32_t rejected = runner_.Rejected() ? 1 : 0;
  if (result != SPI_SUCCESS || !picture) {
    w.I32(result).U32(0).U64(0).U64(0).U32(0).U32(0).U32(rejected);
    Send(w);
    return;
  }
  // One copy: the plug-in's blocks into the BMP file image the program reads in place.  Every
  // picture gets a block of its own: the program's bitmap may keep it as long as it lives.
  const TDecodedLayout layout = picture->Layout();
  const uint64_t infoBytes = static_cast<uint64_t>(layout.InfoSize);
  const uint64_t bitsBytes = static_cast<uint64_t>(layout.BitsSize);
  const uint64_t bytes = spiproto::kImageOffset + 14 + infoBytes + bitsBytes;
  image_ = platform::SharedMemory::Create(static_cast<size_t>(bytes));
  if (!image_) {
    w.I32(SPI_NO_MEMORY).U32(0).U64(0).U64(0).U32(0).U32(0).U32(0);
    Send(w);
    return;
  }
  WriteFileImage(layout, picture->Info(), picture->Bits(), image_.Data() + spiproto::kImageOffset);
  picture.reset();
  w.I32(result).U32(1).U64(image_.Lend(platform::PeerProcess{})).U64(bytes);
  w.U32(static_cast<uint32_t>(infoBytes)).U32(static_cast<uint32_t>(bitsBytes)).U32(0);
  Send(w);
}

int Helper::Run() {
  for (;;) {
    uint8_t head[spiproto::kHeaderBytes];
    if (!channel_.Read(head, sizeof head)) return 0;
    uint32_t type = 0, length = 0;
    if (!spiproto::ParseHeader(head, type, length)) return 2;
    std::vector<uint8_t> payload(length);
    if (length && !channel_.Read(payload.data(), length)) return 0;
    // The program has taken the last picture over by now.
    image_.Reset();
    Reader r(payload.data(), payload.size());
    switch (type) {
      case spiproto::kHello:
        control_ = platform::SharedMemory::Open(parent_, r.U64(), spiproto::kControlBytes);
        if (control_)
          __atomic_store_n(&reinterpret_cast<spiproto::Control*>(control_.Data())->Ready, 1u,
                           __ATOMIC_RELEASE);
        break;
      case spiproto::kLoad:
        Load(r);
        break;
      case spiproto::kAddRef:
        AddRef(r);
        break;
      case spiproto::kRelease:
        Release(r);
        break;
      case spiproto::kIsSupported:
        IsSupported(r);
        break;
      case spiproto::kPictureInfo:
        PictureInfo(r);
        break;
      case spiproto::kPicture:
        Picture(r);
        break;
      default:
        return 2;
    }
  }
}

}  // namespace

int main() {
  platform::RestrictLibrarySearch();
  platform::QuietFaultEnd();
  Helper helper;
  return helper.Run();
}
