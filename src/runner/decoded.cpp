#include "runner/decoded.h"

#include <cstring>
#include <limits>

#include "platform/dib_layout.h"

bool ComputeLayout(const platform::BitmapInfoHeader& h, TDecodedLayout& out) {
  out = TDecodedLayout{};
  const uint16_t bits = h.biBitCount;
  if (h.biSize < 40) return false;
  if (!KorDibValidDepth(bits)) return false;
  if (h.biWidth <= 0 || h.biHeight == 0) return false;
  const int64_t colors = static_cast<int64_t>(KorDibColorEntries(bits, h.biClrUsed));
  // A bit-field picture keeps its three masks between the header and the colours; without them
  // the BMP file image would read the first pixels as masks.
  const int64_t masks = (h.biCompression == platform::kBI_BITFIELDS && (bits == 16 || bits == 32)) ? 12 : 0;
  const int64_t infoSize = 40 + masks + 4 * colors;
  const int64_t bitsSize = static_cast<int64_t>(KorDibImageBytes(h.biWidth, h.biHeight, bits));
  const int64_t limit = std::numeric_limits<int32_t>::max();
  if (infoSize > limit || bitsSize > limit || 14 + infoSize + bitsSize > limit) return false;
  out.Width = h.biWidth;
  out.Height = h.biHeight;
  out.BitCount = bits;
  out.ColorCount = static_cast<int32_t>(colors);
  out.MaskBytes = static_cast<int32_t>(masks);
  out.InfoSize = static_cast<int32_t>(infoSize);
  out.BitsSize = static_cast<int32_t>(bitsSize);
  out.FourBitPixels = bits == 4;
  return true;
}

bool CheckDecodedBlocks(const void* info, size_t infoBytes, size_t bitsBytes, TDecodedLayout& layout) {
  layout = TDecodedLayout{};
  if (!info || infoBytes < sizeof(platform::BitmapInfoHeader)) return false;
  platform::BitmapInfoHeader header;
  std::memcpy(&header, info, sizeof header);
  TDecodedLayout computed;
  if (!ComputeLayout(header, computed)) return false;
  // A version 4 or 5 header holds the masks itself, and the colours follow all of it.
  if (header.biSize == 108 || header.biSize == 124) {
    const int64_t full = int64_t(header.biSize) + 4 * int64_t(computed.ColorCount);
    // The larger info block is held to the same limit as the one ComputeLayout checked.
    if (static_cast<uint64_t>(full) <= infoBytes &&
        14 + full + int64_t(computed.BitsSize) <= std::numeric_limits<int32_t>::max()) {
      computed.HeaderSize = static_cast<int32_t>(header.biSize);
      computed.MaskBytes = 0;
      computed.InfoSize = static_cast<int32_t>(full);
    }
  }
  if (static_cast<size_t>(computed.InfoSize) > infoBytes ||
      static_cast<size_t>(computed.BitsSize) > bitsBytes)
    return false;
  layout = computed;
  return true;
}

void WriteFileImage(const TDecodedLayout& layout, const void* info, const void* bits, uint8_t* out) {
  const uint32_t infoBytes = static_cast<uint32_t>(layout.InfoSize);
  const uint32_t fileSize = 14u + infoBytes + static_cast<uint32_t>(layout.BitsSize);
  const uint32_t offBits = 14u + infoBytes;
  std::memset(out, 0, 14);
  out[0] = 'B';
  out[1] = 'M';
  for (int i = 0; i < 4; ++i) {
    out[2 + i] = static_cast<uint8_t>(fileSize >> (8 * i));
    out[10 + i] = static_cast<uint8_t>(offBits >> (8 * i));
  }
  std::memcpy(out + 14, info, infoBytes);
  std::memcpy(out + 14 + infoBytes, bits, static_cast<size_t>(layout.BitsSize));
}
