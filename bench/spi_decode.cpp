// Opening a 6000 x 4000 24-bit picture through the KVP1 decoding fixture plug-in with
// TPicture::LoadFile, against the plug-in's own GetPicture on the same file (the baseline,
// measured in the same run); and the same load through the korspi helper (the program's way)
// against the plug-in loaded into this process.  Prints the time ratio and, for both, the peak memory above
// the starting point in multiples of the pixel bytes (from the kernel's peak resident set, reset before each
// measurement).
#include <benchmark/benchmark.h>

#include <sys/resource.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <string>

#include "../spi/decode/kvp_format.h"
#include "graphics/spi_bitmap.h"
#include "picture/picture.h"
#include "platform/dynlib.h"
#include "platform/localmem.h"
#include "runner/runner.h"
#include "plugins/spis.h"

namespace fs = std::filesystem;

namespace {

constexpr int32_t kWidth = 6000, kHeight = 4000;
constexpr int64_t kPixelBytes = int64_t(kWidth) * 3 * kHeight;

std::string CorePath(const fs::path& p) {
  std::string s = p.string();
  for (char& c : s)
    if (c == '/') c = '\\';
  return s;
}

const fs::path& PictureFile() {
  static const fs::path file = [] {
    fs::path p = fs::temp_directory_path() / ("korvale-bench-" + std::to_string(getpid()) + ".kvp");
    std::ofstream out(p, std::ios::binary);
    unsigned char head[KVP_HEADER_SIZE] = {'K', 'V', 'P', '1'};
    auto put = [&](int at, uint32_t v) {
      for (int i = 0; i < 4; ++i) head[at + i] = static_cast<unsigned char>(v >> (8 * i));
    };
    put(4, kWidth);
    put(8, kHeight);
    head[12] = 24;
    out.write(reinterpret_cast<const char*>(head), sizeof head);
    std::string row(static_cast<size_t>(kWidth) * 3, '\0');
    for (int32_t y = 0; y < kHeight; ++y) {
      for (size_t i = 0; i < row.size(); ++i)
        row[i] = static_cast<char>((i * 7 + static_cast<size_t>(y)) & 0xFF);
      out.write(row.data(), static_cast<std::streamsize>(row.size()));
    }
    return p;
  }();
  return file;
}

fs::path PluginFile() { return fs::path(KOR_BINARY_DIR) / "spi" / "decode" / "kvpdec.spi"; }

// Peak resident memory since the last reset, in bytes above the resident size at that reset.
class PeakMeter {
 public:
  void Reset() {
    std::ofstream("/proc/self/clear_refs") << "5";
    start_ = Status("VmRSS:");
  }
  int64_t Peak() const { return Status("VmHWM:") - start_; }

 private:
  static int64_t Status(const char* key) {
    std::ifstream in("/proc/self/status");
    std::string line;
    while (std::getline(in, line))
      if (line.rfind(key, 0) == 0) return std::atoll(line.c_str() + std::strlen(key)) * 1024;
    return 0;
  }
  int64_t start_ = 0;
};

std::map<std::string, double>& Peaks() {
  static std::map<std::string, double> peaks;
  return peaks;
}

void PluginGetPicture(benchmark::State& state) {
  platform::DynamicLibrary lib(CorePath(PluginFile()));
  auto getPicture = reinterpret_cast<SPI_GetPicture>(lib.Proc("GetPicture"));
  if (!getPicture) {
    state.SkipWithError("kvpdec.spi not built");
    return;
  }
  const std::string name = CorePath(PictureFile());
  PeakMeter meter;
  int64_t peak = 0;
  for (auto _ : state) {
    meter.Reset();
    spi_hlocal_t info = nullptr, bits = nullptr;
    if (getPicture(name.c_str(), 0, SPI_INPUT_FILE, &info, &bits, nullptr, 0) != 0)
      state.SkipWithError("decode failed");
    benchmark::DoNotOptimize(bits);
    peak = std::max(peak, meter.Peak());
    platform::LocalFreeBlock(info);
    platform::LocalFreeBlock(bits);
  }
  Peaks()["PluginGetPicture"] = double(peak) / double(kPixelBytes);
}

// TPicture::LoadFile with the plug-in set's modules on `runner` (null: the helper, as in the
// program).  The peak is this process's own: with the helper, the picture's shared block as the
// bitmap reads it plus the bitmap's copy.
void LoadFileWith(benchmark::State& state, std::unique_ptr<spirun::Runner> runner, const char* label) {
  spirun::SetCurrent(std::move(runner));
  {
    TSPIs set(nullptr);
    set.Add(CreateSPI(CorePath(PluginFile())));
    const std::string name = CorePath(PictureFile());
    PeakMeter meter;
    int64_t peak = 0;
    for (auto _ : state) {
      meter.Reset();
      {
        TPicture picture;
        picture.LoadFile(name);
        if (picture.Width() != kWidth) state.SkipWithError("wrong picture");
        peak = std::max(peak, meter.Peak());
      }
    }
    Peaks()[label] = double(peak) / double(kPixelBytes);
  }
  spirun::SetCurrent(nullptr);
}

void PictureLoadFile(benchmark::State& state) { LoadFileWith(state, nullptr, "PictureLoadFile"); }

void PictureLoadFileInProcess(benchmark::State& state) {
  LoadFileWith(state, std::make_unique<spirun::TInProcessRunner>(), "PictureLoadFileInProcess");
}

// Medians of five repetitions: the machine is shared, and single runs wander.
BENCHMARK(PluginGetPicture)->Unit(benchmark::kMillisecond)->MinTime(1.0)->UseRealTime()->Repetitions(5);
BENCHMARK(PictureLoadFile)->Unit(benchmark::kMillisecond)->MinTime(1.0)->UseRealTime()->Repetitions(5);
BENCHMARK(PictureLoadFileInProcess)
    ->Unit(benchmark::kMillisecond)
    ->MinTime(1.0)
    ->UseRealTime()
    ->Repetitions(5);

// Collects each benchmark's median real and CPU time per iteration for the summary.
class Collector : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& r : runs) {
      if (r.run_type != Run::RT_Aggregate || r.aggregate_name != "median") continue;
      const std::string name = r.benchmark_name();
      times[name.substr(0, name.find('/'))] = r.GetAdjustedRealTime();
      cpu[name.substr(0, name.find('/'))] = r.GetAdjustedCPUTime();
    }
    ConsoleReporter::ReportRuns(runs);
  }
  std::map<std::string, double> times;
  std::map<std::string, double> cpu;
};

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  InitSPIBitmapUnit();
  PictureFile();
  Collector reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  const double base = reporter.times["PluginGetPicture"];
  const double load = reporter.times["PictureLoadFile"];
  if (base > 0 && load > 0) {
    std::printf(
        "\nTPicture::LoadFile / plug-in GetPicture: %.2fx real time, %.2fx CPU time (aim: at most 1.1x)\n",
        load / base, reporter.cpu["PictureLoadFile"] / reporter.cpu["PluginGetPicture"]);
  }
  const double inProcess = reporter.times["PictureLoadFileInProcess"];
  if (inProcess > 0 && load > 0)
    std::printf(
        "TPicture::LoadFile through the helper / in this process: %.2fx real time (target at most 1.1x)\n",
        load / inProcess);
  for (const auto& [name, peak] : Peaks())
    std::printf("peak memory of %s: %.2fx the pixel bytes (%lld)\n", name.c_str(), peak,
                static_cast<long long>(kPixelBytes));
  std::error_code ec;
  fs::remove(PictureFile(), ec);
  benchmark::Shutdown();
  return 0;
}
