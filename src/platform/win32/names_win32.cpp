// Unicode names and the short 8.3 forms through which the ANSI functions reach them.
#include <windows.h>

#include <string>
#include <vector>

#include "platform/files.h"
#include "platform/win32/handles.h"
#include "platform/win32/wide.h"

namespace platform {

namespace {
std::wstring FromUtf8(const std::string& text) { return WideFrom(CP_UTF8, text); }

// A path cut after each separator ("C:\\", "folder\\", "name").
std::vector<std::wstring> Components(const std::wstring& path) {
  std::vector<std::wstring> parts;
  size_t start = 0;
  for (size_t i = 0; i < path.size(); ++i) {
    if (path[i] == L'\\' || path[i] == L'/') {
      parts.push_back(path.substr(start, i + 1 - start));
      start = i + 1;
    }
  }
  if (start < path.size()) parts.push_back(path.substr(start));
  return parts;
}
}  // namespace

std::string ReachableName(const std::string& utf8Name, bool create) {
  const std::wstring w = FromUtf8(utf8Name);
  std::string ansi;
  if (ExactSystemForm(w, ansi)) return ansi;
  if (create && ::GetFileAttributesW(w.c_str()) == INVALID_FILE_ATTRIBUTES) {
    // Created empty and closed again: the name exists, so it has a short form.
    const win::Handle created(
        ::CreateFileW(w.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
  }
  const DWORD n = ::GetShortPathNameW(w.c_str(), nullptr, 0);
  if (n == 0) return std::string();
  std::wstring shortName(n, L'\0');
  const DWORD got = ::GetShortPathNameW(w.c_str(), shortName.data(), n);
  if (got == 0 || got >= n) return std::string();
  shortName.resize(got);
  // Folder by folder, the short form only where the code page cannot write the real one, so
  // that a file's name matches what the folder search reports for it.  A volume without short
  // names gives the long name back, which the code page cannot write.
  const std::vector<std::wstring> real = Components(w), brief = Components(shortName);
  if (real.size() != brief.size()) return ExactSystemForm(shortName, ansi) ? ansi : std::string();
  std::string out;
  for (size_t i = 0; i < real.size(); ++i) {
    std::string part;
    if (!ExactSystemForm(real[i], part) && !ExactSystemForm(brief[i], part)) return std::string();
    out += part;
  }
  return out;
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
