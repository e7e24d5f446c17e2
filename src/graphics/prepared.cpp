#include "graphics/prepared.h"

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <utility>

#include "graphics/archive.h"
#include "graphics/spi_decode.h"
#include "picture/bitmap.h"
#include "picture/call_off.h"
#include "picture/picture.h"
#include "platform/localmem.h"
#include "platform/process.h"
#include "runner/bitness_runner.h"
#include "runner/helper_runner.h"
#include "rtl/exceptions.h"

namespace {

constexpr uint64_t kMaxBudget = uint64_t(256) << 20;
constexpr auto kWaitSlice = std::chrono::milliseconds(50);
constexpr int64_t kGraceMs = 200;

// What a loaded picture holds in pixels: a bitmap's rows, else four bytes a pixel.
uint64_t PixelBytes(TGraphic& graphic) {
  if (auto* bitmap = dynamic_cast<TBitmap*>(&graphic))
    return uint64_t(bitmap->RowBytes()) * uint64_t(std::abs(int64_t(bitmap->Height())));
  return uint64_t(std::abs(int64_t(graphic.Width()))) * uint64_t(std::abs(int64_t(graphic.Height()))) * 4;
}

// A page's stamp is its archive's: the page is as it was while the archive is.
platform::FileStamp StampOfName(const std::string& name) {
  std::string archive, entry;
  return platform::StampOf(TArchive::SplitPageKey(name, archive, entry) ? archive : name);
}

}  // namespace

uint64_t TPicturePreparer::DefaultBudget() {
  // Half the largest free block: once a prepared picture is mapped there, a picture of the same
  // size that the person opens meanwhile still finds its bytes in one piece.
  return std::min<uint64_t>(kMaxBudget, platform::LargestFreeBlock() / 2);
}

TPicturePreparer::TPicturePreparer(uint64_t budget) : budget_(budget) {
  // One thread a core, as many as pictures are held.
  const size_t cores = std::max(1u, std::thread::hardware_concurrency());
  const size_t count = std::min(cores, kHeld);
  for (size_t i = 0; i < count; ++i) {
    workers_.push_back(std::make_unique<Worker>());
    workers_.back()->Lane = static_cast<int>(i) + 1;
  }
  for (auto& w : workers_) w->Thread = std::thread([this, worker = w.get()] { Run(*worker); });
}

TPicturePreparer::~TPicturePreparer() {
  {
    const std::lock_guard<std::mutex> lock(lock_);
    quit_ = true;
    for (auto& w : workers_) w->CallOff = true;
  }
  changed_.notify_all();
  for (auto& w : workers_) w->Thread.join();
}

TPicturePreparer::EntryPtr TPicturePreparer::Find(const std::string& name) const {
  for (const EntryPtr& e : entries_)
    if (e->Name == name) return e;
  return nullptr;
}

uint64_t TPicturePreparer::Budget() const { return budget_ ? budget_ : DefaultBudget(); }

void TPicturePreparer::CallOff(Worker& worker) {
  if (worker.CallOff) return;
  worker.CallOffAt = platform::MonotonicMs();  // before the flag, which the waiting thread reads first
  worker.CallOff = true;
}

void TPicturePreparer::CallOffAllBut(const EntryPtr& keep) {
  for (auto& w : workers_)
    if (w->Running && w->Running != keep) CallOff(*w);
}

void TPicturePreparer::CallOffOf(const EntryPtr& entry) {
  for (auto& w : workers_)
    if (w->Running == entry) CallOff(*w);
}

bool TPicturePreparer::Running() const {
  return std::any_of(workers_.begin(), workers_.end(),
                     [](const std::unique_ptr<Worker>& w) { return w->Running != nullptr; });
}

int64_t TPicturePreparer::Stagger(const Worker& worker, const Entry& entry) const {
  if (entry.Asked || lastLoadMs_ <= 0) return 0;
  const int64_t now = platform::MonotonicMs();
  int64_t wait = 0;
  for (const auto& w : workers_)
    if (w.get() != &worker && w->Running) wait = std::max(wait, w->StartedAt + lastLoadMs_ / 2 - now);
  return wait;
}

bool TPicturePreparer::Busy() const {
  if (Running()) return true;
  return std::any_of(entries_.begin(), entries_.end(),
                     [](const EntryPtr& e) { return e->What == State::kWaiting; });
}

