#include "sniff.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "platform/dib_layout.h"

namespace ifwic {

namespace {

const uint8_t kPng[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};

inline uint32_t be16(const uint8_t* p) { return (p[0] << 8) | p[1]; }
inline uint32_t be32(const uint8_t* p) {
  return (static_cast<uint32_t>(p[0]) << 24) | (p[1] << 16) | (p[2] << 8) | p[3];
}

uint16_t clampDpi(double v) {
  if (!(v > 0)) return 0;
  if (v > 65535) return 65535;
  return static_cast<uint16_t>(std::lround(v));
}

Density pngDensity(const uint8_t* data, size_t size) {
  Density d;
  size_t pos = 8;
  while (pos + 8 <= size) {
    const uint32_t length = be32(data + pos);
    const uint8_t* type = data + pos + 4;
    if (std::memcmp(type, "IDAT", 4) == 0) break;
    if (std::memcmp(type, "pHYs", 4) == 0) {
      if (length == 9 && pos + 8 + 9 <= size && data[pos + 16] == 1) {  // unit 1: per metre
        d.x = clampDpi(be32(data + pos + 8) * 0.0254);
        d.y = clampDpi(be32(data + pos + 12) * 0.0254);
      }
      break;
    }
    if (length > size - pos - 8) break;  // also guards the addition below
    pos += 8 + static_cast<size_t>(length) + 4;
  }
  return d;
}

// Walks the segments of a JPEG before its first scan, passing over fill bytes.  `visit(marker,
// segment, length)` sees each marker with its segment from the length field on (`length` bytes,
// all within the data) and returns true to stop the walk.
template <class Visit>
void walkJpegHeaders(const uint8_t* data, size_t size, Visit visit) {
  size_t pos = 2;
  while (pos + 4 <= size && data[pos] == 0xFF) {
    const uint8_t marker = data[pos + 1];
    if (marker == 0xFF) {
      ++pos;
      continue;
    }
    if (marker == 0xDA || marker == 0xD9) return;
    const uint32_t length = be16(data + pos + 2);
    if (length < 2 || length > size - pos - 2) return;
    if (visit(marker, data + pos + 2, length)) return;
    pos += 2 + length;
  }
}

Density jfifDensity(const uint8_t* data, size_t size) {
  Density d;
  walkJpegHeaders(data, size, [&](uint8_t marker, const uint8_t* segment, uint32_t length) {
    if (marker != 0xE0 || length < 14 || std::memcmp(segment + 2, "JFIF", 5) != 0) return false;
    const uint8_t* s = segment + 2;
    const uint8_t units = s[7];
    const double scale = units == 1 ? 1.0 : units == 2 ? 2.54 : 0.0;
    d.x = clampDpi(be16(s + 8) * scale);
    d.y = clampDpi(be16(s + 10) * scale);
    return true;
  });
  return d;
}

// Reads the first TIFF directory's XResolution, YResolution and ResolutionUnit.
class TiffReader {
 public:
  TiffReader(const uint8_t* data, size_t size) : data_(data), size_(size), little_(data[0] == 'I') {}

  Density density() const {
    Density d;
    uint32_t ifd;
    if (!u32(4, ifd)) return d;
    uint32_t count;
    if (!u16(ifd, count)) return d;
    double xres = 0, yres = 0;
    uint32_t unit = 2;  // inches unless the file says otherwise
    for (uint32_t i = 0; i < count; ++i) {
      const uint64_t entry = static_cast<uint64_t>(ifd) + 2 + 12ull * i;
      uint32_t tag, type;
      if (!u16(entry, tag) || !u16(entry + 2, type)) break;
      if ((tag == 282 || tag == 283) && type == 5) {
        uint32_t offset, num, den;
        if (u32(entry + 8, offset) && u32(offset, num) && u32(static_cast<uint64_t>(offset) + 4, den) && den)
          (tag == 282 ? xres : yres) = static_cast<double>(num) / den;
      } else if (tag == 296 && type == 3) {
        u16(entry + 8, unit);
      }
    }
    const double scale = unit == 2 ? 1.0 : unit == 3 ? 2.54 : 0.0;
    if (xres > 0 && yres > 0) {
      d.x = clampDpi(xres * scale);
      d.y = clampDpi(yres * scale);
    }
    return d;
  }

