// An archive opened through the Susie archive plug-ins: the plug-ins are asked in the plug-in
// set's order (those declaring the file's extension first, as for pictures), and the first whose
// IsSupported accepts the file lists its entries.  A page is read through that plug-in into
// memory only (never written to a file) and decoded from there, as a file of the entry's name
// would be.
#ifndef KORVALE_GRAPHICS_ARCHIVE_H
#define KORVALE_GRAPHICS_ARCHIVE_H

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "picture/graphic.h"
#include "platform/files.h"
#include "plugins/spi.h"
#include "rtl/exceptions.h"
#include "runner/archive_entries.h"

namespace msg {
// The archive holds no entry that a picture format opens: the archive's path.
inline constexpr const char kArchiveNoPictures[] = "書庫 %s には表示できる画像がありません";
// The accepting plug-in could not list the archive: the plug-in's file name, its result.
inline constexpr const char kArchiveUnreadable[] = "%s:Susie Pluginは書庫を読み込めませんでした (エラー %s)";
// An entry could not be taken out: the plug-in's file name, the entry, the result.
inline constexpr const char kArchiveEntryUnreadable[] =
    "%s:Susie Pluginは書庫の中の %s を取り出せませんでした (エラー %s)";
// An entry larger than a picture may be: the entry.
inline constexpr const char kArchiveEntryTooLarge[] = "書庫の中の %s は大きすぎるため読み込めません";
// No archive plug-in takes the file: its path.
inline constexpr const char kNotAnArchive[] = "%s は書庫として開けません";
// No entry of that name: the entry.
inline constexpr const char kArchiveEntryMissing[] = "書庫の中に %s はありません";
}  // namespace msg

// An archive that cannot be listed, a page that cannot be taken out or decoded.
KOR_DECLARE_EXCEPTION(EArchiveError, EInvalidGraphic);

class TArchive {
 public:
  // The archive `fileName` as the first archive plug-in accepting it lists it; null when no
  // archive plug-in accepts it.  A plug-in that accepts it but cannot list it raises
  // EArchiveError; one that faulted while none accepted raises ESPIPluginFault; a wait the
  // person abandoned raises EAbort.
  static std::shared_ptr<TArchive> Open(const std::string& fileName);

  const std::string& FileName() const { return fileName_; }
  // The file as it was when it was listed.
  const platform::FileStamp& Stamp() const { return stamp_; }
  // The plug-in that listed it.
  const TAmSPI& Plugin() const { return *plugin_; }
  // The names of every entry, in the plug-in's order.
  std::vector<std::string> EntryNames() const;
  // Whether the listing was cut (records past their block or past the most entries taken).
  bool Cut() const { return cut_; }

  // The bytes of `entry`, at most `limit` of them (EArchiveError otherwise, before anything of
  // that size is made).  Any thread may ask.
  std::vector<uint8_t> Extract(const std::string& entry, uint64_t limit) const;
  // The page `entry` decoded from its bytes by the class registered for its extension, with
  // `listener` hearing the load's progress.
  std::unique_ptr<TGraphic> LoadPage(const std::string& entry, uint64_t limit,
                                     const TProgressEvent& listener = nullptr) const;

  // A page as the preparer and the window name it: the archive's path, a NUL (never part of a
  // path or an entry name), the entry's name.
  static std::string PageKey(const std::string& archive, const std::string& entry);
  // Splits a page key; false for a plain file name.
  static bool SplitPageKey(const std::string& key, std::string& archive, std::string& entry);

 private:
  TArchive() = default;
  const spirun::ArchiveEntry* Find(const std::string& entry) const;

  std::string fileName_;
  platform::FileStamp stamp_;
  TAmSPI* plugin_ = nullptr;  // a module of the plug-in set, which outlives every archive
  std::vector<spirun::ArchiveEntry> entries_;
  std::map<std::string, size_t> byName_;  // entry name -> index, the first of a repeated name
  bool cut_ = false;
};

#endif
