// The helper runner: the call lock, a call and its answer, and the calls about pictures.  The
// channel to the helper is in helper_channel.cpp, the modules in helper_modules.cpp.
#include "runner/helper_runner.h"

#include <cstdlib>
#include <cstring>
#include <type_traits>

#include "platform/files.h"
#include "runner/bitness_runner.h"
#include "runner/picture_block.h"
#include "rtl/format.h"
#include "rtl/messages.h"
#include "rtl/text.h"

namespace spirun {

namespace {

WaitHook& Hook() {
  static WaitHook hook;
  return hook;
}

thread_local const WaitHook* t_threadHook = nullptr;
thread_local uint64_t t_pictureLimit = spiproto::kMaxBlockBytes;

// The hook this thread's calls wait with: its own, or the program's.
const WaitHook& ThreadHook() { return t_threadHook ? *t_threadHook : Hook(); }

// A picture that came back in a block of its own (the helper makes a new one for every
// picture).  Its header and colours were copied out once when it was taken; only its rows are
// read from the block afterwards, and a bitmap may keep them there for as long as it lives.
class TSharedPicture : public TDecodedPicture {
 public:
  // `returned` hears of the block once it is unmapped here.
  TSharedPicture(platform::SharedMemory memory, std::function<void()> returned, std::vector<uint8_t> info,
                 const spiproto::TPictureBlock& block, const TDecodedLayout& layout)
      : memory_(new platform::SharedMemory(std::move(memory)),
                [returned = std::move(returned)](platform::SharedMemory* m) {
                  delete m;
                  if (returned) returned();
                }),
        info_(std::move(info)),
        bitsAt_(static_cast<size_t>(block.BitsAt())) {
    layout_ = layout;
  }
  const void* Info() override { return info_.data(); }
  const void* Bits() override { return memory_->Data() + bitsAt_; }
  std::shared_ptr<const uint8_t> SharedBits() const override {
    return std::shared_ptr<const uint8_t>(memory_, memory_->Data() + bitsAt_);
  }

