// libFuzzer target: the program's reading of what the helper says.  The input is a 16-bit count
// of stream bytes, those bytes (the helper's answers as they arrive on the channel), and then the
// bytes of a shared block.  Every frame cut out of the stream goes through every answer's
// decoder; a picture answer's block description is checked against the contract, and when it
// holds, the header and colours are taken out of the block and the bitmap reads the picture with
// its rows left in the block, as the program does.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

#include "picture/bitmap.h"
#include "runner/picture_block.h"
#include "runner/protocol.h"
#include "rtl/exceptions.h"
#include "rtl/streams.h"

namespace {

void TakePicture(const spiproto::PictureDone& done, const std::shared_ptr<const uint8_t>& block,
                 size_t bytes) {
  std::vector<uint8_t> info;
  TDecodedLayout layout;
  // The cap the program applies when nothing smaller is set for the thread.
  if (!spiproto::TakeInfo(done.Block, spiproto::kMaxBlockBytes, block.get(), bytes, info, layout)) return;
  if (done.Block.MappedBytes > bytes || layout.InfoSize <= 0) __builtin_trap();
  // The file image as the program's stream gives it: its own header and info copy, then the rows.
  std::vector<uint8_t> image(14 + info.size() + static_cast<size_t>(layout.BitsSize));
  WriteFileImage(layout, info.data(), block.get() + done.Block.BitsAt(), image.data());
  const std::shared_ptr<const uint8_t> rows(block, block.get() + done.Block.BitsAt());
  TBitmap bitmap;
  try {
    TPointerStream stream(image.data(), static_cast<int64_t>(image.size()));
    bitmap.LoadFileImage(stream, rows, 14 + static_cast<int64_t>(info.size()));
  } catch (const Exception&) {
    return;
  }
  for (int y = 0; y < bitmap.Height() && y < 16; ++y)
    for (int x = 0; x < bitmap.Width() && x < 16; ++x) bitmap.PixelRGB(x, y);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  const size_t streamBytes = std::min<size_t>(size_t(data[0]) | size_t(data[1]) << 8, size - 2);
  const uint8_t* stream = data + 2;
  // The block in a memory of its own, exactly as long as the input gives it.
  const size_t blockBytes = size - 2 - streamBytes;
  std::shared_ptr<uint8_t> block(new uint8_t[blockBytes ? blockBytes : 1], std::default_delete<uint8_t[]>());
  if (blockBytes) std::memcpy(block.get(), stream + streamBytes, blockBytes);

  spiproto::FrameReader frames;
  // In two pieces, as reads of a pipe may cut it anywhere.
  frames.Append(stream, streamBytes / 2);
  spiproto::Frame frame;
  frames.Next(frame);
  frames.Append(stream + streamBytes / 2, streamBytes - streamBytes / 2);
  for (int n = 0; n < 64 && frames.Next(frame) == spiproto::FrameReader::kFrame; ++n) {
    spiproto::Loaded loaded;
    spiproto::Result result;
    spiproto::Info info;
    spiproto::FaultReport fault;
    spiproto::Decode(frame, loaded);
    spiproto::Decode(frame, result);
    spiproto::Decode(frame, info);
    spiproto::Decode(frame, fault);
    spiproto::PictureDone done;
    if (spiproto::Decode(frame, done)) {
      // Whatever decodes encodes back to the very same frame.
      if (spiproto::Encode(done, frame.Seq).substr(spiproto::kHeaderBytes) != frame.Payload) __builtin_trap();
      TakePicture(done, block, blockBytes);
    }
  }
  return 0;
}
