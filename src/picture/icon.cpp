// The icon graphic.  An .ico file is a directory of entries, each a BMP image without its
// file header (a BITMAPINFOHEADER whose height counts the colour rows and the mask rows
// together, the colour table, the XOR colour rows and the 1-bit AND mask) or a PNG stream.
// Every image is kept; the largest is shown.  A PNG stream is handed to the graphic class the
// format registry names for PNG files (the plug-ins' class once they are found), so the icon
// needs nothing of the layers above it.  The file image is kept byte for byte and written back
// unchanged.
#include "picture/icon.h"

#include <cstring>

#include "picture/picture.h"
#include "picture/readers.h"
#include "picture/render.h"
#include "platform/dib.h"
#include "platform/dib_layout.h"
#include "rtl/exceptions.h"
#include "rtl/messages.h"

KOR_DEFINE_GRAPHIC_CLASS(TIcon, TGraphic);

struct TIconData : TKeptImageGraphic::Image {
  std::vector<TIconImage> images;
  int shown = -1;
  std::shared_ptr<TBitmap> decoded;  // the shown image's picture when it is stored as PNG
};

namespace {

constexpr size_t kDirSize = 6;
constexpr size_t kEntrySize = 16;
constexpr int32_t kMaxSide = 0x7FFF;

[[noreturn]] void Invalid() { throw EInvalidGraphic(msg::kInvalidIcon); }

size_t RowBytes(int64_t width, int bits) { return static_cast<size_t>(KorDibRowBytes(width, bits)); }

bool IsPng(const ByteReader& r, size_t at) {
  static const uint8_t kSig[4] = {0x89, 'P', 'N', 'G'};
  return r.Has(at, 4) && std::memcmp(r.Data() + at, kSig, 4) == 0;
}

uint32_t Be32(const uint8_t* p) {
  return uint32_t{p[0]} << 24 | uint32_t{p[1]} << 16 | uint32_t{p[2]} << 8 | p[3];
}

// Size and depth of the PNG stream that occupies [at, at + size) of the file, from its header
// chunk; false when the stream does not start with a sound one.
bool ParsePngHeader(const ByteReader& r, size_t at, size_t size, TIconImage& img) {
  constexpr size_t kHeaderEnd = 8 + 8 + 13;  // signature, chunk length and type, header data
  if (size < kHeaderEnd || !r.Has(at, kHeaderEnd)) return false;
  const uint8_t* p = r.Data() + at;
  if (Be32(p + 8) != 13 || std::memcmp(p + 12, "IHDR", 4) != 0) return false;
  const uint32_t width = Be32(p + 16), height = Be32(p + 20);
  const unsigned depth = p[24], type = p[25];
  static const int kChannels[7] = {1, 0, 3, 1, 2, 0, 4};  // by colour type; 0: none such
  if (width < 1 || width > kMaxSide || height < 1 || height > kMaxSide || type > 6 || !kChannels[type])
    return false;
  if (depth != 1 && depth != 2 && depth != 4 && depth != 8 && depth != 16) return false;
  img.Width = static_cast<int32_t>(width);
  img.Height = static_cast<int32_t>(height);
  img.BitCount = static_cast<int>(depth) * kChannels[type];
  img.Png = true;
  img.HeaderOffset = at;
  img.Size = size;
  return true;
}

// The picture of a PNG image, read by the graphic class the registry names for PNG files;
// none when there is no such class, it cannot read the stream, or its picture is not the size
// the stream's header gives.  A load called off by the progress listener goes on up.
std::shared_ptr<TBitmap> DecodePng(const uint8_t* stream, const TIconImage& img,
                                   const TProgressEvent& progress) {
  std::unique_ptr<TGraphic> graphic = CreateGraphic(FileFormats().FindByExtension("png"));
  if (!graphic) return nullptr;
  // The decoder's own end is not the icon's: the listener hears the steps before it.
  graphic->OnProgress = [&progress](TObject* sender, TProgressStage stage, uint8_t percent, bool redraw,
                                    TRect& r, const std::string& msg) {
    if (progress && stage != TProgressStage::psEnding) progress(sender, stage, percent, redraw, r, msg);
  };
  try {
    TPointerStream in(stream, static_cast<int64_t>(img.Size));
    graphic->LoadStream(in);
    std::shared_ptr<TBitmap> picture = RenderToBitmap(*graphic);
    if (picture->Width() != img.Width || picture->Height() != img.Height) return nullptr;
    return picture;
  } catch (const EAbort&) {
    throw;
  } catch (...) {
    return nullptr;  // as if no class could read PNG: the BMP images are left
  }
}

// Parses the BMP image of one entry that occupies [at, at + size) of the file.
TIconImage ParseImage(const ByteReader& r, size_t at, size_t size) {
  TIconImage img;
  uint32_t headerSize = r.U32(at);
  if (headerSize < 40 || headerSize > size) Invalid();
  int32_t width = r.I32(at + 4);
  int32_t doubled = r.I32(at + 8);
  uint16_t bits = r.U16(at + 14);
  uint32_t compression = r.U32(at + 16);
  uint32_t used = r.U32(at + 32);
  if (width < 1 || width > kMaxSide || doubled < 2 || doubled / 2 > kMaxSide) Invalid();
  if (!KorDibValidDepth(bits)) Invalid();
  if (compression != platform::kBI_RGB) Invalid();
  if (used > 256) Invalid();
  const auto colors = static_cast<uint32_t>(KorDibColorEntries(bits, used));
  img.Width = width;
  img.Height = doubled / 2;
  img.BitCount = bits;
  img.HeaderOffset = at;
  img.ColorsOffset = at + headerSize;
  img.ColorCount = colors;
  img.XorOffset = img.ColorsOffset + size_t{colors} * 4;
  uint64_t xorBytes = uint64_t{img.XorRowBytes()} * static_cast<uint64_t>(img.Height);
  uint64_t andBytes = uint64_t{img.AndRowBytes()} * static_cast<uint64_t>(img.Height);
  uint64_t colourEnd = uint64_t{headerSize} + uint64_t{colors} * 4 + xorBytes;
  // Some writers leave the mask out of 32-bit images, whose alpha does its work; an entry
  // that ends exactly after its colour rows is taken as an image without a mask.
  if (colourEnd == size)
    img.HasMask = false;
  else if (colourEnd + andBytes > size)
    Invalid();
  img.AndOffset = img.XorOffset + static_cast<size_t>(xorBytes);
  if (bits == 32) {
    const uint8_t* p = r.Data() + img.XorOffset;
    for (uint64_t i = 3; i < xorBytes; i += 4)
      if (p[i]) {
        img.HasAlpha = true;
        break;
      }
  }
  return img;
}

// The image to show: most pixels, then the deepest; the first of equals.  -1 when there is
// none (PNG images left out unless `png`).
int ChooseShown(const std::vector<TIconImage>& images, bool png) {
  int best = -1;
  for (size_t i = 0; i < images.size(); ++i) {
    if (images[i].Png && !png) continue;
    if (best < 0) {
      best = static_cast<int>(i);
      continue;
    }
    const TIconImage& a = images[i];
    const TIconImage& b = images[static_cast<size_t>(best)];
    int64_t pa = int64_t{a.Width} * a.Height, pb = int64_t{b.Width} * b.Height;
    if (pa > pb || (pa == pb && a.BitCount > b.BitCount)) best = static_cast<int>(i);
  }
  return best;
}

std::shared_ptr<TIconData> ParseIcon(std::vector<uint8_t> bytes, const TProgressEvent& progress) {
  ByteReader r(bytes.data(), bytes.size(), Invalid);
  if (!r.Has(0, kDirSize)) Invalid();
  uint16_t reserved = r.U16(0), type = r.U16(2), count = r.U16(4);
  if (reserved != 0 || (type != 1 && type != 2) || count == 0) Invalid();
  if (!r.Has(kDirSize, size_t{count} * kEntrySize)) Invalid();
  auto data = std::make_shared<TIconData>();
  size_t end = kDirSize + size_t{count} * kEntrySize;
  for (size_t i = 0; i < count; ++i) {
    size_t e = kDirSize + i * kEntrySize;
    uint32_t size = r.U32(e + 8);
    uint32_t offset = r.U32(e + 12);
    if (size < 4 || !r.Has(offset, size)) Invalid();
    if (size_t{offset} + size > end) end = size_t{offset} + size;
    if (!IsPng(r, offset)) {
      data->images.push_back(ParseImage(r, offset, size));
    } else {
      TIconImage png;
      if (ParsePngHeader(r, offset, size, png)) data->images.push_back(png);  // else skipped
    }
  }
  data->shown = ChooseShown(data->images, true);
  if (data->shown >= 0 && data->images[static_cast<size_t>(data->shown)].Png) {
    const TIconImage& png = data->images[static_cast<size_t>(data->shown)];
    data->decoded = DecodePng(bytes.data() + png.HeaderOffset, png, progress);
    if (!data->decoded) data->shown = ChooseShown(data->images, false);
  }
  if (data->shown < 0) Invalid();
  bytes.resize(end);
  data->bytes = std::move(bytes);
  return data;
}

uint32_t Rgb(const uint8_t* bgr) { return uint32_t{bgr[2]} << 16 | uint32_t{bgr[1]} << 8 | bgr[0]; }

uint32_t Blend(uint32_t fg, uint32_t bg, unsigned alpha) {
  uint32_t out = 0;
  for (int shift = 0; shift <= 16; shift += 8) {
    unsigned f = (fg >> shift) & 0xFF, b = (bg >> shift) & 0xFF;
    out |= ((f * alpha + b * (255 - alpha) + 127) / 255) << shift;
  }
  return out;
}

// A BITMAPINFO block: a 40-byte header for width x height (bottom-up) and the colour table.
std::vector<uint8_t> DibInfo(int32_t width, int32_t height, int bits, const uint8_t* colours,
                             uint32_t count) {
  return platform::MakeBitmapInfo(platform::MakeInfoHeader(width, height, bits), nullptr, colours, count);
}

}  // namespace

