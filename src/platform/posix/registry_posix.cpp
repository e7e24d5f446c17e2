// The read-only registry stand-in: a REGEDIT4-style text file named by KORVALE_REGISTRY.
#include <cstdio>
#include <cstdlib>
#include <map>
#include <vector>

#include "platform/registry.h"

namespace platform {

namespace {
constexpr long kMaxFileBytes = 16L << 20;
constexpr const char kRoot[] = "hkey_current_user\\";

std::string Lower(std::string s) {
  for (char& c : s)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return s;
}

std::string Trim(const std::string& s) {
  size_t b = 0, e = s.size();
  while (b < e && (s[b] == ' ' || s[b] == '\t' || s[b] == '\r')) ++b;
  while (e > b && (s[e - 1] == ' ' || s[e - 1] == '\t' || s[e - 1] == '\r')) --e;
  return s.substr(b, e - b);
}

bool ReadFile(const char* path, std::string& out) {
  std::FILE* f = std::fopen(path, "rb");
  if (!f) return false;
  char buf[4096];
  size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) {
    out.append(buf, n);
    if (static_cast<long>(out.size()) > kMaxFileBytes) break;
  }
  std::fclose(f);
  return static_cast<long>(out.size()) <= kMaxFileBytes;
}

// A quoted text starting at s[i] == '"', with \\ and \" escapes; i ends past the closing quote.
bool ParseQuoted(const std::string& s, size_t& i, std::string& out) {
  if (i >= s.size() || s[i] != '"') return false;
  for (++i; i < s.size(); ++i) {
    if (s[i] == '\\' && i + 1 < s.size()) {
      out += s[++i];
    } else if (s[i] == '"') {
      ++i;
      return true;
    } else {
      out += s[i];
    }
  }
  return false;
}

bool ParseHexBytes(const std::string& s, std::string& out) {
  size_t i = 0;
  while (i < s.size()) {
    while (i < s.size() && (s[i] == ' ' || s[i] == '\t' || s[i] == ',' || s[i] == '\\' || s[i] == '\n')) ++i;
    if (i >= s.size() || s[i] == ';') break;
    char* end = nullptr;
    std::string two = s.substr(i, 2);
    long v = std::strtol(two.c_str(), &end, 16);
    if (end == two.c_str() || v < 0 || v > 255) return false;
    out += static_cast<char>(v);
    i += static_cast<size_t>(end - two.c_str());
  }
  return true;
}

std::string UpToNul(const std::string& s) { return s.substr(0, s.find('\0')); }

// Parses one value's data text (after "=").  False for text this reader does not know.
bool ParseData(const std::string& data, RegValue& value) {
  size_t i = 0;
  if (!data.empty() && data[0] == '"') {
    std::string text;
    if (!ParseQuoted(data, i, text)) return false;
    value.Type = RegType::String;
    value.Data = UpToNul(text);
    return true;
  }
  std::string lower = Lower(data);
  if (lower.compare(0, 6, "dword:") == 0) {
    unsigned long v = std::strtoul(data.c_str() + 6, nullptr, 16);
    value.Type = RegType::Other;
    value.Data.assign(4, '\0');
    for (int b = 0; b < 4; ++b) value.Data[b] = static_cast<char>((v >> (8 * b)) & 0xFF);
    return true;
  }
  if (lower.compare(0, 3, "hex") != 0) return false;
  long type = 3;  // binary
  size_t colon = data.find(':');
  if (colon == std::string::npos) return false;
  if (data.size() > 3 && data[3] == '(') type = std::strtol(data.c_str() + 4, nullptr, 16);
  std::string bytes;
  if (!ParseHexBytes(data.substr(colon + 1), bytes)) return false;
  if (type == 1 || type == 2) {
    value.Type = type == 1 ? RegType::String : RegType::ExpandString;
    value.Data = UpToNul(bytes);
  } else {
    value.Type = RegType::Other;
    value.Data = bytes;
  }
  return true;
}

// Splits the file into logical lines, joining hex lists continued with a trailing "\".
std::vector<std::string> LogicalLines(const std::string& file) {
  std::vector<std::string> lines;
  std::string pending;
  size_t start = 0;
  while (start <= file.size()) {
    size_t nl = file.find('\n', start);
    if (nl == std::string::npos) nl = file.size();
    std::string line = Trim(file.substr(start, nl - start));
    start = nl + 1;
    bool continued = !line.empty() && line.back() == '\\' && line.find("=hex") != std::string::npos;
    if (!pending.empty()) {
      pending += line;
      continued = !line.empty() && line.back() == '\\';
    } else {
      pending = line;
    }
    if (!continued) {
      lines.push_back(pending);
      pending.clear();
    }
    if (nl == file.size()) break;
  }
  if (!pending.empty()) lines.push_back(pending);
  return lines;
}
}  // namespace

struct RegistryKey::Impl {
  bool open = false;
  std::map<std::string, RegValue> values;  // by lower-cased name
};

RegistryKey::RegistryKey() : impl_(new Impl) {}
RegistryKey::~RegistryKey() = default;

bool RegistryKey::OpenCurrentUser(const std::string& keyPath) {
  impl_->open = false;
  impl_->values.clear();
  const char* file = std::getenv("KORVALE_REGISTRY");
  std::string text;
  if (!file || !*file || !ReadFile(file, text)) return false;
  std::string key = Lower(keyPath);
  while (!key.empty() && key[0] == '\\') key.erase(0, 1);
  while (!key.empty() && key.back() == '\\') key.pop_back();
  key = kRoot + key;

  bool exists = false, inKey = false;
  std::map<std::string, RegValue> values;
  for (const std::string& line : LogicalLines(text)) {
    if (line.empty() || line[0] == ';') continue;
    if (line[0] == '[') {
      size_t close = line.rfind(']');
      std::string section =
          Lower(Trim(line.substr(1, close == std::string::npos ? std::string::npos : close - 1)));
      bool removed = !section.empty() && section[0] == '-';
      if (removed) section.erase(0, 1);
      bool same = section == key;
      bool below = section.size() > key.size() && section.compare(0, key.size(), key) == 0 &&
                   section[key.size()] == '\\';
      if (removed && (same || key.compare(0, section.size() + 1, section + "\\") == 0)) {
        exists = false;  // the key or one of its parents is deleted
        values.clear();
      } else if (!removed && (same || below)) {
        exists = true;
      }
      inKey = same && !removed;
      continue;
    }
    if (!inKey) continue;
    std::string name;
    size_t i = 0;
    if (line[0] == '@') {
      i = 1;
    } else if (!ParseQuoted(line, i, name)) {
      continue;
    }
    while (i < line.size() && (line[i] == ' ' || line[i] == '\t')) ++i;
    if (i >= line.size() || line[i] != '=') continue;
    std::string data = Trim(line.substr(i + 1));
    if (data == "-") {
      values.erase(Lower(name));
      continue;
    }
    RegValue value;
    if (ParseData(data, value)) values[Lower(name)] = value;
  }
  if (!exists) return false;
  impl_->open = true;
  impl_->values = std::move(values);
  return true;
}

bool RegistryKey::ReadValue(const std::string& name, RegValue& value) const {
  if (!impl_->open) return false;
  auto it = impl_->values.find(Lower(name));
  if (it == impl_->values.end()) return false;
  value = it->second;
  return true;
}

}  // namespace platform
