#include "app/version_info.h"

#include <windows.h>

#include <cstdio>
#include <vector>

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
  char path[64];
  std::snprintf(path, sizeof path, "\\StringFileInfo\\%04x%04x\\%s", t->language, t->codePage, key.c_str());
  char* value = nullptr;
  if (!::VerQueryValueA(block.data(), path, reinterpret_cast<void**>(&value), &len) || !value || len == 0)
    return {};
  // The length may or may not count the terminating NUL.
  std::string s(value, len);
  while (!s.empty() && s.back() == '\0') s.pop_back();
  return s;
}

std::string VersionMessage(const std::string& fileName) {
  return VersionString(fileName, "ProductName") + " " + VersionString(fileName, "FileDescription") +
         "\r\nバージョン " + VersionString(fileName, "FileVersion");
}
