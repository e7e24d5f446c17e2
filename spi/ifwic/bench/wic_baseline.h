// What both timing programs share: a clock, whole-file reading, and the baseline decode of a
// picture by the imaging codecs alone.
#ifndef KORVALE_SPI_IFWIC_BENCH_WIC_BASELINE_H
#define KORVALE_SPI_IFWIC_BENCH_WIC_BASELINE_H

#include <windows.h>
#include <shlwapi.h>
#include <wincodec.h>

#include <cstdio>
#include <vector>

#include "platform/dib_layout.h"

namespace ifwic_bench {

// COM for this thread and the codecs' factory (released by the caller), or null.
inline IWICImagingFactory* startCodecs() {
  CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  IWICImagingFactory* factory = nullptr;
  if (FAILED(CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER, IID_IWICImagingFactory,
                              reinterpret_cast<void**>(&factory))))
    return nullptr;
  return factory;
}

inline double now() {
  LARGE_INTEGER f, c;
  QueryPerformanceFrequency(&f);
  QueryPerformanceCounter(&c);
  return static_cast<double>(c.QuadPart) / f.QuadPart;
}

inline std::vector<char> readAll(const char* path) {
  std::vector<char> data;
  FILE* f = std::fopen(path, "rb");
  if (!f) return data;
  std::fseek(f, 0, SEEK_END);
  data.resize(std::ftell(f));
  std::fseek(f, 0, SEEK_SET);
  if (std::fread(data.data(), 1, data.size(), f) != data.size()) data.clear();
  std::fclose(f);
  return data;
}

// The baseline: the same picture decoded by the codec alone into one 24-bit buffer, from the
// bytes in memory or (with a path) from the file.
inline bool wicDecode(IWICImagingFactory* factory, const std::vector<char>& data, const char* path) {
  IStream* stream = nullptr;
  IWICBitmapDecoder* decoder = nullptr;
  HRESULT hr;
  if (path) {
    wchar_t wide[MAX_PATH];
    if (!MultiByteToWideChar(CP_ACP, 0, path, -1, wide, MAX_PATH)) return false;
    hr = factory->CreateDecoderFromFilename(wide, nullptr, GENERIC_READ, WICDecodeMetadataCacheOnDemand,
                                            &decoder);
  } else {
    stream = SHCreateMemStream(reinterpret_cast<const BYTE*>(data.data()), static_cast<UINT>(data.size()));
    if (!stream) return false;
    hr = factory->CreateDecoderFromStream(stream, nullptr, WICDecodeMetadataCacheOnDemand, &decoder);
  }
  bool ok = false;
  IWICBitmapFrameDecode* frame = nullptr;
  IWICFormatConverter* converter = nullptr;
  if (SUCCEEDED(hr) && SUCCEEDED(decoder->GetFrame(0, &frame)) &&
      SUCCEEDED(factory->CreateFormatConverter(&converter)) &&
      SUCCEEDED(converter->Initialize(frame, GUID_WICPixelFormat24bppBGR, WICBitmapDitherTypeNone, nullptr, 0,
                                      WICBitmapPaletteTypeCustom))) {
    UINT w = 0, h = 0;
    converter->GetSize(&w, &h);
    const UINT stride = static_cast<UINT>(KorDibRowBytes(w, 24));
    std::vector<BYTE> pixels(static_cast<size_t>(stride) * h);
    ok = SUCCEEDED(converter->CopyPixels(nullptr, stride, static_cast<UINT>(pixels.size()), pixels.data()));
  }
  if (converter) converter->Release();
  if (frame) frame->Release();
  if (decoder) decoder->Release();
  if (stream) stream->Release();
  return ok;
}

// The time of one run, or a negative value when the run failed.
template <class F>
double timed(F f) {
  const double t0 = now();
  return f() ? now() - t0 : -1;
}

}  // namespace ifwic_bench

#endif
