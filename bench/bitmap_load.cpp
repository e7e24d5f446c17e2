// Loading a 6000 x 4000 BMP through the picture container, 24-bit uncompressed and 8-bit
// run-length, against reading the same file's bytes into fresh memory with one read() (the
// baseline, measured in the same run).  Aims: uncompressed at most 1.5 x, run-length at most
// 3 x the baseline; peak heap of the uncompressed load at most 1.2 x its pixel bytes.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <malloc.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <new>
#include <random>
#include <string>
#include <vector>

#include "picture/bitmap.h"
#include "picture/picture.h"
#include "ratio.h"

// Heap accounting for the peak-memory figure: every operator new and malloc-backed buffer of
// the load goes through these (the bitmap's rows come from malloc, counted by the hooks below).
namespace {
std::atomic<int64_t> g_live{0}, g_peak{0};
void Count(int64_t delta) {
  const int64_t now = g_live.fetch_add(delta) + delta;
  int64_t peak = g_peak.load();
  while (now > peak && !g_peak.compare_exchange_weak(peak, now)) {
  }
}
}  // namespace

extern "C" void* __libc_malloc(size_t);
extern "C" void* __libc_calloc(size_t, size_t);
extern "C" void* __libc_realloc(void*, size_t);
extern "C" void __libc_free(void*);

extern "C" void* malloc(size_t n) {
  void* p = __libc_malloc(n);
  if (p) Count(static_cast<int64_t>(malloc_usable_size(p)));
  return p;
}
extern "C" void* calloc(size_t n, size_t m) {
  void* p = __libc_calloc(n, m);
  if (p) Count(static_cast<int64_t>(malloc_usable_size(p)));
  return p;
}
extern "C" void* realloc(void* old, size_t n) {
  const int64_t before = old ? static_cast<int64_t>(malloc_usable_size(old)) : 0;
  void* p = __libc_realloc(old, n);
  if (p) Count(static_cast<int64_t>(malloc_usable_size(p)) - before);
  return p;
}
extern "C" void free(void* p) {
  if (p) Count(-static_cast<int64_t>(malloc_usable_size(p)));
  __libc_free(p);
}

