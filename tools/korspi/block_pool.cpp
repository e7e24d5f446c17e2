#include "block_pool.h"

#include <algorithm>

namespace korspi {

void TBlockPool::Request(const std::vector<uint32_t>& returned) {
  untaken_ = 0;
  for (uint32_t id : returned)
    for (auto& b : blocks_)
      if (b->id == id) b->returned = true;
}

bool TBlockPool::Holding() const {
  return std::any_of(blocks_.begin(), blocks_.end(),
                     [this](const std::unique_ptr<Block>& b) { return b->id != untaken_; });
}

void TBlockPool::LetGo() {
  blocks_.erase(std::remove_if(blocks_.begin(), blocks_.end(),
                               [this](const std::unique_ptr<Block>& b) { return b->id != untaken_; }),
                blocks_.end());
}

bool TBlockPool::Fits(const Block& b, size_t bytes) {
  const size_t size = b.memory.Size();
  return b.returned && size >= bytes && size - bytes <= size / 4;
}

platform::SharedMemory* TBlockPool::Expect(size_t bytes) {
  if (std::any_of(blocks_.begin(), blocks_.end(),
                  [bytes](const std::unique_ptr<Block>& b) { return Fits(*b, bytes); }))
    return nullptr;
  Block* block = Make(bytes);
  if (!block) return nullptr;
  block->returned = true;
  return &block->memory;
}

TBlockPool::Block* TBlockPool::Make(size_t bytes) {
  // Returned blocks that do not fit go before a new one is made, and then the least recently
  // lent ones beyond the pool's size.
  blocks_.erase(std::remove_if(blocks_.begin(), blocks_.end(),
                               [](const std::unique_ptr<Block>& b) { return b->returned; }),
                blocks_.end());
  while (blocks_.size() >= maxBlocks_) blocks_.erase(blocks_.begin());
  platform::SharedMemory memory = platform::SharedMemory::Create(bytes);
  if (!memory && !blocks_.empty()) {
    // Short of room: the pool's own mappings are the first to give way.
    blocks_.clear();
    memory = platform::SharedMemory::Create(bytes);
  }
  if (!memory) return nullptr;
  blocks_.push_back(std::make_unique<Block>(Block{next_, false, std::move(memory)}));
  next_ = next_ == UINT32_MAX ? 1 : next_ + 1;
  return blocks_.back().get();
}

platform::SharedMemory* TBlockPool::Lend(size_t bytes, uint32_t& id) {
  id = 0;
  auto it = std::find_if(blocks_.begin(), blocks_.end(),
                         [bytes](const std::unique_ptr<Block>& b) { return Fits(*b, bytes); });
  if (it != blocks_.end()) {
    // The block lent last goes to the end, so that the least recently lent one goes first.
    std::rotate(it, it + 1, blocks_.end());
  } else if (!Make(bytes)) {
    return nullptr;
  }
  Block& block = *blocks_.back();
  block.returned = false;
  id = untaken_ = block.id;
  return &block.memory;
}

}  // namespace korspi
