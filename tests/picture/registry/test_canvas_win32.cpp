#include <windows.h>

#include "platform/win32/surface.h"
#include "test_canvas.h"

struct TestCanvas::Impl {
  int width = 0;
  HDC dc = nullptr;
  HBITMAP dib = nullptr;
  HGDIOBJ old = nullptr;
  uint32_t* bits = nullptr;
  std::unique_ptr<platform::Surface> surface;
  ~Impl() {
    surface.reset();
    if (old) ::SelectObject(dc, old);
    if (dib) ::DeleteObject(dib);
    if (dc) ::DeleteDC(dc);
  }
};

TestCanvas::TestCanvas(int width, int height, uint32_t fill) : impl_(new Impl) {
  impl_->width = width;
  impl_->dc = ::CreateCompatibleDC(nullptr);
  BITMAPINFO bi{};
  bi.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
  bi.bmiHeader.biWidth = width;
  bi.bmiHeader.biHeight = -height;  // top-down: row y at bits + y * width
  bi.bmiHeader.biPlanes = 1;
  bi.bmiHeader.biBitCount = 32;
  void* bits = nullptr;
  impl_->dib = ::CreateDIBSection(impl_->dc, &bi, DIB_RGB_COLORS, &bits, nullptr, 0);
  impl_->bits = static_cast<uint32_t*>(bits);
  impl_->old = ::SelectObject(impl_->dc, impl_->dib);
  for (int i = 0; i < width * height; ++i) impl_->bits[i] = fill;
  impl_->surface = std::make_unique<platform::Surface>(impl_->dc);
}

TestCanvas::~TestCanvas() = default;
platform::Surface& TestCanvas::Surface() { return *impl_->surface; }

uint32_t TestCanvas::Pixel(int x, int y) {
  ::GdiFlush();
  return impl_->bits[y * impl_->width + x] & 0x00FFFFFF;
}
