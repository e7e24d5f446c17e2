// The helper runner's plug-in modules: loading them (the loads of a folder's candidates sent
// ahead together, a second load of a library the helper holds answered from the first), the
// references the helper holds for them, and releasing them.
#include <utility>

#include "plugins/helper_runner.h"
#include "plugins/protocol.h"

namespace spirun {

const std::string* THelperRunner::PathOf(ModuleId id) const {
  auto it = modules_.find(id);
  return it == modules_.end() ? nullptr : &it->second.path;
}

bool THelperRunner::Holds(const std::string& path) const {
  for (const auto& m : modules_)
    if (m.second.generation == generation_ && m.second.path == path) return true;
  return false;
}

bool THelperRunner::LoadKnown(const std::string& fileName, uint32_t required, LoadResult& r) {
  auto it = known_.find(fileName);
  if (it == known_.end() || !child_ || !child_->Running() || !Holds(fileName)) return false;
  const LoadResult& known = it->second;
  const bool describe = !(required & kLoadOnly) && (known.Bound & required) == required;
  if (describe && !known.Described) return false;
  ++owed_[fileName];
  r = known;
  if (!describe) {
    r.Described = r.HasKind = r.HasAbout = false;
    r.Kind.clear();
    r.About.clear();
    r.Pairs.clear();
  }
  return true;
}

void THelperRunner::PayOwed() {
  for (const auto& owed : owed_) {
    spiproto::Writer w(spiproto::kAddRef);
    w.Str(owed.first);
    for (int i = 0; i < owed.second; ++i)
      if (!child_ || !child_->Write(w.Done().data(), w.Done().size())) break;  // the next call finds out
  }
  owed_.clear();
}

void THelperRunner::Expect(const std::vector<std::string>& fileNames, uint32_t required) {
  const std::lock_guard<std::recursive_mutex> lock(callLock_);
  DropExpected();
  if (!Ensure()) return;
  PayOwed();
  for (const std::string& path : fileNames) {
    spiproto::Writer w(spiproto::kLoad);
    w.Str(path).U32(required);
    if (!child_->Write(w.Done().data(), w.Done().size())) return;  // the next call finds out
    expected_.push_back(ExpectedLoad{path, required});
  }
}

bool THelperRunner::TakeExpected(const std::string& fileName, uint32_t required, LoadResult& r) {
  const ExpectedLoad load = expected_.front();
  expected_.pop_front();
  const bool mine = load.path == fileName && load.required == required;
  std::string answer;
  Fault fault;
  // The helper answers in order: when it ends now, it ended on this load, and the loads sent
  // after it are lost with it.
  if (!Await(spiproto::kLoaded, "GetPluginInfo", nullptr, 0, answer, fault)) return mine;
  if (mine) {
    Loaded(fileName, answer, r);
    return true;
  }
  LoadResult unwanted;
  if (Loaded(load.path, answer, unwanted)) Release(unwanted.Id);
  return false;
}

void THelperRunner::DropExpected() {
  while (!expected_.empty()) {
    LoadResult r;
    TakeExpected(std::string(), 0, r);
  }
}

LoadResult THelperRunner::Load(const std::string& fileName, uint32_t required) {
  const std::lock_guard<std::recursive_mutex> lock(callLock_);
  LoadResult r;
  // Construction loads each library twice while the first module still holds it (the plain
  // module, then the one of its kind); the second load is answered from the first without a
  // round trip, and the helper only takes one more reference.
  if (LoadKnown(fileName, required, r)) {
    r.Id = next_++;
    modules_[r.Id] = ModuleRef{fileName, generation_};
    return r;
  }
  // A load sent ahead; those before it that nobody asked for are given back.
  while (!expected_.empty())
    if (TakeExpected(fileName, required, r)) return r;
  spiproto::Writer w(spiproto::kLoad);
  w.Str(fileName).U32(required);
  std::string answer;
  Fault fault;
  // A plug-in whose loading or identification faults or hangs counts as no library.
  if (!Call(w.Done(), spiproto::kLoaded, "GetPluginInfo", nullptr, answer, fault)) return r;
  Loaded(fileName, answer, r);
  return r;
}

bool THelperRunner::Loaded(const std::string& fileName, const std::string& answer, LoadResult& r) {
  r = LoadResult{};
  spiproto::Reader in(reinterpret_cast<const uint8_t*>(answer.data()), answer.size());
  const bool loaded = in.U32() != 0;
  r.Bound = in.U32() & 0x1FF;
  r.FullName = in.Str();
  r.Described = in.U32() != 0;
  r.HasKind = in.U32() != 0;
  r.Kind = in.Str();
  r.HasAbout = in.U32() != 0;
  r.About = in.Str();
  const uint32_t pairs = in.U32();
  for (uint32_t i = 0; i < pairs && in.Ok(); ++i) {
    std::string ext = in.Str();
    std::string desc = in.Str();
    r.Pairs.emplace_back(std::move(ext), std::move(desc));
  }
  if (!loaded || !in.Ok()) {
    r = LoadResult{};
    return false;
  }
  known_[fileName] = r;
  r.Id = next_++;
  modules_[r.Id] = ModuleRef{fileName, generation_};
  return true;
}

void THelperRunner::Release(ModuleId id) {
  const std::lock_guard<std::recursive_mutex> lock(callLock_);
  auto it = modules_.find(id);
  if (it == modules_.end()) return;
  // Only the helper that loaded it holds its reference; a fresh one keeps what calls loaded.
  // A reference still owed to the helper is simply not sent: construction lets the plain
  // module go right after the module of its kind took one more.
  auto owed = owed_.find(it->second.path);
  if (it->second.generation == generation_ && owed != owed_.end() && owed->second > 0) {
    if (--owed->second == 0) owed_.erase(owed);
  } else if (child_ && child_->Running() && it->second.generation == generation_) {
    spiproto::Writer w(spiproto::kRelease);
    w.Str(it->second.path);
    child_->Write(w.Done().data(), w.Done().size());
  }
  modules_.erase(it);
}

}  // namespace spirun
