#include <dlfcn.h>
#include <link.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <vector>

#include "platform/dynlib.h"
#include "platform/posix/host_path.h"

namespace platform {

namespace {
// The path of the mapping that holds `address`, from /proc/self/maps (absolute, as the kernel
// knows it); empty when none is found.
std::string MappedFileOf(uintptr_t address) {
  std::FILE* maps = std::fopen("/proc/self/maps", "r");
  if (!maps) return std::string();
  std::string found;
  char line[4096];
  while (std::fgets(line, sizeof line, maps)) {
    unsigned long lo = 0, hi = 0;
    int pathAt = 0;
    if (std::sscanf(line, "%lx-%lx %*s %*s %*s %*s %n", &lo, &hi, &pathAt) < 2 || pathAt == 0) continue;
    if (address < lo || address >= hi) continue;
    std::string path = line + pathAt;
    while (!path.empty() && (path.back() == '\n' || path.back() == ' ')) path.pop_back();
    if (!path.empty() && path[0] == '/') found = path;
    break;
  }
  std::fclose(maps);
  return found;
}
}  // namespace

void RestrictLibrarySearch() {}

LibraryFolderSearch::LibraryFolderSearch(const std::string&) {}

LibraryHandle LoadLib(const std::string& fileName) {
  if (fileName.empty()) return nullptr;
  return ::dlopen(ToHost(fileName).c_str(), RTLD_NOW | RTLD_LOCAL);
}

void* LibProc(LibraryHandle lib, const char* name) { return ::dlsym(lib, name); }

std::string LibFileName(LibraryHandle lib, size_t bufferSize) {
  if (!lib || bufferSize == 0) return std::string();
  struct link_map* map = nullptr;
  if (::dlinfo(lib, RTLD_DI_LINKMAP, &map) != 0 || !map) return std::string();
  std::string path = map->l_name ? map->l_name : "";
  if (path.empty() || path[0] != '/') {
    // A name the loader found on its own path, or one relative to the folder of the moment:
    // ask the kernel which file holds the library's dynamic section.
    path = MappedFileOf(reinterpret_cast<uintptr_t>(map->l_ld));
  }
  // The answer fits the caller's buffer of bufferSize characters, NUL included.
  if (path.size() > bufferSize - 1) path.resize(bufferSize - 1);
  return FromHost(path);
}

void FreeLib(LibraryHandle lib) { ::dlclose(lib); }

}  // namespace platform
