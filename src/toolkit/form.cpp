// The form: its window, caption, font, showing and closing, and the keyboard and wheel input
// it routes to its events.  The scroll layout of its children is in form_scroll.cpp.
#include <windowsx.h>

#include "toolkit/application.h"
#include "toolkit/controls.h"
#include "toolkit/wintext.h"

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
