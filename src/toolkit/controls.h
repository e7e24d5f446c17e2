// Windows of the toolkit: the window base with its message routing, the scrolling form, and
// the shared input types.  Every window is a real Win32 window whose procedure forwards to
// the object's WndProc; an error that leaves a handler reaches the default handler there.
#ifndef KORVALE_TOOLKIT_CONTROLS_H
#define KORVALE_TOOLKIT_CONTROLS_H

#include <windows.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "platform/win32/handles.h"
#include "rtl/classes.h"
#include "rtl/format.h"

enum TMouseButton { mbLeft, mbRight, mbMiddle };
using TShiftState = unsigned;
enum : unsigned {
  ssShift = 1,
  ssAlt = 2,
  ssCtrl = 4,
  ssLeft = 8,
  ssRight = 16,
  ssMiddle = 32,
  ssDouble = 64
};
enum TAlign { alNone, alTop };

struct TPoint {
  int32_t X = 0, Y = 0;
};

using TMouseEvent =
    std::function<void(TObject* Sender, TMouseButton Button, TShiftState Shift, int X, int Y)>;
using TMouseMoveEvent = std::function<void(TObject* Sender, TShiftState Shift, int X, int Y)>;
using TMouseWheelUpDownEvent =
    std::function<void(TObject* Sender, TShiftState Shift, TPoint MousePos, bool& Handled)>;

// The shift state of a mouse message's key flags plus the Alt key.
TShiftState ShiftStateFromMouseKeys(WPARAM keys);
TShiftState KeyboardShiftState();

// What a window is created with; a form may change it before its window exists.
struct TCreateParams {
  std::wstring Caption;
  DWORD Style = 0;
  DWORD ExStyle = 0;
  int X = CW_USEDEFAULT, Y = CW_USEDEFAULT, Width = CW_USEDEFAULT, Height = CW_USEDEFAULT;
  HWND Parent = nullptr;
  const wchar_t* ClassName = nullptr;
};

class TForm;

// A window owned by a component owner.  Left/Top/Width/Height are in the parent form's
// scrolled area (unscrolled coordinates).
class TWinControl : public TComponent {
 public:
  explicit TWinControl(TComponent* owner);
  ~TWinControl() override;

  HWND Handle() const { return handle_; }
  int32_t Left() const { return left_; }
  int32_t Top() const { return top_; }
  int32_t Width() const { return width_; }
  int32_t Height() const { return height_; }
  virtual void SetBounds(int32_t left, int32_t top, int32_t width, int32_t height);
  void SetWidth(int32_t w) { SetBounds(left_, top_, w, height_); }
  void SetHeight(int32_t h) { SetBounds(left_, top_, width_, h); }
  bool Visible() const { return visible_; }
  void SetVisible(bool v);
  TAlign Align() const { return align_; }
  void SetAlign(TAlign a);
  void Invalidate();
  // The form that holds this control, null for a form or a control without one.
  TForm* ParentForm() const { return parent_; }
  void SetParentForm(TForm* form);

 protected:
  // Builds the window from the parameters (called once by the subclass or the form).
  void CreateHandle(TCreateParams& params);
  void DestroyHandle();
  virtual LRESULT WndProc(UINT msg, WPARAM wp, LPARAM lp);
  LRESULT DefaultProc(UINT msg, WPARAM wp, LPARAM lp) { return ::DefWindowProcW(handle_, msg, wp, lp); }
  // Positions the window for the parent's scroll offsets.
  void PlaceWindow();
  static const wchar_t* RegisterClassOnce(const wchar_t* name, UINT style, HBRUSH background);

  int32_t left_ = 0, top_ = 0, width_ = 0, height_ = 0;
  bool visible_ = true;
  TAlign align_ = alNone;
  TForm* parent_ = nullptr;

 private:
  static LRESULT CALLBACK Thunk(HWND wnd, UINT msg, WPARAM wp, LPARAM lp);
  friend class TForm;
  HWND handle_ = nullptr;
};

// A sizeable top-level window that scrolls its child controls (AutoScroll): the extent is the
// right and bottom edges of its visible, unaligned children; a bar shows when the extent
// exceeds the visible client area, and each position is kept within 0 and extent - visible.
class TForm : public TWinControl {
 public:
  explicit TForm(TComponent* owner);
  ~TForm() override;

  // Builds the window: PrepareWindowParams may change the parameters first.
  void CreateWindowHandle();

