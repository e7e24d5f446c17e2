// Unicode names and the short 8.3 forms through which the ANSI functions reach them.
#include <windows.h>

#include <string>

#include "platform/files.h"
#include "platform/win32/wide.h"

namespace platform {

namespace {
std::wstring FromUtf8(const std::string& text) { return WideFrom(CP_UTF8, text); }
}  // namespace

std::string ReachableName(const std::string& utf8Name, bool create) {
  const std::wstring w = FromUtf8(utf8Name);
  std::string ansi;
  if (ExactSystemForm(w, ansi)) return ansi;
  if (create && ::GetFileAttributesW(w.c_str()) == INVALID_FILE_ATTRIBUTES) {
    HANDLE h =
        ::CreateFileW(w.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h != INVALID_HANDLE_VALUE) ::CloseHandle(h);
  }
  const DWORD n = ::GetShortPathNameW(w.c_str(), nullptr, 0);
  if (n == 0) return std::string();
  std::wstring shortName(n, L'\0');
  const DWORD got = ::GetShortPathNameW(w.c_str(), shortName.data(), n);
  if (got == 0 || got >= n) return std::string();
  shortName.resize(got);
  // A volume without short names gives the long name back, which the code page cannot write.
  return ExactSystemForm(shortName, ansi) ? ansi : std::string();
}

std::string ShownName(const std::string& name) {
  std::wstring w = WideFrom(CP_ACP, name);
  // Only a short form holds a "~"; every other name is shown exactly as held.
  if (name.find('~') != std::string::npos) {
    const DWORD need = ::GetLongPathNameW(w.c_str(), nullptr, 0);
    if (need > 0) {
      std::wstring longName(need, L'\0');
      const DWORD got = ::GetLongPathNameW(w.c_str(), longName.data(), need);
      if (got > 0 && got < need) {
        longName.resize(got);
        w = longName;
      }
    }
  }
  return WideTo(CP_UTF8, w);
}

}  // namespace platform
