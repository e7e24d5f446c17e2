// The window base: one window class per kind of control, whose procedure forwards every
// message to the object's WndProc, and the shift state of the input messages.
#include <stdexcept>

#include "toolkit/application.h"
#include "toolkit/controls.h"

TShiftState ShiftStateFromMouseKeys(WPARAM keys) {
  TShiftState s = 0;
  if (keys & MK_SHIFT) s |= ssShift;
  if (keys & MK_CONTROL) s |= ssCtrl;
  if (keys & MK_LBUTTON) s |= ssLeft;
  if (keys & MK_RBUTTON) s |= ssRight;
  if (keys & MK_MBUTTON) s |= ssMiddle;
  if (::GetKeyState(VK_MENU) < 0) s |= ssAlt;
  return s;
}

TShiftState KeyboardShiftState() {
  TShiftState s = 0;
  if (::GetKeyState(VK_SHIFT) < 0) s |= ssShift;
  if (::GetKeyState(VK_CONTROL) < 0) s |= ssCtrl;
  if (::GetKeyState(VK_MENU) < 0) s |= ssAlt;
  return s;
}

// ---- TWinControl --------------------------------------------------------------------------

TWinControl::TWinControl(TComponent* owner) : TComponent(owner) {}

TWinControl::~TWinControl() {
  if (parent_) parent_->RemoveChild(this);
  DestroyHandle();
}

const wchar_t* TWinControl::RegisterClassOnce(const wchar_t* name, UINT style, HBRUSH background) {
  WNDCLASSEXW wc{};
  wc.cbSize = sizeof wc;
  HINSTANCE inst = ::GetModuleHandleW(nullptr);
  if (::GetClassInfoExW(inst, name, &wc)) return name;
  wc.cbSize = sizeof wc;
  wc.style = style;
  wc.lpfnWndProc = &TWinControl::Thunk;
  wc.hInstance = inst;
  wc.hCursor = ::LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
  wc.hbrBackground = background;
  wc.hIcon = Application().Icon();
  wc.lpszClassName = name;
  ::RegisterClassExW(&wc);
  return name;
}

void TWinControl::CreateHandle(TCreateParams& p) {
  HWND h = ::CreateWindowExW(p.ExStyle, p.ClassName, p.Caption.c_str(), p.Style, p.X, p.Y, p.Width, p.Height,
                             p.Parent, nullptr, ::GetModuleHandleW(nullptr), this);
  if (!h) throw std::runtime_error("CreateWindowEx failed");
}

void TWinControl::DestroyHandle() {
  if (handle_) {
    HWND h = handle_;
    ::DestroyWindow(h);  // WM_NCDESTROY clears handle_
    handle_ = nullptr;
  }
}

LRESULT CALLBACK TWinControl::Thunk(HWND wnd, UINT msg, WPARAM wp, LPARAM lp) {
  auto* self = reinterpret_cast<TWinControl*>(::GetWindowLongPtrW(wnd, GWLP_USERDATA));
  if (msg == WM_NCCREATE) {
    self = static_cast<TWinControl*>(reinterpret_cast<CREATESTRUCTW*>(lp)->lpCreateParams);
    self->handle_ = wnd;
    ::SetWindowLongPtrW(wnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
  }
  if (!self) return ::DefWindowProcW(wnd, msg, wp, lp);
  if (msg == WM_NCDESTROY) {
    ::SetWindowLongPtrW(wnd, GWLP_USERDATA, 0);
    self->handle_ = nullptr;
    return ::DefWindowProcW(wnd, msg, wp, lp);
  }
  // No C++ error may cross the system's frames: the default handler takes it here.
  LRESULT result = 0;
  bool failed = true;
  HandleErrors([&] {
    result = self->WndProc(msg, wp, lp);
    failed = false;
  });
  return failed ? 0 : result;
}

LRESULT TWinControl::WndProc(UINT msg, WPARAM wp, LPARAM lp) { return DefaultProc(msg, wp, lp); }

void TWinControl::SetBounds(int32_t left, int32_t top, int32_t width, int32_t height) {
  if (left == left_ && top == top_ && width == width_ && height == height_) return;
  left_ = left;
  top_ = top;
  width_ = width;
  height_ = height;
  if (parent_)
    parent_->ChildBoundsChanged();
  else
    PlaceWindow();
}

void TWinControl::PlaceWindow() {
  if (!handle_) return;
  int x = left_, y = top_;
  if (parent_) {
    x -= parent_->HorzScrollPosition();
    y -= parent_->VertScrollPosition();
  }
  ::SetWindowPos(handle_, nullptr, x, y, width_, height_, SWP_NOZORDER | SWP_NOACTIVATE);
}

void TWinControl::SetVisible(bool v) {
  if (v == visible_) return;
  visible_ = v;
  if (handle_) ::ShowWindow(handle_, v ? SW_SHOWNA : SW_HIDE);
  if (parent_) parent_->ChildBoundsChanged();
}

void TWinControl::SetAlign(TAlign a) {
  align_ = a;
  if (parent_) parent_->ChildBoundsChanged();
}

void TWinControl::Invalidate() {
  if (handle_) ::InvalidateRect(handle_, nullptr, FALSE);
}

void TWinControl::SetParentForm(TForm* form) {
  parent_ = form;
  if (form) form->AddChild(this);
}
