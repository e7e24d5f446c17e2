#include "toolkit/image.h"

#include <windowsx.h>

#include "platform/win32/surface.h"
#include "toolkit/application.h"

TImage::TImage(TForm* owner) : TWinControl(owner) {
  picture_.OnChange = [this](TObject*) { PictureChanged(); };
  TCreateParams p;
  p.ClassName = RegisterClassOnce(L"KorvaleImage", CS_DBLCLKS, nullptr);
  p.Style = WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS;
  p.Parent = owner ? owner->Handle() : nullptr;
  p.X = p.Y = 0;
  p.Width = p.Height = 0;
  CreateHandle(p);
  SetParentForm(owner);
}

TImage::~TImage() { picture_.OnChange = nullptr; }

void TImage::FitToPicture() {
  const int32_t w = picture_.Width(), h = picture_.Height();
  if (w > 0 && h > 0) SetBounds(left_, top_, w, h);
}

void TImage::PictureChanged() {
  if (autoSize_) FitToPicture();
  Invalidate();
}

void TImage::SetAutoSize(bool on) {
  autoSize_ = on;
  if (on) FitToPicture();
}

void TImage::SetStretch(bool on) {
  stretch_ = on;
  Invalidate();
}

void TImage::SetCenter(bool on) {
  center_ = on;
  Invalidate();
}

TRect TImage::DestRect() {
  if (stretch_) return TRect{0, 0, width_, height_};
  const int32_t w = picture_.Width(), h = picture_.Height();
  TRect r{0, 0, w, h};
  if (center_) {
    r.Left = (width_ - w) / 2;
    r.Top = (height_ - h) / 2;
    r.Right = r.Left + w;
    r.Bottom = r.Top + h;
  }
  return r;
}

void TImage::Paint() {
  platform::win::PaintDC dc(Handle());
  RECT all{0, 0, width_, height_};
  TGraphic* g = picture_.Graphic();
  const TRect dest = DestRect();
  // Whatever the graphic leaves uncovered shows the window's button-face colour.
  if (!g || g->IsEmpty() || g->Transparent() || !stretch_)
    ::FillRect(dc.get(), &all, ::GetSysColorBrush(COLOR_BTNFACE));
  if (g && !g->IsEmpty()) {
    platform::Surface surface(dc.get());
    g->DrawInRect(surface, dest);
  }
}

void TImage::MouseDown(TMouseButton button, WPARAM wp, LPARAM lp, bool dbl) {
  if (button == mbLeft) ::SetCapture(Handle());
  const TShiftState s = ShiftStateFromMouseKeys(wp) | (dbl ? TShiftState{ssDouble} : 0u);
  if (OnMouseDown) OnMouseDown(this, button, s, GET_X_LPARAM(lp), GET_Y_LPARAM(lp));
}

void TImage::MouseUp(TMouseButton button, WPARAM wp, LPARAM lp) {
  if (button == mbLeft && ::GetCapture() == Handle()) ::ReleaseCapture();
  if (OnMouseUp) OnMouseUp(this, button, ShiftStateFromMouseKeys(wp), GET_X_LPARAM(lp), GET_Y_LPARAM(lp));
}

LRESULT TImage::WndProc(UINT msg, WPARAM wp, LPARAM lp) {
  switch (msg) {
    case WM_PAINT:
      Paint();
      return 0;
    case WM_ERASEBKGND:
      return 1;
    case WM_LBUTTONDOWN:
      MouseDown(mbLeft, wp, lp, false);
      return 0;
    case WM_RBUTTONDOWN:
      MouseDown(mbRight, wp, lp, false);
      return 0;
    case WM_MBUTTONDOWN:
      MouseDown(mbMiddle, wp, lp, false);
      return 0;
    case WM_LBUTTONDBLCLK:
      // Only the left button's double-click is the control's double-click; then the press.
      if (OnDblClick) OnDblClick(this);
      if (Handle()) MouseDown(mbLeft, wp, lp, true);
      return 0;
    case WM_RBUTTONDBLCLK:
      MouseDown(mbRight, wp, lp, true);
      return 0;
    case WM_MBUTTONDBLCLK:
      MouseDown(mbMiddle, wp, lp, true);
      return 0;
    case WM_LBUTTONUP:
      MouseUp(mbLeft, wp, lp);
      return 0;
    case WM_RBUTTONUP:
      MouseUp(mbRight, wp, lp);
      return 0;
    case WM_MBUTTONUP:
      MouseUp(mbMiddle, wp, lp);
      return 0;
    case WM_MOUSEMOVE:
      if (OnMouseMove) OnMouseMove(this, ShiftStateFromMouseKeys(wp), GET_X_LPARAM(lp), GET_Y_LPARAM(lp));
      return 0;
    default:
      return DefaultProc(msg, wp, lp);
  }
}
