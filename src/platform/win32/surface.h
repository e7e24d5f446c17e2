// The Win32 drawing target: a device context handed in by its owner (the image control's
// WM_PAINT, a memory DC in tests), plus the copy mode the canvas draws with.
#ifndef KORVALE_PLATFORM_WIN32_SURFACE_H
#define KORVALE_PLATFORM_WIN32_SURFACE_H

#include <windows.h>

#include <cstdint>

#include "platform/gdi.h"

namespace platform {

class Surface {
 public:
  explicit Surface(HDC dc, uint32_t mode = kSRCCOPY) : copyMode(mode), dc_(dc) {}
  HDC Handle() const { return dc_; }

  uint32_t copyMode;  // the raster operation of bitmap drawing

 private:
  HDC dc_;  // not owned
};

}  // namespace platform

#endif
