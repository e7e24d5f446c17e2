#include "picture/filelist.h"

#include <algorithm>
#include <limits>
#include <new>
#include <vector>

#include "platform/cursor.h"
#include "platform/files.h"
#include "rtl/exceptions.h"
#include "rtl/format.h"
#include "rtl/messages.h"
#include "rtl/text.h"

namespace {

// The entry at this position (0-based) turns the busy cursor on.
constexpr size_t kBusyPosition = 100;
// Count and ItemIndex are signed 32-bit.
constexpr size_t kMaxEntries = static_cast<size_t>(std::numeric_limits<int32_t>::max());

[[noreturn]] void RaiseInOutError(int code) { throw EInOutError(InOutErrorMessage(code), code); }

bool HasWildcard(const std::string& s) {
  // "*" and "?" are below 0x40, so they are never the trail byte of a double-byte character.
  return s.find_first_of("*?") != std::string::npos;
}

// The drive part of a path: "X:", or "\\server\share" of a network path; else empty.
std::string DrivePart(const std::string& s) {
  if (s.size() >= 2 && s[1] == ':') return s.substr(0, 2);
  if (s.size() >= 2 && s[0] == '\\' && s[1] == '\\') {
    size_t p = 2;
    int separators = 0;
    while (p < s.size()) {
      if (!text::IsCharStart(s, p)) {
        ++p;
        continue;
      }
      if (s[p] == '\\' && ++separators == 2) break;
      ++p;
    }
    return s.substr(0, p);
  }
  return std::string();
}

bool EndsWithChar(const std::string& s, char c) {
  return !s.empty() && s.back() == c && text::IsCharStart(s, s.size() - 1);
}

// Makes a directory current again when the scope ends, if it still exists.
class CurrentDirKeeper {
 public:
  explicit CurrentDirKeeper(std::string dir) : dir_(std::move(dir)) {}
  ~CurrentDirKeeper() {
    if (platform::DirectoryExists(dir_)) platform::SetCurrentDir(dir_);
  }
  CurrentDirKeeper(const CurrentDirKeeper&) = delete;
  CurrentDirKeeper& operator=(const CurrentDirKeeper&) = delete;
  const std::string& Dir() const { return dir_; }

 private:
  std::string dir_;
};

// A reading collects every accepted entry and sorts them once: inserting them one at a time at
// their sorted positions would move O(n^2) strings in a large folder.  The order is exactly
// the one that inserting each entry after the entries already listed that compare equal to it
// gives, because a stable sort keeps equal keys in the order the reading found them.  So the
// copies of a file that two patterns match stand next to each other, the first pattern's first,
// and names that differ only in letter case (possible natively) keep the file system's order.
void SortEntries(std::vector<std::string>& entries) {
  std::stable_sort(entries.begin(), entries.end(), [](const std::string& a, const std::string& b) {
    return text::AnsiCompareText(a, b) < 0;
  });
}

}  // namespace

std::string InOutErrorMessage(int code) {
  switch (code) {
    case 2:
      return msg::kFileNotFound;
    case 3:
      return msg::kInvalidFilename;
    case 4:
      return msg::kTooManyOpenFiles;
    case 5:
      return msg::kAccessDenied;
    case 100:
      return msg::kEndOfFile;
    case 101:
      return msg::kDiskFull;
    case 106:
      return msg::kInvalidInput;
    default:
      return Format(msg::kInOutError, {code});
  }
}

uint32_t TFileType::AttributeBits() const {
  static constexpr uint32_t kBits[] = {platform::faReadOnly, platform::faHidden,    platform::faSysFile,
                                       platform::faVolumeID, platform::faDirectory, platform::faArchive};
  uint32_t out = 0;
  for (int a = ftReadOnly; a <= ftArchive; ++a)
    if (Contains(static_cast<TFileAttr>(a))) out |= kBits[a];
  return out;
}

TEdit::~TEdit() {
  if (list_) list_->edit_ = nullptr;
}

void TEdit::SetText(const std::string& text) {
  text_ = text;
  sel_start_ = sel_length_ = 0;
}

void TEdit::SelectAll() {
  sel_start_ = 0;
  sel_length_ = static_cast<int>(text_.size());
}

TFileListBox::TFileListBox(TComponent* owner) : TComponent(owner), folder_(platform::GetCurrentDir()) {}

