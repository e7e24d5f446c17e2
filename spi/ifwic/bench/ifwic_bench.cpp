// Times ifwic.spi against the imaging codecs alone, in one process and one run, and prints
// the ratios.  For each file given: the plug-in as the host calls it (IsSupported,
// GetPictureInfo, GetPicture) from memory and from the file, each against a plain decode to
// 24-bit BGR through the codec from the same source.
//
//   ifwic_bench.exe path\to\ifwic.spi rounds file...
#include <windows.h>
#include <shlwapi.h>
#include <wincodec.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "platform/win32/handles.h"
#include "plugins/spi_api.h"
#include "wic_baseline.h"

namespace {

using namespace ifwic_bench;

// An export as the entry-point type it has.
template <class T>
T proc(HMODULE lib, const char* name) {
  return reinterpret_cast<T>(reinterpret_cast<void*>(GetProcAddress(lib, name)));
}

struct Plugin {
  SPI_IsSupported isSupported;
  SPI_GetPictureInfo getPictureInfo;
  SPI_GetPicture getPicture;
};

// One host-style load: header check, information, picture; the blocks are freed again.
bool pluginDecode(const Plugin& spi, const char* path, const std::vector<char>& data, bool fromFile) {
  char header[2048] = {};
  std::memcpy(header, data.data(), data.size() < sizeof header ? data.size() : sizeof header);
  if (!spi.isSupported(path, static_cast<spi_dw_t>(reinterpret_cast<uintptr_t>(header)))) return false;
  SPI_PICTINFO info;
  HLOCAL hInfo = nullptr, hBits = nullptr;
  int r;
  if (fromFile) {
    if (spi.getPictureInfo(path, 0, SPI_INPUT_FILE, &info) != 0) return false;
    r = spi.getPicture(path, 0, SPI_INPUT_FILE, &hInfo, &hBits, nullptr, 0);
  } else {
    const spi_len_t len = static_cast<spi_len_t>(data.size());
    if (spi.getPictureInfo(data.data(), len, SPI_INPUT_MEMORY, &info) != 0) return false;
    r = spi.getPicture(data.data(), len, SPI_INPUT_MEMORY, &hInfo, &hBits, nullptr, 0);
  }
  const platform::win::LocalMemory infoBlock(hInfo), bitsBlock(hBits);
  return r == 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 4) {
    std::fprintf(stderr, "usage: ifwic_bench SPI ROUNDS FILE...\n");
    return 2;
  }
  const platform::win::Library library(LoadLibraryA(argv[1]));
  HMODULE lib = library.get();
  if (!lib) {
    std::fprintf(stderr, "cannot load %s\n", argv[1]);
    return 1;
  }
  Plugin spi{proc<SPI_IsSupported>(lib, "IsSupported"), proc<SPI_GetPictureInfo>(lib, "GetPictureInfo"),
             proc<SPI_GetPicture>(lib, "GetPicture")};
  if (!spi.isSupported || !spi.getPictureInfo || !spi.getPicture) return 1;
  const int rounds = std::atoi(argv[2]);
  IWICImagingFactory* factory = startCodecs();
  if (!factory) return 1;
  int status = 0;
  for (int i = 3; i < argc; ++i) {
    const std::vector<char> data = readAll(argv[i]);
    // The four are interleaved round by round, so that a burst of load elsewhere on the
    // machine hits them alike; the best round of each counts.
    double wicMem = 1e30, wicFile = 1e30, mem = 1e30, file = 1e30;
    for (int r = 0; r < rounds; ++r) {
      wicMem = std::min(wicMem, timed([&] { return wicDecode(factory, data, nullptr); }));
      mem = std::min(mem, timed([&] { return pluginDecode(spi, argv[i], data, false); }));
      wicFile = std::min(wicFile, timed([&] { return wicDecode(factory, data, argv[i]); }));
      file = std::min(file, timed([&] { return pluginDecode(spi, argv[i], data, true); }));
    }
    if (wicMem <= 0 || wicFile <= 0 || mem <= 0 || file <= 0) {
      std::printf("%s: decode failed\n", argv[i]);
      status = 1;
      continue;
    }
    std::printf(
        "%s\n  from memory: codec alone %.1f ms, plug-in %.1f ms, ratio %.2f\n"
        "  from file:   codec alone %.1f ms, plug-in %.1f ms, ratio %.2f\n",
        argv[i], wicMem * 1e3, mem * 1e3, mem / wicMem, wicFile * 1e3, file * 1e3, file / wicFile);
  }
  factory->Release();
  CoUninitialize();
  return status;
}
