// The folder file list: the names of the files of one folder that match a set of wildcard
// patterns, kept sorted, with one selected entry.  The viewer keeps one, never shown, and walks
// its entries for the next and previous picture, so the rules for which names appear, their
// order and when the folder is read again decide what the user steps through.
#ifndef KORVALE_PICTURE_FILELIST_H
#define KORVALE_PICTURE_FILELIST_H

#include <cstdint>
#include <initializer_list>
#include <string>

#include "rtl/classes.h"

enum TFileAttr { ftReadOnly, ftHidden, ftSystem, ftVolumeID, ftDirectory, ftArchive, ftNormal };

// A set of TFileAttr.
class TFileType {
 public:
  TFileType() = default;
  TFileType(std::initializer_list<TFileAttr> members) {
    for (TFileAttr a : members) Include(a);
  }
  bool Contains(TFileAttr a) const { return (bits_ >> a) & 1u; }
  void Include(TFileAttr a) { bits_ = static_cast<uint8_t>(bits_ | (1u << a)); }
  void Exclude(TFileAttr a) { bits_ = static_cast<uint8_t>(bits_ & ~(1u << a)); }
  bool operator==(const TFileType& o) const { return bits_ == o.bits_; }
  bool operator!=(const TFileType& o) const { return bits_ != o.bits_; }
  // The file attribute bits of the members other than ftNormal.
  uint32_t AttributeBits() const;

 private:
  uint8_t bits_ = 0;
};

class TFileListBox;

// The message of EInOutError for a system error code.
std::string InOutErrorMessage(int code);

// A text-edit field that a list can mirror its selected name into.  The portable model holds
// the text and its selection; a window control may derive from it.  Destroying a linked edit
// clears the list's link.
class TEdit : public TComponent {
 public:
  explicit TEdit(TComponent* owner) : TComponent(owner) {}
  ~TEdit() override;
  const std::string& Text() const { return text_; }
  virtual void SetText(const std::string& text);
  virtual void SelectAll();
  int SelStart() const { return sel_start_; }
  int SelLength() const { return sel_length_; }

 private:
  friend class TFileListBox;

  // The message of EInOutError for a system error code.
  std::string InOutErrorMessage(int code);
  std::string text_;
  int sel_start_ = 0;
  int sel_length_ = 0;
  TFileListBox* list_ = nullptr;
};

class TFileListBox : public TComponent {
 public:
  // The parts of a typed path (SplitPath): a drive letter (0 for none), a folder and a file part.
  struct TPathParts {
    char Drive = 0;
    std::string Folder;
    std::string File;
  };

  explicit TFileListBox(TComponent* owner);
  ~TFileListBox() override;

  const std::string& Mask() const { return mask_; }
  void SetMask(const std::string& mask);
  TFileType FileType() const { return file_type_; }
  void SetFileType(TFileType type);
  const std::string& Folder() const { return folder_; }
  void SetFolder(const std::string& folder);

  // Takes a typed path naming a folder, a folder with a mask, or a file.
  void ApplyPath(const std::string& path);
  // Splits a typed path; changes the process's current directory while it works and restores
  // it at the end, also after a failure.
  static TPathParts SplitPath(const std::string& path);

  // The entries in sorted order; the first use of any of these reads the folder.
  const TStringList& Items();
  int32_t Count();
  int32_t ItemIndex();
  void SetItemIndex(int32_t index);

  std::string FileName();
  void SetFileName(const std::string& name);
  std::string FilePath();

  // A click of the user: runs the selection-change handling when the selection moved.
  void Click();

  TNotifyEvent OnChange;
  bool ShowGlyphs = false;
  bool MultiSelect = false;
  int Width = 145;
  TEdit* FileEdit() const { return edit_; }
  void SetFileEdit(TEdit* edit);

 private:
  friend class TEdit;
  void EnsureRead();
  void ReadFileNames();
  void Change();
  void MirrorToEdit();

  std::string mask_ = "*.*";
  TFileType file_type_{ftNormal};
  std::string folder_;
  TStringList items_;
  int32_t item_index_ = -1;
  int32_t last_selection_ = -1;
  bool read_ = false;
  TEdit* edit_ = nullptr;
};

#endif
