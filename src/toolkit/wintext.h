// Texts on their way to and from the wide window functions: the system's 8-bit texts are
// CP932, the screen gets UTF-16.
#ifndef KORVALE_TOOLKIT_WINTEXT_H
#define KORVALE_TOOLKIT_WINTEXT_H

#include <string>

#include "platform/text.h"

namespace toolkit {

inline std::wstring Wide(const std::string& text) { return platform::AnsiToWide(text); }
// UTF-16 back to the ANSI code page (file names from the dialogs and drops).
std::string Narrow(const std::wstring& text);

}  // namespace toolkit

#endif
