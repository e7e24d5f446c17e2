// The selection, the selected name and its path, and the linked edit field.
#include "folder_fixture.h"
#include "rtl/exceptions.h"
#include "rtl/format.h"
#include "rtl/messages.h"

namespace {

class FileListSelection : public FolderFixture {
 protected:
  void Read(TFileListBox& list, const std::string& folder, const std::string& mask = "*.*") {
    list.SetMask(mask);
    list.SetFolder(folder);
    list.OnChange = [this](TObject* sender) {
      EXPECT_NE(sender, nullptr);
      ++changes;
    };
    ASSERT_GE(list.Count(), 0);
    changes = 0;
  }
  int changes = 0;
};

void ExpectIndexError(TFileListBox& list, int index) {
  try {
    (void)list.Items()[index];
    ADD_FAILURE() << "no index error for " << index;
  } catch (const EStringListError& e) {
    EXPECT_EQ(e.Message(), Format(msg::kListIndexError, {index}));
  }
}

TEST_F(FileListSelection, AnEmptyFolderSelectsNothingAndReportsTheIndex) {
  TFileListBox list(nullptr);
  Read(list, MakeDir("empty"));
  EXPECT_EQ(list.Count(), 0);
  EXPECT_EQ(list.ItemIndex(), -1);
  list.SetItemIndex(0);
  EXPECT_EQ(list.ItemIndex(), -1);
  list.SetItemIndex(-1);
  EXPECT_EQ(list.ItemIndex(), -1);
  ExpectIndexError(list, -1);
  ExpectIndexError(list, 0);
  EXPECT_EQ(list.FileName(), "");
  EXPECT_EQ(list.FilePath(), "");
}

TEST_F(FileListSelection, IndexSelectsWithinTheEntriesOnly) {
  TFileListBox list(nullptr);
  Read(list, MakeFiles("", {"c", "a", "b"}));
  ASSERT_EQ(Entries(list), (Names{"a", "b", "c"}));
  EXPECT_EQ(list.ItemIndex(), -1);
  list.SetItemIndex(2);
  EXPECT_EQ(list.FileName(), "c");
  EXPECT_EQ(list.FilePath(), Path("c"));
  list.SetItemIndex(-1);
  EXPECT_EQ(list.FileName(), "");
  list.SetItemIndex(3);  // outside the entries: nothing selected
  EXPECT_EQ(list.ItemIndex(), -1);
  ExpectIndexError(list, 3);
  EXPECT_EQ(changes, 0);
}

TEST_F(FileListSelection, OneEntry) {
  TFileListBox list(nullptr);
  Read(list, MakeFiles("", {"only.bmp"}), "*.bmp");
  ASSERT_EQ(list.Count(), 1);
  EXPECT_EQ(list.Items()[0], "only.bmp");
  list.SetItemIndex(0);
  EXPECT_EQ(list.FileName(), "only.bmp");
  ExpectIndexError(list, 1);
}

TEST_F(FileListSelection, FileNameSelectsWithoutRegardToCaseFromTheSecondEntry) {
  TFileListBox list(nullptr);
  // Two patterns list a.bmp twice: the search starts at the second entry, so it finds the copy.
  Read(list, MakeFiles("", {"a.bmp", "b.bmp", "c.jpg"}), "*.bmp;a*");
  ASSERT_EQ(Entries(list), (Names{"a.bmp", "a.bmp", "b.bmp"}));
  list.SetFileName("A.BMP");
  EXPECT_EQ(list.ItemIndex(), 1);
  EXPECT_EQ(changes, 1);
  list.SetFileName("a.bmp");  // the same name under the file-name comparison: nothing happens
  EXPECT_EQ(changes, 1);
  list.SetFileName("B.bmp");
  EXPECT_EQ(list.ItemIndex(), 2);
  EXPECT_EQ(list.FileName(), "b.bmp");
  list.SetFileName("c.jpg");  // not listed
  EXPECT_EQ(list.ItemIndex(), -1);
  EXPECT_EQ(changes, 3);
}

TEST_F(FileListSelection, TheFirstEntryIsFoundLast) {
  TFileListBox list(nullptr);
  Read(list, MakeFiles("", {"a", "b"}));
  list.SetFileName("A");
  EXPECT_EQ(list.ItemIndex(), 0);
}

TEST_F(FileListSelection, FilePathAddsNoSecondSeparator) {
  TFileListBox list(nullptr);
  list.SetFileType({ftDirectory});
  list.SetMask("*");
  list.ApplyPath(Path().substr(0, Path().find('\\') + 1));  // the root folder lists folders
  const std::string root = list.Folder();
  ASSERT_EQ(root.back(), '\\');
  ASSERT_GT(list.Count(), 0);
  list.SetItemIndex(0);
  EXPECT_EQ(list.FilePath(), root + list.Items()[0]);
  EXPECT_EQ(list.FileName().front(), '[');
}

TEST_F(FileListSelection, AClickRunsTheChangeHandlingOnlyWhenTheSelectionMoved) {
  TFileListBox list(nullptr);
  Read(list, MakeFiles("", {"a", "b"}));
  list.Click();
  EXPECT_EQ(changes, 0);
  list.SetItemIndex(1);
  list.Click();
  EXPECT_EQ(changes, 1);
  list.Click();
  EXPECT_EQ(changes, 1);
}

TEST_F(FileListSelection, TheLinkedEditMirrorsTheNameOrTheMask) {
  TFileListBox list(nullptr);
  Read(list, MakeFiles("", {"a.bmp", "b.bmp"}), "*.bmp");
  TEdit edit(nullptr);
  list.SetFileEdit(&edit);
  EXPECT_EQ(edit.Text(), "*.bmp");
  list.SetFileName("b.bmp");
  EXPECT_EQ(edit.Text(), "b.bmp");
  EXPECT_EQ(edit.SelStart(), 0);
  EXPECT_EQ(edit.SelLength(), 5);
  list.SetMask("*.BMP");  // a reading clears the selection
  EXPECT_EQ(edit.Text(), "*.BMP");
  EXPECT_EQ(edit.SelLength(), 5);
}

TEST_F(FileListSelection, DestroyingTheEditClearsTheLink) {
  TFileListBox list(nullptr);
  Read(list, MakeFiles("", {"a.bmp"}));
  {
    TEdit edit(nullptr);
    list.SetFileEdit(&edit);
    EXPECT_EQ(list.FileEdit(), &edit);
  }
  EXPECT_EQ(list.FileEdit(), nullptr);
  list.SetFileName("a.bmp");  // must not touch the destroyed edit
  EXPECT_EQ(list.ItemIndex(), 0);

  TEdit survivor(nullptr);
  {
    TFileListBox other(nullptr);
    other.SetFileEdit(&survivor);
    list.SetFileEdit(&survivor);  // moving the link takes it from the other list
    EXPECT_EQ(other.FileEdit(), nullptr);
  }
  EXPECT_EQ(list.FileEdit(), &survivor);
}

}  // namespace
