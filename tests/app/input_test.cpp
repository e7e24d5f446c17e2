// Keys, the wheel and the mouse as the window receives them: zoom, reset, fitting, panning.
#include "fixture.h"
#include "toolkit/application.h"

namespace {
struct Size {
  int w, h;
  bool operator==(const Size& o) const { return w == o.w && h == o.h; }
};
std::ostream& operator<<(std::ostream& os, const Size& s) { return os << s.w << "x" << s.h; }
Size Shown(TForm1& f) { return {f.Image1->Width(), f.Image1->Height()}; }
}  // namespace

TEST_F(ViewerTest, ZoomKeysCompoundOnTheShownSizeAndResetFits) {
  TForm1& f = Start();
  const int outerW = f.Width(), outerH = f.Height();
  Key('W', true);
  EXPECT_EQ(Shown(f), (Size{400, 266}));
  EXPECT_FALSE(f.Image1->AutoSize());
  Key('W', true);
  EXPECT_EQ(Shown(f), (Size{533, 354}));
  // Zooming alone never resizes the window; the bars follow the extent.
  EXPECT_EQ(f.Width(), outerW);
  EXPECT_EQ(f.Height(), outerH);
  EXPECT_TRUE(f.HorzScrollBarVisible());
  EXPECT_TRUE(f.VertScrollBarVisible());
  EXPECT_EQ(f.HorzScrollRange(), 533);
  EXPECT_EQ(f.VertScrollRange(), 29 + 354);
  Key('Z', true);
  EXPECT_EQ(Shown(f), (Size{300, 200}));
  EXPECT_EQ(f.ClientWidth(), 300);
  EXPECT_EQ(f.ClientHeight(), 229);
  EXPECT_FALSE(f.HorzScrollBarVisible() || f.VertScrollBarVisible());
  EXPECT_FALSE(f.Image1->AutoSize());  // reset leaves the switch as the zoom left it
  Key('X', true);
  EXPECT_EQ(Shown(f), (Size{225, 150}));
  Key('X', true);
  Key('X', true);
  EXPECT_EQ(Shown(f), (Size{126, 84}));
  // Keys without Ctrl are no zoom shortcuts.
  Key('W');
  EXPECT_EQ(Shown(f), (Size{126, 84}));
}

TEST_F(ViewerTest, ZoomTruncatesAndSmallSidesStop) {
  ScratchFolder dir;
  WriteBmp(dir.File("odd.bmp"), 301, 3);
  WriteBmp(dir.File("tiny.bmp"), 1, 2);
  TForm1& f = Start(dir.File("odd.bmp"));
  Key('W', true);
  EXPECT_EQ(Shown(f), (Size{401, 4}));
  Key('X', true);
  EXPECT_EQ(Shown(f), (Size{300, 3}));
  f.OpenPicture(dir.File("tiny.bmp"));
  EXPECT_EQ(Shown(f), (Size{1, 2}));
  Key('W', true);
  EXPECT_EQ(Shown(f), (Size{1, 2}));
  Key('X', true);
  EXPECT_EQ(Shown(f), (Size{0, 1}));
  Key('X', true);
  EXPECT_EQ(Shown(f), (Size{0, 0}));
  Key('W', true);
  EXPECT_EQ(Shown(f), (Size{0, 0}));
  // Opening again returns to the picture's own size.
  f.OpenPicture(dir.File("tiny.bmp"));
  EXPECT_EQ(Shown(f), (Size{1, 2}));
}

TEST_F(ViewerTest, ZoomStopsBelowTheLargestShownSide) {
  ScratchFolder dir;
  WriteBmp(dir.File("tall.bmp"), 4, 20000);
  TForm1& f = Start(dir.File("tall.bmp"));
  Key('W', true);
  EXPECT_EQ(Shown(f), (Size{5, 26666}));
  // 26666 * 4 / 3 = 35554 would pass the limit: the whole step leaves the size as it is.
  Key('W', true);
  EXPECT_EQ(Shown(f), (Size{5, 26666}));
  Key('X', true);
  EXPECT_EQ(Shown(f), (Size{3, 19999}));
}

TEST_F(ViewerTest, FitWindowKeepsTheWindowOnTheScreenWithoutMovingIt) {
  TScreen::SetSizeOverride(1024, 768);
  ScratchFolder dir;
  WriteBmp(dir.File("big.bmp"), 2000, 1500);
  TForm1& f = Start(dir.File("big.bmp"));
  EXPECT_EQ(f.Left(), 197);
  EXPECT_EQ(f.Top(), 103);
  EXPECT_EQ(f.Width(), 1024 - 197);
  EXPECT_EQ(f.Height(), 768 - 103);
  EXPECT_TRUE(f.HorzScrollBarVisible());
  EXPECT_TRUE(f.VertScrollBarVisible());
  EXPECT_EQ(Shown(f), (Size{2000, 1500}));
}

TEST_F(ViewerTest, FitWindowSetsTheClientAreaToThePicturePlusTheMenuBar) {
  ScratchFolder dir;
  WriteBmp(dir.File("p.bmp"), 420, 310);
  TForm1& f = Start(dir.File("p.bmp"));
  EXPECT_EQ(f.ClientWidth(), 420);
  EXPECT_EQ(f.ClientHeight(), 310 + 29);
  EXPECT_EQ(f.Left(), 197);
  EXPECT_FALSE(f.HorzScrollBarVisible() || f.VertScrollBarVisible());
}

