#include "toolkit/controls.h"

#include <windowsx.h>

#include <algorithm>

#include "toolkit/application.h"
#include "toolkit/wintext.h"

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

// ---- TScreen ------------------------------------------------------------------------------

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
  toolkit::WindowDC screen(nullptr);
  const int dpi = ::GetDeviceCaps(screen.get(), LOGPIXELSY);
  return dpi > 0 ? dpi : 96;
}

void TScreen::SetMonitorOverride(const RECT& monitor) { g_monitor = monitor; }

void TScreen::SetSizeOverride(int32_t width, int32_t height) {
  g_screenW = width;
  g_screenH = height;
}

// ---- TForm --------------------------------------------------------------------------------

TForm::TForm(TComponent* owner) : TWinControl(owner) {}

TForm::~TForm() {
  for (TWinControl* c : children_) c->parent_ = nullptr;
  children_.clear();
  DestroyHandle();
  if (Application().MainForm() == this) Application().SetMainForm(nullptr);
}

void TForm::PrepareWindowParams(TCreateParams& p) {
  p.ClassName = RegisterClassOnce(L"KorvaleForm", CS_DBLCLKS, reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1));
  p.Style = WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN;
  p.X = left_;
  p.Y = top_;
  p.Width = width_;
  p.Height = height_;
}

void TForm::CreateWindowHandle() {
  TCreateParams p;
  PrepareWindowParams(p);
  CreateHandle(p);
  RefreshBounds();
}

void TForm::SetFont(const std::wstring& face, int pixels) {
  font_.reset(::CreateFontW(-pixels, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, SHIFTJIS_CHARSET,
                            OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, DEFAULT_PITCH,
                            face.c_str()));
}

std::string TForm::Caption() const {
  if (!Handle()) return {};
  int n = ::GetWindowTextLengthW(Handle());
  std::wstring w(static_cast<size_t>(n) + 1, L'\0');
  n = ::GetWindowTextW(Handle(), &w[0], n + 1);
  w.resize(static_cast<size_t>(n > 0 ? n : 0));
  return toolkit::Narrow(w);
}

void TForm::SetCaption(const std::string& caption) {
  if (Handle()) ::SetWindowTextW(Handle(), toolkit::Wide(caption).c_str());
}

void TForm::SetCaption(const MixedText& caption) {
  if (Handle()) ::SetWindowTextW(Handle(), toolkit::Wide(caption).c_str());
}

void TForm::NeededBars(int fullW, int fullH, bool& needH, bool& needV) const {
  needH = needV = false;
  if (!autoScroll_) return;
  const int cxv = ::GetSystemMetrics(SM_CXVSCROLL), cyh = ::GetSystemMetrics(SM_CYHSCROLL);
  needH = extentW_ > fullW;
  needV = extentH_ > fullH - (needH ? cyh : 0);
  needH = extentW_ > fullW - (needV ? cxv : 0);
}

void TForm::BeginResize() {
  if (planning_ || !Handle()) return;
  RefreshBounds();
  RECT r{};
  ::GetClientRect(Handle(), &r);
  frameW_ = width_ - (r.right + (vbar_ ? ::GetSystemMetrics(SM_CXVSCROLL) : 0));
  frameH_ = height_ - (r.bottom + (hbar_ ? ::GetSystemMetrics(SM_CYHSCROLL) : 0));
  planning_ = true;
}

void TForm::EndResize() {
  if (!planning_) return;
  planning_ = false;
  const int32_t w = width_, h = height_;
  RefreshBounds();
  if (w != width_ || h != height_) SetBounds(left_, top_, w, h);
}

int32_t TForm::ClientWidth() const {
  if (planning_) {
    bool needH, needV;
    NeededBars(width_ - frameW_, height_ - frameH_, needH, needV);
    return width_ - frameW_ - (needV ? ::GetSystemMetrics(SM_CXVSCROLL) : 0);
  }
  RECT r{};
  ::GetClientRect(Handle(), &r);
  return r.right - r.left;
}

int32_t TForm::ClientHeight() const {
  if (planning_) {
    bool needH, needV;
    NeededBars(width_ - frameW_, height_ - frameH_, needH, needV);
    return height_ - frameH_ - (needH ? ::GetSystemMetrics(SM_CYHSCROLL) : 0);
  }
  RECT r{};
  ::GetClientRect(Handle(), &r);
  return r.bottom - r.top;
}

