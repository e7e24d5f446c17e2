#include <windows.h>

#include "platform/text.h"

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

std::wstring AnsiToWide(const std::string& text) {
  if (text.empty()) return std::wstring();
  int n = ::MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  std::wstring out(static_cast<size_t>(n), L'\0');
  ::MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), out.data(), n);
  return out;
}

namespace {
std::string WideTo(UINT cp, const std::wstring& w) {
  if (w.empty()) return std::string();
  int n = ::WideCharToMultiByte(cp, 0, w.data(), static_cast<int>(w.size()), nullptr, 0, nullptr, nullptr);
  std::string out(static_cast<size_t>(n), '\0');
  ::WideCharToMultiByte(cp, 0, w.data(), static_cast<int>(w.size()), out.data(), n, nullptr, nullptr);
  return out;
}
}  // namespace

std::string AnsiToUtf8(const std::string& text) { return WideTo(CP_UTF8, AnsiToWide(text)); }

std::string Utf8ToAnsi(const std::string& text) {
  if (text.empty()) return std::string();
  int n = ::MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  std::wstring w(static_cast<size_t>(n), L'\0');
  ::MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), w.data(), n);
  return WideTo(CP_ACP, w);
}

}  // namespace platform