// The window on a monitor right of the primary one, and on one left of it (negative
// coordinates): fitting grows it to that monitor's edges, not the primary screen's.  The
// monitors are smaller than the display, which bounds a window's size.
TEST_F(ViewerTest, FitWindowMeasuresAgainstTheMonitorThatHoldsTheWindow) {
  TScreen::SetSizeOverride(1024, 768);
  ScratchFolder dir;
  WriteBmp(dir.File("big.bmp"), 2000, 1500);
  TForm1& f = Start(dir.File("big.bmp"));
  const struct {
    RECT monitor;
    int32_t left;
  } cases[] = {{{1024, 0, 1824, 600}, 1100}, {{-800, -100, 0, 500}, -700}};
  for (const auto& c : cases) {
    TScreen::SetMonitorOverride(c.monitor);
    f.SetBounds(c.left, 103, 308, 256);
    f.Action9Execute(nullptr);  // Ctrl+Z: own size, fitted again
    Pump();
    EXPECT_EQ(f.Left(), c.left);
    EXPECT_EQ(f.Width(), c.monitor.right - c.left);
    EXPECT_EQ(f.Height(), c.monitor.bottom - 103);
  }
}

TEST_F(ViewerTest, DraggingScrollsAndThePictureFollowsThePointer) {
  TScreen::SetSizeOverride(1024, 768);
  ScratchFolder dir;
  WriteBmp(dir.File("big.bmp"), 2000, 1500);
  TForm1& f = Start(dir.File("big.bmp"));
  Mouse(WM_LBUTTONDOWN, 100, 100, MK_LBUTTON);
  EXPECT_TRUE(f.Dragging);
  EXPECT_EQ(::GetCapture(), f.Image1->Handle());
  // 10 up and 5 to the left.
  Mouse(WM_MOUSEMOVE, 95, 90, MK_LBUTTON);
  EXPECT_EQ(f.VertScrollPosition(), 10);
  EXPECT_EQ(f.HorzScrollPosition(), 5);
  // The picture control moved with the content.
  RECT r;
  ::GetWindowRect(f.Image1->Handle(), &r);
  POINT origin{0, 0};
  ::ClientToScreen(f.Handle(), &origin);
  EXPECT_EQ(r.left - origin.x, -5);
  EXPECT_EQ(r.top - origin.y, 29 - 10);
  // Far past the end: held at the bounds.
  Mouse(WM_MOUSEMOVE, -5000, -5000, MK_LBUTTON);
  const int maxV = f.VertScrollRange() - f.ClientHeight(), maxH = f.HorzScrollRange() - f.ClientWidth();
  EXPECT_EQ(f.VertScrollPosition(), maxV);
  EXPECT_EQ(f.HorzScrollPosition(), maxH);
  EXPECT_GT(maxV, 0);
  Mouse(WM_MOUSEMOVE, 5000, 5000, MK_LBUTTON);
  EXPECT_EQ(f.VertScrollPosition(), 0);
  EXPECT_EQ(f.HorzScrollPosition(), 0);
  Mouse(WM_LBUTTONUP, 0, 0);
  EXPECT_FALSE(f.Dragging);
  EXPECT_EQ(::GetCapture(), nullptr);
  Mouse(WM_MOUSEMOVE, 50, 50);
  EXPECT_EQ(f.VertScrollPosition(), 0);
}

TEST_F(ViewerTest, RightButtonDragsWithoutCapture) {
  TScreen::SetSizeOverride(1024, 768);
  ScratchFolder dir;
  WriteBmp(dir.File("big.bmp"), 2000, 1500);
  TForm1& f = Start(dir.File("big.bmp"));
  Mouse(WM_RBUTTONDOWN, 200, 200, MK_RBUTTON);
  EXPECT_TRUE(f.Dragging);
  EXPECT_EQ(::GetCapture(), nullptr);
  Mouse(WM_MOUSEMOVE, 180, 170, MK_RBUTTON);
  EXPECT_EQ(f.VertScrollPosition(), 30);
  EXPECT_EQ(f.HorzScrollPosition(), 20);
  Mouse(WM_RBUTTONUP, 180, 170);
  EXPECT_FALSE(f.Dragging);
}

TEST_F(ViewerTest, DraggingAWhollyVisiblePictureChangesNothing) {
  TForm1& f = Start();
  Mouse(WM_LBUTTONDOWN, 100, 100, MK_LBUTTON);
  Mouse(WM_MOUSEMOVE, 10, 10, MK_LBUTTON);
  EXPECT_EQ(f.VertScrollPosition(), 0);
  EXPECT_EQ(f.HorzScrollPosition(), 0);
  Mouse(WM_LBUTTONUP, 10, 10);
}

TEST_F(ViewerTest, ShrinkingPullsAScrollPositionBackIntoBounds) {
  TScreen::SetSizeOverride(1024, 768);
  ScratchFolder dir;
  WriteBmp(dir.File("big.bmp"), 2000, 1500);
  TForm1& f = Start(dir.File("big.bmp"));
  f.SetVertScrollPosition(100000);
  f.SetHorzScrollPosition(100000);
  EXPECT_EQ(f.HorzScrollPosition(), f.HorzScrollRange() - f.ClientWidth());
  for (int i = 0; i < 4; ++i) Key('X', true);
  EXPECT_EQ(Shown(f), (Size{632, 474}));
  EXPECT_FALSE(f.HorzScrollBarVisible() || f.VertScrollBarVisible());
  EXPECT_EQ(f.HorzScrollPosition(), 0);
  EXPECT_EQ(f.VertScrollPosition(), 0);
}
