// Windows metafiles played through GDI, and metafiles of either kind rendered into a
// device-independent picture for saving.
#include <windows.h>

#include <cstring>

#include "platform/gdi.h"
#include "platform/win32/surface.h"

namespace platform {

namespace {

struct MetaFileHandle {
  HMETAFILE h;
  ~MetaFileHandle() {
    if (h) ::DeleteMetaFile(h);
  }
};

struct MemoryDC {
  HDC h = ::CreateCompatibleDC(nullptr);
  ~MemoryDC() {
    if (h) ::DeleteDC(h);
  }
};

struct Bitmap {
  HBITMAP h;
  ~Bitmap() {
    if (h) ::DeleteObject(h);
  }
};

// Restores a device context's state (mapping mode, origins, selected objects) on scope exit.
struct SavedDC {
  HDC dc;
  int id = ::SaveDC(dc);
  ~SavedDC() {
    if (id) ::RestoreDC(dc, id);
  }
};

}  // namespace

bool PlayWindowsMetafile(Surface& surface, const void* wmfBytes, std::size_t size,
                         const MetafileWindow& window, int left, int top, int right, int bottom) {
  MetaFileHandle mf{::SetMetaFileBitsEx(static_cast<UINT>(size), static_cast<const BYTE*>(wmfBytes))};
  if (!mf.h) return false;
  HDC dc = surface.Handle();
  SavedDC saved{dc};
  // The rectangle in device units, so that the viewport set below lands where the caller's
  // logical coordinates meant it.
  POINT corners[2] = {{left, top}, {right, bottom}};
  ::LPtoDP(dc, corners, 2);
  ::SetMapMode(dc, MM_ANISOTROPIC);
  ::SetWindowOrgEx(dc, window.orgX, window.orgY, nullptr);
  ::SetWindowExtEx(dc, window.extX ? window.extX : 1, window.extY ? window.extY : 1, nullptr);
  ::SetViewportOrgEx(dc, corners[0].x, corners[0].y, nullptr);
  ::SetViewportExtEx(dc, corners[1].x - corners[0].x, corners[1].y - corners[0].y, nullptr);
  return ::PlayMetaFile(dc, mf.h) != FALSE;
}

bool RenderMetafileToRows(const void* bytes, std::size_t size, const MetafileWindow* window, int width,
                          int height, uint8_t* rows, std::size_t rowBytes) {
  if (width <= 0 || height <= 0) return false;
  MemoryDC dc;
  if (!dc.h) return false;
  BITMAPINFO bi{};
  bi.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
  bi.bmiHeader.biWidth = width;
  bi.bmiHeader.biHeight = height;  // bottom-up, as the caller's rows
  bi.bmiHeader.biPlanes = 1;
  bi.bmiHeader.biBitCount = 24;
  bi.bmiHeader.biCompression = BI_RGB;
  void* bits = nullptr;
  Bitmap dib{::CreateDIBSection(dc.h, &bi, DIB_RGB_COLORS, &bits, nullptr, 0)};
  if (!dib.h || !bits) return false;
  const std::size_t total = rowBytes * static_cast<std::size_t>(height);
  std::memcpy(bits, rows, total);  // the caller's white picture
  HGDIOBJ old = ::SelectObject(dc.h, dib.h);
  bool ok;
  {
    Surface surface(dc.h);
    ok = window ? PlayWindowsMetafile(surface, bytes, size, *window, 0, 0, width, height)
                : PlayEnhancedMetafile(surface, bytes, size, 0, 0, width, height);
  }
  ::GdiFlush();
  if (ok) std::memcpy(rows, bits, total);
  ::SelectObject(dc.h, old);
  return ok;
}

}  // namespace platform
