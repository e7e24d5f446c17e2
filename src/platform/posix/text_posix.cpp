#include <iconv.h>

#include <cerrno>
#include <cstring>

#include "platform/text.h"

namespace platform {

bool IsDBCSLeadByte(unsigned char b) { return (b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC); }

std::string AnsiCharLower(const std::string& text) {
  std::string out = text;
  for (char& c : out)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return out;
}

int CompareTextLocale(const std::string& a, const std::string& b) {
  // Case-insensitive byte comparison with ASCII folding; double-byte characters compare as
  // they stand, which keeps Shift-JIS names in a stable order.
  size_t n = a.size() < b.size() ? a.size() : b.size();
  for (size_t i = 0; i < n; ++i) {
    unsigned char x = static_cast<unsigned char>(a[i]);
    unsigned char y = static_cast<unsigned char>(b[i]);
    if (x >= 'A' && x <= 'Z') x = static_cast<unsigned char>(x - 'A' + 'a');
    if (y >= 'A' && y <= 'Z') y = static_cast<unsigned char>(y - 'A' + 'a');
    if (x != y) return x < y ? -1 : 1;
  }
  if (a.size() == b.size()) return 0;
  return a.size() < b.size() ? -1 : 1;
}

namespace {
std::string Convert(const char* to, const char* from, const std::string& in, const char* bad) {
  iconv_t cd = iconv_open(to, from);
  if (cd == reinterpret_cast<iconv_t>(-1)) return in;
  std::string out;
  out.reserve(in.size() * 2);
  char* src = const_cast<char*>(in.data());
  size_t left = in.size();
  char buf[4096];
  while (left > 0) {
    char* dst = buf;
    size_t room = sizeof buf;
    size_t r = iconv(cd, &src, &left, &dst, &room);
    out.append(buf, static_cast<size_t>(dst - buf));
    if (r == static_cast<size_t>(-1)) {
      if (errno == E2BIG) continue;
      // An invalid or incomplete sequence: mark it and go on with the next byte.
      out += bad;
      ++src;
      --left;
    }
  }
  iconv_close(cd);
  return out;
}
}  // namespace

std::string AnsiToUtf8(const std::string& text) { return Convert("UTF-8", "CP932", text, "\xEF\xBF\xBD"); }
std::string Utf8ToAnsi(const std::string& text) { return Convert("CP932", "UTF-8", text, "?"); }

std::wstring AnsiToWide(const std::string& text) {
  std::string u = Convert("WCHAR_T", "CP932", text, "\xFD\xFF\x00\x00");
  std::wstring out(u.size() / sizeof(wchar_t), L'\0');
  std::memcpy(out.data(), u.data(), out.size() * sizeof(wchar_t));
  return out;
}

// Natively the system's names are held in CP932 too.
std::wstring SystemToWide(const std::string& text) { return AnsiToWide(text); }
std::string SystemToUtf8(const std::string& text) { return AnsiToUtf8(text); }

}  // namespace platform
