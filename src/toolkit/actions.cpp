#include "toolkit/actions.h"

#include <windowsx.h>

#include "toolkit/application.h"
#include "toolkit/wintext.h"

namespace {
const char* KeyName(WORD key) {
  switch (key) {
    case VK_BACK:
      return "BkSp";
    case VK_TAB:
      return "Tab";
    case VK_RETURN:
      return "Enter";
    case VK_ESCAPE:
      return "Esc";
    case VK_SPACE:
      return "Space";
    case VK_PRIOR:
      return "PgUp";
    case VK_NEXT:
      return "PgDn";
    case VK_END:
      return "End";
    case VK_HOME:
      return "Home";
    case VK_LEFT:
      return "Left";
    case VK_UP:
      return "Up";
    case VK_RIGHT:
      return "Right";
    case VK_DOWN:
      return "Down";
    case VK_INSERT:
      return "Ins";
    case VK_DELETE:
      return "Del";
    default:
      return nullptr;
  }
}
}  // namespace

std::string ShortCutToText(TShortCut shortCut) {
  const WORD key = shortCut & 0xFF;
  std::string name;
  if (const char* n = KeyName(key)) {
    name = n;
  } else if ((key >= '0' && key <= '9') || (key >= 'A' && key <= 'Z')) {
    name = std::string(1, static_cast<char>(key));
  } else if (key >= VK_F1 && key <= VK_F12) {
    name = "F" + std::to_string(key - VK_F1 + 1);
  } else {
    return {};
  }
  std::string prefix;
  if (shortCut & scShift) prefix += "Shift+";
  if (shortCut & scCtrl) prefix += "Ctrl+";
  if (shortCut & scAlt) prefix += "Alt+";
  return prefix + name;
}

TShortCut ShortCutOf(WORD key, TShiftState shift) {
  TShortCut s = key & 0xFF;
  if (shift & ssShift) s |= scShift;
  if (shift & ssCtrl) s |= scCtrl;
  if (shift & ssAlt) s |= scAlt;
  return s;
}

wchar_t AcceleratorOf(const std::string& caption) {
  for (size_t i = 0; i + 1 < caption.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(caption[i]);
    if (platform::IsDBCSLeadByte(c)) {
      ++i;
      continue;
    }
    if (c == '&') {
      const char next = caption[i + 1];
      if (next == '&') {
        ++i;
        continue;
      }
      return static_cast<wchar_t>(next >= 'a' && next <= 'z' ? next - 32 : next);
    }
  }
  return 0;
}

TAction::TAction(TComponent* owner, TActionManager* manager) : TComponent(owner) {
  if (manager) manager->AddAction(this);
}

bool TAction::Execute() {
  if (!OnExecute) return false;
  OnExecute(this);
  return true;
}

TActionManager::TActionManager(TComponent* owner) : TComponent(owner) {}

bool TActionManager::IsShortCut(TShortCut shortCut) {
  if (shortCut == scNone) return false;
  for (TAction* a : actions_)
    if (a->ShortCut == shortCut) return a->Execute();
  return false;
}

// ---- TActionMainMenuBar -------------------------------------------------------------------

TActionMainMenuBar::TActionMainMenuBar(TForm* owner) : TWinControl(owner) {
  SetDpi(96);
  TCreateParams p;
  p.ClassName = RegisterClassOnce(L"KorvaleMenuBar", 0, reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1));
  p.Style = WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS;
  p.Parent = owner ? owner->Handle() : nullptr;
  p.X = p.Y = 0;
  p.Width = p.Height = 0;
  CreateHandle(p);
  align_ = alTop;
  SetParentForm(owner);
}

TActionMainMenuBar::~TActionMainMenuBar() = default;

void TActionMainMenuBar::SetDpi(int dpi) {
  const int pixels = dpi == 96 ? 12 : ::MulDiv(12, dpi, 96);
  font_.reset(::CreateFontW(-pixels, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, SHIFTJIS_CHARSET,
                            OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, DEFAULT_PITCH,
                            L"MS UI Gothic"));
  rects_.clear();
  if (Handle()) Invalidate();
}

void TActionMainMenuBar::SetActionManager(TActionManager* manager) {
  manager_ = manager;
  rects_.clear();
  Invalidate();
}

int TActionMainMenuBar::ItemCount() const {
  return manager_ ? static_cast<int>(manager_->ActionBar().size()) : 0;
}

void TActionMainMenuBar::Measure() const {
  rects_.clear();
  if (!manager_ || !Handle()) return;
  platform::win::WindowDC dc(Handle());
  platform::win::SelectedObject font(dc.get(), font_.get());
  int x = 3;
  for (const TActionClientItem& item : manager_->ActionBar()) {
    std::wstring w = toolkit::Wide(item.Caption);
    RECT r{0, 0, 0, 0};
    ::DrawTextW(dc.get(), w.c_str(), -1, &r, DT_CALCRECT | DT_SINGLELINE);
    const int width = (r.right - r.left) + 14;
    rects_.push_back(RECT{x, 3, x + width, height_ - 3});
    x += width + Spacing;
  }
}

