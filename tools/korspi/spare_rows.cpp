#include "spare_rows.h"

namespace korspi {

void TSpareRows::Keep(platform::LocalHandle block) {
  if (!block) return;
  const size_t size = platform::LocalBlockSize(block);
  if (!asked_.load(std::memory_order_acquire) || size < kMinBytes || size > kMaxBytes) {
    platform::LocalFreeBlock(block);
    return;
  }
  if (platform::LocalHandle old = block_.exchange(block, std::memory_order_acq_rel))
    platform::LocalFreeBlock(old);
}

platform::LocalHandle TSpareRows::Take(size_t bytes) {
  asked_.store(true, std::memory_order_release);
  platform::LocalHandle block = block_.exchange(nullptr, std::memory_order_acq_rel);
  if (block && bytes > 0 && platform::LocalBlockSize(block) == bytes) return block;
  if (block) platform::LocalFreeBlock(block);
  return nullptr;
}

void TSpareRows::LetGo() {
  if (platform::LocalHandle block = block_.exchange(nullptr, std::memory_order_acq_rel))
    platform::LocalFreeBlock(block);
}

TSpareRows& SpareRows() {
  static TSpareRows spare;
  return spare;
}

}  // namespace korspi
