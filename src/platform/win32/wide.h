// Conversions between the 8-bit code pages and UTF-16 shared by the Win32 seams.
#ifndef KORVALE_PLATFORM_WIN32_WIDE_H
#define KORVALE_PLATFORM_WIN32_WIDE_H

#include <windows.h>

#include <string>

namespace platform {

inline std::wstring WideFrom(UINT cp, const std::string& text) {
  if (text.empty()) return std::wstring();
  const int len = static_cast<int>(text.size());
  const int n = ::MultiByteToWideChar(cp, 0, text.data(), len, nullptr, 0);
  std::wstring out(static_cast<size_t>(n > 0 ? n : 0), L'\0');
  if (n > 0) ::MultiByteToWideChar(cp, 0, text.data(), len, out.data(), n);
  return out;
}

// UTF-16 to a code page; `lossy` (may be null) tells whether a character had no exact form.
// A character without one becomes "?", never a look-alike ("é" is not "e": that could name
// another file).  The UTF-8 code page writes every character and refuses these flags.
inline std::string WideTo(UINT cp, const std::wstring& w, BOOL* lossy = nullptr) {
  if (lossy) *lossy = FALSE;
  if (w.empty()) return std::string();
  const bool utf8 = cp == CP_UTF8 || (cp == CP_ACP && ::GetACP() == CP_UTF8);
  const DWORD flags = utf8 ? 0 : WC_NO_BEST_FIT_CHARS;
  const int len = static_cast<int>(w.size());
  const int n = ::WideCharToMultiByte(cp, flags, w.data(), len, nullptr, 0, nullptr, nullptr);
  std::string out(static_cast<size_t>(n > 0 ? n : 0), '\0');
  if (n > 0) ::WideCharToMultiByte(cp, flags, w.data(), len, out.data(), n, nullptr, utf8 ? nullptr : lossy);
  return out;
}

// The name in the ANSI code page, or false when that code page cannot write it exactly.
inline bool ExactSystemForm(const std::wstring& w, std::string& out) {
  BOOL lossy = FALSE;
  out = WideTo(CP_ACP, w, &lossy);
  return !w.empty() && !out.empty() && !lossy;
}

// A full path as the ANSI functions and the plug-ins can take it: the name itself where the code
// page writes it, else its short form (names_win32.cpp); where neither exists, the name with
// the code page's "?" for what it cannot write, which names nothing.
std::string SystemForm(const std::wstring& path);

// The full path of a loaded module (null: the program), however long; empty on failure.
std::wstring ModulePath(HMODULE module);

}  // namespace platform

#endif