RECT TActionMainMenuBar::ItemRect(int index) const {
  if (rects_.size() != static_cast<size_t>(ItemCount())) Measure();
  if (index < 0 || static_cast<size_t>(index) >= rects_.size()) return RECT{0, 0, 0, 0};
  RECT r = rects_[static_cast<size_t>(index)];
  r.bottom = height_ - 3;
  return r;
}

platform::win::Menu TActionMainMenuBar::BuildPopup(int index) const {
  platform::win::Menu menu(::CreatePopupMenu());
  if (!manager_ || index < 0 || index >= ItemCount()) return menu;
  const auto& items = manager_->ActionBar()[static_cast<size_t>(index)].Items;
  for (size_t i = 0; i < items.size(); ++i) {
    const TActionClientItem& it = items[i];
    if (it.IsSeparator()) {
      ::AppendMenuW(menu.get(), MF_SEPARATOR, 0, nullptr);
      continue;
    }
    std::string text = it.Caption;
    if (it.Action && it.Action->ShortCut != scNone) text += "\t" + ShortCutToText(it.Action->ShortCut);
    ::AppendMenuW(menu.get(), MF_STRING, i + 1, toolkit::Wide(text).c_str());
  }
  return menu;
}

void TActionMainMenuBar::OpenMenu(int index) {
  if (index < 0 || index >= ItemCount()) return;
  platform::win::Menu menu = BuildPopup(index);
  RECT r = ItemRect(index);
  POINT pt{r.left, r.bottom};
  ::ClientToScreen(Handle(), &pt);
  hot_ = index;
  ::InvalidateRect(Handle(), nullptr, TRUE);
  HWND owner = parent_ ? parent_->Handle() : Handle();
  const UINT id = static_cast<UINT>(::TrackPopupMenuEx(
      menu.get(), TPM_LEFTALIGN | TPM_TOPALIGN | TPM_RETURNCMD | TPM_LEFTBUTTON, pt.x, pt.y, owner, nullptr));
  hot_ = -1;
  ::InvalidateRect(Handle(), nullptr, TRUE);
  if (id == 0) return;
  const auto& items = manager_->ActionBar()[static_cast<size_t>(index)].Items;
  if (id <= items.size() && items[id - 1].Action) items[id - 1].Action->Execute();
}

bool TActionMainMenuBar::OpenMenuByAccelerator(wchar_t letter) {
  if (!manager_) return false;
  if (letter >= L'a' && letter <= L'z') letter = static_cast<wchar_t>(letter - 32);
  const auto& bar = manager_->ActionBar();
  for (size_t i = 0; i < bar.size(); ++i) {
    if (AcceleratorOf(bar[i].Caption) == letter) {
      OpenMenu(static_cast<int>(i));
      return true;
    }
  }
  return false;
}

void TActionMainMenuBar::Paint() {
  platform::win::PaintDC dc(Handle());
  RECT all{0, 0, width_, height_};
  ::FillRect(dc.get(), &all, ::GetSysColorBrush(COLOR_BTNFACE));
  ::DrawEdge(dc.get(), &all, EDGE_ETCHED, BF_LEFT | BF_TOP | BF_BOTTOM);
  if (!manager_) return;
  platform::win::SelectedObject font(dc.get(), font_.get());
  ::SetBkMode(dc.get(), TRANSPARENT);
  ::SetTextColor(dc.get(), ::GetSysColor(COLOR_MENUTEXT));
  const auto& bar = manager_->ActionBar();
  for (size_t i = 0; i < bar.size(); ++i) {
    RECT r = ItemRect(static_cast<int>(i));
    if (static_cast<int>(i) == hot_) ::DrawEdge(dc.get(), &r, BDR_SUNKENOUTER, BF_RECT);
    std::wstring w = toolkit::Wide(bar[i].Caption);
    ::DrawTextW(dc.get(), w.c_str(), -1, &r, DT_SINGLELINE | DT_CENTER | DT_VCENTER);
  }
}

LRESULT TActionMainMenuBar::WndProc(UINT msg, WPARAM wp, LPARAM lp) {
  switch (msg) {
    case WM_PAINT:
      Paint();
      return 0;
    case WM_ERASEBKGND:
      return 1;
    case WM_SIZE:
      rects_.clear();
      ::InvalidateRect(Handle(), nullptr, TRUE);
      return 0;
    case WM_LBUTTONDOWN: {
      POINT pt{GET_X_LPARAM(lp), GET_Y_LPARAM(lp)};
      for (int i = 0; i < ItemCount(); ++i) {
        RECT r = ItemRect(i);
        if (::PtInRect(&r, pt)) {
          OpenMenu(i);
          break;
        }
      }
      return 0;
    }
    default:
      return DefaultProc(msg, wp, lp);
  }
}