  std::string Caption() const;
  void SetCaption(const std::string& caption);
  // A caption with names from the system in it, each part shown from its own code page.
  void SetCaption(const MixedText& caption);
  // Client size as the window reports it now (without the space of showing scroll bars).
  int32_t ClientWidth() const;
  int32_t ClientHeight() const;
  // Changes the outer size by the difference between the wanted and the current client size;
  // the other dimension and the position stay.
  void SetClientWidth(int32_t w);
  void SetClientHeight(int32_t h);
  // Outer bounds of the window.
  void SetBounds(int32_t left, int32_t top, int32_t width, int32_t height) override;
  void RefreshBounds();  // re-reads left/top/width/height from the window

  // A sizing plan: between BeginResize and EndResize the size setters change a planned outer
  // size, and the client sizes read meanwhile are those the window would have at that size
  // (frame, the platform's tracking limits, the scroll bars its extent would need); EndResize
  // resizes the real window once.  Several steps then cost one resize of the window.
  void BeginResize();
  void EndResize();

  int32_t HorzScrollPosition() const { return hpos_; }
  int32_t VertScrollPosition() const { return vpos_; }
  void SetHorzScrollPosition(int32_t pos) { SetScrollPosition(SB_HORZ, pos); }
  void SetVertScrollPosition(int32_t pos) { SetScrollPosition(SB_VERT, pos); }
  int32_t HorzScrollRange() const { return extentW_; }
  int32_t VertScrollRange() const { return extentH_; }
  bool HorzScrollBarVisible() const { return hbar_; }
  bool VertScrollBarVisible() const { return vbar_; }
  bool AutoScroll() const { return autoScroll_; }
  void SetAutoScroll(bool on);

  // Recomputes the extent and the bars after a child moved, resized or changed visibility.
  void ChildBoundsChanged();
  void AddChild(TWinControl* child);
  void RemoveChild(TWinControl* child);
  HFONT Font() const { return font_.get(); }

  void Show();
  // Closes the form; closing the main form ends the program's message loop.
  void Close();
  bool Closed() const { return closed_; }

  TNotifyEvent OnCreate;
  TMouseWheelUpDownEvent OnMouseWheelDown;  // turned towards the user
  TMouseWheelUpDownEvent OnMouseWheelUp;    // turned away from the user
  // A key press (virtual key, shift state); the form's command manager checks shortcuts.
  std::function<bool(WORD key, TShiftState shift)> OnShortCut;
  // Alt+letter: true when a menu took it.
  std::function<bool(wchar_t letter)> OnMenuAccelerator;

  // The units of a wheel turn not yet used up (with sign).
  int WheelAccumulator() const { return wheelAccumulator_; }
  // Turns the wheel by `delta` units: each whole 120 calls the Up or Down event once.
  void DoMouseWheel(int delta, TShiftState shift, TPoint pos);

 protected:
  virtual void PrepareWindowParams(TCreateParams& params);
  LRESULT WndProc(UINT msg, WPARAM wp, LPARAM lp) override;
  void SetFont(const std::wstring& face, int pixels);

 private:
  void UpdateScrollBars();
  // The client size now, or while planning the one the planned outer size gives.
  SIZE ClientSize() const;
  // The scroll bars the extent needs inside a client area of fullW x fullH without bars.
  void NeededBars(int fullW, int fullH, bool& needH, bool& needV) const;
  void LayoutChildren();
  void ScrollMessage(int bar, WORD code);
  void SetScrollPosition(int bar, int32_t pos);

  std::vector<TWinControl*> children_;
  platform::win::Font font_;
  int32_t hpos_ = 0, vpos_ = 0, extentW_ = 0, extentH_ = 0;
  bool hbar_ = false, vbar_ = false, autoScroll_ = true, updating_ = false, closed_ = false;
  int wheelAccumulator_ = 0;
  bool planning_ = false;
  int32_t frameW_ = 0, frameH_ = 0;  // outer minus client without bars, while planning
};

// The primary display's size, and the rectangle of the monitor that holds a window (in virtual
// screen coordinates, which are negative left of and above the primary one); tests may put a
// display of another size at the origin in their place.
struct TScreen {
  static int32_t Width();
  static int32_t Height();
  static RECT MonitorRect(HWND window);
  // The window's resolution in dots per inch (the system's where a system has no per-window
  // one); with no window, the screen's.
  static int Dpi(HWND window);
  static void SetSizeOverride(int32_t width, int32_t height);  // 0, 0 = the real display
  // Tests: the rectangle MonitorRect answers for every window; an empty one = the real monitors.
  static void SetMonitorOverride(const RECT& monitor);
};

#endif
