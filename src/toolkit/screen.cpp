// The display and the monitor that holds a window, with the sizes tests put in their place.
#include "platform/win32/handles.h"
#include "toolkit/controls.h"

namespace {
int32_t g_screenW = 0, g_screenH = 0;
RECT g_monitor{0, 0, 0, 0};
}  // namespace
int32_t TScreen::Width() { return g_screenW ? g_screenW : ::GetSystemMetrics(SM_CXSCREEN); }
int32_t TScreen::Height() { return g_screenH ? g_screenH : ::GetSystemMetrics(SM_CYSCREEN); }
RECT TScreen::MonitorRect(HWND window) {
  if (!::IsRectEmpty(&g_monitor)) return g_monitor;
  if (g_screenW || g_screenH) return RECT{0, 0, Width(), Height()};
  MONITORINFO info{};
  info.cbSize = sizeof info;
  HMONITOR monitor = ::MonitorFromWindow(window, MONITOR_DEFAULTTONEAREST);
  if (monitor && ::GetMonitorInfoW(monitor, &info)) return info.rcMonitor;
  return RECT{0, 0, Width(), Height()};
}

int TScreen::Dpi(HWND window) {
  // GetDpiForWindow exists from Windows 10 (1607) on: looked up, not linked.
  using DpiForWindow = UINT(WINAPI*)(HWND);
  static const DpiForWindow forWindow = [] {
    HMODULE user = ::GetModuleHandleW(L"user32.dll");
    return user ? reinterpret_cast<DpiForWindow>(
                      reinterpret_cast<void*>(::GetProcAddress(user, "GetDpiForWindow")))
                : nullptr;
  }();
  if (window && forWindow) {
    const UINT dpi = forWindow(window);
    if (dpi > 0) return static_cast<int>(dpi);
  }
  platform::win::WindowDC screen(nullptr);
  const int dpi = ::GetDeviceCaps(screen.get(), LOGPIXELSY);
  return dpi > 0 ? dpi : 96;
}

void TScreen::SetMonitorOverride(const RECT& monitor) { g_monitor = monitor; }

void TScreen::SetSizeOverride(int32_t width, int32_t height) {
  g_screenW = width;
  g_screenH = height;
}
