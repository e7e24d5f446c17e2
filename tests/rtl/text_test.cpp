#include "rtl/text.h"

#include <gtest/gtest.h>

// "表" is 0x95 0x5C in Shift-JIS: its trail byte is the backslash.
static const std::string kHyo = "\x95\x5C";

TEST(PathSplitting, TrailByteIsNoSeparator) {
  const std::string folder = "C:\\" + kHyo + "\\";
  EXPECT_EQ(text::ExtractFilePath(folder + "a.bmp"), folder);
  EXPECT_EQ(text::ExtractFileName(folder + "a.bmp"), "a.bmp");
  EXPECT_EQ(text::ExtractFileName("C:\\x\\" + kHyo), kHyo);
  EXPECT_EQ(text::LastDelimiter("\\", "ab" + kHyo), -1);
  EXPECT_FALSE(text::HasTrailingPathDelimiter("C:\\" + kHyo));
  EXPECT_EQ(text::IncludeTrailingPathDelimiter("C:\\" + kHyo), "C:\\" + kHyo + "\\");
}

TEST(PathSplitting, ExtensionRules) {
  EXPECT_EQ(text::ExtractFileExt("a\\b.c\\photo"), "");
  EXPECT_EQ(text::ExtractFileExt("archive.tar.gz"), ".gz");
  EXPECT_EQ(text::ExtractFileExt("C:name"), "");
  EXPECT_EQ(text::ExtractFileExt("x.JPG"), ".JPG");
  EXPECT_EQ(text::ExtractFilePath("C:a.bmp"), "C:");
  EXPECT_EQ(text::ExtractFileDir("C:\\pics\\a.bmp"), "C:\\pics");
  EXPECT_EQ(text::ExtractFileDir("C:\\a.bmp"), "C:\\");
}

TEST(Case, AsciiOnlyFoldingKeepsDoubleByteCharacters) {
  // 0x82 0x60 is a full-width "Ａ"; its trail byte 0x60 must not be touched, and "A" after a
  // lead byte whose trail is 0x41 ("ア" is 0x83 0x41) stays too.
  const std::string a = "\x83\x41" "A";
  EXPECT_EQ(text::LowerCaseAscii(a), "\x83\x41" "a");
  EXPECT_EQ(text::UpperCaseAscii("photo.bmp"), "PHOTO.BMP");
  EXPECT_TRUE(text::SameFileName("C:\\PICS\\", "c:\\pics\\"));
  EXPECT_FALSE(text::SameFileName("a", "ab"));
  EXPECT_LT(text::AnsiCompareText("img10.jpg", "IMG2.jpg"), 0);
}
