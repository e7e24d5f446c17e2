#include "runner/helper_channel.h"

#include <algorithm>

namespace spirun {

namespace {
constexpr int kSliceMs = 50;
// The longest a helper may take to start before it counts as hung, unless the time limit is longer.
constexpr int64_t kStartLimitMs = 60000;
constexpr size_t kChunkBytes = 65536;

uint32_t Load32(const uint32_t* p) { return __atomic_load_n(p, __ATOMIC_ACQUIRE); }
}  // namespace

THelperChannel::THelperChannel(std::string helperPath)
    : helperPath_(std::move(helperPath)), timeoutMs_(30000) {}

THelperChannel::~THelperChannel() { Stop(); }

platform::PeerProcess THelperChannel::Peer() const {
  return child_ ? platform::PeerProcess{child_->Id(), child_->NativeHandle()} : platform::PeerProcess{};
}

spiproto::Control* THelperChannel::ControlBlock() const {
  return reinterpret_cast<spiproto::Control*>(control_.Data());
}

bool THelperChannel::Quiet() {
  if (!frames_.Empty()) return false;
  if (chunk_.empty()) chunk_.resize(kChunkBytes);
  size_t got = 0;
  return child_ && child_->ReadSome(&chunk_[0], chunk_.size(), got, 0) == platform::ReadStatus::kTimeout;
}

bool THelperChannel::Ensure() {
  // A helper that ended between calls, or said something nobody asked for, is replaced before
  // the next request: that request's plug-in had no part in it.
  if (child_ && child_->Running() && Quiet()) return true;
  Stop();
  auto child = std::make_unique<platform::ChildProcess>();
  startFailed_ = !child->Start(helperPath_);
  if (startFailed_) return false;
  platform::SharedMemory control = platform::SharedMemory::Create(spiproto::kControlBytes);
  if (!control) return false;
  spiproto::Hello hello;
  hello.ControlToken = control.Lend(platform::PeerProcess{child->Id(), child->NativeHandle()});
  const std::string frame = spiproto::Encode(hello, ++seq_);
  if (child->Write(frame.data(), frame.size(), timeoutMs_) != platform::WriteStatus::kDone) return false;
  child_ = std::move(child);
  control_ = std::move(control);
  startedAt_ = platform::MonotonicMs();
  ++generation_;
  ++starts_;
  return true;
}

void THelperChannel::Stop() {
  if (child_) child_->Finish();
  child_.reset();
  control_.Reset();
  frames_.Clear();
  owed_ = 0;
}

bool THelperChannel::TakeOwed(const WaitHook* hook, spiproto::Frame& frame, Fault& fault) {
  const Progress stop = [](int32_t, int32_t) { return 1; };
  if (!AwaitFrame(owed_, "", &stop, hook, frame, fault)) return false;
  owed_ = 0;
  return true;
}

void THelperChannel::Lost(Fault& fault, Fault::Kind kind, uint32_t code, const char* entry) {
  fault.What = kind;
  fault.Code = code;
  fault.Entry = entry;
  Stop();
}

void THelperChannel::Ended(Fault& fault, const char* entry) {
  const platform::ProcessEnd end = child_->Finish();
  Lost(fault, end.Signal ? Fault::kException : Fault::kExited, end.Code, entry);
}

void THelperChannel::Broken(Fault& fault, const char* entry) { Lost(fault, Fault::kRefused, 0, entry); }

bool THelperChannel::WriteFrame(const std::string& frame, const char* entry, Fault* fault) {
  if (!child_) {
    if (fault) Lost(*fault, Fault::kExited, 0, entry);
    return false;
  }
  const platform::WriteStatus status = child_->Write(frame.data(), frame.size(), timeoutMs_);
  if (status == platform::WriteStatus::kDone) return true;
  Fault ignored;
  Fault& f = fault ? *fault : ignored;
  if (status == platform::WriteStatus::kTimeout)
    Lost(f, Fault::kHung, 0, entry);
  else
    Ended(f, entry);
  return false;
}

void THelperChannel::BeforeRequest() {
  spiproto::Control* control = ControlBlock();
  if (!control) return;
  __atomic_store_n(&control->Abort, 0u, __ATOMIC_RELEASE);
  callsAtSend_ = Load32(&control->Calls);
}

void THelperChannel::RelayProgress(const Progress* progress, uint32_t& seen) {
  spiproto::Control* control = ControlBlock();
  const uint32_t calls = Load32(&control->Calls);
  if (calls == seen) return;
  seen = calls;
  // The numbers are copied once; the helper may change them meanwhile.
  const int32_t done = __atomic_load_n(&control->Done, __ATOMIC_ACQUIRE);
  const int32_t total = __atomic_load_n(&control->Total, __ATOMIC_ACQUIRE);
  if ((*progress)(done, total) != 0) __atomic_store_n(&control->Abort, 1u, __ATOMIC_RELEASE);
}

bool THelperChannel::AwaitFrame(uint32_t seq, const char* entry, const Progress* progress,
                                const WaitHook* hook, spiproto::Frame& frame, Fault& fault) {
  if (!child_) {
    Lost(fault, Fault::kExited, 0, entry);
    return false;
  }
  const bool relays = progress && *progress;
  uint32_t seen = callsAtSend_;
  int64_t lastLife = platform::MonotonicMs();
  if (chunk_.empty()) chunk_.resize(kChunkBytes);
  for (;;) {
    switch (frames_.Next(frame)) {
      case spiproto::FrameReader::kBroken:
        Broken(fault, entry);
        return false;
      case spiproto::FrameReader::kFrame: {
        if (relays) RelayProgress(progress, seen);
        spiproto::FaultReport report;
        if (frame.Seq == seq && spiproto::Decode(frame, report)) {
          Lost(fault, Fault::kException, report.Code, entry);
          return false;
        }
        // An answer to anything but the oldest request still open is a lie.
        if (frame.Seq != seq) {
          Broken(fault, entry);
          return false;
        }
        return true;
      }
      case spiproto::FrameReader::kPartial:
        break;
    }
    size_t got = 0;
    const platform::ReadStatus status = child_->ReadSome(&chunk_[0], chunk_.size(), got, kSliceMs);
    if (status == platform::ReadStatus::kData) {
      frames_.Append(chunk_.data(), got);
      continue;
    }
    if (status == platform::ReadStatus::kClosed) {
      Ended(fault, entry);
      return false;
    }
    const int64_t now = platform::MonotonicMs();
    // Only the plug-in's progress calls count as signs of life, and only in calls that have them.
    if (relays) {
      const uint32_t before = seen;
      RelayProgress(progress, seen);
      if (seen != before) lastLife = now;
    }
    // A helper still starting (a new process takes seconds on a busy machine) is no plug-in
    // showing no sign of life: the time limit runs once it has started, and a start itself may
    // take the longer of the limit and kStartLimitMs.
    if (!Load32(&ControlBlock()->Ready)) {
      if (now - startedAt_ > std::max<int64_t>(timeoutMs_, kStartLimitMs)) {
        Lost(fault, Fault::kHung, 0, entry);
        return false;
      }
      lastLife = now;
    }
    if (hook && *hook && !(*hook)()) {
      if (!keepOnAbandon_) {
        Lost(fault, Fault::kAbandoned, 0, entry);
        return false;
      }
      fault = Fault{Fault::kAbandoned, 0, entry};
      owed_ = seq;
      return false;
    }
    if (now - lastLife > timeoutMs_) {
      Lost(fault, Fault::kHung, 0, entry);
      return false;
    }
  }
}

}  // namespace spirun
