#include "rtl/text.h"

#include "platform/text.h"

namespace text {

bool IsCharStart(const std::string& s, size_t i) {
  // Walk from the start: the only way to know whether a byte is a trail byte.
  size_t p = 0;
  while (p < i) {
    if (platform::IsDBCSLeadByte(static_cast<unsigned char>(s[p])) && p + 1 < s.size())
      p += 2;
    else
      p += 1;
  }
  return p == i;
}

int LastDelimiter(const std::string& delimiters, const std::string& s) {
  int found = -1;
  size_t p = 0;
  while (p < s.size()) {
    unsigned char c = static_cast<unsigned char>(s[p]);
    if (platform::IsDBCSLeadByte(c) && p + 1 < s.size()) {
      p += 2;
      continue;
    }
    if (delimiters.find(static_cast<char>(c)) != std::string::npos) found = static_cast<int>(p);
    ++p;
  }
  return found;
}

std::string ExtractFilePath(const std::string& name) {
  int i = LastDelimiter("\\:", name);
  return name.substr(0, static_cast<size_t>(i) + 1);  // i is -1 when there is none
}

std::string ExtractFileName(const std::string& name) {
  int i = LastDelimiter("\\:", name);
  return name.substr(static_cast<size_t>(i) + 1);
}

std::string ExtractFileExt(const std::string& name) {
  int i = LastDelimiter(".\\:", name);
  if (i >= 0 && name[static_cast<size_t>(i)] == '.') return name.substr(static_cast<size_t>(i));
  return std::string();
}

bool HasTrailingPathDelimiter(const std::string& path) {
  if (path.empty()) return false;
  return path.back() == '\\' && IsCharStart(path, path.size() - 1);
}

std::string ExtractFileDir(const std::string& name) {
  std::string dir = ExtractFilePath(name);
  if (dir.size() > 1 && HasTrailingPathDelimiter(dir) && dir[dir.size() - 2] != ':') dir.pop_back();
  return dir;
}

std::string IncludeTrailingPathDelimiter(const std::string& path) {
  if (path.empty() || HasTrailingPathDelimiter(path)) return path;
  return path + "\\";
}

std::string AnsiLowerCase(const std::string& s) { return platform::AnsiCharLower(s); }

namespace {
// Maps the single-byte characters from..from+25 onto to..to+25, leaving double-byte
// characters (whose trail bytes can look like letters) as they stand.
std::string MapAsciiLetters(const std::string& s, char from, char to) {
  std::string out = s;
  for (size_t i = 0; i < out.size(); ++i) {
    unsigned char c = static_cast<unsigned char>(out[i]);
    if (platform::IsDBCSLeadByte(c) && i + 1 < out.size()) {
      ++i;
      continue;
    }
    if (c >= static_cast<unsigned char>(from) && c <= static_cast<unsigned char>(from + 25))
      out[i] = static_cast<char>(c - from + to);
  }
  return out;
}
}  // namespace

std::string UpperCaseAscii(const std::string& s) { return MapAsciiLetters(s, 'a', 'A'); }

std::string LowerCaseAscii(const std::string& s) { return MapAsciiLetters(s, 'A', 'a'); }

bool SameText(const std::string& a, const std::string& b) {
  return a.size() == b.size() && LowerCaseAscii(a) == LowerCaseAscii(b);
}

bool SameFileName(const std::string& a, const std::string& b) { return SameText(a, b); }

int AnsiCompareText(const std::string& a, const std::string& b) { return platform::CompareTextLocale(a, b); }

}  // namespace text
