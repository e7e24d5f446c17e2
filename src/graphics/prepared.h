// Pictures made ready before they are asked for: while a person looks at one picture, threads
// of ours load the ones they will most likely ask for next (through the plug-in runner, each
// thread with helpers of its own, or the bitmap class for BMP), so that stepping onto them shows
// them at once.  On a machine with two or more cores, two pictures are prepared at once.  A prepared picture
// is handed over only while its file is as it was when the preparation began.  A failure is never reported
// while preparing: the caller reports it when the person steps onto the file (by its own load, or, when a
// plug-in faulted on the unchanged file, by raising that fault instead of making the person wait for the
// plug-in again).
#ifndef KORVALE_GRAPHICS_PREPARED_H
#define KORVALE_GRAPHICS_PREPARED_H

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "picture/graphic.h"
#include "platform/files.h"

class TArchive;

class TPicturePreparer {
 public:
  // How many pictures are held prepared at the most (beside the one shown).
  static constexpr size_t kHeld = 2;
  // The largest picture prepared: 256 MB of pixels, or half the largest free block of the
  // address space (a picture needs its bytes in one piece).
  static uint64_t DefaultBudget();

  // `budget`: the pixel bytes a prepared picture may hold at the most (0: DefaultBudget(), asked
  // anew for every picture).
  explicit TPicturePreparer(uint64_t budget = 0);
  ~TPicturePreparer();
  TPicturePreparer(const TPicturePreparer&) = delete;
  TPicturePreparer& operator=(const TPicturePreparer&) = delete;

  // Prepares `names`, the most wanted first (at most kHeld; repeats count once).  Pictures
  // prepared before that are still named stay; the others are dropped, and a preparation of a
  // name no longer wanted is called off.
  void Prepare(const std::vector<std::string>& names);

  // The prepared picture of `name`, taken out of the store.  One being prepared, or waiting to
  // be (it then goes next, and the others are dropped), is waited for,
  // with `wait` called about every 50 ms (false from it calls the preparation off and raises
  // EAbort).  None when `name` is not prepared, its preparation failed, its picture was over the
  // budget, or the file changed since; then no preparation runs any more when this returns, so
  // the caller's own load goes ahead of any (waiting for that calls `wait` too).  When a plug-in faulted
  // (crashed, ended its helper, stopped answering) on the file, unchanged since, that ESPIPluginFault is
  // raised instead: the same the caller's own load would raise, without a second wait for the plug-in.
  // `stamp`, when given, receives the file's stamp from when the handed-over picture was read.
  std::unique_ptr<TGraphic> Take(const std::string& name, const std::function<bool()>& wait,
                                 platform::FileStamp* stamp = nullptr);

  // Holds a picture already loaded as prepared: the one the person steps away from, read when
  // its file had `stamp`, is then ready for a step back without being read again.  Taken only
  // within the budget; a following Prepare decides whether it stays.
  void Keep(const std::string& name, const platform::FileStamp& stamp, std::unique_ptr<TGraphic> graphic);

  // Calls off the preparation that runs and forgets the ones waiting; prepared pictures stay.
  // No preparation runs any more when this returns; until then `wait`, if given, is called
  // about every 50 ms (the window pumps its messages there).
  void Pause(const std::function<bool()>& wait = nullptr);

  // Whether `name` is prepared and held (its file not yet compared).
  bool Holds(const std::string& name) const;
  // The pixel bytes of the pictures held.
  uint64_t HeldBytes() const;
  // Waits until no preparation runs or waits to run (tests and benchmarks).
  void WaitIdle();
  // Whether a preparation runs or waits to run.
  bool Working() const;
  // The archive whose pages (named by TArchive::PageKey) may be prepared: the book the person
  // reads.  A page of any other archive is not prepared.
  void SetArchive(std::shared_ptr<const TArchive> archive);

 private:
  enum class State { kWaiting, kRunning, kReady, kFailed };
  struct Entry {
    std::string Name;
    State What = State::kWaiting;
    platform::FileStamp Stamp;
    std::unique_ptr<TGraphic> Graphic;
    uint64_t Bytes = 0;
    std::exception_ptr Fault;  // failed: the plug-in's fault, if one faulted
    bool Asked = false;        // waited for by Take
  };
  using EntryPtr = std::shared_ptr<Entry>;

  // A thread that prepares pictures, one at a time, in plug-in helpers of its own (its lane).
  struct Worker {
    int Lane = 0;
    EntryPtr Running;
    int64_t StartedAt = 0;  // of Running, monotonic milliseconds
    std::atomic<bool> CallOff{false};
    std::atomic<int64_t> CallOffAt{0};
    std::thread Thread;
  };

  void Run(Worker& worker);
  // Loads one picture in the calling thread; none when it fails (with `fault` set when a plug-in
  // faulted) or passes the budget.
  std::unique_ptr<TGraphic> Load(Worker& worker, const std::string& name,
                                 const std::shared_ptr<const TArchive>& archive, uint64_t budget,
                                 uint64_t& bytes, std::exception_ptr& fault);
  // Under lock_: drops every entry that is not ready, calling off the running one, and waits
  // until the thread has let go of it (and of its picture), calling `wait` as Take does.
  void StopWork(std::unique_lock<std::mutex>& lock, const std::function<bool()>& wait);
  EntryPtr Find(const std::string& name) const;
  // Under lock_: calls off the preparations that run, but that of `keep`, or the one of
  // `entry` (their plug-in calls are first asked to stop).
  void CallOffAllBut(const EntryPtr& keep);
  void CallOffOf(const EntryPtr& entry);
  static void CallOff(Worker& worker);
  bool Running() const;
  // Under lock_: how long `worker` waits before it starts on `entry`.  Two preparations started
  // together finish together, and a person paging as fast as pictures come would wait a whole
  // decode for every other picture; so a preparation starts half a decode (the last one's time)
  // after the one under way, unless its picture is asked for.
  int64_t Stagger(const Worker& worker, const Entry& entry) const;
  // The pixel bytes a picture may hold to be kept prepared.
  uint64_t Budget() const;
  bool Busy() const;

  const uint64_t budget_;
  mutable std::mutex lock_;
  std::condition_variable changed_;
  std::vector<EntryPtr> entries_;
  int64_t lastLoadMs_ = 0;  // how long the last picture prepared took
  std::shared_ptr<const TArchive> archive_;
  bool quit_ = false;
  std::vector<std::unique_ptr<Worker>> workers_;
};

#endif
