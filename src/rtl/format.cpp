#include "rtl/format.h"

#include <cstdio>
#include <vector>

std::string FormatArg::AsText() const {
  if (kind_ == kText) return text_;
  return AsDecimal();
}

std::string FormatArg::AsDecimal() const {
  if (kind_ == kText) return text_;
  return std::to_string(integer_);
}

std::string FormatArg::AsPointer() const {
  char buf[32];
  if (sizeof(void*) > 4)
    std::snprintf(buf, sizeof buf, "%016llX", static_cast<unsigned long long>(integer_));
  else
    std::snprintf(buf, sizeof buf, "%08llX", static_cast<unsigned long long>(integer_) & 0xFFFFFFFFull);
  return buf;
}

std::string Format(const std::string& format, std::initializer_list<FormatArg> args) {
  std::vector<const FormatArg*> list;
  for (const FormatArg& a : args) list.push_back(&a);
  std::string out;
  out.reserve(format.size() + 32);
  size_t next = 0;
  for (size_t i = 0; i < format.size(); ++i) {
    char c = format[i];
    if (c != '%' || i + 1 >= format.size()) {
      out += c;
      continue;
    }
    char d = format[i + 1];
    if (d == '%') {
      out += '%';
      ++i;
      continue;
    }
    if ((d == 's' || d == 'd' || d == 'p') && next < list.size()) {
      const FormatArg& a = *list[next++];
      out += d == 's' ? a.AsText() : d == 'd' ? a.AsDecimal() : a.AsPointer();
      ++i;
      continue;
    }
    out += c;
  }
  return out;
}
