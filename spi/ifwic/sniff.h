// What the plug-in reads from the bytes themselves, without a codec: which container a block
// of data starts with, whether a JPEG stream reaches its end marker, and the pixel density the
// file records.  Every function takes the bytes and their count and reads nothing beyond them.
#ifndef KORVALE_SPI_IFWIC_SNIFF_H
#define KORVALE_SPI_IFWIC_SNIFF_H

#include <cstddef>
#include <cstdint>
#include <vector>

namespace ifwic {

enum class Container { None, Png, Jpeg, Gif, Tiff, JpegXr };

// The container whose signature the data starts with; None for anything else or too few bytes.
Container identify(const uint8_t* data, size_t size);

// True when the JPEG data walks from its start marker through its segments and entropy-coded
// scans to an end-of-image marker.  A truncated file fails here: the codec would otherwise fill
// the missing rows with grey and report success.
bool jpegComplete(const uint8_t* data, size_t size);

// True when every critical chunk of the PNG (IHDR, PLTE, IDAT, IEND: those whose type begins
// with a capital) up to IEND lies within the data and carries its right CRC.  Some codecs read
// past a wrong checksum and return pictures from damaged files.
bool pngChunksIntact(const uint8_t* data, size_t size);

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

// How the stored pixels are turned to stand upright, as the EXIF and TIFF orientation tag
// numbers it: 1 as stored, 2 mirrored left to right, 3 turned half round, 4 mirrored top to
// bottom, 5 mirrored along the main diagonal, 6 turned a quarter clockwise, 7 mirrored along
// the other diagonal, 8 turned a quarter anticlockwise.  Read from a JPEG's EXIF segment or a
// TIFF's first directory; 1 when the file has none or the tag is broken or out of range.
int readOrientation(Container container, const uint8_t* data, size_t size);

// A PNG's colour key: the tRNS sample values that mark transparent pixels of a grey (one value)
// or true-colour (red, green, blue) picture without an alpha channel, at the file's bit depth.
struct ColourKey {
  bool present = false;
  bool grey = false;
  int depth = 0;  // bits per sample
  uint16_t value[3] = {0, 0, 0};
};
ColourKey readPngColourKey(const uint8_t* data, size_t size);

// The embedded ICC colour profile of a JPEG (APP2 segments) or a TIFF (its first directory's
// profile tag), as stored; empty for other containers, for files without one, and for profiles
// whose pieces are missing or lie beyond the data.
std::vector<uint8_t> readIccProfile(Container container, const uint8_t* data, size_t size);

// A GIF without a global colour table, given the first frame's local table as its global one,
// so that a codec which reaches for the global table finds the colours the frame uses.  Empty
// when the file has a global table already, or when no first frame with a local table lies
// within the data.
std::vector<uint8_t> gifWithGlobalTable(const uint8_t* data, size_t size);

}  // namespace ifwic

#endif
