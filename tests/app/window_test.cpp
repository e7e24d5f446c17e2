// The window as built at start: layout, commands, menus, messages and closing.
#include <string>

#include "fixture.h"
#include "picture/bitmap.h"
#include "rtl/messages.h"
#include "toolkit/application.h"
#include "toolkit/wintext.h"

namespace {
std::string MenuText(HMENU menu, int pos) {
  wchar_t buf[256] = {};
  ::GetMenuStringW(menu, static_cast<UINT>(pos), buf, 256, MF_BYPOSITION);
  return toolkit::Narrow(buf);
}
}  // namespace

TEST_F(ViewerTest, StartsAtItsDesignedSizeWithTheStartupPicture) {
  TForm1& f = Start();
  EXPECT_EQ(f.Caption(), "Korvale2");
  EXPECT_EQ(f.ClientWidth(), 300);
  EXPECT_EQ(f.ClientHeight(), 229);
  EXPECT_EQ(f.Left(), 197);
  EXPECT_EQ(f.Top(), 103);
  EXPECT_EQ(f.ActionMainMenuBar1->Height(), 29);
  EXPECT_EQ(f.ActionMainMenuBar1->Top(), 0);
  EXPECT_EQ(f.Image1->Left(), 0);
  EXPECT_EQ(f.Image1->Top(), 29);
  EXPECT_EQ(f.Image1->Width(), 300);
  EXPECT_EQ(f.Image1->Height(), 200);
  ASSERT_NE(f.Image1->Picture().Graphic(), nullptr);
  EXPECT_STREQ(f.Image1->Picture().Graphic()->ClassName(), "TBitmap");
  TBitmap* b = f.Image1->Picture().AsBitmap();
  EXPECT_EQ(b->BitCount(), 24);
  EXPECT_EQ(b->Header().biXPelsPerMeter, 3779);
  EXPECT_TRUE(f.Image1->AutoSize() && f.Image1->Stretch() && f.Image1->Center());
  EXPECT_FALSE(f.HorzScrollBarVisible() || f.VertScrollBarVisible());
  EXPECT_TRUE(::GetWindowLongW(f.Handle(), GWL_EXSTYLE) & WS_EX_ACCEPTFILES);
  EXPECT_TRUE(::IsWindowVisible(f.Handle()));
  EXPECT_TRUE(f.CurrentFolder.empty());
  EXPECT_FALSE(f.Dragging);
  EXPECT_TRUE(boxes.empty());
}

TEST_F(ViewerTest, WithoutPluginsTheMaskIsBmpOnBothDialogs) {
  TForm1& f = Start();
  EXPECT_EQ(f.FileListBox1->Mask(), "*.bmp");
  EXPECT_EQ(f.OpenDialog1->Filter, "画像データ|*.bmp");
  EXPECT_EQ(f.SaveDialog1->Filter, "画像データ|*.bmp");
  EXPECT_EQ(f.SaveDialog1->DefaultExt, "bmp");
  EXPECT_EQ(f.OpenDialog1->FilterIndex, 1);
  EXPECT_EQ(f.SPIs1->Count(), 0);
  EXPECT_FALSE(f.SPIs1->GraphicPreview());
  EXPECT_TRUE(f.SPIs1->SearchOptions() == (TSPISearchOptions{spsSusieDir, spsAppDir}));
}

