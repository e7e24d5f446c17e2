// Windows metafiles played through GDI, and metafiles of either kind rendered into a
// device-independent picture for saving.
#include <windows.h>

#include <cstring>

#include "platform/dib.h"
#include "platform/gdi.h"
#include "platform/win32/handles.h"
#include "platform/win32/surface.h"

namespace platform {

bool PlayWindowsMetafile(Surface& surface, const void* wmfBytes, std::size_t size,
                         const MetafileWindow& window, int left, int top, int right, int bottom) {
  const win::MetaFile mf(::SetMetaFileBitsEx(static_cast<UINT>(size), static_cast<const BYTE*>(wmfBytes)));
  if (!mf) return false;
  HDC dc = surface.Handle();
  const win::SavedDC saved(dc);
  // The rectangle in device units, so that the viewport set below lands where the caller's
  // logical coordinates meant it.
  POINT corners[2] = {{left, top}, {right, bottom}};
  ::LPtoDP(dc, corners, 2);
  ::SetMapMode(dc, MM_ANISOTROPIC);
  ::SetWindowOrgEx(dc, window.orgX, window.orgY, nullptr);
  ::SetWindowExtEx(dc, window.extX ? window.extX : 1, window.extY ? window.extY : 1, nullptr);
  ::SetViewportOrgEx(dc, corners[0].x, corners[0].y, nullptr);
  ::SetViewportExtEx(dc, corners[1].x - corners[0].x, corners[1].y - corners[0].y, nullptr);
  return ::PlayMetaFile(dc, mf.get()) != FALSE;
}

bool RenderMetafileToRows(const void* bytes, std::size_t size, const MetafileWindow* window, int width,
                          int height, uint8_t* rows, std::size_t rowBytes) {
  if (width <= 0 || height <= 0) return false;
  const win::MemoryDC dc(::CreateCompatibleDC(nullptr));
  if (!dc) return false;
  // Bottom-up, as the caller's rows.
  const std::vector<uint8_t> info = MakeBitmapInfo(MakeInfoHeader(width, height, 24), nullptr, nullptr, 0);
  void* bits = nullptr;
  const win::Bitmap dib(::CreateDIBSection(dc.get(), reinterpret_cast<const BITMAPINFO*>(info.data()),
                                           DIB_RGB_COLORS, &bits, nullptr, 0));
  if (!dib || !bits) return false;
  const std::size_t total = rowBytes * static_cast<std::size_t>(height);
  std::memcpy(bits, rows, total);  // the caller's white picture
  const win::SelectedObject selected(dc.get(), dib.get());
  Surface surface(dc.get());
  const bool ok = window ? PlayWindowsMetafile(surface, bytes, size, *window, 0, 0, width, height)
                         : PlayEnhancedMetafile(surface, bytes, size, 0, 0, width, height);
  ::GdiFlush();
  if (ok) std::memcpy(rows, bits, total);
  return ok;
}

}  // namespace platform
