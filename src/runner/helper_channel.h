// The program's channel to its plug-in helper: the process, the framing of messages, sequence
// numbers and deadlines.  Everything the helper says is taken as an untrusted party's words: an
// answer must echo the number of the oldest request still unanswered and be of the kind asked
// for; an answer nobody asked for, one out of order, of the wrong kind, or followed by bytes
// nobody asked for, ends the helper.  Reads and writes have the same deadline.  During a call,
// only the plug-in's progress calls (for calls that have them) count as signs of life; any other
// call has a hard total limit.
#ifndef KORVALE_PLUGINS_HELPER_CHANNEL_H
#define KORVALE_PLUGINS_HELPER_CHANNEL_H

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "platform/process.h"
#include "platform/shmem.h"
#include "runner/protocol.h"
#include "runner/runner.h"

namespace spirun {

// Called about every 50 ms while a call about a picture waits; false abandons the call.
using WaitHook = std::function<bool()>;

class THelperChannel {
 public:
  explicit THelperChannel(std::string helperPath);
  ~THelperChannel();
  THelperChannel(const THelperChannel&) = delete;
  THelperChannel& operator=(const THelperChannel&) = delete;

  const std::string& HelperPath() const { return helperPath_; }
  void SetTimeoutMs(int ms) { timeoutMs_ = ms; }
  int TimeoutMs() const { return timeoutMs_; }
  int Starts() const { return starts_.load(); }
  // Which helper runs: a new number for every start.
  uint64_t Generation() const { return generation_; }
  bool Up() const { return child_ != nullptr; }
  platform::PeerProcess Peer() const;
  // Whether the last start failed because the helper program could not be started at all.
  bool StartFailed() const { return startFailed_; }

  // A helper ready for a request: the running one, unless it ended or spoke unasked since its
  // last answer (it is then replaced without blaming anyone); false when none can be started.
  // Calls nothing while answers are outstanding.
  bool Ensure();
  void Stop();

  // Sends a request; `seq` gets its number, whose answer Await takes.  False with `fault` set
  // when the helper could not take it in time or the channel broke.
  template <typename M>
  bool Send(const M& message, uint32_t& seq, const char* entry, Fault& fault) {
    seq = ++seq_;
    BeforeRequest();
    return WriteFrame(spiproto::Encode(message, seq), entry, &fault);
  }
  // Sends a message without an answer; a failure is found out by the next call.
  template <typename M>
  void Post(const M& message) {
    if (child_) WriteFrame(spiproto::Encode(message, ++seq_), "", nullptr);
  }
  // Waits for the answer to request `seq` and decodes it into `answer`.  `last`: no other request
  // is outstanding, so nothing may follow it.  `progress` (picture calls only) gets the plug-in's
  // progress calls, which are the only signs of life that lengthen the wait.  `hook` is asked
  // between slices (identification passes none).  False with `fault` set otherwise; the helper
  // is then ended.
  template <typename M>
  bool Await(uint32_t seq, bool last, const char* entry, const Progress* progress, const WaitHook* hook,
             M& answer, Fault& fault) {
    spiproto::Frame frame;
    if (!AwaitFrame(seq, entry, progress, hook, frame, fault)) return false;
    if (!spiproto::Decode(frame, answer) || (last && !Quiet())) {
      Broken(fault, entry);
      return false;
    }
    return true;
  }
  // Ends the helper whose answer was refused, the call counted as the plug-in's fault.
  void Broken(Fault& fault, const char* entry);

  // Kept, the helper outlives a wait the hook abandoned: its answer is owed, and TakeOwed takes
  // it before anything else is asked (otherwise the helper is ended on the spot).
  void SetKeepOnAbandon(bool keep) { keepOnAbandon_ = keep; }
  bool Owes() const { return owed_ != 0; }
  // Waits for the owed answer as Await waits (the plug-in is asked to stop at each of its
  // progress calls, which count as signs of life): true with it in `frame`; false when `hook`
  // abandoned the wait again (still owed) or the helper was lost (`fault` says which).
  bool TakeOwed(const WaitHook* hook, spiproto::Frame& frame, Fault& fault);
  // The control block shared with the running helper.
  spiproto::Control* ControlBlock() const;

 private:
  bool WriteFrame(const std::string& frame, const char* entry, Fault* fault);
  // Clears the abort flag and notes the progress calls so far, before a request goes.
  void BeforeRequest();
  bool AwaitFrame(uint32_t seq, const char* entry, const Progress* progress, const WaitHook* hook,
                  spiproto::Frame& frame, Fault& fault);
  void Lost(Fault& fault, Fault::Kind kind, uint32_t code, const char* entry);
  void Ended(Fault& fault, const char* entry);
  void RelayProgress(const Progress* progress, uint32_t& seen);
  // Nothing more from the helper is waiting: no byte buffered, none arriving right now.
  bool Quiet();

  std::string helperPath_;
  int timeoutMs_;
  int64_t startedAt_ = 0;
  std::unique_ptr<platform::ChildProcess> child_;
  platform::SharedMemory control_;
  uint64_t generation_ = 0;
  std::atomic<int> starts_{0};
  bool startFailed_ = false;
  uint32_t seq_ = 0;
  uint32_t callsAtSend_ = 0;
  spiproto::FrameReader frames_;
  std::string chunk_;
  bool keepOnAbandon_ = false;
  uint32_t owed_ = 0;  // the request whose answer an abandoned wait left behind
};

}  // namespace spirun

#endif
