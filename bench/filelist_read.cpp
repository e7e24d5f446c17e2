// Reading a folder of 20,000 files through the file list's ApplyPath, against a bare
// enumeration of the same folder with the directory search alone (the baseline, measured in
// the same run).  The ratio is printed at the end; the aim is at most 2.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "picture/filelist.h"
#include "platform/files.h"
#include "ratio.h"

namespace {

constexpr int kFiles = 20000;
std::string g_host_folder;  // "/tmp/..."
std::string g_folder;       // the same in the core's "\" form

void MakeFolder() {
  char templ[] = "/tmp/korbench-filelist-XXXXXX";
  if (!::mkdtemp(templ)) std::abort();
  g_host_folder = templ;
  std::vector<int> order(kFiles);
  for (int i = 0; i < kFiles; ++i) order[static_cast<size_t>(i)] = i;
  std::shuffle(order.begin(), order.end(), std::mt19937(20000));
  for (int n : order) {
    char name[64];
    std::snprintf(name, sizeof name, "/photo-%05d.jpg", n);
    int fd = ::open((g_host_folder + name).c_str(), O_WRONLY | O_CREAT | O_EXCL, 0644);
    if (fd < 0) std::abort();
    ::close(fd);
  }
  const std::string here = platform::GetCurrentDir();
  platform::SetCurrentDir(g_host_folder);
  g_folder = platform::GetCurrentDir();
  platform::SetCurrentDir(here);
}

void BareEnumeration(benchmark::State& state) {
  // From inside the folder, as the list enumerates: names resolve without walking the path.
  platform::SetCurrentDir(g_folder);
  for (auto _ : state) {
    std::vector<std::string> names;
    platform::FileFinder finder("*.*");
    platform::FindEntry entry;
    while (finder.Next(entry)) names.push_back(entry.Name);
    if (names.size() != kFiles) state.SkipWithError("wrong count");
    benchmark::DoNotOptimize(names.data());
  }
}

void ApplyPathRead(benchmark::State& state) {
  for (auto _ : state) {
    TFileListBox list(nullptr);
    list.ApplyPath(g_folder + "\\");
    if (list.Count() != kFiles) state.SkipWithError("wrong count");
    benchmark::DoNotOptimize(list.Items().Items().data());
  }
}

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  MakeFolder();
  for (auto* b : {benchmark::RegisterBenchmark("bare_enumeration_20000", BareEnumeration),
                  benchmark::RegisterBenchmark("filelist_applypath_20000", ApplyPathRead)})
    b->Unit(benchmark::kMillisecond)->Repetitions(5)->ReportAggregatesOnly(true);
  benchratio::RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  for (auto [what, times] : {std::pair{"real time", &reporter.real}, std::pair{"CPU time", &reporter.cpu}})
    benchratio::PrintRatio(what, *times, "filelist_applypath_20000", "bare_enumeration_20000",
                           "aim: at most 2.00");
  std::error_code ignored;
  std::filesystem::remove_all(g_host_folder, ignored);
  benchmark::Shutdown();
  return 0;
}
