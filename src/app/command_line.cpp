#include "app/command_line.h"

#include <windows.h>

#include "toolkit/wintext.h"

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

std::string ProcessCommandLine() {
  const std::wstring wide = ::GetCommandLineW();
  // Split in UTF-8: its bytes of letters beyond ASCII are never blanks or quotes either.
  const int n = ::WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), nullptr, 0,
                                      nullptr, nullptr);
  std::string utf8(static_cast<size_t>(n > 0 ? n : 0), '\0');
  if (n > 0)
    ::WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), utf8.data(), n, nullptr,
                          nullptr);
  std::string line;
  for (const std::string& arg : SplitCommandLine(utf8)) {
    const int m = ::MultiByteToWideChar(CP_UTF8, 0, arg.data(), static_cast<int>(arg.size()), nullptr, 0);
    std::wstring w(static_cast<size_t>(m > 0 ? m : 0), L'\0');
    if (m > 0) ::MultiByteToWideChar(CP_UTF8, 0, arg.data(), static_cast<int>(arg.size()), w.data(), m);
    std::string reachable = toolkit::ReachableName(w, false);
    if (reachable.empty()) reachable = toolkit::Narrow(w);
    if (!line.empty()) line += ' ';
    line += '"' + reachable + '"';
  }
  return line;
}
