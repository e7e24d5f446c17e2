// The texts the toolkit composes: titles, error boxes, shortcut names and accelerators.
#include <gtest/gtest.h>

#include "rtl/exceptions.h"
#include "rtl/messages.h"
#include "toolkit/actions.h"
#include "toolkit/application.h"

TEST(ApplicationTitle, IsTheFileNameCutAtItsFirstDotWithTheRestLowerCased) {
  EXPECT_EQ(toolkit::TitleFromExeName("C:\\Program Files\\KORVALE2.EXE"), "Korvale2");
  EXPECT_EQ(toolkit::TitleFromExeName("C:\\a.b\\viewer.backup.exe"), "viewer");
  EXPECT_EQ(toolkit::TitleFromExeName("plain"), "plain");  // the first character stays as it is
  EXPECT_EQ(toolkit::TitleFromExeName("x:\\dir\\kOR.exe"), "kor");
  // A folder whose last byte is a trail 0x5C is not cut there.
  EXPECT_EQ(toolkit::TitleFromExeName("C:\\\x95\x5C\\Abc.exe"), "Abc");
}

TEST(ErrorBox, AppendsADotWhenTheLastCharacterSortsAfterIt) {
  EXPECT_EQ(toolkit::ErrorBoxText("abc"), "abc.");
  EXPECT_EQ(toolkit::ErrorBoxText("abc."), "abc.");
  EXPECT_EQ(toolkit::ErrorBoxText("abc-"), "abc-");  // '-' sorts before '.'
  EXPECT_EQ(toolkit::ErrorBoxText("(1)"), "(1)");    // ')' too
  EXPECT_EQ(toolkit::ErrorBoxText("a/"), "a/.");
  EXPECT_EQ(toolkit::ErrorBoxText(""), "");
  EXPECT_EQ(toolkit::ErrorBoxText("処理できません"), "処理できません.");
}

TEST(ErrorBox, FatalTextNamesClassModuleAndAddressThenTheMessage) {
  const void* at = reinterpret_cast<const void*>(0x00401A2C);
  // The address is written with all the digits of a pointer: 8 in the 32-bit program, 16 in the
  // 64-bit test build.
  const std::string where = sizeof(void*) == 8 ? " の 0000000000401A2C で" : " の 00401A2C で";
  EXPECT_EQ(toolkit::FatalErrorText("ESPIInvalidAPI", "Korvale2.exe", at, "abc"),
            "ESPIInvalidAPI がモジュール Korvale2.exe" + where + "発生しました。\r\nabc.");
  // Unlike the default box: a message ending in a character before '.' gets its dot too,
  // an empty one none.
  EXPECT_EQ(toolkit::FatalErrorText("E", "m.exe", at, "x-"),
            "E がモジュール m.exe" + where + "発生しました。\r\nx-.");
  EXPECT_EQ(toolkit::FatalErrorText("E", "m.exe", at, ""),
            "E がモジュール m.exe" + where + "発生しました。\r\n");
  EXPECT_EQ(toolkit::FatalErrorText("E", "m.exe", at, "done."),
            "E がモジュール m.exe" + where + "発生しました。\r\ndone.");
}

TEST(ErrorBox, DefaultHandlerShowsTheMessageTitledWithTheApplication) {
  std::vector<std::string> seen;
  UINT type = 0;
  toolkit::SetMessageBoxHook([&](const std::string& text, const std::string& caption, UINT t) {
    seen = {text, caption};
    type = t;
    return IDOK;
  });
  HandleErrors([] { throw EInvalidGraphic(msg::kInvalidBitmap); });
  toolkit::SetMessageBoxHook(nullptr);
  ASSERT_EQ(seen.size(), 2u);
  EXPECT_EQ(seen[0], std::string(msg::kInvalidBitmap) + ".");
  EXPECT_EQ(seen[1], "toolkit_tests");
  EXPECT_EQ(type & MB_ICONMASK, static_cast<UINT>(MB_ICONERROR));
}

TEST(ErrorBox, TheSilentAbortShowsNothing) {
  int shown = 0;
  toolkit::SetMessageBoxHook([&](const std::string&, const std::string&, UINT) { return ++shown, IDOK; });
  HandleErrors([] { throw EAbort(""); });
  toolkit::SetMessageBoxHook(nullptr);
  EXPECT_EQ(shown, 0);
}

TEST(ShortCuts, NamesAsMenusShowThem) {
  EXPECT_EQ(ShortCutToText(VK_INSERT), "Ins");
  EXPECT_EQ(ShortCutToText(VK_DELETE), "Del");
  EXPECT_EQ(ShortCutToText(16471), "Ctrl+W");
  EXPECT_EQ(ShortCutToText(16472), "Ctrl+X");
  EXPECT_EQ(ShortCutToText(16474), "Ctrl+Z");
  EXPECT_EQ(ShortCutToText(scShift | scCtrl | VK_F5), "Shift+Ctrl+F5");
  EXPECT_EQ(ShortCutToText(scNone), "");
  EXPECT_EQ(ShortCutOf('W', ssCtrl), 16471);
  EXPECT_EQ(ShortCutOf(VK_INSERT, 0), 45);
  EXPECT_EQ(ShortCutOf('W', ssCtrl | ssShift), scCtrl | scShift | 'W');
}

TEST(ShortCuts, AcceleratorIsTheLetterAfterTheAmpersand) {
  EXPECT_EQ(AcceleratorOf("ファイル(&Z)"), L'Z');
  EXPECT_EQ(AcceleratorOf("拡大（+25%）(&2)"), L'2');
  EXPECT_EQ(AcceleratorOf("help(&x)"), L'X');
  EXPECT_EQ(AcceleratorOf("a&&b"), 0);
  EXPECT_EQ(AcceleratorOf("none"), 0);
  EXPECT_EQ(AcceleratorOf("end&"), 0);
}

TEST(ShortCuts, TheManagerRunsTheCommandWithTheCode) {
  TActionManager manager(nullptr);
  TAction a(nullptr, &manager), b(nullptr, &manager);
  int ran = 0;
  a.ShortCut = VK_INSERT;
  a.OnExecute = [&](TObject*) { ran += 1; };
  b.ShortCut = scCtrl | 'W';
  b.OnExecute = [&](TObject*) { ran += 10; };
  EXPECT_TRUE(manager.IsShortCut(scCtrl | 'W'));
  EXPECT_EQ(ran, 10);
  EXPECT_TRUE(manager.IsShortCut(VK_INSERT));
  EXPECT_EQ(ran, 11);
  EXPECT_FALSE(manager.IsShortCut('W'));
  EXPECT_FALSE(manager.IsShortCut(scNone));
  EXPECT_EQ(ran, 11);
}
