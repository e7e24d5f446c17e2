// Entry names in the code page the records carry: the system's ANSI code page on Windows (the
// one the host's A functions and every other plug-in use), CP932 natively, the native build's
// stand-in for it.
#ifndef KORVALE_SPI_KORZIP_CODEPAGE_H
#define KORVALE_SPI_KORZIP_CODEPAGE_H

#include <string>

namespace korzip {

// Converts names stored as UTF-8.  One per call of the plug-in: natively it holds a converter
// state, which is not to be shared between threads.
class AnsiNames {
 public:
  AnsiNames();
  ~AnsiNames();
  AnsiNames(const AnsiNames&) = delete;
  AnsiNames& operator=(const AnsiNames&) = delete;

  // False when `utf8` is no UTF-8 or holds a letter the code page cannot write.
  bool FromUtf8(const std::string& utf8, std::string& out);

 private:
  void* converter_ = nullptr;  // natively an iconv_t
};

// Whether `c` begins a double-byte character of that code page.
bool LeadByte(unsigned char c);

}  // namespace korzip

#endif
