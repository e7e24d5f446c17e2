// Stepping through a folder with the keys and the wheel, over real folders.
#include <cstdio>

#include "fixture.h"
#include "platform/files.h"
#include "rtl/messages.h"

namespace {
// A folder with a.bmp, b.bmp and c.bmp, each of its own width.
struct AbcFolder {
  ScratchFolder dir;
  AbcFolder() {
    WriteBmp(dir.File("a.bmp"), 11, 7, 1);
    WriteBmp(dir.File("b.bmp"), 12, 7, 2);
    WriteBmp(dir.File("c.bmp"), 13, 7, 3);
  }
};
}  // namespace

TEST_F(ViewerTest, OpeningSelectsTheEntryAndRemembersTheFolder) {
  AbcFolder abc;
  TForm1& f = Start(abc.dir.File("b.bmp"));
  EXPECT_EQ(f.Caption(), "Korvale2 - " + abc.dir.File("b.bmp"));
  EXPECT_EQ(f.CurrentFolder, abc.dir.Path());
  EXPECT_EQ(f.FileListBox1->Count(), 3);
  EXPECT_EQ(Selected(), "b.bmp");
  EXPECT_EQ(f.Image1->Width(), 12);
}

TEST_F(ViewerTest, InsertAndDeleteWrapAroundBothWays) {
  AbcFolder abc;
  TForm1& f = Start(abc.dir.File("b.bmp"));
  Key(VK_INSERT);
  EXPECT_EQ(Selected(), "c.bmp");
  EXPECT_EQ(f.Caption(), "Korvale2 - " + abc.dir.File("c.bmp"));
  EXPECT_EQ(f.Image1->Width(), 13);
  Key(VK_INSERT);
  EXPECT_EQ(Selected(), "a.bmp");
  EXPECT_EQ(f.Image1->Width(), 11);
  Key(VK_DELETE);
  EXPECT_EQ(Selected(), "c.bmp");
  Key(VK_DELETE);
  Key(VK_DELETE);
  EXPECT_EQ(Selected(), "a.bmp");
  EXPECT_EQ(f.Caption(), "Korvale2 - " + abc.dir.File("a.bmp"));
  EXPECT_TRUE(boxes.empty());
}

TEST_F(ViewerTest, TheWheelStepsOncePerWholeNotchAndKeepsTheRest) {
  AbcFolder abc;
  TForm1& f = Start(abc.dir.File("a.bmp"));
  Wheel(-120);  // towards the user: forwards
  EXPECT_EQ(Selected(), "b.bmp");
  Wheel(-240);
  EXPECT_EQ(Selected(), "a.bmp");
  Wheel(-360);
  EXPECT_EQ(Selected(), "a.bmp");
  EXPECT_EQ(f.Caption(), "Korvale2 - " + abc.dir.File("a.bmp"));
  Wheel(120);  // away: backwards
  EXPECT_EQ(Selected(), "c.bmp");
  Wheel(-60);
  EXPECT_EQ(Selected(), "c.bmp");
  EXPECT_EQ(f.WheelAccumulator(), -60);
  Wheel(-60);
  EXPECT_EQ(Selected(), "a.bmp");
  EXPECT_EQ(f.WheelAccumulator(), 0);
  // A remainder keeps its sign: +90 then -30 is +60, no step.
  Wheel(90);
  Wheel(-30);
  EXPECT_EQ(Selected(), "a.bmp");
  EXPECT_EQ(f.WheelAccumulator(), 60);
  Wheel(-200);  // -140: one step forwards, -20 kept
  EXPECT_EQ(Selected(), "b.bmp");
  EXPECT_EQ(f.WheelAccumulator(), -20);
}

TEST_F(ViewerTest, OneEntryOpensItselfBothWays) {
  ScratchFolder dir;
  WriteBmp(dir.File("only.bmp"), 9, 9);
  TForm1& f = Start(dir.File("only.bmp"));
  Key(VK_INSERT);
  EXPECT_EQ(Selected(), "only.bmp");
  Key(VK_DELETE);
  EXPECT_EQ(Selected(), "only.bmp");
  EXPECT_EQ(f.Caption(), "Korvale2 - " + dir.File("only.bmp"));
}

