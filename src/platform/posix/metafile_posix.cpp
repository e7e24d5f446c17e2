// Metafiles natively: there is no GDI to play them, so nothing is drawn and the callers keep
// their white picture.
#include "platform/gdi.h"

namespace platform {

bool PlayWindowsMetafile(Surface&, const void*, std::size_t, const MetafileWindow&, int, int, int, int) {
  return false;
}

bool RenderMetafileToRows(const void*, std::size_t, const MetafileWindow*, int, int, uint8_t*, std::size_t) {
  return false;
}

}  // namespace platform
