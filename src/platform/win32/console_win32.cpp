#include <windows.h>
// After windows.h: CommandLineToArgvW.
#include <shellapi.h>

#include "platform/console.h"
#include "platform/win32/handles.h"
#include "platform/win32/wide.h"

namespace platform {

std::vector<std::string> CommandArguments(int, char**) {
  std::vector<std::string> args;
  int count = 0;
  LPWSTR* wide = ::CommandLineToArgvW(::GetCommandLineW(), &count);
  if (!wide) return args;
  const win::LocalMemory block(wide);  // the argument vector is one local block
  for (int i = 1; i < count; ++i) args.push_back(WideTo(CP_UTF8, wide[i]));
  return args;
}

std::string ArgumentToAnsi(const std::string& argument) {
  return WideTo(CP_ACP, WideFrom(CP_UTF8, argument));
}

// The console shows the bytes it is given, in the system's code page.
std::string AnsiToConsole(const std::string& text) { return text; }
std::string NameToConsole(const std::string& name) { return name; }
std::string PathToConsole(const std::string& path) { return path; }

}  // namespace platform
