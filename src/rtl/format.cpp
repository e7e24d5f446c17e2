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
  return FormatMixed(format, args).text;
}

MixedText& MixedText::operator+=(const MixedText& other) {
  for (const auto& part : other.names)
    names.emplace_back(part.first + text.size(), part.second + text.size());
  text += other.text;
  return *this;
}

MixedText& MixedText::operator+=(const std::string& own) {
  text += own;
  return *this;
}

MixedText SystemName(const std::string& name) {
  MixedText out{name, {}};
  if (!name.empty()) out.names.emplace_back(0, name.size());
  return out;
}

MixedText FormatMixed(const std::string& format, std::initializer_list<FormatArg> args) {
  std::vector<const FormatArg*> list;
  for (const FormatArg& a : args) list.push_back(&a);
  MixedText mixed;
  std::string& out = mixed.text;
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
      const std::string value = d == 's' ? a.AsText() : d == 'd' ? a.AsDecimal() : a.AsPointer();
      if (d == 's' && !value.empty()) mixed.names.emplace_back(out.size(), out.size() + value.size());
      out += value;
      ++i;
      continue;
    }
    out += c;
  }
  return mixed;
}
