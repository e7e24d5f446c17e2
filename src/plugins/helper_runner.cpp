// The helper runner: starting and ending the helper, a call and its wait, and the calls about
// pictures.  Its modules are in helper_modules.cpp.
#include "plugins/helper_runner.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "platform/files.h"
#include "plugins/protocol.h"
#include "rtl/text.h"

namespace spirun {

namespace {
constexpr int kSliceMs = 50;
// The longest a helper may take to start before it counts as hung, unless the time limit is longer.
constexpr int64_t kStartLimitMs = 60000;

WaitHook& Hook() {
  static WaitHook hook;
  return hook;
}

thread_local const WaitHook* t_threadHook = nullptr;

// The hook this thread's calls wait with: its own, or the program's.
const WaitHook& ThreadHook() { return t_threadHook ? *t_threadHook : Hook(); }

// The block a finished picture came back in: the BMP file image, read in place.  The block is
// this picture's alone (the helper makes a new one for every picture), so a bitmap may keep
// its rows there for as long as it lives.
class TSharedPicture : public TDecodedPicture {
 public:
  TSharedPicture(platform::SharedMemory memory, const TDecodedLayout& layout)
      : memory_(std::make_shared<platform::SharedMemory>(std::move(memory))) {
    layout_ = layout;
  }
  const void* Info() override { return Image() + 14; }
  const void* Bits() override { return Image() + 14 + layout_.InfoSize; }
  std::shared_ptr<const uint8_t> FileImage(size_t& bytes) const override {
    bytes = 14 + static_cast<size_t>(layout_.InfoSize) + static_cast<size_t>(layout_.BitsSize);
    return std::shared_ptr<const uint8_t>(memory_, Image());
  }

