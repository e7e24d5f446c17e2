// The wildcard matcher with Windows rules, shared by both builds (the POSIX directory search
// uses it; the Win32 search matches in the file system and this mirrors it for tests).
#include "platform/files.h"
#include "platform/text.h"

namespace platform {

namespace {
bool SameCharIgnoringCase(unsigned char a, unsigned char b) {
  if (a >= 'A' && a <= 'Z') a = static_cast<unsigned char>(a - 'A' + 'a');
  if (b >= 'A' && b <= 'Z') b = static_cast<unsigned char>(b - 'A' + 'a');
  return a == b;
}

bool Match(const char* n, const char* p) {
  // Iterative glob with backtracking on the last "*".
  const char* star = nullptr;
  const char* resume = nullptr;
  while (*n) {
    if (*p == '*') {
      star = p++;
      resume = n;
    } else if (*p == '?') {
      // "?" stands for one character, which is two bytes when it is a double-byte one.
      ++p;
      n += IsDBCSLeadByte(static_cast<unsigned char>(*n)) && n[1] ? 2 : 1;
    } else if (*p && SameCharIgnoringCase(static_cast<unsigned char>(*p), static_cast<unsigned char>(*n))) {
      ++p;
      ++n;
    } else if (star) {
      p = star + 1;
      n = ++resume;
    } else {
      return false;
    }
  }
  while (*p == '*') ++p;
  // Windows rule: a trailing ".*" or "." matches a name without an extension.
  if (p[0] == '.' && p[1] == '*' && p[2] == 0) return true;
  if (p[0] == '.' && p[1] == 0) return true;
  return *p == 0;
}
}  // namespace

bool MatchesWildcard(const std::string& name, const std::string& pattern) {
  if (pattern.empty()) return false;
  if (pattern == "*.*" || pattern == "*") return true;
  return Match(name.c_str(), pattern.c_str());
}

}  // namespace platform
