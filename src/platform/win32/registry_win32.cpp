#include <windows.h>

#include <cstring>
#include <vector>

#include "platform/registry.h"

namespace platform {

namespace {
// Values beyond this are not folder names; refuse them rather than allocate without bound.
constexpr DWORD kMaxValueBytes = 1 << 20;
}  // namespace

struct RegistryKey::Impl {
  HKEY key = nullptr;
  ~Impl() {
    if (key) ::RegCloseKey(key);
  }
};

RegistryKey::RegistryKey() : impl_(new Impl) {}
RegistryKey::~RegistryKey() = default;

bool RegistryKey::OpenCurrentUser(const std::string& keyPath) {
  std::string path = keyPath;
  if (!path.empty() && path[0] == '\\') path.erase(0, 1);
  if (impl_->key) {
    ::RegCloseKey(impl_->key);
    impl_->key = nullptr;
  }
  HKEY key = nullptr;
  if (::RegOpenKeyExA(HKEY_CURRENT_USER, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
  impl_->key = key;
  return true;
}

bool RegistryKey::ReadValue(const std::string& name, RegValue& value) const {
  if (!impl_->key) return false;
  DWORD type = 0, size = 0;
  if (::RegQueryValueExA(impl_->key, name.c_str(), nullptr, &type, nullptr, &size) != ERROR_SUCCESS)
    return false;
  if (size > kMaxValueBytes) return false;
  std::vector<char> data(size + 1, '\0');
  DWORD got = size;
  if (::RegQueryValueExA(impl_->key, name.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(data.data()),
                         &got) != ERROR_SUCCESS)
    return false;
  if (got > size) got = size;
  if (type == REG_SZ || type == REG_EXPAND_SZ) {
    value.Type = type == REG_SZ ? RegType::String : RegType::ExpandString;
    value.Data.assign(data.data(), strnlen(data.data(), got));
  } else {
    value.Type = RegType::Other;
    value.Data.assign(data.data(), got);
  }
  return true;
}

}  // namespace platform
