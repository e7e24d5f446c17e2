#include "picture/call_off.h"

#include "rtl/exceptions.h"

namespace {
thread_local const std::atomic<bool>* t_callOff = nullptr;
}  // namespace

TCallOffScope::TCallOffScope(const std::atomic<bool>& flag) : previous_(t_callOff) { t_callOff = &flag; }

TCallOffScope::~TCallOffScope() { t_callOff = previous_; }

void CheckCallOff() {
  if (t_callOff && t_callOff->load(std::memory_order_relaxed)) throw EAbort("");
}