size_t TIconImage::XorRowBytes() const { return RowBytes(Width, BitCount); }
size_t TIconImage::AndRowBytes() const { return RowBytes(Width, 1); }

TIcon::TIcon() = default;
TIcon::~TIcon() = default;

const TIconData* TIcon::Data() const { return static_cast<const TIconData*>(KeptImage()); }

std::shared_ptr<const TKeptImageGraphic::Image> TIcon::Parse(std::vector<uint8_t> bytes) const {
  return ParseIcon(std::move(bytes), OnProgress);
}

int32_t TIcon::Width() { return Data() ? Image(ShownIndex()).Width : 0; }
int32_t TIcon::Height() { return Data() ? Image(ShownIndex()).Height : 0; }
int TIcon::ImageCount() const { return Data() ? static_cast<int>(Data()->images.size()) : 0; }
const TIconImage& TIcon::Image(int index) const {
  if (index < 0 || index >= ImageCount()) ListIndexError(index);
  return Data()->images[static_cast<size_t>(index)];
}
int TIcon::ShownIndex() const { return Data() ? Data()->shown : -1; }
int TIcon::BitCount() const { return Data() ? Image(ShownIndex()).BitCount : 0; }

uint32_t TIcon::PixelOver(int32_t x, int32_t y, uint32_t background) const {
  if (!Data()) return background;
  const TIconImage& img = Image(ShownIndex());
  if (x < 0 || y < 0 || x >= img.Width || y >= img.Height) return background;
  if (img.Png) return Data()->decoded->PixelRGB(x, y);
  const uint8_t* bytes = Data()->bytes.data();
  size_t row = static_cast<size_t>(img.Height - 1 - y);  // rows are stored bottom-up
  const uint8_t* xr = bytes + img.XorOffset + row * img.XorRowBytes();
  size_t ux = static_cast<size_t>(x);
  uint32_t colour = 0;
  switch (img.BitCount) {
    case 32:
      colour = Rgb(xr + ux * 4);
      if (img.HasAlpha) return Blend(colour, background, xr[ux * 4 + 3]);
      break;
    case 24:
      colour = Rgb(xr + ux * 3);
      break;
    case 16: {
      unsigned v = xr[ux * 2] | unsigned{xr[ux * 2 + 1]} << 8;
      unsigned r5 = (v >> 10) & 31, g5 = (v >> 5) & 31, b5 = v & 31;
      colour = (r5 * 255 / 31) << 16 | (g5 * 255 / 31) << 8 | (b5 * 255 / 31);
      break;
    }
    default: {
      int bits = img.BitCount;
      size_t bitPos = ux * static_cast<size_t>(bits);
      unsigned index = (xr[bitPos / 8] >> (8 - bits - bitPos % 8)) & ((1u << bits) - 1);
      if (index < img.ColorCount) colour = Rgb(bytes + img.ColorsOffset + size_t{index} * 4);
      break;
    }
  }
  bool transparent = false;
  if (img.HasMask) {
    const uint8_t* ar = bytes + img.AndOffset + row * img.AndRowBytes();
    transparent = (ar[ux / 8] >> (7 - ux % 8)) & 1;
  }
  return (transparent ? background : 0u) ^ colour;
}

