// Calls into a plug-in with a recovery point: a plug-in that faults inside a call (access
// violation, illegal instruction, division by zero...) returns control to the host instead of
// ending the program.
//
// Win32: a structured exception frame of our own is linked into the thread's handler chain for
// the duration of the call.  Its handler is asked only when no handler of the plug-in itself
// took the fault; it lets the system unwind the plug-in's frames (RtlUnwind) and resumes at the
// recovery point taken before the call.  Limits: faults on other threads, stack overflow and
// software exceptions are not caught; the plug-in's own state (its heap, its static data, a lock
// it held) may be left broken, and whatever it allocated and did not hand over leaks.
// POSIX: the call is made directly; nothing is caught.
#ifndef KORVALE_PLUGINS_PLUGIN_CALL_H
#define KORVALE_PLUGINS_PLUGIN_CALL_H

#include <cstdint>
#include <exception>
#include <utility>

struct TPluginFault {
  uint32_t Code = 0;              // the system's exception code (0xC0000005 for an access violation)
  const void* Address = nullptr;  // where it happened
};

// Runs body(context); false when a fault inside it was caught (fault then says which).  body
// must not let a C++ exception out: GuardedCall below carries one across.
bool RunGuarded(void (*body)(void*), void* context, TPluginFault& fault);

// Runs fn() under RunGuarded.  A C++ exception that fn raises is carried over the recovery frame
// and rethrown here; a fault gives false.
template <typename Fn>
bool GuardedCall(Fn&& fn, TPluginFault& fault) {
  struct Box {
    Fn* fn;
    std::exception_ptr failure;
  } box{&fn, nullptr};
  bool ok = RunGuarded(
      [](void* p) {
        Box* b = static_cast<Box*>(p);
        try {
          (*b->fn)();
        } catch (...) {
          b->failure = std::current_exception();
        }
      },
      &box, fault);
  if (box.failure) std::rethrow_exception(box.failure);
  return ok;
}

#endif
