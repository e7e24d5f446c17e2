// ifwic.spi: a Susie import plug-in for PNG, JPEG, GIF (first frame), TIFF (first page) and,
// where the system can decode it, JPEG XR, built on the Windows Imaging Component.
//
// Every entry point initialises COM for its own call on the calling thread and gives it back
// before returning; nothing outlives a call.
#include <windows.h>

#include <cstring>
#include <string>

#include "../plugin_info.h"
#include "com.h"
#include "plugins/spi_api.h"
#include "pixels.h"
#include "sniff.h"
#include "wic_picture.h"

#define IFWIC_EXPORT extern "C" __declspec(dllexport)

namespace {

// COM for one call, in the multithreaded model: a single-threaded apartment makes a hidden
// window for its messages, which loads the display driver into the process (about 30 ms at a
// plug-in helper's first call under Wine).  The codecs work in either model, and a host thread
// that chose the other one keeps it.
constexpr DWORD kComModel = COINIT_MULTITHREADED;

using ifwic::Container;

// GetPictureInfo reads this much of a file for the header parse.
constexpr size_t kHeaderLimit = 256 * 1024;

const char kKind[] = "00IN";
// Built for 64 bits it is ifwic.sph, the extension of 64-bit plug-ins.
#if defined(_WIN64)
const char kAbout[] = "ifwic.sph version 1.1: PNG, JPEG, GIF, TIFF through the Windows Imaging Component";
#else
const char kAbout[] = "ifwic.spi version 1.1: PNG, JPEG, GIF, TIFF through the Windows Imaging Component";
#endif

struct Format {
  const char* patterns;
  const char* description;
};
// One format each, for the descriptions.  JPEG XR, the last, is declared only where it decodes.
const Format kFormats[] = {
    {"*.png", "PNG"},
    {"*.jpg;*.jpeg;*.jpe;*.jfif", "JPEG"},
    {"*.gif", "GIF (first frame)"},
    {"*.tif;*.tiff", "TIFF (first page)"},
    {"*.jxr;*.wdp", "JPEG XR"},
};
constexpr int kFormatCount = sizeof kFormats / sizeof kFormats[0];

// Information text number `n`, or an empty one past the end.  The first format item holds every
// pattern, because a host that takes one item per plug-in for its folder list takes the first.
std::string infoText(int n, bool jpegXr) {
  const int formats = jpegXr ? kFormatCount : kFormatCount - 1;
  if (n == 0) return kKind;
  if (n == 1) return kAbout;
  if (n == 2 || n == 3) {
    std::string all;
    for (int i = 0; i < formats; ++i) {
      if (i) all += n == 2 ? ";" : ", ";
      all += n == 2 ? kFormats[i].patterns : kFormats[i].description;
    }
    return all;
  }
  const int item = (n - 4) / 2;
  if (item >= formats) return std::string();
  return n % 2 == 0 ? kFormats[item].patterns : kFormats[item].description;
}

bool jpegXrAvailable() {
  const platform::win::ComInit com(kComModel);
  if (!com.Usable()) return false;
  ifwic::ComPtr<IWICImagingFactory> factory;
  if (FAILED(CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER, IID_IWICImagingFactory,
                              factory.putVoid())))
    return false;
  return ifwic::jpegXrDecodable(factory.get());
}

bool jpegXrAvailableOnce() {
  static const bool available = jpegXrAvailable();
  return available;
}

// The first bytes of the data for IsSupported: a header block (any address with a non-zero
// high word), or, from older hosts, a file handle read at its position and put back.
size_t headerBytes(spi_dw_t dw, uint8_t* out, size_t count) {
  if (dw & ~static_cast<spi_dw_t>(0xFFFF)) {
    std::memcpy(out, reinterpret_cast<const void*>(dw), count);  // within the 2 KB block
    return count;
  }
  HANDLE file = reinterpret_cast<HANDLE>(dw);
  LARGE_INTEGER zero{}, position;
  if (!SetFilePointerEx(file, zero, &position, FILE_CURRENT)) return 0;
  DWORD got = 0;
  if (!ReadFile(file, out, static_cast<DWORD>(count), &got, nullptr)) got = 0;
  SetFilePointerEx(file, position, nullptr, FILE_BEGIN);
  return got;
}

