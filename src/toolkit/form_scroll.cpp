// The form's scroll layout (AutoScroll): the extent its children need, the scroll bars that
// follow from it, the client size a planned outer size gives, and the children placed for the
// scroll positions.
#include <algorithm>

#include "toolkit/controls.h"

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

SIZE TForm::ClientSize() const {
  if (planning_) {
    bool needH, needV;
    const int32_t fullW = width_ - frameW_, fullH = height_ - frameH_;
    NeededBars(fullW, fullH, needH, needV);
    return SIZE{fullW - (needV ? ::GetSystemMetrics(SM_CXVSCROLL) : 0),
                fullH - (needH ? ::GetSystemMetrics(SM_CYHSCROLL) : 0)};
  }
  RECT r{};
  ::GetClientRect(Handle(), &r);
  return SIZE{r.right - r.left, r.bottom - r.top};
}

int32_t TForm::ClientWidth() const { return ClientSize().cx; }
int32_t TForm::ClientHeight() const { return ClientSize().cy; }

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
  if (needH != hbar_) ::ShowScrollBar(Handle(), SB_HORZ, needH);
  if (needV != vbar_) ::ShowScrollBar(Handle(), SB_VERT, needV);
  hbar_ = needH;
  vbar_ = needV;
  // A shown bar spans the extent, its thumb the visible part.
  const auto setBar = [this](int bar, int32_t extent, int32_t visible, int32_t pos) {
    SCROLLINFO si{};
    si.cbSize = sizeof si;
    si.fMask = SIF_RANGE | SIF_PAGE | SIF_POS;
    si.nMax = extent - 1;
    si.nPage = static_cast<UINT>(visible);
    si.nPos = pos;
    ::SetScrollInfo(Handle(), bar, &si, TRUE);
  };
  if (needH) setBar(SB_HORZ, extW, visW, hpos_);
  if (needV) setBar(SB_VERT, extH, visH, vpos_);
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
