#include <windows.h>

#include <cstring>

#include "platform/dynlib.h"

namespace platform {

LibraryHandle LoadLib(const std::string& fileName) {
  // No "cannot find DLL" box from the system: a file that is no library is skipped quietly.
  UINT old = ::SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
  HMODULE h = ::LoadLibraryA(fileName.c_str());
  ::SetErrorMode(old);
  return reinterpret_cast<LibraryHandle>(h);
}

void* LibProc(LibraryHandle lib, const char* name) {
  return reinterpret_cast<void*>(::GetProcAddress(static_cast<HMODULE>(lib), name));
}

std::string LibFileName(LibraryHandle lib, size_t bufferSize) {
  if (!lib || bufferSize == 0) return std::string();
  std::string buf(bufferSize + 1, '\0');
  DWORD n = ::GetModuleFileNameA(static_cast<HMODULE>(lib), &buf[0], static_cast<DWORD>(bufferSize));
  if (n == 0) return std::string();
  // Older systems leave a truncated name without its NUL: the extra byte ends it.
  buf[n < bufferSize ? n : bufferSize] = '\0';
  return std::string(buf.c_str());
}

void FreeLib(LibraryHandle lib) { ::FreeLibrary(static_cast<HMODULE>(lib)); }

}  // namespace platform