TFileListBox::~TFileListBox() {
  if (edit_) edit_->list_ = nullptr;
}

void TFileListBox::SetMask(const std::string& mask) {
  if (mask == mask_) return;
  std::string previous = mask_;
  mask_ = mask;
  try {
    if (read_) ReadFileNames();
  } catch (const EInOutError&) {
    mask_ = previous;  // the folder could not be made current: nothing was read
    throw;
  }
}

void TFileListBox::SetFileType(TFileType type) {
  if (type == file_type_) return;
  TFileType previous = file_type_;
  file_type_ = type;
  try {
    if (read_) ReadFileNames();
  } catch (const EInOutError&) {
    file_type_ = previous;
    throw;
  }
}

void TFileListBox::SetFolder(const std::string& folder) {
  if (text::SameFileName(folder, folder_)) return;
  // A relative new folder is taken relative to the current one.
  if (platform::DirectoryExists(folder_)) platform::SetCurrentDir(folder_);
  if (!platform::SetCurrentDir(folder)) RaiseInOutError(platform::LastError());
  folder_ = platform::GetCurrentDir();
  if (read_) ReadFileNames();
}

void TFileListBox::EnsureRead() {
  if (!read_) ReadFileNames();
}

void TFileListBox::ReadFileNames() {
  read_ = true;
  const uint32_t attributes = file_type_.AttributeBits();
  if (!platform::SetCurrentDir(folder_)) RaiseInOutError(platform::LastError());
  items_.Clear();
  item_index_ = -1;

  // Hidden, system, volume-label and folder entries are skipped unless asked for; with
  // ftNormal every other entry is taken, else only those that have an asked-for attribute.
  const uint32_t skipped =
      (platform::faHidden | platform::faSysFile | platform::faVolumeID | platform::faDirectory) & ~attributes;
  const bool any = file_type_.Contains(ftNormal);
  std::vector<std::string> found;
  bool out_of_room = false;
  {
    platform::CursorKeeper cursor;
    try {
      size_t start = 0;
      while (start <= mask_.size() && !out_of_room) {
        size_t end = mask_.find(';', start);
        if (end == std::string::npos) end = mask_.size();
        const std::string pattern = mask_.substr(start, end - start);
        start = end + 1;
        if (pattern.empty()) continue;  // an empty pattern matches nothing
        // The Windows search also matches a file's short alternative name ("page.html" is
        // "PAGE~1.HTM" for "*.htm"); the list goes by the names it shows, as natively.
        const std::string name_pattern = text::ExtractFileName(pattern);
        platform::FileFinder finder(pattern);
        platform::FindEntry entry;
        while (finder.Next(entry)) {
          if (!platform::MatchesWildcard(entry.Name, name_pattern)) continue;
          if (entry.Attributes & skipped) continue;
          if (!any && !(entry.Attributes & attributes)) continue;
          if (found.size() >= kMaxEntries) {
            out_of_room = true;
            break;
          }
          found.push_back(entry.Attributes & platform::faDirectory ? Format("[%s]", {entry.Name})
                                                                   : entry.Name);
          // The busy cursor marks a large folder: it comes on with the entry that takes
          // position 100 (the 101st) and stays until the reading ends.  Counting found entries
          // rather than watching where each would be inserted makes this independent of the
          // order in which the file system reports names.
          if (found.size() == kBusyPosition + 1) cursor.Busy();
        }
      }
    } catch (const std::bad_alloc&) {
      out_of_room = true;
    }
    // The entries read so far stay, also when one could not be added.
    SortEntries(found);
    items_.MutableItems().swap(found);
    if (out_of_room) throw EOutOfResources(msg::kInsertLineError);
  }
  Change();
}

void TFileListBox::Change() {
  last_selection_ = item_index_;
  MirrorToEdit();
  if (OnChange) OnChange(this);
}

void TFileListBox::MirrorToEdit() {
  if (!edit_) return;
  std::string name = FileName();
  edit_->SetText(name.empty() ? mask_ : name);
  edit_->SelectAll();
}

void TFileListBox::SetFileEdit(TEdit* edit) {
  if (edit == edit_) return;
  if (edit_) edit_->list_ = nullptr;
  if (edit && edit->list_) edit->list_->edit_ = nullptr;
  edit_ = edit;
  if (edit_) {
    edit_->list_ = this;
    MirrorToEdit();
  }
}