void TForm::RefreshBounds() {
  RECT r{};
  if (planning_ || !Handle() || !::GetWindowRect(Handle(), &r)) return;
  left_ = r.left;
  top_ = r.top;
  width_ = r.right - r.left;
  height_ = r.bottom - r.top;
}

void TForm::SetBounds(int32_t left, int32_t top, int32_t width, int32_t height) {
  if (planning_) {
    // The size the platform would give: held within its tracking limits.
    width_ = std::clamp<int32_t>(width, ::GetSystemMetrics(SM_CXMINTRACK), ::GetSystemMetrics(SM_CXMAXTRACK));
    height_ =
        std::clamp<int32_t>(height, ::GetSystemMetrics(SM_CYMINTRACK), ::GetSystemMetrics(SM_CYMAXTRACK));
    return;
  }
  left_ = left;
  top_ = top;
  width_ = width;
  height_ = height;
  if (Handle()) {
    ::SetWindowPos(Handle(), nullptr, left, top, width, height, SWP_NOZORDER | SWP_NOACTIVATE);
    RefreshBounds();
  }
}

void TForm::SetClientWidth(int32_t w) {
  RefreshBounds();
  SetBounds(left_, top_, width_ + (w - ClientWidth()), height_);
}

void TForm::SetClientHeight(int32_t h) {
  RefreshBounds();
  SetBounds(left_, top_, width_, height_ + (h - ClientHeight()));
}

void TForm::AddChild(TWinControl* child) {
  if (std::find(children_.begin(), children_.end(), child) == children_.end()) children_.push_back(child);
  ChildBoundsChanged();
}

void TForm::RemoveChild(TWinControl* child) {
  children_.erase(std::remove(children_.begin(), children_.end(), child), children_.end());
}

void TForm::SetAutoScroll(bool on) {
  autoScroll_ = on;
  ChildBoundsChanged();
}

void TForm::ChildBoundsChanged() {
  UpdateScrollBars();
  LayoutChildren();
}

void TForm::UpdateScrollBars() {
  if (!Handle() || updating_ || planning_) return;
  updating_ = true;
  int32_t extW = 0, extH = 0;
  for (TWinControl* c : children_) {
    if (!c->Visible()) continue;
    if (c->Align() == alNone) extW = std::max(extW, c->Left() + c->Width());
    extH = std::max(extH, c->Top() + c->Height());
  }
  extentW_ = extW;
  extentH_ = extH;
  // The client area without any bar, then the bars each extent needs.
  const int cxv = ::GetSystemMetrics(SM_CXVSCROLL), cyh = ::GetSystemMetrics(SM_CYHSCROLL);
  RECT rc{};
  ::GetClientRect(Handle(), &rc);
  const int fullW = rc.right + (vbar_ ? cxv : 0), fullH = rc.bottom + (hbar_ ? cyh : 0);
  bool needH, needV;
  NeededBars(fullW, fullH, needH, needV);
  const int visW = fullW - (needV ? cxv : 0), visH = fullH - (needH ? cyh : 0);
  hpos_ = needH ? std::clamp(hpos_, 0, std::max(0, extW - visW)) : 0;
  vpos_ = needV ? std::clamp(vpos_, 0, std::max(0, extH - visH)) : 0;
  SCROLLINFO si{};
  si.cbSize = sizeof si;
  si.fMask = SIF_RANGE | SIF_PAGE | SIF_POS;
  if (needH != hbar_) ::ShowScrollBar(Handle(), SB_HORZ, needH);
  if (needV != vbar_) ::ShowScrollBar(Handle(), SB_VERT, needV);
  hbar_ = needH;
  vbar_ = needV;
  if (needH) {
    si.nMin = 0;
    si.nMax = extW - 1;
    si.nPage = static_cast<UINT>(visW);
    si.nPos = hpos_;
    ::SetScrollInfo(Handle(), SB_HORZ, &si, TRUE);
  }
  if (needV) {
    si.nMin = 0;
    si.nMax = extH - 1;
    si.nPage = static_cast<UINT>(visH);
    si.nPos = vpos_;
    ::SetScrollInfo(Handle(), SB_VERT, &si, TRUE);
  }
  updating_ = false;
}

void TForm::LayoutChildren() {
  if (!Handle()) return;
  const int32_t cw = ClientWidth();
  for (TWinControl* c : children_) {
    if (c->Align() == alTop) {
      // As wide as the wider of the extent and the client area, at the top of the scrolled area.
      c->left_ = 0;
      c->top_ = 0;
      c->width_ = std::max(extentW_, cw);
    }
    c->PlaceWindow();
  }
  ::InvalidateRect(Handle(), nullptr, TRUE);
}

