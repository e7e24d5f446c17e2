#include "toolkit/busy_wait.h"

#include <windows.h>
#include <shellapi.h>

#include "platform/process.h"
#include "runner/helper_runner.h"

namespace toolkit {

namespace {
// The messages a wait handles: all but the keyboard's and the mouse's in the window, which stay
// queued, in order, for when the load is done (a key pressed meanwhile steps on then, once).
constexpr UINT kHandled[][2] = {
    {0, WM_KEYFIRST - 1}, {WM_KEYLAST + 1, WM_MOUSEFIRST - 1}, {WM_MOUSELAST + 1, 0xFFFFFFFFu}};

// One pass over the queue; false when the load is to be abandoned.
bool PumpWhileWaiting() {
  bool go_on = true;
  MSG msg;
  // Escape abandons the load when it is the next key queued.
  if (::PeekMessageW(&msg, nullptr, WM_KEYDOWN, WM_KEYDOWN, PM_NOREMOVE) && msg.wParam == VK_ESCAPE) {
    ::PeekMessageW(&msg, nullptr, WM_KEYDOWN, WM_KEYDOWN, PM_REMOVE);
    go_on = false;
  }
  for (const auto& range : kHandled) {
    while (::PeekMessageW(&msg, nullptr, range[0], range[1], PM_REMOVE)) {
      if (msg.message == WM_QUIT) {
        // The loop that ends the program must still see it once the load has unwound.
        ::PostQuitMessage(static_cast<int>(msg.wParam));
        return false;
      }
      if (msg.message == WM_DROPFILES) {
        ::DragFinish(reinterpret_cast<HDROP>(msg.wParam));
        continue;
      }
      ::TranslateMessage(&msg);
      ::DispatchMessageW(&msg);
    }
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