TEST_F(ViewerTest, AnEmptyListReportsItsIndexError) {
  ScratchFolder dir;
  ASSERT_TRUE(platform::SetCurrentDir(dir.Path()));
  TForm1& f = Start();
  ASSERT_EQ(f.FileListBox1->Count(), 0);
  Key(VK_INSERT);
  Key(VK_DELETE);
  ASSERT_EQ(boxes.size(), 2u);
  EXPECT_EQ(boxes[0].text, "リストのインデックスが範囲を超えています (-1)");
  EXPECT_EQ(boxes[1].text, boxes[0].text);
  EXPECT_EQ(f.Caption(), "Korvale2");
}

TEST_F(ViewerTest, ARemovedFileOpensNothingAndTheNextStepGoesOn) {
  AbcFolder abc;
  TForm1& f = Start(abc.dir.File("a.bmp"));
  // The neighbours are read once the window is painted; the file goes after that reading.
  f.Preparer()->WaitIdle();
  ASSERT_TRUE(::DeleteFileA(abc.dir.File("b.bmp").c_str()));
  Key(VK_INSERT);
  EXPECT_EQ(Selected(), "b.bmp");  // the selection moved, nothing opened
  EXPECT_EQ(f.Caption(), "Korvale2 - " + abc.dir.File("a.bmp"));
  EXPECT_TRUE(boxes.empty());
  Key(VK_INSERT);
  EXPECT_EQ(Selected(), "c.bmp");
  EXPECT_EQ(f.Caption(), "Korvale2 - " + abc.dir.File("c.bmp"));
}

TEST_F(ViewerTest, ANameDifferingInCaseSelectsNothingAndNextStartsAtTheFirst) {
  AbcFolder abc;
  TForm1& f = Start(abc.dir.File("B.BMP"));
  EXPECT_EQ(f.Caption(), "Korvale2 - " + abc.dir.File("B.BMP"));
  EXPECT_EQ(f.FileListBox1->ItemIndex(), -1);
  Key(VK_INSERT);
  EXPECT_EQ(Selected(), "a.bmp");
}

TEST_F(ViewerTest, AFileListedTwiceIsOneStepEitherWay) {
  AbcFolder abc;
  TForm1& f = Start(abc.dir.File("a.bmp"));
  // Both patterns match b.bmp: it is listed twice, side by side.
  f.FileListBox1->SetMask("*.bmp;b*");
  f.OpenPicture(abc.dir.File("a.bmp"));
  ASSERT_EQ(f.FileListBox1->Count(), 4);
  std::vector<std::string> seen;
  for (int i = 0; i < 4; ++i) {
    Key(VK_INSERT);
    seen.push_back(Selected() + "@" + std::to_string(f.FileListBox1->ItemIndex()));
  }
  // The second copy is passed over: no step shows the same file again.
  EXPECT_EQ(seen, (std::vector<std::string>{"b.bmp@1", "c.bmp@3", "a.bmp@0", "b.bmp@1"}));
  std::vector<std::string> back;
  for (int i = 0; i < 4; ++i) {
    Key(VK_DELETE);
    back.push_back(Selected() + "@" + std::to_string(f.FileListBox1->ItemIndex()));
  }
  EXPECT_EQ(back, (std::vector<std::string>{"a.bmp@0", "c.bmp@3", "b.bmp@2", "a.bmp@0"}));
  EXPECT_EQ(f.Caption(), "Korvale2 - " + abc.dir.File("a.bmp"));
}

TEST_F(ViewerTest, ARelativeFolderFromTheCommandLineStillSteps) {
  AbcFolder abc;
  std::string parent = abc.dir.Path();
  parent.pop_back();
  const size_t cut = parent.rfind('\\');
  const std::string leaf = parent.substr(cut + 1);
  ASSERT_TRUE(platform::SetCurrentDir(parent.substr(0, cut)));
  TForm1& f = Start(leaf + "\\b.bmp");
  EXPECT_EQ(f.Caption(), "Korvale2 - " + leaf + "\\b.bmp");
  EXPECT_EQ(f.CurrentFolder, abc.dir.Path());
  Key(VK_INSERT);
  EXPECT_EQ(f.Caption(), "Korvale2 - " + abc.dir.File("c.bmp"));
  Key(VK_INSERT);
  EXPECT_EQ(f.Caption(), "Korvale2 - " + abc.dir.File("a.bmp"));
}

