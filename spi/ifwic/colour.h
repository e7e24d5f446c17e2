// The conversion of pixels from an embedded colour profile to sRGB, through the system's colour
// management (mscms), which is loaded only for a picture that needs it: pictures without a
// profile, or with an sRGB one, never load it.
#ifndef KORVALE_SPI_IFWIC_COLOUR_H
#define KORVALE_SPI_IFWIC_COLOUR_H

#include <windows.h>
#include <icm.h>

#include <cstddef>

#include "platform/win32/handles.h"

namespace ifwic {

class ColourTransform {
 public:
  ColourTransform() = default;
  ~ColourTransform();
  ColourTransform(const ColourTransform&) = delete;
  ColourTransform& operator=(const ColourTransform&) = delete;

  // Builds the transform from the profile's colours to sRGB.  False, and nothing to apply, when
  // the system has no colour management or refuses the profile: the pixels then stay as stored.
  bool open(const BYTE* profile, size_t size);
  bool active() const { return transform_ != nullptr; }
  // Converts one row of `width` 24-bit BGR pixels in place; false when the system refused.
  bool apply(BYTE* row, UINT width) const;

 private:
  using OpenProfile = HPROFILE(WINAPI*)(PPROFILE, DWORD, DWORD, DWORD);
  using CloseProfile = BOOL(WINAPI*)(HPROFILE);
  using StandardProfile = BOOL(WINAPI*)(PCWSTR, DWORD, PWSTR, PDWORD);
  using CreateTransform = HTRANSFORM(WINAPI*)(PHPROFILE, DWORD, PDWORD, DWORD, DWORD, DWORD);
  using DeleteTransform = BOOL(WINAPI*)(HTRANSFORM);
  using Translate = BOOL(WINAPI*)(HTRANSFORM, PVOID, BMFORMAT, DWORD, DWORD, DWORD, PVOID, BMFORMAT, DWORD,
                                  PBMCALLBACKFN, LPARAM);

  platform::win::Library library_;
  CloseProfile closeProfile_ = nullptr;
  DeleteTransform deleteTransform_ = nullptr;
  Translate translate_ = nullptr;
  HPROFILE profiles_[2] = {nullptr, nullptr};  // the picture's, sRGB
  HTRANSFORM transform_ = nullptr;
};

}  // namespace ifwic

#endif
