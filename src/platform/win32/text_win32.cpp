#include <windows.h>

#include "platform/text.h"
#include "platform/win32/wide.h"

namespace platform {

bool IsDBCSLeadByte(unsigned char b) { return ::IsDBCSLeadByte(b) != FALSE; }

std::string AnsiCharLower(const std::string& text) {
  std::string out = text;
  if (!out.empty()) ::CharLowerBuffA(out.data(), static_cast<DWORD>(out.size()));
  return out;
}

int CompareTextLocale(const std::string& a, const std::string& b) {
  int r = ::CompareStringA(LOCALE_USER_DEFAULT, NORM_IGNORECASE, a.data(), static_cast<int>(a.size()),
                           b.data(), static_cast<int>(b.size()));
  return r - CSTR_EQUAL;
}

namespace {
// The program's own texts are Shift-JIS bytes on every system.
constexpr UINT kOwnCodePage = 932;

}  // namespace

std::wstring AnsiToWide(const std::string& text) { return WideFrom(kOwnCodePage, text); }

std::string AnsiToUtf8(const std::string& text) { return WideTo(CP_UTF8, AnsiToWide(text)); }

std::string Utf8ToAnsi(const std::string& text) { return WideTo(kOwnCodePage, WideFrom(CP_UTF8, text)); }

std::wstring SystemToWide(const std::string& text) { return WideFrom(CP_ACP, text); }

std::string SystemToUtf8(const std::string& text) { return WideTo(CP_UTF8, SystemToWide(text)); }

}  // namespace platform
