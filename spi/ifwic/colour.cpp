#include "colour.h"

namespace ifwic {

namespace {

// An export of the colour-management library as the entry-point type it has.
template <class T>
T proc(HMODULE lib, const char* name) {
  return reinterpret_cast<T>(reinterpret_cast<void*>(GetProcAddress(lib, name)));
}

// The standard colour space sRGB (LCS_sRGB, the four letters 'sRGB' as one number).
constexpr DWORD kSrgbSpace = 0x73524742;

}  // namespace

ColourTransform::~ColourTransform() {
  if (transform_) deleteTransform_(transform_);
  for (HPROFILE p : profiles_)
    if (p) closeProfile_(p);
}

bool ColourTransform::open(const BYTE* profile, size_t size) {
  if (!profile || size == 0 || size > 0x7FFFFFFF) return false;
  // From the system folder only: never a library of that name beside the picture.
  library_.reset(LoadLibraryExW(L"mscms.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32));
  if (!library_) return false;
  HMODULE lib = library_.get();
  const auto openProfile = proc<OpenProfile>(lib, "OpenColorProfileW");
  const auto standardProfile = proc<StandardProfile>(lib, "GetStandardColorSpaceProfileW");
  const auto createTransform = proc<CreateTransform>(lib, "CreateMultiProfileTransform");
  closeProfile_ = proc<CloseProfile>(lib, "CloseColorProfile");
  deleteTransform_ = proc<DeleteTransform>(lib, "DeleteColorTransform");
  translate_ = proc<Translate>(lib, "TranslateBitmapBits");
  if (!openProfile || !standardProfile || !createTransform || !closeProfile_ || !deleteTransform_ ||
      !translate_)
    return false;

  PROFILE embedded = {PROFILE_MEMBUFFER, const_cast<BYTE*>(profile), static_cast<DWORD>(size)};
  profiles_[0] = openProfile(&embedded, PROFILE_READ, FILE_SHARE_READ, OPEN_EXISTING);
  WCHAR path[MAX_PATH];
  DWORD pathBytes = sizeof path;
  if (!profiles_[0] || !standardProfile(nullptr, kSrgbSpace, path, &pathBytes)) return false;
  path[MAX_PATH - 1] = L'\0';
  PROFILE srgb = {PROFILE_FILENAME, path, static_cast<DWORD>((lstrlenW(path) + 1) * sizeof(WCHAR))};
  profiles_[1] = openProfile(&srgb, PROFILE_READ, FILE_SHARE_READ, OPEN_EXISTING);
  if (!profiles_[1]) return false;
  DWORD intent = INTENT_PERCEPTUAL;
  transform_ = createTransform(profiles_, 2, &intent, 1, BEST_MODE, INDEX_DONT_CARE);
  return transform_ != nullptr;
}

// BM_RGBTRIPLETS holds each pixel's bytes in the order a DIB keeps them: blue, green, red.
bool ColourTransform::apply(BYTE* row, UINT width) const {
  return transform_ && translate_(transform_, row, BM_RGBTRIPLETS, width, 1, 0, row, BM_RGBTRIPLETS, 0,
                                  nullptr, 0) != FALSE;
}

}  // namespace ifwic
