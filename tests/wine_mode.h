// Wine's WoW64 mode (a 32-bit program under Wine's 64-bit loader, where the kernel executes no
// 32-bit programs; scripts/wine-env chooses it and says so in KOR_WIN32_MODE) has gaps of its
// own: in Wine 8.0 a GDI palette made there has no entries.  A case that cannot hold because of
// such a gap skips itself with the reason, and only where the gap really shows.
#ifndef KORVALE_TESTS_WINE_MODE_H
#define KORVALE_TESTS_WINE_MODE_H

#include <cstdlib>
#include <cstring>

#include "platform/gdi.h"

namespace kortest {

inline bool InWineWow64() {
#if defined(_WIN32) && !defined(_WIN64)
  const char* mode = std::getenv("KOR_WIN32_MODE");
  return mode && std::strcmp(mode, "wow64") == 0;
#else
  return false;
#endif
}

inline bool Wow64EmptiesPalettes() {
  if (!InWineWow64()) return false;
  const platform::PaletteEntry two[2] = {{1, 2, 3, 0}, {4, 5, 6, 0}};
  const platform::OwnedPalette palette(platform::CreatePalette(two, 2));
  return !palette || platform::GetPaletteEntries(palette.get(), 0, 0, nullptr) != 2;
}

}  // namespace kortest

#define KOR_SKIP_WHERE_WOW64_EMPTIES_PALETTES() \
  if (kortest::Wow64EmptiesPalettes()) GTEST_SKIP() << "Wine's WoW64 mode gives a GDI palette no entries"

#endif