const TStringList& TFileListBox::Items() {
  EnsureRead();
  return items_;
}

int32_t TFileListBox::Count() {
  EnsureRead();
  return items_.Count();
}

int32_t TFileListBox::ItemIndex() {
  EnsureRead();
  return item_index_;
}

void TFileListBox::SetItemIndex(int32_t index) {
  EnsureRead();
  // Like a list control's selection: a position outside the entries selects nothing.
  item_index_ = index >= 0 && index < items_.Count() ? index : -1;
}

std::string TFileListBox::FileName() {
  // Before the first reading nothing can be selected; asking does not read the folder.
  if (item_index_ >= 0 && item_index_ < items_.Count()) return items_[item_index_];
  return std::string();
}

void TFileListBox::SetFileName(const std::string& name) {
  if (text::SameFileName(name, FileName())) return;
  EnsureRead();
  // The search starts at the second entry and ends with the first.
  const int32_t n = items_.Count();
  int32_t found = -1;
  for (int32_t k = 1; k <= n && found < 0; ++k) {
    const int32_t i = k % n;
    if (text::SameText(items_[i], name)) found = i;
  }
  item_index_ = found;
  Change();
}

std::string TFileListBox::FilePath() {
  std::string name = FileName();
  if (name.empty()) return std::string();
  return text::HasTrailingPathDelimiter(folder_) ? folder_ + name : folder_ + "\\" + name;
}

void TFileListBox::Click() {
  if (ItemIndex() != last_selection_) Change();
}

TFileListBox::TPathParts TFileListBox::SplitPath(const std::string& path) {
  CurrentDirKeeper keep(platform::GetCurrentDir());
  const std::string saved_drive = DrivePart(keep.Dir());
  TPathParts out;
  // Only a real drive letter counts: a current directory without one (a network share, or
  // natively "\tmp") gives none rather than its first character.
  out.Drive = saved_drive.size() == 2 && saved_drive[1] == ':' ? saved_drive[0] : '\0';
  out.Folder = path;
  std::string root;
  if (path.size() >= 2 && path.front() == '[' && EndsWithChar(path, ']')) {
    out.Folder = path.substr(1, path.size() - 2);  // an entry of a folder, as the list shows it
  } else {
    root = DrivePart(path);
    if (!root.empty())
      out.Folder.erase(0, root.size());
    else
      root = saved_drive;
    out.Drive = root.size() >= 2 && root[1] == ':' ? root[0] : '\0';
  }
  if (!root.empty() && platform::DirectoryExists(root)) platform::SetCurrentDir(root);

  out.File = text::ExtractFileName(out.Folder);
  if (out.Folder.size() == out.File.size() + 1) {
    out.Folder = "\\";
  } else if (out.Folder.size() > out.File.size()) {
    out.Folder.erase(out.Folder.size() - out.File.size() - 1);
  } else {
    std::string cwd = platform::GetCurrentDir();
    cwd.erase(0, DrivePart(cwd).size());
    out.Folder = cwd.empty() ? "\\" : cwd;
  }
  if (!out.Folder.empty() && !platform::SetCurrentDir(out.Folder)) RaiseInOutError(platform::LastError());

  // A plain name that is no file is taken for a sub-folder.
  if (!out.File.empty() && !HasWildcard(out.File) && !platform::FileExists(out.File)) {
    if (!platform::SetCurrentDir(out.File)) RaiseInOutError(platform::LastError());
    out.Folder = out.Folder == "\\" ? "\\" + out.File : out.Folder + "\\" + out.File;
    out.File.clear();
  }
  if (!out.Drive) out.Folder = root + out.Folder;
  return out;
}

void TFileListBox::ApplyPath(const std::string& path) {
  if (path.empty() || text::SameFileName(path, FilePath())) return;
  const TPathParts parts = SplitPath(path);
  SetFolder(parts.Drive ? Format("%s:%s", {std::string(1, parts.Drive), parts.Folder}) : parts.Folder);
  if (HasWildcard(parts.File)) {
    SetMask(parts.File);
  } else if (!parts.File.empty()) {
    SetFileName(parts.File);
    if (!platform::FileExists(parts.File))
      throw EInvalidOperation(FormatMixed(msg::kInvalidFileName, {path}));
    if (FileName().empty()) {  // the mask hides the file: list just that name
      SetMask(parts.File);
      SetFileName(parts.File);
    }
  }
}
