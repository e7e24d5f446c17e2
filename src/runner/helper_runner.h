// The runner of the program: every call goes to the helper program (korspi) through the
// protocol of protocol.h.  The helper is started on first need and kept; when it dies, or a
// call shows no sign of life (no answer and no progress call) for the time limit, that call
// ends as a fault and the next call starts a fresh helper, which loads the modules it is asked
// about again.  The plug-in's progress calls arrive through the shared control block: the
// helper answers them itself from the abort flag there, and the waiting side relays the latest
// one to the listener and sets the flag when the listener asks to stop.
#ifndef KORVALE_PLUGINS_HELPER_RUNNER_H
#define KORVALE_PLUGINS_HELPER_RUNNER_H

#include <atomic>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/shmem.h"
#include "runner/bitness.h"
#include "runner/helper_channel.h"
#include "runner/runner.h"

namespace spirun {

// The program's wait hook: called about every 50 ms while a call about a picture waits (never
// while a plug-in is being identified); returning false abandons the call (the helper is ended
// and the call comes back as a kAbandoned fault).  The window pumps its messages here.
void SetWaitHook(WaitHook hook);

// While it lives, the calls of the thread that made it wait with `hook` instead of the
// program's: a thread that prepares a picture away from the window must not pump the window's
// messages, and it stops waiting when its work is called off.
class TThreadWaitHook {
 public:
  explicit TThreadWaitHook(WaitHook hook);
  ~TThreadWaitHook();
  TThreadWaitHook(const TThreadWaitHook&) = delete;
  TThreadWaitHook& operator=(const TThreadWaitHook&) = delete;

 private:
  WaitHook hook_;
  const WaitHook* previous_;
};

// While it lives, a picture the helper answers to this thread's calls with a block larger than
// `bytes` is refused before it is mapped (as a plug-in's "out of memory").
class TThreadPictureLimit {
 public:
  explicit TThreadPictureLimit(uint64_t bytes);
  ~TThreadPictureLimit();
  TThreadPictureLimit(const TThreadPictureLimit&) = delete;
  TThreadPictureLimit& operator=(const TThreadPictureLimit&) = delete;

 private:
  uint64_t previous_;
};

// Calls from several threads are taken one at a time: the helper has one channel and runs one
// plug-in call at a time.  A call from the thread whose call is already running (through a
// modal loop in its wait hook) is refused, never interleaved with it: a load comes back empty,
// a call about a picture as abandoned, a release waits until the running call is done.
class THelperRunner : public Runner {
 public:
  explicit THelperRunner(std::string helperPath);
  ~THelperRunner() override;

  // The helper of `bitness` in the running program's folder: korspi32.exe and korspi64.exe on
  // Windows; natively korspi for the program's own bitness (there is no other).
  static std::string HelperPath(TBitness bitness);
  // The helper of the program's own bitness.
  static std::string DefaultHelperPath() { return HelperPath(OwnBitness()); }
  // The time a call may show no sign of life: 30 s, or the milliseconds that the environment
  // variable KORVALE_PLUGIN_TIMEOUT_MS gives.
  static int DefaultTimeoutMs();
  void SetTimeoutMs(int ms) { channel_.SetTimeoutMs(ms); }
  int TimeoutMs() const { return channel_.TimeoutMs(); }
  // The helper program this runner starts.
  const std::string& HelperProgram() const { return channel_.HelperPath(); }
  // A helper of work that may be called off (preparing pictures) outlives a wait its thread's
  // hook abandoned: the plug-in is asked to stop, and its answer is taken before the next call,
  // which waits for it (a plug-in that shows no sign of life for the time limit still costs the
  // helper).  Otherwise an abandoned wait ends the helper at once.
  void SetKeepOnAbandon(bool keep) { channel_.SetKeepOnAbandon(keep); }
  // A module of the library `fileName` for calls about pictures only, which the helper loads
  // when first asked (a helper of work apart from the program's own loads, see TThreadLane).
  ModuleId Adopt(const std::string& fileName);
  // How many helpers were started so far (any thread may ask).
  int Starts() const { return channel_.Starts(); }
  std::string TakeMissingHelper() override;

  // Starts the helper if none runs: why it cannot be started, or empty.
  std::string Unrunnable(const std::string& fileName) override;
  LoadResult Load(const std::string& fileName, uint32_t required) override;
  // Sends the loads ahead (a few at a time), so the helper identifies the plug-ins one after
  // another while the program takes their answers in turn.
  void Expect(const std::vector<std::string>& fileNames, uint32_t required) override;
  void Release(ModuleId id) override;
  int32_t IsSupported(ModuleId id, const std::string& name, const uint8_t (&header)[kHeaderBytes],
                      int32_t offset, Fault& fault) override;
  int32_t GetPictureInfo(ModuleId id, const Input& input, PictureInfo& info, Fault& fault) override;
  int32_t GetPicture(ModuleId id, bool preview, const Input& input, const Progress& progress,
                     std::unique_ptr<TDecodedPicture>& picture, Fault& fault) override;
  int32_t GetArchiveInfo(ModuleId id, const Input& input, std::vector<ArchiveEntry>& entries, bool& cut,
                         Fault& fault) override;
  int32_t GetFileInfo(ModuleId id, const Input& input, const std::string& name, uint32_t flag,
                      ArchiveEntry& entry, Fault& fault) override;
  int32_t GetFile(ModuleId id, const Input& input, uint64_t position, uint64_t expected, uint64_t limit,
                  const Progress& progress, std::vector<uint8_t>& bytes, Fault& fault) override;

