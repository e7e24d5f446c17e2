// A book: the pages of one archive and where stepping through them leaves the reader.  Its
// pages are the entries that a picture format of the registry opens (by extension, as a file in
// the folder), in the order the folder list sorts names, folder by folder: an entry's folder path
// counts first, so "01\02.png" comes after "01\01.png" and before "02\01.png".  A step goes page
// by page; a step past either end leaves the book, and the folder list takes it.
#ifndef KORVALE_PICTURE_BOOK_H
#define KORVALE_PICTURE_BOOK_H

#include <cstdint>
#include <string>
#include <vector>

class TBook {
 public:
  TBook() = default;
  // The book of `archive` (its path) over the entry names an archive plug-in listed.
  TBook(std::string archive, const std::vector<std::string>& entries);

  const std::string& Archive() const { return archive_; }
  const std::vector<std::string>& Pages() const { return pages_; }
  int32_t Count() const { return static_cast<int32_t>(pages_.size()); }
  bool Empty() const { return pages_.empty(); }
  int32_t Index() const { return index_; }
  // The entry name of the page the book is open at; empty for a book with no pages.
  const std::string& Page() const;
  // Opens at the first page, or at the last one for a book entered backwards (direction < 0).
  void Enter(int32_t direction);
  // Opens at the page `entry` (compared as the folder list compares names); false when the book
  // has no such page.
  bool OpenAt(const std::string& entry);
  // One page in `direction` (1 or -1): false, and the book left where it was, when the step
  // would leave it.
  bool Step(int32_t direction);
  // The page `offset` pages away from the open one; empty when that lies outside the book.
  std::string PageAt(int32_t offset) const;

  // Whether an entry is a page: a picture format is registered for its extension.
  static bool IsPicture(const std::string& entry);
  // The pages' order: folder names first, each folder level compared as the folder list
  // compares names; a file of a folder comes before its subfolders' files.
  static bool Before(const std::string& a, const std::string& b);

 private:
  std::string archive_;
  std::vector<std::string> pages_;
  int32_t index_ = 0;
};

#endif
