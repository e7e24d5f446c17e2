#include "alloc_failure.h"

#include <atomic>
#include <cstdlib>
#include <new>

namespace {
std::atomic<std::size_t> g_threshold{0};  // 0: disarmed
std::atomic<bool> g_fired{false};

void* Allocate(std::size_t size) {
  std::size_t threshold = g_threshold.load();
  if (threshold != 0 && size >= threshold && g_threshold.compare_exchange_strong(threshold, 0)) {
    g_fired = true;
    throw std::bad_alloc();
  }
  if (void* p = std::malloc(size ? size : 1)) return p;
  throw std::bad_alloc();
}
}  // namespace

void FailNextAllocationOfAtLeast(std::size_t bytes) {
  g_fired = false;
  g_threshold = bytes;
}

void DisarmAllocationFailure() { g_threshold = 0; }
bool AllocationFailureFired() { return g_fired; }

void* operator new(std::size_t size) { return Allocate(size); }
void* operator new[](std::size_t size) { return Allocate(size); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
  try {
    return Allocate(size);
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}
void* operator new[](std::size_t size, const std::nothrow_t& tag) noexcept { return operator new(size, tag); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }
void operator delete(void* p, const std::nothrow_t&) noexcept { std::free(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { std::free(p); }
