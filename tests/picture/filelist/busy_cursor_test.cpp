// The busy cursor of a large folder, and a reading that runs out of memory.
#include <algorithm>
#include <cstdio>

#include "alloc_failure.h"
#include "folder_fixture.h"
#include "platform/cursor.h"
#include "rtl/exceptions.h"
#include "rtl/messages.h"
#include "rtl/text.h"

#ifdef _WIN32
#include <windows.h>
#endif

namespace {

class FileListBusyCursor : public FolderFixture {
 protected:
  // `count` files with names long enough to live on the heap.
  std::string MakeNumbered(const std::string& folder, int count) {
    MakeDir(folder);
    for (int i = 0; i < count; ++i) {
      char name[64];
      std::snprintf(name, sizeof name, "%s\\picture-number-%05d.bmp", folder.c_str(), (i * 37) % count);
      MakeFile(name);
    }
    return Path(folder);
  }
};

bool Sorted(const Names& names) {
  return std::is_sorted(names.begin(), names.end(), [](const std::string& a, const std::string& b) {
    return text::AnsiCompareText(a, b) < 0;
  });
}

#ifndef _WIN32
using platform::CursorCall;

// The kinds of the calls, in order, and the cursor the last call showed.
std::vector<int> Kinds(const std::vector<CursorCall>& log) {
  std::vector<int> out;
  for (const CursorCall& c : log) out.push_back(c.What);
  return out;
}

TEST_F(FileListBusyCursor, ComesOnWithTheEntryAtPosition100AndGoesOffAfterTheReading) {
  const std::string hundred = MakeNumbered("hundred", 100);
  const std::string more = MakeNumbered("more", 101);
  TFileListBox list(nullptr);
  list.SetFolder(hundred);
  platform::TakeCursorLog();
  ASSERT_EQ(list.Count(), 100);
  std::vector<CursorCall> log = platform::TakeCursorLog();
  EXPECT_EQ(Kinds(log), (std::vector<int>{CursorCall::kCurrent, CursorCall::kRestore}));

  list.SetFolder(more);
  ASSERT_EQ(list.Count(), 101);
  log = platform::TakeCursorLog();
  ASSERT_EQ(Kinds(log), (std::vector<int>{CursorCall::kCurrent, CursorCall::kBusy, CursorCall::kRestore}));
  EXPECT_EQ(log[1].Cursor, platform::BusyCursorTag());
  EXPECT_EQ(log[2].Cursor, log[0].Cursor);  // the remembered cursor is shown again
  EXPECT_NE(log[0].Cursor, platform::BusyCursorTag());
}

TEST_F(FileListBusyCursor, IsRestoredWhenTheReadingFails) {
  const std::string many = MakeNumbered("many", 300);
  TFileListBox list(nullptr);
  list.SetFolder(many);
  platform::TakeCursorLog();
  // The collected names outgrow room for 256 entries after the busy cursor came on.
  FailNextAllocationOfAtLeast(257 * sizeof(std::string));
  try {
    list.Count();
    ADD_FAILURE() << "no exception";
  } catch (const EOutOfResources& e) {
    EXPECT_EQ(e.Message(), msg::kInsertLineError);
  }
  DisarmAllocationFailure();
  ASSERT_TRUE(AllocationFailureFired());
  const std::vector<CursorCall> log = platform::TakeCursorLog();
  ASSERT_EQ(Kinds(log), (std::vector<int>{CursorCall::kCurrent, CursorCall::kBusy, CursorCall::kRestore}));
  EXPECT_EQ(log[2].Cursor, log[0].Cursor);
  // The entries read so far stay, in order, and nothing is selected.
  EXPECT_GT(list.Count(), 100);
  EXPECT_LT(list.Count(), 300);
  EXPECT_TRUE(Sorted(Entries(list)));
  EXPECT_EQ(list.ItemIndex(), -1);
}
#else
// On Windows the thread's cursor is observable only before and after the reading.
TEST_F(FileListBusyCursor, TheCursorBeforeTheReadingIsShownAfterIt) {
  const std::string many = MakeNumbered("many", 300);
  HCURSOR cross = ::LoadCursor(nullptr, IDC_CROSS);
  ::SetCursor(cross);
  if (::GetCursor() != cross) GTEST_SKIP() << "no cursor on this desktop";
  TFileListBox list(nullptr);
  list.SetFolder(many);
  ASSERT_EQ(list.Count(), 300);
  EXPECT_EQ(::GetCursor(), cross);

  FailNextAllocationOfAtLeast(257 * sizeof(std::string));
  EXPECT_THROW(list.SetMask("*.BMP"), EOutOfResources);
  DisarmAllocationFailure();
  EXPECT_EQ(::GetCursor(), cross);
  EXPECT_TRUE(Sorted(Entries(list)));
}
#endif

}  // namespace
