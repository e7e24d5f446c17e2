// Message formatting with the directives the system's texts use: %s, %d, %p and %%.
#ifndef KORVALE_RTL_FORMAT_H
#define KORVALE_RTL_FORMAT_H

#include <cstdint>
#include <initializer_list>
#include <string>

class FormatArg {
 public:
  FormatArg(const std::string& s) : kind_(kText), text_(s) {}
  FormatArg(const char* s) : kind_(kText), text_(s ? s : "") {}
  FormatArg(int v) : kind_(kInteger), integer_(v) {}
  FormatArg(long v) : kind_(kInteger), integer_(v) {}
  FormatArg(long long v) : kind_(kInteger), integer_(v) {}
  FormatArg(unsigned v) : kind_(kInteger), integer_(v) {}
  FormatArg(unsigned long v) : kind_(kInteger), integer_(static_cast<int64_t>(v)) {}
  FormatArg(const void* p) : kind_(kPointer), integer_(static_cast<int64_t>(reinterpret_cast<uintptr_t>(p))) {}

  std::string AsText() const;     // %s
  std::string AsDecimal() const;  // %d
  std::string AsPointer() const;  // %p: upper-case hex, 8 digits (16 for wider pointers)

 private:
  enum Kind { kText, kInteger, kPointer } kind_;
  std::string text_;
  int64_t integer_ = 0;
};

// Replaces each directive in turn by the next argument.  A directive without an argument
// is left as it stands rather than read past the list.
std::string Format(const std::string& format, std::initializer_list<FormatArg> args);

#endif
