// The native build converts with iconv into CP932.
#include <iconv.h>

#include "../plugin_info.h"
#include "codepage.h"

namespace korzip {

namespace {
const iconv_t kNone = reinterpret_cast<iconv_t>(-1);
}

AnsiNames::AnsiNames() {
  const iconv_t cd = iconv_open("CP932", "UTF-8");
  converter_ = cd == kNone ? nullptr : cd;
}

AnsiNames::~AnsiNames() {
  if (converter_) iconv_close(static_cast<iconv_t>(converter_));
}

bool AnsiNames::FromUtf8(const std::string& utf8, std::string& out) {
  if (!converter_) return false;
  const auto cd = static_cast<iconv_t>(converter_);
  iconv(cd, nullptr, nullptr, nullptr, nullptr);
  // No character takes more bytes in CP932 than in UTF-8.
  out.assign(utf8.size() + 1, '\0');
  char* in = const_cast<char*>(utf8.data());
  size_t inLeft = utf8.size();
  char* to = &out[0];
  size_t toLeft = out.size();
  // Anything but a clean conversion (a byte that is no UTF-8, a letter CP932 lacks, a
  // replacement) fails: the name would not be the entry's.
  if (iconv(cd, &in, &inLeft, &to, &toLeft) != 0 || inLeft != 0) return false;
  if (iconv(cd, nullptr, nullptr, &to, &toLeft) == static_cast<size_t>(-1)) return false;
  out.resize(out.size() - toLeft);
  return true;
}

bool LeadByte(unsigned char c) { return KorSpiLeadByte(c) != 0; }

}  // namespace korzip
