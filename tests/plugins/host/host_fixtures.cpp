#include "plugins/host/host_fixtures.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <fstream>

#if defined(_WIN32)
#include <windows.h>
#else
#include <unistd.h>
#endif

namespace hostfx {

namespace {
constexpr const char kKey[] = "Software\\Dorvenik\\Susie\\Plug-in";

#if !defined(_WIN32)
fs::path RegistryFile() {
  return fs::temp_directory_path() / ("korvale-host-registry-" + std::to_string(getpid()) + ".reg");
}

std::string Escaped(const std::string& s) {
  std::string out;
  for (char c : s) {
    if (c == '\\' || c == '"') out += '\\';
    out += c;
  }
  return out;
}

std::string HexBytes(const std::string& s) {
  static const char digits[] = "0123456789abcdef";
  std::string out;
  for (unsigned char c : s) {
    if (!out.empty()) out += ',';
    out += digits[c >> 4];
    out += digits[c & 15];
  }
  return out + (out.empty() ? "00" : ",00");
}
#endif
}  // namespace

fs::path Fixture(const std::string& name) {
  return fs::path(KOR_BINARY_DIR) / "spi" / "fixtures" / (name + ".spi");
}

std::string Core(const fs::path& p) {
  std::string s = p.string();
#if defined(_WIN32)
  // The build folder is a Unix path; Wine shows the root as drive Z:.
  if (!s.empty() && s[0] == '/') s = "Z:" + s;
#endif
  for (char& c : s)
    if (c == '/') c = '\\';
  return s;
}

std::string CoreFixture(const std::string& name) { return Core(Fixture(name)); }

ScratchDir::ScratchDir() {
  static std::atomic<int> counter{0};
#if defined(_WIN32)
  const std::string id = std::to_string(GetCurrentProcessId());
#else
  const std::string id = std::to_string(getpid());
#endif
  path_ = fs::temp_directory_path() / ("korvale-host-" + id + "-" + std::to_string(counter++));
  fs::remove_all(path_);
  fs::create_directories(path_);
}

ScratchDir::~ScratchDir() {
  std::error_code ec;
  fs::remove_all(path_, ec);
}

std::string ScratchDir::Core() const { return hostfx::Core(path_) + "\\"; }

fs::path ScratchDir::Sub(const std::string& name) const { return path_ / name; }

std::string ScratchDir::Add(const std::string& fixture, const std::string& name) const {
  fs::path to = path_ / name;
  fs::create_directories(to.parent_path());
  fs::copy_file(Fixture(fixture), to, fs::copy_options::overwrite_existing);
  return hostfx::Core(to);
}

std::string ScratchDir::Write(const std::string& name, const std::string& content, bool hidden) const {
  fs::path to = path_ / name;
  std::ofstream(to, std::ios::binary) << content;
  if (hidden) Hide(name);
  return hostfx::Core(to);
}

void ScratchDir::Hide(const std::string& name) const {
#if defined(_WIN32)
  const std::string p = (path_ / name).string();
  ASSERT_TRUE(SetFileAttributesA(p.c_str(), GetFileAttributesA(p.c_str()) | FILE_ATTRIBUTE_HIDDEN));
#else
  ASSERT_EQ(name[0], '.') << "natively a hidden file is one whose name starts with a dot";
#endif
}

#if defined(_WIN32)
void SetSusieValue(const std::string& data, ValueKind kind) {
  HKEY key = nullptr;
  ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, kKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr),
            ERROR_SUCCESS);
  LONG r;
  if (kind == ValueKind::Number) {
    DWORD v = 1;
    r = RegSetValueExA(key, "Path", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&v), sizeof v);
  } else {
    r = RegSetValueExA(key, "Path", 0, kind == ValueKind::String ? REG_SZ : REG_EXPAND_SZ,
                       reinterpret_cast<const BYTE*>(data.c_str()), static_cast<DWORD>(data.size() + 1));
  }
  RegCloseKey(key);
  ASSERT_EQ(r, ERROR_SUCCESS);
}

void ClearSusieKey() { RegDeleteKeyA(HKEY_CURRENT_USER, kKey); }
#else
void SetSusieValue(const std::string& data, ValueKind kind) {
  std::ofstream out(RegistryFile(), std::ios::binary);
  out << "REGEDIT4\n\n[HKEY_CURRENT_USER\\" << kKey << "]\n\"Path\"=";
  if (kind == ValueKind::String) out << '"' << Escaped(data) << "\"\n";
  if (kind == ValueKind::Expandable) out << "hex(2):" << HexBytes(data) << "\n";
  if (kind == ValueKind::Number) out << "dword:00000001\n";
  setenv("KORVALE_REGISTRY", RegistryFile().c_str(), 1);
}

void ClearSusieKey() {
  std::error_code ec;
  fs::remove(RegistryFile(), ec);
  unsetenv("KORVALE_REGISTRY");
}
#endif

}  // namespace hostfx
