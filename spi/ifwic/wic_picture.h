// One picture read through the platform's imaging codecs: the input bytes of a call, the
// decoder for their container, and the conversion of the first frame into a bottom-up DIB.
#ifndef KORVALE_SPI_IFWIC_WIC_PICTURE_H
#define KORVALE_SPI_IFWIC_WIC_PICTURE_H

#include <windows.h>
#include <wincodec.h>

#include <cstddef>
#include <memory>
#include <vector>

#include "com.h"
#include "platform/page_toucher.h"
#include "plugins/spi_api.h"
#include "sniff.h"

namespace ifwic {

// The bytes a call decodes: the host's memory block in place (flag 1), or the file range from
// the given offset (flag 0): the whole file mapped, or read into our own buffer where it cannot
// be mapped or only its head is wanted.
class InputBytes {
 public:
  // Returns an SPI result code.  `limit` caps how much of a file is read (for the header
  // parse of GetPictureInfo); memory blocks are never copied.
  int open(const char* buf, spi_len_t len, uint32_t flag, size_t limit = static_cast<size_t>(-1));
  const BYTE* data() const { return data_; }
  size_t size() const { return size_; }
  // True when a file was cut at `limit`.
  bool partial() const { return partial_; }

 private:
  int readFile(const char* name, spi_len_t offset, size_t limit);
  bool mapFile(const char* name, spi_len_t offset);

  platform::win::Handle file_;
  platform::win::Handle mapping_;
  platform::win::MappedView view_;
  std::unique_ptr<BYTE[]> owned_;
  const BYTE* data_ = nullptr;
  size_t size_ = 0;
  bool partial_ = false;
};

// True when the system's codecs can make a decoder for JPEG XR.
bool jpegXrDecodable(IWICImagingFactory* factory);

// A movable block for the rows, had before the codec decodes the picture: the last picture's,
// when our plug-in helper lends it (plugins/spare_rows_api.h), or a new one whose pages are made
// on a thread of their own while the codec works (platform/page_toucher.h).
class TouchedBlock {
 public:
  ~TouchedBlock() { finish(); }

  void start(SIZE_T bytes);
  // The block, unlocked, when it has `bytes` (its pages are made by then); otherwise it goes and
  // a new block is made.  Null when there is no memory.
  HLOCAL take(SIZE_T bytes);

 private:
  void finish();

  platform::win::LocalMemory block_;
  SIZE_T bytes_ = 0;
  void* data_ = nullptr;  // locked while its pages are made
  platform::PageToucher toucher_;
};

class WicPicture {
 public:
  // Opens the first frame of the bytes, which must carry one of our signatures.  COM must be
  // initialised on this thread for the life of the object.  Returns an SPI result code.
  // `decoding`: the frame will be decoded, and the rows' block is made meanwhile.
  int open(const BYTE* data, size_t size, bool decoding);

  // Fills the record from the frame (size, returned depth, density).
  int describe(SPI_PICTINFO* info, const Density& density);

  // Decodes the frame into a BITMAPINFO block and a bits block, both movable local memory,
  // returned unlocked.  Calls `progress` after every strip of rows; a non-zero answer stops
  // the decode with SPI_ABORT.
  int decode(HLOCAL* infoHandle, HLOCAL* bitsHandle, SPI_PROGRESS progress, spi_len_t lData,
             const Density& density);

 private:
  Density densityOf(const Density& parsed) const;
  // Horizontal and vertical density of the upright picture.
  Density uprightDensity(const Density& stored) const;
  // The frame's embedded ICC profile as the codec reads it or, where the codec offers none, as a
  // JPEG or TIFF holds it (some codecs read none there); empty when there is none.
  std::vector<BYTE> embeddedProfile() const;
  std::vector<BYTE> storedProfile() const;
  // The frame's size (each side 1 to 2^31 - 1) and pixel format; false for a broken frame.
  bool frameShape(UINT& width, UINT& height, WICPixelFormatGUID& format) const;

  Container container_ = Container::None;
  bool bigEndianTiff_ = false;
  HeaderInfo header_;
  int orientation_ = 1;
  ColourKey key_;
  const BYTE* bytes_ = nullptr;  // the bytes opened, which outlive the object (the codec reads them)
  size_t byteCount_ = 0;
  std::vector<uint8_t> patched_;  // the bytes the codec reads when they had to be amended
  ComPtr<IWICImagingFactory> factory_;
  ComPtr<IStream> stream_;
  ComPtr<IWICBitmapDecoder> decoder_;
  ComPtr<IWICBitmapFrameDecode> frame_;
  TouchedBlock rows_;  // the rows' block as the header foretells it
};

// Maps a codec failure to the SPI result the host expects.
int resultFor(HRESULT hr);

}  // namespace ifwic

#endif
