// The helper's picture blocks.  Every picture goes to the program in a block of shared memory
// that the program maps and may keep as long as it shows the picture.  Once the program hands a
// block back (it no longer maps it), the next picture of a size that fits is written into that
// block, whose pages are already there: the first write to a fresh block costs a page fault per
// page (under Wine, whose sections are backed by a file, about three times a private page's
// cost, more than the copy itself), and a person stepping through a folder of photos mostly
// meets pictures of one size.
//
// The pool is small: a few blocks, and the helper lets all of them go when no request came for
// a while (LetGo), so that it holds no memory of pictures the program dropped while a person
// looks at one.  Letting a block go never harms the program: its own mapping keeps it alive.
#ifndef KORVALE_TOOLS_KORSPI_BLOCK_POOL_H
#define KORVALE_TOOLS_KORSPI_BLOCK_POOL_H

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "platform/shmem.h"

namespace korspi {

class TBlockPool {
 public:
  // How long the helper waits for a request before it lets the pool go.
  static constexpr int kIdleMs = 2000;

  // At most `maxBlocks` blocks are kept.
  explicit TBlockPool(size_t maxBlocks = 3) : maxBlocks_(maxBlocks ? maxBlocks : 1) {}

  // A request arrived: the program has taken the last block lent by now.  `returned` are the
  // numbers of blocks it no longer maps; numbers the pool does not know are ignored.
  void Request(const std::vector<uint32_t>& returned);
  // A block of at least `bytes` (all of them writable) for the next picture: a returned one that
  // fits without wasting more than a quarter, or a new zero-filled one.  Null when none can be
  // made.  `id` is the number the program hands back.
  platform::SharedMemory* Lend(size_t bytes, uint32_t& id);
  // The next picture is expected to need `bytes`: when no returned block fits, a new one is made
  // now and kept as returned, so that the next Lend() of that size takes it.  Its memory, for
  // the caller to touch while the picture is decoded; null when a block fits or none was made.
  platform::SharedMemory* Expect(size_t bytes);
  // Whether the pool holds a block that LetGo() would let go.
  bool Holding() const;
  // Lets every block go but one lent and not yet taken by the program.
  void LetGo();

 private:
  struct Block {
    uint32_t id;
    bool returned;
    platform::SharedMemory memory;
  };
  static bool Fits(const Block& b, size_t bytes);
  // A new block of `bytes` at the end of the pool, not returned; null when none can be made.
  Block* Make(size_t bytes);

  const size_t maxBlocks_;
  std::vector<std::unique_ptr<Block>> blocks_;  // the least recently lent first
  uint32_t next_ = 1;
  uint32_t untaken_ = 0;  // the last block lent, until the next request shows it was taken
};

}  // namespace korspi

#endif
