#include "pixels.h"

#include <cstring>

#include "platform/dib_layout.h"

namespace ifwic {

int bitsPerPixel(SourceLayout layout) {
  switch (layout) {
    case SourceLayout::Indexed1:
    case SourceLayout::Gray1:
      return 1;
    case SourceLayout::Indexed2:
    case SourceLayout::Gray2:
      return 2;
    case SourceLayout::Indexed4:
    case SourceLayout::Gray4:
      return 4;
    case SourceLayout::Indexed8:
    case SourceLayout::Gray8:
      return 8;
    case SourceLayout::Gray16:
      return 16;
    case SourceLayout::Bgr24:
    case SourceLayout::Rgb24:
      return 24;
    case SourceLayout::Bgrx32:
    case SourceLayout::Bgra32:
    case SourceLayout::Rgba32:
    case SourceLayout::Pbgra32:
    case SourceLayout::Prgba32:
      return 32;
    case SourceLayout::Rgb48:
    case SourceLayout::Bgr48:
      return 48;
    case SourceLayout::Rgba64:
    case SourceLayout::Bgra64:
    case SourceLayout::Prgba64:
      return 64;
  }
  return 0;
}

bool hasAlphaChannel(SourceLayout layout) {
  switch (layout) {
    case SourceLayout::Bgra32:
    case SourceLayout::Rgba32:
    case SourceLayout::Pbgra32:
    case SourceLayout::Prgba32:
    case SourceLayout::Rgba64:
    case SourceLayout::Bgra64:
    case SourceLayout::Prgba64:
      return true;
    default:
      return false;
  }
}

bool isIndexed(SourceLayout layout) {
  return layout == SourceLayout::Indexed1 || layout == SourceLayout::Indexed2 ||
         layout == SourceLayout::Indexed4 || layout == SourceLayout::Indexed8;
}

bool isGray(SourceLayout layout) {
  return layout == SourceLayout::Gray1 || layout == SourceLayout::Gray2 || layout == SourceLayout::Gray4 ||
         layout == SourceLayout::Gray8 || layout == SourceLayout::Gray16;
}

bool hasWideSamples(SourceLayout layout) {
  const int bits = bitsPerPixel(layout);
  return layout == SourceLayout::Gray16 || bits == 48 || bits == 64;
}

void swapSampleBytes(uint8_t* data, size_t bytes) {
  for (size_t i = 0; i + 1 < bytes; i += 2) {
    const uint8_t high = data[i];
    data[i] = data[i + 1];
    data[i + 1] = high;
  }
}

OutputKind outputFor(SourceLayout layout, const PaletteEntry* palette, int paletteCount) {
  if (isIndexed(layout)) {
    for (int i = 0; i < paletteCount; ++i)
      if (palette[i].a != 255) return OutputKind::Bgr24;
    return OutputKind::Palette8;
  }
  if (isGray(layout)) return OutputKind::Gray8;
  return OutputKind::Bgr24;
}

int outputBits(OutputKind kind) { return kind == OutputKind::Bgr24 ? 24 : 8; }

uint64_t sourceRowBytes(SourceLayout layout, uint32_t width) {
  return (static_cast<uint64_t>(width) * bitsPerPixel(layout) + 7) / 8;
}

namespace {

// The n-th sub-byte sample of a packed row, most significant bits first.
inline uint32_t packedSample(const uint8_t* src, uint32_t x, int bits) {
  const uint32_t perByte = 8 / bits;
  const uint32_t shift = 8 - bits * (x % perByte + 1);
  return (src[x / perByte] >> shift) & ((1u << bits) - 1);
}

void writeBgr(uint8_t* dst, uint32_t b, uint32_t g, uint32_t r) {
  dst[0] = static_cast<uint8_t>(b);
  dst[1] = static_cast<uint8_t>(g);
  dst[2] = static_cast<uint8_t>(r);
}

// Premultiplied colour over white: c + (255 - a), limited to 255 for inconsistent data.
inline uint8_t premulOverWhite8(uint32_t c, uint32_t a) {
  const uint32_t v = c + 255u - a;
  return static_cast<uint8_t>(v > 255u ? 255u : v);
}

// 16-bit straight-alpha colour over white, then reduced to 8 bits in one rounding step.
inline uint8_t overWhite16(uint64_t c, uint64_t a) {
  const uint64_t num = c * a + 65535u * (65535u - a);  // in 65535 * 65535 units
  return static_cast<uint8_t>((num * 255u + 65535ull * 65535u / 2) / (65535ull * 65535u));
}

inline uint8_t premulOverWhite16(uint32_t c, uint32_t a) {
  const uint32_t v = c + 65535u - a;
  return reduce16(v > 65535u ? 65535u : v);
}

void indexedRow(SourceLayout layout, OutputKind out, const uint8_t* src, uint8_t* dst, uint32_t width,
                const PaletteEntry* palette, int paletteCount) {
  const int bits = bitsPerPixel(layout);
  for (uint32_t x = 0; x < width; ++x) {
    uint32_t index = bits == 8 ? src[x] : packedSample(src, x, bits);
    if (index >= static_cast<uint32_t>(paletteCount)) index = 0;
    if (out == OutputKind::Palette8) {
      dst[x] = static_cast<uint8_t>(index);
    } else if (paletteCount == 0) {
      writeBgr(dst + size_t{3} * x, 0, 0, 0);
    } else {
      const PaletteEntry& e = palette[index];
      writeBgr(dst + size_t{3} * x, overWhite8(e.b, e.a), overWhite8(e.g, e.a), overWhite8(e.r, e.a));
    }
  }
}

// A grey sample as stored, at the layout's own bit depth.
uint32_t rawGray(SourceLayout layout, const uint8_t* src, uint32_t x) {
  switch (layout) {
    case SourceLayout::Gray1:
      return packedSample(src, x, 1);
    case SourceLayout::Gray2:
      return packedSample(src, x, 2);
    case SourceLayout::Gray4:
      return packedSample(src, x, 4);
    case SourceLayout::Gray8:
      return src[x];
    default:
      return KorLe16(src + size_t{2} * x);
  }
}

uint8_t grayAt(SourceLayout layout, const uint8_t* src, uint32_t x) {
  switch (layout) {
    case SourceLayout::Gray1:
      return packedSample(src, x, 1) ? 255 : 0;
    case SourceLayout::Gray2:
      return static_cast<uint8_t>(packedSample(src, x, 2) * 85);
    case SourceLayout::Gray4:
      return static_cast<uint8_t>(packedSample(src, x, 4) * 17);
    case SourceLayout::Gray8:
      return src[x];
    default:
      return reduce16(KorLe16(src + size_t{2} * x));
  }
}

}  // namespace

void convertRow(SourceLayout layout, OutputKind out, const uint8_t* src, uint8_t* dst, uint32_t width,
                const PaletteEntry* palette, int paletteCount) {
  if (isIndexed(layout)) return indexedRow(layout, out, src, dst, width, palette, paletteCount);
  if (isGray(layout)) {
    for (uint32_t x = 0; x < width; ++x) {
      const uint8_t v = grayAt(layout, src, x);
      if (out == OutputKind::Bgr24)
        writeBgr(dst + size_t{3} * x, v, v, v);
      else
        dst[x] = v;
    }
    return;
  }
  for (uint32_t x = 0; x < width; ++x) {
    uint8_t* d = dst + size_t{3} * x;
    switch (layout) {
      case SourceLayout::Bgr24: {
        const uint8_t* s = src + size_t{3} * x;
        writeBgr(d, s[0], s[1], s[2]);
        break;
      }
      case SourceLayout::Rgb24: {
        const uint8_t* s = src + size_t{3} * x;
        writeBgr(d, s[2], s[1], s[0]);
        break;
      }
      case SourceLayout::Bgrx32: {
        const uint8_t* s = src + size_t{4} * x;
        writeBgr(d, s[0], s[1], s[2]);
        break;
      }
      case SourceLayout::Bgra32: {
        const uint8_t* s = src + size_t{4} * x;
        writeBgr(d, overWhite8(s[0], s[3]), overWhite8(s[1], s[3]), overWhite8(s[2], s[3]));
        break;
      }
      case SourceLayout::Rgba32: {
        const uint8_t* s = src + size_t{4} * x;
        writeBgr(d, overWhite8(s[2], s[3]), overWhite8(s[1], s[3]), overWhite8(s[0], s[3]));
        break;
      }
      case SourceLayout::Pbgra32: {
        const uint8_t* s = src + size_t{4} * x;
        writeBgr(d, premulOverWhite8(s[0], s[3]), premulOverWhite8(s[1], s[3]), premulOverWhite8(s[2], s[3]));
        break;
      }
      case SourceLayout::Prgba32: {
        const uint8_t* s = src + size_t{4} * x;
        writeBgr(d, premulOverWhite8(s[2], s[3]), premulOverWhite8(s[1], s[3]), premulOverWhite8(s[0], s[3]));
        break;
      }
      case SourceLayout::Rgb48: {
        const uint8_t* s = src + size_t{6} * x;
        writeBgr(d, reduce16(KorLe16(s + 4)), reduce16(KorLe16(s + 2)), reduce16(KorLe16(s)));
        break;
      }
      case SourceLayout::Bgr48: {
        const uint8_t* s = src + size_t{6} * x;
        writeBgr(d, reduce16(KorLe16(s)), reduce16(KorLe16(s + 2)), reduce16(KorLe16(s + 4)));
        break;
      }
      case SourceLayout::Rgba64: {
        const uint8_t* s = src + size_t{8} * x;
        const uint32_t a = KorLe16(s + 6);
        writeBgr(d, overWhite16(KorLe16(s + 4), a), overWhite16(KorLe16(s + 2), a),
                 overWhite16(KorLe16(s), a));
        break;
      }
      case SourceLayout::Bgra64: {
        const uint8_t* s = src + size_t{8} * x;
        const uint32_t a = KorLe16(s + 6);
        writeBgr(d, overWhite16(KorLe16(s), a), overWhite16(KorLe16(s + 2), a),
                 overWhite16(KorLe16(s + 4), a));
        break;
      }
      case SourceLayout::Prgba64: {
        const uint8_t* s = src + size_t{8} * x;
        const uint32_t a = KorLe16(s + 6);
        writeBgr(d, premulOverWhite16(KorLe16(s + 4), a), premulOverWhite16(KorLe16(s + 2), a),
                 premulOverWhite16(KorLe16(s), a));
        break;
      }
      default:
        writeBgr(d, 0, 0, 0);
        break;
    }
  }
}

namespace {

// Puts stored row `y` where the orientation turns it (see placeRows).
void placeRow(int orientation, const uint8_t* row, uint32_t y, uint32_t width, uint32_t height, int bytes,
              uint8_t* dib, uint64_t stride) {
  // Where pixel 0 of the row lands upright (ux, uy), and which way the following ones go.
  uint64_t ux = 0, uy = 0;
  int dx = 0, dy = 0;
  switch (orientation) {
    case 2:
      ux = width - 1, uy = y, dx = -1;
      break;
    case 3:
      ux = width - 1, uy = height - 1 - y, dx = -1;
      break;
    case 4:
      ux = 0, uy = height - 1 - y, dx = 1;
      break;
    case 5:
      ux = y, uy = 0, dy = 1;
      break;
    case 6:
      ux = height - 1 - y, uy = 0, dy = 1;
      break;
    case 7:
      ux = height - 1 - y, uy = width - 1, dy = -1;
      break;
    case 8:
      ux = y, uy = width - 1, dy = -1;
      break;
    default:
      ux = 0, uy = y, dx = 1;
      break;
  }
  const uint64_t uprightHeight = orientation >= 5 && orientation <= 8 ? width : height;
  // Bottom-up: upright row uy is DIB row uprightHeight - 1 - uy.
  int64_t at = static_cast<int64_t>((uprightHeight - 1 - uy) * stride + ux * bytes);
  const int64_t step =
      static_cast<int64_t>(dx) * bytes - static_cast<int64_t>(dy) * static_cast<int64_t>(stride);
  if (step == bytes) {
    std::memcpy(dib + at, row, static_cast<size_t>(width) * bytes);
    return;
  }
  for (uint32_t x = 0; x < width; ++x, at += step)
    std::memcpy(dib + at, row + static_cast<size_t>(x) * bytes, bytes);
}

}  // namespace

namespace {

bool sampleDepth(int depth) { return depth == 1 || depth == 2 || depth == 4 || depth == 8 || depth == 16; }

}  // namespace

bool keyable(SourceLayout layout, bool greyKey, int fileDepth) {
  if (greyKey) return isGray(layout) && sampleDepth(fileDepth) && bitsPerPixel(layout) >= fileDepth;
  switch (layout) {
    case SourceLayout::Bgr24:
    case SourceLayout::Rgb24:
      return fileDepth == 8;
    case SourceLayout::Rgb48:
    case SourceLayout::Bgr48:
      return fileDepth == 16;
    default:
      return false;
  }
}

void convertKeyedRow(SourceLayout layout, const uint8_t* src, uint8_t* dst, uint32_t width,
                     const uint16_t key[3]) {
  if (isGray(layout)) {
    for (uint32_t x = 0; x < width; ++x) {
      const uint8_t v = rawGray(layout, src, x) == key[0] ? 255 : grayAt(layout, src, x);
      writeBgr(dst + size_t{3} * x, v, v, v);
    }
    return;
  }
  // Red, green and blue as stored, then the row as 24-bit BGR.
  const bool wide = layout == SourceLayout::Rgb48 || layout == SourceLayout::Bgr48;
  const bool bgr = layout == SourceLayout::Bgr24 || layout == SourceLayout::Bgr48;
  const uint32_t step = wide ? 6 : 3;
  convertRow(layout, OutputKind::Bgr24, src, dst, width, nullptr, 0);
  for (uint32_t x = 0; x < width; ++x) {
    const uint8_t* s = src + size_t{step} * x;
    uint32_t c[3];
    for (int i = 0; i < 3; ++i) c[i] = wide ? KorLe16(s + size_t{2} * i) : s[i];
    const uint32_t r = bgr ? c[2] : c[0], g = c[1], b = bgr ? c[0] : c[2];
    if (r == key[0] && g == key[1] && b == key[2]) writeBgr(dst + size_t{3} * x, 255, 255, 255);
  }
}

uint16_t greyKeyFor(SourceLayout layout, int fileDepth, uint16_t key) {
  const int bits = bitsPerPixel(layout);
  if (!sampleDepth(fileDepth) || bits < fileDepth || bits > 16) return key;
  // Repeating d bits to fill b bits multiplies by (2^b - 1) / (2^d - 1), a whole number here.
  const uint32_t fileMax = (1u << fileDepth) - 1;
  if (key > fileMax) return key;  // matches no sample
  return static_cast<uint16_t>(key * (((1u << bits) - 1) / fileMax));
}

bool isGreyRamp(const PaletteEntry* palette, int count, int depth) {
  if (!sampleDepth(depth) || depth > 8 || count != (1 << depth)) return false;
  for (int i = 0; i < count; ++i) {
    const uint32_t v = static_cast<uint32_t>(i) * 255u / static_cast<uint32_t>(count - 1);
    if (palette[i].r != v || palette[i].g != v || palette[i].b != v) return false;
  }
  return true;
}

void fillColourGrid(uint8_t* grid) {
  for (int b = 0; b < kGridPoints; ++b)
    for (int g = 0; g < kGridPoints; ++g)
      for (int r = 0; r < kGridPoints; ++r, grid += 3)
        writeBgr(grid, static_cast<uint32_t>(b * kGridStep), static_cast<uint32_t>(g * kGridStep),
                 static_cast<uint32_t>(r * kGridStep));
}

void applyColourGrid(const uint8_t* grid, uint8_t* row, uint32_t width) {
  constexpr int kLast = kGridPoints - 1;
  constexpr size_t kR = 3, kG = size_t{3} * kGridPoints, kB = size_t{3} * kGridPoints * kGridPoints;
  for (uint32_t x = 0; x < width; ++x, row += 3) {
    // The grid cell of the pixel and where in it the pixel lies, 0 to kGridStep on each side.
    int cell[3], at[3];  // red, green, blue
    for (int c = 0; c < 3; ++c) {
      const int v = row[2 - c];
      cell[c] = v / kGridStep;
      at[c] = v % kGridStep;
      if (cell[c] == kLast) cell[c] = kLast - 1, at[c] = kGridStep;
    }
    const int fr = at[0], fg = at[1], fb = at[2];
    const uint8_t* c000 = grid + cell[0] * kR + cell[1] * kG + cell[2] * kB;
    // The tetrahedron of the cell that holds the pixel: from the cell's origin along the
    // largest fraction first, then the next, to the far corner.
    size_t first, second;
    int f1, f2, f3;
    if (fr >= fg && fg >= fb)
      first = kR, second = kR + kG, f1 = fr, f2 = fg, f3 = fb;
    else if (fr >= fb && fb >= fg)
      first = kR, second = kR + kB, f1 = fr, f2 = fb, f3 = fg;
    else if (fb >= fr && fr >= fg)
      first = kB, second = kB + kR, f1 = fb, f2 = fr, f3 = fg;
    else if (fg >= fr && fr >= fb)
      first = kG, second = kG + kR, f1 = fg, f2 = fr, f3 = fb;
    else if (fg >= fb && fb >= fr)
      first = kG, second = kG + kB, f1 = fg, f2 = fb, f3 = fr;
    else
      first = kB, second = kB + kG, f1 = fb, f2 = fg, f3 = fr;
    const uint8_t* c1 = c000 + first;
    const uint8_t* c2 = c000 + second;
    const uint8_t* c3 = c000 + kR + kG + kB;
    for (int c = 0; c < 3; ++c) {
      const int sum = (kGridStep - f1) * c000[c] + (f1 - f2) * c1[c] + (f2 - f3) * c2[c] + f3 * c3[c];
      row[c] = static_cast<uint8_t>((sum + kGridStep / 2) / kGridStep);
    }
  }
}

void uprightSize(int orientation, uint32_t width, uint32_t height, uint32_t& uprightWidth,
                 uint32_t& uprightHeight) {
  const bool turned = orientation >= 5 && orientation <= 8;
  uprightWidth = turned ? height : width;
  uprightHeight = turned ? width : height;
}

// Copies `count` pixels of `bytes` bytes each (B of them when B is not 0), `fromStep` apart in
// the source and next to each other in the target.
template <int B>
void copyRun(uint8_t* to, const uint8_t* from, int64_t fromStep, uint32_t count, int bytes) {
  const int n = B ? B : bytes;
  int64_t at = 0;  // an offset, not a pointer: the last step may lead before the strip
  for (uint32_t i = 0; i < count; ++i, to += n, at += fromStep)
    for (int b = 0; b < n; ++b) to[b] = from[at + b];
}

void placeRows(int orientation, const uint8_t* rows, uint64_t rowBytes, uint32_t y0, uint32_t count,
               uint32_t width, uint32_t height, int bytes, uint8_t* dib, uint64_t stride) {
  if (orientation < 5 || orientation > 8) {
    for (uint32_t r = 0; r < count; ++r)
      placeRow(orientation, rows + r * rowBytes, y0 + r, width, height, bytes, dib, stride);
    return;
  }
  if (count == 0) return;
  // Quarter turns and diagonal mirrors: stored column x becomes one upright row, in which the
  // strip's rows lie side by side, so each column of the strip is written as one short run,
  // from its left end: for orientations 6 and 7 that is the strip's last row.
  const bool forward = orientation == 5 || orientation == 8;  // row y at upright column y
  const uint64_t left = forward ? y0 : height - y0 - count;
  const int64_t fromStep = forward ? static_cast<int64_t>(rowBytes) : -static_cast<int64_t>(rowBytes);
  const uint64_t firstRow = forward ? 0 : (count - 1) * rowBytes;
  for (uint32_t x = 0; x < width; ++x) {
    const uint64_t uy = orientation <= 6 ? x : width - 1 - x;
    uint8_t* to = dib + (width - 1 - uy) * stride + left * bytes;  // bottom-up, upright height `width`
    const uint8_t* from = rows + firstRow + static_cast<size_t>(x) * bytes;
    if (bytes == 3)
      copyRun<3>(to, from, fromStep, count, bytes);
    else if (bytes == 1)
      copyRun<1>(to, from, fromStep, count, bytes);
    else
      copyRun<0>(to, from, fromStep, count, bytes);
  }
}

}  // namespace ifwic
