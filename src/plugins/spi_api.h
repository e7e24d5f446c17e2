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
typedef int32_t spi_len_t;   // len, lData: 32-bit signed
typedef uint32_t spi_dw_t;   // dw of IsSupported: the header address as a 32-bit value
typedef void* spi_hlocal_t;  // HLOCAL
#else
typedef intptr_t spi_len_t;
typedef uintptr_t spi_dw_t;
typedef void* spi_hlocal_t;
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

#ifdef __cplusplus
}
#endif

#endif