TEST_F(ViewerTest, CommandsCarryTheirCategoriesCaptionsAndShortcutCodes) {
  TForm1& f = Start();
  struct Expected {
    TAction* action;
    const char* category;
    const char* caption;
    int shortCut;
  } table[] = {
      {f.Action4, "ファイル", "画像の読み込み", 0}, {f.Action5, "ファイル", "画像の書き出し", 0},
      {f.Action7, "ファイル", "終了", 0},           {f.Action1, "操作", "次の画像へ", 45},
      {f.Action6, "操作", "前の画像へ", 46},        {f.Action2, "操作", "拡大（+25%）", 16471},
      {f.Action8, "操作", "縮小（-25%）", 16472},   {f.Action9, "操作", "元の倍率に戻す", 16474},
      {f.Action10, "ヘルプ", "バージョン情報", 0},  {f.Action3, "ヘルプ", "Ubrenko's Pageへ", 0},
  };
  ASSERT_EQ(f.ActionManager1->Actions().size(), 10u);
  for (const Expected& e : table) {
    SCOPED_TRACE(e.caption);
    EXPECT_EQ(e.action->Category, e.category);
    EXPECT_EQ(e.action->Caption, e.caption);
    EXPECT_EQ(e.action->ShortCut, e.shortCut);
    EXPECT_TRUE(static_cast<bool>(e.action->OnExecute));
  }
}

TEST_F(ViewerTest, MenusShowItemsWithAcceleratorsShortcutNamesAndSeparators) {
  TForm1& f = Start();
  TActionMainMenuBar& bar = *f.ActionMainMenuBar1;
  ASSERT_EQ(bar.ItemCount(), 3);
  const std::vector<std::vector<std::string>> expected = {
      {"画像の読み込み(&X)", "画像の書き出し(&Y)", "", "終了(&Z)"},
      {"次の画像へ(&Z)\tIns", "前の画像へ(&Y)\tDel", "", "拡大（+25%）(&2)\tCtrl+W",
       "縮小（-25%）(&5)\tCtrl+X", "元の倍率に戻す(&X)\tCtrl+Z"},
      {"バージョン情報(&Z)", "Ubrenko's Pageへ(&A)"},
  };
  const char* titles[] = {"ファイル(&Z)", "操作(&Y)", "ヘルプ(&X)"};
  for (int m = 0; m < 3; ++m) {
    EXPECT_EQ(f.ActionManager1->ActionBar()[static_cast<size_t>(m)].Caption, titles[m]);
    platform::win::Menu popup = bar.BuildPopup(m);
    ASSERT_EQ(::GetMenuItemCount(popup.get()), static_cast<int>(expected[static_cast<size_t>(m)].size()));
    for (int i = 0; i < ::GetMenuItemCount(popup.get()); ++i) {
      const bool separator =
          (::GetMenuState(popup.get(), static_cast<UINT>(i), MF_BYPOSITION) & MF_SEPARATOR) != 0;
      const std::string& want = expected[static_cast<size_t>(m)][static_cast<size_t>(i)];
      EXPECT_EQ(separator, want.empty()) << m << "/" << i;
      if (!separator) {
        EXPECT_EQ(MenuText(popup.get(), i), want);
      }
    }
  }
  // The three titles sit side by side inside the bar.
  RECT a = bar.ItemRect(0), b = bar.ItemRect(1), c = bar.ItemRect(2);
  EXPECT_LE(a.right, b.left);
  EXPECT_LE(b.right, c.left);
  EXPECT_LE(c.bottom, 29);
}

TEST_F(ViewerTest, VersionMessageComesFromTheVersionResource) {
  TForm1& f = Start();
  f.Action10->Execute();
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0].caption, "情報");
  EXPECT_EQ(boxes[0].type & MB_ICONMASK, static_cast<UINT>(MB_ICONINFORMATION));
  EXPECT_EQ(boxes[0].type & MB_TYPEMASK, static_cast<UINT>(MB_OK));
  EXPECT_EQ(boxes[0].text, "Korvale2 軽い画像ビューワー\r\nバージョン 2.0.2.5");
}

