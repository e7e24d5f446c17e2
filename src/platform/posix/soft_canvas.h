// The native drawing target: a software canvas of width x height 32-bit pixels 0x00RRGGBB with
// the state GDI keeps on a device context (selected palette, stretch mode, copy mode), so the
// drawing code is testable without a display.
#ifndef KORVALE_PLATFORM_POSIX_SOFT_CANVAS_H
#define KORVALE_PLATFORM_POSIX_SOFT_CANVAS_H

#include <cstdint>
#include <vector>

#include "platform/gdi.h"

namespace platform {

class Surface {
 public:
  Surface(int width, int height, uint32_t fill = 0x00FFFFFF)
      : width_(width < 0 ? 0 : width),
        height_(height < 0 ? 0 : height),
        pixels_(static_cast<size_t>(width_) * static_cast<size_t>(height_), fill) {}

  int Width() const { return width_; }
  int Height() const { return height_; }
  uint32_t Pixel(int x, int y) const { return pixels_[Index(x, y)]; }
  void SetPixel(int x, int y, uint32_t rgb) { pixels_[Index(x, y)] = rgb & 0x00FFFFFF; }
  bool Contains(int x, int y) const { return x >= 0 && y >= 0 && x < width_ && y < height_; }
  uint32_t* Row(int y) { return pixels_.data() + static_cast<size_t>(y) * static_cast<size_t>(width_); }

  // The state a device context holds.
  PaletteHandle selectedPalette = nullptr;
  int stretchMode = kBLACKONWHITE;  // GDI's default
  uint32_t copyMode = kSRCCOPY;
  int bitsPerPixel = 32;  // of the display the canvas stands for
  int realizeCount = 0;   // RealizePalette calls, for tests of the drawing sequence

 private:
  size_t Index(int x, int y) const {
    return static_cast<size_t>(y) * static_cast<size_t>(width_) + static_cast<size_t>(x);
  }
  int width_, height_;
  std::vector<uint32_t> pixels_;
};

}  // namespace platform

#endif
