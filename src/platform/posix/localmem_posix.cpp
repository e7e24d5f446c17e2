#include "platform/localmem.h"

#include <sys/resource.h>
#include <unistd.h>

#include <climits>
#include <cstdio>

#include "platform/posix/localmem/localmem.h"

namespace platform {
LocalHandle LocalAllocate(unsigned flags, std::size_t bytes) { return ::LocalAlloc(flags, bytes); }
void* LocalLockBlock(LocalHandle h) { return ::LocalLock(h); }
bool LocalUnlockBlock(LocalHandle h) { return ::LocalUnlock(h) != 0; }
void LocalFreeBlock(LocalHandle h) { ::LocalFree(h); }
std::size_t LocalBlockSize(LocalHandle h) { return ::LocalSize(h); }

unsigned long long FreeAddressSpace() {
  struct rlimit limit {};
  if (::getrlimit(RLIMIT_AS, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY) return ULLONG_MAX;
  unsigned long long pages = 0;
  if (std::FILE* f = std::fopen("/proc/self/statm", "r")) {
    if (std::fscanf(f, "%llu", &pages) != 1) pages = 0;
    std::fclose(f);
  }
  const unsigned long long used = pages * static_cast<unsigned long long>(::sysconf(_SC_PAGESIZE));
  return limit.rlim_cur > used ? limit.rlim_cur - used : 0;
}
}  // namespace platform
