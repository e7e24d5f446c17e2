#include "runner/picture_block.h"

#include <algorithm>
#include <cstring>

namespace spiproto {

TPictureBlock TPictureBlock::For(const TDecodedLayout& layout) {
  TPictureBlock b;
  b.InfoBytes = static_cast<uint64_t>(std::max<int32_t>(layout.InfoSize, 0));
  b.BitsBytes = static_cast<uint64_t>(std::max<int32_t>(layout.BitsSize, 0));
  b.MappedBytes = b.Offset + 14 + b.InfoBytes + b.BitsBytes;
  return b;
}

bool TPictureBlock::Valid(uint64_t cap) const {
  const uint64_t limit = std::min(cap, kMaxBlockBytes);
  // Each term is checked before the sum, so the sum cannot wrap even in 64 bits.
  if (Offset != kImageOffset || InfoBytes < sizeof(platform::BitmapInfoHeader) || InfoBytes > kMaxInfoBytes ||
      BitsBytes > limit || MappedBytes > limit)
    return false;
  return Offset + 14 + InfoBytes + BitsBytes == MappedBytes;
}

bool TakeInfo(const TPictureBlock& block, uint64_t cap, const uint8_t* mapped, uint64_t mappedBytes,
              std::vector<uint8_t>& info, TDecodedLayout& layout) {
  info.clear();
  layout = TDecodedLayout{};
  if (!mapped || !block.Valid(cap) || mappedBytes < block.MappedBytes) return false;
  // One read of the shared bytes: whatever the other side writes there later is not seen.
  info.assign(mapped + block.InfoAt(), mapped + block.InfoAt() + block.InfoBytes);
  TDecodedLayout checked;
  if (!CheckDecodedBlocks(info.data(), info.size(), static_cast<size_t>(block.BitsBytes), checked) ||
      static_cast<uint64_t>(checked.InfoSize) != block.InfoBytes ||
      static_cast<uint64_t>(checked.BitsSize) != block.BitsBytes) {
    info.clear();
    return false;
  }
  layout = checked;
  return true;
}

}  // namespace spiproto
