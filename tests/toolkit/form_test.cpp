// The scrolling form, the picture control and a load's wait on a real window (needs $DISPLAY).
#include <gtest/gtest.h>

#include <cstdlib>

#include "picture/bitmap.h"
#include "rtl/exceptions.h"
#include "rtl/streams.h"
#include "toolkit/application.h"
#include "toolkit/busy_wait.h"
#include "toolkit/image.h"

namespace {
class PlainForm : public TForm {
 public:
  PlainForm() : TForm(nullptr) {
    left_ = 50;
    top_ = 50;
    width_ = 308;
    height_ = 256;
    CreateWindowHandle();
    Show();
  }
  using TForm::SetFont;
};

// A w x h 24-bit bitmap, built from its BMP file image.
std::unique_ptr<TBitmap> MakeBitmap(int w, int h) {
  const uint32_t row = (static_cast<uint32_t>(w) * 3 + 3) & ~3u, size = row * static_cast<uint32_t>(h);
  TMemoryStream s;
  platform::BitmapFileHeader fh{0x4D42, 54 + size, 0, 0, 54};
  platform::BitmapInfoHeader ih{40, w, h, 1, 24, 0, size, 0, 0, 0, 0};
  s.WriteBuffer(&fh, sizeof fh);
  s.WriteBuffer(&ih, sizeof ih);
  std::string pixels(size, '\x40');
  s.WriteBuffer(pixels.data(), size);
  s.SetPosition(0);
  auto b = std::make_unique<TBitmap>();
  b->LoadStream(s);
  return b;
}

class FormTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!std::getenv("DISPLAY")) GTEST_SKIP() << "no display";
    form = std::make_unique<PlainForm>();
    image = new TImage(form.get());
    image->SetBounds(0, 29, 100, 50);
  }
  std::unique_ptr<PlainForm> form;
  TImage* image = nullptr;
};
}  // namespace

TEST_F(FormTest, ClientSettersChangeTheOuterSizeByTheDifference) {
  const int frameW = form->Width() - form->ClientWidth(), frameH = form->Height() - form->ClientHeight();
  form->SetClientWidth(500);
  EXPECT_EQ(form->ClientWidth(), 500);
  EXPECT_EQ(form->Width(), 500 + frameW);
  form->SetClientHeight(321);
  EXPECT_EQ(form->ClientHeight(), 321);
  EXPECT_EQ(form->Height(), 321 + frameH);
  EXPECT_EQ(form->Left(), 50);
  EXPECT_EQ(form->Top(), 50);
  // Larger than the screen: the platform holds the window to its largest tracking size.
  form->SetClientWidth(3000);
  EXPECT_LE(form->Width(), ::GetSystemMetrics(SM_CXMAXTRACK));
  EXPECT_GT(form->Width(), 500 + frameW);
}

TEST_F(FormTest, TheExtentFollowsVisibleChildrenAndTheBarsShowOnlyWhenNeeded) {
  EXPECT_FALSE(form->HorzScrollBarVisible() || form->VertScrollBarVisible());
  image->SetBounds(0, 29, 1000, 50);
  EXPECT_TRUE(form->HorzScrollBarVisible());
  EXPECT_FALSE(form->VertScrollBarVisible());
  EXPECT_EQ(form->HorzScrollRange(), 1000);
  image->SetBounds(0, 29, 100, 1000);
  EXPECT_FALSE(form->HorzScrollBarVisible());
  EXPECT_TRUE(form->VertScrollBarVisible());
  EXPECT_EQ(form->VertScrollRange(), 1029);
  image->SetVisible(false);
  EXPECT_FALSE(form->VertScrollBarVisible());
  image->SetVisible(true);
  // Just too wide for the client area once the vertical bar takes its room: both bars.
  ASSERT_TRUE(form->VertScrollBarVisible());
  image->SetBounds(0, 29, form->ClientWidth() + ::GetSystemMetrics(SM_CXVSCROLL) - 2, 1000);
  EXPECT_TRUE(form->VertScrollBarVisible());
  EXPECT_TRUE(form->HorzScrollBarVisible());
}

TEST_F(FormTest, PositionsStayWithinZeroAndExtentMinusVisible) {
  image->SetBounds(0, 29, 1000, 800);
  form->SetHorzScrollPosition(-5);
  EXPECT_EQ(form->HorzScrollPosition(), 0);
  form->SetHorzScrollPosition(100000);
  EXPECT_EQ(form->HorzScrollPosition(), 1000 - form->ClientWidth());
  form->SetVertScrollPosition(40);
  EXPECT_EQ(form->VertScrollPosition(), 40);
  // The child moved by what the position changed.
  RECT r;
  ::GetWindowRect(image->Handle(), &r);
  POINT o{0, 0};
  ::ClientToScreen(form->Handle(), &o);
  EXPECT_EQ(r.top - o.y, 29 - 40);
  // Shrinking the child pulls the position back.
  image->SetBounds(0, 29, 1000, 100);
  EXPECT_EQ(form->VertScrollPosition(), 0);
  EXPECT_EQ(form->HorzScrollPosition(), 1000 - form->ClientWidth());
}

