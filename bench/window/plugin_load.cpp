// Times a picture opened by the host through a plug-in that knows nothing of this program
// (TPicture::LoadFile, as the viewer opens it: the plug-in runs in the helper and the picture
// comes back through its shared block) against the same plug-in's own GetPicture on the same file
// in this process, turn about in one run, and prints the medians and their ratio.
//
//   bench_plugin_load.exe ROUNDS PLUGIN FILE
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include "median.h"
#include "picture/picture.h"
#include "platform/dynlib.h"
#include "platform/localmem.h"
#include "plugins/spi.h"
#include "plugins/spi_api.h"
#include "plugins/spis.h"
#include "rtl/exceptions.h"

namespace {

double Timed(const std::function<bool()>& run) {
  const auto start = std::chrono::steady_clock::now();
  const bool ok = run();
  const std::chrono::duration<double, std::milli> took = std::chrono::steady_clock::now() - start;
  return ok ? took.count() : -1;
}

// The plug-in loaded into this process and asked for the picture, its blocks freed after: what
// the plug-in itself costs, with nothing of the host around it.
bool OwnDecode(SPI_GetPicture getPicture, const char* file) {
  spi_hlocal_t info = nullptr, bits = nullptr;
  const bool ok = getPicture(file, 0, SPI_INPUT_FILE, &info, &bits, nullptr, 0) == SPI_SUCCESS && bits;
  platform::LocalFreeBlock(info);
  platform::LocalFreeBlock(bits);
  return ok;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: bench_plugin_load ROUNDS PLUGIN FILE\n");
    return 2;
  }
  const int rounds = std::max(1, std::atoi(argv[1]));
  const char* plugin = argv[2];
  const char* file = argv[3];
  try {
    platform::DynamicLibrary lib(plugin);
    const auto getPicture = reinterpret_cast<SPI_GetPicture>(lib.Proc("GetPicture"));
    if (!getPicture) {
      std::fprintf(stderr, "%s: no GetPicture\n", plugin);
      return 1;
    }
    TSPIs plugins(nullptr);
    plugins.Add(CreateSPI(plugin));
    std::vector<double> ownTimes, hostTimes;
    // One of each first: the file in the system's cache, the helper started and its block made.
    for (int r = -1; r < rounds; ++r) {
      const double o = Timed([&] { return OwnDecode(getPicture, file); });
      const double h = Timed([&] {
        TPicture picture;
        picture.LoadFile(file);
        return picture.Width() > 0;
      });
      if (o < 0 || h < 0) {
        std::fprintf(stderr, "%s: decode failed\n", file);
        return 1;
      }
      if (r >= 0) {
        ownTimes.push_back(o);
        hostTimes.push_back(h);
      }
    }
    const double o = Median(ownTimes), h = Median(hostTimes);
    std::printf("the plug-in's own GetPicture %.1f ms, TPicture::LoadFile through the helper %.1f ms, ratio %.2f\n",
                o, h, h / o);
  } catch (const Exception& e) {
    std::fprintf(stderr, "%s\n", e.Message().c_str());
    return 1;
  }
  return 0;
}
