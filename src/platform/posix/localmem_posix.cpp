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

namespace {
// What the address-space limit leaves: the limit less what is mapped, or ULLONG_MAX without one.
unsigned long long LeftUnderLimit() {
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
}  // namespace

unsigned long long LargestFreeBlock() {
  // The user half of a 64-bit address space with 47-bit addresses (48-bit and wider systems
  // map nothing above it unless asked to).
  constexpr unsigned long long kUserEnd = 1ULL << 47;
  unsigned long long largest = 0, previousEnd = 0x10000;  // the lowest pages are never mapped
  if (std::FILE* f = std::fopen("/proc/self/maps", "r")) {
    unsigned long long start = 0, end = 0;
    char line[512];
    while (std::fgets(line, sizeof line, f)) {
      if (std::sscanf(line, "%llx-%llx", &start, &end) != 2 || start >= kUserEnd) continue;
      if (start > previousEnd && start - previousEnd > largest) largest = start - previousEnd;
      if (end > previousEnd) previousEnd = end;
    }
    std::fclose(f);
    if (kUserEnd > previousEnd && kUserEnd - previousEnd > largest) largest = kUserEnd - previousEnd;
  }
  const unsigned long long left = LeftUnderLimit();
  return largest < left ? largest : left;
}
}  // namespace platform
