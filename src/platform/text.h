// Text services of the system code page (CP932).  Win32: the system's own calls; POSIX: our
// CP932 tables.  Thin: they translate, the rules live in rtl/text.h.
#ifndef KORVALE_PLATFORM_TEXT_H
#define KORVALE_PLATFORM_TEXT_H

#include <string>

namespace platform {

// True when the byte starts a double-byte character of the ANSI code page.
bool IsDBCSLeadByte(unsigned char byte);

// The system's ANSI lower-case mapping (CharLowerBuffA); natively ASCII letters only.
std::string AnsiCharLower(const std::string& text);

// The locale's case-insensitive comparison used by sorted lists (CompareStringA with
// NORM_IGNORECASE); <0, 0, >0.
int CompareTextLocale(const std::string& a, const std::string& b);

// The program's own texts (CP932 bytes whatever the system's code page) to UTF-8 and to UTF-16,
// for the terminal and for the wide window functions.  Bytes that are no valid CP932 become
// U+FFFD; nothing is dropped silently.
std::string AnsiToUtf8(const std::string& text);
std::wstring AnsiToWide(const std::string& text);
std::string Utf8ToAnsi(const std::string& text);

// Texts from the system (file and folder names, its error texts), which are in the running
// system's ANSI code page, to UTF-16 and UTF-8.  Natively that code page is CP932.
std::wstring SystemToWide(const std::string& text);
std::string SystemToUtf8(const std::string& text);

}  // namespace platform

#endif
