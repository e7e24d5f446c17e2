// The Windows build converts through UTF-16 into the system's ANSI code page.
#include <windows.h>

#include <climits>
#include <string>

#include "codepage.h"

namespace korzip {

AnsiNames::AnsiNames() = default;
AnsiNames::~AnsiNames() = default;

bool AnsiNames::FromUtf8(const std::string& utf8, std::string& out) {
  out.clear();
  if (utf8.empty()) return true;
  if (utf8.size() > INT_MAX) return false;
  const int length = static_cast<int>(utf8.size());
  const int wide = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8.data(), length, nullptr, 0);
  if (wide <= 0) return false;  // no UTF-8 after all
  std::wstring text(static_cast<size_t>(wide), L'\0');
  if (MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8.data(), length, &text[0], wide) != wide)
    return false;
  // A system whose ANSI code page is UTF-8 takes the name as it is (WideCharToMultiByte
  // refuses the default-character test for that code page).
  if (GetACP() == CP_UTF8) {
    out = utf8;
    return true;
  }
  // A letter that the code page cannot write would come out as "?" or as a look-alike: the
  // name would be another entry's or no one's, so it is refused and the entry left unlisted.
  BOOL usedDefault = FALSE;
  const int bytes =
      WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, text.data(), wide, nullptr, 0, nullptr, &usedDefault);
  if (bytes <= 0 || usedDefault) return false;
  out.assign(static_cast<size_t>(bytes), '\0');
  usedDefault = FALSE;
  return WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, text.data(), wide, &out[0], bytes, nullptr,
                             &usedDefault) == bytes &&
         !usedDefault;
}

bool LeadByte(unsigned char c) { return IsDBCSLeadByte(c) != FALSE; }

}  // namespace korzip
