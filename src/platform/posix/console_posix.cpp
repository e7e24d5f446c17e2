#include "platform/console.h"

#include "platform/files.h"
#include "platform/posix/host_path.h"
#include "platform/text.h"

namespace platform {

std::vector<std::string> CommandArguments(int argc, char** argv) {
  return std::vector<std::string>(argv + (argc > 0 ? 1 : 0), argv + (argc > 0 ? argc : 0));
}

std::string ArgumentToAnsi(const std::string& argument) {
  std::string ansi = Utf8ToAnsi(argument);
  // "/" (0x2F) is never the trail byte of a double-byte character, so every one is a separator.
  for (char& c : ansi)
    if (c == '/') c = '\\';
  return ansi;
}

std::string AnsiToConsole(const std::string& text) { return AnsiToUtf8(text); }

std::string NameToConsole(const std::string& name) { return ShownName(name); }

std::string PathToConsole(const std::string& path) { return AnsiToUtf8(ToHost(path)); }

}  // namespace platform
