// A drawing target for the tests on either build: the software canvas natively, a 32-bit DIB
// section in a memory device context (real GDI) under Win32.
#ifndef KORVALE_TESTS_PICTURE_REGISTRY_TEST_CANVAS_H
#define KORVALE_TESTS_PICTURE_REGISTRY_TEST_CANVAS_H

#include <cstdint>
#include <memory>

#include "platform/gdi.h"

class TestCanvas {
 public:
  TestCanvas(int width, int height, uint32_t fill);  // fill: 0x00RRGGBB
  ~TestCanvas();
  platform::Surface& Surface();
  uint32_t Pixel(int x, int y);  // 0x00RRGGBB

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

#endif