 private:
  std::shared_ptr<platform::SharedMemory> memory_;
  std::vector<uint8_t> info_;
  size_t bitsAt_;
};

}  // namespace

void THelperRunner::TReturnedBlocks::Add(uint64_t generation, uint32_t id) {
  std::lock_guard<std::mutex> hold(lock_);
  blocks_.emplace_back(generation, id);
}

std::vector<uint32_t> THelperRunner::TReturnedBlocks::Take(uint64_t generation) {
  std::lock_guard<std::mutex> hold(lock_);
  std::vector<uint32_t> ids;
  std::vector<std::pair<uint64_t, uint32_t>> later;
  for (const auto& b : blocks_) {
    if (b.first != generation) continue;
    if (ids.size() < spiproto::kMaxReturned)
      ids.push_back(b.second);
    else
      later.push_back(b);
  }
  blocks_.swap(later);
  return ids;
}

namespace {

std::unique_ptr<Runner>& CurrentSlot() {
  static std::unique_ptr<Runner> runner;
  return runner;
}
}  // namespace

void SetWaitHook(WaitHook hook) { Hook() = std::move(hook); }

TThreadWaitHook::TThreadWaitHook(WaitHook hook) : hook_(std::move(hook)), previous_(t_threadHook) {
  t_threadHook = &hook_;
}

TThreadWaitHook::~TThreadWaitHook() { t_threadHook = previous_; }

TThreadPictureLimit::TThreadPictureLimit(uint64_t bytes) : previous_(t_pictureLimit) {
  t_pictureLimit = bytes;
}

TThreadPictureLimit::~TThreadPictureLimit() { t_pictureLimit = previous_; }

void SetCurrent(std::unique_ptr<Runner> runner) { CurrentSlot() = std::move(runner); }

Runner& Current() {
  std::unique_ptr<Runner>& slot = CurrentSlot();
  if (!slot) slot = TBitnessRunner::Default();
  return *slot;
}

THelperRunner::Call::Call(THelperRunner& runner) : runner_(runner) {
  if (runner_.caller_.load() == std::this_thread::get_id()) return;
  runner_.callLock_.lock();
  runner_.caller_.store(std::this_thread::get_id());
  held_ = true;
}

THelperRunner::Call::~Call() {
  if (!held_) return;
  // Releases asked for by this thread while its call ran go now, before another call.
  std::vector<ModuleId> deferred;
  deferred.swap(runner_.deferredReleases_);
  for (ModuleId id : deferred) runner_.ReleaseHeld(id);
  runner_.caller_.store(std::thread::id());
  runner_.callLock_.unlock();
}

THelperRunner::THelperRunner(std::string helperPath) : channel_(std::move(helperPath)) {
  channel_.SetTimeoutMs(DefaultTimeoutMs());
}

THelperRunner::~THelperRunner() { channel_.Stop(); }

std::string THelperRunner::HelperPath(TBitness bitness) {
#if defined(_WIN32)
  const char* name = bitness == TBitness::k64 ? "korspi64.exe" : "korspi32.exe";
#else
  const char* name = bitness == OwnBitness() ? "korspi" : "korspi32";
#endif
  return text::ExtractFilePath(platform::ExeFileName()) + name;
}

std::string THelperRunner::Unrunnable(const std::string&) {
  Call call(*this);
  // A helper that runs (loads may be on their way to it) or starts takes the plug-in; one that
  // started but failed later on is a fault of the call that meets it, not of the helper.  A
  // helper that could not be started is not tried again for every plug-in of a folder.
  if (call.Refused() || channel_.Up()) return std::string();
  if (!channel_.StartFailed()) channel_.Ensure();
  if (!channel_.StartFailed()) return std::string();
  return Format(msg::kHelperCannotStart, {text::ExtractFileName(channel_.HelperPath())});
}

ModuleId THelperRunner::Adopt(const std::string& fileName) {
  Call call(*this);
  if (call.Refused()) return 0;
  for (const auto& m : modules_)
    if (m.second.generation == 0 && m.second.path == fileName) return m.first;
  const ModuleId id = next_++;
  modules_[id] = ModuleRef{fileName, 0};
  return id;
}

int THelperRunner::DefaultTimeoutMs() {
  const char* v = std::getenv("KORVALE_PLUGIN_TIMEOUT_MS");
  if (v && *v) {
    const long ms = std::strtol(v, nullptr, 10);
    if (ms > 0 && ms < 24L * 3600 * 1000) return static_cast<int>(ms);
  }
  return 30000;
}

std::string THelperRunner::TakeMissingHelper() {
  Call call(*this);
  if (call.Refused() || !channel_.StartFailed() || missingTaken_) return std::string();
  missingTaken_ = true;
  return channel_.HelperPath();
}

void THelperRunner::ForgetHelper() {
  known_.clear();
  expected_.clear();
  owed_.clear();
}

bool THelperRunner::TakeOwed() {
  while (channel_.Owes()) {
    spiproto::Frame frame;
    Fault fault;
    if (!channel_.TakeOwed(&ThreadHook(), frame, fault)) {
      // Given up again: the answer stays owed.  Lost: a fresh helper takes the next call.
      if (fault.What == Fault::kAbandoned && channel_.Owes()) return false;
      break;
    }
    // A picture nobody waits for any more: its block goes straight back.
    spiproto::PictureDone done;
    if (spiproto::Decode(frame, done) && done.BlockId) returned_->Add(channel_.Generation(), done.BlockId);
  }
  return true;
}

int32_t THelperRunner::Unready(const char* entry, Fault& fault) const {
  if (!owing_) return SPI_NOT_IMPLEMENTED;
  fault = Fault{Fault::kAbandoned, 0, entry};
  return SPI_INTERNAL_ERROR;
}

bool THelperRunner::Ready() {
  owing_ = !TakeOwed();
  if (owing_) return false;
  // The answers to loads sent ahead come first; should one of them end the helper, this call
  // goes to a fresh one.
  DropExpected();
  if (!channel_.Ensure()) return false;
  if (known_generation_ != channel_.Generation()) {
    ForgetHelper();
    known_generation_ = channel_.Generation();
  }
  PayOwed();
  return channel_.Up();
}

template <typename Q, typename A>
bool THelperRunner::Ask(const Q& request, const char* entry, const Progress* progress, A& answer,
                        Fault& fault) {
  if (!Ready()) {
    fault = Fault{owing_ ? Fault::kAbandoned : Fault::kExited, 0, entry};
    return false;
  }
  uint32_t seq = 0;
  if (!channel_.Send(request, seq, entry, fault)) return false;
  // Loading runs while the program starts, before its window can take messages; every call
  // about a file waits with the thread's hook.
  const WaitHook* hook = std::is_same<Q, spiproto::Load>::value ? nullptr : &ThreadHook();
  return channel_.Await(seq, true, entry, progress, hook, answer, fault);
}

// The loads of helper_modules.cpp.
template bool THelperRunner::Ask(const spiproto::Load&, const char*, const Progress*, spiproto::Loaded&,
                                 Fault&);

int32_t THelperRunner::IsSupported(ModuleId id, const std::string& name,
                                   const uint8_t (&header)[kHeaderBytes], int32_t offset, Fault& fault) {
  Call call(*this);
  const std::string* path = PathOf(id);
  if (call.Refused() || !path) return 0;
  spiproto::IsSupported request;
  request.Path = *path;
  request.Name = name;
  request.Offset = offset;
  request.Header.assign(reinterpret_cast<const char*>(header), kHeaderBytes);
  spiproto::Result answer;
  if (!Ask(request, "IsSupported", nullptr, answer, fault)) return 0;
  return answer.Value;
}

bool THelperRunner::InputFields(const Input& input, spiproto::InputFields& fields) {
  fields.Flag = input.Flag;
  fields.FileName = input.FileName;
  fields.Offset = input.Offset;
  fields.Size = input.Size;
  if (input.Flag != SPI_INPUT_MEMORY) return true;
  if (!data_ || input.Memory != dataSource_ || input.Size != dataSize_) {
    data_ = platform::SharedMemory::Create(static_cast<size_t>(input.Size > 0 ? input.Size : 1));
    if (data_ && input.Memory && input.Size > 0)
      std::memcpy(data_.Data(), input.Memory, static_cast<size_t>(input.Size));
    dataSource_ = input.Memory;
    dataSize_ = input.Size;
    ++dataId_;
    dataLentTo_ = 0;
  }
  if (!data_) return false;
  if (dataLentTo_ != channel_.Generation()) {
    dataToken_ = data_.Lend(channel_.Peer());
    dataLentTo_ = channel_.Generation();
  }
  fields.DataId = dataId_;
  fields.Token = dataToken_;
  fields.Mapped = data_.Size();
  return true;
}

int32_t THelperRunner::GetPictureInfo(ModuleId id, const Input& input, PictureInfo& info, Fault& fault) {
  Call call(*this);
  const std::string* path = PathOf(id);
  if (call.Refused() || !path) return SPI_NOT_IMPLEMENTED;
  // The data is lent to the helper that is to answer.
  if (!Ready()) return Unready("GetPictureInfo", fault);
  spiproto::PictureInfoRequest request;
  request.Path = *path;
  if (!InputFields(input, request.Input)) return SPI_NO_MEMORY;
  spiproto::Info answer;
  lastInfo_.Valid = false;
  if (!Ask(request, "GetPictureInfo", nullptr, answer, fault)) return SPI_INTERNAL_ERROR;
  if (answer.Value == SPI_SUCCESS)
    lastInfo_ = {true, request.Path, request.Input, answer.Width, answer.Height, answer.Depth};
  info.Record.left = answer.Left;
  info.Record.top = answer.Top;
  info.Record.width = answer.Width;
  info.Record.height = answer.Height;
  info.Record.x_density = static_cast<uint16_t>(answer.XDensity);
  info.Record.y_density = static_cast<uint16_t>(answer.YDensity);
  info.Record.colorDepth = static_cast<int16_t>(answer.Depth);
  info.Record.hInfo = nullptr;  // the helper freed the plug-in's text itself
  return answer.Value;
}

namespace {

// The same picture: the plug-in, the file or data, and where in it the picture starts.
bool SamePicture(const std::string& path, const spiproto::InputFields& a, const std::string& otherPath,
                 const spiproto::InputFields& b) {
  return path == otherPath && a.Flag == b.Flag && a.FileName == b.FileName && a.Offset == b.Offset &&
         a.DataId == b.DataId && a.Size == b.Size;
}

}  // namespace

uint64_t THelperRunner::ExpectedBlock(const spiproto::PictureRequest& request) const {
  if (!lastInfo_.Valid || !SamePicture(request.Path, request.Input, lastInfo_.Path, lastInfo_.Input))
    return 0;
  // The block of a picture with a 40-byte header of that size, and room for the masks a 16- or
  // 32-bit picture may bring.  Only a picture allowed at all is announced; one that comes out
  // other than its information said goes into a block made after the decoding, as before.
  platform::BitmapInfoHeader header{};
  header.biSize = sizeof header;
  header.biWidth = lastInfo_.Width;
  header.biHeight = lastInfo_.Height;
  header.biPlanes = 1;
  header.biBitCount = static_cast<uint16_t>(lastInfo_.Depth);
  TDecodedLayout layout;
  if (lastInfo_.Depth <= 0 || lastInfo_.Depth > 32 || !ComputeLayout(header, layout)) return 0;
  const uint64_t bytes = spiproto::TPictureBlock::For(layout).MappedBytes + 12;
  return bytes <= t_pictureLimit ? bytes : 0;
}

int32_t THelperRunner::GetPicture(ModuleId id, bool preview, const Input& input, const Progress& progress,
                                  std::unique_ptr<TDecodedPicture>& picture, Fault& fault) {
  picture.reset();
  const char* entry = preview ? "GetPreview" : "GetPicture";
  Call call(*this);
  if (call.Refused()) {
    fault = Fault{Fault::kAbandoned, 0, entry};
    return SPI_INTERNAL_ERROR;
  }
  const std::string* path = PathOf(id);
  if (!path) return SPI_NOT_IMPLEMENTED;
  if (!Ready()) return Unready(entry, fault);
  spiproto::PictureRequest request;
  request.Path = *path;
  request.Preview = preview;
  if (!InputFields(input, request.Input)) return SPI_NO_MEMORY;
  // A helper's first picture has no block handed back to go into: the size the plug-in just
  // gave for it tells the helper which block to make ready while the plug-in decodes.
  if (pictured_generation_ != channel_.Generation()) {
    pictured_generation_ = channel_.Generation();
    request.ExpectedBytes = ExpectedBlock(request);
  }
  lastInfo_.Valid = false;
  request.Returned = returned_->Take(channel_.Generation());
  spiproto::PictureDone done;
  const Progress relay = progress ? progress : Progress([](int32_t, int32_t) { return 0; });
  if (!Ask(request, entry, &relay, done, fault)) return SPI_INTERNAL_ERROR;
  // A plug-in that answered with blocks failing the checks may have broken the helper's heap on
  // the way: the attempt counts as "cannot", and the next call starts a fresh helper.  So does
  // an answer of the helper's own that fails the checks below.
  if (done.Rejected) {
    channel_.Stop();
    return done.Value;
  }
  if (!done.Has || done.Value != SPI_SUCCESS) return done.Value;
  // Over this thread's limit, the block is never mapped and goes back to the helper at once.
  if (done.Block.Valid(spiproto::kMaxBlockBytes) && done.Block.MappedBytes > t_pictureLimit) {
    if (done.BlockId) returned_->Add(channel_.Generation(), done.BlockId);
    return SPI_NO_MEMORY;
  }
  if (!TakePicture(done, picture)) channel_.Broken(fault, entry);
  return picture ? done.Value : SPI_INTERNAL_ERROR;
}

bool THelperRunner::TakePicture(const spiproto::PictureDone& done,
                                std::unique_ptr<TDecodedPicture>& picture) {
  // The helper checked the picture; the program checks the block's description again before it
  // maps anything, and the header it copies out of it after.
  if (!done.Block.Valid(t_pictureLimit)) return false;
  platform::SharedMemory image =
      platform::SharedMemory::Open(channel_.Peer(), done.Token, static_cast<size_t>(done.Block.MappedBytes));
  if (!image) return false;
  std::vector<uint8_t> info;
  TDecodedLayout layout;
  if (!spiproto::TakeInfo(done.Block, t_pictureLimit, image.Data(), image.Size(), info, layout)) return false;
  std::function<void()> returned;
  if (done.BlockId)
    returned = [blocks = returned_, generation = channel_.Generation(), id = done.BlockId] {
      blocks->Add(generation, id);
    };
  picture = std::make_unique<TSharedPicture>(std::move(image), std::move(returned), std::move(info),
                                             done.Block, layout);
  return true;
}

int32_t THelperRunner::GetArchiveInfo(ModuleId id, const Input& input, std::vector<ArchiveEntry>& entries,
                                      bool& cut, Fault& fault) {
  entries.clear();
  cut = false;
  Call call(*this);
  const std::string* path = PathOf(id);
  if (call.Refused() || !path) return SPI_NOT_IMPLEMENTED;
  if (!Ready()) return Unready("GetArchiveInfo", fault);
  spiproto::ArchiveRequest request;
  request.Path = *path;
  if (!InputFields(input, request.Input)) return SPI_NO_MEMORY;
  spiproto::ArchiveDone done;
  // The plug-in gives no sign of life while it lists: the call has the hard limit.
  if (!Ask(request, "GetArchiveInfo", nullptr, done, fault)) return SPI_INTERNAL_ERROR;
  if (done.Value != SPI_SUCCESS) return done.Value;
  if (done.Count == 0 && done.Bytes == 0) {
    cut = done.Cut;
    return done.Value;
  }
  // The listing is copied out of the helper's block once, then read: the helper cannot change
  // it under the reading.
  std::string listing;
  if (done.Count <= kMaxArchiveEntries && done.Bytes > 0 && done.Bytes <= spiproto::kMaxListingBytes) {
    const platform::SharedMemory block =
        platform::SharedMemory::Open(channel_.Peer(), done.Token, static_cast<size_t>(done.Bytes));
    if (block && block.Size() >= done.Bytes)
      listing.assign(reinterpret_cast<const char*>(block.Data()), static_cast<size_t>(done.Bytes));
  }
  if (listing.empty() || !spiproto::DecodeListing(reinterpret_cast<const uint8_t*>(listing.data()),
                                                  listing.size(), done.Count, entries)) {
    entries.clear();
    channel_.Broken(fault, "GetArchiveInfo");
    return SPI_INTERNAL_ERROR;
  }
  cut = done.Cut;
  return done.Value;
}

int32_t THelperRunner::GetFileInfo(ModuleId id, const Input& input, const std::string& name, uint32_t flag,
                                   ArchiveEntry& entry, Fault& fault) {
  Call call(*this);
  const std::string* path = PathOf(id);
  if (call.Refused() || !path) return SPI_NOT_IMPLEMENTED;
  if (!Ready()) return Unready("GetFileInfo", fault);
  spiproto::FileInfoRequest request;
  request.Path = *path;
  request.Name = name;
  request.Flag = flag;
  if (!InputFields(input, request.Input)) return SPI_NO_MEMORY;
  spiproto::FileInfoDone done;
  if (!Ask(request, "GetFileInfo", nullptr, done, fault)) return SPI_INTERNAL_ERROR;
  if (done.Value == SPI_SUCCESS) entry = done.Entry;
  return done.Value;
}

int32_t THelperRunner::GetFile(ModuleId id, const Input& input, uint64_t position, uint64_t expected,
                               uint64_t limit, const Progress& progress, std::vector<uint8_t>& bytes,
                               Fault& fault) {
  bytes.clear();
  Call call(*this);
  if (call.Refused()) {
    fault = Fault{Fault::kAbandoned, 0, "GetFile"};
    return SPI_INTERNAL_ERROR;
  }
  const std::string* path = PathOf(id);
  if (!path) return SPI_NOT_IMPLEMENTED;
  if (!Ready()) return Unready("GetFile", fault);
  if (limit > spiproto::kMaxBlockBytes) limit = spiproto::kMaxBlockBytes;
  spiproto::FileRequest request;
  request.Path = *path;
  request.Position = position;
  request.Expected = expected;
  request.Limit = limit;
  if (!InputFields(input, request.Input)) return SPI_NO_MEMORY;
  spiproto::FileDone done;
  const Progress relay = progress ? progress : Progress([](int32_t, int32_t) { return 0; });
  if (!Ask(request, "GetFile", &relay, done, fault)) return SPI_INTERNAL_ERROR;
  if (done.Value != SPI_SUCCESS || !done.Has)
    return done.Value == SPI_SUCCESS ? SPI_MEMORY_ERROR : done.Value;
  // More than asked for, or more than the record said, is no answer to this request.
  bool taken = done.Bytes <= limit && (!expected || done.Bytes <= expected);
  if (taken && done.Bytes > 0) {
    const platform::SharedMemory block =
        platform::SharedMemory::Open(channel_.Peer(), done.Token, static_cast<size_t>(done.Bytes));
    taken = block && block.Size() >= done.Bytes;
    if (taken) bytes.assign(block.Data(), block.Data() + done.Bytes);
  }
  if (!taken) {
    channel_.Broken(fault, "GetFile");
    return SPI_INTERNAL_ERROR;
  }
  return done.Value;
}

}  // namespace spirun
