// The rows' block of the last picture, kept for the next one of the same size
// (plugins/spare_rows_api.h): a plug-in that asks for it decodes into pages already made.
//
// The helper keeps a block only once a plug-in has asked for one, so that a helper serving only
// plug-ins that never ask holds nothing more than before, and lets it go with its other blocks
// when no request came for a while.  A plug-in's call reaches the helper's one TSpareRows through
// the program's export (SpareRows()); the block moves in and out with one atomic exchange, so a
// call from a thread of the plug-in's own finds it whole or not at all.
#ifndef KORVALE_TOOLS_KORSPI_SPARE_ROWS_H
#define KORVALE_TOOLS_KORSPI_SPARE_ROWS_H

#include <atomic>
#include <cstddef>

#include "platform/localmem.h"

namespace korspi {

class TSpareRows {
 public:
  // Smaller blocks come from the heap cheaply; larger ones are not held between pictures (a
  // 32-bit helper needs its address space for the next picture of another size).
  static constexpr size_t kMinBytes = size_t(4) << 20;
  static constexpr size_t kMaxBytes = size_t(128) << 20;

  TSpareRows() = default;
  TSpareRows(const TSpareRows&) = delete;
  TSpareRows& operator=(const TSpareRows&) = delete;
  ~TSpareRows() { LetGo(); }

  // Takes `block` (a plug-in's rows, unlocked): kept when a plug-in has asked before and its size
  // is within the limits, the block kept before freed; otherwise freed at once.
  void Keep(platform::LocalHandle block);
  // The plug-in's call: the kept block when it has exactly `bytes`, no longer the helper's; null
  // otherwise, and nothing is kept any more.
  platform::LocalHandle Take(size_t bytes);
  bool Holding() const { return block_.load(std::memory_order_acquire) != nullptr; }
  void LetGo();

 private:
  std::atomic<platform::LocalHandle> block_{nullptr};
  std::atomic<bool> asked_{false};
};

// The helper's one spare, which the program's export hands out.
TSpareRows& SpareRows();

}  // namespace korspi

#endif