std::unique_ptr<TGraphic> TPicturePreparer::Load(Worker& worker, const std::string& name,
                                                 const std::shared_ptr<const TArchive>& archive,
                                                 uint64_t budget, uint64_t& bytes,
                                                 std::exception_ptr& fault) {
  try {
    // Called off, the plug-in is asked to stop at its next progress call; one that does not
    // stop within kGraceMs is left to finish in its helper, which this thread's next call waits
    // for (the calls of the window go to helpers of their own meanwhile).
    const spirun::TThreadWaitHook hook([&worker] {
      return !worker.CallOff.load() || platform::MonotonicMs() - worker.CallOffAt.load() < kGraceMs;
    });
    // Reading a bitmap, decoding run-length data and copying a block stop at the next strip.
    const TCallOffScope callOff(worker.CallOff);
    // A picture whose block alone passes the budget is refused before it is mapped.
    const spirun::TThreadPictureLimit limit(budget);
    const TProgressEvent listener = [&worker](TObject*, TProgressStage, uint8_t, bool, TRect&,
                                              const std::string&) {
      if (worker.CallOff.load()) throw EAbort("");
    };
    std::unique_ptr<TGraphic> graphic;
    std::string archiveName, entry;
    if (TArchive::SplitPageKey(name, archiveName, entry)) {
      // A page of the book the window reads; the bytes of an entry past the budget are never
      // taken out.
      if (!archive || archive->FileName() != archiveName) return nullptr;
      graphic = archive->LoadPage(entry, budget, listener);
    } else {
      graphic = NewGraphicFor(name);
      graphic->OnProgress = listener;
      graphic->LoadFile(name);
    }
    // Measured against the budget from before the load: asked now, the address space would
    // count this picture's own mapping against it.
    bytes = PixelBytes(*graphic);
    if (bytes > budget) return nullptr;
    return graphic;
  } catch (const ESPIPluginFault&) {
    // Kept for the step onto the file: asking the plug-in again would fault again, after as
    // long a wait for one that stopped answering.
    fault = std::current_exception();
    return nullptr;
  } catch (...) {
    // Whatever else went wrong is the caller's to find and report by its own load.
    return nullptr;
  }
}

void TPicturePreparer::Run(Worker& worker) {
  const spirun::TThreadLane lane(worker.Lane);
  std::unique_lock<std::mutex> lock(lock_);
  for (;;) {
    EntryPtr next;
    changed_.wait(lock, [&] {
      if (quit_) return true;
      for (const EntryPtr& e : entries_) {
        if (e->What == State::kWaiting) {
          next = e;
          return true;
        }
      }
      return false;
    });
    if (quit_) return;
    if (const int64_t wait = Stagger(worker, *next)) {
      changed_.wait_for(lock, std::chrono::milliseconds(wait));
      continue;
    }
    next->What = State::kRunning;
    worker.Running = next;
    worker.StartedAt = platform::MonotonicMs();
    worker.CallOff = false;
    const std::shared_ptr<const TArchive> archive = archive_;
    lock.unlock();

    // The stamp is taken before the file is read: a change made while it is read shows.
    // A file larger than the budget is not read ahead at all (its picture is all but certainly
    // larger still); it loads when asked.  Other pictures are measured once loaded.
    // A page is measured by its entry's size, which its archive's says nothing about.
    const platform::FileStamp stamp = StampOfName(next->Name);
    uint64_t bytes = 0;
    std::exception_ptr fault;
    const uint64_t budget = Budget();
    std::string archiveName, entry;
    const bool page = TArchive::SplitPageKey(next->Name, archiveName, entry);
    const bool within = stamp.Valid() && (page || uint64_t(stamp.Size) <= budget);
    std::unique_ptr<TGraphic> graphic =
        within ? Load(worker, next->Name, archive, budget, bytes, fault) : nullptr;

    lock.lock();
    if (worker.CallOff || Find(next->Name) != next) {
      // Not wanted any more: freed before the preparation counts as done, so that a load the
      // caller makes next never runs while this picture still holds its memory (and its
      // block), and without holding up the window's calls meanwhile.
      lock.unlock();
      graphic.reset();
      lock.lock();
    } else {
      next->Stamp = stamp;
      next->Bytes = graphic ? bytes : 0;
      next->What = graphic ? State::kReady : State::kFailed;
      next->Fault = fault;
      next->Graphic = std::move(graphic);
      if (next->Graphic) lastLoadMs_ = platform::MonotonicMs() - worker.StartedAt;
    }
    worker.Running.reset();
    changed_.notify_all();
  }
}

void TPicturePreparer::StopWork(std::unique_lock<std::mutex>& lock, const std::function<bool()>& wait) {
  entries_.erase(std::remove_if(entries_.begin(), entries_.end(),
                                [](const EntryPtr& e) { return e->What != State::kReady; }),
                 entries_.end());
  if (!Running()) return;
  CallOffAllBut(nullptr);
  // The plug-in calls or reads under way stop at their next check, or are abandoned after a
  // grace period: the window goes on meanwhile (they are being stopped already, so what `wait`
  // answers changes nothing).
  while (Running()) {
    if (changed_.wait_for(lock, kWaitSlice) == std::cv_status::no_timeout || !wait) continue;
    lock.unlock();
    wait();
    lock.lock();
  }
}

