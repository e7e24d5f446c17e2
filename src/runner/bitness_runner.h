// The runner of both bitnesses: a plug-in runs in a helper of its own bitness (32-bit *.spi,
// 64-bit *.sph, told apart by the file's header), whichever edition of the program asks.  The
// runner of a bitness is made when a plug-in of that bitness is first needed, so a program whose
// plug-ins are all of one kind starts one helper.  A bitness the system cannot run (a 64-bit
// plug-in on 32-bit Windows, a 32-bit one where the system runs no 32-bit programs, or one whose
// helper is missing) makes its plug-ins unrunnable, with the reason.
#ifndef KORVALE_PLUGINS_BITNESS_RUNNER_H
#define KORVALE_PLUGINS_BITNESS_RUNNER_H

#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "runner/bitness.h"
#include "runner/runner.h"

namespace spirun {

// While it lives, the calls about pictures of the thread that made it go to helpers of their
// own, numbered `lane` (1 and up; 0 is the program's own helpers): work apart from what the
// person asked for, such as preparing pictures, neither waits for the program's calls nor makes
// them wait, and calling it off keeps its helper (the plug-in is asked to stop, and the answer
// is taken before that lane's next call).  Identification and loads always go to lane 0.
class TThreadLane {
 public:
  explicit TThreadLane(int lane);
  ~TThreadLane();
  TThreadLane(const TThreadLane&) = delete;
  TThreadLane& operator=(const TThreadLane&) = delete;

 private:
  int previous_;
};

class TBitnessRunner : public Runner {
 public:
  // Makes the runner of a bitness (k32 or k64); null when that bitness has none here.
  using Factory = std::function<std::unique_ptr<Runner>(TBitness)>;
  explicit TBitnessRunner(Factory factory);
  ~TBitnessRunner() override;

  // The runner of the program: helpers beside it, one per bitness.
  static std::unique_ptr<TBitnessRunner> Default();

  // How many helper processes were started so far, of both bitnesses (benchmarks count them).
  int Starts();

  std::string Unrunnable(const std::string& fileName) override;
  // The helper of the program's own bitness that could not be started, or one of the other
  // bitness whose file is missing (a broken installation); a helper that is there but cannot
  // run on this system only makes its plug-ins unrunnable.
  std::string TakeMissingHelper() override;
  LoadResult Load(const std::string& fileName, uint32_t required) override;
  void Expect(const std::vector<std::string>& fileNames, uint32_t required) override;
  void Release(ModuleId id) override;
  void* Proc(ModuleId id, const char* name) override;
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
  struct Side {
    bool Made = false;
    std::unique_ptr<spirun::Runner> Held;
  };
  // The side a file's plug-in runs on: its bitness, or the program's own when the header says
  // nothing (a file that is no library is then refused as it always was).  Each file is read
  // once: the search, the check of what can run and the load all ask, and must agree.
  int SideOf(const std::string& fileName);
  spirun::Runner* RunnerOf(int side);
  // The side and its module of one of ours; null runner when the module is unknown.
  std::pair<spirun::Runner*, ModuleId> Find(ModuleId id);
  // The runner and module of one of ours for a call about a picture from this thread: its
  // lane's helper, made on first need, or the side's own.
  std::pair<spirun::Runner*, ModuleId> Route(ModuleId id);

  struct Module {
    int Side;
    ModuleId Inner;
    std::string Path;
  };
  Factory factory_;
  std::mutex lock_;  // guards the sides, lanes and the module table, never held across a call
  Side sides_[2];
  std::map<std::pair<int, int>, std::unique_ptr<spirun::Runner>> lanes_;  // by side and lane
  std::map<ModuleId, Module> modules_;
  std::map<std::string, int> sideOf_;
  ModuleId next_ = 1;
};

}  // namespace spirun

#endif
