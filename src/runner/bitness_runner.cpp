#include "runner/bitness_runner.h"

#include "platform/files.h"
#include "platform/system.h"
#include "runner/helper_runner.h"
#include "rtl/format.h"
#include "rtl/messages.h"

namespace spirun {

namespace {
constexpr int Index(TBitness b) { return b == TBitness::k64 ? 1 : 0; }
constexpr TBitness BitnessAt(int side) { return side == 1 ? TBitness::k64 : TBitness::k32; }
thread_local int t_lane = 0;
}  // namespace

TThreadLane::TThreadLane(int lane) : previous_(t_lane) { t_lane = lane > 0 ? lane : 0; }
TThreadLane::~TThreadLane() { t_lane = previous_; }

TBitnessRunner::TBitnessRunner(Factory factory) : factory_(std::move(factory)) {}
TBitnessRunner::~TBitnessRunner() = default;

std::unique_ptr<TBitnessRunner> TBitnessRunner::Default() {
  return std::make_unique<TBitnessRunner>([](TBitness bitness) -> std::unique_ptr<Runner> {
    if (!platform::SystemRunsBits(bitness == TBitness::k64 ? 64 : 32)) return nullptr;
    return std::make_unique<THelperRunner>(THelperRunner::HelperPath(bitness));
  });
}

int TBitnessRunner::SideOf(const std::string& fileName) {
  {
    const std::lock_guard<std::mutex> lock(lock_);
    auto known = sideOf_.find(fileName);
    if (known != sideOf_.end()) return known->second;
  }
  const TBitness b = BitnessOfFile(fileName);
  const int side = Index(b == TBitness::kUnknown ? OwnBitness() : b);
  const std::lock_guard<std::mutex> lock(lock_);
  sideOf_.emplace(fileName, side);
  return side;
}

int TBitnessRunner::Starts() {
  const std::lock_guard<std::mutex> lock(lock_);
  int starts = 0;
  for (const Side& s : sides_)
    if (auto* helper = dynamic_cast<THelperRunner*>(s.Held.get())) starts += helper->Starts();
  for (const auto& lane : lanes_)
    if (auto* helper = dynamic_cast<THelperRunner*>(lane.second.get())) starts += helper->Starts();
  return starts;
}

spirun::Runner* TBitnessRunner::RunnerOf(int side) {
  const std::lock_guard<std::mutex> lock(lock_);
  Side& s = sides_[side];
  if (!s.Made) {
    s.Made = true;
    s.Held = factory_(BitnessAt(side));
  }
  return s.Held.get();
}

std::pair<spirun::Runner*, ModuleId> TBitnessRunner::Find(ModuleId id) {
  const std::lock_guard<std::mutex> lock(lock_);
  auto it = modules_.find(id);
  if (it == modules_.end()) return {nullptr, 0};
  return {sides_[it->second.Side].Held.get(), it->second.Inner};
}

std::pair<spirun::Runner*, ModuleId> TBitnessRunner::Route(ModuleId id) {
  THelperRunner* lane = nullptr;
  std::string path;
  {
    const std::lock_guard<std::mutex> lock(lock_);
    auto it = modules_.find(id);
    if (it == modules_.end()) return {nullptr, 0};
    const Module& m = it->second;
    auto* own = dynamic_cast<THelperRunner*>(sides_[m.Side].Held.get());
    // Lanes are helpers of their own: a side run otherwise (tests) has none.
    if (t_lane == 0 || !own) return {sides_[m.Side].Held.get(), m.Inner};
    std::unique_ptr<spirun::Runner>& held = lanes_[{m.Side, t_lane}];
    if (!held) {
      auto made = std::make_unique<THelperRunner>(own->HelperProgram());
      made->SetTimeoutMs(own->TimeoutMs());
      made->SetKeepOnAbandon(true);
      held = std::move(made);
    }
    lane = static_cast<THelperRunner*>(held.get());
    path = m.Path;
  }
  const ModuleId adopted = lane->Adopt(path);
  return {adopted ? lane : nullptr, adopted};
}

std::string TBitnessRunner::Unrunnable(const std::string& fileName) {
  const int side = SideOf(fileName);
  spirun::Runner* runner = RunnerOf(side);
  if (!runner) return Format(msg::kSPIBitnessNotRun, {side == 1 ? "64" : "32"});
  return runner->Unrunnable(fileName);
}

std::string TBitnessRunner::TakeMissingHelper() {
  for (const TBitness b : {OwnBitness(), OwnBitness() == TBitness::k64 ? TBitness::k32 : TBitness::k64}) {
    spirun::Runner* runner = nullptr;
    {
      const std::lock_guard<std::mutex> lock(lock_);
      runner = sides_[Index(b)].Held.get();
    }
    if (!runner) continue;
    std::string helper = runner->TakeMissingHelper();
    if (!helper.empty() && (b == OwnBitness() || !platform::FileExists(helper))) return helper;
  }
  return std::string();
}

LoadResult TBitnessRunner::Load(const std::string& fileName, uint32_t required) {
  const int side = SideOf(fileName);
  spirun::Runner* runner = RunnerOf(side);
  if (!runner) return LoadResult{};
  LoadResult r = runner->Load(fileName, required);
  if (!r.Id) return r;
  const std::lock_guard<std::mutex> lock(lock_);
  const ModuleId inner = r.Id;
  r.Id = next_++;
  modules_[r.Id] = Module{side, inner, fileName};
  return r;
}

void TBitnessRunner::Expect(const std::vector<std::string>& fileNames, uint32_t required) {
  std::vector<std::string> of[2];
  for (const std::string& name : fileNames) of[SideOf(name)].push_back(name);
  for (int side = 0; side < 2; ++side)
    if (!of[side].empty())
      if (spirun::Runner* runner = RunnerOf(side)) runner->Expect(of[side], required);
}

void TBitnessRunner::Release(ModuleId id) {
  std::pair<spirun::Runner*, ModuleId> m = Find(id);
  if (!m.first) return;
  {
    const std::lock_guard<std::mutex> lock(lock_);
    modules_.erase(id);
  }
  m.first->Release(m.second);
}

void* TBitnessRunner::Proc(ModuleId id, const char* name) {
  std::pair<spirun::Runner*, ModuleId> m = Find(id);
  return m.first ? m.first->Proc(m.second, name) : nullptr;
}

int32_t TBitnessRunner::IsSupported(ModuleId id, const std::string& name,
                                    const uint8_t (&header)[kHeaderBytes], int32_t offset, Fault& fault) {
  std::pair<spirun::Runner*, ModuleId> m = Route(id);
  return m.first ? m.first->IsSupported(m.second, name, header, offset, fault) : 0;
}

int32_t TBitnessRunner::GetPictureInfo(ModuleId id, const Input& input, PictureInfo& info, Fault& fault) {
  std::pair<spirun::Runner*, ModuleId> m = Route(id);
  return m.first ? m.first->GetPictureInfo(m.second, input, info, fault) : SPI_NOT_IMPLEMENTED;
}

int32_t TBitnessRunner::GetPicture(ModuleId id, bool preview, const Input& input, const Progress& progress,
                                   std::unique_ptr<TDecodedPicture>& picture, Fault& fault) {
  std::pair<spirun::Runner*, ModuleId> m = Route(id);
  if (!m.first) {
    picture.reset();
    return SPI_NOT_IMPLEMENTED;
  }
  return m.first->GetPicture(m.second, preview, input, progress, picture, fault);
}

int32_t TBitnessRunner::GetArchiveInfo(ModuleId id, const Input& input, std::vector<ArchiveEntry>& entries,
                                       bool& cut, Fault& fault) {
  std::pair<spirun::Runner*, ModuleId> m = Route(id);
  if (m.first) return m.first->GetArchiveInfo(m.second, input, entries, cut, fault);
  entries.clear();
  cut = false;
  return SPI_NOT_IMPLEMENTED;
}

int32_t TBitnessRunner::GetFileInfo(ModuleId id, const Input& input, const std::string& name, uint32_t flag,
                                    ArchiveEntry& entry, Fault& fault) {
  std::pair<spirun::Runner*, ModuleId> m = Route(id);
  return m.first ? m.first->GetFileInfo(m.second, input, name, flag, entry, fault) : SPI_NOT_IMPLEMENTED;
}

int32_t TBitnessRunner::GetFile(ModuleId id, const Input& input, uint64_t position, uint64_t expected,
                                uint64_t limit, const Progress& progress, std::vector<uint8_t>& bytes,
                                Fault& fault) {
  std::pair<spirun::Runner*, ModuleId> m = Route(id);
  if (m.first) return m.first->GetFile(m.second, input, position, expected, limit, progress, bytes, fault);
  bytes.clear();
  return SPI_NOT_IMPLEMENTED;
}

}  // namespace spirun