 private:
  // Holds the call lock for one call; Refused() when this thread already holds it.
  class Call {
   public:
    explicit Call(THelperRunner& runner);
    ~Call();
    Call(const Call&) = delete;
    Call& operator=(const Call&) = delete;
    bool Refused() const { return !held_; }

   private:
    THelperRunner& runner_;
    bool held_ = false;
  };
  struct ModuleRef {
    std::string path;
    uint64_t generation;  // the helper that holds its reference; 0 for an adopted module
  };
  // A helper ready for a request, with the answers to loads sent ahead taken and the
  // references owed to it paid; false when none can be started.
  bool Ready();
  // Takes the answer an abandoned wait left owed; false when this wait is abandoned too.
  bool TakeOwed();
  // What a call answers when Ready() failed: abandoned (with `fault` set) while an answer is
  // still owed, otherwise SPI_NOT_IMPLEMENTED.
  int32_t Unready(const char* entry, Fault& fault) const;
  // Sends `request` and takes its answer; false with `fault` set when the helper faulted, died,
  // hung, lied or the wait was abandoned.
  template <typename Q, typename A>
  bool Ask(const Q& request, const char* entry, const Progress* progress, A& answer, Fault& fault);
  // Takes the answer to the oldest load sent ahead: true when it is the load of `fileName` with
  // `required`, with `r` filled (empty when the helper ended on it).  An answer nobody asked for
  // gives its reference back.
  bool TakeExpected(const std::string& fileName, uint32_t required, LoadResult& r);
  // Sends loads ahead until kMaxLoadsInFlight are unanswered.
  void SendExpected();
  // The answers to all loads sent ahead, taken before any other request.
  void DropExpected();
  void ForgetHelper();
  // Registers a module of a load the helper answered; false (r emptied) when it loaded none.
  bool Loaded(const std::string& fileName, const spiproto::Loaded& answer, LoadResult& r);
  bool InputFields(const Input& input, spiproto::InputFields& fields);
  // Checks the block of a finished picture against the contract and the budget, maps it and
  // takes its header and colours out; false when it is not what the helper said.
  bool TakePicture(const spiproto::PictureDone& done, std::unique_ptr<TDecodedPicture>& picture);
  // The block the picture of `request` will need, from the information the plug-in gave for the
  // same picture in the call just before (the picture is asked for that first); 0 when unknown.
  uint64_t ExpectedBlock(const spiproto::PictureRequest& request) const;
  const std::string* PathOf(ModuleId id) const;
  // A module of `path` that the running helper holds a reference of.
  bool Holds(const std::string& path) const;
  // The answer for a library the running helper already identified and still holds, fitted to
  // `required`, with one more reference owed to the helper; false when it must be asked.
  bool LoadKnown(const std::string& fileName, uint32_t required, LoadResult& r);
  // Sends the helper the references owed to it and the releases deferred, before any call
  // that may use them.
  void PayOwed();
  void ReleaseHeld(ModuleId id);

  // The blocks of pictures the program no longer maps, numbered by the helper that made them:
  // a picture's block goes in here when its last holder lets it go (on any thread), and the next
  // picture request hands the running helper's back, so that it writes into pages already there
  // instead of fresh ones.
  class TReturnedBlocks {
   public:
    void Add(uint64_t generation, uint32_t id);
    // The numbers of `generation`'s blocks (at most spiproto::kMaxReturned); the others are
    // dropped: their helper has ended.
    std::vector<uint32_t> Take(uint64_t generation);

   private:
    std::mutex lock_;
    std::vector<std::pair<uint64_t, uint32_t>> blocks_;
  };

  std::mutex callLock_;
  std::atomic<std::thread::id> caller_{};  // the thread holding callLock_
  THelperChannel channel_;
  uint64_t known_generation_ = 0;     // the helper `known_`, `owed_` and `expected_` belong to
  uint64_t pictured_generation_ = 0;  // the last helper asked for a picture
  // What the plug-in said of the picture of the last GetPictureInfo, until the next call.
  struct LastInfo {
    bool Valid = false;
    std::string Path;
    spiproto::InputFields Input;
    int32_t Width = 0, Height = 0, Depth = 0;
  } lastInfo_;
  std::map<ModuleId, ModuleRef> modules_;
  std::map<std::string, LoadResult> known_;  // the running helper's answers to loads, by path
  struct ExpectedLoad {
    std::string path;
    uint32_t required;
    uint32_t seq;  // 0 while not sent yet
  };
  std::deque<ExpectedLoad> expected_;  // loads announced whose answers are not taken yet
  // References of loads answered from `known_` that the helper has not been sent yet, by path.
  std::map<std::string, int> owed_;
  std::vector<ModuleId> deferredReleases_;  // releases asked for during a call of the same thread
  ModuleId next_ = 1;
  bool missingTaken_ = false;  // the helper's failure to start was told
  bool owing_ = false;         // the last Ready() was abandoned waiting for an owed answer
  // The data of memory attempts, copied once per source.
  platform::SharedMemory data_;
  const uint8_t* dataSource_ = nullptr;
  int32_t dataSize_ = -1;
  uint64_t dataId_ = 0;
  uint64_t dataLentTo_ = 0;  // the helper generation holding a token of it
  uint64_t dataToken_ = 0;
  std::shared_ptr<TReturnedBlocks> returned_ = std::make_shared<TReturnedBlocks>();
};

}  // namespace spirun

#endif
