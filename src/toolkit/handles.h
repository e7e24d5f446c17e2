// Owning wrappers for the Win32 resources the toolkit creates: fonts, menus, device contexts
// and objects selected into them.  Each releases its resource exactly once.
#ifndef KORVALE_TOOLKIT_HANDLES_H
#define KORVALE_TOOLKIT_HANDLES_H

#include <windows.h>

#include <utility>

namespace toolkit {

// A handle with a release function; moves, never copies.
template <typename H, BOOL(WINAPI* Release)(H)>
class UniqueHandle {
 public:
  UniqueHandle() = default;
  explicit UniqueHandle(H h) : h_(h) {}
  ~UniqueHandle() { reset(); }
  UniqueHandle(const UniqueHandle&) = delete;
  UniqueHandle& operator=(const UniqueHandle&) = delete;
  UniqueHandle(UniqueHandle&& o) noexcept : h_(o.release()) {}
  UniqueHandle& operator=(UniqueHandle&& o) noexcept {
    if (this != &o) reset(o.release());
    return *this;
  }
  H get() const { return h_; }
  explicit operator bool() const { return h_ != nullptr; }
  H release() { return std::exchange(h_, nullptr); }
  void reset(H h = nullptr) {
    if (h_) Release(h_);
    h_ = h;
  }

 private:
  H h_ = nullptr;
};

inline BOOL WINAPI DeleteFontObject(HFONT h) { return ::DeleteObject(h); }

// Windows themselves are owned by their control objects (TWinControl destroys its window).
using FontHandle = UniqueHandle<HFONT, DeleteFontObject>;
using MenuHandle = UniqueHandle<HMENU, ::DestroyMenu>;

// A window's device context from GetDC, released with ReleaseDC.
class WindowDC {
 public:
  explicit WindowDC(HWND wnd) : wnd_(wnd), dc_(::GetDC(wnd)) {}
  ~WindowDC() {
    if (dc_) ::ReleaseDC(wnd_, dc_);
  }
  WindowDC(const WindowDC&) = delete;
  WindowDC& operator=(const WindowDC&) = delete;
  HDC get() const { return dc_; }

 private:
  HWND wnd_;
  HDC dc_;
};

// BeginPaint / EndPaint.
class PaintDC {
 public:
  explicit PaintDC(HWND wnd) : wnd_(wnd) { dc_ = ::BeginPaint(wnd, &ps_); }
  ~PaintDC() { ::EndPaint(wnd_, &ps_); }
  PaintDC(const PaintDC&) = delete;
  PaintDC& operator=(const PaintDC&) = delete;
  HDC get() const { return dc_; }
  const RECT& Area() const { return ps_.rcPaint; }

 private:
  HWND wnd_;
  HDC dc_;
  PAINTSTRUCT ps_{};
};

// An object selected into a device context, the previous one put back on scope exit.
class SelectedObject {
 public:
  SelectedObject(HDC dc, HGDIOBJ obj) : dc_(dc), previous_(::SelectObject(dc, obj)) {}
  ~SelectedObject() {
    if (previous_) ::SelectObject(dc_, previous_);
  }
  SelectedObject(const SelectedObject&) = delete;
  SelectedObject& operator=(const SelectedObject&) = delete;

 private:
  HDC dc_;
  HGDIOBJ previous_;
};

}  // namespace toolkit

#endif
