// A picture a plug-in decoded, as the host keeps it: the BITMAPINFO block and the pixel bits,
// checked before anyone reads them, with the layout the checks computed.
#ifndef KORVALE_PLUGINS_DECODED_H
#define KORVALE_PLUGINS_DECODED_H

#include <cstddef>
#include <cstdint>
#include <memory>

#include "platform/dib.h"
#include "platform/localmem.h"

// The geometry and sizes of a decoded BITMAPINFO, computed in 64 bits.  The BMP file image and
// the drawing use exactly InfoSize bytes of the info block and BitsSize bytes of the bits.
struct TDecodedLayout {
  int32_t Width = 0;
  int32_t Height = 0;  // as stored: negative for top-down rows
  uint16_t BitCount = 0;
  int32_t ColorCount = 0;
  int32_t HeaderSize = 40;  // 108 or 124 when the block really holds such a header before its colours
  int32_t MaskBytes = 0;    // 12 for a bit-field picture with a 40-byte header: the masks follow it
  int32_t InfoSize = 0;     // HeaderSize + MaskBytes + 4 * ColorCount
  int32_t BitsSize = 0;     // padded row bytes * |Height|
  bool FourBitPixels = false;
};

// Fills `layout` from a header; false when the header is not one a picture can be made of
// (biSize below 40, a bit count other than 1, 4, 8, 16, 24, 32, a width or height of 0, a
// negative width, or a BMP file image larger than 2 GB).  The colour table is taken to follow
// a 40-byte header (and the masks), whatever biSize says.
bool ComputeLayout(const platform::BitmapInfoHeader& header, TDecodedLayout& layout);

// The checks every decoded picture passes before it is kept: an info block of `infoBytes` that
// holds a sane header and its masks and colours, and a bits block of `bitsBytes` that holds every
// row.  A header of 108 or 124 bytes counts as such when the block holds it and its colours
// after it; otherwise the colours are read after 40 bytes, as for any other header.
bool CheckDecodedBlocks(const void* info, size_t infoBytes, size_t bitsBytes, TDecodedLayout& layout);

// Writes the BMP file image of a checked picture to `out` (14 + InfoSize + BitsSize bytes): the
// file header, InfoSize bytes of the info block, BitsSize bytes of the bits.
void WriteFileImage(const TDecodedLayout& layout, const void* info, const void* bits, uint8_t* out);

class TDecodedPicture {
 public:
  virtual ~TDecodedPicture() = default;
  // The blocks' addresses (a plug-in's blocks are locked on first request).
  virtual const void* Info() = 0;
  virtual const void* Bits() = 0;
  // The plug-in's own handles when the blocks are still the plug-in's; null otherwise.
  virtual platform::LocalHandle InfoHandle() const { return nullptr; }
  virtual platform::LocalHandle BitsHandle() const { return nullptr; }
  // Hands the plug-in's rows block, unlocked, to the caller, who frees it; null (and nothing
  // changes) when the rows are not a block of their own.  Info() and Bits() are not called after.
  virtual platform::LocalHandle TakeBits() { return nullptr; }
  // The rows (BitsSize bytes) when they lie in a block that may outlive this object, its owner
  // sharing in the returned pointer; null when the picture is held some other way.  The info
  // block is never shared: Info() is the holder's own copy.
  virtual std::shared_ptr<const uint8_t> SharedBits() const { return nullptr; }
  const TDecodedLayout& Layout() const { return layout_; }

 protected:
  TDecodedLayout layout_;
};

#endif
