#include "app/command_line.h"

std::vector<std::string> SplitCommandLine(const std::string& commandLine) {
  std::vector<std::string> args;
  size_t i = 0;
  const size_t n = commandLine.size();
  auto separator = [](unsigned char c) { return c <= ' '; };
  while (true) {
    while (i < n && separator(static_cast<unsigned char>(commandLine[i]))) ++i;
    if (i >= n) break;
    std::string arg;
    bool quoted = false;
    // Bytes of double-byte characters are above 0x80 and never taken for blanks or quotes.
    while (i < n && (quoted || !separator(static_cast<unsigned char>(commandLine[i])))) {
      if (commandLine[i] == '"')
        quoted = !quoted;
      else
        arg += commandLine[i];
      ++i;
    }
    args.push_back(arg);
  }
  return args;
}
