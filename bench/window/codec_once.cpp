// The imaging codec alone, started as a program of its own: decodes one picture from its file
// into 24-bit rows and ends.  The stepping benchmark times it from its start to its end beside
// the viewer's cold start, so that what the viewer adds to a start (its window, the plug-in
// search, the helper) is told apart from what starting any program and its codec costs.
//
//   codec_once.exe PICTURE
#include <windows.h>

#include "ifwic/bench/wic_baseline.h"

int main(int argc, char** argv) {
  if (argc < 2) return 2;
  IWICImagingFactory* factory = ifwic_bench::startCodecs();
  if (!factory) return 1;
  const bool ok = ifwic_bench::wicDecode(factory, {}, argv[1]);
  factory->Release();
  return ok ? 0 : 1;
}
