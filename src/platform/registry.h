// The registry, read only, under HKEY_CURRENT_USER.  Win32: RegOpenKeyExA/RegQueryValueExA.
// POSIX: a read-only stand-in backed by a REGEDIT4-style text file named by the environment
// variable KORVALE_REGISTRY, for instance
//
//   REGEDIT4
//
//   [HKEY_CURRENT_USER\Software\Example]
//   "Path"="\\plugins\\folder\\"          ; a string, with \\ and \" escapes
//   "Wide"=hex(2):41,42,00                ; an expandable string, as bytes
//   "Count"=dword:00000001                ; any other type is reported as Other
//
// Strings are taken byte for byte as the file holds them; folder values use the core's "\"
// separators like every other path of the native build.  Nothing is ever written.
#ifndef KORVALE_PLATFORM_REGISTRY_H
#define KORVALE_PLATFORM_REGISTRY_H

#include <memory>
#include <string>

namespace platform {

enum class RegType { String, ExpandString, Other };

struct RegValue {
  RegType Type = RegType::Other;
  std::string Data;  // strings: up to their first NUL; other types: the raw bytes
};

// One opened key; closed on destruction.
class RegistryKey {
 public:
  RegistryKey();
  ~RegistryKey();
  RegistryKey(const RegistryKey&) = delete;
  RegistryKey& operator=(const RegistryKey&) = delete;

  // Opens `keyPath` (a leading "\" is allowed) under HKEY_CURRENT_USER without creating it.
  bool OpenCurrentUser(const std::string& keyPath);
  // False when no key is open or the value does not exist.
  bool ReadValue(const std::string& name, RegValue& value) const;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace platform

#endif
