// The Windows guard around plug-in calls: a processor fault inside the call comes back as its
// code and address, and the host continues with its registers, floating-point state and later
// calls intact.
#include <gtest/gtest.h>

#include <cstdint>

#include "runner/plugin_call.h"

namespace {

int* volatile g_nowhere = nullptr;

uint32_t Mxcsr() {
  uint32_t v;
  asm volatile("stmxcsr %0" : "=m"(v));
  return v;
}

// A plug-in call at its worst: it spoils every register the caller may keep values in (the
// compiler saves them on entry, as any plug-in does), changes the rounding mode, then faults.
__attribute__((noinline)) void SpoilThenFault(void*) {
#if defined(_WIN64)
  asm volatile(
      "movq $-1, %%rbx\n\tmovq $-1, %%rsi\n\tmovq $-1, %%rdi\n\t"
      "movq $-1, %%r12\n\tmovq $-1, %%r13\n\tmovq $-1, %%r14\n\tmovq $-1, %%r15" ::
          : "rbx", "rsi", "rdi", "r12", "r13", "r14", "r15");
#else
  asm volatile("movl $-1, %%ebx\n\tmovl $-1, %%esi\n\tmovl $-1, %%edi" ::: "ebx", "esi", "edi");
#endif
  const uint32_t towardZero = Mxcsr() | 0x6000;  // the rounding-control bits
  asm volatile("ldmxcsr %0" : : "m"(towardZero));
  *g_nowhere = 1;
}

}  // namespace

TEST(PluginGuard, AFaultComesBackAsItsCodeAndTheHostCarriesOn) {
  const uint32_t control = Mxcsr();
  volatile uint32_t seed = 7;
  uint32_t kept[6];
  for (uint32_t& k : kept) k = seed = seed * 2654435761u + 1;  // live across the faulting call
  const uint32_t a = kept[0], b = kept[1], c = kept[2], d = kept[3], e = kept[4], f = kept[5];

  TPluginFault fault;
  EXPECT_FALSE(RunGuarded(&SpoilThenFault, nullptr, fault));
  EXPECT_EQ(fault.Code, 0xC0000005u);  // access violation
  const char* start = reinterpret_cast<const char*>(&SpoilThenFault);
  EXPECT_GE(static_cast<const char*>(fault.Address), start);
  EXPECT_LT(static_cast<const char*>(fault.Address), start + 256);

  EXPECT_EQ(a, kept[0]);
  EXPECT_EQ(b, kept[1]);
  EXPECT_EQ(c, kept[2]);
  EXPECT_EQ(d, kept[3]);
  EXPECT_EQ(e, kept[4]);
  EXPECT_EQ(f, kept[5]);
  EXPECT_EQ(Mxcsr(), control);

  // The next call runs normally, and a C++ exception from it still reaches the caller.
  int answer = 0;
  EXPECT_TRUE(RunGuarded([](void* p) { *static_cast<int*>(p) = 42; }, &answer, fault));
  EXPECT_EQ(answer, 42);
  EXPECT_THROW(GuardedCall([] { throw 5; }, fault), int);
}
