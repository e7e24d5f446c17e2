#include "platform/posix/soft_canvas.h"
#include "test_canvas.h"

struct TestCanvas::Impl {
  platform::Surface surface;
};

TestCanvas::TestCanvas(int width, int height, uint32_t fill)
    : impl_(new Impl{platform::Surface(width, height, fill)}) {}
TestCanvas::~TestCanvas() = default;
platform::Surface& TestCanvas::Surface() { return impl_->surface; }
uint32_t TestCanvas::Pixel(int x, int y) { return impl_->surface.Pixel(x, y); }
