// Message formatting with the directives the system's texts use: %s, %d, %p and %%.
#ifndef KORVALE_RTL_FORMAT_H
#define KORVALE_RTL_FORMAT_H

#include <cstdint>
#include <initializer_list>
#include <string>
#include <utility>
#include <vector>

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

// A message that holds texts of two kinds: the program's own (CP932 bytes, always) and names
// from the system (file and folder names, the system's error texts: in the running system's ANSI
// code page).  `names` lists the byte ranges [first, second) of the second kind, in order, so
// that the screen and the terminal convert each part from its own code page.
struct MixedText {
  std::string text;
  std::vector<std::pair<size_t, size_t>> names;

  MixedText& operator+=(const MixedText& other);
  MixedText& operator+=(const std::string& own);  // more of the program's own text

  // Calls `part(text, isName)` for each run in order; ranges out of order or past the end are
  // taken as the program's own text.
  template <typename F>
  void ForEachPart(F&& part) const {
    size_t at = 0;
    for (const auto& name : names) {
      if (name.first < at || name.second > text.size() || name.first >= name.second) continue;
      if (name.first > at) part(text.substr(at, name.first - at), false);
      part(text.substr(name.first, name.second - name.first), true);
      at = name.second;
    }
    if (at < text.size()) part(text.substr(at), false);
  }
};

// A text that is wholly a name from the system.
MixedText SystemName(const std::string& name);

// Format, noting where each %s argument went: in the system's messages every %s stands for a
// text from the system (a file name, an extension, a system error text, a class name).
MixedText FormatMixed(const std::string& format, std::initializer_list<FormatArg> args);

#endif
