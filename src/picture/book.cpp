#include "picture/book.h"

#include <algorithm>

#include "picture/picture.h"
#include "rtl/text.h"

namespace {

// The folder names and the file name of an entry, split at "\" (at the start of a character:
// 0x5C may be the trail byte of a double-byte one) and at "/", which some archive plug-ins keep.
std::vector<std::string> Parts(const std::string& name) {
  std::vector<std::string> parts;
  size_t from = 0;
  for (size_t i = 0; i < name.size(); ++i) {
    if ((name[i] == '\\' || name[i] == '/') && text::IsCharStart(name, i)) {
      if (i > from) parts.push_back(name.substr(from, i - from));
      from = i + 1;
    }
  }
  parts.push_back(name.substr(from));
  return parts;
}

}  // namespace

TBook::TBook(std::string archive, const std::vector<std::string>& entries) : archive_(std::move(archive)) {
  for (const std::string& e : entries)
    if (IsPicture(e)) pages_.push_back(e);
  std::stable_sort(pages_.begin(), pages_.end(), Before);
}

const std::string& TBook::Page() const {
  static const std::string none;
  return pages_.empty() ? none : pages_[static_cast<size_t>(index_)];
}

void TBook::Enter(int32_t direction) { index_ = direction < 0 && !pages_.empty() ? Count() - 1 : 0; }

bool TBook::OpenAt(const std::string& entry) {
  for (size_t i = 0; i < pages_.size(); ++i) {
    if (text::AnsiCompareText(pages_[i], entry) == 0) {
      index_ = static_cast<int32_t>(i);
      return true;
    }
  }
  return false;
}

bool TBook::Step(int32_t direction) {
  const int32_t next = index_ + (direction < 0 ? -1 : 1);
  if (next < 0 || next >= Count()) return false;
  index_ = next;
  return true;
}

std::string TBook::PageAt(int32_t offset) const {
  const int64_t at = int64_t{index_} + offset;
  if (at < 0 || at >= Count()) return std::string();
  return pages_[static_cast<size_t>(at)];
}

bool TBook::IsPicture(const std::string& entry) {
  const std::string file = text::ExtractFileName(entry);
  const std::string ext = text::ExtractFileExt(file);
  if (file.empty() || ext.size() < 2) return false;
  return FileFormats().FindByExtension(text::AnsiLowerCase(ext.substr(1))) != nullptr;
}

bool TBook::Before(const std::string& a, const std::string& b) {
  const std::vector<std::string> pa = Parts(a), pb = Parts(b);
  // Folder by folder; where one entry's folders end first, its file comes first.
  for (size_t i = 0; i < pa.size() && i < pb.size(); ++i) {
    const bool lastA = i + 1 == pa.size(), lastB = i + 1 == pb.size();
    if (lastA != lastB) return lastA;
    const int c = text::AnsiCompareText(pa[i], pb[i]);
    if (c != 0) return c < 0;
  }
  return pa.size() < pb.size();
}