 private:
  const uint8_t* Image() const { return memory_->Data() + spiproto::kImageOffset; }
  std::shared_ptr<platform::SharedMemory> memory_;
};

uint32_t Load32(const uint32_t* p) { return __atomic_load_n(p, __ATOMIC_ACQUIRE); }

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

void SetCurrent(std::unique_ptr<Runner> runner) { CurrentSlot() = std::move(runner); }

Runner& Current() {
  std::unique_ptr<Runner>& slot = CurrentSlot();
  if (!slot) slot = std::make_unique<THelperRunner>(THelperRunner::DefaultHelperPath());
  return *slot;
}

THelperRunner::THelperRunner(std::string helperPath)
    : helperPath_(std::move(helperPath)), timeoutMs_(DefaultTimeoutMs()) {}

THelperRunner::~THelperRunner() { Stop(); }

std::string THelperRunner::DefaultHelperPath() {
#if defined(_WIN32)
  const char* name = "korspi.exe";
#else
  const char* name = "korspi";
#endif
  return text::ExtractFilePath(platform::ExeFileName()) + name;
}

int THelperRunner::DefaultTimeoutMs() {
  const char* v = std::getenv("KORVALE_PLUGIN_TIMEOUT_MS");
  if (v && *v) {
    const long ms = std::strtol(v, nullptr, 10);
    if (ms > 0 && ms < 24L * 3600 * 1000) return static_cast<int>(ms);
  }
  return 30000;
}

bool THelperRunner::Ensure() {
  if (child_ && child_->Running()) return true;
  Stop();
  auto child = std::make_unique<platform::ChildProcess>();
  if (!child->Start(helperPath_)) return false;
  platform::SharedMemory control = platform::SharedMemory::Create(spiproto::kControlBytes);
  if (!control) return false;
  const platform::PeerProcess peer{child->Id(), child->NativeHandle()};
  spiproto::Writer hello(spiproto::kHello);
  hello.U64(control.Lend(peer));
  if (!child->Write(hello.Done().data(), hello.Done().size())) return false;
  child_ = std::move(child);
  control_ = std::move(control);
  startedAt_ = platform::MonotonicMs();
  ++generation_;
  ++starts_;
  pending_.clear();
  known_.clear();
  expected_.clear();
  owed_.clear();
  return true;
}

void THelperRunner::Stop() {
  if (child_) child_->Finish();
  child_.reset();
  control_.Reset();
  pending_.clear();
  known_.clear();
  expected_.clear();
  owed_.clear();
}

void THelperRunner::Lost(Fault& fault, Fault::Kind kind, uint32_t code, const char* entry) {
  fault.What = kind;
  fault.Code = code;
  fault.Entry = entry;
  Stop();
}

void THelperRunner::RelayProgress(const Progress* progress, uint32_t& seen) {
  auto* control = reinterpret_cast<spiproto::Control*>(control_.Data());
  const uint32_t calls = Load32(&control->Calls);
  if (calls == seen) return;
  seen = calls;
  if (progress && *progress && (*progress)(control->Done, control->Total) != 0)
    __atomic_store_n(&control->Abort, 1u, __ATOMIC_RELEASE);
}

bool THelperRunner::Call(const std::string& request, uint32_t expected, const char* entry,
                         const Progress* progress, std::string& answer, Fault& fault) {
  // The answers to loads sent ahead come first; should one of them end the helper, this call
  // goes to a fresh one.
  DropExpected();
  if (!Ensure()) {
    fault = Fault{Fault::kExited, 0, entry};
    return false;
  }
  PayOwed();
  auto* control = reinterpret_cast<spiproto::Control*>(control_.Data());
  __atomic_store_n(&control->Abort, 0u, __ATOMIC_RELEASE);
  const uint32_t seen = Load32(&control->Calls);
  if (!child_->Write(request.data(), request.size())) {
    const platform::ProcessEnd end = child_->Finish();
    Lost(fault, end.Signal ? Fault::kException : Fault::kExited, end.Code, entry);
    return false;
  }
  return Await(expected, entry, progress, seen, answer, fault);
}

bool THelperRunner::Await(uint32_t expected, const char* entry, const Progress* progress, uint32_t seen,
                          std::string& answer, Fault& fault) {
  int64_t lastLife = platform::MonotonicMs();
  if (chunk_.empty()) chunk_.resize(65536);
  for (;;) {
    if (pending_.size() >= spiproto::kHeaderBytes) {
      uint8_t head[spiproto::kHeaderBytes];
      std::memcpy(head, pending_.data(), sizeof head);
      uint32_t type = 0, length = 0;
      if (!spiproto::ParseHeader(head, type, length)) {
        Lost(fault, Fault::kExited, 0, entry);
        return false;
      }
      if (pending_.size() >= spiproto::kHeaderBytes + length) {
        answer = pending_.substr(spiproto::kHeaderBytes, length);
        pending_.erase(0, spiproto::kHeaderBytes + length);
        RelayProgress(progress, seen);
        if (type == spiproto::kFault) {
          spiproto::Reader r(reinterpret_cast<const uint8_t*>(answer.data()), answer.size());
          r.Str();
          const uint32_t code = r.U32();
          Lost(fault, Fault::kException, code, entry);
          return false;
        }
        if (type != expected) {
          Lost(fault, Fault::kExited, 0, entry);
          return false;
        }
        return true;
      }
    }
    size_t got = 0;
    const platform::ReadStatus status = child_->ReadSome(chunk_.data(), chunk_.size(), got, kSliceMs);
    if (status == platform::ReadStatus::kData) {
      pending_.append(reinterpret_cast<const char*>(chunk_.data()), got);
      lastLife = platform::MonotonicMs();
      continue;
    }
    if (status == platform::ReadStatus::kClosed) {
      const platform::ProcessEnd end = child_->Finish();
      Lost(fault, end.Signal ? Fault::kException : Fault::kExited, end.Code, entry);
      return false;
    }
    const uint32_t before = seen;
    RelayProgress(progress, seen);
    const int64_t now = platform::MonotonicMs();
    if (seen != before) lastLife = now;
    // A helper still starting (a new process takes seconds on a busy machine) is no plug-in
    // showing no sign of life: the time limit runs once it has started, and a start itself may
    // take the longer of the limit and kStartLimitMs.
    if (!Load32(&reinterpret_cast<const spiproto::Control*>(control_.Data())->Ready)) {
      if (now - startedAt_ > std::max<int64_t>(timeoutMs_, kStartLimitMs)) {
        Lost(fault, Fault::kHung, 0, entry);
        return false;
      }
      lastLife = now;
    }
    // Identification runs while the program starts, before its window can take messages.
    const WaitHook& hook = ThreadHook();
    if (expected != spiproto::kLoaded && hook && !hook()) {
      Lost(fault, Fault::kAbandoned, 0, entry);
      return false;
    }
    if (now - lastLife > timeoutMs_) {
      Lost(fault, Fault::kHung, 0, entry);
      return false;
    }
  }
}

int32_t THelperRunner::IsSupported(ModuleId id, const std::string& name,
                                   const uint8_t (&header)[kHeaderBytes], int32_t offset, Fault& fault) {
  const std::lock_guard<std::recursive_mutex> lock(callLock_);
  const std::string* path = PathOf(id);
  if (!path) return 0;
  spiproto::Writer w(spiproto::kIsSupported);
  w.Str(*path).Str(name).I32(offset).Bytes(header, kHeaderBytes);
  std::string answer;
  if (!Call(w.Done(), spiproto::kResult, "IsSupported", nullptr, answer, fault)) return 0;
  spiproto::Reader in(reinterpret_cast<const uint8_t*>(answer.data()), answer.size());
  return in.I32();
}

std::string THelperRunner::InputFields(const Input& input) {
  spiproto::Writer w(spiproto::kHello);  // a scratch writer: only the fields are taken
  uint64_t id = 0, token = 0, size = 0;
  if (input.Flag == SPI_INPUT_MEMORY) {
    if (!data_ || input.Memory != dataSource_ || input.Size != dataSize_) {
      data_ = platform::SharedMemory::Create(static_cast<size_t>(input.Size > 0 ? input.Size : 1));
      if (data_ && input.Memory && input.Size > 0)
        std::memcpy(data_.Data(), input.Memory, static_cast<size_t>(input.Size));
      dataSource_ = input.Memory;
      dataSize_ = input.Size;
      ++dataId_;
      dataLentTo_ = 0;
    }
    if (data_ && dataLentTo_ != generation_) {
      dataToken_ = data_.Lend(platform::PeerProcess{child_->Id(), child_->NativeHandle()});
      dataLentTo_ = generation_;
    }
    id = dataId_;
    token = dataToken_;
    size = data_ ? data_.Size() : 0;
  }
  w.U32(input.Flag).Str(input.FileName).I32(input.Offset).U64(id).U64(token).U64(size).I32(input.Size);
  return w.Done().substr(spiproto::kHeaderBytes);
}

int32_t THelperRunner::GetPictureInfo(ModuleId id, const Input& input, PictureInfo& info, Fault& fault) {
  const std::lock_guard<std::recursive_mutex> lock(callLock_);
  DropExpected();  // before the data is lent to the helper that is to answer
  const std::string* path = PathOf(id);
  if (!path || !Ensure()) return SPI_NOT_IMPLEMENTED;
  spiproto::Writer w(spiproto::kPictureInfo);
  w.Str(*path);
  const std::string fields = InputFields(input);
  w.Bytes(fields.data(), fields.size());
  std::string answer;
  if (!Call(w.Done(), spiproto::kInfo, "GetPictureInfo", nullptr, answer, fault)) return SPI_INTERNAL_ERROR;
  spiproto::Reader in(reinterpret_cast<const uint8_t*>(answer.data()), answer.size());
  const int32_t result = in.I32();
  info.Record.left = in.I32();
  info.Record.top = in.I32();
  info.Record.width = in.I32();
  info.Record.height = in.I32();
  info.Record.x_density = static_cast<uint16_t>(in.U32());
  info.Record.y_density = static_cast<uint16_t>(in.U32());
  info.Record.colorDepth = static_cast<int16_t>(in.I32());
  info.Record.hInfo = nullptr;  // the helper freed the plug-in's text itself
  return result;
}

int32_t THelperRunner::GetPicture(ModuleId id, bool preview, const Input& input, const Progress& progress,
                                  std::unique_ptr<TDecodedPicture>& picture, Fault& fault) {
  const std::lock_guard<std::recursive_mutex> lock(callLock_);
  picture.reset();
  DropExpected();  // before the data is lent to the helper that is to answer
  const std::string* path = PathOf(id);
  if (!path || !Ensure()) return SPI_NOT_IMPLEMENTED;
  spiproto::Writer w(spiproto::kPicture);
  w.Str(*path).U32(preview ? 1 : 0);
  const std::string fields = InputFields(input);
  w.Bytes(fields.data(), fields.size());
  std::string answer;
  const char* entry = preview ? "GetPreview" : "GetPicture";
  if (!Call(w.Done(), spiproto::kPictureDone, entry, &progress, answer, fault)) return SPI_INTERNAL_ERROR;
  spiproto::Reader in(reinterpret_cast<const uint8_t*>(answer.data()), answer.size());
  const int32_t result = in.I32();
  const bool has = in.U32() != 0;
  const uint64_t token = in.U64();
  const uint64_t bytes = in.U64();
  const uint32_t infoBytes = in.U32();
  const uint32_t bitsBytes = in.U32();
  const bool rejected = in.U32() != 0;
  // A plug-in that answered with blocks failing the checks may have broken the helper's heap on
  // the way: the attempt counts as "cannot", and the next call starts a fresh helper.  So does
  // an answer of the helper's own that fails the checks below.
  if (!in.Ok() || rejected) {
    Stop();
    return in.Ok() ? result : SPI_INTERNAL_ERROR;
  }
  if (!has || result != SPI_SUCCESS) return result;
  if (!TakePicture(token, bytes, infoBytes, bitsBytes, picture)) Stop();
  return result;
}

bool THelperRunner::TakePicture(uint64_t token, uint64_t bytes, uint32_t infoBytes, uint32_t bitsBytes,
                                std::unique_ptr<TDecodedPicture>& picture) {
  // The helper checked the picture; the sizes are checked again here before anything is read.
  if (infoBytes > 0x7FFFFFFFu || bitsBytes > 0x7FFFFFFFu ||
      bytes != spiproto::kImageOffset + 14ull + infoBytes + bitsBytes)
    return false;
  platform::SharedMemory image = platform::SharedMemory::Open(
      platform::PeerProcess{child_->Id(), child_->NativeHandle()}, token, static_cast<size_t>(bytes));
  if (!image) return false;
  TDecodedLayout layout;
  const uint8_t* info = image.Data() + spiproto::kImageOffset + 14;
  if (!CheckDecodedBlocks(info, infoBytes, bitsBytes, layout) ||
      static_cast<uint32_t>(layout.InfoSize) != infoBytes)
    return false;
  picture = std::make_unique<TSharedPicture>(std::move(image), layout);
  return true;
}

}  // namespace spirun
