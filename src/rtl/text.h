// Shift-JIS aware string and path helpers.  Every split or test of a path at "\" or ":" goes
// through LastDelimiter, which never takes the trail byte of a double-byte character (0x5C can
// be one) for a delimiter.
#ifndef KORVALE_RTL_TEXT_H
#define KORVALE_RTL_TEXT_H

#include <string>

namespace text {

// Index of the last byte of `s` that is one of `delimiters` and not a trail byte; -1 if none.
int LastDelimiter(const std::string& delimiters, const std::string& s);

// Does the character at byte index `i` of `s` start a character (not a trail byte)?
bool IsCharStart(const std::string& s, size_t i);

// Everything up to and including the last "\" or ":"; empty if none.
std::string ExtractFilePath(const std::string& name);
// Everything after the last "\" or ":".
std::string ExtractFileName(const std::string& name);
// From the last "." that stands after the last "\" or ":" to the end, dot included; else empty.
std::string ExtractFileExt(const std::string& name);
// ExtractFilePath without its trailing separator (but "C:\" stays "C:\").
std::string ExtractFileDir(const std::string& name);
// Adds "\" unless the text is empty or already ends in one (trail bytes respected).
std::string IncludeTrailingPathDelimiter(const std::string& path);
bool HasTrailingPathDelimiter(const std::string& path);

// The system's ANSI lower-case mapping.
std::string AnsiLowerCase(const std::string& s);
// Upper-cases "a".."z" only.
std::string UpperCaseAscii(const std::string& s);
// Lower-cases "A".."Z" only, leaving double-byte characters as they stand.
std::string LowerCaseAscii(const std::string& s);
// Equal when equal after lower-casing A..Z (file names, extensions, module paths).
bool SameText(const std::string& a, const std::string& b);
bool SameFileName(const std::string& a, const std::string& b);
// The locale's case-insensitive ordering of sorted lists.
int AnsiCompareText(const std::string& a, const std::string& b);

}  // namespace text

#endif
