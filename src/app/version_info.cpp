#include "app/version_info.h"

#include <windows.h>

#include <cstdio>
#include <vector>

#include "toolkit/wintext.h"

std::string VersionString(const std::string& fileName, const std::string& key) {
  DWORD ignored = 0;
  const DWORD size = ::GetFileVersionInfoSizeA(fileName.c_str(), &ignored);
  if (size == 0) return {};
  std::vector<char> block(size);
  if (!::GetFileVersionInfoA(fileName.c_str(), 0, size, block.data())) return {};
  struct Translation {
    WORD language, codePage;
  };
  Translation* t = nullptr;
  UINT len = 0;
  if (!::VerQueryValueA(block.data(), "\\VarFileInfo\\Translation", reinterpret_cast<void**>(&t), &len) ||
      len < sizeof(Translation))
    return {};
  char narrowPath[64];
  std::snprintf(narrowPath, sizeof narrowPath, "\\StringFileInfo\\%04x%04x\\%s", t->language, t->codePage,
                key.c_str());
  const std::string ascii(narrowPath);  // the keys are ASCII
  const std::wstring path(ascii.begin(), ascii.end());
  // The resource holds UTF-16; asked wide and converted to the program's own code page, so the
  // texts do not pass through a system code page that may lack their letters.
  wchar_t* value = nullptr;
  if (!::VerQueryValueW(block.data(), path.c_str(), reinterpret_cast<void**>(&value), &len) || !value ||
      len == 0)
    return {};
  // The length may or may not count the terminating NUL.
  std::wstring w(value, len);
  while (!w.empty() && w.back() == L'\0') w.pop_back();
  return toolkit::OwnText(w);
}

std::string VersionMessage(const std::string& fileName) {
  return VersionString(fileName, "ProductName") + " " + VersionString(fileName, "FileDescription") +
         "\r\nバージョン " + VersionString(fileName, "FileVersion");
}
