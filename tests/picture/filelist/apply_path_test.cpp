// Typed paths (ApplyPath, SplitPath) and the folder data the viewer's next and previous
// commands walk.
#include "folder_fixture.h"
#include "platform/files.h"
#include "rtl/exceptions.h"
#include "rtl/format.h"
#include "rtl/messages.h"
#include "rtl/text.h"

namespace {

// "表" is 0x95 0x5C in Shift-JIS: its trail byte is the backslash.
const std::string kHyo = "表";

class FileListApplyPath : public FolderFixture {
 protected:
  void Watch(TFileListBox& list) {
    list.OnChange = [this](TObject*) { ++changes; };
  }
  int changes = 0;
};

TEST_F(FileListApplyPath, AFolderWithItsSeparatorIsReadOnce) {
  const std::string pics = MakeFiles("", {"b.bmp", "a.bmp"});
  TFileListBox list(nullptr);
  Watch(list);
  list.SetMask("*.bmp");
  list.ApplyPath(pics + "\\");
  EXPECT_EQ(list.Folder(), pics);
  EXPECT_EQ(Entries(list), (Names{"a.bmp", "b.bmp"}));
  EXPECT_EQ(changes, 1);
  list.SetItemIndex(1);
  list.ApplyPath(pics + "\\");
#ifdef _WIN32
  list.ApplyPath(text::UpperCaseAscii(pics) + "\\");  // the same folder in other letters
#endif
  EXPECT_EQ(changes, 1);
  EXPECT_EQ(list.ItemIndex(), 1);
  EXPECT_EQ(list.Folder(), pics);
}

TEST_F(FileListApplyPath, TheRootFolder) {
  const std::string root = Path().substr(0, Path().find('\\') + 1);
  TFileListBox list(nullptr);
  list.ApplyPath(root);
  EXPECT_EQ(list.Folder(), root);
  EXPECT_EQ(platform::GetCurrentDir(), root);
}

TEST_F(FileListApplyPath, AMaskPartSetsTheMask) {
  MakeFiles("", {"a.jpg", "b.bmp"});
  TFileListBox list(nullptr);
  list.ApplyPath(Path("*.jpg"));
  EXPECT_EQ(list.Folder(), Path());
  EXPECT_EQ(list.Mask(), "*.jpg");
  EXPECT_EQ(Entries(list), (Names{"a.jpg"}));
}

TEST_F(FileListApplyPath, AFileSelectsItsEntry) {
  MakeFiles("", {"a.jpg", "b.bmp", "c.bmp"});
  TFileListBox list(nullptr);
  list.SetMask("*.bmp");
#ifdef _WIN32
  list.ApplyPath(Path("C.BMP"));  // the file system finds it in other letters too
#else
  list.ApplyPath(Path("c.bmp"));
#endif
  EXPECT_EQ(list.Mask(), "*.bmp");
  EXPECT_EQ(list.FileName(), "c.bmp");
  EXPECT_EQ(list.FilePath(), Path("c.bmp"));
  list.ApplyPath(Path("c.bmp"));  // equal to FilePath: nothing happens
  EXPECT_EQ(list.ItemIndex(), 1);
}

TEST_F(FileListApplyPath, AFileTheMaskHidesBecomesTheMask) {
  MakeFiles("", {"a.jpg", "b.bmp"});
  TFileListBox list(nullptr);
  list.SetMask("*.bmp");
  list.ApplyPath(Path("a.jpg"));
  EXPECT_EQ(list.Mask(), "a.jpg");
  EXPECT_EQ(Entries(list), (Names{"a.jpg"}));
  EXPECT_EQ(list.ItemIndex(), 0);
}

TEST_F(FileListApplyPath, AnEmptyTextChangesNothing) {
  MakeDir("sub");
  TFileListBox list(nullptr);
  Watch(list);
  list.SetFolder(Path("sub"));
  ASSERT_EQ(list.Count(), 0);
  list.ApplyPath("");
  EXPECT_EQ(list.Folder(), Path("sub"));
  EXPECT_EQ(changes, 1);
}

TEST_F(FileListApplyPath, AMissingFolderRaisesAndKeepsFolderEntriesAndCurrentDirectory) {
  const std::string pics = MakeFiles("", {"a.bmp"});
  TFileListBox list(nullptr);
  list.ApplyPath(pics + "\\");
  ASSERT_EQ(list.Count(), 1);
  list.SetItemIndex(0);
  try {
    list.ApplyPath(Path("missing") + "\\");
    ADD_FAILURE() << "no exception";
  } catch (const EInOutError& e) {
    EXPECT_EQ(e.ErrorCode(), 2);
    EXPECT_EQ(e.Message(), msg::kFileNotFound);
  }
  EXPECT_EQ(list.Folder(), pics);
  EXPECT_EQ(Entries(list), (Names{"a.bmp"}));
  EXPECT_EQ(list.ItemIndex(), 0);
  EXPECT_EQ(platform::GetCurrentDir(), pics);
  // A name that is neither a file nor a folder is taken for a folder too.
  EXPECT_THROW(list.ApplyPath(Path("nothing.bmp")), EInOutError);
  EXPECT_EQ(list.Folder(), pics);
}

TEST_F(FileListApplyPath, FolderEntriesAndRelativeNamesLeadToSubFolders) {
  MakeDir("sub");
  MakeFiles("sub", {"x.bmp"});
  MakeDir("sub\\deeper");
  TFileListBox list(nullptr);
  list.SetFileType({ftNormal, ftDirectory});
  list.ApplyPath(Path() + "\\");
  ASSERT_EQ(Entries(list), (Names{"[sub]"}));
  list.ApplyPath("[sub]");  // an entry as the list shows it, relative to the current folder
  EXPECT_EQ(list.Folder(), Path("sub"));
  EXPECT_EQ(Entries(list), (Names{"[deeper]", "x.bmp"}));
  list.ApplyPath("deeper");
  EXPECT_EQ(list.Folder(), Path("sub\\deeper"));
  list.ApplyPath(Path("sub\\x.bmp"));
  EXPECT_EQ(list.Folder(), Path("sub"));
  EXPECT_EQ(list.FileName(), "x.bmp");
}

TEST_F(FileListApplyPath, ARelativeFolderIsTakenRelativeToTheListsFolder) {
  MakeDir("a");
  MakeDir("a\\sub");
  MakeDir("b");
  MakeDir("b\\sub");
  TFileListBox list(nullptr);
  list.SetFolder(Path("a"));
  ASSERT_TRUE(platform::SetCurrentDir(Path("b")));  // someone else moved the current directory
  list.SetFolder("sub");
  EXPECT_EQ(list.Folder(), Path("a\\sub"));
  EXPECT_EQ(platform::GetCurrentDir(), Path("a\\sub"));
}

TEST_F(FileListApplyPath, SplitPathRestoresTheCurrentDirectory) {
  MakeDir("sub");
  MakeFiles("sub", {"x.bmp"});
  ASSERT_TRUE(platform::SetCurrentDir(Path()));
  TFileListBox::TPathParts p = TFileListBox::SplitPath(Path("sub\\x.bmp"));
  EXPECT_EQ(p.File, "x.bmp");
  EXPECT_EQ(p.Drive ? Format("%s:%s", {std::string(1, p.Drive), p.Folder}) : p.Folder, Path("sub"));
  EXPECT_EQ(platform::GetCurrentDir(), Path());
  p = TFileListBox::SplitPath(Path("sub\\*.bmp"));
  EXPECT_EQ(p.File, "*.bmp");
  EXPECT_THROW(TFileListBox::SplitPath(Path("none\\x.bmp")), EInOutError);
  EXPECT_EQ(platform::GetCurrentDir(), Path());
  p = TFileListBox::SplitPath("sub");
  EXPECT_EQ(p.File, "");
  EXPECT_TRUE(text::SameFileName(text::ExtractFileName(p.Folder), "sub"));
}

TEST_F(FileListApplyPath, AFolderNameWhoseTrailByteIsTheSeparatorStaysWhole) {
  ASSERT_EQ(kHyo, "\x95\x5C");
  const std::string hyo = MakeDir(kHyo);
  MakeFiles(kHyo, {"b.bmp", "a.bmp"});
  TFileListBox list(nullptr);
  list.ApplyPath(hyo + "\\");
  EXPECT_EQ(list.Folder(), hyo);
  EXPECT_EQ(Entries(list), (Names{"a.bmp", "b.bmp"}));
  list.ApplyPath(hyo + "\\b.bmp");
  EXPECT_EQ(list.FileName(), "b.bmp");
  EXPECT_EQ(list.FilePath(), hyo + "\\b.bmp");
  // And as the last part of a typed path without a separator after it.
  list.ApplyPath(Path() + "\\");
  list.ApplyPath(hyo);
  EXPECT_EQ(list.Folder(), hyo);
}

TEST_F(FileListApplyPath, ARemovedFileStaysListedUntilTheFolderIsReadAgain) {
  const std::string pics = MakeDir("pics");
  MakeFiles("pics", {"a.bmp", "b.bmp", "c.bmp"});
  MakeDir("other");
  TFileListBox list(nullptr);
  list.ApplyPath(pics + "\\");
  ASSERT_EQ(Entries(list), (Names{"a.bmp", "b.bmp", "c.bmp"}));
  RemoveFile("pics\\b.bmp");
  MakeFile("pics\\d.bmp");
  list.ApplyPath(pics + "\\");
  EXPECT_EQ(Entries(list), (Names{"a.bmp", "b.bmp", "c.bmp"}));
  list.ApplyPath(Path("other") + "\\");
  list.ApplyPath(pics + "\\");
  EXPECT_EQ(Entries(list), (Names{"a.bmp", "c.bmp", "d.bmp"}));
}

#ifndef _WIN32
TEST_F(FileListApplyPath, NamesDifferingOnlyInCaseAreBothListedInTheOrderFound) {
  MakeFiles("", {"b.bmp", "A.bmp", "a.bmp", "c.bmp"});
  // The order the file system reports the two equal keys in.
  Names found;
  platform::FileFinder finder(Path("*.bmp"));
  platform::FindEntry e;
  while (finder.Next(e))
    if (text::SameText(e.Name, "a.bmp")) found.push_back(e.Name);
  ASSERT_EQ(found.size(), 2u);
  TFileListBox list(nullptr);
  list.ApplyPath(Path("*.bmp"));
  EXPECT_EQ(Entries(list), (Names{found[0], found[1], "b.bmp", "c.bmp"}));
  // Exact search (the viewer's) tells them apart; the list's own search does not.
  list.SetFileName("a.bmp");
  EXPECT_TRUE(text::SameText(list.FileName(), "a.bmp"));
  EXPECT_EQ(list.ItemIndex(), 1);
}
#endif

}  // namespace
