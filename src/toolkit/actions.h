// Commands and the menu bar: named commands with a category, caption and shortcut code (the
// virtual key, + 8192 Shift, + 16384 Ctrl, + 32768 Alt); the command manager holds them and
// the item tree of its action bar; the menu bar draws that tree's top items inside the client
// area and opens each one's items as a popup menu (click, or Alt + the accelerator letter).
#ifndef KORVALE_TOOLKIT_ACTIONS_H
#define KORVALE_TOOLKIT_ACTIONS_H

#include <windows.h>

#include <string>
#include <vector>

#include "toolkit/controls.h"

using TShortCut = uint16_t;
enum : TShortCut { scShift = 0x2000, scCtrl = 0x4000, scAlt = 0x8000, scNone = 0 };

// The key's name as menus show it: "Ins", "Del", "Ctrl+W"; empty for none.
std::string ShortCutToText(TShortCut shortCut);
TShortCut ShortCutOf(WORD key, TShiftState shift);
// The letter after the "&" of a caption (upper-cased), 0 if none.
wchar_t AcceleratorOf(const std::string& caption);

class TActionManager;

class TAction : public TComponent {
 public:
  TAction(TComponent* owner, TActionManager* manager);
  std::string Category;
  std::string Caption;
  TShortCut ShortCut = scNone;
  TNotifyEvent OnExecute;
  // Runs the handler; false when it has none.
  bool Execute();
};

// One item of an action bar: a caption of its own, the command it runs (null for a menu or a
// separator "-"), and its sub-items.
struct TActionClientItem {
  std::string Caption;
  TAction* Action = nullptr;
  std::vector<TActionClientItem> Items;
  bool IsSeparator() const { return Caption == "-"; }
};

class TActionManager : public TComponent {
 public:
  explicit TActionManager(TComponent* owner);
  void AddAction(TAction* action) { actions_.push_back(action); }
  const std::vector<TAction*>& Actions() const { return actions_; }
  // The items of the first action bar.
  std::vector<TActionClientItem>& ActionBar() { return bar_; }
  // Runs the command whose shortcut is `shortCut`; false when none has it.
  bool IsShortCut(TShortCut shortCut);

 private:
  std::vector<TAction*> actions_;
  std::vector<TActionClientItem> bar_;
};

class TActionMainMenuBar : public TWinControl {
 public:
  explicit TActionMainMenuBar(TForm* owner);
  ~TActionMainMenuBar() override;
  void SetActionManager(TActionManager* manager);
  // Spacing between items; the edges drawn (left, top, bottom).
  int Spacing = 0;

  // The popup of top item `index`: one item per sub-item, "caption\tshortcut", separators;
  // the command id of sub-item i is i + 1.
  platform::win::Menu BuildPopup(int index) const;
  // Opens top item `index` below its place in the bar and runs the chosen command.
  void OpenMenu(int index);
  // Alt+letter: opens the top item whose accelerator is `letter`; false when none has it.
  bool OpenMenuByAccelerator(wchar_t letter);
  // The bar-relative rectangle of top item `index`.
  RECT ItemRect(int index) const;
  // The bar's font follows the window's resolution: 12 pixels at 96 dots per inch.
  void SetDpi(int dpi);
  int ItemCount() const;

 protected:
  LRESULT WndProc(UINT msg, WPARAM wp, LPARAM lp) override;

 private:
  void Paint();
  void Measure() const;
  TActionManager* manager_ = nullptr;
  platform::win::Font font_;
  mutable std::vector<RECT> rects_;
  int hot_ = -1;
};

#endif