int pictureInfo(const char* buf, spi_len_t len, uint32_t flag, SPI_PICTINFO* info) {
  const platform::win::ComInit com(kComModel);
  if (!com.Usable()) return SPI_INTERNAL_ERROR;
  ifwic::InputBytes head;
  int result = head.open(buf, len, flag, kHeaderLimit);
  if (result != SPI_SUCCESS) return result;
  const Container container = ifwic::identify(head.data(), head.size());
  if (container == Container::None) return SPI_UNKNOWN_FORMAT;
  const ifwic::HeaderInfo header = ifwic::readHeaderInfo(container, head.data(), head.size());
  if (header.known && header.width && header.height && header.width <= 0x7FFFFFFF &&
      header.height <= 0x7FFFFFFF) {
    ifwic::Density density = ifwic::readDensity(container, head.data(), head.size());
    // The size and density of the picture as it is returned: upright.
    const int orientation = ifwic::readOrientation(container, head.data(), head.size());
    uint32_t width, height;
    ifwic::uprightSize(orientation, header.width, header.height, width, height);
    if (orientation >= 5) density = ifwic::Density{density.y, density.x};
    *info = SPI_PICTINFO{};
    info->width = static_cast<int32_t>(width);
    info->height = static_cast<int32_t>(height);
    info->x_density = density.x;
    info->y_density = density.y;
    info->colorDepth = static_cast<int16_t>(header.depth);
    return SPI_SUCCESS;
  }
  // Containers whose layout only the codec knows (TIFF, JPEG XR) are opened whole.
  ifwic::InputBytes whole;
  if (head.partial()) {
    result = whole.open(buf, len, flag);
    if (result != SPI_SUCCESS) return result;
  }
  const ifwic::InputBytes& in = head.partial() ? whole : head;
  ifwic::WicPicture picture;
  result = picture.open(in.data(), in.size(), false);
  if (result != SPI_SUCCESS) return result;
  return picture.describe(info, ifwic::readDensity(container, in.data(), in.size()));
}

int picture(const char* buf, spi_len_t len, uint32_t flag, HLOCAL* infoHandle, HLOCAL* bitsHandle,
            SPI_PROGRESS progress, spi_len_t lData) {
  const platform::win::ComInit com(kComModel);
  if (!com.Usable()) return SPI_INTERNAL_ERROR;
  ifwic::InputBytes in;
  int result = in.open(buf, len, flag);
  if (result != SPI_SUCCESS) return result;
  ifwic::WicPicture picture;
  result = picture.open(in.data(), in.size(), true);
  if (result != SPI_SUCCESS) return result;
  const Container container = ifwic::identify(in.data(), in.size());
  return picture.decode(infoHandle, bitsHandle, progress, lData,
                        ifwic::readDensity(container, in.data(), in.size()));
}

}  // namespace

IFWIC_EXPORT int32_t SPI_CALL GetPluginInfo(int32_t infono, char* buf, int32_t buflen) {
  if (!buf || buflen <= 0 || infono < 0) return 0;
  std::string text;
  try {
    // Only the format items ask the codecs, once per process: a host asks for every item in turn.
    text = infoText(infono, infono >= 2 && jpegXrAvailableOnce());
  } catch (...) {
    return 0;
  }
  return KorSpiInfoText(text.c_str(), buf, buflen);
}

IFWIC_EXPORT int32_t SPI_CALL IsSupported(const char* /*filename*/, spi_dw_t dw) {
  try {
    uint8_t head[8] = {};
    const size_t got = headerBytes(dw, head, sizeof head);
    const Container container = ifwic::identify(head, got);
    if (container == Container::None) return 0;
    if (container == Container::JpegXr && !jpegXrAvailableOnce()) return 0;
    return 1;
  } catch (...) {
    return 0;
  }
}

IFWIC_EXPORT int32_t SPI_CALL GetPictureInfo(const char* buf, spi_len_t len, uint32_t flag,
                                             SPI_PICTINFO* lpInfo) {
  if (!lpInfo) return SPI_INTERNAL_ERROR;
  try {
    return pictureInfo(buf, len, flag, lpInfo);
  } catch (...) {
    return SPI_INTERNAL_ERROR;
  }
}

IFWIC_EXPORT int32_t SPI_CALL GetPicture(const char* buf, spi_len_t len, uint32_t flag, spi_hlocal_t* pHBInfo,
                                         spi_hlocal_t* pHBm, SPI_PROGRESS lpPrgressCallback,
                                         spi_len_t lData) {
  if (!pHBInfo || !pHBm) return SPI_INTERNAL_ERROR;
  *pHBInfo = nullptr;
  *pHBm = nullptr;
  try {
    return picture(buf, len, flag, reinterpret_cast<HLOCAL*>(pHBInfo), reinterpret_cast<HLOCAL*>(pHBm),
                   lpPrgressCallback, lData);
  } catch (...) {
    return SPI_INTERNAL_ERROR;
  }
}

IFWIC_EXPORT int32_t SPI_CALL GetPreview(const char*, spi_len_t, uint32_t, spi_hlocal_t*, spi_hlocal_t*,
                                         SPI_PROGRESS, spi_len_t) {
  return SPI_NOT_IMPLEMENTED;
}
