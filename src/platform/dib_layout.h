/* Layout arithmetic of device-independent bitmaps and little-endian byte access, in one place
   for the host (C++) and our plug-ins (C and C++).  Every size is computed in 64 bits, so no
   value a header's 32-bit fields can hold overflows it; KorDibCheckedImageBytes adds the bounds
   that a reader must hold before it allocates. */
#ifndef KORVALE_PLATFORM_DIB_LAYOUT_H
#define KORVALE_PLATFORM_DIB_LAYOUT_H

#include <stdint.h>

/* Whether `bits` is a depth the bitmap formats define. */
static inline int KorDibValidDepth(int64_t bits) {
  return bits == 1 || bits == 4 || bits == 8 || bits == 16 || bits == 24 || bits == 32;
}

/* Bytes of one row padded to 32 bits; 0 for a width or a depth of 0 or less. */
static inline uint64_t KorDibRowBytes(int64_t width, int64_t bits) {
  if (width <= 0 || bits <= 0) return 0;
  return ((uint64_t)width * (uint64_t)bits + 31) / 32 * 4;
}

/* Entries of the colour table after the header: `clrUsed` when set, else the depth's full
   table (2, 16, 256) up to 8 bits and none above. */
static inline uint64_t KorDibColorEntries(int64_t bits, uint32_t clrUsed) {
  if (clrUsed) return clrUsed;
  return bits == 1 ? 2 : bits == 4 ? 16 : bits == 8 ? 256 : 0;
}

/* Bytes of all rows; a negative height (top-down rows) counts by its absolute value. */
static inline uint64_t KorDibImageBytes(int64_t width, int64_t height, int64_t bits) {
  return KorDibRowBytes(width, bits) * (uint64_t)(height < 0 ? -height : height);
}

/* The image bytes of a picture a reader may allocate: 1 when the geometry is sound (a width
   above 0, a height other than 0, a valid depth, a row and an image that fit 32 bits and the
   image within `limit`), with the sizes in *rowBytes and *imageBytes; 0 otherwise. */
static inline int KorDibCheckedImageBytes(int64_t width, int64_t height, int64_t bits, uint64_t limit,
                                          uint64_t* rowBytes, uint64_t* imageBytes) {
  uint64_t row, total;
  if (width <= 0 || height == 0 || !KorDibValidDepth(bits)) return 0;
  row = KorDibRowBytes(width, bits);
  total = KorDibImageBytes(width, height, bits);
  if (row > 0xFFFFFFFFu || total > 0xFFFFFFFFu || total > limit) return 0;
  *rowBytes = row;
  *imageBytes = total;
  return 1;
}

/* Little-endian fields of file and header bytes. */
static inline uint16_t KorLe16(const uint8_t* p) { return (uint16_t)(p[0] | (p[1] << 8)); }
static inline uint32_t KorLe32(const uint8_t* p) {
  return (uint32_t)p[0] | ((uint32_t)p[1] << 8) | ((uint32_t)p[2] << 16) | ((uint32_t)p[3] << 24);
}
static inline void KorPutLe16(uint8_t* p, uint32_t v) {
  p[0] = (uint8_t)v;
  p[1] = (uint8_t)(v >> 8);
}
static inline void KorPutLe32(uint8_t* p, uint32_t v) {
  KorPutLe16(p, v);
  KorPutLe16(p + 2, v >> 16);
}

#endif
