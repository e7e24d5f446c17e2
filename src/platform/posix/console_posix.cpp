#include "platform/console.h"

#include "platform/posix/host_path.h"
#include "platform/text.h"

namespace platform {

std::string ArgumentToAnsi(const std::string& argument) {
  std::string ansi = Utf8ToAnsi(argument);
  // "/" (0x2F) is never the trail byte of a double-byte character, so every one is a separator.
  for (char& c : ansi)
    if (c == '/') c = '\\';
  return ansi;
}

std::string AnsiToConsole(const std::string& text) { return AnsiToUtf8(text); }

std::string PathToConsole(const std::string& path) { return AnsiToUtf8(ToHost(path)); }

}  // namespace platform
