// Times pictures opened by the host through ifwic.spi (TPicture::LoadFile with the plug-in set
// found in this program's folder, as the viewer finds it) against the same files decoded by the
// imaging codecs alone, in one process and one run, and prints the ratios.
//
//   ifwic_host_bench.exe rounds file...
#include <algorithm>
#include <cstdio>
#include <cstdlib>

#include "picture/picture.h"
#include "plugins/spis.h"
#include "rtl/exceptions.h"
#include "wic_baseline.h"

using namespace ifwic_bench;

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: ifwic_host_bench ROUNDS FILE...\n");
    return 2;
  }
  const int rounds = std::atoi(argv[1]);
  IWICImagingFactory* factory = startCodecs();
  if (!factory) return 1;
  int status = 0;
  try {
    TSPIs plugins(nullptr);
    plugins.SetGraphicPreview(false);
    plugins.SetSearchOptions({spsAppDir});
    plugins.SettingsApplied();
    for (int i = 2; i < argc; ++i) {
      const std::vector<char> none;
      double codec = 1e30, host = 1e30;
      for (int r = 0; r < rounds; ++r) {
        codec = std::min(codec, timed([&] { return wicDecode(factory, none, argv[i]); }));
        host = std::min(host, timed([&] {
                          TPicture picture;
                          picture.LoadFile(argv[i]);
                          return picture.Width() > 0;
                        }));
      }
      if (codec <= 0 || host <= 0) {
        std::printf("%s: decode failed\n", argv[i]);
        status = 1;
        continue;
      }
      std::printf("%s\n  TPicture::LoadFile %.1f ms, codec alone %.1f ms, ratio %.2f\n", argv[i], host * 1e3,
                  codec * 1e3, host / codec);
    }
  } catch (const Exception& e) {
    std::fprintf(stderr, "%s\n", e.Message().c_str());
    status = 1;
  }
  factory->Release();
  CoUninitialize();
  return status;
}
