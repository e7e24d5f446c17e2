// The block a decoded picture crosses from the helper to the program in: one contract both
// programs use.  The helper describes the block it made from a checked picture; the program
// checks the description it was sent before it maps anything, then takes the header and colour
// table out of the mapped bytes once, into its own memory, and reads only the rows from the block
// afterwards.  Every size is a 64-bit number, capped before it is narrowed to a size_t (a 32-bit
// program must not see a wrapped size), and the layout must lie inside the bytes really mapped.
#ifndef KORVALE_PLUGINS_PICTURE_BLOCK_H
#define KORVALE_PLUGINS_PICTURE_BLOCK_H

#include <cstddef>
#include <cstdint>
#include <vector>

#include "runner/decoded.h"

namespace spiproto {

// The largest info block (header, masks, colours) a picture may bring: the largest header, its
// masks and 65536 colours.  A real picture has at most 256 colours in its table.
inline constexpr uint64_t kMaxInfoBytes = 124 + 12 + 4 * 65536;
// The largest picture block either side accepts, whatever budget it is given: 2 GB, and less
// than half of what a size_t counts on a 32-bit program.
inline constexpr uint64_t kMaxBlockBytes = 0x7FFFFFFFu;

struct TPictureBlock {
  // Where the BMP file image starts in the block.  Its rows follow 14 bytes of file header and
  // the info block; two bytes ahead of it put a 40-, 108- or 124-byte header's colours and rows
  // on a 4-byte boundary, so the program's bitmap can keep the rows in place.
  static constexpr uint64_t kImageOffset = 2;

  uint64_t Offset = kImageOffset;
  uint64_t InfoBytes = 0;
  uint64_t BitsBytes = 0;
  uint64_t MappedBytes = 0;

  // The block a checked picture of `layout` needs.
  static TPictureBlock For(const TDecodedLayout& layout);

  // Whether the description is sound against `cap` bytes (the caller's budget; the smaller of it
  // and kMaxBlockBytes counts): every size within the cap, the info block within kMaxInfoBytes,
  // and offset, file header, info and bits exactly filling the mapped bytes.
  bool Valid(uint64_t cap) const;

  // Where the info block and the rows lie in a block of this description.
  uint64_t InfoAt() const { return Offset + 14; }
  uint64_t BitsAt() const { return Offset + 14 + InfoBytes; }
};

// The program's side: `mapped` holds `mappedBytes` bytes of a block that `block` describes.
// Copies the info block out of it once into `info`, checks that copy as a decoded picture's info
// block, and requires its layout to match the description exactly.  False when anything does
// not hold; `info` and `layout` are then emptied.
bool TakeInfo(const TPictureBlock& block, uint64_t cap, const uint8_t* mapped, uint64_t mappedBytes,
              std::vector<uint8_t>& info, TDecodedLayout& layout);

}  // namespace spiproto

#endif
