// The helper runner's plug-in modules: loading them (the loads of a folder's candidates sent
// ahead a few at a time, a second load of a library the helper holds answered from the first),
// the references the helper holds for them, and releasing them.
#include <utility>

#include "runner/helper_runner.h"
#include "runner/protocol.h"

namespace spirun {

namespace {
// Loads sent ahead and not answered yet: few enough that their requests always fit the channel's
// buffer, so sending them never waits for a helper stuck in a plug-in's start-up code.
constexpr size_t kMaxLoadsInFlight = 8;
}  // namespace

const std::string* THelperRunner::PathOf(ModuleId id) const {
  auto it = modules_.find(id);
  return it == modules_.end() ? nullptr : &it->second.path;
}

bool THelperRunner::Holds(const std::string& path) const {
  for (const auto& m : modules_)
    if (m.second.generation == channel_.Generation() && m.second.path == path) return true;
  return false;
}

bool THelperRunner::LoadKnown(const std::string& fileName, uint32_t required, LoadResult& r) {
  auto it = known_.find(fileName);
  if (it == known_.end() || !channel_.Up() || known_generation_ != channel_.Generation() || !Holds(fileName))
    return false;
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
    spiproto::AddRef message;
    message.Path = owed.first;
    for (int i = 0; i < owed.second; ++i) channel_.Post(message);  // a failure: the next call finds out
  }
  owed_.clear();
}

void THelperRunner::SendExpected() {
  size_t inFlight = 0;
  for (ExpectedLoad& load : expected_) {
    if (load.seq) {
      ++inFlight;
      continue;
    }
    if (inFlight >= kMaxLoadsInFlight || !channel_.Up()) return;
    spiproto::Load message;
    message.Path = load.path;
    message.Required = load.required;
    Fault fault;
    if (!channel_.Send(message, load.seq, "GetPluginInfo", fault)) {
      // The helper is gone: what was announced is asked again, one by one, as it comes.
      expected_.clear();
      return;
    }
    ++inFlight;
  }
}

void THelperRunner::Expect(const std::vector<std::string>& fileNames, uint32_t required) {
  Call call(*this);
  if (call.Refused() || !Ready()) return;
  for (const std::string& path : fileNames) expected_.push_back(ExpectedLoad{path, required, 0});
  SendExpected();
}

bool THelperRunner::TakeExpected(const std::string& fileName, uint32_t required, LoadResult& r) {
  if (!expected_.front().seq) SendExpected();
  if (expected_.empty() || !expected_.front().seq) {
    expected_.clear();
    return false;
  }
  const ExpectedLoad load = expected_.front();
  expected_.pop_front();
  SendExpected();  // the next one goes out while this answer is read
  const bool mine = load.path == fileName && load.required == required;
  spiproto::Loaded answer;
  Fault fault;
  // The helper answers in order: when it ends now, it ended on this load, and the loads sent
  // after it are lost with it.
  bool last = true;
  for (const ExpectedLoad& e : expected_) last = last && !e.seq;
  if (!channel_.Await(load.seq, last, "GetPluginInfo", nullptr, nullptr, answer, fault)) {
    expected_.clear();
    return mine;
  }
  if (mine) {
    Loaded(fileName, answer, r);
    return true;
  }
  LoadResult unwanted;
  if (Loaded(load.path, answer, unwanted)) ReleaseHeld(unwanted.Id);
  return false;
}

void THelperRunner::DropExpected() {
  while (!expected_.empty()) {
    LoadResult r;
    TakeExpected(std::string(), 0, r);
  }
}

LoadResult THelperRunner::Load(const std::string& fileName, uint32_t required) {
  Call call(*this);
  LoadResult r;
  if (call.Refused()) return r;
  // Construction loads each library twice while the first module still holds it (the plain
  // module, then the one of its kind); the second load is answered from the first without a
  // round trip, and the helper only takes one more reference.
  if (LoadKnown(fileName, required, r)) {
    r.Id = next_++;
    modules_[r.Id] = ModuleRef{fileName, channel_.Generation()};
    return r;
  }
  // A load sent ahead; those before it that nobody asked for are given back.
  while (!expected_.empty())
    if (TakeExpected(fileName, required, r)) return r;
  spiproto::Load request;
  request.Path = fileName;
  request.Required = required;
  spiproto::Loaded answer;
  Fault fault;
  // A plug-in whose loading or identification faults, hangs or lies counts as no library.
  if (!Ask(request, "GetPluginInfo", nullptr, answer, fault)) return r;
  Loaded(fileName, answer, r);
  return r;
}

bool THelperRunner::Loaded(const std::string& fileName, const spiproto::Loaded& answer, LoadResult& r) {
  r = LoadResult{};
  if (!answer.Ok) return false;
  r = answer.Load;
  r.Bound &= 0x1FF;
  if (known_generation_ != channel_.Generation()) {
    ForgetHelper();
    known_generation_ = channel_.Generation();
  }
  known_[fileName] = r;
  r.Id = next_++;
  modules_[r.Id] = ModuleRef{fileName, channel_.Generation()};
  return true;
}

void THelperRunner::Release(ModuleId id) {
  Call call(*this);
  if (call.Refused()) {
    deferredReleases_.push_back(id);  // the running call of this thread sends it when done
    return;
  }
  ReleaseHeld(id);
}

void THelperRunner::ReleaseHeld(ModuleId id) {
  auto it = modules_.find(id);
  if (it == modules_.end()) return;
  // Only the helper that loaded it holds its reference; a fresh one keeps what calls loaded.
  // A reference still owed to the helper is simply not sent: construction lets the plain
  // module go right after the module of its kind took one more.
  const bool current = channel_.Up() && it->second.generation == channel_.Generation();
  auto owed = owed_.find(it->second.path);
  if (current && owed != owed_.end() && owed->second > 0) {
    if (--owed->second == 0) owed_.erase(owed);
  } else if (current) {
    spiproto::Release message;
    message.Path = it->second.path;
    channel_.Post(message);
  }
  modules_.erase(it);
}

}  // namespace spirun
