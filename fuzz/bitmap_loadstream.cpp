// libFuzzer target: TBitmap::LoadStream on arbitrary bytes.  A load either succeeds or raises
// one of the system's exceptions; a loaded bitmap is also read pixel by pixel, written back and
// drawn, so every path that touches the held rows runs on what the reader accepted.
#include <cstddef>
#include <cstdint>

#include "picture/bitmap.h"
#include "platform/posix/soft_canvas.h"
#include "rtl/exceptions.h"
#include "rtl/streams.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  TBitmap bmp;
  try {
    TPointerStream in(data, static_cast<int64_t>(size));
    bmp.LoadStream(in);
  } catch (const Exception&) {
    return 0;
  }
  const int w = bmp.Width(), h = bmp.Height();
  uint32_t sum = 0;
  for (int y = 0; y < h && y < 64; ++y)
    for (int x = 0; x < w && x < 64; ++x) sum += bmp.PixelRGB(x, y);
  TMemoryStream out;
  bmp.SaveStream(out);
  TBitmap again;
  out.SetPosition(0);
  again.LoadStream(out);  // what we write must read back
  // A bitmap with pixels writes a file that reads back at its size (an empty one writes nothing).
  if (!bmp.IsEmpty() && (again.Width() != w || again.Height() != h)) __builtin_trap();
  platform::Surface canvas(16, 16);
  bmp.DrawInRect(canvas, TRect{-3, -2, 13, 11});
  return static_cast<int>(sum & 0);
}
