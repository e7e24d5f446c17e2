// The pages of a book: which entries an archive listing gives become pages, their order, and
// stepping through them up to the ends, where the folder list takes over.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "picture/book.h"

namespace {

TEST(BookTest, PagesArePictureEntriesInFolderOrderAndStepsStopAtTheEnds) {
  // "\x95\x5C" is a double-byte character whose trail byte is "\": the entry named with it is
  // a file at the top, not one in a folder "\x95".
  const std::vector<std::string> entries = {"02\\01.bmp",
                                            "notes.txt",
                                            "01\\02.BMP",
                                            "01\\01.bmp",
                                            "01\\sub\\00.bmp",
                                            "cover.ico",
                                            "01/03.bmp",
                                            "01\\",
                                            "\x95\x5C"
                                            "b.bmp",
                                            "readme",
                                            "1.bmp.zip"};
  TBook book("C:\\books\\b.zip", entries);
  // Files of a folder before its subfolders, folders by name, letter case aside; "/" is a
  // separator too.
  EXPECT_EQ(book.Pages(), (std::vector<std::string>{"cover.ico",
                                                    "\x95\x5C"
                                                    "b.bmp",
                                                    "01\\01.bmp", "01\\02.BMP", "01/03.bmp",
                                                    "01\\sub\\00.bmp", "02\\01.bmp"}));
  book.Enter(1);
  EXPECT_EQ(book.Page(), "cover.ico");
  EXPECT_FALSE(book.Step(-1));
  EXPECT_EQ(book.Index(), 0);
  EXPECT_EQ(book.PageAt(-1), "");
  EXPECT_EQ(book.PageAt(3), "01\\02.BMP");
  book.Enter(-1);  // entered backwards: the last page
  EXPECT_EQ(book.Page(), "02\\01.bmp");
  EXPECT_FALSE(book.Step(1));
  EXPECT_TRUE(book.Step(-1));
  EXPECT_EQ(book.Page(), "01\\sub\\00.bmp");
  EXPECT_TRUE(book.OpenAt("01\\02.bmp"));
  EXPECT_EQ(book.Index(), 3);
  EXPECT_FALSE(book.OpenAt("01\\04.bmp"));

  const TBook none("C:\\books\\empty.zip", {"a.txt", "dir\\", ""});
  EXPECT_TRUE(none.Empty());
  EXPECT_EQ(none.Page(), "");
}

}  // namespace
