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
#include <vector>

#include "platform/process.h"
#include "platform/shmem.h"
#include "plugins/runner.h"

namespace spirun {

// Called about every 50 ms while a call about a picture waits (never while a plug-in is being
// identified); returning false abandons the call (the helper is ended and the call comes back
// as a kAbandoned fault).  The window pumps its messages here.
using WaitHook = std::function<bool()>;
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

// Calls from several threads are taken one at a time: the helper has one channel and runs one
// plug-in call at a time.
class THelperRunner : public Runner {
 public:
  explicit THelperRunner(std::string helperPath);
  ~THelperRunner() override;

  // korspi (korspi.exe on Windows) in the running program's folder.
  static std::string DefaultHelperPath();
  // The time a call may show no sign of life: 30 s, or the milliseconds that the environment
  // variable KORVALE_PLUGIN_TIMEOUT_MS gives.
  static int DefaultTimeoutMs();
  void SetTimeoutMs(int ms) { timeoutMs_ = ms; }
  // How many helpers were started so far (any thread may ask).
  int Starts() const { return starts_.load(); }

  LoadResult Load(const std::string& fileName, uint32_t required) override;
  // Sends the loads ahead, so the helper identifies the plug-ins one after another while the
  // program takes their answers in turn.
  void Expect(const std::vector<std::string>& fileNames, uint32_t required) override;
  void Release(ModuleId id) override;
  int32_t IsSupported(ModuleId id, const std::string& name, const uint8_t (&header)[kHeaderBytes],
                      int32_t offset, Fault& fault) override;
  int32_t GetPictureInfo(ModuleId id, const Input& input, PictureInfo& info, Fault& fault) override;
  int32_t GetPicture(ModuleId id, bool preview, const Input& input, const Progress& progress,
                     std::unique_ptr<TDecodedPicture>& picture, Fault& fault) override;

 private:
  struct ModuleRef {
    std::string path;
    uint64_t generation;  // the helper that holds its reference
  };
  bool Ensure();
  void Stop();
  // Sends a request and waits for the answer of type `expected`; false with `fault` set when
  // the helper faulted, died, hung or the wait was abandoned.
  bool Call(const std::string& request, uint32_t expected, const char* entry, const Progress* progress,
            std::string& answer, Fault& fault);
  // Waits for the answer of type `expected` to a request already sent; as Call.
  bool Await(uint32_t expected, const char* entry, const Progress* progress, uint32_t seen,
             std::string& answer, Fault& fault);
  // Takes the answer to the oldest load sent ahead: true when it is the load of `fileName` with
  // `required`, with `r` filled (empty when the helper ended on it).  An answer nobody asked for
  // gives its reference back.
  bool TakeExpected(const std::string& fileName, uint32_t required, LoadResult& r);
  // The answers to all loads sent ahead, taken before any other request.
  void DropExpected();
  // Registers a module of a load the helper answered; false (r emptied) when it loaded none.
  bool Loaded(const std::string& fileName, const std::string& answer, LoadResult& r);
  void Lost(Fault& fault, Fault::Kind kind, uint32_t code, const char* entry);
  void RelayProgress(const Progress* progress, uint32_t& seen);
  std::string InputFields(const Input& input);
  // Maps the block of a finished picture and checks it again; false when it is not what the
  // helper said.
  bool TakePicture(uint64_t token, uint64_t bytes, uint32_t infoBytes, uint32_t bitsBytes,
                   std::unique_ptr<TDecodedPicture>& picture);
  const std::string* PathOf(ModuleId id) const;
  // A module of `path` that the running helper holds a reference of.
  bool Holds(const std::string& path) const;
  // The answer for a library the running helper already identified and still holds, fitted to
  // `required`, with one more reference owed to the helper; false when it must be asked.
  bool LoadKnown(const std::string& fileName, uint32_t required, LoadResult& r);
  // Sends the helper the references owed to it, before any call that may use them.
  void PayOwed();

  std::recursive_mutex callLock_;
  std::string helperPath_;
  int timeoutMs_;
  int64_t startedAt_ = 0;  // when the running helper was started
  std::unique_ptr<platform::ChildProcess> child_;
  platform::SharedMemory control_;
  uint64_t generation_ = 0;
  std::atomic<int> starts_{0};
  std::map<ModuleId, ModuleRef> modules_;
  std::map<std::string, LoadResult> known_;  // the running helper's answers to loads, by path
  struct ExpectedLoad {
    std::string path;
    uint32_t required;
  };
  std::deque<ExpectedLoad> expected_;  // loads sent ahead whose answers are not taken yet
  // References of loads answered from `known_` that the helper has not been sent yet, by path.
  std::map<std::string, int> owed_;
  ModuleId next_ = 1;
  // The data of memory attempts, copied once per source.
  platform::SharedMemory data_;
  const uint8_t* dataSource_ = nullptr;
  int32_t dataSize_ = -1;
  uint64_t dataId_ = 0;
  uint64_t dataLentTo_ = 0;  // the helper generation holding a token of it
  uint64_t dataToken_ = 0;
  std::string pending_;         // bytes read beyond the last answer
  std::vector<uint8_t> chunk_;  // what one read takes from the channel
};

}  // namespace spirun

#endif
