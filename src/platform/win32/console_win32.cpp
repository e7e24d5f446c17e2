#include "platform/console.h"

namespace platform {

// The arguments come in the ANSI code page already, and the console shows its bytes.
std::string ArgumentToAnsi(const std::string& argument) { return argument; }
std::string AnsiToConsole(const std::string& text) { return text; }
std::string PathToConsole(const std::string& path) { return path; }

}  // namespace platform
