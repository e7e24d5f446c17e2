// What the plug-in reads from the bytes themselves, without a codec: which container a block
// of data starts with, whether a JPEG stream reaches its end marker, and the pixel density the
// file records.  Every function takes the bytes and their count and reads nothing beyond them.
#ifndef KORVALE_SPI_IFWIC_SNIFF_H
#define KORVALE_SPI_IFWIC_SNIFF_H

#include <cstddef>
#include <cstdint>

namespace ifwic {

enum class Container { None, Png, Jpeg, Gif, Tiff, JpegXr };

// The container whose signature the data starts with; None for anything else or too few bytes.
Container identify(const uint8_t* data, size_t size);

// True when the JPEG data walks from its start marker through its segments and entropy-coded
// scans to an end-of-image marker.  A truncated file fails here: the codec would otherwise fill
// the missing rows with grey and report success.
bool jpegComplete(const uint8_t* data, size_t size);

// Density in dots per inch; 0 in both when the file records none (or only an aspect ratio).
struct Density {
  uint16_t x = 0;
  uint16_t y = 0;
};

// The density recorded by a PNG pHYs chunk, a JPEG JFIF segment or the first TIFF directory.
// GIF files record none; for other containers the result is empty as well.
Density readDensity(Container container, const uint8_t* data, size_t size);

// Size and returned depth (8 or 24) read from the header alone, so that asking for a picture's
// information never runs a full decode.  Known for PNG, JPEG and GIF; `known` is false for the
// other containers and for headers that do not parse, and the codec is asked instead.
struct HeaderInfo {
  bool known = false;
  uint32_t width = 0;  // of the picture returned: for GIF the logical screen
  uint32_t height = 0;
  int depth = 0;
  // GIF: where the first frame lies on the logical screen.  When it leaves part of the screen
  // uncovered (framePartial), that part shows the global table's background colour, or white
  // (background -1) when the frame is transparent or there is no usable background.
  uint32_t frameLeft = 0;
  uint32_t frameTop = 0;
  uint32_t frameWidth = 0;
  uint32_t frameHeight = 0;
  bool framePartial = false;
  bool localTable = false;
  int background = -1;
};
HeaderInfo readHeaderInfo(Container container, const uint8_t* data, size_t size);

}  // namespace ifwic

#endif
