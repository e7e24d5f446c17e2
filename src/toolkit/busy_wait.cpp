#include "toolkit/busy_wait.h"

#include <windows.h>
#include <shellapi.h>

#include "platform/process.h"
#include "plugins/helper_runner.h"

namespace toolkit {

namespace {
bool IsInput(UINT message) {
  return (message >= WM_KEYFIRST && message <= WM_KEYLAST) ||
         (message >= WM_MOUSEFIRST && message <= WM_MOUSELAST);
}

// One pass over the queue; false when the load is to be abandoned.
bool PumpWhileWaiting() {
  bool go_on = true;
  MSG msg;
  while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
    if (msg.message == WM_QUIT) {
      // The loop that ends the program must still see it once the load has unwound.
      ::PostQuitMessage(static_cast<int>(msg.wParam));
      return false;
    }
    if (msg.message == WM_KEYDOWN && msg.wParam == VK_ESCAPE) {
      go_on = false;
      continue;
    }
    if (msg.message == WM_DROPFILES) {
      ::DragFinish(reinterpret_cast<HDROP>(msg.wParam));
      continue;
    }
    if (IsInput(msg.message)) continue;
    ::TranslateMessage(&msg);
    ::DispatchMessageW(&msg);
  }
  return go_on;
}
}  // namespace

void InstallPluginWait() { spirun::SetWaitHook(&PumpWhileWaiting); }

TLoadWait::TLoadWait(bool& shown) : shown_(shown), start_(platform::MonotonicMs()) {}

TLoadWait::~TLoadWait() { shown_ = false; }

void TLoadWait::Busy() {
  shown_ = true;
  cursor_.Busy();
}

bool TLoadWait::operator()() {
  if (!shown_ && platform::MonotonicMs() - start_ >= kBusyAfterMs) Busy();
  return PumpWhileWaiting();
}

}  // namespace toolkit
