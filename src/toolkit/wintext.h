// Texts on their way to and from the wide window functions.  The program's own 8-bit texts are
// CP932 on every system; names from the system are in its ANSI code page, or are short forms
// that stand for a longer name; a message may hold both (MixedText).
#ifndef KORVALE_TOOLKIT_WINTEXT_H
#define KORVALE_TOOLKIT_WINTEXT_H

#include <string>

#include "platform/text.h"
#include "rtl/format.h"

namespace toolkit {

// The program's own text, from CP932 whatever the system's code page.
std::wstring Wide(const std::string& text);
// A name from the system, as the person knows it: the real name where a short form is held.
std::wstring SystemWide(const std::string& name);
// A message part by part.
std::wstring Wide(const MixedText& text);

// UTF-16 back to the ANSI code page (letters it lacks become "?"), and to the program's own.
std::string Narrow(const std::wstring& text);
std::string OwnText(const std::wstring& text);

// A name that came wide (command line, drop, dialog) in the form the core opens (see
// platform::ReachableName); empty when no form reaches it.
std::string ReachableName(const std::wstring& name, bool create);

}  // namespace toolkit

#endif