void TForm::SetScrollPosition(int bar, int32_t pos) {
  const bool horz = bar == SB_HORZ;
  const bool shown = horz ? hbar_ : vbar_;
  const int32_t extent = horz ? extentW_ : extentH_;
  const int32_t visible = horz ? ClientWidth() : ClientHeight();
  pos = std::clamp(pos, 0, shown ? std::max(0, extent - visible) : 0);
  int32_t& current = horz ? hpos_ : vpos_;
  if (pos == current) return;
  current = pos;
  ::SetScrollPos(Handle(), bar, pos, TRUE);
  LayoutChildren();
}

void TForm::ScrollMessage(int bar, WORD code) {
  SCROLLINFO si{};
  si.cbSize = sizeof si;
  si.fMask = SIF_ALL;
  ::GetScrollInfo(Handle(), bar, &si);
  int32_t pos = bar == SB_HORZ ? hpos_ : vpos_;
  const int32_t page = static_cast<int32_t>(si.nPage), line = 8;
  switch (code) {
    case SB_LINEUP:
      pos -= line;
      break;
    case SB_LINEDOWN:
      pos += line;
      break;
    case SB_PAGEUP:
      pos -= page;
      break;
    case SB_PAGEDOWN:
      pos += page;
      break;
    case SB_THUMBTRACK:
    case SB_THUMBPOSITION:
      pos = si.nTrackPos;
      break;
    case SB_TOP:
      pos = 0;
      break;
    case SB_BOTTOM:
      pos = si.nMax;
      break;
    default:
      return;
  }
  SetScrollPosition(bar, pos);
}

void TForm::DoMouseWheel(int delta, TShiftState shift, TPoint pos) {
  wheelAccumulator_ += delta;
  while (wheelAccumulator_ >= WHEEL_DELTA || wheelAccumulator_ <= -WHEEL_DELTA) {
    const bool towardsUser = wheelAccumulator_ < 0;
    wheelAccumulator_ += towardsUser ? WHEEL_DELTA : -WHEEL_DELTA;
    bool handled = false;
    if (towardsUser) {
      if (OnMouseWheelDown) OnMouseWheelDown(this, shift, pos, handled);
    } else if (OnMouseWheelUp) {
      OnMouseWheelUp(this, shift, pos, handled);
    }
  }
}

void TForm::Show() {
  visible_ = true;
  if (Handle()) ::ShowWindow(Handle(), SW_SHOW);
}

void TForm::Close() {
  closed_ = true;
  if (Handle()) ::ShowWindow(Handle(), SW_HIDE);
  if (Application().MainForm() == this) Application().Terminate();
}

LRESULT TForm::WndProc(UINT msg, WPARAM wp, LPARAM lp) {
  switch (msg) {
    case WM_SIZE:
      ChildBoundsChanged();
      return 0;
    case WM_HSCROLL:
      ScrollMessage(SB_HORZ, LOWORD(wp));
      return 0;
    case WM_VSCROLL:
      ScrollMessage(SB_VERT, LOWORD(wp));
      return 0;
    case WM_MOUSEWHEEL: {
      TPoint pt{GET_X_LPARAM(lp), GET_Y_LPARAM(lp)};
      DoMouseWheel(GET_WHEEL_DELTA_WPARAM(wp), ShiftStateFromMouseKeys(GET_KEYSTATE_WPARAM(wp)), pt);
      return 0;
    }
    case WM_KEYDOWN:
    case WM_SYSKEYDOWN: {
      TShiftState shift = KeyboardShiftState();
      if (msg == WM_SYSKEYDOWN && (lp & (1 << 29))) shift |= ssAlt;
      if (OnShortCut && OnShortCut(static_cast<WORD>(wp), shift)) return 0;
      break;
    }
    case WM_SYSCOMMAND:
      // Alt+letter arrives as the key-menu command with the letter; the menu bar takes it.
      if ((wp & 0xFFF0) == SC_KEYMENU && lp != ' ') {
        if (lp && OnMenuAccelerator) OnMenuAccelerator(static_cast<wchar_t>(lp));
        return 0;
      }
      break;
    case WM_CLOSE:
      Close();
      return 0;
    default:
      break;
  }
  return DefaultProc(msg, wp, lp);
}