void TIcon::DrawInRect(platform::Surface& surface, const TRect& rect) {
  if (!Data()) return;
  const TIconImage& img = Image(ShownIndex());
  if (img.Png) {
    Data()->decoded->DrawInRect(surface, rect);
    return;
  }
  const uint8_t* bytes = Data()->bytes.data();
  const size_t rows = static_cast<size_t>(img.Height), cols = static_cast<size_t>(img.Width);

  // The mask: a 1-bit picture whose 0 is black (clears the target) and 1 white (keeps it).
  static const uint8_t kBlackWhite[8] = {0, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0};
  std::vector<uint8_t> maskInfo = DibInfo(img.Width, img.Height, 1, kBlackWhite, 2);
  // The colours: the image's own colour table under a header with the single height.
  std::vector<uint8_t> colourInfo =
      DibInfo(img.Width, img.Height, img.BitCount, bytes + img.ColorsOffset, img.ColorCount);

  const uint8_t* andBits = bytes + img.AndOffset;
  const uint8_t* xorBits = bytes + img.XorOffset;
  std::vector<uint8_t> derivedMask, derivedColours;
  if (img.HasAlpha || !img.HasMask) {
    derivedMask.assign(img.AndRowBytes() * rows, 0);  // all opaque
    andBits = derivedMask.data();
  }
  if (img.HasAlpha) {
    // Alpha decides: opaque from half coverage on; transparent pixels must be black so that
    // the XOR leaves the target as it is.
    derivedColours.assign(xorBits, xorBits + img.XorRowBytes() * rows);
    for (size_t y = 0; y < rows; ++y)
      for (size_t x = 0; x < cols; ++x) {
        uint8_t* px = derivedColours.data() + y * img.XorRowBytes() + x * 4;
        if (px[3] < 128) {
          derivedMask[y * img.AndRowBytes() + x / 8] |= static_cast<uint8_t>(0x80 >> (x % 8));
          std::memset(px, 0, 4);
        }
      }
    xorBits = derivedColours.data();
  }
  const int w = rect.Right - rect.Left, h = rect.Bottom - rect.Top;
  platform::StretchDIBits(surface, rect.Left, rect.Top, w, h, 0, 0, img.Width, img.Height, andBits,
                          maskInfo.data(), platform::kDIB_RGB_COLORS, platform::kSRCAND);
  platform::StretchDIBits(surface, rect.Left, rect.Top, w, h, 0, 0, img.Width, img.Height, xorBits,
                          colourInfo.data(), platform::kDIB_RGB_COLORS, platform::kSRCINVERT);
}