TEST_F(FormTest, TheWheelCountsWholeNotchesAndKeepsTheSignedRemainder) {
  int down = 0, up = 0;
  form->OnMouseWheelDown = [&](TObject*, TShiftState, TPoint, bool&) { ++down; };
  form->OnMouseWheelUp = [&](TObject*, TShiftState, TPoint, bool&) { ++up; };
  auto wheel = [&](int delta) {
    ::SendMessageW(form->Handle(), WM_MOUSEWHEEL, MAKEWPARAM(0, static_cast<WORD>(static_cast<short>(delta))),
                   0);
  };
  wheel(-360);
  EXPECT_EQ(down, 3);
  wheel(60);
  EXPECT_EQ(up, 0);
  wheel(60);
  EXPECT_EQ(up, 1);
  wheel(-100);
  wheel(-19);
  EXPECT_EQ(down, 3);
  EXPECT_EQ(form->WheelAccumulator(), -119);
  wheel(-1);
  EXPECT_EQ(down, 4);
  EXPECT_EQ(form->WheelAccumulator(), 0);
}

TEST_F(FormTest, AutoSizeTakesThePictureSizeAndStretchFillsTheControl) {
  image->SetAutoSize(true);
  image->Picture().SetGraphic(MakeBitmap(64, 48).get());
  EXPECT_EQ(image->Width(), 64);
  EXPECT_EQ(image->Height(), 48);
  image->SetAutoSize(false);
  image->Picture().SetGraphic(MakeBitmap(10, 12).get());
  EXPECT_EQ(image->Width(), 64);
  image->SetCenter(true);
  EXPECT_EQ(image->DestRect(), (TRect{27, 18, 37, 30}));
  image->SetStretch(true);
  EXPECT_EQ(image->DestRect(), (TRect{0, 0, 64, 48}));
  image->SetAutoSize(true);
  EXPECT_EQ(image->Width(), 10);
}

TEST_F(FormTest, OnlyTheLeftButtonCapturesTheMouse) {
  int downs = 0, ups = 0;
  image->OnMouseDown = [&](TObject*, TMouseButton, TShiftState, int, int) { ++downs; };
  image->OnMouseUp = [&](TObject*, TMouseButton, TShiftState, int, int) { ++ups; };
  ::SendMessageW(image->Handle(), WM_RBUTTONDOWN, MK_RBUTTON, MAKELPARAM(5, 5));
  EXPECT_EQ(::GetCapture(), nullptr);
  ::SendMessageW(image->Handle(), WM_RBUTTONUP, 0, MAKELPARAM(5, 5));
  ::SendMessageW(image->Handle(), WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(5, 5));
  EXPECT_EQ(::GetCapture(), image->Handle());
  ::SendMessageW(image->Handle(), WM_LBUTTONUP, 0, MAKELPARAM(5, 5));
  EXPECT_EQ(::GetCapture(), nullptr);
  EXPECT_EQ(downs, 2);
  EXPECT_EQ(ups, 2);
}

TEST_F(FormTest, AnErrorInAHandlerGoesToTheDefaultHandler) {
  std::string text;
  toolkit::SetMessageBoxHook([&](const std::string& t, const std::string&, UINT) { return text = t, IDOK; });
  image->OnDblClick = [](TObject*) { throw Exception("boom"); };
  ::SendMessageW(image->Handle(), WM_LBUTTONDBLCLK, MK_LBUTTON, MAKELPARAM(1, 1));
  toolkit::SetMessageBoxHook(nullptr);
  ::ReleaseCapture();
  EXPECT_EQ(text, "boom.");
  EXPECT_TRUE(::IsWindow(form->Handle()));
}

TEST_F(FormTest, ALoadThatTakesAWhileShowsTheBusyCursorKeepsKeysForLaterAndEscapeAbandonsIt) {
  const HCURSOR arrow = ::LoadCursor(nullptr, IDC_ARROW), busy = ::LoadCursor(nullptr, IDC_WAIT);
  ::SetCursor(arrow);
  bool shown = false;
  {
    toolkit::TLoadWait wait(shown);
    ::Sleep(toolkit::TLoadWait::kBusyAfterMs + 50);
    // The window's messages are handled and the load goes on; keys and the wheel wait, in
    // order, for the load to end.
    ::PostMessageW(form->Handle(), WM_KEYDOWN, VK_INSERT, 0);
    ::PostMessageW(form->Handle(), WM_MOUSEWHEEL, MAKEWPARAM(0, -WHEEL_DELTA), 0);
    EXPECT_TRUE(wait());
    EXPECT_TRUE(shown);
    EXPECT_EQ(::GetCursor(), busy);
    MSG msg;
    ASSERT_TRUE(::PeekMessageW(&msg, form->Handle(), WM_KEYFIRST, WM_MOUSELAST, PM_REMOVE));
    EXPECT_EQ(msg.message, static_cast<UINT>(WM_KEYDOWN));
    EXPECT_EQ(msg.wParam, static_cast<WPARAM>(VK_INSERT));
    ASSERT_TRUE(::PeekMessageW(&msg, form->Handle(), WM_KEYFIRST, WM_MOUSELAST, PM_REMOVE));
    EXPECT_EQ(msg.message, static_cast<UINT>(WM_MOUSEWHEEL));
    // Escape, the next key, abandons it.
    ::PostMessageW(form->Handle(), WM_KEYDOWN, VK_ESCAPE, 0);
    EXPECT_FALSE(wait());
  }
  EXPECT_FALSE(shown);
  EXPECT_EQ(::GetCursor(), arrow);
}