namespace {

constexpr int kWidth = 6000, kHeight = 4000;
std::string g_folder, g_rgb24, g_rle8, g_rle8flat, g_rle8noise;

void Put16(std::vector<uint8_t>& b, uint32_t v) {
  b.push_back(static_cast<uint8_t>(v));
  b.push_back(static_cast<uint8_t>(v >> 8));
}
void Put32(std::vector<uint8_t>& b, uint32_t v) {
  Put16(b, v);
  Put16(b, v >> 16);
}

std::vector<uint8_t> Header(uint32_t bits, uint32_t compression, uint32_t colours, size_t imageBytes) {
  std::vector<uint8_t> h;
  const uint32_t off = 14 + 40 + colours * 4;
  Put16(h, 0x4D42);
  Put32(h, static_cast<uint32_t>(off + imageBytes));
  Put32(h, 0);
  Put32(h, off);
  Put32(h, 40);
  Put32(h, kWidth);
  Put32(h, kHeight);
  Put16(h, 1);
  Put16(h, bits);
  Put32(h, compression);
  Put32(h, static_cast<uint32_t>(imageBytes));
  Put32(h, 2835);
  Put32(h, 2835);
  Put32(h, colours);
  Put32(h, 0);
  for (uint32_t i = 0; i < colours; ++i) Put32(h, i * 0x010101);
  return h;
}

// Writes header and body; a header made with image size 0 gets the body's size filled in.
void WriteFile(const std::string& name, std::vector<uint8_t> head, const std::vector<uint8_t>& body) {
  if (head[34] == 0 && head[35] == 0 && head[36] == 0 && head[37] == 0) {
    const uint32_t n = static_cast<uint32_t>(body.size()),
                   total = static_cast<uint32_t>(head.size() + body.size());
    for (int k = 0; k < 4; ++k)
      head[34 + k] = static_cast<uint8_t>(n >> (8 * k)), head[2 + k] = static_cast<uint8_t>(total >> (8 * k));
  }
  FILE* f = std::fopen(name.c_str(), "wb");
  if (!f || std::fwrite(head.data(), 1, head.size(), f) != head.size() ||
      std::fwrite(body.data(), 1, body.size(), f) != body.size())
    std::abort();
  std::fclose(f);
}

// Run-length data for kHeight rows of kWidth pixels made of runs whose lengths `runLength`
// draws: encoded runs for three or more equal pixels, absolute runs for the rest.
template <class Lengths>
std::vector<uint8_t> EncodeRle8(Lengths runLength, std::mt19937& random) {
  std::vector<uint8_t> rle;
  std::vector<uint8_t> pixels;
  for (int y = 0; y < kHeight; ++y) {
    pixels.clear();
    while (pixels.size() < static_cast<size_t>(kWidth)) {
      const size_t n = std::min<size_t>(runLength(), kWidth - pixels.size());
      pixels.insert(pixels.end(), n, static_cast<uint8_t>(random()));
    }
    size_t x = 0;
    while (x < pixels.size()) {
      size_t n = 1;
      while (x + n < pixels.size() && n < 255 && pixels[x + n] == pixels[x]) ++n;
      if (n >= 3) {
        rle.push_back(static_cast<uint8_t>(n));
        rle.push_back(pixels[x]);
        x += n;
        continue;
      }
      size_t m = 0;  // pixels up to the next run of three
      while (x + m < pixels.size() && m < 255 &&
             !(x + m + 2 < pixels.size() && pixels[x + m] == pixels[x + m + 1] &&
               pixels[x + m] == pixels[x + m + 2]))
        ++m;
      if (m < 3) {
        for (size_t k = 0; k < m; ++k) rle.insert(rle.end(), {1, pixels[x + k]});
      } else {
        rle.insert(rle.end(), {0, static_cast<uint8_t>(m)});
        rle.insert(rle.end(), pixels.begin() + static_cast<long>(x),
                   pixels.begin() + static_cast<long>(x + m));
        if (m & 1) rle.push_back(0);
      }
      x += m;
    }
    rle.insert(rle.end(), {0, 0});
  }
  rle.insert(rle.end(), {0, 1});
  return rle;
}

void MakeFiles() {
  char templ[] = "/tmp/korbench-bitmap-XXXXXX";
  if (!::mkdtemp(templ)) std::abort();
  g_folder = templ;
  g_rgb24 = g_folder + "/photo24.bmp";
  g_rle8 = g_folder + "/photo8rle.bmp";
  g_rle8flat = g_folder + "/flat8rle.bmp";
  g_rle8noise = g_folder + "/noise8rle.bmp";
  std::mt19937 random(6000);

  const size_t row24 = (kWidth * 3 + 3) / 4 * 4;
  std::vector<uint8_t> rgb(row24 * kHeight);
  for (auto& b : rgb) b = static_cast<uint8_t>(random());
  WriteFile(g_rgb24, Header(24, 0, 0, rgb.size()), rgb);

  WriteFile(g_rle8, Header(8, 1, 256, 0),
            EncodeRle8(
                [&]() -> size_t {
                  // A quantised photograph: mostly single pixels, some short runs, few long ones;
                  // the run-length file is about as large as its pixels.
                  const uint32_t r = random() % 100;
                  return r < 80 ? 1 : r < 95 ? 2 + random() % 3 : 5 + random() % 26;
                },
                random));
  // Every pixel drawn on its own (neighbours equal only by chance): absolute runs of 255.
  WriteFile(g_rle8noise, Header(8, 1, 256, 0), EncodeRle8([]() -> size_t { return 1; }, random));
  WriteFile(g_rle8flat, Header(8, 1, 256, 0),
            EncodeRle8([&]() -> size_t { return 1 + random() % 24; }, random));
}

void ReadWhole(benchmark::State& state, const std::string& name) {
  for (auto _ : state) {
    const int fd = ::open(name.c_str(), O_RDONLY);
    struct stat st {};
    ::fstat(fd, &st);
    std::unique_ptr<uint8_t[]> bytes(new uint8_t[static_cast<size_t>(st.st_size)]);
    if (::read(fd, bytes.get(), static_cast<size_t>(st.st_size)) != st.st_size)
      state.SkipWithError("short read");
    ::close(fd);
    benchmark::DoNotOptimize(bytes.get());
  }
}

void PictureLoad(benchmark::State& state, const std::string& name) {
  for (auto _ : state) {
    TPicture picture;
    picture.LoadFile(name);
    if (picture.Width() != kWidth) state.SkipWithError("wrong width");
    benchmark::DoNotOptimize(picture.Graphic());
  }
}

// The peak of live heap bytes during one load, over the image's pixel bytes.
double PeakOverPixels(const std::string& name, size_t pixelBytes) {
  const int64_t before = g_live.load();
  g_peak.store(before);
  {
    TPicture picture;
    picture.LoadFile(name);
  }
  return static_cast<double>(g_peak.load() - before) / static_cast<double>(pixelBytes);
}

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  MakeFiles();
  const auto add = [](const char* name, void (*fn)(benchmark::State&, const std::string&),
                      const std::string& file) {
    benchmark::RegisterBenchmark(name, fn, file)
        ->Unit(benchmark::kMillisecond)
        ->Repetitions(7)
        ->ReportAggregatesOnly(true);
  };
  add("read_bytes_24bit", ReadWhole, g_rgb24);
  add("picture_load_24bit", PictureLoad, g_rgb24);
  add("read_bytes_rle8", ReadWhole, g_rle8);
  add("picture_load_rle8", PictureLoad, g_rle8);
  add("read_bytes_rle8noise", ReadWhole, g_rle8noise);
  add("picture_load_rle8noise", PictureLoad, g_rle8noise);
  add("read_bytes_rle8flat", ReadWhole, g_rle8flat);
  add("picture_load_rle8flat", PictureLoad, g_rle8flat);
  benchratio::RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  for (const char* what : {"real time", "CPU time"}) {
    const auto& times = std::string(what) == "real time" ? reporter.real : reporter.cpu;
    benchratio::PrintRatio(what, times, "picture_load_24bit", "read_bytes_24bit", "aim: at most 1.50");
    benchratio::PrintRatio(what, times, "picture_load_rle8", "read_bytes_rle8", "aim: at most 3.00");
    benchratio::PrintRatio(what, times, "picture_load_rle8noise", "read_bytes_rle8noise",
                           "for information: no runs, the file is as large as its rows");
    benchratio::PrintRatio(what, times, "picture_load_rle8flat", "read_bytes_rle8flat",
                           "for information: the decoded rows are 6 x the file");
    benchratio::PrintRatio(what, times, "picture_load_rle8flat", "read_bytes_rle8noise",
                           "for information: against reading as many bytes as the rows hold");
  }
  const size_t pixels24 = static_cast<size_t>((kWidth * 3 + 3) / 4 * 4) * kHeight;
  const size_t pixels8 = static_cast<size_t>((kWidth + 3) / 4 * 4) * kHeight;
  std::printf("files: 24-bit %.1f MB, rle8 %.1f MB, rle8noise %.1f MB, rle8flat %.1f MB\n",
              static_cast<double>(std::filesystem::file_size(g_rgb24)) / 1e6,
              static_cast<double>(std::filesystem::file_size(g_rle8)) / 1e6,
              static_cast<double>(std::filesystem::file_size(g_rle8noise)) / 1e6,
              static_cast<double>(std::filesystem::file_size(g_rle8flat)) / 1e6);
  std::printf(
      "peak heap of one load / pixel bytes: 24-bit %.3f (aim: at most 1.20), rle8 %.3f "
      "(the kept file image counts too)\n",
      PeakOverPixels(g_rgb24, pixels24), PeakOverPixels(g_rle8, pixels8));
  std::error_code ignored;
  std::filesystem::remove_all(g_folder, ignored);
  benchmark::Shutdown();
  return 0;
}
