// libFuzzer target for the icon and metafile readers: the same bytes are read as an .ico file
// and as a metafile; whatever loads is measured, composed over white and drawn on the
// software canvas, so every offset the readers accept is also read from.
#include <cstddef>
#include <cstdint>

#include "picture/icon.h"
#include "picture/metafile.h"
#include "picture/render.h"
#include "platform/posix/soft_canvas.h"
#include "rtl/exceptions.h"

namespace {

void Exercise(TGraphic& g, const uint8_t* data, size_t size) {
  TPointerStream in(data, static_cast<int64_t>(size));
  try {
    g.LoadStream(in);
  } catch (const Exception&) {
    return;
  }
  if (g.IsEmpty()) return;
  platform::Surface canvas(16, 16);
  g.DrawInRect(canvas, TRect{0, 0, 16, 16});
  if (int64_t{g.Width()} * g.Height() <= 512 * 512) RenderToBitmap(g);
  TMemoryStream out;
  g.SaveStream(out);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  TIcon icon;
  Exercise(icon, data, size);
  TMetafile metafile;
  Exercise(metafile, data, size);
  return 0;
}