TEST_F(ViewerTest, ErrorsOfACommandReachTheDefaultHandlerAndTheProgramGoesOn) {
  ScratchFolder dir;
  WriteBmp(dir.File("a.bmp"), 10, 10);
  {
    FILE* fp = std::fopen(dir.File("b.xyz").c_str(), "wb");
    std::fputs("not a picture", fp);
    std::fclose(fp);
  }
  TForm1& f = Start("\"" + dir.File("a.bmp") + "\"");
  ASSERT_EQ(f.Image1->Width(), 10);
  // A drop reaches OpenPicture through the window message; its error is shown, not thrown.
  Drop({dir.File("b.xyz")});
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0].caption, "app_tests");
  EXPECT_EQ(boxes[0].caption, Application().Title());
  EXPECT_EQ(boxes[0].type & MB_ICONMASK, static_cast<UINT>(MB_ICONERROR));
  EXPECT_EQ(boxes[0].text, std::string("拡張子 .xyz の画像形式は処理できません") + ".");
  // What a failed open leaves: the previous picture and caption, the new folder.
  EXPECT_EQ(f.Caption(), "Korvale2 - " + dir.File("a.bmp"));
  EXPECT_EQ(f.Image1->Width(), 10);
  EXPECT_TRUE(f.Image1->AutoSize());
  EXPECT_EQ(f.CurrentFolder, dir.Path());
}

TEST_F(ViewerTest, ACommandLinePictureThatFailsLeavesTheWindowSetUp) {
  ScratchFolder dir;
  FILE* fp = std::fopen(dir.File("x.xyz").c_str(), "wb");
  std::fputs("?", fp);
  std::fclose(fp);
  TForm1& f = Start(dir.File("x.xyz"));
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(f.Caption(), "Korvale2");
  EXPECT_EQ(f.OpenDialog1->Filter, "画像データ|*.bmp");
  EXPECT_EQ(f.Image1->Width(), 300);
  EXPECT_TRUE(::IsWindowVisible(f.Handle()));
}

TEST_F(ViewerTest, OnlyALeftDoubleClickOnThePictureCloses) {
  TForm1& f = Start();
  Mouse(WM_RBUTTONDBLCLK, 10, 10);
  Mouse(WM_RBUTTONUP, 10, 10);
  EXPECT_FALSE(f.Closed());
  // A double-click on the menu bar is no double-click on the picture.
  ::SendMessageW(f.ActionMainMenuBar1->Handle(), WM_LBUTTONDBLCLK, 0, MAKELPARAM(250, 10));
  EXPECT_FALSE(f.Closed());
  EXPECT_FALSE(Application().Terminated());
  Mouse(WM_LBUTTONDBLCLK, 10, 10, MK_LBUTTON);
  EXPECT_TRUE(f.Closed());
  EXPECT_TRUE(Application().Terminated());
  EXPECT_FALSE(::IsWindowVisible(f.Handle()));
}

TEST_F(ViewerTest, TheExitCommandCloses) {
  TForm1& f = Start();
  f.Action7->Execute();
  EXPECT_TRUE(f.Closed());
  EXPECT_TRUE(Application().Terminated());
}

TEST_F(ViewerTest, TheStartShowCommandMaximisesOrMinimisesWhenTheLoopStarts) {
  const int original = Application().StartShowCommand();
  struct Case {
    int command;
    bool zoomed, iconic;
  } cases[] = {
      {SW_SHOWMAXIMIZED, true, false}, {SW_SHOWMINNOACTIVE, false, true}, {SW_SHOWNORMAL, false, false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.command);
    TForm1& f = Start();
    EXPECT_FALSE(::IsZoomed(f.Handle()) || ::IsIconic(f.Handle()));  // as designed until the loop runs
    Application().SetStartShowCommand(c.command);
    ::PostMessageW(f.Handle(), WM_CLOSE, 0, 0);
    Application().Run();  // shows as asked, then the posted close ends the loop
    EXPECT_TRUE(f.Closed());
    EXPECT_EQ(::IsZoomed(f.Handle()) != 0, c.zoomed);
    EXPECT_EQ(::IsIconic(f.Handle()) != 0, c.iconic);
    Application().ResetTerminated();
  }
  Application().SetStartShowCommand(original);
}