  // The Orientation tag (274) of the first directory, 1 to 8; 1 when absent or broken.
  int orientation() const {
    uint32_t ifd, count;
    if (!u32(4, ifd) || !u16(ifd, count)) return 1;
    for (uint32_t i = 0; i < count; ++i) {
      const uint64_t entry = static_cast<uint64_t>(ifd) + 2 + 12ull * i;
      uint32_t tag, type, value = 0;
      if (!u16(entry, tag) || !u16(entry + 2, type)) return 1;
      if (tag != 274) continue;
      const bool read = type == 3 ? u16(entry + 8, value) : type == 4 ? u32(entry + 8, value) : false;
      return read && value >= 1 && value <= 8 ? static_cast<int>(value) : 1;
    }
    return 1;
  }

  // The bytes of the ICC profile tag (34675) of the first directory; empty when it has none or
  // it lies beyond the data.
  std::vector<uint8_t> iccProfile() const {
    uint32_t ifd, count;
    if (!u32(4, ifd) || !u16(ifd, count)) return {};
    for (uint32_t i = 0; i < count; ++i) {
      const uint64_t entry = static_cast<uint64_t>(ifd) + 2 + 12ull * i;
      uint32_t tag, type, length, offset;
      if (!u16(entry, tag) || !u16(entry + 2, type)) return {};
      if (tag != 34675) continue;
      if ((type != 7 && type != 1) || !u32(entry + 4, length) || !u32(entry + 8, offset) || length <= 4 ||
          offset > size_ || length > size_ - offset)
        return {};
      return std::vector<uint8_t>(data_ + offset, data_ + offset + length);
    }
    return {};
  }

  // True when the bytes start with a TIFF header of either byte order.
  static bool header(const uint8_t* data, size_t size) {
    return size >= 8 && (std::memcmp(data, "II*\0", 4) == 0 || std::memcmp(data, "MM\0*", 4) == 0);
  }

 private:
  bool u16(uint64_t at, uint32_t& v) const {
    if (at + 2 > size_) return false;
    const uint8_t* p = data_ + at;
    v = little_ ? KorLe16(p) : be16(p);
    return true;
  }
  bool u32(uint64_t at, uint32_t& v) const {
    if (at + 4 > size_) return false;
    const uint8_t* p = data_ + at;
    v = little_ ? KorLe32(p) : be32(p);
    return true;
  }

