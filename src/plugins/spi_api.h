// The Susie plug-in calling interface, shared by the host (src/plugins, src/graphics) and by
// the plug-ins we build ourselves (spi/).
//
// On the 32-bit Windows build every entry point is __stdcall and every length, handle and
// callback value is 32 bits wide, byte for byte what third-party plug-ins expect.  The native
// build follows the 64-bit variant of the interface: the same names and argument order, with
// lengths, lData and the header address pointer-sized, so a plug-in can hand over pointers.
//
// This header is plain C so that a plug-in may be written in either language.
#ifndef KORVALE_PLUGINS_SPI_API_H
#define KORVALE_PLUGINS_SPI_API_H

#include <stddef.h>
#include <stdint.h>

#if defined(_WIN32)
#define SPI_CALL __stdcall
#else
#define SPI_CALL
#endif

#ifdef __cplusplus
extern "C" {
#endif

#if defined(_WIN32) && !defined(_WIN64)
typedef int32_t spi_len_t;    // len, lData: 32-bit signed
typedef uint32_t spi_dw_t;    // dw of IsSupported: the header address as a 32-bit value
typedef void* spi_hlocal_t;   // HLOCAL
typedef uint32_t spi_size_t;  // position and sizes of an archive entry record
typedef int32_t spi_time_t;   // its time: seconds since 1970, the 32-bit time_t
#else
typedef intptr_t spi_len_t;
typedef uintptr_t spi_dw_t;
typedef void* spi_hlocal_t;
typedef uintptr_t spi_size_t;
typedef int64_t spi_time_t;
#endif

#ifdef __cplusplus
#define SPI_STATIC_ASSERT static_assert
#else
#define SPI_STATIC_ASSERT _Static_assert
#endif

// Progress callback handed to GetPicture/GetPreview: 0 continues, non-zero asks the plug-in
// to stop.  lData is the value the caller passed to GetPicture.
typedef int32_t(SPI_CALL* SPI_PROGRESS)(int32_t done, int32_t total, spi_len_t lData);

#pragma pack(push, 1)
// The picture information record that GetPictureInfo fills.  Byte-packed; on Win32 it is the
// classic 26-byte record with hInfo at bytes 22..25.  The native build keeps byte packing with
// two padding bytes so that the pointer-sized hInfo sits at byte 24 (32 bytes in all).
typedef struct SPI_PICTINFO {
  int32_t left;
  int32_t top;
  int32_t width;
  int32_t height;
  uint16_t x_density;
  uint16_t y_density;
  int16_t colorDepth;
#if !(defined(_WIN32) && !defined(_WIN64))
  uint8_t padding[2];
#endif
  spi_hlocal_t hInfo;  // text information in local memory, or null
} SPI_PICTINFO;
#pragma pack(pop)

#if defined(_WIN32) && !defined(_WIN64)
#ifdef __cplusplus
static_assert(sizeof(SPI_PICTINFO) == 26, "PictureInfo must be the packed 26-byte record");
#endif
#define SPI_PICTINFO_HINFO_OFFSET 22
#else
#ifdef __cplusplus
static_assert(sizeof(SPI_PICTINFO) == 32, "native PictureInfo is 32 bytes, hInfo at 24");
#endif
#define SPI_PICTINFO_HINFO_OFFSET 24
#endif

#pragma pack(push, 1)
// The entry record of an archive plug-in: GetArchiveInfo answers a local-memory array of them
// ended by a record whose method[0] is 0, GetFileInfo fills one.  Byte-packed.  path ends with
// its "\" separator (empty for an entry at the top), so path followed by filename is the
// entry's whole name.  On Win32 position and the sizes are 32 bits and the time a 32-bit time_t
// (428 bytes); the 64-bit variant, which the native build follows, widens the first three to
// pointer size and the time to 64 bits (444 bytes).
typedef struct SPI_FILEINFO {
  unsigned char method[8];  // the compression method's name, NUL-padded
  spi_size_t position;      // where the entry lies in the input: GetFile's len for a file; for
                            // memory, GetFile is given the archive's bytes from here to its end
  spi_size_t compsize;      // bytes stored in the archive
  spi_size_t filesize;      // bytes of the entry itself
  spi_time_t timestamp;     // last change, seconds since 1970-01-01 00:00 UTC
  char path[200];
  char filename[200];
  uint32_t crc;  // CRC-32 of the entry's bytes
} SPI_FILEINFO;
#pragma pack(pop)

// The record's layout for numbers of either width (4 for Win32, 8 for the 64-bit variant), so
// that a host can read the records of a plug-in of the other bitness field by field.
#define SPI_FILEINFO_POSITION_AT(width) 8
#define SPI_FILEINFO_COMPSIZE_AT(width) (8 + (width))
#define SPI_FILEINFO_FILESIZE_AT(width) (8 + 2 * (width))
#define SPI_FILEINFO_TIMESTAMP_AT(width) (8 + 3 * (width))
#define SPI_FILEINFO_PATH_AT(width) (8 + 4 * (width))
#define SPI_FILEINFO_FILENAME_AT(width) (208 + 4 * (width))
#define SPI_FILEINFO_CRC_AT(width) (408 + 4 * (width))
#define SPI_FILEINFO_SIZE_OF(width) (412 + 4 * (width))
// This build's width.
#define SPI_FILEINFO_WIDTH ((int)sizeof(spi_size_t))

#if defined(_WIN32) && !defined(_WIN64)
SPI_STATIC_ASSERT(sizeof(SPI_FILEINFO) == 428, "the Win32 archive entry record is 428 bytes");
#else
SPI_STATIC_ASSERT(sizeof(SPI_FILEINFO) == 444, "the 64-bit archive entry record is 444 bytes");
#endif
SPI_STATIC_ASSERT(sizeof(spi_time_t) == sizeof(spi_size_t), "the time is as wide as the sizes");
SPI_STATIC_ASSERT(offsetof(SPI_FILEINFO, position) == SPI_FILEINFO_POSITION_AT(SPI_FILEINFO_WIDTH),
                  "position");
SPI_STATIC_ASSERT(offsetof(SPI_FILEINFO, compsize) == SPI_FILEINFO_COMPSIZE_AT(SPI_FILEINFO_WIDTH),
                  "compsize");
SPI_STATIC_ASSERT(offsetof(SPI_FILEINFO, filesize) == SPI_FILEINFO_FILESIZE_AT(SPI_FILEINFO_WIDTH),
                  "filesize");
SPI_STATIC_ASSERT(offsetof(SPI_FILEINFO, timestamp) == SPI_FILEINFO_TIMESTAMP_AT(SPI_FILEINFO_WIDTH),
                  "timestamp");
SPI_STATIC_ASSERT(offsetof(SPI_FILEINFO, path) == SPI_FILEINFO_PATH_AT(SPI_FILEINFO_WIDTH), "path");
SPI_STATIC_ASSERT(offsetof(SPI_FILEINFO, filename) == SPI_FILEINFO_FILENAME_AT(SPI_FILEINFO_WIDTH),
                  "filename");
SPI_STATIC_ASSERT(offsetof(SPI_FILEINFO, crc) == SPI_FILEINFO_CRC_AT(SPI_FILEINFO_WIDTH), "crc");
SPI_STATIC_ASSERT(sizeof(SPI_FILEINFO) == SPI_FILEINFO_SIZE_OF(SPI_FILEINFO_WIDTH), "record size");

// The nine entry points, exported by name.
typedef int32_t(SPI_CALL* SPI_GetPluginInfo)(int32_t infono, char* buf, int32_t buflen);
typedef int32_t(SPI_CALL* SPI_IsSupported)(const char* filename, spi_dw_t dw);
typedef int32_t(SPI_CALL* SPI_GetPictureInfo)(const char* buf, spi_len_t len, uint32_t flag,
                                              SPI_PICTINFO* lpInfo);
typedef int32_t(SPI_CALL* SPI_GetPicture)(const char* buf, spi_len_t len, uint32_t flag,
                                          spi_hlocal_t* pHBInfo, spi_hlocal_t* pHBm,
                                          SPI_PROGRESS lpPrgressCallback, spi_len_t lData);
typedef int32_t(SPI_CALL* SPI_GetPreview)(const char* buf, spi_len_t len, uint32_t flag,
                                          spi_hlocal_t* pHBInfo, spi_hlocal_t* pHBm,
                                          SPI_PROGRESS lpPrgressCallback, spi_len_t lData);
typedef int32_t(SPI_CALL* SPI_GetArchiveInfo)(const char* buf, spi_len_t len, uint32_t flag,
                                              spi_hlocal_t* lphInf);
typedef int32_t(SPI_CALL* SPI_GetFileInfo)(const char* buf, spi_len_t len, const char* filename,
                                           uint32_t flag, void* lpInfo);
typedef int32_t(SPI_CALL* SPI_GetFile)(const char* src, spi_len_t len, char* dest, uint32_t flag,
                                       SPI_PROGRESS prgressCallback, spi_len_t lData);
typedef int32_t(SPI_CALL* SPI_ConfigurationDlg)(void* parent, int32_t fnc);

// Documented results of GetPicture / GetPictureInfo / GetPreview.
enum {
  SPI_NOT_IMPLEMENTED = -1,
  SPI_SUCCESS = 0,
  SPI_ABORT = 1,
  SPI_UNKNOWN_FORMAT = 2,
  SPI_BROKEN_DATA = 3,
  SPI_NO_MEMORY = 4,
  SPI_MEMORY_ERROR = 5,
  SPI_FILE_READ_ERROR = 6,
  SPI_INTERNAL_ERROR = 8
};

// Input flag of the buf/len pair.
enum { SPI_INPUT_FILE = 0, SPI_INPUT_MEMORY = 1 };

// GetFileInfo's flag: compare the name without regard to letter case.
enum { SPI_IGNORE_CASE = 0x80 };
// GetFile's output kind, (flag >> 8) & 7: a file in the folder dest names, or a local-memory
// block whose handle is stored where dest points (dest is then a spi_hlocal_t*).
enum { SPI_OUTPUT_FILE = 0, SPI_OUTPUT_MEMORY = 1 };

#ifdef __cplusplus
}
#endif

#endif
