// Which names a reading lists and in what order.
#include "folder_fixture.h"
#include "platform/files.h"
#include "rtl/exceptions.h"
#include "rtl/messages.h"
#include "rtl/text.h"

namespace {

class FileListReading : public FolderFixture {
 protected:
  // A list of the scratch root with `mask`, not read yet.
  void Open(TFileListBox& list, const std::string& mask) {
    list.SetFolder(Path());
    list.SetMask(mask);
    list.OnChange = [this](TObject*) { ++readings_or_changes; };
  }
  int readings_or_changes = 0;
};

TEST_F(FileListReading, DefaultsListEveryPlainFileButNoHiddenFileOrFolder) {
  MakeFiles("", {"a.bmp", "noext", "z.txt"});
  MakeHiddenFile(".secret");
  MakeReadOnlyFile("ro.jpg");
  MakeDir("sub");
  TFileListBox list(nullptr);
  EXPECT_EQ(list.Mask(), "*.*");
  EXPECT_TRUE(list.FileType() == TFileType{ftNormal});
  list.SetFolder(Path());
  EXPECT_EQ(Entries(list), (Names{"a.bmp", "noext", "ro.jpg", "z.txt"}));
  EXPECT_EQ(list.Count(), 4);
  EXPECT_EQ(list.Folder(), Path());
  // A reading leaves the list's folder current.
  EXPECT_TRUE(text::SameFileName(platform::GetCurrentDir(), Path()));
}

TEST_F(FileListReading, PatternsInOrderEntriesSortedWithoutRegardToCase) {
  MakeFiles("", {"B.jpg", "a.bmp", "c.JPG", "d.png"});
  TFileListBox list(nullptr);
  Open(list, "*.bmp;*.jpg");
  EXPECT_EQ(Entries(list), (Names{"a.bmp", "B.jpg", "c.JPG"}));
  // The order of the patterns does not change the order of the entries.
  list.SetMask("*.jpg;*.bmp");
  EXPECT_EQ(Entries(list), (Names{"a.bmp", "B.jpg", "c.JPG"}));
}

TEST_F(FileListReading, AFileTwoPatternsMatchIsListedTwiceSideBySide) {
  MakeFiles("", {"b.bmp", "a.bmp", "a.txt", "c.bmp"});
  TFileListBox list(nullptr);
  Open(list, "*.bmp;*.bmp");
  EXPECT_EQ(Entries(list), (Names{"a.bmp", "a.bmp", "b.bmp", "b.bmp", "c.bmp", "c.bmp"}));
  list.SetMask("*.bmp;a*");
  EXPECT_EQ(Entries(list), (Names{"a.bmp", "a.bmp", "a.txt", "b.bmp", "c.bmp"}));
}

TEST_F(FileListReading, DigitsCompareAsCharacters) {
  MakeFiles("", {"img2.jpg", "img10.jpg", "IMG1.jpg"});
  TFileListBox list(nullptr);
  Open(list, "*.jpg");
  EXPECT_EQ(Entries(list), (Names{"IMG1.jpg", "img10.jpg", "img2.jpg"}));
}

TEST_F(FileListReading, ALongExtensionIsNotMatchedThroughAShortName) {
  // Windows may also match a pattern against a file's short alternative name, where
  // "page.html" is "PAGE~1.HTM"; the list goes by the names it shows.
  MakeFiles("", {"page.html", "a.htm", "long-name-picture.jpeg"});
  TFileListBox list(nullptr);
  Open(list, "*.htm;*.jpe");
  EXPECT_EQ(Entries(list), (Names{"a.htm"}));
}

TEST_F(FileListReading, AQuestionMarkStandsForOneCharacterAlsoADoubleByteOne) {
  MakeFiles("", {"表.bmp", "a.bmp", "ab.bmp"});
  TFileListBox list(nullptr);
  Open(list, "?.bmp");
  EXPECT_EQ(Entries(list), (Names{"a.bmp", "表.bmp"}));
}

TEST_F(FileListReading, EmptyPatternsMatchNothing) {
  MakeFiles("", {"a.bmp", "b.jpg"});
  TFileListBox list(nullptr);
  Open(list, ";;");
  EXPECT_EQ(list.Count(), 0);
  list.SetMask(";*.bmp;");
  EXPECT_EQ(Entries(list), (Names{"a.bmp"}));
  list.SetMask("");
  EXPECT_EQ(list.Count(), 0);
}

TEST_F(FileListReading, FileTypeSelectsByAttribute) {
  MakeFiles("", {"a.bmp", "b.bmp"});
  MakeHiddenFile(".h.bmp");
  MakeDir("sub");
  MakeDir("Other");
  TFileListBox list(nullptr);
  Open(list, "*");
  list.SetFileType({ftDirectory});  // without ftNormal only folders share the attribute
  EXPECT_EQ(Entries(list), (Names{"[Other]", "[sub]"}));
  list.SetFileType({ftNormal, ftDirectory});
  EXPECT_EQ(Entries(list), (Names{"[Other]", "[sub]", "a.bmp", "b.bmp"}));
  list.SetFileType({ftNormal, ftHidden});
  EXPECT_EQ(Entries(list), (Names{".h.bmp", "a.bmp", "b.bmp"}));
  list.SetFileType({ftHidden});
  EXPECT_EQ(Entries(list), (Names{".h.bmp"}));
  // Plain files carry the archive attribute; hidden ones are still skipped.
  list.SetFileType({ftArchive});
  EXPECT_EQ(Entries(list), (Names{"a.bmp", "b.bmp"}));
}

TEST_F(FileListReading, ReadOnlyFilesAreListedAndCanBeSelectedAlone) {
  MakeFile("w.bmp");
  if (!MakeReadOnlyFile("r.bmp")) GTEST_SKIP() << "read-only files are writable for this user";
  TFileListBox list(nullptr);
  Open(list, "*.bmp");
  EXPECT_EQ(Entries(list), (Names{"r.bmp", "w.bmp"}));
  list.SetFileType({ftReadOnly});
  EXPECT_EQ(Entries(list), (Names{"r.bmp"}));
}

TEST_F(FileListReading, SystemFilesOnlyWhenAskedFor) {
  MakeFile("a.bmp");
  if (!MakeSystemFile("s.bmp")) GTEST_SKIP() << "the file system keeps no system attribute";
  TFileListBox list(nullptr);
  Open(list, "*.bmp");
  EXPECT_EQ(Entries(list), (Names{"a.bmp"}));
  list.SetFileType({ftNormal, ftSystem});
  EXPECT_EQ(Entries(list), (Names{"a.bmp", "s.bmp"}));
}

TEST_F(FileListReading, ChangesBeforeFirstUseAreOnlyStored) {
  MakeFiles("", {"a.bmp", "b.jpg"});
  MakeDir("other");
  MakeFiles("other", {"x.bmp"});
  TFileListBox list(nullptr);
  list.OnChange = [this](TObject*) { ++readings_or_changes; };
  list.SetMask("*.jpg");
  list.SetFolder(Path());
  list.SetMask("*.bmp");
  list.SetFolder(Path("other"));
  EXPECT_EQ(readings_or_changes, 0);
  EXPECT_EQ(Entries(list), (Names{"x.bmp"}));  // first use: one reading with the values now
  EXPECT_EQ(readings_or_changes, 1);
  list.SetFolder(Path());
  EXPECT_EQ(readings_or_changes, 2);  // in use: a change reads at once
  EXPECT_EQ(Entries(list), (Names{"a.bmp"}));
}

TEST_F(FileListReading, EveryReadingClearsTheSelectionAndFiresOnChange) {
  MakeFiles("", {"a.bmp", "b.bmp", "c.jpg"});
  TFileListBox list(nullptr);
  Open(list, "*.bmp");
  ASSERT_EQ(list.Count(), 2);
  EXPECT_EQ(readings_or_changes, 1);
  list.SetItemIndex(1);
  EXPECT_EQ(readings_or_changes, 1);  // setting the index from code fires nothing
  list.SetMask("*.bmp");
  EXPECT_EQ(list.ItemIndex(), 1);  // the same text: not read again
  list.SetMask("*.BMP");
  EXPECT_EQ(readings_or_changes, 2);
  EXPECT_EQ(list.ItemIndex(), -1);
  list.SetFileType({ftNormal});  // unchanged
  EXPECT_EQ(readings_or_changes, 2);
}

TEST_F(FileListReading, AFolderThatCannotBeMadeCurrentKeepsEverything) {
  MakeFiles("", {"a.bmp"});
  const std::string gone = MakeDir("gone");
  TFileListBox list(nullptr);
  Open(list, "*.bmp");
  list.SetFolder(gone);
  ASSERT_EQ(list.Count(), 0);
  list.SetFolder(Path());
  ASSERT_EQ(list.Count(), 1);
  list.SetItemIndex(0);
  try {
    list.SetFolder(Path("missing"));
    ADD_FAILURE() << "no exception";
  } catch (const EInOutError& e) {
    EXPECT_EQ(e.ErrorCode(), 2);
    EXPECT_EQ(e.Message(), msg::kFileNotFound);
  }
  EXPECT_EQ(list.Folder(), Path());
  EXPECT_EQ(Entries(list), (Names{"a.bmp"}));
  EXPECT_EQ(list.ItemIndex(), 0);

  // A folder removed under the list: the mask change that would read it keeps the old mask.
  list.SetFolder(gone);
  platform::SetCurrentDir(Path());
  RemoveDir("gone");
  EXPECT_THROW(list.SetMask("*.jpg"), EInOutError);
  EXPECT_EQ(list.Mask(), "*.bmp");
  EXPECT_THROW(list.SetFileType({ftNormal, ftHidden}), EInOutError);
  EXPECT_TRUE(list.FileType() == TFileType{ftNormal});
}

TEST(InOutErrorMessages, BySystemErrorCode) {
  EXPECT_EQ(InOutErrorMessage(2), msg::kFileNotFound);
  EXPECT_EQ(InOutErrorMessage(3), msg::kInvalidFilename);
  EXPECT_EQ(InOutErrorMessage(4), msg::kTooManyOpenFiles);
  EXPECT_EQ(InOutErrorMessage(5), msg::kAccessDenied);
  EXPECT_EQ(InOutErrorMessage(100), msg::kEndOfFile);
  EXPECT_EQ(InOutErrorMessage(101), msg::kDiskFull);
  EXPECT_EQ(InOutErrorMessage(106), msg::kInvalidInput);
  EXPECT_EQ(InOutErrorMessage(112), "I/O エラー (112)");
  EXPECT_EQ(InOutErrorMessage(-1), "I/O エラー (-1)");
}

}  // namespace
