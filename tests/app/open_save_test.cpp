// Dropped files, the open and save commands, and what saving writes.
#include <memory>

#include "fixture.h"
#include "picture/bitmap.h"
#include "platform/files.h"
#include "toolkit/application.h"

namespace {
std::unique_ptr<TBitmap> LoadBitmap(const std::string& name) {
  auto b = std::make_unique<TBitmap>();
  b->LoadFile(name);
  return b;
}

std::string Head(const std::string& name, size_t n) {
  std::string s(n, '\0');
  FILE* f = std::fopen(name.c_str(), "rb");
  if (!f) return {};
  s.resize(std::fread(&s[0], 1, n, f));
  std::fclose(f);
  return s;
}
}  // namespace

TEST_F(ViewerTest, ADropOpensItsFirstFileOnlyAndIsReleased) {
  ScratchFolder dir;
  WriteBmp(dir.File("one.bmp"), 21, 5);
  WriteBmp(dir.File("two.bmp"), 22, 5);
  WriteBmp(dir.File("three.bmp"), 23, 5);
  TForm1& f = Start();
  HGLOBAL h = Drop({dir.File("one.bmp"), dir.File("two.bmp"), dir.File("three.bmp")});
  EXPECT_EQ(f.Caption(), "Korvale2 - " + dir.File("one.bmp"));
  EXPECT_EQ(f.Image1->Width(), 21);
  EXPECT_EQ(Selected(), "one.bmp");
  EXPECT_EQ(::GlobalFlags(h), static_cast<UINT>(GMEM_INVALID_HANDLE));
}

TEST_F(ViewerTest, AFailedOrEmptyDropIsReleasedToo) {
  ScratchFolder dir;
  FILE* fp = std::fopen(dir.File("bad.bmp").c_str(), "wb");
  std::fputs("BM but nothing else", fp);
  std::fclose(fp);
  TForm1& f = Start();
  HGLOBAL bad = Drop({dir.File("bad.bmp")});
  EXPECT_EQ(::GlobalFlags(bad), static_cast<UINT>(GMEM_INVALID_HANDLE));
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(f.Image1->Width(), 300);  // the start-up picture stays
  HGLOBAL missing = Drop({dir.File("missing.bmp")});
  EXPECT_EQ(::GlobalFlags(missing), static_cast<UINT>(GMEM_INVALID_HANDLE));
  EXPECT_EQ(boxes.size(), 1u);  // a name of no file opens nothing, silently
}

TEST_F(ViewerTest, OpenAndSaveCommandsUseTheirDialogsAndRememberTheName) {
  ScratchFolder dir;
  WriteBmp(dir.File("in.bmp"), 31, 17, 4);
  TForm1& f = Start();
  int asked = 0;
  TFileDialog::SetHook([&](TFileDialog& d) {
    ++asked;
    if (!d.IsSaveDialog()) {
      d.FileName = dir.File("in.bmp");
      return true;
    }
    EXPECT_EQ(d.DefaultExt, "bmp");
    d.FileName = dir.File("out.bmp");
    return true;
  });
  f.Action4->Execute();
  EXPECT_EQ(f.Caption(), "Korvale2 - " + dir.File("in.bmp"));
  f.Action5->Execute();
  EXPECT_EQ(asked, 2);
  EXPECT_EQ(f.SaveDialog1->FileName, dir.File("out.bmp"));
  auto saved = LoadBitmap(dir.File("out.bmp"));
  EXPECT_EQ(saved->Width(), 31);
  EXPECT_EQ(saved->PixelRGB(30, 16), PixelOf(30, 16, 4));
  // A cancelled dialog does nothing.
  TFileDialog::SetHook([](TFileDialog&) { return false; });
  f.Action4->Execute();
  EXPECT_EQ(f.Caption(), "Korvale2 - " + dir.File("in.bmp"));
  EXPECT_EQ(f.OpenDialog1->FileName, dir.File("in.bmp"));
}

TEST_F(ViewerTest, SavingWritesTheOwnSizeAsABitmapWhateverTheName) {
  ScratchFolder dir;
  WriteBmp(dir.File("p.bmp"), 40, 30, 5);
  TForm1& f = Start(dir.File("p.bmp"));
  f.Action2->Execute();
  f.Action2->Execute();
  f.SavePicture(dir.File("zoomed.jpg"));
  EXPECT_EQ(Head(dir.File("zoomed.jpg"), 2), "BM");
  auto saved = LoadBitmap(dir.File("zoomed.jpg"));
  EXPECT_EQ(saved->Width(), 40);
  EXPECT_EQ(saved->Height(), 30);
  EXPECT_EQ(saved->PixelRGB(7, 9), PixelOf(7, 9, 5));
}

TEST_F(ViewerTest, SavingTheStartupPictureWritesItsBmp) {
  ScratchFolder dir;
  TForm1& f = Start();
  f.SavePicture(dir.File("startup.bmp"));
  std::string bytes = Head(dir.File("startup.bmp"), 200000);
  EXPECT_EQ(bytes.size(), 180054u);
  EXPECT_EQ(bytes, Head(KOR_SOURCE_DIR "/tools/images/startup.bmp", 200000));
}

TEST_F(ViewerTest, SavingAnIconWritesWhatIsShownAndKeepsIt) {
  ScratchFolder dir;
  WriteIcon(dir.File("i.ico"), 0x3366CC);
  TForm1& f = Start(dir.File("i.ico"));
  ASSERT_NE(f.Image1->Picture().Graphic(), nullptr);
  ASSERT_STRNE(f.Image1->Picture().Graphic()->ClassName(), "TBitmap");
  EXPECT_EQ(f.Image1->Width(), 16);
  f.SavePicture(dir.File("icon.bmp"));
  auto saved = LoadBitmap(dir.File("icon.bmp"));
  EXPECT_EQ(saved->Width(), 16);
  EXPECT_EQ(saved->Height(), 16);
  EXPECT_EQ(saved->PixelRGB(8, 8), 0x3366CCu);
  // The window still shows the icon.
  EXPECT_STRNE(f.Image1->Picture().Graphic()->ClassName(), "TBitmap");
  EXPECT_FALSE(f.Image1->Picture().Graphic()->IsEmpty());
}

TEST_F(ViewerTest, SavingWhereNoFileCanBeMadeShowsTheFileError) {
  TForm1& f = Start();
  HandleErrors([&] { f.SavePicture("Z:\\no\\such\\folder\\x.bmp"); });
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0].text, "ファイル Z:\\no\\such\\folder\\x.bmp を作成できません.");
  EXPECT_EQ(f.Image1->Width(), 300);
}

TEST_F(ViewerTest, TheFirstArgumentIsOpenedWithQuotesGroupedAndRemoved) {
  ScratchFolder dir("with space");
  WriteBmp(dir.File("q.bmp"), 14, 6);
  WriteBmp(dir.File("second.bmp"), 15, 6);
  TForm1& f = Start("\"" + dir.File("q.bmp") + "\" \"" + dir.File("second.bmp") + "\"");
  EXPECT_EQ(f.Caption(), "Korvale2 - " + dir.File("q.bmp"));
  EXPECT_EQ(f.Image1->Width(), 14);
}
