// The plug-in runner: every call into a plug-in's code goes through it.  Two implementations:
// TInProcessRunner loads the libraries into the calling process (the helper program uses it),
// THelperRunner (helper_runner.h) sends each call to the helper program and lives through
// whatever the plug-in does there.  The modules (spi.h) and the decode sources hold nothing of
// a library but the runner's module number.
#ifndef KORVALE_PLUGINS_RUNNER_H
#define KORVALE_PLUGINS_RUNNER_H

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "platform/dynlib.h"
#include "runner/archive_entries.h"
#include "runner/decoded.h"
#include "plugins/spi_api.h"

namespace spirun {

// The nine entry points, in the modules' slot order; bit i of a set stands for slot i.
inline constexpr const char* kEntryNames[9] = {"GetPluginInfo", "IsSupported", "GetPictureInfo",
                                               "GetPicture",    "GetPreview",  "GetArchiveInfo",
                                               "GetFileInfo",   "GetFile",     "ConfigurationDlg"};
// The order in which construction binds them.
inline constexpr int kBindOrder[9] = {0, 8, 1, 2, 3, 4, 5, 6, 7};
inline constexpr int32_t kHeaderBytes = 2048 + 128;

using ModuleId = uint32_t;  // 0: none
// In a `required` set: load and bind only, never ask the texts (a helper reloading a module).
inline constexpr uint32_t kLoadOnly = 1u << 31;

// What loading a plug-in file answers: what a module's construction needs.
struct LoadResult {
  ModuleId Id = 0;         // 0 when the file is no loadable library (or its loading faulted)
  std::string FullName;    // the loaded library's full path; empty when the platform gave none
  uint32_t Bound = 0;      // the entry points it exports
  bool Described = false;  // false: the required entry points were missing, no text was asked
  bool HasKind = false, HasAbout = false;
  std::string Kind, About;                                 // answers to numbers 0 and 1
  std::vector<std::pair<std::string, std::string>> Pairs;  // 2n+2 and 2n+3, up to the first gap
};

// How a call that did not return ended.  Kind says what happened; Code is the exception code,
// signal or exit code.
struct Fault {
  // kRefused: the helper answered, but its answer failed the checks (a size that does not add
  // up, a wrong handle, an answer of another kind, an extra or unasked one) and was not taken.
  // kAbandoned: the person gave up waiting (the wait hook said so); no plug-in's failure.
  enum Kind { kNone, kException, kExited, kHung, kRefused, kAbandoned } What = kNone;
  uint32_t Code = 0;
  std::string Entry;  // the entry point that was running
  explicit operator bool() const { return What != kNone; }
};

// Where the data of one attempt is: a file by name (the plug-in opens it; Offset is the byte
// offset of the picture) or a block of memory (the whole data; the attempt starts at Offset).
struct Input {
  uint32_t Flag = SPI_INPUT_FILE;
  std::string FileName;
  const uint8_t* Memory = nullptr;
  int32_t Size = 0;
  int32_t Offset = 0;
};

// The plug-in's progress calls: (done, total) in, the callback's answer out (non-zero stops it).
using Progress = std::function<int32_t(int32_t done, int32_t total)>;

// The part of a picture-information record a caller gets back.
struct PictureInfo {
  SPI_PICTINFO Record{};  // hInfo is set only by the in-process runner; its owner frees it
};

class Runner {
 public:
  virtual ~Runner() = default;
  // Loads `fileName` (one more reference) and, when every entry point of `required` is bound,
  // asks its information texts.
  virtual LoadResult Load(const std::string& fileName, uint32_t required) = 0;
  virtual void Release(ModuleId id) = 0;
  // Why the plug-in `fileName` cannot run here (its bitness cannot, or its helper cannot be
  // started), in the system's words; empty when it can be asked.
  virtual std::string Unrunnable(const std::string& /*fileName*/) { return std::string(); }
  // A hint: `fileNames` are about to be loaded in this order with `required`.  A runner in
  // another process may start on them ahead; loads that then come in another order, or not at
  // all, still get what Load gives.
  virtual void Expect(const std::vector<std::string>& /*fileNames*/, uint32_t /*required*/) {}
  // The program that runs the plug-ins when it could not be started since the last time this
  // was asked; empty otherwise (and always for a runner in this process).
  virtual std::string TakeMissingHelper() { return std::string(); }
  // The export's address in this process; null unless the plug-in runs here.
  virtual void* Proc(ModuleId, const char*) { return nullptr; }
  // IsSupported with the name and the address of the header buffer at `offset`.
  virtual int32_t IsSupported(ModuleId id, const std::string& name, const uint8_t (&header)[kHeaderBytes],
                              int32_t offset, Fault& fault) = 0;
  virtual int32_t GetPictureInfo(ModuleId id, const Input& input, PictureInfo& info, Fault& fault) = 0;
  // GetPicture or GetPreview.  On success (0) `picture` holds the checked picture; a picture
  // that fails the checks is freed and `picture` stays empty.
  virtual int32_t GetPicture(ModuleId id, bool preview, const Input& input, const Progress& progress,
                             std::unique_ptr<TDecodedPicture>& picture, Fault& fault) = 0;

