// Dynamic libraries: load by name, look up an export, ask the loaded file's full path, release,
// widen the search to a library's folder.  Win32: LoadLibraryExA, GetProcAddress,
// GetModuleFileNameW, FreeLibrary, SetDllDirectoryW.  POSIX: dlopen, dlsym, dladdr (falling back
// to /proc/self/maps), dlclose; names go through the "\" <-> "/" mapping of the file seam.
#ifndef KORVALE_PLATFORM_DYNLIB_H
#define KORVALE_PLATFORM_DYNLIB_H

#include <cstddef>
#include <string>

namespace platform {

using LibraryHandle = void*;

// Takes the current folder off the process's library search path, and where the system allows it
// limits the search to the program's folder and the system folder, so that no library lying in
// a picture folder (which the folder list makes current) is ever loaded.  Called first thing in
// every program's entry.  Natively nothing: the POSIX loader never searches the current folder.
void RestrictLibrarySearch();

// While it lives, a library loaded by its bare name is also searched for in the folder of
// `libraryFile` (a library's path with its folder), so that a plug-in finds the libraries it
// brings beside itself when it loads them while it runs; the current folder stays off the
// search, which is the restricted one again when it ends.  One at a time (the search is the
// process's).  Natively nothing: the loader searches
// the run path the plug-in was built with, and a running process cannot widen the search.
class LibraryFolderSearch {
 public:
  explicit LibraryFolderSearch(const std::string& libraryFile);
  ~LibraryFolderSearch() {
    if (active_) RestrictLibrarySearch();
  }
  LibraryFolderSearch(const LibraryFolderSearch&) = delete;
  LibraryFolderSearch& operator=(const LibraryFolderSearch&) = delete;

 private:
  bool active_ = false;
};

// Null when the file cannot be loaded as a library.  Each call takes one more reference.  A name
// with a folder is loaded from that file (made absolute first), and the libraries it depends on
// are searched in its own folder before the program's and the system's; a bare name is searched
// for on the restricted path only.
LibraryHandle LoadLib(const std::string& fileName);
// The export's address, or null.
void* LibProc(LibraryHandle lib, const char* name);
// The loaded library's full path, asked with a buffer of `bufferSize` characters and cut at its
// first NUL; empty when the platform answers nothing.
std::string LibFileName(LibraryHandle lib, size_t bufferSize = 255);
// Drops one reference.
void FreeLib(LibraryHandle lib);

// One reference on a library, released on destruction.
class DynamicLibrary {
 public:
  DynamicLibrary() = default;
  explicit DynamicLibrary(const std::string& fileName) : handle_(LoadLib(fileName)) {}
  ~DynamicLibrary() { Reset(); }
  DynamicLibrary(const DynamicLibrary&) = delete;
  DynamicLibrary& operator=(const DynamicLibrary&) = delete;
  DynamicLibrary(DynamicLibrary&& o) noexcept : handle_(o.handle_) { o.handle_ = nullptr; }
  DynamicLibrary& operator=(DynamicLibrary&& o) noexcept {
    if (this != &o) {
      Reset();
      handle_ = o.handle_;
      o.handle_ = nullptr;
    }
    return *this;
  }

  LibraryHandle Get() const { return handle_; }
  explicit operator bool() const { return handle_ != nullptr; }
  void* Proc(const char* name) const { return handle_ ? LibProc(handle_, name) : nullptr; }
  std::string FileName(size_t bufferSize = 255) const {
    return handle_ ? LibFileName(handle_, bufferSize) : std::string();
  }
  void Reset() {
    if (handle_) FreeLib(handle_);
    handle_ = nullptr;
  }

 private:
  LibraryHandle handle_ = nullptr;
};

}  // namespace platform

#endif