  const uint8_t* data_;
  size_t size_;
  bool little_;
};

// The orientation of the first EXIF segment before the first scan.
int jpegOrientation(const uint8_t* data, size_t size) {
  int orientation = 1;
  walkJpegHeaders(data, size, [&](uint8_t marker, const uint8_t* segment, uint32_t length) {
    if (marker != 0xE1 || length < 8 || std::memcmp(segment + 2, "Exif\0\0", 6) != 0) return false;
    const uint8_t* tiff = segment + 8;
    const size_t tiffSize = length - 8;
    if (TiffReader::header(tiff, tiffSize)) orientation = TiffReader(tiff, tiffSize).orientation();
    return true;
  });
  return orientation;
}

// The ICC profile of a JPEG: the APP2 segments marked ICC_PROFILE, each with its number and
// the count of them, joined in order; empty when one is missing, repeated or out of range.
std::vector<uint8_t> jpegIccProfile(const uint8_t* data, size_t size) {
  static const char kMark[] = "ICC_PROFILE";  // with its terminating zero: 12 bytes
  struct Part {
    const uint8_t* bytes = nullptr;
    size_t length = 0;
  };
  std::vector<Part> parts;
  bool broken = false;
  walkJpegHeaders(data, size, [&](uint8_t marker, const uint8_t* segment, uint32_t length) {
    if (marker != 0xE2 || length < 16 || std::memcmp(segment + 2, kMark, sizeof kMark) != 0) return false;
    const uint8_t number = segment[14], total = segment[15];
    if (parts.empty()) parts.resize(total);
    if (number == 0 || number > total || total != parts.size() || parts[number - 1].bytes) {
      broken = true;
      return true;
    }
    parts[number - 1] = {segment + 16, static_cast<size_t>(length - 16)};
    return false;
  });
  std::vector<uint8_t> profile;
  if (broken) return profile;
  for (const Part& p : parts) {
    if (!p.bytes) return {};
    profile.insert(profile.end(), p.bytes, p.bytes + p.length);
  }
  return profile;
}

HeaderInfo pngHeader(const uint8_t* data, size_t size) {
  HeaderInfo info;
  if (size < 33 || std::memcmp(data + 12, "IHDR", 4) != 0) return info;
  const uint8_t colourType = data[25];
  bool transparency = (colourType & 4) != 0;  // grey or colour with alpha
  size_t pos = 33;
  while (!transparency && pos + 8 <= size) {
    const uint32_t length = be32(data + pos);
    if (std::memcmp(data + pos + 4, "IDAT", 4) == 0) break;
    if (std::memcmp(data + pos + 4, "tRNS", 4) == 0) {
      // A colour key always makes transparency; palette alphas only when one is below 255.
      transparency = colourType != 3;
      for (size_t i = 0; i < length && pos + 8 + i < size && !transparency; ++i)
        transparency = data[pos + 8 + i] != 255;
    }
    if (length > size - pos - 8) break;
    pos += 8 + static_cast<size_t>(length) + 4;
  }
  info.width = be32(data + 16);
  info.height = be32(data + 20);
  info.depth = (colourType == 0 || colourType == 3) && !transparency ? 8 : 24;
  info.known = true;
  return info;
}

HeaderInfo jpegHeader(const uint8_t* data, size_t size) {
  HeaderInfo info;
  walkJpegHeaders(data, size, [&](uint8_t marker, const uint8_t* segment, uint32_t length) {
    const bool frame = marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC;
    if (!frame || length < 8) return false;
    info.height = be16(segment + 3);
    info.width = be16(segment + 5);
    info.depth = segment[7] == 1 ? 8 : 24;
    info.known = true;
    return true;
  });
  return info;
}

HeaderInfo gifHeader(const uint8_t* data, size_t size) {
  HeaderInfo info;
  if (size < 13) return info;
  size_t pos = 13;
  const bool globalTable = (data[10] & 0x80) != 0;
  const uint32_t globalColours = 2u << (data[10] & 7);
  if (globalTable) pos += size_t{3} * globalColours;
  bool transparency = false;
  while (pos < size) {
    const uint8_t kind = data[pos];
    if (kind == 0x2C) {
      if (pos + 10 > size) return info;
      const uint8_t* d = data + pos;
      info.frameLeft = KorLe16(d + 1);
      info.frameTop = KorLe16(d + 3);
      info.frameWidth = KorLe16(d + 5);
      info.frameHeight = KorLe16(d + 7);
      info.localTable = (d[9] & 0x80) != 0;
      // The picture covers the screen and the whole frame, even where the frame overhangs.
      const uint32_t screenWidth = KorLe16(data + 6), screenHeight = KorLe16(data + 8);
      info.width = std::max(screenWidth, info.frameLeft + info.frameWidth);
      info.height = std::max(screenHeight, info.frameTop + info.frameHeight);
      info.framePartial =
          info.frameLeft || info.frameTop || info.frameWidth != info.width || info.frameHeight != info.height;
      if (globalTable && !transparency && data[11] < globalColours) info.background = data[11];
      const bool paletteFill = !info.framePartial || (!info.localTable && info.background >= 0);
      info.depth = transparency || !paletteFill ? 24 : 8;
      // A frame with neither table has no colours of its own: the codec is asked, and refuses.
      info.known = info.frameWidth && info.frameHeight && (globalTable || info.localTable);
      return info;
    }
    if (kind != 0x21 || pos + 2 > size) return info;
    const uint8_t label = data[pos + 1];
    pos += 2;
    // Sub-blocks, each led by its length, until an empty one.
    while (pos < size && data[pos] != 0) {
      if (label == 0xF9 && data[pos] >= 4 && pos + 1 < size && (data[pos + 1] & 1)) transparency = true;
      pos += 1 + data[pos];
    }
    ++pos;
  }
  return info;
}

}  // namespace

HeaderInfo readHeaderInfo(Container container, const uint8_t* data, size_t size) {
  switch (container) {
    case Container::Png:
      return pngHeader(data, size);
    case Container::Jpeg:
      return jpegHeader(data, size);
    case Container::Gif:
      return gifHeader(data, size);
    default:
      return HeaderInfo();
  }
}

Container identify(const uint8_t* data, size_t size) {
  if (size >= 8 && std::memcmp(data, kPng, 8) == 0) return Container::Png;
  if (size >= 3 && data[0] == 0xFF && data[1] == 0xD8 && data[2] == 0xFF) return Container::Jpeg;
  if (size >= 6 && (std::memcmp(data, "GIF87a", 6) == 0 || std::memcmp(data, "GIF89a", 6) == 0))
    return Container::Gif;
  if (size >= 4 && (std::memcmp(data, "II*\0", 4) == 0 || std::memcmp(data, "MM\0*", 4) == 0))
    return Container::Tiff;
  if (size >= 4 && std::memcmp(data, "II\xBC", 3) == 0 && data[3] <= 1) return Container::JpegXr;
  return Container::None;
}

// CRC-32 as PNG uses it (polynomial 0xEDB88320), eight bytes at a time through eight tables:
// a large picture's data is checked in a small part of the time its decoding takes.
uint32_t crc32(const uint8_t* data, size_t size) {
  static const struct Tables {
    uint32_t t[8][256];
    Tables() {
      for (uint32_t n = 0; n < 256; ++n) {
        uint32_t c = n;
        for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
        t[0][n] = c;
      }
      for (int k = 1; k < 8; ++k)
        for (uint32_t n = 0; n < 256; ++n) t[k][n] = (t[k - 1][n] >> 8) ^ t[0][t[k - 1][n] & 0xFF];
    }
  } tables;
  const auto& t = tables.t;
  uint32_t c = 0xFFFFFFFFu;
  for (; size >= 8; size -= 8, data += 8) {
    const uint32_t lo = c ^ KorLe32(data);
    const uint32_t hi = KorLe32(data + 4);
    c = t[7][lo & 0xFF] ^ t[6][(lo >> 8) & 0xFF] ^ t[5][(lo >> 16) & 0xFF] ^ t[4][lo >> 24] ^
        t[3][hi & 0xFF] ^ t[2][(hi >> 8) & 0xFF] ^ t[1][(hi >> 16) & 0xFF] ^ t[0][hi >> 24];
  }
  for (; size; --size, ++data) c = t[0][(c ^ *data) & 0xFF] ^ (c >> 8);
  return c ^ 0xFFFFFFFFu;
}

bool pngChunksIntact(const uint8_t* data, size_t size) {
  if (size < 8 || std::memcmp(data, kPng, 8) != 0) return false;
  size_t pos = 8;
  while (pos + 12 <= size) {
    const uint32_t length = be32(data + pos);
    if (length > size - pos - 12) return false;
    const uint8_t* type = data + pos + 4;
    const bool critical = type[0] >= 'A' && type[0] <= 'Z';
    if (critical && crc32(type, 4 + static_cast<size_t>(length)) != be32(type + 4 + length)) return false;
    if (std::memcmp(type, "IEND", 4) == 0) return true;
    pos += 12 + static_cast<size_t>(length);
  }
  return false;
}

bool jpegComplete(const uint8_t* data, size_t size) {
  if (size < 4 || data[0] != 0xFF || data[1] != 0xD8) return false;
  size_t pos = 2;
  for (;;) {
    // Find the next marker; bytes between segments are tolerated, as the codec tolerates them.
    const void* ff = pos < size ? std::memchr(data + pos, 0xFF, size - pos) : nullptr;
    if (!ff) return false;
    pos = static_cast<const uint8_t*>(ff) - data;
    while (pos < size && data[pos] == 0xFF) ++pos;  // fill bytes
    if (pos >= size) return false;
    const uint8_t marker = data[pos++];
    if (marker == 0xD9) return true;
    if (marker == 0x00 || marker == 0x01 || (marker >= 0xD0 && marker <= 0xD7)) continue;
    if (size - pos < 2) return false;
    const uint32_t length = be16(data + pos);
    if (length < 2 || length > size - pos) return false;
    pos += length;
    if (marker != 0xDA) continue;
    // Entropy-coded data: runs until a 0xFF that is followed by neither a stuffed zero nor a
    // restart marker.
    for (;;) {
      const void* next = pos < size ? std::memchr(data + pos, 0xFF, size - pos) : nullptr;
      if (!next) return false;
      pos = static_cast<const uint8_t*>(next) - data;
      if (pos + 1 >= size) return false;
      const uint8_t b = data[pos + 1];
      if (b == 0x00 || (b >= 0xD0 && b <= 0xD7)) {
        pos += 2;
      } else if (b == 0xFF) {
        pos += 1;
      } else {
        break;  // a marker: the outer loop reads it
      }
    }
  }
}

int readOrientation(Container container, const uint8_t* data, size_t size) {
  switch (container) {
    case Container::Jpeg:
      return jpegOrientation(data, size);
    case Container::Tiff:
      return TiffReader::header(data, size) ? TiffReader(data, size).orientation() : 1;
    default:
      return 1;
  }
}

std::vector<uint8_t> readIccProfile(Container container, const uint8_t* data, size_t size) {
  if (container == Container::Jpeg) return jpegIccProfile(data, size);
  if (container == Container::Tiff && TiffReader::header(data, size))
    return TiffReader(data, size).iccProfile();
  return {};
}

ColourKey readPngColourKey(const uint8_t* data, size_t size) {
  ColourKey key;
  if (size < 33 || std::memcmp(data, kPng, 8) != 0 || std::memcmp(data + 12, "IHDR", 4) != 0) return key;
  const uint8_t colourType = data[25];
  if (colourType != 0 && colourType != 2) return key;
  size_t pos = 33;
  while (pos + 8 <= size) {
    const uint32_t length = be32(data + pos);
    if (std::memcmp(data + pos + 4, "IDAT", 4) == 0 || length > size - pos - 8) break;
    if (std::memcmp(data + pos + 4, "tRNS", 4) == 0) {
      const uint8_t* v = data + pos + 8;
      key.depth = data[24];
      if (colourType == 0 && length >= 2) {
        key.present = key.grey = true;
        key.value[0] = static_cast<uint16_t>(be16(v));
      } else if (colourType == 2 && length >= 6) {
        key.present = true;
        for (int i = 0; i < 3; ++i) key.value[i] = static_cast<uint16_t>(be16(v + size_t{2} * i));
      }
      break;
    }
    pos += 8 + static_cast<size_t>(length) + 4;
  }
  return key;
}

std::vector<uint8_t> gifWithGlobalTable(const uint8_t* data, size_t size) {
  if (size < 13 || (data[10] & 0x80)) return {};
  size_t pos = 13;
  // Extensions before the first image descriptor: sub-blocks, each led by its length.
  while (pos < size && data[pos] == 0x21) {
    pos += 2;
    while (pos < size && data[pos] != 0) pos += 1 + data[pos];
    ++pos;
  }
  if (pos + 10 > size || data[pos] != 0x2C) return {};
  const uint8_t packed = data[pos + 9];
  if (!(packed & 0x80)) return {};
  const size_t tableBytes = size_t{3} * (2u << (packed & 7));
  if (tableBytes > size - pos - 10) return {};
  std::vector<uint8_t> out;
  out.reserve(size + tableBytes);
  out.insert(out.end(), data, data + 13);
  out[10] = static_cast<uint8_t>((data[10] & 0x70) | 0x80 | (packed & 7));  // keep the colour resolution
  out.insert(out.end(), data + pos + 10, data + pos + 10 + tableBytes);
  out.insert(out.end(), data + 13, data + size);
  return out;
}

Density readDensity(Container container, const uint8_t* data, size_t size) {
  switch (container) {
    case Container::Png:
      return pngDensity(data, size);
    case Container::Jpeg:
      return jfifDensity(data, size);
    case Container::Tiff:
      return size >= 8 ? TiffReader(data, size).density() : Density();
    default:
      return Density();
  }
}

}  // namespace ifwic
