// Palettes made from colour tables and copied, on the calls of the drawing seam: the same on
// both builds.
#include <algorithm>
#include <vector>

#include "platform/gdi.h"

namespace platform {

PaletteHandle PaletteFromColorTable(const uint8_t* table, int count) {
  count = std::clamp(count, 0, 65535);
  std::vector<PaletteEntry> entries(static_cast<size_t>(count));
  for (size_t i = 0; i < entries.size(); ++i) {
    const uint8_t* q = table + 4 * i;
    entries[i] = {q[2], q[1], q[0], 0};
  }
  return CreatePalette(entries.data(), count);
}

PaletteHandle CopyPalette(PaletteHandle palette) {
  if (!palette) return nullptr;
  const int n = std::max(GetPaletteEntries(palette, 0, 0, nullptr), 0);
  std::vector<PaletteEntry> entries(static_cast<size_t>(n));
  if (n > 0) GetPaletteEntries(palette, 0, n, entries.data());
  return CreatePalette(entries.data(), n);
}

}  // namespace platform
