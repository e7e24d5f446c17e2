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

namespace {
// The form of an existing name that the ANSI functions open: the name itself where the code page
// writes it, else folder by folder its short form where it does not; empty when neither reaches
// it (a volume without short names).
std::string ReachableWide(const std::wstring& w) {
  std::string ansi;
  if (ExactSystemForm(w, ansi)) return ansi;
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
  return ReachableWide(w);
}

std::string SystemForm(const std::wstring& path) {
  std::string reachable = ReachableWide(path);
  return reachable.empty() ? WideTo(CP_ACP, path) : reachable;
}

std::wstring ModulePath(HMODULE module) {
  std::wstring path(MAX_PATH, L'\0');
  for (;;) {
    const DWORD n = ::GetModuleFileNameW(module, path.data(), static_cast<DWORD>(path.size()));
    if (n == 0) return std::wstring();
    // A name that filled the buffer may have been cut: asked again with twice the room.
    if (n < path.size() - 1 || path.size() >= 32768) {
      path.resize(n < path.size() ? n : path.size());
      return path;
    }
    path.resize(path.size() * 2);
  }
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
