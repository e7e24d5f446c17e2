#include <windows.h>

#include <cstring>

#include "platform/dynlib.h"
#include "platform/win32/wide.h"

namespace platform {

namespace {
// The search flags of newer systems, named here because older headers may lack them.
constexpr DWORD kSearchDllLoadDir = 0x00000100;   // LOAD_LIBRARY_SEARCH_DLL_LOAD_DIR
constexpr DWORD kSearchDefaultDirs = 0x00001000;  // LOAD_LIBRARY_SEARCH_DEFAULT_DIRS

// True once SetDefaultDllDirectories succeeded: LoadLibraryEx then takes the search flags.
bool& SearchFlagsAvailable() {
  static bool available = false;
  return available;
}

bool HasFolder(const std::string& name) { return name.find_first_of("\\/:") != std::string::npos; }

// The absolute form of a name with a folder (LoadLibraryEx's own-folder search needs one).
std::string AbsoluteName(const std::string& name) {
  char buffer[MAX_PATH + 1] = {};
  const DWORD n = ::GetFullPathNameA(name.c_str(), sizeof buffer, buffer, nullptr);
  return n > 0 && n < sizeof buffer ? std::string(buffer, n) : name;
}
}  // namespace

void RestrictLibrarySearch() {
  ::SetDllDirectoryW(L"");
  using SetDefaultDirs = BOOL(WINAPI*)(DWORD);
  HMODULE kernel = ::GetModuleHandleW(L"kernel32.dll");
  auto setDefault = kernel ? reinterpret_cast<SetDefaultDirs>(reinterpret_cast<void*>(
                                 ::GetProcAddress(kernel, "SetDefaultDllDirectories")))
                           : nullptr;
  if (setDefault && setDefault(kSearchDefaultDirs)) SearchFlagsAvailable() = true;
}

// The folder takes the place the current folder had in the search order on older systems, and
// counts among the user folders where the default folders are set (SetDefaultDllDirectories).
LibraryFolderSearch::LibraryFolderSearch(const std::string& libraryFile) {
  if (!HasFolder(libraryFile)) return;
  const std::wstring full = WideFrom(CP_ACP, AbsoluteName(libraryFile));
  const size_t cut = full.find_last_of(L"\\/");
  if (cut == std::wstring::npos) return;
  active_ = ::SetDllDirectoryW(full.substr(0, cut + 1).c_str()) != FALSE;
}

LibraryHandle LoadLib(const std::string& fileName) {
  if (fileName.empty()) return nullptr;
  // No "cannot find DLL" box from the system: a file that is no library is skipped quietly.
  UINT old = ::SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
  HMODULE h = nullptr;
  if (!HasFolder(fileName)) {
    h = ::LoadLibraryExA(fileName.c_str(), nullptr, 0);
  } else {
    const std::string full = AbsoluteName(fileName);
    if (SearchFlagsAvailable())
      h = ::LoadLibraryExA(full.c_str(), nullptr, kSearchDllLoadDir | kSearchDefaultDirs);
    // Systems without the search flags: the altered order puts the library's own folder first.
    if (!h && (!SearchFlagsAvailable() || ::GetLastError() == ERROR_INVALID_PARAMETER))
      h = ::LoadLibraryExA(full.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
  }
  ::SetErrorMode(old);
  return reinterpret_cast<LibraryHandle>(h);
}

void* LibProc(LibraryHandle lib, const char* name) {
  return reinterpret_cast<void*>(::GetProcAddress(static_cast<HMODULE>(lib), name));
}

std::string LibFileName(LibraryHandle lib, size_t bufferSize) {
  if (!lib || bufferSize == 0) return std::string();
  // The form the ANSI functions reach (a short form where the code page cannot write a folder),
  // so that the name loads the same file again; cut to what a buffer of bufferSize holds.
  std::string name = SystemForm(ModulePath(static_cast<HMODULE>(lib)));
  if (name.size() > bufferSize - 1) name.resize(bufferSize - 1);
  return name;
}

void FreeLib(LibraryHandle lib) { ::FreeLibrary(static_cast<HMODULE>(lib)); }

}  // namespace platform
