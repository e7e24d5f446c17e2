// Command-line arguments and terminal text of the command-line tools.  The core holds paths
// as ANSI (CP932) text with "\" separators; Win32 hands arguments over in that form and
// prints the bytes as held; natively arguments arrive as UTF-8 with "/" and the terminal
// wants UTF-8.
#ifndef KORVALE_PLATFORM_CONSOLE_H
#define KORVALE_PLATFORM_CONSOLE_H

#include <string>
#include <vector>

namespace platform {

// The program's arguments (without the program's name) in UTF-8, whatever letters they hold:
// Win32 reads the wide command line, natively argv is UTF-8 already.
std::vector<std::string> CommandArguments(int argc, char** argv);
// A UTF-8 argument in the core's text form, for a message: letters the code page lacks become "?".
std::string ArgumentToAnsi(const std::string& argument);
// A name from the system (see ShownName) as the terminal shows it.
std::string NameToConsole(const std::string& name);
// A text of the system (CP932) as the terminal shows it.
std::string AnsiToConsole(const std::string& text);
// A path of the core as the terminal shows it (natively with "/" separators).
std::string PathToConsole(const std::string& path);

}  // namespace platform

#endif
