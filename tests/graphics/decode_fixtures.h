// Helpers of the plug-in graphics tests: KVP1 files for the decoding fixture plug-ins, the
// expected DIB rows of such a file, a plug-in set holding chosen fixtures, the fixtures' call
// trace, and a recorder of progress steps.
#ifndef KORVALE_TESTS_GRAPHICS_DECODE_FIXTURES_H
#define KORVALE_TESTS_GRAPHICS_DECODE_FIXTURES_H

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "picture/graphic.h"
#include "plugins/host/host_fixtures.h"
#include "plugins/spis.h"

namespace decodefx {

namespace fs = std::filesystem;

// One KVP1 picture (see spi/decode/kvp_format.h).
struct Kvp {
  int32_t width = 3;
  int32_t height = 2;  // negative: the plug-in returns top-down rows
  uint16_t bits = 24;
  uint32_t switches = 0;
  uint32_t clrUsed = 0;
  uint32_t masks[3] = {0x7C00, 0x03E0, 0x001F};  // written with KVP_BITFIELDS

  uint32_t Colors() const;
  size_t RowBytes() const;
  size_t Rows() const { return static_cast<size_t>(height < 0 ? -int64_t(height) : height); }
  // The file's bytes; with macBinary a 128-byte prefix comes first.
  std::string File(bool macBinary = false) const;
  // The pixel rows as the plug-in must hand them over (bottom-up unless height < 0).
  std::string DibRows() const;
  // The same picture as a BMP file (BI_RGB, 40-byte header).
  std::string Bmp() const;
  // The colour table entry i as B, G, R, 0.
  uint32_t ColorQuad(uint32_t i) const;
  // The colour the picture has at (x, y), top-left origin, as 0x00RRGGBB (1 to 8 and 24 bits).
  uint32_t RGB(int32_t x, int32_t y) const;
};

// Scratch folders and the core form of host paths are the plug-in host tests' own.
using hostfx::Core;
using hostfx::ScratchDir;
// The core path of a decoding fixture, e.g. Fixture("kvpdec").
std::string Fixture(const std::string& name);

// A plug-in set (the single one) holding the named fixtures in order; MacBinary on, preview
// off, no forced loader, as on the main window.
class PluginSet {
 public:
  explicit PluginSet(const std::vector<std::string>& fixtures);
  ~PluginSet();
  TSPIs& Set() { return *set_; }
  TInSPI* Module(size_t i) const;
  // The fixture's call trace since the last Clear.
  std::string Trace(size_t i) const;
  void ClearTraces() const;

 private:
  std::unique_ptr<TSPIs> set_;
};

struct Step {
  TObject* sender;
  TProgressStage stage;
  int percent;
  bool redraw;
  TRect rect;
  std::string msg;
};

// Collects progress steps; optionally raises from the listener.
class ProgressLog {
 public:
  TProgressEvent Listener();
  std::vector<Step> steps;
  // Steps as compact text: "S0:Loading Graphic by Susie Plugin|R1:...|E100*:..." ("*" RedrawNow).
  std::string Text() const;
  // Raise EAbort (or, with abortOther, an EInvalidOperation) at the running step with an empty
  // message whose number (0-based among those) is abortAt.
  int abortAt = -1;
  bool abortOther = false;

 private:
  int running_ = 0;
};

// Expects `g` to be a bitmap holding exactly the picture `k` (compared by colour).
void ExpectPicture(TGraphic& g, const Kvp& k);

// Live local-memory blocks: natively the seam's count; under Wine not counted (returns 0).
long LiveBlocks();

}  // namespace decodefx

#endif
