// The start-up search over a folder of 50 plug-ins (copies of one import fixture under
// different names): from the set's creation to the last registration, against loading and
// unloading the same 50 libraries with no identification (the baseline, measured in the same
// run).  Identification loads every library twice (the plain module, then the final one, the
// second load only raising the reference count) and asks its information twice, so the
// ratio should stay near the cost of those loads, not grow with anything else.
// The same search runs through the korspi helper (the program's way) and in this process, and
// the helper's start (spawn and its first answer) is timed on its own.
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "picture/picture.h"
#include "platform/dynlib.h"
#include "platform/files.h"
#include "runner/helper_runner.h"
#include "plugins/spis.h"
#include "ratio.h"

namespace {

constexpr int kPlugins = 50;
namespace fs = std::filesystem;

fs::path g_host_folder;
std::string g_folder;  // core form, with its trailing "\"
std::vector<std::string> g_files;
const TGraphicMetaClass kBenchGraphic = {"TBenchGraphic", &TGraphic::Class, nullptr};

std::string CoreForm(std::string s) {
  for (char& c : s)
    if (c == '/') c = '\\';
  return s;
}

void MakeFolder() {
  char templ[] = "/tmp/korbench-plugins-XXXXXX";
  if (!::mkdtemp(templ)) std::abort();
  g_host_folder = templ;
  const fs::path fixture = fs::path(KOR_BINARY_DIR) / "spi" / "fixtures" / "fx_multi.spi";
  for (int i = 0; i < kPlugins; ++i) {
    const std::string name = "plugin" + std::to_string(100 + i) + ".spi";
    fs::copy_file(fixture, g_host_folder / name);
    g_files.push_back(CoreForm((g_host_folder / name).string()));
  }
  g_folder = CoreForm(g_host_folder.string()) + "\\";
}

void LoadUnload(benchmark::State& state) {
  for (auto _ : state) {
    std::vector<platform::DynamicLibrary> libs;
    libs.reserve(kPlugins);
    for (const std::string& f : g_files) libs.emplace_back(f);
    for (const auto& l : libs)
      if (!l) state.SkipWithError("a copy did not load");
    libs.clear();
  }
}

// Lends a runner that outlives it to the plug-in set, so that one helper serves every
// repetition as the program keeps it, however the repetitions of the two searches interleave.
class TLentRunner : public spirun::Runner {
 public:
  explicit TLentRunner(spirun::Runner& runner) : runner_(runner) {}
  spirun::LoadResult Load(const std::string& fileName, uint32_t required) override {
    return runner_.Load(fileName, required);
  }
  void Release(spirun::ModuleId id) override { runner_.Release(id); }
  void Expect(const std::vector<std::string>& fileNames, uint32_t required) override {
    runner_.Expect(fileNames, required);
  }
  void* Proc(spirun::ModuleId id, const char* name) override { return runner_.Proc(id, name); }
  int32_t IsSupported(spirun::ModuleId id, const std::string& name,
                      const uint8_t (&header)[spirun::kHeaderBytes], int32_t offset,
                      spirun::Fault& fault) override {
    return runner_.IsSupported(id, name, header, offset, fault);
  }
  int32_t GetPictureInfo(spirun::ModuleId id, const spirun::Input& input, spirun::PictureInfo& info,
                         spirun::Fault& fault) override {
    return runner_.GetPictureInfo(id, input, info, fault);
  }
  int32_t GetPicture(spirun::ModuleId id, bool preview, const spirun::Input& input,
                     const spirun::Progress& progress, std::unique_ptr<TDecodedPicture>& picture,
                     spirun::Fault& fault) override {
    return runner_.GetPicture(id, preview, input, progress, picture, fault);
  }

 private:
  spirun::Runner& runner_;
};

// The search with the modules on `runner`.
void SearchWith(benchmark::State& state, spirun::Runner& runner) {
  spirun::SetCurrent(std::make_unique<TLentRunner>(runner));
  TSPIs::SetDefaultGraphicClass(&kBenchGraphic);
  for (auto _ : state) {
    auto set = std::make_unique<TSPIs>(nullptr);
    set->Search(g_folder + "*.spi");
    state.PauseTiming();
    if (set->Count() != kPlugins) state.SkipWithError("wrong module count");
    set.reset();  // unloads the libraries, outside the measured span
    // The helper unloads them after the set let go; a call it must answer waits until it has,
    // so that the next search does not queue behind the unloading.
    spirun::Current().Load(g_folder + "none.spi", 0);
    TPicture::UnregisterFormatClass(&kBenchGraphic);
    state.ResumeTiming();
  }
  TSPIs::SetDefaultGraphicClass(nullptr);
  spirun::SetCurrent(nullptr);
}

// Through the helper, started once and kept between searches as the program keeps it.
void SetSearch(benchmark::State& state) {
  static spirun::THelperRunner helper(spirun::THelperRunner::DefaultHelperPath());
  SearchWith(state, helper);
}
void SetSearchInProcess(benchmark::State& state) {
  static spirun::TInProcessRunner inProcess;
  SearchWith(state, inProcess);
}

// A fresh helper: started, one plug-in loaded and identified, ended.
void HelperStart(benchmark::State& state) {
  for (auto _ : state) {
    spirun::THelperRunner runner(spirun::THelperRunner::DefaultHelperPath());
    if (!runner.Load(g_files[0], 0).Id) state.SkipWithError("the helper did not answer");
  }
}

}  // namespace

int main(int argc, char** argv) {
  // The machine is shared: the repetitions of all benchmarks run in a random order, so that a
  // change of load falls on the baseline as much as on what is measured against it.
  std::vector<char*> args(argv, argv + argc);
  char interleave[] = "--benchmark_enable_random_interleaving=true";
  args.insert(args.begin() + 1, interleave);
  int count = static_cast<int>(args.size());
  benchmark::Initialize(&count, args.data());
  MakeFolder();
  for (auto* b : {benchmark::RegisterBenchmark("load_unload_50", LoadUnload),
                  benchmark::RegisterBenchmark("set_search_50", SetSearch),
                  benchmark::RegisterBenchmark("set_search_50_in_process", SetSearchInProcess),
                  benchmark::RegisterBenchmark("helper_start", HelperStart)})
    b->Unit(benchmark::kMillisecond)->Repetitions(9)->ReportAggregatesOnly(true);
  benchratio::RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  const char* note = "two loads per library expected";
  benchratio::PrintRatio("real time", reporter.real, "set_search_50", "load_unload_50", note);
  benchratio::PrintRatio("CPU time", reporter.cpu, "set_search_50", "load_unload_50", note);
  benchratio::PrintRatio("real time", reporter.real, "set_search_50", "set_search_50_in_process",
                         "through the helper; target at most 1.5");
  std::printf("helper start (spawn, one plug-in identified, end): %.2f ms median real time\n",
              benchratio::Median(reporter.real, "helper_start"));
  std::error_code ignored;
  fs::remove_all(g_host_folder, ignored);
  benchmark::Shutdown();
  return 0;
}
