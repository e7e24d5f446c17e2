/* The KVP1 picture format of our decoding fixture plug-ins, shared by the plug-in and by the
   tests and benchmarks that write such files.

   A KVP1 file (all numbers little-endian):
     0   4  "KVP1"
     4   4  width (int32)
     8   4  height (int32); negative asks the plug-in to return the rows top-down
     12  2  bits per pixel (1, 4, 8, 16, 24, 32 make sense; others pass through unchecked)
     14  2  0
     16  4  behaviour switches (KVP_*), for the host's failure paths
     20  4  colour count stored in the file and put into biClrUsed (0: 2^bits up to 8 bits)
     24  ...  with KVP_BITFIELDS: three 32-bit masks (red, green, blue)
          ... the colour table: one B, G, R, 0 quad per colour
          ... the rows, top row first, each padded to a multiple of 4 bytes
   The plug-in hands the picture over as a BITMAPINFO block (40-byte header, masks, colours)
   and a block of rows in the order the height asks for. */
#ifndef KORVALE_SPI_DECODE_KVP_FORMAT_H
#define KORVALE_SPI_DECODE_KVP_FORMAT_H

#include <stdint.h>

#include "platform/dib_layout.h"

#define KVP_MAGIC "KVP1"
#define KVP_HEADER_SIZE 24

enum KvpSwitch {
  KVP_FAIL = 0x0001,       /* GetPicture returns 3 (broken data) */
  KVP_NO_BITS = 0x0002,    /* GetPicture returns 0 with the bits handle unset */
  KVP_NO_INFO = 0x0004,    /* GetPicture returns 0 with the info handle unset */
  KVP_PROGRESS = 0x0008,   /* calls the progress callback at rows 0, h/2 and h; stops on non-zero */
  KVP_TEXT = 0x0010,       /* GetPictureInfo leaves a text handle in the record */
  KVP_SHORT_BITS = 0x0020, /* the bits block is half the size the header claims */
  KVP_SHORT_INFO = 0x0040, /* the info block holds the 40-byte header only */
  KVP_CRASH = 0x0080,      /* GetPicture writes through a null pointer (Windows build only) */
  KVP_BITFIELDS = 0x0100,  /* BI_BITFIELDS with the file's three masks */
  KVP_BIG_BISIZE = 0x0200, /* biSize says 108 although the block has a 40-byte header */
  KVP_REFUSE = 0x0400,     /* IsSupported answers 0 */
  KVP_PREVIEW = 0x0800,    /* GetPreview decodes too (otherwise it answers -1) */
  KVP_CRASH_INFO = 0x1000  /* GetPictureInfo writes through a null pointer (Windows build only) */
};

/* Bytes of one padded row, or -1 when it does not fit in 31 bits.  A width of 0 or less has
   rows of 0 bytes: such a picture passes through to the host, whose checks it is for. */
static inline int64_t KvpRowBytes(int32_t width, uint32_t bits) {
  const uint64_t row = KorDibRowBytes(width, bits);
  return row > 0x7FFFFFFF ? -1 : (int64_t)row;
}

/* Colours in the table: the stored count, or 2^bits for up to 8 bits. */
static inline uint32_t KvpColors(uint32_t bits, uint32_t clrUsed) {
  return (uint32_t)KorDibColorEntries(bits, clrUsed);
}

#endif