  // An archive plug-in's calls.  GetArchiveInfo: the entries of the archive `input` names, read
  // out of the plug-in's records and checked (`cut` set when the records ran past their block
  // or past kMaxArchiveEntries: the entries before that are given).
  virtual int32_t GetArchiveInfo(ModuleId /*id*/, const Input& /*input*/, std::vector<ArchiveEntry>& entries,
                                 bool& cut, Fault& /*fault*/) {
    entries.clear();
    cut = false;
    return SPI_NOT_IMPLEMENTED;
  }
  // GetFileInfo: the entry named `name` (`flag` SPI_IGNORE_CASE or 0).
  virtual int32_t GetFileInfo(ModuleId /*id*/, const Input& /*input*/, const std::string& /*name*/,
                              uint32_t /*flag*/, ArchiveEntry& /*entry*/, Fault& /*fault*/) {
    return SPI_NOT_IMPLEMENTED;
  }
  // GetFile with memory output: the bytes of the entry at `position` (in memory counted from
  // `input`'s Offset, where the listing's data began too).  A block holding more than
  // `expected` (the entry's size by its record; 0 when unknown) is cut there; more than `limit`
  // bytes is refused with SPI_NO_MEMORY and nothing kept.  The entry is never written to a file.
  virtual int32_t GetFile(ModuleId /*id*/, const Input& /*input*/, uint64_t /*position*/,
                          uint64_t /*expected*/, uint64_t /*limit*/, const Progress& /*progress*/,
                          std::vector<uint8_t>& bytes, Fault& /*fault*/) {
    bytes.clear();
    return SPI_NOT_IMPLEMENTED;
  }
};

// The runner every module uses; created on first use as the helper runner with the helper
// beside the running program, unless one was set.
Runner& Current();
// Replaces the current runner (modules loaded through the old one must be gone).
void SetCurrent(std::unique_ptr<Runner> runner);

// In this process: the host's own calls, with a fault guard where the platform has one.
class TInProcessRunner : public Runner {
 public:
  TInProcessRunner();
  ~TInProcessRunner() override;
  LoadResult Load(const std::string& fileName, uint32_t required) override;
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
  // Whether the last GetPicture answered with blocks that failed the checks: a picture that is
  // not one, one block as both, or blocks left set beside a failure.  A plug-in that does so
  // may have broken its heap on the way.
  bool Rejected() const { return rejected_; }

 private:
  struct Module {
    std::string fileName;  // as loaded: its folder is searched while the plug-in runs
    platform::DynamicLibrary library;
    void* procs[9] = {};
  };
  Module* Find(ModuleId id);
  std::map<ModuleId, std::unique_ptr<Module>> modules_;
  ModuleId next_ = 1;
  bool rejected_ = false;
};

}  // namespace spirun

#endif