TEST_F(ViewerTest, AFolderWhoseTrailByteIsABackslashStaysWhole) {
  // "表" is 0x95 0x5C in Shift-JIS: its second byte is the path separator's code.
  ScratchFolder dir(
      "\x95\x5C"
      "dir");
  WriteBmp(dir.File("x.bmp"), 8, 8, 1);
  WriteBmp(dir.File("y.bmp"), 9, 8, 2);
  ASSERT_TRUE(platform::FileExists(dir.File("x.bmp")));
  TForm1& f = Start("\"" + dir.File("x.bmp") + "\"");
  EXPECT_EQ(f.CurrentFolder, dir.Path());
  EXPECT_EQ(Selected(), "x.bmp");
  Key(VK_INSERT);
  EXPECT_EQ(f.Caption(), "Korvale2 - " + dir.File("y.bmp"));
  EXPECT_EQ(f.Image1->Width(), 9);
}

TEST_F(ViewerTest, AnotherFileOfTheSameFolderKeepsTheList) {
  AbcFolder abc;
  TForm1& f = Start(abc.dir.File("a.bmp"));
  WriteBmp(abc.dir.File("b2.bmp"), 5, 5);  // added after the folder was read
  f.OpenPicture(abc.dir.File("c.bmp"));
  EXPECT_EQ(f.FileListBox1->Count(), 3);
  EXPECT_EQ(Selected(), "c.bmp");
  // Opening the added file keeps the selection: it is not listed.
  f.OpenPicture(abc.dir.File("b2.bmp"));
  EXPECT_EQ(Selected(), "c.bmp");
  EXPECT_EQ(f.Image1->Width(), 5);
}

TEST_F(ViewerTest, PreparedNeighboursShowTheirFileAsItIsAndFailWhenSteppedOnto) {
  AbcFolder abc;
  TForm1& f = Start(abc.dir.File("a.bmp"));
  // Both neighbours of a.bmp are prepared: b.bmp (forward) and c.bmp (the other side).
  f.Preparer()->WaitIdle();
  EXPECT_TRUE(f.Preparer()->Holds(abc.dir.File("b.bmp")));
  EXPECT_TRUE(f.Preparer()->Holds(abc.dir.File("c.bmp")));
  // b.bmp changes on disk after it was prepared: the step shows the file as it is now.
  WriteBmp(abc.dir.File("b.bmp"), 21, 5, 4);
  Key(VK_INSERT);
  EXPECT_EQ(Selected(), "b.bmp");
  EXPECT_EQ(f.Image1->Width(), 21);
  // After a step back, the next one back is prepared first; a file broken meanwhile is
  // reported when it is stepped onto, not before, and the picture shown stays.
  Key(VK_DELETE);
  EXPECT_EQ(f.Image1->Width(), 11);
  f.Preparer()->WaitIdle();
  EXPECT_TRUE(f.Preparer()->Holds(abc.dir.File("c.bmp")));
  {
    std::FILE* broken = std::fopen(abc.dir.File("b.bmp").c_str(), "wb");
    ASSERT_NE(broken, nullptr);
    std::fputs("BM but nothing a bitmap is made of", broken);
    std::fclose(broken);
  }
  f.Preparer()->Prepare({abc.dir.File("b.bmp")});
  f.Preparer()->WaitIdle();
  EXPECT_TRUE(boxes.empty());
  Key(VK_INSERT);
  EXPECT_EQ(Selected(), "b.bmp");
  EXPECT_EQ(boxes.size(), 1u);
  EXPECT_EQ(f.Image1->Width(), 11);
  EXPECT_EQ(f.Caption(), "Korvale2 - " + abc.dir.File("a.bmp"));
}
