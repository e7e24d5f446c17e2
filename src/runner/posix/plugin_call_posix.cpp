#include "runner/plugin_call.h"

// Natively a plug-in is an ordinary shared object of the test build: its faults are the test's
// to report (and the sanitizers' to explain), so the call is made directly.
bool RunGuarded(void (*body)(void*), void* context, TPluginFault&) {
  body(context);
  return true;
}