void TPicturePreparer::Prepare(const std::vector<std::string>& names) {
  std::vector<EntryPtr> dropped;
  {
    const std::lock_guard<std::mutex> lock(lock_);
    std::vector<EntryPtr> wanted;
    for (const std::string& name : names) {
      if (wanted.size() == kHeld) break;
      if (std::any_of(wanted.begin(), wanted.end(), [&](const EntryPtr& e) { return e->Name == name; }))
        continue;
      EntryPtr e = Find(name);
      if (!e) {
        e = std::make_shared<Entry>();
        e->Name = name;
      }
      wanted.push_back(std::move(e));
    }
    for (EntryPtr& e : entries_) {
      if (std::find(wanted.begin(), wanted.end(), e) != wanted.end()) continue;
      CallOffOf(e);
      dropped.push_back(std::move(e));
    }
    entries_ = std::move(wanted);
  }
  changed_.notify_all();
}

std::unique_ptr<TGraphic> TPicturePreparer::Take(const std::string& name, const std::function<bool()>& wait,
                                                 platform::FileStamp* stamp) {
  std::unique_lock<std::mutex> lock(lock_);
  EntryPtr e = Find(name);
  if (e) e->Asked = true;
  if (e && e->What == State::kWaiting) {
    // Asked for before its turn: it goes next, and whatever else runs or waits is dropped.
    entries_.erase(std::remove_if(entries_.begin(), entries_.end(),
                                  [&](const EntryPtr& o) { return o != e && o->What != State::kReady; }),
                   entries_.end());
    CallOffAllBut(e);
    changed_.notify_all();
  }
  while (e && (e->What == State::kWaiting || e->What == State::kRunning)) {
    if (changed_.wait_for(lock, kWaitSlice) == std::cv_status::no_timeout) continue;
    lock.unlock();
    const bool goOn = !wait || wait();
    lock.lock();
    if (!goOn) {
      StopWork(lock, wait);
      throw EAbort("");
    }
  }
  if (e) entries_.erase(std::remove(entries_.begin(), entries_.end(), e), entries_.end());
  const bool unchanged = e && (e->What == State::kReady || e->Fault) && StampOfName(name) == e->Stamp;
  if (unchanged && e->What == State::kReady) {
    if (stamp) *stamp = e->Stamp;
    return std::move(e->Graphic);
  }
  StopWork(lock, wait);
  lock.unlock();
  if (unchanged) std::rethrow_exception(e->Fault);
  return nullptr;  // a stale picture in `e` is freed here, outside the lock
}

void TPicturePreparer::Keep(const std::string& name, const platform::FileStamp& stamp,
                            std::unique_ptr<TGraphic> graphic) {
  if (!graphic || !stamp.Valid()) return;
  const uint64_t bytes = PixelBytes(*graphic);
  if (bytes > Budget()) return;
  auto e = std::make_shared<Entry>();
  e->Name = name;
  e->What = State::kReady;
  e->Stamp = stamp;
  e->Bytes = bytes;
  e->Graphic = std::move(graphic);
  EntryPtr replaced;
  const std::lock_guard<std::mutex> lock(lock_);
  for (EntryPtr& o : entries_) {
    if (o->Name != name) continue;
    CallOffOf(o);
    replaced = std::move(o);
    o = e;
    return;
  }
  entries_.push_back(std::move(e));
}

void TPicturePreparer::Pause(const std::function<bool()>& wait) {
  std::unique_lock<std::mutex> lock(lock_);
  StopWork(lock, wait);
}

bool TPicturePreparer::Holds(const std::string& name) const {
  const std::lock_guard<std::mutex> lock(lock_);
  const EntryPtr e = Find(name);
  return e && e->What == State::kReady;
}

uint64_t TPicturePreparer::HeldBytes() const {
  const std::lock_guard<std::mutex> lock(lock_);
  uint64_t bytes = 0;
  for (const EntryPtr& e : entries_) bytes += e->Bytes;
  return bytes;
}

void TPicturePreparer::WaitIdle() {
  std::unique_lock<std::mutex> lock(lock_);
  changed_.wait(lock, [&] { return !Busy(); });
}

bool TPicturePreparer::Working() const {
  const std::lock_guard<std::mutex> lock(lock_);
  return Busy();
}

void TPicturePreparer::SetArchive(std::shared_ptr<const TArchive> archive) {
  std::shared_ptr<const TArchive> previous;
  const std::lock_guard<std::mutex> lock(lock_);
  previous.swap(archive_);
  archive_ = std::move(archive);
}
