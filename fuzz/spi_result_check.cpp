// libFuzzer target: what a plug-in hands over, through the checks the helper makes before it
// hands a picture on, and what the program then reads.  The input gives the sizes of the two
// blocks (an info block of up to 4 KB, a bits block of up to 1 MB) and then their bytes.  A
// picture the checks accept is written as the helper writes it (the BMP file image), must pass
// the program's own second check with the same layout, and is read by the bitmap, by copy and in
// place (the two must agree).  The same
// bytes also go through the reading of a helper's answer, whose every read is bounded.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

#include "picture/bitmap.h"
#include "runner/decoded.h"
#include "runner/protocol.h"
#include "rtl/exceptions.h"
#include "rtl/streams.h"

namespace {
uint32_t U32(const uint8_t* p) {
  return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  {
    // The same bytes as the payload of a load's answer.
    spiproto::Frame frame;
    frame.Type = spiproto::kLoaded;
    frame.Payload.assign(reinterpret_cast<const char*>(data), size);
    spiproto::Loaded loaded;
    spiproto::Decode(frame, loaded);
  }
  if (size < 8) return 0;
  const size_t infoBytes = U32(data) % 4096;
  const size_t bitsBytes = U32(data + 4) % (1u << 20);
  std::vector<uint8_t> info(infoBytes), bits(bitsBytes);
  size_t at = 8;
  const size_t fromInfo = std::min(infoBytes, size - at);
  if (fromInfo) std::memcpy(info.data(), data + at, fromInfo);
  at += fromInfo;
  const size_t fromBits = std::min(bitsBytes, size - at);
  if (fromBits) std::memcpy(bits.data(), data + at, fromBits);

  TDecodedLayout layout;
  if (!CheckDecodedBlocks(info.data(), infoBytes, bitsBytes, layout)) return 0;
  std::vector<uint8_t> image(14 + static_cast<size_t>(layout.InfoSize) +
                             static_cast<size_t>(layout.BitsSize));
  WriteFileImage(layout, info.data(), bits.data(), image.data());

  TDecodedLayout again;
  if (!CheckDecodedBlocks(image.data() + 14, static_cast<size_t>(layout.InfoSize),
                          static_cast<size_t>(layout.BitsSize), again) ||
      again.InfoSize != layout.InfoSize || again.BitsSize != layout.BitsSize)
    __builtin_trap();

  TBitmap bmp;
  try {
    TPointerStream in(image.data(), static_cast<int64_t>(image.size()));
    bmp.LoadStream(in);
  } catch (const Exception&) {
    return 0;
  }
  // Read in place, as the program reads a picture from the helper's shared block (whose image
  // starts 2 bytes in, so that the rows are 4-byte aligned): the same picture as read by copy.
  std::shared_ptr<uint8_t> block(new uint8_t[image.size() + 2], std::default_delete<uint8_t[]>());
  std::memcpy(block.get() + 2, image.data(), image.size());
  TBitmap inPlace;
  try {
    inPlace.LoadFileImage(std::shared_ptr<const uint8_t>(block, block.get() + 2), image.size());
  } catch (const Exception&) {
    __builtin_trap();  // the copy read it
  }
  block.reset();  // the bitmap alone keeps the block alive now
  if (inPlace.Width() != bmp.Width() || inPlace.Height() != bmp.Height()) __builtin_trap();
  for (int y = 0; y < bmp.Height() && y < 32; ++y)
    for (int x = 0; x < bmp.Width() && x < 32; ++x)
      if (inPlace.PixelRGB(x, y) != bmp.PixelRGB(x, y)) __builtin_trap();
  return 0;
}
