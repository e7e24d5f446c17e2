#include "rtl/format.h"

#include <gtest/gtest.h>

#include "rtl/classes.h"
#include "rtl/exceptions.h"
#include "rtl/messages.h"

TEST(Format, FillsDirectivesInOrder) {
  EXPECT_EQ(Format("%s:%d", {"a.spi", 42}), "a.spi:42");
  EXPECT_EQ(Format("100%% %s", {"x"}), "100% x");
  EXPECT_EQ(Format("%d", {-1}), "-1");
  // A directive without an argument stays as written instead of reading past the list.
  EXPECT_EQ(Format("%s and %s", {"one"}), "one and %s");
}

TEST(Format, PointerIsUpperHexOfPointerWidth) {
  std::string p = Format("%p", {reinterpret_cast<const void*>(0xABCDEF)});
  EXPECT_EQ(p.size(), sizeof(void*) * 2);
  EXPECT_EQ(p.substr(p.size() - 6), "ABCDEF");
}

TEST(StringList, IndexErrorCarriesTheIndex) {
  TStringList list;
  list.Add("a");
  list.Add("b");
  EXPECT_EQ(list[1], "b");
  try {
    (void)list[-1];
    FAIL() << "no exception";
  } catch (const EStringListError& e) {
    EXPECT_EQ(e.Message(), Format(msg::kListIndexError, {-1}));
    EXPECT_STREQ(e.ClassName(), "EStringListError");
  }
  EXPECT_THROW(list.Delete(2), EStringListError);
  list.Insert(0, "z");
  EXPECT_EQ(list.IndexOf("a"), 1);
  EXPECT_EQ(list.IndexOf("A"), -1);
}

TEST(Messages, AreShiftJisBytes) {
  // "ビ" is 0x83 0x72 in Shift-JIS; the build converts the UTF-8 sources.
  const std::string m = msg::kInvalidBitmap;
  ASSERT_GE(m.size(), 2u);
  EXPECT_EQ(static_cast<unsigned char>(m[0]), 0x83);
  EXPECT_EQ(static_cast<unsigned char>(m[1]), 0x72);
}
